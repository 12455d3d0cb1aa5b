#include "install/install_run.h"

#include <commctrl.h>

#include "env/app_message_win32.h"
#include "env/system_probes.h"
#include "install/folder_levels.h"
#include "install/install_location.h"
#include "install/progress.h"
#include "install/registration.h"
#include "install/safe_target.h"
#include "install/shortcuts.h"
#include "package/package.h"
#include "install/log_output.h"

bool InstallFinished;

namespace {

// In the wizard the files are written on a thread of their own while the
// wizard's thread shows the bar and the log: under Wine, laying out a log
// line in the rich edit costs about as much as writing a small file, and on
// two cores the two overlap. Meanwhile the wizard's thread keeps taking its
// messages (TakeMessagesWithoutInput).
bool WritingOnWorker;
volatile LONG WrittenPosition;  // the bar position of the bytes written so far

// On the wizard's thread: the bar and the due log lines.
void ShowFilePhase() {
  uint32_t position = static_cast<uint32_t>(WrittenPosition);
  if (TakeBarUpdate(&Progress, position, GetTickCount()))
    SendMessageW(static_cast<HWND>(Progress.Bar), PBM_SETPOS, position, 0);
  ShowHandedOverLog();
}

void AdvanceProgress(ProgressState* state, uint32_t count) {
  InterlockedExchange(&WrittenPosition, static_cast<LONG>(AddWritten(state, count)));
  // Where no thread could be started, the wizard's thread writes the files.
  if (state->Bar && !WritingOnWorker) ShowFilePhase();
}

VOID CALLBACK ProgressTimerProc(HWND, UINT, UINT_PTR, DWORD) {
  HWND bar = static_cast<HWND>(Progress.Bar);
  uint32_t position = static_cast<uint32_t>(SendMessageW(bar, PBM_GETPOS, 0, 0));
  uint32_t next = CreepPosition(position);
  if (next != position) SendMessageW(bar, PBM_SETPOS, next, 0);
}

void LogFailure(const WChar* path, DWORD code) {
  FormatArg args[2] = {TextArg(path), NumberArg(static_cast<int32_t>(code))};
  AppendLog(u"Failed to write file: %s, code: %d\r\n", args, 2);
}

// Writes straight from the decoded block in pieces of 64 KiB at most, as
// its chunks are decoded. A failed or short write ends it with the error,
// so that a truncated file is never taken for a written one; so does a
// chunk that failed.
bool WriteFileData(ProgressState* state, uint32_t offset, uint32_t size, HANDLE file, DWORD* error) {
  while (size > 0) {
    const uint8_t* data;
    uint32_t available;
    *error = PackageBytes(offset, &data, &available);
    if (*error) return false;
    uint32_t chunk = NextChunk(size < available ? size : available);
    DWORD count = 0;
    BOOL ok = WriteFile(file, data, chunk, &count, nullptr);
    DWORD lastError = ok ? 0 : GetLastError();
    AdvanceProgress(state, count);
    if (!ok || count != chunk) {
      // A short write that reports success is a full disk.
      *error = ok || lastError == 0 ? ERROR_DISK_FULL : lastError;
      return false;
    }
    offset += chunk;
    size -= chunk;
  }
  return true;
}

// The folder whose directories the run made last (see folder_levels.h).
WChar MadeFolder[PATH_CAPACITY];

// How an existing folder of the run is judged: one that the administrator
// was only asked about keeps its owner or is refused; the product's own, or
// one this run made, is taken back whatever it allows.
FolderCheck ExistingFolderCheck() {
  return FreshInstall && !TargetDirCreated ? FOLDER_REFUSE_FOREIGN : FOLDER_TAKE_BACK;
}

// A level that was there already is checked before anything goes into it;
// one that cannot be made shows as the failure of the file's open.
uint32_t MakeDirectory(const WChar* path) {
  if (MakeFolder(path) != ERROR_ALREADY_EXISTS) return 0;
  return CheckExistingFolder(path, ExistingFolderCheck());
}

// Makes the directories of the relative name, outermost first, as far as
// they are not those of the folder made last. 0, or why a level is refused.
DWORD CreateParentDirs(WChar* path, uint32_t namePosition) {
  return MakeFolderLevels(path, namePosition, MadeFolder, MakeDirectory);
}

// The entry's file opened for writing; 0, or why it cannot be.
DWORD OpenEntryFile(WChar* path, uint32_t namePosition, uint32_t flags, TargetFile* file) {
  DWORD error = OpenTargetFile(path, file);
  if (error == ERROR_PATH_NOT_FOUND) {
    // A folder made for an earlier name was removed since (by someone
    // else): make every level again, as for a name of a new folder.
    ForgetMadeFolder(MadeFolder);
    error = CreateParentDirs(path, namePosition);
    if (error) return error;
    error = OpenTargetFile(path, file);
  }
  if (error == ERROR_SHARING_VIOLATION && (flags & FE_REPLACE_LOCKED)) {
    error = MoveLockedFileAside(path);
    if (error) return error;
    error = OpenTargetFile(path, file);
  }
  return error;
}

// MainProgram as a relative name of the package, upper-cased with
// backslashes, to find the entry that the configure command starts.
WChar MainProgramName[PATH_CAPACITY];

void PrepareMainProgramName() {
  MainProgramName[0] = 0;
  const WChar* program = Config(CFG_MAIN_PROGRAM);
  if (!program || !WideCopy(MainProgramName, PATH_CAPACITY, program)) return;
  for (WChar* c = MainProgramName; *c; ++c)
    if (*c == u'/') *c = u'\\';
  CharUpperBuffW(WinText(MainProgramName), WideLength(MainProgramName));
}

bool IsMainProgram(const WChar* name) {
  uint32_t length = WideLength(name);
  if (length != WideLength(MainProgramName)) return false;
  WChar folded[PATH_CAPACITY];
  WideCopy(folded, PATH_CAPACITY, name);
  CharUpperBuffW(WinText(folded), length);
  for (uint32_t i = 0; i < length; ++i)
    if (folded[i] != MainProgramName[i]) return false;
  return true;
}

// For the failure line of a name that does not fit: the path as far as it
// fits, with non-ASCII bytes shown as '?'. Only ever logged, never opened.
void CutNameForFailureLine(WChar* path, uint32_t namePosition, const char* name) {
  uint32_t i = namePosition;
  for (; *name && i + 1 < PATH_CAPACITY; ++name, ++i) {
    unsigned char c = static_cast<unsigned char>(*name);
    path[i] = c < 0x80 ? c : u'?';
  }
  path[i] = 0;
}

// Writes one applicable entry below the install directory: 0, or the Win32
// error that stopped it, with path naming the file for the failure line.
DWORD InstallEntry(const FileEntry* entry, WChar* path, uint32_t namePosition) {
  const char* name = Package.NamesArea + entry->NameOffset;
  UINT codePage = (Package.Header->Flags & PH_UTF8_NAMES) ? CP_UTF8 : CP_ACP;
  if (!MultiByteToWideChar(codePage, 0, name, -1, WinText(path + namePosition), static_cast<int>(PATH_CAPACITY - namePosition))) {
    CutNameForFailureLine(path, namePosition, name);
    return ERROR_FILENAME_EXCED_RANGE;
  }
  // The name rule lets '/' through: every level is made and checked only
  // at a backslash.
  for (WChar* c = path + namePosition; *c; ++c)
    if (*c == u'/') *c = u'\\';
  FormatArg arg = TextArg(path);
  AppendLog(u"Copy %s\r\n", &arg, 1);
  // Without a file to open, nothing would show that a folder made for an
  // earlier name has gone since.
  if (entry->Flags & FE_NO_EXTRACT) ForgetMadeFolder(MadeFolder);
  DWORD error = CreateParentDirs(path, namePosition);
  if (error || (entry->Flags & FE_NO_EXTRACT)) return error;

  // A later entry of the main program's name replaces the one held.
  bool mainProgram = IsMainProgram(path + namePosition);
  if (mainProgram) ReleaseHeldFile();
  TargetFile file;
  error = OpenEntryFile(path, namePosition, entry->Flags, &file);
  if (error) return error;
  if (!WriteFileData(&Progress, entry->DataOffset, entry->DataSize, file.Handle, &error)) {
    // A failed run leaves what it wrote; a file it was replacing stays whole.
    if (file.Replacing) DiscardTargetFile(&file);
    else CloseHandle(file.Handle);
    return error;
  }
  FILETIME lastWrite = {entry->LastWriteTimeLow, entry->LastWriteTimeHigh};
  SetFileTime(file.Handle, nullptr, nullptr, &lastWrite);
  // The configure command starts the main program by name: held from here
  // on, it is the file just written when it starts.
  return CommitTargetFile(&file, path, mainProgram);
}

// The install directory as a whole, before the first file: a link there or
// higher up, a folder of someone else's on a fresh install, or rules that
// let others write there and cannot be taken back.
bool CheckInstallDir(WChar* path, uint32_t namePosition) {
  path[namePosition] = 0;
  DWORD error = CheckInstallFolder(path, namePosition, ExistingFolderCheck());
  if (!error) return true;
  LogFailure(path, error);
  return false;
}

// Writes the applicable entries in package order and stops at the first
// that fails, after its failure line.
bool WriteEntries(WChar* path, uint32_t namePosition) {
  for (uint32_t i = 0; i < Package.Header->FileCount; ++i) {
    const FileEntry* entry = &Package.Entries[i];
    if (!IsFlagsApplicable(entry->Flags, OsClass, ArchClass)) continue;
    DWORD error = InstallEntry(entry, path, namePosition);
    if (error) {
      LogFailure(path, error);
      return false;
    }
  }
  return true;
}

// The file phase, on the thread that writes (the worker, or in silent mode
// the only thread), with WOW64 file-system redirection off around it and
// nowhere else: the product's files go where their paths say, also below
// system32. Redirection is per thread and also redirects DLL loads, so only
// file and security calls on handles and paths run meanwhile (CreateFileW,
// CreateDirectoryW, WriteFile, SetFileTime, the renames and deletions by
// handle, GetFinalPathNameByHandleW, GetSecurityInfo and SetSecurityInfo),
// and ntmarta, which the last two load on first use, is loaded by full path
// beforehand (PrepareTargetChecks). Shortcuts, registration and the
// configure command run afterwards, with redirection on. A thread that owns
// windows never turns it off: their controls load DLLs as they draw.
bool WriteFiles(WChar* path, uint32_t namePosition, bool ownsWindows) {
  void* redirectionToken = nullptr;
  bool redirectionDisabled = !ownsWindows && DisableFsRedirection(&redirectionToken) != 0;
  bool written = CheckInstallDir(path, namePosition) && WriteEntries(path, namePosition);
  if (redirectionDisabled) RevertFsRedirection(redirectionToken);
  return written;
}

WChar* WorkerPath;
uint32_t WorkerNamePosition;

DWORD WINAPI WriteFilesOnWorker(void*) { return WriteFiles(WorkerPath, WorkerNamePosition, false); }

// A window whose thread leaves its messages for 5 s counts as not responding:
// Windows then shows a ghost in its place and offers to end the setup, which
// would leave a partial installation without an uninstall entry. So the
// wizard repaints, moves and answers while the files are written, but takes
// no input in its client area: keyboard and mouse messages are dropped, and
// nothing queued meanwhile is left for the outcome page (ShowFinishButton).
// Non-client input passes: the caption moves the window and the log's scroll
// bar scrolls; the close box is greyed.
void TakeMessagesWithoutInput() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    UINT id = message.message;
    if ((id < WM_KEYFIRST || id > WM_KEYLAST) && (id < WM_MOUSEFIRST || id > WM_MOUSELAST))
      DispatchMessageW(&message);
  }
}

