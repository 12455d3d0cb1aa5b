#include "packer/output_folder.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <filesystem>

#include "packer/packer_error.h"
#include "packer/quoted_text.h"

namespace {

std::string Shown(const std::string& dir, const std::vector<std::string>& parts, size_t count) {
  std::string path = dir;
  for (size_t i = 0; i < count; ++i) path += "/" + parts[i];
  return QuotedText(path);
}

[[noreturn]] void Fail(const std::string& dir, const std::vector<std::string>& parts, size_t count,
                       const std::string& problem) {
  throw PackerError(Shown(dir, parts, count), "", problem);
}

}  // namespace

#ifdef _WIN32

namespace {

std::wstring Wide(const std::string& dir, const std::vector<std::string>& parts, size_t count) {
  std::filesystem::path path = std::filesystem::u8path(dir);
  for (size_t i = 0; i < count; ++i) path /= std::filesystem::u8path(parts[i]);
  return path.wstring();
}

}  // namespace

OutputFolder::OutputFolder(const std::string& dir) : dir_(dir) {
  std::error_code error;
  std::filesystem::create_directories(std::filesystem::u8path(dir), error);
  if (!std::filesystem::is_directory(std::filesystem::u8path(dir), error))
    throw PackerError(QuotedText(dir), "", "cannot create the folder");
}

OutputFolder::~OutputFolder() {}

namespace {

// The folder levels a write goes through, open without delete sharing: while
// they are, none of them can be renamed or swapped for a link.
struct HeldFolders {
  std::vector<HANDLE> Handles;
  ~HeldFolders() {
    for (HANDLE h : Handles) CloseHandle(h);
  }
};

// Opens the entry at path itself, not what a link there leads to.
HANDLE OpenEntry(const std::wstring& path, DWORD access, DWORD share) {
  return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING,
                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

DWORD AttributesOf(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION info;
  return GetFileInformationByHandle(handle, &info) ? info.dwFileAttributes : INVALID_FILE_ATTRIBUTES;
}

void HoldFolders(const std::string& dir, const std::vector<std::string>& parts, HeldFolders* held) {
  for (size_t i = 1; i <= parts.size(); ++i) {
    std::wstring path = Wide(dir, parts, i);
    CreateDirectoryW(path.c_str(), nullptr);
    HANDLE folder = OpenEntry(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE);
    if (folder == INVALID_HANDLE_VALUE) Fail(dir, parts, i, "cannot create the folder");
    held->Handles.push_back(folder);
    DWORD attributes = AttributesOf(folder);
    // A junction or a symbolic link could lead the writes anywhere.
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) Fail(dir, parts, i, "is a symbolic link or junction; not followed");
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) Fail(dir, parts, i, "is a file where a folder belongs");
  }
}

}  // namespace

void OutputFolder::MakeFolders(const std::vector<std::string>& parts) {
  HeldFolders held;
  HoldFolders(dir_, parts, &held);
}

void OutputFolder::WriteFile(const std::vector<std::string>& parts, const uint8_t* data, uint32_t size,
                             uint64_t fileTime) {
  HeldFolders held;
  HoldFolders(dir_, std::vector<std::string>(parts.begin(), parts.end() - 1), &held);
  std::wstring path = Wide(dir_, parts, parts.size());
  HANDLE old = OpenEntry(path, DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (old != INVALID_HANDLE_VALUE) {
    DWORD attributes = AttributesOf(old);
    // Deleting the name itself leaves a link's target, or any hard link to
    // the old file, as it was.
    FILE_DISPOSITION_INFO dispose = {TRUE};
    bool deleted = !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                   SetFileInformationByHandle(old, FileDispositionInfo, &dispose, sizeof dispose);
    CloseHandle(old);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) Fail(dir_, parts, parts.size(), "is a folder where a file belongs");
    if (!deleted) Fail(dir_, parts, parts.size(), "cannot replace the file");
  }
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) Fail(dir_, parts, parts.size(), "cannot create");
  DWORD written = 0;
  bool ok = size == 0 || (::WriteFile(file, data, size, &written, nullptr) && written == size);
  FILETIME time = {static_cast<DWORD>(fileTime), static_cast<DWORD>(fileTime >> 32)};
  ok = SetFileTime(file, nullptr, nullptr, &time) && ok;
  ok = CloseHandle(file) && ok;
  if (!ok) Fail(dir_, parts, parts.size(), "cannot write");
}

#else

OutputFolder::OutputFolder(const std::string& dir) : dir_(dir) {
  std::error_code error;
  std::filesystem::create_directories(dir, error);
  // The folder itself is the user's choice: a link to it is followed.
  root_ = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (root_ < 0) throw PackerError(QuotedText(dir), "", std::string("cannot create the folder: ") + strerror(errno));
}

OutputFolder::~OutputFolder() { close(root_); }

int OutputFolder::OpenFolder(const std::vector<std::string>& parts, size_t count) {
  int at = dup(root_);
  for (size_t i = 0; i < count && at >= 0; ++i) {
    if (mkdirat(at, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
      int error = errno;
      close(at);
      Fail(dir_, parts, i + 1, std::string("cannot create the folder: ") + strerror(error));
    }
    int next = openat(at, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int error = errno;
    // A link to a folder fails with ENOTDIR or ELOOP, as the kernel checks.
    struct stat st;
    bool link = next < 0 && fstatat(at, parts[i].c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    close(at);
    if (link) Fail(dir_, parts, i + 1, "is a symbolic link; not followed");
    if (next < 0 && error == ENOTDIR) Fail(dir_, parts, i + 1, "is a file where a folder belongs");
    if (next < 0) Fail(dir_, parts, i + 1, std::string("cannot open the folder: ") + strerror(error));
    at = next;
  }
  if (at < 0) throw PackerError(QuotedText(dir_), "", "cannot open the folder");
  return at;
}

void OutputFolder::MakeFolders(const std::vector<std::string>& parts) { close(OpenFolder(parts, parts.size())); }

void OutputFolder::WriteFile(const std::vector<std::string>& parts, const uint8_t* data, uint32_t size,
                             uint64_t fileTime) {
  int folder = OpenFolder(parts, parts.size() - 1);
  const char* name = parts.back().c_str();
  std::string problem;
  // A new file in place of an old one: a hard link to the old file, or a
  // link planted at the name, is never written through.
  struct stat st;
  if (fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISDIR(st.st_mode)) problem = "is a folder where a file belongs";
    else if (unlinkat(folder, name, 0) != 0) problem = std::string("cannot replace the file: ") + strerror(errno);
  }
  int file = -1;
  if (problem.empty()) {
    file = openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (file < 0) problem = std::string("cannot create: ") + strerror(errno);
  }
  close(folder);
  if (!problem.empty()) Fail(dir_, parts, parts.size(), problem);
  bool ok = true;
  for (uint32_t done = 0; ok && done < size;) {
    ssize_t n = write(file, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) done += static_cast<uint32_t>(n);
  }
  const int64_t kEpochDifference = 11644473600;  // 1601-01-01 to 1970-01-01
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(static_cast<int64_t>(fileTime / 10000000u) - kEpochDifference);
  times[1].tv_nsec = static_cast<long>(fileTime % 10000000u * 100);
  bool timed = futimens(file, times) == 0;
  ok = close(file) == 0 && ok;
  if (!ok) Fail(dir_, parts, parts.size(), "cannot write");
  if (!timed) Fail(dir_, parts, parts.size(), "cannot set the file's time");
}

#endif
