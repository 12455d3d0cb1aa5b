#include "install/safe_target.h"

#include <aclapi.h>
#include <sddl.h>

#include "env/app_message_win32.h"
#include "base/kernel32_function_win32.h"
#include "install/install_text.h"
#include "install/registry_value_win32.h"
#include "install/target_checks.h"
#include "base/system_library_win32.h"

namespace {

const DWORD kReparsePointEncountered = 4395;  // ERROR_REPARSE_POINT_ENCOUNTERED
const int kRedirectionTrustPolicy = 16;       // ProcessRedirectionTrustPolicy
const int kFileRenameInfo = 3;                // FileRenameInfo
const int kFileDispositionInfo = 4;           // FileDispositionInfo
const int kFileAttributeTagInfo = 9;          // FileAttributeTagInfo
const DWORD kVolumeNameNone = 4;              // FILE_NAME_NORMALIZED | VOLUME_NAME_NONE
const uint32_t kFinalCapacity = PATH_CAPACITY + 16;

typedef BOOL(WINAPI* SetMitigationFn)(int, PVOID, SIZE_T);
typedef DWORD(WINAPI* GetFinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
typedef BOOL(WINAPI* FileInformationFn)(HANDLE, int, LPVOID, DWORD);

// FILE_RENAME_INFO and FILE_ATTRIBUTE_TAG_INFO, which the XP headers lack.
struct RenameInfo {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  DWORD FileNameLength;
  WCHAR FileName[PATH_CAPACITY + 16];
};
struct AttributeTagInfo {
  DWORD FileAttributes;
  DWORD ReparseTag;
};

// Read once per process, on first use.
bool Prepared;
GetFinalPathFn GetFinalPath;
FileInformationFn SetFileInformation;
FileInformationFn GetFileInformationEx;
WChar ProgramFiles[2][PATH_CAPACITY];
// Folders whose rules are the system's (see MayTakeBackFolder).
WChar WindowsDir[PATH_CAPACITY];
WChar SharedFolders[4][PATH_CAPACITY];  // ProgramData, All Users, Public, the profiles folder
BYTE TokenUserBuffer[256];
const uint8_t* TokenUserSid;
uint32_t TokenUserSidSize;
SECURITY_ATTRIBUTES ProtectedFolder;
PSECURITY_DESCRIPTOR TakenBackRules;  // the same rules, owned by Administrators

// The install folder's final path without its volume, upper-cased, with its
// final backslash; empty where Windows cannot tell final paths (XP).
WChar FinalInstallDir[kFinalCapacity];
uint32_t NamePosition;

// What the run keeps open until ReleaseTargetHolds: the folders checked, and
// the main program as last written.
HANDLE* Held;
uint32_t HeldCount, HeldCapacity;
HANDLE HeldProgram;

// Both program-files folders: under WOW64 the 64-bit view holds both names.
void ReadProgramFilesFolders() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS)
    return;
  DWORD bytes = 0;
  ReadStringValue(key, L"ProgramFilesDir", ProgramFiles[0], PATH_CAPACITY, &bytes);
  ReadStringValue(key, L"ProgramFilesDir (x86)", ProgramFiles[1], PATH_CAPACITY, &bytes);
  RegCloseKey(key);
}

void ReadSystemFolders() {
  UINT n = GetWindowsDirectoryW(WinText(WindowsDir), PATH_CAPACITY);
  if (n == 0 || n >= PATH_CAPACITY) WindowsDir[0] = 0;
  static const wchar_t* const kShared[] = {L"%ProgramData%", L"%ALLUSERSPROFILE%", L"%PUBLIC%", L"%PUBLIC%\\.."};
  for (int i = 0; i < 4; ++i) {
    WChar expanded[PATH_CAPACITY];
    DWORD got = ExpandEnvironmentStringsW(kShared[i], WinText(expanded), PATH_CAPACITY);
    // An unset variable stays as it is, and names no folder.
    if (got == 0 || got > PATH_CAPACITY || expanded[0] == u'%' ||
        !GetFullPathNameW(WinText(expanded), PATH_CAPACITY, WinText(SharedFolders[i]), nullptr))
      SharedFolders[i][0] = 0;
  }
}

void ReadTokenUser() {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
  DWORD size = 0;
  if (GetTokenInformation(token, TokenUser, TokenUserBuffer, sizeof TokenUserBuffer, &size)) {
    PSID sid = reinterpret_cast<TOKEN_USER*>(TokenUserBuffer)->User.Sid;
    TokenUserSid = static_cast<const uint8_t*>(sid);
    TokenUserSidSize = GetLengthSid(sid);
  }
  CloseHandle(token);
}

