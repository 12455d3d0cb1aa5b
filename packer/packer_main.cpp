// packer: builds setup files from a product folder and a manifest, and
// shows what a setup file holds.
#include <iostream>
#include <string>
#include <vector>

#include "packer/commands.h"

#ifdef _WIN32
#include <windows.h>

// Called by the C runtime (-municode), like main.
int wmain(int argc, wchar_t** argv);

// The command line as UTF-16, turned into the UTF-8 the packer's paths are
// in: the ANSI form would have lost every character outside its code page.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    int size = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
    std::string arg(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, arg.data(), size, nullptr, nullptr);
    arg.resize(arg.size() - 1);
    args.push_back(arg);
  }
  return RunPacker(args, std::cout, std::cerr);
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunPacker(args, std::cout, std::cerr);
}
#endif
