#include "install/log_output_batch.h"

namespace {

void SendHeld(LogBatch* batch, uint32_t now, LogSink sink) {
  if (batch->Length) sink(batch->Text);
  batch->Length = 0;
  batch->Full = false;
  batch->ShownAt = now;
}

}  // namespace

void StartBatching(LogBatch* batch, uint32_t now) {
  // Nothing is held while lines are not held back.
  batch->ShownAt = now;
  batch->Holding = true;
}

bool AddToBatch(LogBatch* batch, const WChar* line) {
  uint32_t length = WideLength(line);
  // A line is far shorter than a batch, so an empty batch always takes it.
  if (batch->Length + length >= LOG_BATCH_CAPACITY) {
    batch->Full = true;
    return false;
  }
  WideCopy(batch->Text + batch->Length, LOG_BATCH_CAPACITY - batch->Length, line);
  batch->Length += length;
  return true;
}

void EmitDueBatch(LogBatch* batch, uint32_t now, LogSink sink) {
  if (batch->Length && (batch->Full || now - batch->ShownAt >= LOG_BATCH_MS)) SendHeld(batch, now, sink);
}

void EmitBatchAndStop(LogBatch* batch, uint32_t now, LogSink sink) {
  SendHeld(batch, now, sink);
  batch->Holding = false;
}
