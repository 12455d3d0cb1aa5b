"""Checks the cross-built stub's PE image: subsystem, imports (no C runtime
start-up, only system DLLs that Windows XP has, the ordinal bindings),
resources (manifest, wizard dialog template, icons, version block) and the
absence of static initialisers in its objects."""
import struct
import unittest
import xml.etree.ElementTree as ET
from pathlib import Path

from harness import REAL_STUB as STUB
from harness import REAL_WIN_BUILD as WIN_BUILD
from pe_image import (RT_DIALOG, RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_RCDATA, RT_VERSION, PeImage,
                      coff_section_names)

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "comctl32.dll", "advapi32.dll",
                "shell32.dll", "shlwapi.dll", "ole32.dll", "oleaut32.dll", "msvcrt.dll"}

# What msvcrt may supply: memory and string routines, nothing of its start-up.
MSVCRT_ALLOWED = {"malloc", "calloc", "realloc", "free", "memcpy", "memmove", "memset", "memcmp",
                  "memchr", "strlen", "strcmp", "strncmp", "strchr", "strrchr", "strcpy", "strncpy",
                  "wcslen", "wcscmp", "wcsncmp", "wcschr", "wcsrchr", "wcscpy", "wcsncpy", "_stricmp",
                  "_strnicmp", "_wcsicmp", "_wcsnicmp"}

CRT_STARTUP = {"__getmainargs", "__wgetmainargs", "_initterm", "_initterm_e", "__set_app_type",
               "_cexit", "_c_exit", "_amsg_exit", "atexit", "_onexit", "__dllonexit", "__p___argv",
               "__p___argc", "__p___wargv", "__p__environ", "__p__wenviron", "__p__fmode",
               "__p__commode", "__setusermatherr", "_XcptFilter", "__lconv_init", "exit", "_exit"}

