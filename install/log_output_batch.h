// Lines of the installation log held back and handed to the pane in one
// piece. Each insertion into a rich edit control has a cost of its own
// (selection, scrolling, repainting) on top of laying out its lines, and the
// file phase logs a line per file; the pane's final text is the same either
// way, because a batch is exactly its lines one after the other. So batches
// are few: a fifth of a second of lines, up to LOG_BATCH_CAPACITY characters
// of them.
//
// The lines are held by the thread that writes the files and handed out by
// the pane's thread; the caller keeps the two apart (log_output_win32.cpp).
#pragma once
#include <stdint.h>

#include "base/wide_text.h"

enum : uint32_t {
  LOG_LINE_CAPACITY = 256,
  LOG_BATCH_CAPACITY = 65536,
  // Held lines are due this long after the last batch.
  LOG_BATCH_MS = 200,
};

typedef void (*LogSink)(const WChar* text);

struct LogBatch {
  WChar Text[LOG_BATCH_CAPACITY];  // the lines held back, terminated
  uint32_t Length;
  uint32_t ShownAt;  // when the last batch went out, in ms of a wrapping tick count
  bool Holding;      // false: lines are not held back
  bool Full;         // a line found no room: the held lines are due at once
};

// From now on lines are held back; the first batch is due LOG_BATCH_MS
// after now.
void StartBatching(LogBatch* batch, uint32_t now);
// Appends line to the held lines. False, with nothing appended, when they
// have no room for it: they are then due whatever the time.
bool AddToBatch(LogBatch* batch, const WChar* line);
// Hands the held lines to sink when they are due: LOG_BATCH_MS have passed
// since the last batch (a large file's line must not wait until the next
// file's), or they are full.
void EmitDueBatch(LogBatch* batch, uint32_t now, LogSink sink);
// Hands every held line to sink and stops holding lines back.
void EmitBatchAndStop(LogBatch* batch, uint32_t now, LogSink sink);
