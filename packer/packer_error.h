// The one error type of the packer: where the problem is (file, line, key)
// and what it is. The command line prints it as
// "error: <file>:<line>: <key>: <problem>" and exits with 2.
#pragma once
#include <stdexcept>
#include <string>

struct PackerError : std::runtime_error {
  PackerError(std::string file, int line, std::string key, std::string problem);
  // Without a position: for errors that belong to no manifest line.
  PackerError(std::string file, std::string key, std::string problem)
      : PackerError(std::move(file), 0, std::move(key), std::move(problem)) {}

  std::string File;
  int Line;  // 0: none
  std::string Key;
  std::string Problem;
};
