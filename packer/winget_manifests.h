// The packer's winget command: the version, installer and default-locale
// manifests (schema 1.10.0) that let winget install a setup file.
#pragma once
#include <ostream>
#include <string>
#include <vector>

struct WingetRequest {
  std::string SetupFile, Url, Id, Description, OutputDir = ".";
  std::string License = "Proprietary";
};

// Parses the arguments after "winget"; throws PackerError on a bad option,
// a missing --url or one that is not https.
WingetRequest ParseWingetArguments(const std::vector<std::string>& args);

// Writes <id>.yaml, <id>.installer.yaml and <id>.locale.en-US.yaml into
// request.OutputDir (made when missing) and names them on out; warnings go
// to err. Throws PackerError when the file holds no valid package (or one
// the stub refuses) or its strings do not fit the schema.
void WriteWingetManifests(const WingetRequest& request, std::ostream& out, std::ostream& err);

// text (UTF-8) as a YAML double-quoted scalar.
std::string YamlQuoted(const std::string& text);