PSECURITY_DESCRIPTOR Descriptor(const wchar_t* sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr);
  return descriptor;  // lives until exit
}

void Prepare() {
  if (Prepared) return;
  GetFinalPath = reinterpret_cast<GetFinalPathFn>(Kernel32Function("GetFinalPathNameByHandleW"));
  SetFileInformation = reinterpret_cast<FileInformationFn>(Kernel32Function("SetFileInformationByHandle"));
  GetFileInformationEx = reinterpret_cast<FileInformationFn>(Kernel32Function("GetFileInformationByHandleEx"));
  ReadProgramFilesFolders();
  ReadSystemFolders();
  ReadTokenUser();
  // P: not inherited from the parent; 0x1200a9: read, list and execute.
  ProtectedFolder.nLength = sizeof ProtectedFolder;
  ProtectedFolder.lpSecurityDescriptor = Descriptor(L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
  TakenBackRules = Descriptor(L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)");
  // Last: another caller may only use what is set.
  Prepared = true;
}

bool IsBelowProgramFiles(const WChar* path) {
  return (ProgramFiles[0][0] && IsBelowFolder(path, ProgramFiles[0])) ||
         (ProgramFiles[1][0] && IsBelowFolder(path, ProgramFiles[1]));
}

bool Hold(HANDLE handle) {
  if (HeldCount == HeldCapacity) {
    uint32_t capacity = HeldCapacity ? HeldCapacity * 2 : 64;
    void* grown = Held ? HeapReAlloc(GetProcessHeap(), 0, Held, capacity * sizeof(HANDLE))
                       : HeapAlloc(GetProcessHeap(), 0, capacity * sizeof(HANDLE));
    if (!grown) return false;
    Held = static_cast<HANDLE*>(grown);
    HeldCapacity = capacity;
  }
  Held[HeldCount++] = handle;
  return true;
}

// Upper case by the system's rules, as the file system compares names.
void FoldCase(WChar* text) { CharUpperBuffW(WinText(text), WideLength(text)); }

// The path as the file system would name it: full, without "." and "..",
// with backslashes and long names.
void CanonicalPath(const WChar* path, WChar* out) {
  DWORD n = GetFullPathNameW(WinText(path), kFinalCapacity, WinText(out), nullptr);
  if (n == 0 || n >= kFinalCapacity) {
    WideCopy(out, kFinalCapacity, path);
    return;
  }
  n = GetLongPathNameW(WinText(out), WinText(out), kFinalCapacity);
  (void)n;  // a level that is not there yet keeps its name as given
}

DWORD CheckFinalPath(HANDLE handle, const WChar* path) {
  if (!GetFinalPath) return 0;  // XP
  WChar final[kFinalCapacity], asked[kFinalCapacity];
  DWORD n = GetFinalPath(handle, WinText(final), kFinalCapacity, 0);  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS
  if (n == 0) return GetLastError();
  if (n >= kFinalCapacity) return ERROR_FILENAME_EXCED_RANGE;
  CanonicalPath(path, asked);
  FoldCase(final);
  FoldCase(asked);
  return IsSameFinalPath(asked, final) ? 0 : kReparsePointEncountered;
}

// A file's final path against the install folder's and the name asked for:
// a link at any level on the way makes them differ.
DWORD CheckFileFinalPath(HANDLE file, const WChar* path) {
  if (!FinalInstallDir[0]) return 0;
  WChar final[kFinalCapacity], asked[kFinalCapacity];
  DWORD n = GetFinalPath(file, WinText(final), kFinalCapacity, kVolumeNameNone);
  if (n == 0) return GetLastError();
  if (n >= kFinalCapacity) return ERROR_FILENAME_EXCED_RANGE;
  if (!JoinPath(asked, kFinalCapacity, FinalInstallDir, path + NamePosition)) return ERROR_FILENAME_EXCED_RANGE;
  FoldCase(final);
  FoldCase(asked);
  return IsSameFinalPath(asked, final) ? 0 : kReparsePointEncountered;
}

bool IsLink(HANDLE handle, DWORD attributes) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  AttributeTagInfo tag;
  // Without the tag (XP) every reparse point counts as a link.
  if (!GetFileInformationEx || !GetFileInformationEx(handle, kFileAttributeTagInfo, &tag, sizeof tag)) return true;
  return IsLinkReparseTag(tag.ReparseTag);
}