# kernel32 functions that Windows XP SP3 (32-bit) exports and that the stub
# may import statically. Anything newer is looked up at run time.
KERNEL32_XP = set("""
AddAtomW AreFileApisANSI AssignProcessToJobObject Beep CloseHandle CompareFileTime CompareStringA
CompareStringW CopyFileA CopyFileExW CopyFileW CreateDirectoryA CreateDirectoryExW CreateDirectoryW
CreateEventA CreateEventW CreateFileA CreateFileMappingA CreateFileMappingW CreateFileW
CreateHardLinkW CreateJobObjectW CreateMutexA CreateMutexW CreatePipe CreateProcessA CreateProcessW
CreateSemaphoreW CreateThread CreateToolhelp32Snapshot DecodePointer DeleteCriticalSection
DeleteFileA DeleteFileW DeviceIoControl DisableThreadLibraryCalls DuplicateHandle EncodePointer
EnterCriticalSection ExitProcess ExitThread ExpandEnvironmentStringsA ExpandEnvironmentStringsW
FileTimeToDosDateTime FileTimeToLocalFileTime FileTimeToSystemTime FindClose FindFirstFileA
FindFirstFileW FindNextFileA FindNextFileW FindResourceA FindResourceExW FindResourceW
FlushFileBuffers FlushInstructionCache FormatMessageA FormatMessageW FreeEnvironmentStringsA
FreeEnvironmentStringsW FreeLibrary FreeResource GetACP GetCPInfo GetCommandLineA GetCommandLineW
GetComputerNameW GetConsoleMode GetConsoleOutputCP GetCurrentDirectoryA GetCurrentDirectoryW
GetCurrentProcess GetCurrentProcessId GetCurrentThread GetCurrentThreadId GetDiskFreeSpaceExW
GetDiskFreeSpaceW GetDllDirectoryW GetDriveTypeW GetEnvironmentStrings GetEnvironmentStringsW
GetEnvironmentVariableA GetEnvironmentVariableW GetExitCodeProcess GetExitCodeThread
GetFileAttributesA GetFileAttributesExA GetFileAttributesExW GetFileAttributesW
GetFileInformationByHandle GetFileSize GetFileSizeEx GetFileTime GetFileType GetFullPathNameA
GetFullPathNameW GetLastError GetLocalTime GetLocaleInfoA GetLocaleInfoW GetLogicalDrives
GetLongPathNameA GetLongPathNameW GetModuleFileNameA GetModuleFileNameW GetModuleHandleA
GetModuleHandleExA GetModuleHandleExW GetModuleHandleW GetNativeSystemInfo GetOEMCP
GetOverlappedResult GetPriorityClass GetPrivateProfileStringW GetProcAddress GetProcessHeap
GetProcessHeaps GetProcessId GetProcessTimes GetShortPathNameW GetStartupInfoA GetStartupInfoW
GetStdHandle GetStringTypeA GetStringTypeW GetSystemDefaultLCID GetSystemDefaultLangID
GetSystemDefaultUILanguage GetSystemDirectoryA GetSystemDirectoryW GetSystemInfo GetSystemTime
GetSystemTimeAsFileTime GetSystemWindowsDirectoryA GetSystemWindowsDirectoryW
GetSystemWow64DirectoryW GetTempFileNameW GetTempPathW GetThreadLocale GetTickCount
GetTimeZoneInformation GetUserDefaultLCID GetUserDefaultLangID GetUserDefaultUILanguage GetVersion
GetVersionExA GetVersionExW GetVolumeInformationW GetVolumePathNameW GetWindowsDirectoryA
GetWindowsDirectoryW GlobalAddAtomW GlobalAlloc GlobalFree GlobalLock GlobalMemoryStatus
GlobalMemoryStatusEx GlobalSize GlobalUnlock HeapAlloc HeapCreate HeapDestroy HeapFree HeapReAlloc
HeapSize HeapValidate InitializeCriticalSection InitializeCriticalSectionAndSpinCount
InterlockedCompareExchange InterlockedDecrement InterlockedExchange InterlockedExchangeAdd
InterlockedIncrement IsBadReadPtr IsDBCSLeadByte IsDBCSLeadByteEx IsDebuggerPresent
IsProcessorFeaturePresent IsValidCodePage IsValidLocale IsWow64Process LCMapStringA LCMapStringW
LeaveCriticalSection LoadLibraryA LoadLibraryExA LoadLibraryExW LoadLibraryW LoadResource
LocalAlloc LocalFileTimeToFileTime LocalFree LocalLock LocalReAlloc LocalSize LocalUnlock LockFile
LockResource MapViewOfFile MoveFileA MoveFileExA MoveFileExW MoveFileW MulDiv MultiByteToWideChar
OpenEventW OpenFileMappingW OpenMutexA OpenMutexW OpenProcess OpenThread OutputDebugStringA
OutputDebugStringW PeekNamedPipe Process32FirstW Process32NextW QueryPerformanceCounter
QueryPerformanceFrequency RaiseException ReadFile ReleaseMutex ReleaseSemaphore RemoveDirectoryA
RemoveDirectoryW ReplaceFileW ResetEvent ResumeThread RtlUnwind SearchPathW SetCurrentDirectoryA
SetCurrentDirectoryW SetDllDirectoryW SetEndOfFile SetEnvironmentVariableA
SetEnvironmentVariableW SetErrorMode SetEvent SetFileAttributesA SetFileAttributesW SetFilePointer
SetFilePointerEx SetFileTime SetHandleInformation SetLastError SetPriorityClass SetStdHandle
SetThreadPriority SetUnhandledExceptionFilter SizeofResource Sleep SleepEx SystemTimeToFileTime
SystemTimeToTzSpecificLocalTime TerminateProcess TerminateThread TlsAlloc TlsFree TlsGetValue
TlsSetValue TryEnterCriticalSection UnhandledExceptionFilter UnlockFile UnmapViewOfFile
VirtualAlloc VirtualFree VirtualProtect VirtualQuery WaitForMultipleObjects WaitForSingleObject
WaitForSingleObjectEx WideCharToMultiByte WriteConsoleW WriteFile WritePrivateProfileStringW
lstrcatA lstrcatW lstrcmpA lstrcmpW lstrcmpiA lstrcmpiW lstrcpyA lstrcpyW lstrcpynA lstrcpynW
lstrlenA lstrlenW
""".split())

