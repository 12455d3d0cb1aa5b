// Win32 side of the loader: the stub's own image and file.
#include <windows.h>

#include "package/package.h"
#include "package/parallel_decode_win32.h"
#include "package/pe_layout.h"

#include "base/message_pump_win32.h"
#include "resources/stub_capabilities.h"

namespace {

// Stays open for reading until the process ends, unless no package is found.
HANDLE SetupFile;
PackageSource Source;
StagedLoad Load;
// Decodes the rest of the block while the start-up and the wizard run; null
// once it has been waited for, or when there was nothing left to decode.
HANDLE RestWorker;
// Damage until the second stage has run to its end and said otherwise (set
// so in code, not by an initialiser: a section of its own would cost 512
// bytes of the stub).
LoadResult RestResult;

// The stub's liblzma is built without threads, and needs none: the stream is
// used by the main thread during the first stage and by this one alone after
// (a chunked package's decoders have a stream each). The second stage of a
// single stream allocates nothing (the decoder's state, its dictionary and
// the input buffer come from the first), but it frees them at its end; a
// chunked package's decoders allocate and free theirs for each chunk.
// Ending the process just then (Cancel while it decodes) can orphan the
// heap's lock: during the exit the heap then fails calls with
// ERROR_POSSIBLE_DEADLOCK rather than wait, and the stub frees nothing on
// its way out.
DWORD WINAPI DecodeRest(void*) {
  RestResult = Load.ChunkCount ? FinishChunkedLoad(&Load, &Package) : FinishStagedLoad(&Load, &Package);
  return 0;
}

// A positioned read: the decoding threads share the handle, and an offset
// of 2 GiB or more is not taken for a negative distance.
uint32_t ReadSetupFile(void* context, uint32_t offset, void* buffer, uint32_t size) {
  OVERLAPPED at = {};
  at.Offset = offset;
  DWORD got = 0;
  if (!ReadFile(static_cast<HANDLE>(context), buffer, size, &got, &at)) return 0;
  return got;
}

// The package hash the packer bound to this image (its own, as mapped: not
// the file, which may no longer be the one started); null when the slot is
// all zero, as in a stub that no packer of this version wrote.
const uint8_t* BoundPackageHash() {
  HRSRC slot = FindResourceW(nullptr, MAKEINTRESOURCEW(STUB_PACKAGE_HASH_ID), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  HGLOBAL loaded = slot ? LoadResource(nullptr, slot) : nullptr;
  const uint8_t* hash = static_cast<const uint8_t*>(loaded ? LockResource(loaded) : nullptr);
  if (!hash || SizeofResource(nullptr, slot) != SHA256_SIZE) return nullptr;
  for (uint32_t i = 0; i < SHA256_SIZE; ++i) {
    if (hash[i]) return hash;
  }
  return nullptr;
}

}  // namespace

// Failures before the trailer is looked for count as a missing package.
LoadResult LoadPackage(uint32_t osClass, uint32_t archClass) {
  const uint8_t* image = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
  if (!image || image[0] != 'M' || image[1] != 'Z') return LOAD_NO_TRAILER;
  uint32_t certificateOffset = 0;
  if (!ReadCertificateOffset(image, HEADER_PAGE_SIZE, &certificateOffset)) return LOAD_NO_TRAILER;

  WCHAR path[MAX_PATH];
  DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return LOAD_NO_TRAILER;
  SetupFile = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
  if (SetupFile == INVALID_HANDLE_VALUE) return LOAD_NO_TRAILER;
  // A file of 4 GiB or more holds no package the packer wrote (nor one a
  // signature could cover): its size reads as 0.
  DWORD sizeHigh = 0;
  DWORD size = GetFileSize(SetupFile, &sizeHigh);
  Source = {certificateOffset, sizeHigh ? 0 : size, ReadSetupFile, SetupFile, BoundPackageHash()};
  LoadResult result = StartStagedLoad(&Source, osClass, archClass, &Package, &Load);
  if (result == LOAD_NO_TRAILER) {
    CloseHandle(SetupFile);
    SetupFile = nullptr;
  }
  if (result != LOAD_OK) return result;
  // Below the dialog's priority: on one core the wizard stays responsive,
  // and an idle user leaves the decoder the whole processor.
  RestResult = LOAD_BAD_DATA;
  RestWorker = Load.HasRecord ? CreateThread(nullptr, 0, DecodeRest, nullptr, 0, nullptr) : nullptr;
  if (RestWorker) SetThreadPriority(RestWorker, THREAD_PRIORITY_BELOW_NORMAL);
  else DecodeRest(nullptr);
  return result;
}

bool IsPackageComplete() { return !RestWorker || WaitForSingleObject(RestWorker, 0) == WAIT_OBJECT_0; }

// Halved, so that a block of 2 GiB or more stays in MulDiv's range.
uint32_t PackageDecodedShare() {
  return static_cast<uint32_t>(MulDiv((Load.Decoded + ChunkBytesDecoded()) >> 1, 10000, Package.BlockSize >> 1 | 1));
}

LoadResult AwaitPackage(void (*onWait)(void* context), void* context) {
  if (!RestWorker) return RestResult;
  // A decoder that cannot be waited for leaves nothing to trust.
  if (!WaitDispatchingMessages(RestWorker, 50, onWait, context)) return LOAD_BAD_DATA;
  CloseHandle(RestWorker);
  RestWorker = nullptr;
  return RestResult;
}
