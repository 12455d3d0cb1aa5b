// packer: builds setup files from a product folder and a manifest, and
// shows what a setup file holds.
#include <iostream>
#include <string>
#include <vector>

#include "packer/commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return RunPacker(args, std::cout, std::cerr);
}
