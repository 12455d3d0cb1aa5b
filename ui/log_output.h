// The installation log: lines appended to the wizard's rich text pane.
#pragma once
#include <windows.h>

#include "env/wide_text.h"

extern HWND LogPane;  // null in a silent installation

// Formats one line (at most 255 characters) and appends it to LogPane.
void AppendLog(const WChar* format, const FormatArg* args, uint32_t argCount);
inline void AppendLog(const WChar* format) { AppendLog(format, nullptr, 0); }
// Between these two, lines reach the pane in batches (see log_output_batch.h).
// Nothing may dispatch messages or show the outcome before ReleaseLog: the
// pane would not yet hold every line.
void HoldLog();
void ReleaseLog();
// Shows the held lines if they are due; for callers that run while a file
// is being written.
void ShowDueLog();
