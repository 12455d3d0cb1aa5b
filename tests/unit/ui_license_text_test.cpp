// The licence text handed to the wizard's pane: which buffer it goes into and
// when there is none to show.
#include <gtest/gtest.h>
#include <string.h>

#include <vector>

#include "ui/license_text.h"

namespace {

// A package of two entries whose data fill the block back to back; entry 1
// is the licence unless licenseEntry says otherwise.
struct LicensePackage {
  std::vector<uint8_t> block;
  std::vector<uint8_t> scratch = std::vector<uint8_t>(SCRATCH_SIZE, 0xCC);
  PackageHeader header = {};
  FileEntry entries[2] = {};
  LoadedPackage package = {};

  LicensePackage(uint32_t licenseSize, uint16_t licenseEntry) {
    block.assign(16 + licenseSize, 0);
    memcpy(block.data(), "main program....", 16);
    for (uint32_t i = 0; i < licenseSize; ++i) block[16 + i] = static_cast<uint8_t>('a' + i % 26);
    header.FileCount = 2;
    header.LicenseEntry = licenseEntry;
    entries[0].DataSize = 16;
    entries[0].DataOffset = 0;
    entries[1].DataSize = licenseSize;
    entries[1].DataOffset = 16;
    package.Block = block.data();
    package.BlockSize = static_cast<uint32_t>(block.size());
    package.Header = &header;
    package.Entries = entries;
    package.Scratch = scratch.data();
  }
};

TEST(LicenseText, BufferChoiceAtTheScratchLimit) {
  struct Case {
    uint32_t size;
    bool ownBlock;
  } cases[] = {
      {1, false},
      {65535, false},  // the terminator takes the scratch buffer's last byte
      {65536, true},
      {200000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    LicensePackage p(c.size, 1);
    LicenseText text = PrepareLicenseText(&p.package);
    ASSERT_NE(text.Text, nullptr);
    EXPECT_EQ(text.OwnBlock, c.ownBlock);
    EXPECT_EQ(text.Text == reinterpret_cast<char*>(p.scratch.data()), !c.ownBlock);
    EXPECT_EQ(strlen(text.Text), c.size);
    EXPECT_EQ(memcmp(text.Text, p.block.data() + 16, c.size), 0);
    ReleaseLicenseText(&text);
    EXPECT_EQ(text.Text, nullptr);
  }
}

TEST(LicenseText, ExactlyFullScratchKeepsItsTerminatorInside) {
  LicensePackage p(65535, 1);
  LicenseText text = PrepareLicenseText(&p.package);
  ASSERT_EQ(text.Text, reinterpret_cast<char*>(p.scratch.data()));
  EXPECT_EQ(p.scratch[65534], static_cast<uint8_t>('a' + 65534 % 26));
  EXPECT_EQ(p.scratch[65535], 0);
}

TEST(LicenseText, NothingToShow) {
  struct Case {
    const char* name;
    uint32_t size;
    uint16_t entry;
  } cases[] = {
      {"no licence entry", 10, NO_LICENSE_ENTRY},
      {"empty licence file", 0, 1},
      {"index past the entry table", 10, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LicensePackage p(c.size, c.entry);
    LicenseText text = PrepareLicenseText(&p.package);
    EXPECT_EQ(text.Text, nullptr);
    EXPECT_FALSE(text.OwnBlock);
    EXPECT_EQ(p.scratch[0], 0xCC);  // the scratch buffer is not touched
  }
}

}  // namespace
