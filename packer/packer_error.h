// The one error type of the packer: where the problem is (file, line, key)
// and what it is. The command line prints it as
// "error: <file>:<line>: <key>: <problem>" and exits with 2.
#pragma once
#include <stdexcept>
#include <string>
#include <vector>

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

// The value after the option at args[*at], which *at then points to; a
// command-line error when the option is the last word.
inline const std::string& OptionValue(const std::vector<std::string>& args, size_t* at) {
  if (*at + 1 >= args.size()) throw PackerError("command line", args[*at], "needs a value");
  return args[++*at];
}
