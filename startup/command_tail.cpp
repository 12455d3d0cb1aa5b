#include "startup/command_tail.h"

namespace {
bool IsBlank(char c) { return static_cast<signed char>(c) <= 0x20 && c != 0; }
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
