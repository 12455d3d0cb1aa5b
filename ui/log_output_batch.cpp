#include "ui/log_output_batch.h"

namespace {

void SendHeld(LogBatch* batch, uint32_t now, LogSink sink) {
  if (batch->Length) sink(batch->Text);
  batch->Length = 0;
  batch->ShownAt = now;
}

}  // namespace

void HoldLines(LogBatch* batch, uint32_t now) {
  // Nothing is held while lines are not held back.
  batch->ShownAt = now;
  batch->Holding = true;
}

void AddLine(LogBatch* batch, const WChar* line, uint32_t now, LogSink sink) {
  if (!batch->Holding) {
    sink(line);
    return;
  }
  uint32_t length = WideLength(line);
  if (batch->Length + length >= LOG_BATCH_CAPACITY) SendHeld(batch, now, sink);
  WideCopy(batch->Text + batch->Length, LOG_BATCH_CAPACITY - batch->Length, line);
  batch->Length += length;
  ShowDueLines(batch, now, sink);
}

void ShowDueLines(LogBatch* batch, uint32_t now, LogSink sink) {
  if (batch->Length && now - batch->ShownAt >= LOG_BATCH_MS) SendHeld(batch, now, sink);
}

void ReleaseLines(LogBatch* batch, uint32_t now, LogSink sink) {
  SendHeld(batch, now, sink);
  batch->Holding = false;
}
