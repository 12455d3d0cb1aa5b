#include "install/registry_value_win32.h"

#include "env/app_message_win32.h"

enum : uint32_t { MAX_READ_CHARACTERS = 260 };

bool ReadStringValue(HKEY key, LPCWSTR name, WChar* dest, uint32_t capacity, DWORD* bytes) {
  if (capacity > MAX_READ_CHARACTERS) capacity = MAX_READ_CHARACTERS;
  if (capacity == 0) return false;
  // A separate buffer: after a failed query its content is undefined, and
  // the caller's text must stay as it was.
  WChar data[MAX_READ_CHARACTERS];
  DWORD type = 0;
  DWORD size = capacity * sizeof(WChar);
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS)
    return false;
  if (type != REG_SZ || size > capacity * sizeof(WChar)) return false;
  uint32_t length = WideLengthBounded(data, size / sizeof(WChar));
  if (length >= capacity) return false;  // stored without a terminator and no room for one
  data[length] = 0;
  for (uint32_t i = 0; i <= length; ++i) dest[i] = data[i];
  *bytes = size;
  return true;
}

void WriteStringValue(HKEY key, LPCWSTR name, const WChar* text) {
  if (!text) text = u"";
  DWORD bytes = (WideLength(text) + 1) * sizeof(WChar);
  RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), bytes);
}

void WriteDwordValue(HKEY key, LPCWSTR name, DWORD value) {
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
}
