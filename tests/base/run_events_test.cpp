#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "common/extraction.h"

namespace quern::test {
namespace {

using Lines = std::vector<std::string>;

TEST(ExtractionRun, RecordsEveryEventInOrder) {
  Extraction x(BuildBhArchive({
      BhEntry::Stored("x.tmp", Bytes{1, 2, 3}),
      BhEntry::Directory("d"),
      BhEntry::Stored("d\\a.txt", PatternBytes(100000)),
  }));
  WriteFileBytes(x.Out("d/a.txt"), Bytes{9});  // an existing target to confirm
  x.log.AttachAll(x.unbh);
  x.unbh.SetExcludeSpec({"*.tmp"});
  x.unbh.SetConfirmOverwrites(true);
  x.unbh.OnFileExists = [&](TComponent*, const std::string& file, std::string&, TOverwriteMode&) {
    x.log.lines.push_back("FileExists " + x.log.Relative(file));
  };

  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(x.log.lines, (Lines{
                             "Exclude x.tmp",
                             "End d pass",
                             "Rename d\\a.txt",
                             "Begin d\\a.txt 1",
                             "FileExists d\\a.txt",
                             "Progress 33 33",
                             "Progress 66 66",
                             "Progress 98 98",
                             "Progress 100 100",
                             "End d\\a.txt pass",
                             "ElapsedTime",
                             "Deactivate",
                         }));
  EXPECT_EQ(ReadFileBytes(x.Out("d/a.txt")), PatternBytes(100000));
}

TEST(ExtractionRun, NothingSelected_FiresOnlyTheRunEvents) {
  Extraction x(BuildBhArchive({BhEntry::Stored("a.txt", Bytes{1})}));
  x.log.AttachAll(x.unbh);
  x.unbh.SetFileSpec({"*.doc"});
  EXPECT_EQ(x.unbh.Extract(), 0);
  EXPECT_EQ(x.log.lines, (Lines{"ElapsedTime", "Deactivate"}));
}

TEST(ExtractionRun, SkippedEntries_MoveTheArchiveProgressPastThem) {
  Extraction x(BuildBhArchive({
      BhEntry::Stored("skip.bin", PatternBytes(300)),
      BhEntry::Stored("none.bin", Bytes{}),
      BhEntry::Stored("take.bin", PatternBytes(100)),
  }));
  x.unbh.OnProgress = x.log.Progress();
  x.unbh.OnBegin = [](TComponent*, const std::string& file, int, bool& extract) {
    extract = file.ends_with("take.bin");
  };
  EXPECT_EQ(x.unbh.Extract(), 1);
  // A skipped entry reports ByFile 100, or 0 when it is empty (its size is the divisor).
  EXPECT_EQ(x.log.lines, (Lines{"Progress 100 75", "Progress 0 75", "Progress 100 100"}));
}

TEST(ExtractionRun, CancelFromOnProgress_EndsTheRunAfterTheCurrentBlock) {
  Extraction x(BuildBhArchive({
      BhEntry::Stored("first.bin", PatternBytes(100000)),
      BhEntry::Stored("second.bin", PatternBytes(10)),
  }));
  x.log.AttachAll(x.unbh);
  x.unbh.OnProgress = [&](TComponent*, std::uint8_t byFile, std::uint8_t) {
    x.log.lines.push_back("Progress " + std::to_string(byFile));
    x.unbh.SetCancel(true);
  };

  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(x.log.lines, (Lines{
                             "Rename first.bin",
                             "Begin first.bin 1",
                             "Progress 33",
                             "Error 25443 first.bin||" + x.unbh.ArchiveFile(),
                             "End first.bin fail",
                             "ElapsedTime",
                             "Deactivate",
                         }));
  EXPECT_EQ(std::filesystem::file_size(x.Out("first.bin")), 32768u);
  EXPECT_FALSE(std::filesystem::exists(x.Out("second.bin")));

  // The next run starts uncancelled.
  x.log.lines.clear();
  x.unbh.OnProgress = nullptr;
  EXPECT_EQ(x.unbh.Extract(), 2);
  EXPECT_FALSE(x.unbh.Cancel());
}

TEST(ExtractionRun, TimeInHandlersIsNotCounted) {
  Extraction x(BuildBhArchive({BhEntry::Stored("a.txt", PatternBytes(1000))}));
  WriteFileBytes(x.Out("a.txt"), Bytes{9});
  const auto nap = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
  x.unbh.OnBegin = [&](TComponent*, const std::string&, int, bool&) { nap(); };
  // With ConfirmOverwrites on and no OnFileExists the entry start reports 25270, inside the
  // entry start's own pause.
  x.unbh.SetConfirmOverwrites(true);
  x.unbh.OnError = [&](TComponent*, const std::string&, const std::string&, const std::string&,
                       int) { nap(); };
  float elapsed = -1;
  x.unbh.OnElapsedTime = [&](TComponent*, float seconds) { elapsed = seconds; };

  const auto start = std::chrono::steady_clock::now();
  x.unbh.Extract();
  const std::chrono::duration<float> wall = std::chrono::steady_clock::now() - start;

  ASSERT_GE(wall.count(), 0.6f);
  EXPECT_GE(elapsed, 0.0f);
  EXPECT_LT(elapsed, 0.2f);
}

TEST(ExtractionRun, ExceptionsFromHandlersNeverReachTheHost) {
  Extraction x(BuildBhArchive(
      {BhEntry::Stored("a.txt", PatternBytes(10)), BhEntry::Stored("b.txt", PatternBytes(10))}));
  x.unbh.OnProgress = [](TComponent*, std::uint8_t, std::uint8_t) { throw 1; };
  int deactivations = 0;
  x.unbh.OnElapsedTime = [](TComponent*, float) { throw std::runtime_error("handler"); };
  x.unbh.OnDeactivate = [&](TComponent*) { ++deactivations; };
  x.unbh.OnEnd = [](TComponent*, const std::string&, bool) { throw std::runtime_error("end"); };
  // The first OnEnd exception escapes the entry and ends the passes; the run still winds down.
  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(deactivations, 1);
}

TEST(ExtractionRun, SecondExtractDuringARun_ReturnsZeroAndReportsNothing) {
  Extraction x(BuildBhArchive({BhEntry::Stored("a.txt", PatternBytes(10))}));
  int inner = -1;
  x.unbh.OnBegin = [&](TComponent*, const std::string&, int, bool&) { inner = x.unbh.Extract(); };
  x.unbh.OnError = x.log.Error();
  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(inner, 0);
  EXPECT_TRUE(x.log.lines.empty());
}

TEST(ExtractionRun, ArchiveFileIsRestoredAfterTheRun) {
  Extraction x(BuildBhArchive({BhEntry::Stored("a.txt", PatternBytes(10))}));
  const std::string name = x.unbh.ArchiveFile();
  x.unbh.Extract();
  EXPECT_EQ(x.unbh.ArchiveFile(), name);
  EXPECT_EQ(x.unbh.ArcType(), atBh);
}

}  // namespace
}  // namespace quern::test
