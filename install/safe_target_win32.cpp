#include "install/safe_target.h"

#include <aclapi.h>
#include <sddl.h>

#include "env/app_message_win32.h"
#include "env/kernel32_function_win32.h"
#include "install/install_location.h"
#include "install/install_text.h"
#include "install/registry_value_win32.h"
#include "install/target_checks.h"

namespace {

const DWORD kReparsePointEncountered = 4395;  // ERROR_REPARSE_POINT_ENCOUNTERED
const int kRedirectionTrustPolicy = 16;       // ProcessRedirectionTrustPolicy
const int kFileRenameInfo = 3;                // FileRenameInfo

typedef BOOL(WINAPI* SetMitigationFn)(int, PVOID, SIZE_T);
typedef DWORD(WINAPI* GetFinalPathFn)(HANDLE, LPWSTR, DWORD, DWORD);
typedef BOOL(WINAPI* SetFileInformationFn)(HANDLE, int, LPVOID, DWORD);

// FILE_RENAME_INFO, which the XP headers lack.
struct RenameInfo {
  BOOLEAN ReplaceIfExists;
  HANDLE RootDirectory;
  DWORD FileNameLength;
  WCHAR FileName[PATH_CAPACITY + 8];
};

// Read once per process, on first use.
bool Prepared;
GetFinalPathFn GetFinalPath;
SetFileInformationFn SetFileInformation;
WChar ProgramFiles[2][PATH_CAPACITY];
BYTE TokenUserBuffer[256];
const uint8_t* TokenUserSid;
uint32_t TokenUserSidSize;
SECURITY_ATTRIBUTES ProtectedFolder;

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

void Prepare() {
  if (Prepared) return;
  Prepared = true;
  GetFinalPath = reinterpret_cast<GetFinalPathFn>(Kernel32Function("GetFinalPathNameByHandleW"));
  SetFileInformation = reinterpret_cast<SetFileInformationFn>(Kernel32Function("SetFileInformationByHandle"));
  ReadProgramFilesFolders();
  ReadTokenUser();
  // P: not inherited from the parent; 0x1200a9: read, list and execute.
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (ConvertStringSecurityDescriptorToSecurityDescriptorW(
          L"D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)", SDDL_REVISION_1, &descriptor, nullptr)) {
    ProtectedFolder.nLength = sizeof ProtectedFolder;
    ProtectedFolder.lpSecurityDescriptor = descriptor;  // lives until exit
  }
}

bool IsBelowProgramFiles(const WChar* path) {
  return (ProgramFiles[0][0] && IsBelowFolder(path, ProgramFiles[0])) ||
         (ProgramFiles[1][0] && IsBelowFolder(path, ProgramFiles[1]));
}

DWORD CheckFinalPath(HANDLE handle, const WChar* path) {
  if (!GetFinalPath) return 0;  // XP
  WChar final[PATH_CAPACITY + 16];
  DWORD n = GetFinalPath(handle, W(final), PATH_CAPACITY + 16, 0);  // FILE_NAME_NORMALIZED | VOLUME_NAME_DOS
  if (n == 0) return GetLastError();
  if (n >= PATH_CAPACITY + 16) return ERROR_FILENAME_EXCED_RANGE;
  return IsSameFinalPath(path, final) ? 0 : kReparsePointEncountered;
}

DWORD CheckOwner(HANDLE handle) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  DWORD error = GetSecurityInfo(handle, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                nullptr, &descriptor);
  if (error) return error;
  bool accepted = owner && IsAcceptedOwner(static_cast<const uint8_t*>(owner), GetLengthSid(owner), TokenUserSid,
                                           TokenUserSidSize);
  LocalFree(descriptor);
  return accepted ? 0 : ERROR_INVALID_OWNER;
}

// A file opened with FILE_FLAG_OPEN_REPARSE_POINT: the name's own entry.
DWORD CheckOpenedFile(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(file, &info)) return GetLastError();
  if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return kReparsePointEncountered;
  // Another name of the same file may be one that a standard user made.
  if (info.nNumberOfLinks > 1) return ERROR_TOO_MANY_LINKS;
  return 0;
}