// A file opened with FILE_FLAG_OPEN_REPARSE_POINT: the name's own entry.
DWORD CheckOpenedFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* info) {
  if (!GetFileInformationByHandle(file, info)) return GetLastError();
  if (IsLink(file, info->dwFileAttributes)) return kReparsePointEncountered;
  // Another name of the same file may be one that a standard user made.
  if (info->nNumberOfLinks > 1) return ERROR_TOO_MANY_LINKS;
  return 0;
}

// Deletes the file through its handle (opened with DELETE) and closes it.
bool DeleteThrough(HANDLE file, const WChar* path) {
  BOOL dispose = TRUE;
  bool deleted = SetFileInformation && SetFileInformation(file, kFileDispositionInfo, &dispose, sizeof dispose);
  CloseHandle(file);
  if (!SetFileInformation) deleted = DeleteFileW(WinText(path));  // XP
  return deleted;
}

// "\??\" + target: an NT path, which the rename takes as it is.
DWORD RenameByHandle(HANDLE file, const WChar* target, bool replace) {
  RenameInfo info;
  ZeroMemory(&info, sizeof info);
  info.ReplaceIfExists = replace;
  WChar* name = reinterpret_cast<WChar*>(info.FileName);
  WideCopyAscii(name, PATH_CAPACITY + 16, "\\??\\");
  if (!WideAppend(name, PATH_CAPACITY + 16, target)) return ERROR_FILENAME_EXCED_RANGE;
  info.FileNameLength = WideLength(name) * sizeof(WChar);
  return SetFileInformation(file, kFileRenameInfo, &info, sizeof info) ? 0 : GetLastError();
}

// Restore lets the run open a folder for new rules and a new owner whatever
// its rules say; take-ownership lets it make Administrators the owner. On
// only while rules are taken back: the configure command inherits the token.
void EnableOwnershipPrivileges(bool enable) {
  HANDLE token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
  struct {
    DWORD Count;
    LUID_AND_ATTRIBUTES Privileges[2];
  } privileges = {2, {}};
  DWORD state = enable ? SE_PRIVILEGE_ENABLED : 0;
  LookupPrivilegeValueW(nullptr, L"SeRestorePrivilege", &privileges.Privileges[0].Luid);
  LookupPrivilegeValueW(nullptr, L"SeTakeOwnershipPrivilege", &privileges.Privileges[1].Luid);
  privileges.Privileges[0].Attributes = privileges.Privileges[1].Attributes = state;
  AdjustTokenPrivileges(token, FALSE, reinterpret_cast<TOKEN_PRIVILEGES*>(&privileges), 0, nullptr, nullptr);
  CloseHandle(token);
}

// Owner Administrators and the protected rules, which Windows then passes on
// to everything below that inherits. The folder's name cannot change
// meanwhile: the caller holds it open without delete sharing.
DWORD TakeBack(const WChar* path) {
  PSID administrators = nullptr;
  PACL rules = nullptr;
  BOOL present = FALSE, defaulted = FALSE;
  if (!TakenBackRules || !GetSecurityDescriptorOwner(TakenBackRules, &administrators, &defaulted) ||
      !GetSecurityDescriptorDacl(TakenBackRules, &present, &rules, &defaulted))
    return ERROR_INVALID_SECURITY_DESCR;
  EnableOwnershipPrivileges(true);
  HANDLE folder = CreateFileW(WinText(path), READ_CONTROL | WRITE_DAC | WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                              nullptr);
  DWORD error = folder == INVALID_HANDLE_VALUE ? GetLastError() : 0;
  if (!error) {
    error = SetSecurityInfo(folder, SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                PROTECTED_DACL_SECURITY_INFORMATION,
                            administrators, nullptr, rules, nullptr);
    CloseHandle(folder);
  }
  EnableOwnershipPrivileges(false);
  return error;
}

// 0 when nobody but the system's accounts and the account running the setup
// may write into the folder or change its rules, also after taking them back.
DWORD JudgeAccess(HANDLE folder, const WChar* path, FolderCheck check) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                &owner, nullptr, &dacl, nullptr, &descriptor);
  if (error) return error;
  FolderRules rules = {static_cast<const uint8_t*>(owner), owner ? GetLengthSid(owner) : 0,
                       reinterpret_cast<const uint8_t*>(dacl), dacl ? dacl->AclSize : 0u};
  FolderAccess access = JudgeFolderAccess(&rules, TokenUserSid, TokenUserSidSize, check == FOLDER_TAKE_BACK);
  bool ownerAccepted = owner && IsAcceptedOwner(rules.Owner, rules.OwnerSize, TokenUserSid, TokenUserSidSize);
  LocalFree(descriptor);
  if (access == ACCESS_REFUSE) return ownerAccepted ? ERROR_INVALID_ACL : ERROR_INVALID_OWNER;
  if (access == ACCESS_KEEP) return 0;
  WChar canonical[kFinalCapacity];
  CanonicalPath(path, canonical);
  static const WChar* const shared[6] = {ProgramFiles[0], ProgramFiles[1], SharedFolders[0],
                                         SharedFolders[1], SharedFolders[2], SharedFolders[3]};
  if (!MayTakeBackFolder(canonical, WindowsDir, shared, 6)) return ERROR_ACCESS_DENIED;
  return TakeBack(path);
}

