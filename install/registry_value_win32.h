// Registry values of the uninstall entry, read with their type and size
// checked and written with their exact sizes.
#pragma once
#include <windows.h>
#include <stdint.h>

#include "base/wide_text.h"

// A REG_SZ value read into dest (capacity characters, at most 260). The text
// ends at its first terminator or at the end of its data, whichever comes
// first. False, with dest unchanged, when the value is absent, is not a
// REG_SZ, or does not fit with its terminator. *bytes receives the stored size.
bool ReadStringValue(HKEY key, LPCWSTR name, WChar* dest, uint32_t capacity, DWORD* bytes);

// REG_SZ of (length + 1) * 2 bytes; a null text is written as "".
void WriteStringValue(HKEY key, LPCWSTR name, const WChar* text);
void WriteDwordValue(HKEY key, LPCWSTR name, DWORD value);