# Newer than 32-bit XP: must be looked up at run time, never imported.
KERNEL32_LATER = {"SetDefaultDllDirectories", "AddDllDirectory", "IsWow64Process2",
                  "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection",
                  "GetTickCount64", "InitializeCriticalSectionEx", "FlsAlloc",
                  "GetFileInformationByHandleEx", "CreateSymbolicLinkW"}

SUPPORTED_OS = ["{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                "{e2011457-1546-43c5-a5fe-008deee3d3f0}"]

WINDOWS_SETTINGS_2005 = "{http://schemas.microsoft.com/SMI/2005/WindowsSettings}"
WINDOWS_SETTINGS_2016 = "{http://schemas.microsoft.com/SMI/2016/WindowsSettings}"

# Template order: id, class, style, x, y, cx, cy, title.
DIALOG_CONTROLS = [
    (24, "Static", 0x50000008, 8, 42, 316, 130, ""),
    (9, "Button", 0x50010003, 8, 177, 192, 9, ""),
    (7, "Static", 0x40000000, 8, 42, 308, 9, ""),
    (21, "Edit", 0x40810080, 8, 53, 269, 13, ""),
    (8, "Button", 0x40010000, 279, 52, 45, 14, ""),
    (10, "Button", 0x40010003, 8, 73, 229, 10, ""),
    (22, "msctls_progress32", 0x40000001, 8, 178, 316, 11, ""),
    (11, "Button", 0x40010003, 8, 42, 229, 10, ""),
    (3, "Button", 0x40010000, 168, 201, 50, 14, ""),
    (1, "Button", 0x58010001, 219, 201, 50, 14, ""),
    (2, "Button", 0x50010000, 274, 201, 50, 14, ""),
    (-1, "Static", 0x50000010, 0, 35, 354, 1, ""),
    (-1, "Static", 0x50000010, 0, 193, 333, 1, ""),
    (4, "Static", 0x50000000, 0, 0, 352, 35, ""),
    (5, "Static", 0x50000000, 10, 5, 280, 10, ""),
    (6, "Static", 0x50000000, 15, 16, 276, 16, ""),
    (23, "Static", 0x50000003, 297, 8, 21, 20, 1),
]
PREDEFINED_CLASSES = {0x80: "Button", 0x81: "Edit", 0x82: "Static", 0x83: "ListBox",
                      0x84: "ScrollBar", 0x85: "ComboBox"}


def sz_or_ord(data, at):
    """Reads a sz_Or_Ord field; returns (value, offset after it)."""
    first = struct.unpack_from("<H", data, at)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, at + 2)[0], at + 4
    end = at
    while struct.unpack_from("<H", data, end)[0]:
        end += 2
    return data[at:end].decode("utf-16-le"), end + 2


def parse_dialog_ex(data):
    ver, sig, help_id, ex_style, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    at = 26
    menu, at = sz_or_ord(data, at)
    cls, at = sz_or_ord(data, at)
    title, at = sz_or_ord(data, at)
    point, weight, italic, charset = struct.unpack_from("<HHBB", data, at)
    face, at = sz_or_ord(data, at + 6)
    head = dict(ver=ver, sig=sig, help_id=help_id, ex_style=ex_style, style=style, count=count,
                rect=(x, y, cx, cy), menu=menu, cls=cls, title=title,
                font=(point, weight, italic, charset, face))
    controls = []
    for _ in range(count):
        at += -at % 4
        help_id, ex_style, style, x, y, cx, cy, cid = struct.unpack_from("<IIIhhhhi", data, at)
        cls, at = sz_or_ord(data, at + 24)
        title, at = sz_or_ord(data, at)
        extra = struct.unpack_from("<H", data, at)[0]
        at += 2 + extra
        controls.append(dict(id=cid, cls=PREDEFINED_CLASSES.get(cls, cls), style=style,
                             rect=(x, y, cx, cy), title=title, help_id=help_id, ex_style=ex_style,
                             extra=extra))
    return head, controls