// "\??\" + candidate: an NT path, which the rename takes as it is.
DWORD RenameByHandle(HANDLE file, const WChar* path, const WChar* candidate) {
  if (!SetFileInformation) return MoveFileW(W(path), W(candidate)) ? 0 : GetLastError();  // XP
  RenameInfo info;
  ZeroMemory(&info, sizeof info);
  WChar* name = reinterpret_cast<WChar*>(info.FileName);
  WideCopyAscii(name, PATH_CAPACITY + 8, "\\??\\");
  if (!WideAppend(name, PATH_CAPACITY + 8, candidate)) return ERROR_FILENAME_EXCED_RANGE;
  info.FileNameLength = WideLength(name) * sizeof(WChar);
  return SetFileInformation(file, kFileRenameInfo, &info, sizeof info) ? 0 : GetLastError();
}

}  // namespace

void TrustOnlyAdminRedirections() {
  SetMitigationFn setPolicy = reinterpret_cast<SetMitigationFn>(Kernel32Function("SetProcessMitigationPolicy"));
  DWORD enforce = 1;  // EnforceRedirectionTrust
  // Refused where Windows does not know the policy: the checks below stay.
  if (setPolicy) setPolicy(kRedirectionTrustPolicy, &enforce, sizeof enforce);
}

DWORD CheckExistingFolder(const WChar* path, bool checkOwner) {
  Prepare();
  HANDLE folder = CreateFileW(W(path), FILE_READ_ATTRIBUTES | READ_CONTROL,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (folder == INVALID_HANDLE_VALUE) return GetLastError();
  BY_HANDLE_FILE_INFORMATION info;
  DWORD error = GetFileInformationByHandle(folder, &info) ? 0 : GetLastError();
  if (!error && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) error = kReparsePointEncountered;
  // Wine reports a link it follows only by where the handle ends up.
  if (!error) error = CheckFinalPath(folder, path);
  if (!error && checkOwner) error = CheckOwner(folder);
  CloseHandle(folder);
  return error;
}

DWORD MakeFolder(const WChar* path) {
  Prepare();
  SECURITY_ATTRIBUTES* rights = nullptr;
  if (!IsBelowProgramFiles(path)) {
    // Never made with the parent's rights where those may let users in.
    if (!ProtectedFolder.lpSecurityDescriptor) return ERROR_INVALID_SECURITY_DESCR;
    rights = &ProtectedFolder;
  }
  return CreateDirectoryW(W(path), rights) ? 0 : GetLastError();
}

HANDLE OpenTargetFile(const WChar* path) {
  // Made new first: most files of a run are, and this costs them no more.
  HANDLE file = CreateFileW(W(path), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
  file = CreateFileW(W(path), GENERIC_WRITE | FILE_READ_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return file;
  DWORD error = CheckOpenedFile(file);
  // The handle is at the start: truncating there replaces the content.
  if (!error && !SetEndOfFile(file)) error = GetLastError();
  if (!error) return file;
  CloseHandle(file);
  SetLastError(error);
  return INVALID_HANDLE_VALUE;
}

DWORD MoveLockedFileAside(const WChar* path) {
  Prepare();
  WChar candidate[PATH_CAPACITY];
  if (!BuildRenameCandidate(candidate, PATH_CAPACITY, path, u'a')) return ERROR_FILENAME_EXCED_RANGE;
  uint32_t letterAt = WideLength(candidate) - 1;
  for (WChar letter = u'a';; ++letter) {
    candidate[letterAt] = letter;
    if (GetFileAttributesW(W(candidate)) == INVALID_FILE_ATTRIBUTES) break;
    if (DeleteFileW(W(candidate))) break;
    if (letter == u'z') break;
  }
  // A running program's image shares read and delete, so DELETE opens it.
  HANDLE file = CreateFileW(W(path), DELETE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  DWORD error = CheckOpenedFile(file);
  if (!error) error = RenameByHandle(file, path, candidate);
  CloseHandle(file);
  // Only a name this run moved there is deleted at restart.
  if (!error) MoveFileExW(W(candidate), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  return error;
}
