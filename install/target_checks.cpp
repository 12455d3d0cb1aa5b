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

// S-1-1-0 and S-1-3-0: a deny to Everyone holds for every trustee; what
// CREATOR OWNER is given, the creator of a file below gets, and this run
// creates them as Administrators.
const uint8_t kEveryone[] = {1, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0};
const uint8_t kCreatorOwner[] = {1, 1, 0, 0, 0, 0, 0, 3, 0, 0, 0, 0};

// FILE_WRITE_DATA, FILE_APPEND_DATA, FILE_DELETE_CHILD, DELETE, WRITE_DAC,
// WRITE_OWNER, GENERIC_ALL and GENERIC_WRITE.
const uint32_t kWriteRights = 0x2 | 0x4 | 0x40 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 | 0x40000000;

enum : uint8_t { ACE_ALLOWED = 0, ACE_DENIED = 1, ACE_ALLOWED_CALLBACK = 9, ACE_DENIED_CALLBACK = 10 };

bool IsAllowType(uint8_t type) { return type == 0 || type == 5 || type == 9 || type == 11; }
bool IsDenyType(uint8_t type) { return type == 1 || type == 6 || type == 10 || type == 12; }

// One entry of a DACL: its type, rights and trustee (null where the type
// places its SID elsewhere than the common layout).
struct Ace {
  uint8_t Type;
  uint32_t Mask;
  const uint8_t* Sid;
  uint32_t SidSize;
};

uint32_t Read32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t Read16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

// The entries' count, or -1 when the ACL or one of its entries is cut short.
int32_t CountAces(const uint8_t* acl, uint32_t size) {
  if (size < 8 || Read16(acl + 2) > size) return -1;
  uint32_t count = Read16(acl + 4), at = 8, end = Read16(acl + 2);
  for (uint32_t i = 0; i < count; ++i) {
    if (at + 4 > end) return -1;
    uint32_t aceSize = Read16(acl + at + 2);
    if (aceSize < 8 || at + aceSize > end) return -1;
    at += aceSize;
  }
  return static_cast<int32_t>(count);
}

// The index-th entry of an ACL that CountAces accepted.
Ace AceAt(const uint8_t* acl, uint32_t index) {
  uint32_t at = 8;
  for (uint32_t i = 0; i < index; ++i) at += Read16(acl + at + 2);
  const uint8_t* ace = acl + at;
  uint32_t size = Read16(ace + 2);
  Ace out = {ace[0], Read32(ace + 4), nullptr, 0};
  bool commonLayout = out.Type == ACE_ALLOWED || out.Type == ACE_DENIED || out.Type == ACE_ALLOWED_CALLBACK ||
                      out.Type == ACE_DENIED_CALLBACK;
  if (commonLayout && SidSize(ace + 8, size - 8)) {
    out.Sid = ace + 8;
    out.SidSize = size - 8;
  }
  return out;
}

bool IsSid(const Ace& ace, const uint8_t* sid, uint32_t size) {
  return ace.Sid && SidEqual(ace.Sid, ace.SidSize, sid, size);
}

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

FolderAccess JudgeFolderAccess(const FolderRules* rules, const uint8_t* tokenUser, uint32_t tokenUserSize,
                               bool mayTakeOwner) {
  bool ownerAccepted = rules->Owner && IsAcceptedOwner(rules->Owner, rules->OwnerSize, tokenUser, tokenUserSize);
  if (!ownerAccepted && !mayTakeOwner) return ACCESS_REFUSE;
  if (!rules->Dacl) return ACCESS_TAKE_BACK;
  int32_t count = CountAces(rules->Dacl, rules->DaclSize);
  if (count < 0) return ACCESS_REFUSE;
  bool foreignGrant = false;
  for (int32_t i = 0; i < count && !foreignGrant; ++i) {
    Ace ace = AceAt(rules->Dacl, static_cast<uint32_t>(i));
    if (!IsAllowType(ace.Type) || !(ace.Mask & kWriteRights)) continue;
    // A trustee that another type hides where the common layout has none
    // cannot be told apart: its grant counts as foreign.
    if (ace.Sid && (IsAcceptedOwner(ace.Sid, ace.SidSize, tokenUser, tokenUserSize) ||
                    SidEqual(ace.Sid, ace.SidSize, kCreatorOwner, sizeof kCreatorOwner)))
      continue;
    // Entries are applied in order: a denial before the grant, to the same
    // trustee or to everyone, takes those rights out of it.
    uint32_t granted = ace.Mask & kWriteRights;
    for (int32_t j = 0; j < i && ace.Sid; ++j) {
      Ace before = AceAt(rules->Dacl, static_cast<uint32_t>(j));
      if (IsDenyType(before.Type) &&
          (IsSid(before, ace.Sid, ace.SidSize) || IsSid(before, kEveryone, sizeof kEveryone)))
        granted &= ~before.Mask;
    }
    foreignGrant = granted != 0;
  }
  return foreignGrant || !ownerAccepted ? ACCESS_TAKE_BACK : ACCESS_KEEP;
}

bool MayTakeBackFolder(const WChar* path, const WChar* windowsDir, const WChar* const* shared, uint32_t sharedCount) {
  uint32_t n = TrimmedLength(path);
  if (n <= 3) return false;
  if (path[0] == u'\\' && path[1] == u'\\') {
    uint32_t separators = 0;  // \\server\share has one past the server
    for (uint32_t i = 2; i < n; ++i) separators += path[i] == u'\\';
    if (separators < 2) return false;
  }
  if (windowsDir && windowsDir[0] &&
      (EqualFolded(path, n, windowsDir, TrimmedLength(windowsDir)) || IsBelowFolder(path, windowsDir)))
    return false;
  for (uint32_t i = 0; i < sharedCount; ++i)
    if (shared[i] && shared[i][0] && EqualFolded(path, n, shared[i], TrimmedLength(shared[i]))) return false;
  return true;
}