def version_strings(data):
    """The StringFileInfo values of a VS_VERSIONINFO block."""
    def node(at):
        length, value_length, kind = struct.unpack_from("<HHH", data, at)
        key_end = at + 6
        while struct.unpack_from("<H", data, key_end)[0]:
            key_end += 2
        key = data[at + 6:key_end].decode("utf-16-le")
        value_at = key_end + 2
        value_at += -value_at % 4
        return at, length, value_length, kind, key, value_at

    def children(start, end):
        at = start
        while at < end:
            at += -at % 4
            if at >= end:
                break
            yield node(at)
            at += struct.unpack_from("<H", data, at)[0]

    at, length, value_length, _, key, value_at = node(0)
    assert key == "VS_VERSION_INFO", key
    signature = struct.unpack_from("<I", data, value_at)[0]
    found = {"__signature__": signature}
    # StringFileInfo -> string table -> values
    for sat, slen, _, _, skey, svalue in children(value_at + value_length, length):
        if skey != "StringFileInfo":
            continue
        for tat, tlen, _, _, tkey, tvalue in children(svalue, sat + slen):
            for vat, vlen, vvlen, _, vkey, vvalue in children(tvalue, tat + tlen):
                text = data[vvalue:vvalue + 2 * vvlen].decode("utf-16-le").rstrip("\0")
                found[vkey] = text
    return found


class StubImageTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.image = PeImage(STUB.read_bytes())
        cls.imports = cls.image.imports()
        cls.resources = cls.image.resources()

    def imported(self, dll):
        names = []
        for name, functions in self.imports:
            if name.lower() == dll:
                names += functions
        return names

    def resource(self, kind, name, lang=1033):
        key = (kind, name, lang)
        self.assertIn(key, self.resources, f"resource {key} missing; have {sorted(self.resources, key=str)}")
        return self.resources[key]

    def test_headers(self):
        img = self.image
        self.assertEqual(img.machine, 0x14C)
        self.assertEqual(img.subsystem, 2, "Windows GUI subsystem")
        self.assertEqual(img.subsystem_version, (5, 1))
        self.assertEqual(img.directory(9), (0, 0), "a TLS directory means C runtime start-up code")
        # Every setup file carries the stub: its size is a budget, not a result.
        self.assertLessEqual(STUB.stat().st_size, 65536)
        # NX compatible and relocatable.
        self.assertEqual(img.dll_characteristics & 0x140, 0x140)
        # IMAGE_FILE_LARGE_ADDRESS_AWARE: 4 GiB of address space under WOW64.
        self.assertEqual(img.characteristics & 0x20, 0x20)

    def test_load_configuration(self):
        # The loader resolves the stub's own imports from System32 only
        # (DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32, Windows 10 1607
        # and later): nothing beside the setup file loads before ProcessEntry.
        img = self.image
        rva, size = img.directory(10)
        self.assertNotEqual(rva, 0, "no load configuration directory")
        self.assertEqual(size, 64, "the size Windows XP's loader accepts")
        self.assertEqual(rva % 4, 0)
        at = img.offset(rva)
        self.assertEqual(struct.unpack_from("<I", img.data, at)[0], 72, "Size as far as SEHandlerCount")
        self.assertEqual(struct.unpack_from("<H", img.data, at + 0x36)[0], 0x800)
        # No SEH handler table, as IMAGE_DLLCHARACTERISTICS_NO_SEH says.
        self.assertEqual(struct.unpack_from("<II", img.data, at + 64), (0, 0))
        self.assertEqual(img.dll_characteristics & 0x400, 0x400)

    def test_imports_only_xp_system_dlls(self):
        dlls = {name.lower() for name, _ in self.imports}
        self.assertLessEqual(dlls, ALLOWED_DLLS)
        self.assertIn("kernel32.dll", dlls)

    def test_no_c_runtime_start_up(self):
        for dll, functions in self.imports:
            names = {f for f in functions if isinstance(f, str)}
            self.assertFalse(names & CRT_STARTUP, f"{dll} start-up imports")
        msvcrt = set(self.imported("msvcrt.dll"))
        self.assertLessEqual(msvcrt, MSVCRT_ALLOWED, "msvcrt beyond memory and string routines")

    def test_kernel32_imports_exist_on_xp(self):
        kernel32 = set(self.imported("kernel32.dll"))
        self.assertFalse(kernel32 & KERNEL32_LATER, "post-XP functions must be looked up at run time")
        self.assertLessEqual(kernel32, KERNEL32_XP, "not known to exist in 32-bit Windows XP")
        self.assertFalse([f for f in kernel32 if isinstance(f, int)], "kernel32 by ordinal")

    def test_ordinal_bindings(self):
        shell32 = self.imported("shell32.dll")
        self.assertIn(680, shell32)
        self.assertNotIn("IsUserAnAdmin", shell32)
        comctl32 = self.imported("comctl32.dll")
        self.assertIn(17, comctl32)
        self.assertNotIn("InitCommonControls", comctl32)
        # No other function of these three DLLs may be bound by a bare ordinal.
        self.assertEqual([f for f in shell32 if isinstance(f, int)], [680])
        self.assertEqual([f for f in comctl32 if isinstance(f, int)], [17])

    def test_shlwapi_ordinal_176(self):
        shlwapi = self.imported("shlwapi.dll")
        if not shlwapi:
            self.skipTest("the stub imports nothing from shlwapi yet")
        self.assertNotIn("IUnknown_QueryService", shlwapi)
        self.assertEqual([f for f in shlwapi if isinstance(f, int)], [176])

    def test_manifest(self):
        text = self.resource(RT_MANIFEST, 1).decode("utf-8")
        root = ET.fromstring(text)
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        compat = "{urn:schemas-microsoft-com:compatibility.v1}"
        self.assertEqual(root.tag, v1 + "assembly")
        self.assertEqual(root.get("manifestVersion"), "1.0")
        own = root.find(v1 + "assemblyIdentity")
        self.assertEqual((own.get("version"), own.get("processorArchitecture"), own.get("type")),
                         ("1.0.0.0", "*", "win32"))
        self.assertTrue(own.get("name"))
        level = root.find(f"{v3}trustInfo/{v3}security/{v3}requestedPrivileges/{v3}requestedExecutionLevel")
        self.assertIsNotNone(level, "requestedExecutionLevel")
        self.assertEqual((level.get("level"), level.get("uiAccess")), ("requireAdministrator", "false"))
        deps = root.findall(f"{v1}dependency/{v1}dependentAssembly/{v1}assemblyIdentity")
        self.assertEqual(len(deps), 1)
        self.assertEqual(dict(deps[0].attrib), {
            "type": "win32", "name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
            "processorArchitecture": "*", "publicKeyToken": "6595b64144ccf1df", "language": "*"})
        ids = [e.get("Id") for e in root.findall(f"{compat}compatibility/{compat}application/{compat}supportedOS")]
        self.assertEqual(ids, SUPPORTED_OS)
        # Aware of each screen's DPI (the wizard handles WM_DPICHANGED) where
        # Windows knows per-monitor v2, of the system's before, so that
        # Windows does not stretch the wizard as a bitmap.
        settings = root.findall(f"{v3}application/{v3}windowsSettings/*")
        self.assertEqual([(e.tag, e.text) for e in settings], [(WINDOWS_SETTINGS_2005 + "dpiAware", "true"),
                                                              (WINDOWS_SETTINGS_2016 + "dpiAwareness", "PerMonitorV2")])
        # Only the reader's indentation is left out of the image.
        self.assertNotIn("\n", text)
        self.assertNotIn("> <", text)
        # Exactly one manifest, and it is the process manifest (id 1).
        self.assertEqual([k for k in self.resources if k[0] == RT_MANIFEST], [(RT_MANIFEST, 1, 1033)])

    def test_dialog_template(self):
        head, controls = parse_dialog_ex(self.resource(RT_DIALOG, 1))
        self.assertEqual((head["ver"], head["sig"]), (1, 0xFFFF), "extended template")
        self.assertEqual((head["help_id"], head["ex_style"], head["style"]), (0, 0, 0x90CA0848))
        self.assertEqual(head["rect"], (0, 0, 331, 222))
        self.assertEqual((head["menu"], head["cls"], head["title"]), ("", "", ""))
        self.assertEqual(head["font"], (8, 0, 0, 0, "MS Shell Dlg"))
        self.assertEqual(head["count"], 17)
        got = [(c["id"], c["cls"], c["style"], *c["rect"], c["title"]) for c in controls]
        self.assertEqual(got, DIALOG_CONTROLS)
        for c in controls:
            self.assertEqual((c["help_id"], c["ex_style"], c["extra"]), (0, 0, 0), c)

    def test_icon_group(self):
        group = self.resource(RT_GROUP_ICON, 1)
        reserved, kind, count = struct.unpack_from("<HHH", group, 0)
        self.assertEqual((reserved, kind, count), (0, 1, 2))
        sizes = []
        for i in range(count):
            w, h, colours, _, planes, bits, size, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            sizes.append((w, h, bits))
            image = self.resource(RT_ICON, icon_id)
            self.assertEqual(len(image), size)
            hsize, bw, bh, bplanes, bbits = struct.unpack_from("<IiiHH", image, 0)
            self.assertEqual((hsize, bw, bh, bplanes, bbits), (40, w, 2 * h, 1, 8))
            # header, palette (biClrUsed entries, 0 meaning all 256), 8-bit
            # image, 1-bit mask (rows of 4 bytes)
            used = struct.unpack_from("<I", image, 32)[0]
            self.assertLessEqual(used, 256)
            palette = 4 * (used or 256)
            self.assertEqual(len(image), 40 + palette + w * h + ((w + 31) // 32) * 4 * h)
        self.assertEqual(sizes, [(32, 32, 8), (16, 16, 8)])

    def test_package_hash_slot(self):
        # RCDATA 2 (resources/stub_capabilities.h): 32 zero bytes for the
        # packer to bind the package to; the stub checks nothing while zero.
        self.assertEqual(self.resource(RT_RCDATA, 2), bytes(32))

    def test_version_block(self):
        values = version_strings(self.resource(RT_VERSION, 1))
        self.assertEqual(values.pop("__signature__"), 0xFEEF04BD)
        for key in ("FileDescription", "FileVersion", "ProductVersion"):
            self.assertTrue(values.get(key), key)

    def test_no_static_initialisers(self):
        objects = sorted((WIN_BUILD / "CMakeFiles" / "setup.dir").rglob("*.obj"))
        self.assertTrue(objects, "no stub objects in the Windows build folder")
        for obj in objects:
            names = coff_section_names(obj.read_bytes())
            bad = [n for n in names if n.startswith((".ctors", ".dtors", ".init_array", ".CRT$X"))]
            self.assertFalse(bad, f"{obj.name} needs start-up code: {bad}")


if __name__ == "__main__":
    unittest.main()
