// Progress of the install run on a bar of 0..10000: the file phase moves it
// to 5000 in proportion to the bytes written, a timer then creeps towards
// 9000 while the configure command runs, and the end sets 10000.
#pragma once
#include <stdint.h>

enum : uint32_t {
  PROGRESS_FILES_END = 5000,
  PROGRESS_CREEP_LIMIT = 9000,
  PROGRESS_CREEP_STEP = 300,
  PROGRESS_END = 10000,
  PROGRESS_TIMER_ID = 255,
  PROGRESS_TIMER_MS = 30,
  // The bar is redrawn at most this often during the file phase: drawing it
  // after every chunk cost more than writing the chunk, and under Wine each
  // redraw takes milliseconds. Between two batches of the log (200 ms) it
  // still moves at least once.
  PROGRESS_SHOW_MS = 100,
  WRITE_CHUNK = 65536,
};

struct ProgressState {
  void* Bar;         // the wizard's progress bar, null in silent mode
  uint64_t Written;  // bytes written in this run
  uint64_t Total;    // ApplicableTotal, never 0
  uint32_t Shown;    // the position the bar was last given
  uint32_t ShownAt;  // and when, in milliseconds of a wrapping tick count
};

extern ProgressState Progress;

// Starts a run's file phase at now: nothing written, the bar at 0. total
// is ApplicableTotal, which the loader never leaves at 0.
void StartFilePhase(ProgressState* state, uint64_t total, uint32_t now);
// Adds count to Written and returns the bar position for it.
uint32_t AddWritten(ProgressState* state, uint32_t count);
// Whether the bar is to be given position now: it differs from the one shown
// and PROGRESS_SHOW_MS have passed since. Records it as shown.
bool TakeBarUpdate(ProgressState* state, uint32_t position, uint32_t now);
// written * 5000 / total, truncated; 5000 at most.
uint32_t FilePhasePosition(uint64_t written, uint64_t total);
// The size of the next write when remaining bytes are left.
uint32_t NextChunk(uint32_t remaining);
// The position after one timer tick.
uint32_t CreepPosition(uint32_t position);
