// The installation log: lines appended to the wizard's rich text pane.
#pragma once
#include <windows.h>

#include "base/wide_text.h"

// The wizard's text pane, which the log writes into; null in a silent
// installation.
void SetLogPane(HWND pane);

// Formats one line (at most 255 characters) and appends it to LogPane. On
// the pane's thread it shows at once; between StartLogHandOver and EndLogHandOver it
// comes from the thread writing the files and is held back.
void AppendLog(const WChar* format, const FormatArg* args, uint32_t argCount);
inline void AppendLog(const WChar* format) { AppendLog(format, nullptr, 0); }
// On the pane's thread, before the writer starts: from now on lines are held
// and reach the pane in batches (see log_output_batch.h), each when the
// pane's thread calls ShowHandedOverLog. False, holding nothing, without a pane or
// where the hand-over cannot be set up.
bool StartLogHandOver();
// Signalled when the writer waits for the pane's thread to take the held
// lines; valid after StartLogHandOver has succeeded.
HANDLE LogHandOverFullEvent();
// On the pane's thread: shows the held lines if they are due.
void ShowHandedOverLog();
// On the pane's thread, once the writer has ended: shows every held line
// and stops holding. Nothing may show the outcome before: the pane would
// not yet hold every line.
void EndLogHandOver();
