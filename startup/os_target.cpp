#include "startup/os_target.h"

namespace {

bool IsLetter(WChar c) { return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z'); }
bool IsSchemeChar(WChar c) { return IsLetter(c) || (c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.'; }

}  // namespace

bool IsAbsoluteTarget(const WChar* target) {
  if (!target) return false;
  // \\server\share; not \\?\ or \\.\, which name devices as well.
  if (target[0] == u'\\')
    return target[1] == u'\\' && target[2] && target[2] != u'\\' && target[2] != u'?' && target[2] != u'.';
  if (!IsLetter(target[0])) return false;
  if (target[1] == u':') return target[2] == u'\\';
  uint32_t i = 1;
  while (IsSchemeChar(target[i])) ++i;
  return target[i] == u':' && target[i + 1] != 0;
}
