#include "install/target_checks.h"

namespace {

WChar FoldAscii(WChar c) { return c >= u'a' && c <= u'z' ? static_cast<WChar>(c - 32) : c; }

bool StartsWith(const WChar* text, const char* prefix) {
  for (; *prefix; ++prefix, ++text)
    if (*text != static_cast<WChar>(*prefix)) return false;
  return true;
}

uint32_t TrimmedLength(const WChar* text) {
  uint32_t n = WideLength(text);
  // "C:\" keeps its backslash: "C:" alone is a drive's current directory.
  if (n > 3 && text[n - 1] == u'\\') --n;
  return n;
}

bool EqualFolded(const WChar* a, uint32_t aLength, const WChar* b, uint32_t bLength) {
  if (aLength != bLength) return false;
  for (uint32_t i = 0; i < aLength; ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

uint32_t SidSize(const uint8_t* sid, uint32_t size) {
  if (size < 8 || sid[0] != 1) return 0;
  uint32_t needed = 8 + 4u * sid[1];
  return needed <= size ? needed : 0;
}

bool SidEqual(const uint8_t* a, uint32_t aSize, const uint8_t* b, uint32_t bSize) {
  uint32_t n = SidSize(a, aSize);
  if (n == 0 || n != SidSize(b, bSize)) return false;
  for (uint32_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}

// S-1-5-18, S-1-5-32-544 and S-1-5-80-956008885-3418522649-1831038044-
// 1853292631-2271478464, little-endian sub-authorities.
const uint8_t kSystem[] = {1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
const uint8_t kAdministrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
const uint8_t kTrustedInstaller[] = {1,    6,    0,    0,    0,    0,    0,    5,    80,   0,    0,    0,
                                     0xB5, 0x89, 0xFB, 0x38, 0x19, 0x84, 0xC2, 0xCB, 0x5C, 0x6C, 0x23, 0x6D,
                                     0x57, 0x00, 0x77, 0x6E, 0xC0, 0x02, 0x64, 0x87};

}  // namespace

bool IsSameFinalPath(const WChar* asked, const WChar* final) {
  WChar unc[2] = {u'\\', u'\\'};
  const WChar* rest = final;
  uint32_t uncPart = 0;
  if (StartsWith(final, "\\\\?\\UNC\\")) {
    rest = final + 8;
    uncPart = 2;
  } else if (StartsWith(final, "\\\\?\\")) {
    rest = final + 4;
  }
  uint32_t askedLength = TrimmedLength(asked);
  uint32_t restLength = TrimmedLength(rest);
  if (uncPart) {
    if (askedLength < 2 || !EqualFolded(asked, 2, unc, 2)) return false;
    return EqualFolded(asked + 2, askedLength - 2, rest, restLength);
  }
  return EqualFolded(asked, askedLength, rest, restLength);
}

bool IsAcceptedOwner(const uint8_t* owner, uint32_t ownerSize, const uint8_t* tokenUser, uint32_t tokenUserSize) {
  return SidEqual(owner, ownerSize, kSystem, sizeof kSystem) ||
         SidEqual(owner, ownerSize, kAdministrators, sizeof kAdministrators) ||
         SidEqual(owner, ownerSize, kTrustedInstaller, sizeof kTrustedInstaller) ||
         (tokenUser && SidEqual(owner, ownerSize, tokenUser, tokenUserSize));
}

bool IsBelowFolder(const WChar* path, const WChar* folder) {
  uint32_t n = TrimmedLength(folder);
  if (n == 0 || TrimmedLength(path) <= n) return false;
  // A drive root ends in its backslash already.
  if (folder[n - 1] != u'\\' && path[n] != u'\\') return false;
  return EqualFolded(path, n, folder, n);
}
