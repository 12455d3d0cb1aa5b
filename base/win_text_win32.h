// The stub's UTF-16 text (char16_t) as the Win32 functions take it (wchar_t,
// the same 16-bit units on Windows).
#pragma once
#include <windows.h>

#include "base/wide_text.h"

inline LPCWSTR WinText(const WChar* text) { return reinterpret_cast<LPCWSTR>(text); }
inline LPWSTR WinText(WChar* text) { return reinterpret_cast<LPWSTR>(text); }
