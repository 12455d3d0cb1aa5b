// The image's load configuration: with DependentLoadFlags the loader (Windows
// 10 1607 and later) resolves the stub's own imports from System32 only, so
// that a DLL of a system name beside the setup file (a downloads folder) is
// not loaded before ProcessEntry can restrict the search. This linker does
// not point the data directory at the structure; resources/set_load_config.py
// does after the link.
#include <windows.h>

#if defined(__i386__)

namespace {

// IMAGE_LOAD_CONFIG_DIRECTORY32 as far as SEHandlerCount (72 bytes). The
// stub is linked without SEH handlers (IMAGE_DLLCHARACTERISTICS_NO_SEH), so
// the handler table stays empty.
struct LoadConfig32 {
  DWORD Size;
  DWORD TimeDateStamp;
  WORD MajorVersion;
  WORD MinorVersion;
  DWORD GlobalFlagsClear;
  DWORD GlobalFlagsSet;
  DWORD CriticalSectionDefaultTimeout;
  DWORD DeCommitFreeBlockThreshold;
  DWORD DeCommitTotalFreeThreshold;
  DWORD LockPrefixTable;
  DWORD MaximumAllocationSize;
  DWORD VirtualMemoryThreshold;
  DWORD ProcessHeapFlags;
  DWORD ProcessAffinityMask;
  WORD CSDVersion;
  WORD DependentLoadFlags;
  DWORD EditList;
  DWORD SecurityCookie;
  DWORD SEHandlerTable;
  DWORD SEHandlerCount;
};
static_assert(sizeof(LoadConfig32) == 72, "the layout Windows reads");
static_assert(__builtin_offsetof(LoadConfig32, DependentLoadFlags) == 0x36, "the layout Windows reads");

}  // namespace

// Kept by -Wl,--undefined (see cmake/stub.cmake) and found in the link map.
extern "C" const LoadConfig32 _load_config_used = {sizeof(LoadConfig32), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                    0, 0, 0, 0x0800 /* LOAD_LIBRARY_SEARCH_SYSTEM32 */,
                                                    0, 0, 0, 0};

#endif