// CheckExistingFolder, with the handle it holds.
DWORD CheckFolder(const WChar* path, FolderCheck check, HANDLE* held) {
  Prepare();
  // No delete sharing: while the run holds it, the folder can be neither
  // renamed nor removed, and nor can a level above it.
  HANDLE folder = CreateFileW(WinText(path), FILE_READ_ATTRIBUTES | READ_CONTROL | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = GetFileInformationByHandle(folder, &info) ? 0 : GetLastError();
  if (!error && IsLink(folder, info.dwFileAttributes)) error = kReparsePointEncountered;
  // Wine reports a link it follows only by where the handle ends up.
  if (!error) error = CheckFinalPath(folder, path);
  if (!error && check != FOLDER_LINKS_ONLY) error = JudgeAccess(folder, path, check);
  if (!error && !Hold(folder)) error = ERROR_NOT_ENOUGH_MEMORY;
  if (error) {
    CloseHandle(folder);
    return error;
  }
  if (held) *held = folder;
  return 0;
}

// Opens path's file as it is there, for the same file to be held.
DWORD HoldWrittenFile(const WChar* path, const BY_HANDLE_FILE_INFORMATION* written) {
  HANDLE file = CreateFileW(WinText(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = CheckOpenedFile(file, &info);
  if (!error && (info.dwVolumeSerialNumber != written->dwVolumeSerialNumber ||
                 info.nFileIndexHigh != written->nFileIndexHigh || info.nFileIndexLow != written->nFileIndexLow))
    error = kReparsePointEncountered;
  if (error) {
    CloseHandle(file);
    return error;
  }
  HeldProgram = file;
  return 0;
}

// A new file at path, opened for writing and for deletion through its handle.
HANDLE CreateNewFile(const WChar* path) {
  return CreateFileW(WinText(path), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

}  // namespace

void TrustOnlyAdminRedirections() {
  SetMitigationFn setPolicy = reinterpret_cast<SetMitigationFn>(Kernel32Function("SetProcessMitigationPolicy"));
  DWORD enforce = 1;  // EnforceRedirectionTrust
  // Refused where Windows does not know the policy: the checks below stay.
  if (setPolicy) setPolicy(kRedirectionTrustPolicy, &enforce, sizeof enforce);
}

void PrepareTargetChecks() {
  Prepare();
  // Security information of files goes through ntmarta, loaded on first use.
  LoadSystemLibrary(L"ntmarta.dll");
}

DWORD CheckExistingFolder(const WChar* path, FolderCheck check) { return CheckFolder(path, check, nullptr); }

DWORD CheckInstallFolder(const WChar* path, uint32_t namePosition, FolderCheck check) {
  HANDLE folder = nullptr;
  DWORD error = CheckFolder(path, check, &folder);
  if (error || !GetFinalPath) return error;
  DWORD n = GetFinalPath(folder, WinText(FinalInstallDir), kFinalCapacity - 1, kVolumeNameNone);
  if (n == 0 || n >= kFinalCapacity - 1) {
    FinalInstallDir[0] = 0;
    return n ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
  }
  if (FinalInstallDir[n - 1] != u'\\') WideAppend(FinalInstallDir, kFinalCapacity, u"\\");
  NamePosition = namePosition;
  return 0;
}

DWORD MakeFolder(const WChar* path) {
  Prepare();
  SECURITY_ATTRIBUTES* rights = nullptr;
  if (!IsBelowProgramFiles(path)) {
    // Never made with the parent's rights where those may let users in.
    if (!ProtectedFolder.lpSecurityDescriptor) return ERROR_INVALID_SECURITY_DESCR;
    rights = &ProtectedFolder;
  }
  return CreateDirectoryW(WinText(path), rights) ? 0 : GetLastError();
}

DWORD OpenTargetFile(const WChar* path, TargetFile* file) {
  file->Replacing = false;
  if (!WideCopy(file->Written, PATH_CAPACITY + 8, path)) return ERROR_FILENAME_EXCED_RANGE;
  // Made new first: most files of a run are, and this costs them no more.
  file->Handle = CreateNewFile(path);
  if (file->Handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
    // What is there is refused as before: a link, a file with another name,
    // a file in use.
    HANDLE old = CreateFileW(WinText(path), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (old == INVALID_HANDLE_VALUE) return GetLastError();
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = CheckOpenedFile(old, &info);
    CloseHandle(old);
    if (error) return error;
    file->Replacing = true;
    if (!WideAppend(file->Written, PATH_CAPACITY + 8, u".tmp~")) return ERROR_FILENAME_EXCED_RANGE;
    file->Handle = CreateNewFile(file->Written);
    if (file->Handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS) {
      // Left by a run that was stopped: gone through its own handle.
      HANDLE left = CreateFileW(WinText(file->Written), DELETE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
      if (left != INVALID_HANDLE_VALUE) DeleteThrough(left, file->Written);
      file->Handle = CreateNewFile(file->Written);
    }
  }
  if (file->Handle == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = CheckFileFinalPath(file->Handle, file->Written);
  if (error) DiscardTargetFile(file);
  return error;
}

DWORD CommitTargetFile(TargetFile* file, const WChar* path, bool hold) {
  BY_HANDLE_FILE_INFORMATION written;
  if (hold && !GetFileInformationByHandle(file->Handle, &written)) hold = false;
  DWORD error = 0;
  if (file->Replacing && SetFileInformation) {
    error = RenameByHandle(file->Handle, path, true);
    if (error) {
      DiscardTargetFile(file);
      return error;
    }
  }
  CloseHandle(file->Handle);
  file->Handle = INVALID_HANDLE_VALUE;
  if (file->Replacing && !SetFileInformation &&  // XP
      !MoveFileExW(WinText(file->Written), WinText(path), MOVEFILE_REPLACE_EXISTING))
    return GetLastError();
  return hold ? HoldWrittenFile(path, &written) : error;
}

void DiscardTargetFile(TargetFile* file) {
  DeleteThrough(file->Handle, file->Written);
  file->Handle = INVALID_HANDLE_VALUE;
}

DWORD MoveLockedFileAside(const WChar* path) {
  Prepare();
  WChar candidate[PATH_CAPACITY];
  if (!BuildRenameCandidate(candidate, PATH_CAPACITY, path, u'a')) return ERROR_FILENAME_EXCED_RANGE;
  uint32_t letterAt = WideLength(candidate) - 1;
  for (WChar letter = u'a';; ++letter) {
    candidate[letterAt] = letter;
    HANDLE left = CreateFileW(WinText(candidate), DELETE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (left == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_NOT_FOUND) break;
    if (left != INVALID_HANDLE_VALUE && DeleteThrough(left, candidate)) break;
    if (letter == u'z') break;
  }
  // A running program's image shares read and delete, so DELETE opens it.
  HANDLE file = CreateFileW(WinText(path), DELETE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = CheckOpenedFile(file, &info);
  if (!error) error = SetFileInformation ? RenameByHandle(file, candidate, false) : 0;
  CloseHandle(file);
  if (!error && !SetFileInformation && !MoveFileW(WinText(path), WinText(candidate))) error = GetLastError();  // XP
  // Only a name this run moved there is deleted at restart.
  if (!error) MoveFileExW(WinText(candidate), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return error;
}

void ReleaseHeldFile() {
  if (HeldProgram) CloseHandle(HeldProgram);
  HeldProgram = nullptr;
}

void ReleaseTargetHolds() {
  ReleaseHeldFile();
  for (uint32_t i = 0; i < HeldCount; ++i) CloseHandle(Held[i]);
  HeldCount = 0;
  FinalInstallDir[0] = 0;
}

DWORD CreateLogFile(const WChar* path, HANDLE* out) {
  Prepare();
  // A file already there is deleted through a handle on the name's own
  // entry, once it is known to be neither a link nor one name of several;
  // the log is then a new file of this process, with no rules of another's.
  HANDLE old = CreateFileW(WinText(path), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (old != INVALID_HANDLE_VALUE) {
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = CheckOpenedFile(old, &info);
    if (!error) error = CheckFinalPath(old, path);
    if (error) {
      CloseHandle(old);
      return error;
    }
    if (!DeleteThrough(old, path)) return GetLastError();
  }
  // CREATE_NEW follows no link: a name planted meanwhile fails it.
  HANDLE file = CreateFileW(WinText(path), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  // A link at a level above shows only in the final path.
  DWORD error = CheckFinalPath(file, path);
  if (error) {
    DeleteThrough(file, path);
    return error;
  }
  *out = file;
  return 0;
}
