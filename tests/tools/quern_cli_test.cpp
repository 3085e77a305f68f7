#include <gtest/gtest.h>

#include <filesystem>

#include "common/fixtures.h"
#include "common/run_command.h"
#include "common/scratch_dir.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

TEST(QuernCli, ExtractsTheSampleArchive_PlainAndBehindOtherData) {
  const SampleArchive sample = MakeSampleArchive();
  ScratchDir dir;
  WriteFileBytes(dir / "plain.bh", sample.bytes);
  Bytes behind = PatternBytes(5000, 7);
  behind.insert(behind.end(), sample.bytes.begin(), sample.bytes.end());
  WriteFileBytes(dir / "setup.exe.bin", behind);

  const CommandResult id =
      RunCommand({QuernPath(), "id", "plain.bh", "setup.exe.bin"}, dir.path().string());
  EXPECT_EQ(id.status, 0);
  EXPECT_EQ(id.out, "atBh 0 plain.bh\natBhExe 5000 setup.exe.bin\n");

  // A relative -d is taken from the shell's current directory.
  for (const char* archive : {"plain.bh", "setup.exe.bin"}) {
    SCOPED_TRACE(archive);
    const std::string out = std::string("out-") + archive;
    const CommandResult x = RunCommand({QuernPath(), "x", archive, "-d", out}, dir.path().string());
    EXPECT_EQ(x.status, 0) << x.err;
    EXPECT_EQ(x.err, "");
    ExpectSampleExtracted(sample, dir / out);
  }
}

TEST(QuernCli, MasksSelectEntries_AndTheDefaultDirectoryIsTheCurrentOne) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.bh", BuildBhArchive({BhEntry::Stored("keep.txt", Bytes{'k'}),
                                               BhEntry::Stored("sub\\drop.bin", Bytes{'d'})}));
  const CommandResult x = RunCommand({QuernPath(), "x", "a.bh", "*.txt"}, dir.path().string());
  EXPECT_EQ(x.status, 0) << x.err;
  EXPECT_TRUE(fs::exists(dir / "keep.txt"));
  EXPECT_FALSE(fs::exists(dir / "sub"));
}

// Exit status and the error line for each way a run can go wrong.
struct StatusCase {
  const char* name;
  Bytes archive;  // empty: no archive file at all
  int status;
  std::string err;  // "OUT" stands for the extract directory
};

class QuernCliStatus : public ::testing::TestWithParam<StatusCase> {};

TEST_P(QuernCliStatus, ExitsWithItsStatusAndReportsOnStderr) {
  const StatusCase& c = GetParam();
  ScratchDir dir;
  if (!c.archive.empty()) WriteFileBytes(dir / "a.bh", c.archive);
  const CommandResult x = RunCommand({QuernPath(), "x", "a.bh", "-d", "out"}, dir.path().string());
  EXPECT_EQ(x.status, c.status);
  std::string expected = c.err;
  if (const auto at = expected.find("OUT"); at != std::string::npos)
    expected.replace(at, 3, (dir / "out").string());
  EXPECT_EQ(x.err, expected);
}

BhEntry BadCrc() {
  BhEntry e = BhEntry::Stored("bad.txt", Bytes{'b'});
  e.crc = 1;
  return e;
}

INSTANTIATE_TEST_SUITE_P(
    Runs, QuernCliStatus,
    ::testing::Values(
        StatusCase{"Missing", {}, 2, "quern: a.bh: File not found (25192)\n"},
        StatusCase{"NotAnArchive", Bytes(100, 'z'), 2,
                   "quern: a.bh: Invalid or unsupported archive type for this operation (25244)\n"},
        StatusCase{"CrcFailure", BuildBhArchive({BadCrc()}), 1,
                   "quern: OUT/bad.txt: File fails CRC check (25151)\n"},
        StatusCase{"HostileName", BuildBhArchive({BhEntry::Stored("..\\evil", Bytes{'e'})}), 1,
                   "quern: ../evil: Invalid file name (25245)\n"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quern::test
