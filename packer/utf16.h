// UTF-8 (manifest, terminal) to UTF-16LE (package strings) and back.
#pragma once
#include <string>

// Input must be valid UTF-8 (toml++ guarantees it for strings it returns).
std::u16string Utf8ToUtf16(const std::string& text);
// Unpaired surrogates become U+FFFD.
std::string Utf16ToUtf8(const std::u16string& text);
