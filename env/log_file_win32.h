// The log file that /LOG= asks for, and /SUPPRESSMSGBOXES. Below the message
// boxes, so that a refusal or a question reaches the file too.
#pragma once
#include <windows.h>

#include "base/wide_text.h"

// No message box is shown: refusals only log, questions are answered no.
extern bool MessageBoxesSuppressed;

// The log file, opened for writing without buffering; lives until exit.
void SetLogFile(HANDLE file);
bool HasLogFile();
// Writes text as UTF-8; called by one thread at a time (log_output.h).
void WriteLogFile(const WChar* text);
// One line for a message box: its text on one line, then the answer when
// answer is not 0.
void LogMessageBox(const WChar* text, int answer);
