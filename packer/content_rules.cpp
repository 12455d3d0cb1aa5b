#include "packer/content_rules.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "base/text_capacities.h"
#include "base/wide_text.h"
#include "package/installable_name.h"
#include "packer/quoted_text.h"

namespace {

const char kInvalidInFileName[] = "<>:\"/\\|?*";

// Formatted length as the stub's FormatText computes it, with room to spare
// so that a text over the limit shows as such instead of being cut.
uint32_t FormattedLength(const std::u16string& format, const std::u16string& argument) {
  std::vector<WChar> out(format.size() + argument.size() + 4096);
  FormatArg arg = TextArg(argument.c_str());
  return FormatText(out.data(), static_cast<uint32_t>(out.size()), format.c_str(), &arg, 1);
}

// "" when the formatted text fits a buffer of capacity characters with its
// terminator, otherwise by how much it does not.
std::string FitsBuffer(uint32_t length, uint32_t capacity, const std::string& with) {
  if (length < capacity) return "";
  return "is " + std::to_string(length) + " characters long when formatted with " + with + "; at most " +
         std::to_string(capacity - 1) + " fit";
}

// UTF-16 units of a valid UTF-8 text: two for a character above U+FFFF.
size_t Utf16Length(const std::string& text) {
  size_t units = 0;
  for (unsigned char c : text) {
    if ((c & 0xC0) != 0x80) ++units;
    if (c >= 0xF0) ++units;
  }
  return units;
}

}  // namespace

std::string CheckInstalledName(const std::string& name) {
  if (name.empty()) return "the installed name is empty";
  const std::string quoted = QuotedText(name);
  // Names are written as UTF-8 (PH_UTF8_NAMES) whenever one is not ASCII.
  switch (CheckInstallableName(name.c_str(), true)) {
    case NAME_OK: break;
    case NAME_EMPTY: return "the installed name is empty";
    case NAME_COLON: return "the installed name " + quoted + " contains ':' (a drive or a stream)";
    case NAME_RESERVED_CHARACTER:
      return "the installed name " + quoted + " contains a character that Windows does not allow in a file name";
    case NAME_CONTROL_CHARACTER: return "the installed name " + quoted + " contains a control character";
    case NAME_LEADING_SEPARATOR:
    case NAME_DOT_COMPONENT:
      return "the installed name " + quoted + " leaves the installation folder (leading separator, '.' or '..' component)";
    case NAME_EMPTY_COMPONENT: return "the installed name " + quoted + " has an empty component";
    case NAME_TRAILING_DOT_OR_SPACE:
      return "the installed name " + quoted + " has a component ending in a dot or a space, which Windows drops";
    case NAME_DEVICE:
      return "the installed name " + quoted + " has a component that Windows takes for a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9)";
    case NAME_INVALID_UTF8: return "the installed name " + quoted + " is not valid UTF-8";
  }
  // A Windows path holds 259 UTF-16 units and the folder takes at least "C:\".
  if (Utf16Length(name) > 256) return "the installed name is longer than 256 characters (UTF-16 units)";
  return "";
}

std::string CheckProductName(const std::u16string& name) {
  if (name.empty()) return "must not be empty";
  if (name.size() > MAX_PRODUCT_NAME)
    return "is " + std::to_string(name.size()) + " characters long; at most " +
           std::to_string(MAX_PRODUCT_NAME) + " fit the uninstall key";
  for (char16_t c : name) {
    // The name becomes a folder name and, cut to 8 bits per character, part
    // of a registry key path.
    char16_t low = c & 0xFF;
    if (c < 0x20 || (c < 0x80 && strchr(kInvalidInFileName, static_cast<char>(c))))
      return "contains a character that a folder name cannot hold";
    if (low < 0x20 || low == '\\') {
      char code[8];
      snprintf(code, sizeof code, "%04X", static_cast<unsigned>(c));
      return std::string("contains the character U+") + code +
             ", whose low 8 bits would break the uninstall key path";
    }
  }
  return "";
}

std::string CheckNameVersion(const std::u16string& name, const std::u16string& version) {
  // The blank between them and the terminator take two characters.
  const uint32_t limit = NAME_VERSION_TEXT_CAPACITY - 2;
  if (name.size() + version.size() > limit)
    return "the product name and version together are " + std::to_string(name.size() + version.size()) +
           " characters long; at most " + std::to_string(limit) + " fit the window title";
  return "";
}

std::string CheckNoNul(const std::u16string& text) {
  if (text.find(u'\0') != std::u16string::npos) return "must not contain NUL characters";
  return "";
}

std::string CheckLanguageText(TextId id, const std::u16string& text, const std::u16string& productName,
                              const std::u16string& productVersion) {
  std::string nul = CheckNoNul(text);
  if (!nul.empty()) return nul;
  switch (id) {
    case TXT_TITLE_FMT:
      return FitsBuffer(FormattedLength(text, productName + u" " + productVersion), TITLE_TEXT_CAPACITY,
                        "the product name and version");
    case TXT_LICENSE_SUBTITLE:
    case TXT_DEST_SUBTITLE_FMT:
    case TXT_INSTALLING_SUBTITLE_FMT:
    case TXT_FINISH_SUBTITLE:
      return FitsBuffer(FormattedLength(text, productName), SUBTITLE_TEXT_CAPACITY, "the product name");
    case TXT_LAUNCH_FMT:
      return FitsBuffer(FormattedLength(text, productName), LAUNCH_LABEL_CAPACITY, "the product name");
    case TXT_FOLDER_EXISTS_FMT:
      return FitsBuffer(FormattedLength(text, std::u16string(MAX_DIRECTORY_ARGUMENT, u'W')), MESSAGE_TEXT_CAPACITY,
                        "a folder path of " + std::to_string(MAX_DIRECTORY_ARGUMENT) + " characters");
    case TXT_APP_RUNNING_FMT:
      return FitsBuffer(FormattedLength(text, productName), MESSAGE_TEXT_CAPACITY, "the product name");
    case TXT_NEED_ADMIN:
      if (text.size() >= MESSAGE_TEXT_CAPACITY)
        return "is " + std::to_string(text.size()) + " characters long; at most " +
               std::to_string(MESSAGE_TEXT_CAPACITY - 1) + " fit a message";
      break;
    default:
      break;
  }
  return "";
}
