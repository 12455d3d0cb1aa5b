// Win32 side of the loader: the stub's own image and file.
#include <windows.h>

#include "package/package.h"

namespace {

// Stays open for reading until the process ends, unless no package is found.
HANDLE SetupFile;

uint32_t ReadSetupFile(void* context, uint32_t offset, void* buffer, uint32_t size) {
  HANDLE file = static_cast<HANDLE>(context);
  // Offsets are 32-bit signed for SetFilePointer: the package ends below 2 GiB.
  if (offset > 0x7FFFFFFFu) return 0;
  if (SetFilePointer(file, static_cast<LONG>(offset), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
    return 0;
  DWORD got = 0;
  if (!ReadFile(file, buffer, size, &got, nullptr)) return 0;
  return got;
}

}  // namespace

// Failures before the trailer is looked for count as a missing package.
LoadResult LoadPackage(uint32_t osClass, uint32_t archClass) {
  const uint8_t* image = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
  if (!image || image[0] != 'M' || image[1] != 'Z') return LOAD_NO_TRAILER;
  // The headers of a mapped image fill at least its first page.
  uint32_t certificateOffset = 0;
  if (!ReadCertificateOffset(image, 4096, &certificateOffset)) return LOAD_NO_TRAILER;

  WCHAR path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return LOAD_NO_TRAILER;
  SetupFile = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (SetupFile == INVALID_HANDLE_VALUE) return LOAD_NO_TRAILER;
  PackageSource source = {certificateOffset, GetFileSize(SetupFile, nullptr), ReadSetupFile, SetupFile};
  LoadResult result = LoadPackageFrom(&source, osClass, archClass, &Package);
  if (result == LOAD_NO_TRAILER) {
    CloseHandle(SetupFile);
    SetupFile = nullptr;
  }
  return result;
}
