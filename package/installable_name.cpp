#include "package/installable_name.h"

namespace {

bool IsSeparator(unsigned char c) { return c == '\\' || c == '/'; }

bool IsReservedCharacter(unsigned char c) {
  return c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*';
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool StartsWith3(const char* text, const char* word) {
  return Upper(text[0]) == word[0] && Upper(text[1]) == word[1] && Upper(text[2]) == word[2];
}

// Superscript one, two and three: Windows takes COM¹ like COM1. In the ANSI
// code pages that have them they are these bytes of Windows-1252.
bool IsSuperscriptDigit(const unsigned char* c, uint32_t n, bool utf8) {
  if (utf8) return n == 2 && c[0] == 0xC2 && (c[1] == 0xB9 || c[1] == 0xB2 || c[1] == 0xB3);
  return n == 1 && (c[0] == 0xB9 || c[0] == 0xB2 || c[0] == 0xB3);
}

// The device names hold for the part before the first dot, blanks at its
// end ignored as Windows ignores them: "nul .txt" opens the device too.
bool IsDeviceName(const char* component, uint32_t n, bool utf8) {
  uint32_t base = 0;
  while (base < n && component[base] != '.') ++base;
  while (base > 0 && component[base - 1] == ' ') --base;
  if (base < 3) return false;
  if (base == 3)
    return StartsWith3(component, "CON") || StartsWith3(component, "PRN") || StartsWith3(component, "AUX") ||
           StartsWith3(component, "NUL");
  if (!StartsWith3(component, "COM") && !StartsWith3(component, "LPT")) return false;
  const unsigned char* digit = reinterpret_cast<const unsigned char*>(component + 3);
  if (base == 4 && digit[0] >= '1' && digit[0] <= '9') return true;
  return IsSuperscriptDigit(digit, base - 3, utf8);
}

}  // namespace

uint32_t Utf8SequenceLength(const char* text) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  uint32_t n, least, point;
  if (s[0] < 0x80) return 1;
  if (s[0] >= 0xC2 && s[0] <= 0xDF) n = 2, least = 0x80, point = s[0] & 0x1Fu;
  else if ((s[0] & 0xF0) == 0xE0) n = 3, least = 0x800, point = s[0] & 0x0Fu;
  else if (s[0] >= 0xF0 && s[0] <= 0xF4) n = 4, least = 0x10000, point = s[0] & 0x07u;
  else return 0;
  // A terminator is no continuation byte, so the loop never reads past it.
  for (uint32_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
    point = point << 6 | (s[i] & 0x3Fu);
  }
  if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
  return n;
}

NameProblem CheckInstallableName(const char* name, bool utf8) {
  if (name[0] == 0) return NAME_EMPTY;
  if (IsSeparator(name[0])) return NAME_LEADING_SEPARATOR;
  const char* component = name;
  for (const char* c = name;;) {
    unsigned char b = static_cast<unsigned char>(*c);
    if (b == 0 || IsSeparator(b)) {
      uint32_t n = static_cast<uint32_t>(c - component);
      if (n == 0) return NAME_EMPTY_COMPONENT;
      if ((n == 1 && component[0] == '.') || (n == 2 && component[0] == '.' && component[1] == '.'))
        return NAME_DOT_COMPONENT;
      if (component[n - 1] == '.' || component[n - 1] == ' ') return NAME_TRAILING_DOT_OR_SPACE;
      if (IsDeviceName(component, n, utf8)) return NAME_DEVICE;
      if (b == 0) return NAME_OK;
      component = ++c;
      continue;
    }
    if (b == ':') return NAME_COLON;
    if (b < 0x20) return NAME_CONTROL_CHARACTER;
    if (IsReservedCharacter(b)) return NAME_RESERVED_CHARACTER;
    uint32_t length = utf8 ? Utf8SequenceLength(c) : 1;
    if (length == 0) return NAME_INVALID_UTF8;
    c += length;
  }
}
