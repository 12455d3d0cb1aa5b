# Tried by measurement (patched_stub.py / profile_stub.py --patch): when the
# folder changes, CreateParentDirs makes only the levels that the previous
# folder did not already have, and no longer probes the file first. The
# install run then asks for each directory once (about one CreateDirectoryW
# per folder of the package) instead of once per level at every change of
# folder, plus a probe of the not yet existing file.
path = src / "install" / "install_run_win32.cpp"
text = path.read_text()
old = """// Makes the directories of the relative name, outermost first.
void CreateParentDirs(WChar* path, uint32_t namePosition) {
  if (GetFileAttributesW(W(path)) != INVALID_FILE_ATTRIBUTES) return;
  for (WChar* p = path + namePosition; *p; ++p) {
    if (*p != u'\\\\') continue;
    *p = 0;
    CreateDirectoryW(W(path), nullptr);
    *p = u'\\\\';
  }
}"""
new = """// The folder (with its final backslash) whose directories were made last.
WChar MadeFolder[PATH_CAPACITY];

// Makes the directories of the relative name, outermost first; the levels it
// shares with the folder made last exist already.
void CreateParentDirs(WChar* path, uint32_t namePosition) {
  uint32_t start = namePosition;
  for (uint32_t i = namePosition; path[i] && path[i] == MadeFolder[i]; ++i)
    if (path[i] == u'\\\\') start = i + 1;
  uint32_t folderEnd = start;
  for (uint32_t i = start; path[i]; ++i) {
    if (path[i] != u'\\\\') continue;
    path[i] = 0;
    CreateDirectoryW(W(path), nullptr);
    path[i] = u'\\\\';
    folderEnd = i + 1;
  }
  for (uint32_t i = 0; i < folderEnd; ++i) MadeFolder[i] = path[i];
  MadeFolder[folderEnd] = 0;
}"""
assert text.count(old) == 1, "CreateParentDirs changed"
path.write_text(text.replace(old, new))
