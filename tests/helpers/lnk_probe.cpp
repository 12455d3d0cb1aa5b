// Reads a shell link back through IShellLinkW for the Wine tests.
//   lnk_probe.exe LINK
// Prints one line each: target, arguments, workdir, icon (path TAB index),
// each as NAME<TAB>value. Exit 1 when the link cannot be loaded.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <stdio.h>

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) return 2;
  CoInitialize(nullptr);
  IShellLinkW* link = nullptr;
  if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                              reinterpret_cast<void**>(&link))))
    return 1;
  IPersistFile* file = nullptr;
  if (FAILED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) return 1;
  if (FAILED(file->Load(argv[1], STGM_READ))) {
    wprintf(L"noload\n");
    return 1;
  }
  static wchar_t text[4096];
  text[0] = 0;
  link->GetPath(text, 4096, nullptr, SLGP_RAWPATH);
  wprintf(L"target\t%ls\n", text);
  text[0] = 0;
  link->GetArguments(text, 4096);
  wprintf(L"arguments\t%ls\n", text);
  text[0] = 0;
  link->GetWorkingDirectory(text, 4096);
  wprintf(L"workdir\t%ls\n", text);
  text[0] = 0;
  int index = -1;
  link->GetIconLocation(text, 4096, &index);
  wprintf(L"icon\t%ls\t%d\n", text, index);
  file->Release();
  link->Release();
  return 0;
}
