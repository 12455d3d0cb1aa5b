// Progress arithmetic of the install run: the file phase, its chunks, how
// often the bar is redrawn, the timer's creep.
#include <gtest/gtest.h>

#include <vector>

#include "install/progress.h"

namespace {

std::vector<uint32_t> Chunks(uint32_t size) {
  std::vector<uint32_t> chunks;
  while (size > 0) {
    uint32_t c = NextChunk(size);
    chunks.push_back(c);
    size -= c;
  }
  return chunks;
}

TEST(InstallProgress, WritesInChunksOf64KiB) {
  struct Case {
    uint32_t Size;
    std::vector<uint32_t> Chunks;
  } cases[] = {
      {0, {}},
      {1, {1}},
      {65535, {65535}},
      {65536, {65536}},
      {65537, {65536, 1}},
      {3 * 65536 + 10, {65536, 65536, 65536, 10}},
  };
  for (const Case& k : cases) EXPECT_EQ(Chunks(k.Size), k.Chunks) << k.Size;
}

TEST(InstallProgress, FilePhaseFollowsTheBytesWritten) {
  struct Step {
    uint32_t Count;
    uint32_t Position;
  };
  struct Case {
    uint64_t Total;
    std::vector<Step> Steps;
  } cases[] = {
      {10000, {{4000, 2000}, {6000, 5000}}},
      {10000, {{0, 0}, {4000, 2000}}},            // an empty file does not move the bar
      {12000, {{4000, 1666}, {6000, 4166}}},      // 2000 left for an entry that is not written
      {3, {{1, 1666}, {1, 3333}, {1, 5000}}},
      {1, {{0, 0}}},                              // the total of a package without data
      {3ull << 32, {{0xFFFFFFFFu, 1666}, {0xFFFFFFFFu, 3333}}},  // 64-bit arithmetic
  };
  for (const Case& k : cases) {
    ProgressState state;
    StartFilePhase(&state, k.Total, 0);
    for (const Step& s : k.Steps) EXPECT_EQ(AddWritten(&state, s.Count), s.Position) << k.Total;
  }
  EXPECT_EQ(FilePhasePosition(5, 3), 5000u);  // never beyond the file phase
  // Beyond 64-bit products the position is approximate, off by one at most.
  EXPECT_NEAR(FilePhasePosition(UINT64_MAX / 2, UINT64_MAX), 2500, 1);
  EXPECT_NEAR(FilePhasePosition(UINT64_MAX / 5 * 4, UINT64_MAX), 4000, 1);
}

TEST(InstallProgress, TimerCreepsToJustOver9000) {
  struct Case {
    uint32_t Start;
    uint32_t Ticks;  // ticks that move the bar
    uint32_t End;
  } cases[] = {
      {5000, 14, 9200}, {0, 30, 9000}, {8999, 1, 9299}, {8700, 1, 9000}, {9000, 0, 9000}, {10000, 0, 10000},
  };
  for (const Case& k : cases) {
    uint32_t p = k.Start, moves = 0;
    for (int i = 0; i < 100; ++i) {
      uint32_t next = CreepPosition(p);
      if (next != p) ++moves;
      p = next;
    }
    EXPECT_EQ(p, k.End) << k.Start;
    EXPECT_EQ(moves, k.Ticks) << k.Start;
  }
  for (uint32_t start = 0; start < 9000; start += 7) {
    uint32_t p = start;
    while (CreepPosition(p) != p) p = CreepPosition(p);
    EXPECT_GE(p, 9000u);
    EXPECT_LE(p, 9299u);
  }
}

TEST(InstallProgress, BarIsRedrawnAtMostEveryShowInterval) {
  ProgressState state;
  StartFilePhase(&state, 10000, 0xFFFFFFF0u);  // the tick count wraps during the run
  struct Step {
    uint32_t Position, Now;
    bool Shown;
  } steps[] = {
      {0, 0xFFFFFFF0u, false},  // the bar already stands at 0
      {10, 0xFFFFFFF0u, true},  // the first change shows at once
      {20, 0xFFFFFFF0u + PROGRESS_SHOW_MS - 1, false},
      {30, 0xFFFFFFF0u + PROGRESS_SHOW_MS, true},  // across the wrap
      {30, 400, false},              // no change, nothing to draw
      {40, 400, true},
  };
  for (const Step& s : steps) {
    EXPECT_EQ(TakeBarUpdate(&state, s.Position, s.Now), s.Shown) << s.Position << " at " << s.Now;
  }
  EXPECT_EQ(state.Shown, 40u);
}

}  // namespace
