# Tried by measurement (profile_stub.py --patch): CreateParentDirs creates
# only the levels that the previous name did not already create, and no
# longer probes the file first. Same directories, same order, same results
# for the files; a directory made once is not asked for again.
path = src / "install" / "install_run_win32.cpp"
text = path.read_text()
old = """void CreateParentDirs(WChar* path, uint32_t namePosition) {
  if (GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES) return;
  for (WChar* p = path + namePosition; *p; ++p) {
    if (*p != u'\\\\') continue;
    *p = 0;
    CreateDirectoryW(W(path), nullptr);
    *p = u'\\\\';
  }
}"""
new = """WChar MadeDirs[PATH_CAPACITY];  // the previous name's directories, made already

void CreateParentDirs(WChar* path, uint32_t namePosition) {
  uint32_t made = namePosition;
  for (uint32_t i = namePosition; path[i] && path[i] == MadeDirs[i]; ++i)
    if (path[i] == u'\\\\') made = i + 1;
  uint32_t end = made;
  for (uint32_t i = made; path[i]; ++i) {
    if (path[i] != u'\\\\') continue;
    path[i] = 0;
    CreateDirectoryW(W(path), nullptr);
    path[i] = u'\\\\';
    end = i + 1;
  }
  for (uint32_t i = 0; i < end; ++i) MadeDirs[i] = path[i];
  MadeDirs[end] = 0;
}"""
assert text.count(old) == 1, "CreateParentDirs changed"
path.write_text(text.replace(old, new))
