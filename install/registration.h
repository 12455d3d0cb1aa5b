#pragma once
#include <windows.h>
#include <stdint.h>

#include "env/wide_text.h"

enum : uint32_t { RUN_FAILED = 0x12345678u };

// Writes the uninstall entry and runs the configure command.
void RegisterUninstall(WChar* pathBuffer, uint32_t namePosition, HWND window);
uint32_t RunAndWait(WChar* commandLine);
void WaitPumping(HANDLE handle);
void PumpMessages();
