#include "startup/command_tail.h"

namespace {
bool IsBlank(char c) { return static_cast<signed char>(c) <= 0x20 && c != 0; }
bool IsWideBlank(WChar c) { return c <= 0x20 && c != 0; }

// True when text starts with name (upper-case ASCII) in any case.
bool StartsWithName(const WChar* text, const char* name) {
  for (; *name; ++text, ++name) {
    WChar c = *text >= u'a' && *text <= u'z' ? static_cast<WChar>(*text - 0x20) : *text;
    if (c != static_cast<WChar>(*name)) return false;
  }
  return true;
}

// Copies text[0, length) to dest; empty when it is empty or does not fit.
void TakeValue(WChar* dest, const WChar* text, uint32_t length) {
  dest[0] = 0;
  if (length == 0 || length >= PATH_CAPACITY) return;
  for (uint32_t i = 0; i < length; ++i) dest[i] = text[i];
  dest[length] = 0;
}
}  // namespace

const char* FindCommandTail(const char* p) {
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p && !IsBlank(*p)) ++p;
  }
  while (IsBlank(*p)) ++p;
  return p;
}

bool IsSilentSwitch(const char* tail) {
  return (tail[0] == '-' || tail[0] == '/') && (tail[1] == 's' || tail[1] == 'S');
}

void ParseCommandOptions(const WChar* p, CommandOptions* out) {
  out->DirGiven = out->LogGiven = out->SuppressMessageBoxes = false;
  out->Dir[0] = out->LogPath[0] = 0;
  if (*p == u'"') {
    ++p;
    while (*p && *p != u'"') ++p;
    if (*p) ++p;
  } else {
    while (*p && !IsWideBlank(*p)) ++p;
  }
  for (;;) {
    while (IsWideBlank(*p)) ++p;
    if (!*p) return;
    // Callers that quote every argument with a blank write "/D=C:\a b".
    bool quotedName = *p == u'"';
    if (StartsWithName(p + quotedName, "/D=")) {
      // As NSIS reads it: the rest of the line, blanks included.
      const WChar* value = p + 3 + quotedName;
      uint32_t length = WideLength(value);
      while (length && IsWideBlank(value[length - 1])) --length;
      if (quotedName && length && value[length - 1] == u'"') --length;
      if (length >= 2 && value[0] == u'"' && value[length - 1] == u'"') {
        ++value;
        length -= 2;
      }
      out->DirGiven = true;
      TakeValue(out->Dir, value, length);
      return;
    }
    WChar token[PATH_CAPACITY + 8];
    uint32_t length = 0;
    bool quoted = false;
    for (; *p && (quoted || !IsWideBlank(*p)); ++p) {
      if (*p == u'"') {
        quoted = !quoted;
      } else if (length < PATH_CAPACITY + 7) {
        token[length++] = *p;
      } else {
        length = PATH_CAPACITY + 7;  // too long for any value: refused below
      }
    }
    token[length] = 0;
    if (StartsWithName(token, "/LOG=")) {
      out->LogGiven = true;
      TakeValue(out->LogPath, token + 5, length - 5);
    } else if (StartsWithName(token, "/SUPPRESSMSGBOXES") && length == 17) {
      out->SuppressMessageBoxes = true;
    }
  }
}
