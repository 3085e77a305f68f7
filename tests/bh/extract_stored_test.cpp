#include <gtest/gtest.h>

#include <filesystem>

#include "common/extraction.h"
#include "common/fixtures.h"
#include "common/scratch_dir.h"
#include "engine/bh/un_bh.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

TEST(BhExtract, StoredArchive_ExtractsEveryEntryByteIdenticalWithDatesAndAttributes) {
  const SampleArchive sample = MakeSampleArchive();
  Extraction x(sample.bytes);
  x.unbh.OnError = x.log.Error();
  ASSERT_EQ(x.unbh.ArcType(), atBh);

  EXPECT_EQ(x.unbh.Extract(), static_cast<int>(sample.files.size()));
  EXPECT_TRUE(x.log.lines.empty()) << x.log.lines.front();
  ExpectSampleExtracted(sample, x.Out());
}

TEST(BhExtract, ArchiveBehindOtherData_IsFoundAndExtracted) {
  const SampleArchive sample = MakeSampleArchive();
  Bytes file = PatternBytes(5000, 9);
  file.insert(file.end(), sample.bytes.begin(), sample.bytes.end());
  Extraction x(file, "setup.dat");
  ASSERT_EQ(x.unbh.ArcType(), atBhExe);
  ASSERT_EQ(x.unbh.ArchiveOffset(), 5000);

  EXPECT_EQ(x.unbh.Extract(), static_cast<int>(sample.files.size()));
  ExpectSampleExtracted(sample, x.Out());
}

// How the header chain ends, and which entries are still extracted.
struct ChainCase {
  const char* name;
  std::vector<BhEntry> entries;
  std::size_t cutAt;  // bytes of the archive kept (0: all)
  Bytes trailer;      // bytes after the chain
  std::vector<std::string> extracted;
};

class BhChain : public ::testing::TestWithParam<ChainCase> {};

TEST_P(BhChain, ExtractsTheEntriesBeforeTheBreak) {
  const ChainCase& c = GetParam();
  Bytes archive = BuildBhArchive(c.entries);
  if (c.cutAt != 0) archive.resize(c.cutAt);
  archive.insert(archive.end(), c.trailer.begin(), c.trailer.end());
  archive.resize(std::max<std::size_t>(archive.size(), 20), 0);  // identification needs 20
  Extraction x(archive);
  std::vector<std::string> seen;
  x.unbh.OnEnd = [&](TComponent*, const std::string& file, bool pass) {
    if (pass) seen.push_back(x.log.Relative(file));
  };
  x.unbh.Extract();
  EXPECT_EQ(seen, c.extracted);
}

BhEntry Named(std::string name, std::size_t size = 10) {
  return BhEntry::Stored(std::move(name), PatternBytes(size, static_cast<std::uint32_t>(size)));
}
BhEntry WithHeaderWord(BhEntry e, std::uint16_t word) {
  e.headerWord = word;
  return e;
}
BhEntry WithExtra(BhEntry e) {
  e.extra = Bytes(17, 0xEE);
  return e;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BhChain,
    ::testing::Values(
        ChainCase{"WholeChain", {Named("a"), Named("b")}, 0, {}, {"a", "b"}},
        ChainCase{"ZeroHeaderWordEndsChain",
                  {Named("a"), WithHeaderWord(Named("b"), 0), Named("c")},
                  0,
                  {},
                  {"a"}},
        ChainCase{"GarbageAfterChainIgnored", {Named("a")}, 0, Bytes(100, 0x55), {"a"}},
        ChainCase{"HeaderCutShortEndsChain", {Named("a"), Named("b")}, 37 + 1 + 10 + 20, {}, {"a"}},
        ChainCase{"ExtraFieldSkipped", {WithExtra(Named("a")), Named("b")}, 0, {}, {"a", "b"}},
        ChainCase{"NameOf256BytesNeverSelected",
                  {Named(std::string(256, 'n')), Named("after")},
                  0,
                  {},
                  {"after"}},
        ChainCase{"NoValidFirstHeader", {WithHeaderWord(Named("a"), 0)}, 0, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BhExtract, ArchiveCutInsideStoredEntry_KeepsWhatCameAndFailsItsCrc) {
  const Bytes data = PatternBytes(70000, 4);
  Bytes archive = BuildBhArchive({BhEntry::Stored("cut.bin", data)});
  archive.resize(archive.size() - 30000);
  Extraction x(archive);
  x.unbh.OnError = x.log.Error();
  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(fs::file_size(x.Out("cut.bin")), 40000u);
  EXPECT_EQ(x.log.lines, std::vector<std::string>{"Error 25151 cut.bin||" + x.unbh.ArchiveFile()});
}

TEST(BhExtract, StoredCrcMayBeTheRawRegister) {
  const Bytes data = PatternBytes(1234, 5);
  BhEntry e = BhEntry::Stored("raw.bin", data);
  e.crc = ~Crc32Of(data);
  Extraction x(BuildBhArchive({e, BhEntry::Stored("std.bin", data)}));
  x.unbh.OnEnd = x.log.End();
  x.unbh.Extract();
  EXPECT_EQ(x.log.lines, (std::vector<std::string>{"End raw.bin pass", "End std.bin pass"}));
}

TEST(BhExtract, DirectoryEntry_ChecksAgainstZeroWhateverCameBefore) {
  BhEntry dir = BhEntry::Directory("d");
  BhEntry badDir = BhEntry::Directory("e");
  badDir.crc = 0x1234;
  Extraction x(BuildBhArchive({Named("a"), dir, badDir}));
  x.unbh.SetCreateStoredDirs(false);
  x.unbh.OnEnd = x.log.End();
  x.unbh.Extract();
  EXPECT_EQ(x.log.lines, (std::vector<std::string>{"End a pass", "End d pass", "End e fail"}));
  EXPECT_FALSE(fs::exists(x.Out("d")));
}

}  // namespace
}  // namespace quern::test