// WriteFiles, on a worker while the wizard shows its progress.
bool WriteFilesShowingProgress(WChar* path, uint32_t namePosition) {
  WorkerPath = path;
  WorkerNamePosition = namePosition;
  // Set before the worker runs: it must never send to the wizard's windows.
  // Each send would wait until the wizard's thread takes it; the lines reach
  // the pane in batches instead.
  WritingOnWorker = Progress.Bar && StartLogHandOver();
  HANDLE worker = WritingOnWorker ? CreateThread(nullptr, 0, WriteFilesOnWorker, nullptr, 0, nullptr) : nullptr;
  if (!worker) {
    EndLogHandOver();
    WritingOnWorker = false;
    // Where no thread could be started, the wizard's thread writes, its
    // paths redirected as any of its own.
    return WriteFiles(path, namePosition, Progress.Bar != nullptr);
  }
  HANDLE wakeUps[2] = {worker, LogHandOverFullEvent()};
  while (MsgWaitForMultipleObjects(2, wakeUps, FALSE, PROGRESS_SHOW_MS / 2, QS_ALLINPUT) != WAIT_OBJECT_0) {
    TakeMessagesWithoutInput();
    ShowFilePhase();
  }
  DWORD written = 0;
  GetExitCodeThread(worker, &written);
  CloseHandle(worker);
  WritingOnWorker = false;
  return written != 0;
}

