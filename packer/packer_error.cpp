#include "packer/packer_error.h"

namespace {

std::string Describe(const std::string& file, int line, const std::string& key,
                     const std::string& problem) {
  std::string text = "error: " + file;
  if (line > 0) text += ":" + std::to_string(line);
  if (!key.empty()) text += ": " + key;
  return text + ": " + problem;
}

}  // namespace

PackerError::PackerError(std::string file, int line, std::string key, std::string problem)
    : std::runtime_error(Describe(file, line, key, problem)),
      File(std::move(file)),
      Line(line),
      Key(std::move(key)),
      Problem(std::move(problem)) {}
