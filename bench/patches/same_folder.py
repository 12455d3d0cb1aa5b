# Tried by measurement (profile_stub.py / patched_stub.py --patch): the
# install run asks for a name's directories only when its folder differs
# from the previous name's. The packer writes names sorted, so a folder's
# files follow each other, and each folder's directories are made once
# instead of once per file (a probe of the file plus one CreateDirectoryW
# per level). Same directories, same files; the state is one pointer.
path = src / "install" / "install_run_win32.cpp"
text = path.read_text()

helper_anchor = "// Makes the directories of the relative name, outermost first."
helper = """// Whether two package names lie in the same folder (the same text up to
// and including the last backslash).
bool SameFolder(const char* a, const char* b) {
  uint32_t folderA = 0, folderB = 0;
  for (uint32_t i = 0; a[i]; ++i)
    if (a[i] == '\\\\') folderA = i + 1;
  for (uint32_t i = 0; b[i]; ++i)
    if (b[i] == '\\\\') folderB = i + 1;
  if (folderA != folderB) return false;
  for (uint32_t i = 0; i < folderA; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

"""
call_old = "    CreateParentDirs(path, namePosition);\n"
call_new = """    // The previous name's directories exist already when it shares the folder.
    if (!previous || !SameFolder(previous, name)) CreateParentDirs(path, namePosition);
    previous = name;
"""
loop_old = "  for (uint32_t i = 0; i < Package.Header->FileCount; ++i) {\n"
loop_new = "  const char* previous = nullptr;\n" + loop_old
for old in (helper_anchor, call_old, loop_old):
    assert text.count(old) == 1, "install run changed: " + old.strip()
text = text.replace(helper_anchor, helper + helper_anchor)
text = text.replace(call_old, call_new).replace(loop_old, loop_new)
path.write_text(text)
