// Reads and writes HKEY_LOCAL_MACHINE values for the Wine tests, in an
// explicit registry view, reporting the exact type and byte size.
//   reg_probe.exe query 64|32 KEY [VALUE...]   one line per value:
//       VALUE<TAB>type<TAB>bytes<TAB>data   (data: text, or decimal for DWORD)
//       VALUE<TAB>absent                      when the value does not exist
//   reg_probe.exe set 64|32 KEY VALUE sz|dword|binary DATA [BYTES]
//       sz writes DATA with its terminator unless BYTES gives another size;
//       binary takes DATA as hex
//   reg_probe.exe delete 64|32 KEY
#include <windows.h>
#include <stdio.h>
#include <wchar.h>

static REGSAM View(const wchar_t* v) { return wcscmp(v, L"32") ? KEY_WOW64_64KEY : KEY_WOW64_32KEY; }

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) return 2;
  REGSAM view = View(argv[2]);
  if (!wcscmp(argv[1], L"query")) {
    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, argv[3], 0, KEY_READ | view, &key)) {
      wprintf(L"nokey\n");
      return 1;
    }
    for (int i = 4; i < argc; ++i) {
      static BYTE data[65536];
      DWORD type = 0, size = sizeof data - 4;
      ZeroMemory(data, sizeof data);
      if (RegQueryValueExW(key, argv[i], nullptr, &type, data, &size)) {
        wprintf(L"%ls\tabsent\n", argv[i]);
        continue;
      }
      if (type == REG_DWORD)
        wprintf(L"%ls\t%lu\t%lu\t%lu\n", argv[i], type, size, *(DWORD*)data);
      else
        wprintf(L"%ls\t%lu\t%lu\t%ls\n", argv[i], type, size, (wchar_t*)data);
    }
    RegCloseKey(key);
    return 0;
  }
  if (!wcscmp(argv[1], L"set") && argc >= 7) {
    HKEY key;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, argv[3], 0, nullptr, 0, KEY_WRITE | view, nullptr, &key, nullptr))
      return 1;
    LONG r;
    if (!wcscmp(argv[5], L"dword")) {
      DWORD d = wcstoul(argv[6], nullptr, 0);
      r = RegSetValueExW(key, argv[4], 0, REG_DWORD, (BYTE*)&d, 4);
    } else if (!wcscmp(argv[5], L"binary")) {
      BYTE buf[1024];
      DWORD n = 0;
      for (const wchar_t* p = argv[6]; p[0] && p[1] && n < sizeof buf; p += 2) {
        wchar_t hex[3] = {p[0], p[1], 0};
        buf[n++] = (BYTE)wcstoul(hex, nullptr, 16);
      }
      r = RegSetValueExW(key, argv[4], 0, REG_BINARY, buf, n);
    } else {
      DWORD bytes = argc > 7 ? wcstoul(argv[7], nullptr, 0) : (DWORD)((wcslen(argv[6]) + 1) * 2);
      r = RegSetValueExW(key, argv[4], 0, REG_SZ, (BYTE*)argv[6], bytes);
    }
    RegCloseKey(key);
    return r ? 1 : 0;
  }
  if (!wcscmp(argv[1], L"delete")) {
    typedef LONG(WINAPI * DeleteKeyEx)(HKEY, LPCWSTR, REGSAM, DWORD);
    DeleteKeyEx del = (DeleteKeyEx)GetProcAddress(GetModuleHandleW(L"advapi32"), "RegDeleteKeyExW");
    return del && !del(HKEY_LOCAL_MACHINE, argv[3], view, 0) ? 0 : 1;
  }
  return 2;
}