// The file phase is over: the bar and the pane show where it ended.
void EndFilePhase() {
  if (Progress.Bar)
    SendMessageW(static_cast<HWND>(Progress.Bar), PBM_SETPOS, FilePhasePosition(Progress.Written, Progress.Total), 0);
  EndLogHandOver();
}

// Shortcuts, registration and configure command, with the bar creeping on
// meanwhile; then the bar at its end and the closing log line.
void FinishInstall(HWND window, WChar* path, uint32_t namePosition, int desktopShortcut) {
  // In silent mode there is no window to own the timer, and nothing to show.
  if (window) SetTimer(window, PROGRESS_TIMER_ID, PROGRESS_TIMER_MS, ProgressTimerProc);
  if (FreshInstall) {
    path[namePosition] = 0;
    CreateShortcuts(path, desktopShortcut);
  }
  RegisterUninstall(path, namePosition, window);
  if (window) KillTimer(window, PROGRESS_TIMER_ID);
  if (Progress.Bar) SendMessageW(static_cast<HWND>(Progress.Bar), PBM_SETPOS, PROGRESS_END, 0);
  AppendLog(u"End");
}

}  // namespace

int RunInstall(HWND window, HWND bar, WChar* path, uint32_t namePosition, int desktopShortcut) {
  PrepareTargetChecks();
  PrepareMainProgramName();
  Progress.Bar = bar;
  StartFilePhase(&Progress, Package.ApplicableTotal, GetTickCount());
  WrittenPosition = 0;
  ForgetMadeFolder(MadeFolder);
  bool written = namePosition < PATH_CAPACITY && WriteFilesShowingProgress(path, namePosition);
  EndFilePhase();
  if (written) FinishInstall(window, path, namePosition, desktopShortcut);
  ReleaseTargetHolds();
  if (!written) return 1;
  InstallFinished = true;
  return 0;
}
