#include "install/progress.h"

ProgressState Progress;

namespace {

// Shift-and-subtract division: a 32-bit build would otherwise pull in the
// compiler runtime's 64-bit division, unwind tables and all, for the one
// division per written chunk.
__attribute__((noinline)) uint64_t Divide(uint64_t dividend, uint64_t divisor) {
  uint64_t quotient = 0, remainder = 0;
  for (int bit = 63; bit >= 0; --bit) {
    remainder = remainder << 1 | ((dividend >> bit) & 1);
    if (remainder >= divisor) {
      remainder -= divisor;
      quotient |= uint64_t{1} << bit;
    }
  }
  return quotient;
}

}  // namespace

uint32_t FilePhasePosition(uint64_t written, uint64_t total) {
  if (total == 0 || written >= total) return PROGRESS_FILES_END;
  // The package sizes are 32-bit, so written * 5000 overflows only for an
  // absurd number of entries; scale the divisor down instead.
  if (written > UINT64_MAX / PROGRESS_FILES_END)
    return static_cast<uint32_t>(Divide(written, Divide(total, PROGRESS_FILES_END)));
  return static_cast<uint32_t>(Divide(written * PROGRESS_FILES_END, total));
}

void StartFilePhase(ProgressState* state, uint64_t total, uint32_t now) {
  state->Written = 0;
  state->Total = total;
  state->Shown = 0;
  state->ShownAt = now - PROGRESS_SHOW_MS;
}

bool TakeBarUpdate(ProgressState* state, uint32_t position, uint32_t now) {
  if (position == state->Shown || now - state->ShownAt < PROGRESS_SHOW_MS) return false;
  state->Shown = position;
  state->ShownAt = now;
  return true;
}

uint32_t AddWritten(ProgressState* state, uint32_t count) {
  state->Written += count;
  return FilePhasePosition(state->Written, state->Total);
}

uint32_t NextChunk(uint32_t remaining) { return remaining >= WRITE_CHUNK ? WRITE_CHUNK : remaining; }

uint32_t CreepPosition(uint32_t position) {
  return position < PROGRESS_CREEP_LIMIT ? position + PROGRESS_CREEP_STEP : position;
}
