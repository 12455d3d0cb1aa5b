#include <windows.h>

#include "env/system_probes.h"

#include "base/kernel32_function_win32.h"
#include "base/windows_version_win32.h"

namespace {

typedef BOOL(WINAPI* IsWow64Process2Fn)(HANDLE, USHORT*, USHORT*);
typedef BOOL(WINAPI* RedirectionFn)(PVOID*);
typedef BOOL(WINAPI* RevertFn)(PVOID);

uint32_t GetOsClass() {
  DWORD major = 0, minor = 0;
  GetWindowsVersion(&major, &minor);
  return ClassifyOsVersion(major, minor);
}

uint32_t GetArchClass() {
  IsWow64Process2Fn isWow64Process2 = reinterpret_cast<IsWow64Process2Fn>(Kernel32Function("IsWow64Process2"));
  if (isWow64Process2) {
    USHORT processMachine = 0, nativeMachine = 0;
    if (isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine))
      return ClassifyNativeMachine(nativeMachine);
  }
  SYSTEM_INFO info;
  ZeroMemory(&info, sizeof info);
  GetNativeSystemInfo(&info);
  return ClassifyProcessorArchitecture(info.wProcessorArchitecture);
}

}  // namespace

void ProbeSystem() {
  ArchClass = GetArchClass();
  OsClass = GetOsClass();
}

int DisableFsRedirection(void** oldValue) {
  RedirectionFn disable = reinterpret_cast<RedirectionFn>(Kernel32Function("Wow64DisableWow64FsRedirection"));
  return disable ? disable(oldValue) : 0;
}

int RevertFsRedirection(void* oldValue) {
  RevertFn revert = reinterpret_cast<RevertFn>(Kernel32Function("Wow64RevertWow64FsRedirection"));
  return revert ? revert(oldValue) : 0;
}
