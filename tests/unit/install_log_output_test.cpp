// The installation log's batches: what reaches the pane, and when.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/wide_text.h"
#include "install/log_output_batch.h"

namespace {

std::vector<std::u16string>* Pane;
void Sink(const WChar* text) { Pane->push_back(text); }

std::u16string Joined(const std::vector<std::u16string>& parts) {
  std::u16string all;
  for (const auto& p : parts) all += p;
  return all;
}

// A line as AppendLog formats it: cut at 255 characters.
std::u16string Line(const std::u16string& text) {
  WChar line[LOG_LINE_CAPACITY];
  FormatArg arg = TextArg(text.c_str());
  FormatText(line, LOG_LINE_CAPACITY, u"Copy %s\r\n", &arg, 1);
  return line;
}

TEST(LogOutput, BatchesAddUpToTheLinesInOrder) {
  static LogBatch batch;
  std::vector<std::u16string> pane;
  Pane = &pane;
  std::vector<std::u16string> lines;
  for (int i = 0; i < 3000; ++i) {
    // Now and then a name long enough to lose its line break.
    std::u16string name = u"C:\\T\\" + std::u16string(i % 97 == 0 ? 260 : 10 + i % 40, u'a' + i % 26);
    lines.push_back(Line(name));
  }
  ASSERT_EQ(lines[0].size(), 255u);
  ASSERT_EQ(lines[0].back(), u'a');  // no line break left

  uint32_t now = 0xFFFFFF00u;  // the tick count wraps during the run
  StartBatching(&batch, now);
  std::vector<uint32_t> sentAt;
  // As the writer and the pane's thread take turns: a line held, the due
  // lines shown, and a line that finds no room held once they are shown.
  for (const auto& line : lines) {
    size_t before = pane.size();
    if (!AddToBatch(&batch, line.c_str())) {
      EmitDueBatch(&batch, now, Sink);
      ASSERT_TRUE(AddToBatch(&batch, line.c_str()));
    }
    EmitDueBatch(&batch, now, Sink);
    if (pane.size() != before) sentAt.push_back(now);
    now += 3;
  }
  EmitBatchAndStop(&batch, now, Sink);
  EXPECT_FALSE(batch.Holding);

  EXPECT_EQ(Joined(pane), Joined(lines));
  EXPECT_LT(pane.size(), lines.size() / 10) << "lines were not batched";
  // A batch leaves when LOG_BATCH_MS have passed, or earlier when it is full.
  ASSERT_GT(sentAt.size(), 2u);
  for (size_t i = 1; i < sentAt.size(); ++i) EXPECT_LE(sentAt[i] - sentAt[i - 1], LOG_BATCH_MS + 3);
  for (const auto& part : pane) EXPECT_LT(part.size(), static_cast<size_t>(LOG_BATCH_CAPACITY));
}

TEST(LogOutput, FullBatchLeavesEarly) {
  static LogBatch batch;
  std::vector<std::u16string> pane;
  Pane = &pane;
  StartBatching(&batch, 0);
  std::u16string line = Line(std::u16string(300, u'x'));
  std::u16string all;
  for (int i = 0; i < 300; ++i) {  // no time passes
    size_t before = pane.size();
    EmitDueBatch(&batch, 0, Sink);
    // Only a batch without room for the line is due before its time.
    EXPECT_EQ(pane.size(), before);
    if (!AddToBatch(&batch, line.c_str())) {
      EXPECT_GT(batch.Length + line.size(), LOG_BATCH_CAPACITY - 1);
      EmitDueBatch(&batch, 0, Sink);
      EXPECT_EQ(pane.size(), before + 1);
      ASSERT_TRUE(AddToBatch(&batch, line.c_str()));
    }
    all += line;
  }
  EXPECT_GE(pane.size(), 300 * 255 / LOG_BATCH_CAPACITY);
  // A line held back while a large file is written shows once it is due,
  // without waiting for the next line.
  size_t before = pane.size();
  EmitDueBatch(&batch, LOG_BATCH_MS - 1, Sink);
  EXPECT_EQ(pane.size(), before);
  EmitDueBatch(&batch, LOG_BATCH_MS, Sink);
  EXPECT_EQ(pane.size(), before + 1);
  EmitBatchAndStop(&batch, 0, Sink);
  EXPECT_EQ(Joined(pane), all);
  // Releasing with nothing held sends nothing.
  size_t parts = pane.size();
  EmitBatchAndStop(&batch, 0, Sink);
  EXPECT_EQ(pane.size(), parts);
}

}  // namespace
