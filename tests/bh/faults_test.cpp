// What a failing disk does to an extraction: each fault reaches OnError with its code, the
// entries around the failing one are extracted intact, and Extract returns normally.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "common/extraction.h"
#include "platform/platform.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

struct Faults {
  explicit Faults(const platform::FaultPlan& plan) { platform::InstallFaults(plan); }
  ~Faults() { platform::ClearFaults(); }
};

const std::vector<BhEntry>& Entries() {
  static const std::vector<BhEntry> entries = [] {
    std::vector<BhEntry> e = {BhEntry::Stored("a.txt", PatternBytes(1000, 1)),
                              BhEntry::Stored("dir\\b.bin", PatternBytes(70000, 2)),
                              BhEntry::Stored("c.bin", PatternBytes(40000, 3)),
                              BhEntry::Stored("d.txt", PatternBytes(10, 4))};
    e[2].method = 8;
    e[2].packed = RawDeflate(e[2].data, 6);
    return e;
  }();
  return entries;
}

// The codes OnError saw, per file name (relative to the output directory).
struct Outcome {
  std::map<std::string, std::vector<int>> errors;
  std::map<std::string, bool> crc;
};

Outcome RunWithFaults(Extraction& x, const platform::FaultPlan& plan) {
  Outcome o;
  x.unbh.OnError = [&](TComponent*, const std::string& file, const std::string& extended,
                       const std::string&, int code) {
    const std::string& name = code == 25160 ? extended : file;  // disk full names the archive
    o.errors[x.log.Relative(name)].push_back(code);
  };
  x.unbh.OnEnd = [&](TComponent*, const std::string& file, bool pass) {
    o.crc[x.log.Relative(file)] = pass;
  };
  Faults faults(plan);
  x.unbh.Extract();
  return o;
}

void ExpectIntact(const Extraction& x, const std::string& name, const Bytes& data) {
  std::string native = name;
  std::replace(native.begin(), native.end(), '\\', '/');
  EXPECT_EQ(ReadFileBytes(x.Out(native)), data) << name;
}

TEST(Faults, EveryWriteShort_ReportsEachAndGoesThroughEveryEntry) {
  Extraction x(BuildBhArchive(Entries()));
  platform::FaultPlan plan;
  plan.write = platform::WriteFault::Short;
  plan.writesToFault = -1;
  const Outcome o = RunWithFaults(x, plan);
  for (const BhEntry& e : Entries()) {
    SCOPED_TRACE(e.name);
    ASSERT_FALSE(o.errors.at(e.name).empty());
    for (int code : o.errors.at(e.name))
      EXPECT_EQ(code, 25136);
    EXPECT_FALSE(o.crc.at(e.name));
  }
  EXPECT_EQ(o.errors.at("dir\\b.bin").size(), 3u);  // one report a block
}

TEST(Faults, DiskFullInTheMiddleOfAnEntry_LeavesTheOthersIntact) {
  Extraction x(BuildBhArchive(Entries()));
  platform::FaultPlan plan;
  plan.write = platform::WriteFault::DiskFull;
  plan.writesToSkip = 2;  // a.txt, then the first block of b.bin
  const Outcome o = RunWithFaults(x, plan);
  EXPECT_EQ(o.errors.size(), 1u);
  EXPECT_EQ(o.errors.at("dir\\b.bin"), std::vector<int>{25160});
  EXPECT_EQ(x.unbh.FileCount(), 2);  // counted again from c.bin on
  for (const std::size_t i : {0u, 2u, 3u})
    ExpectIntact(x, Entries()[i].name, Entries()[i].data);
  EXPECT_FALSE(o.crc.at("dir\\b.bin"));
}

TEST(Faults, OutputDirectoryNotWritable_EveryEntryFailsToOpenAndNothingIsMade) {
  Extraction x(BuildBhArchive(Entries()));
  fs::create_directories(x.Out());
  platform::FaultPlan plan;
  plan.failCreateBelow = x.dir.EnginePath("out");
  const Outcome o = RunWithFaults(x, plan);
  for (const BhEntry& e : Entries())
    EXPECT_EQ(o.errors.at(e.name), std::vector<int>{25235});
  EXPECT_TRUE(fs::is_empty(x.Out()));
}

TEST(Faults, OutputPathIsADirectory_OnlyThatEntryFails) {
  Extraction x(BuildBhArchive(Entries()));
  fs::create_directories(x.Out("c.bin"));
  const Outcome o = RunWithFaults(x, {});
  EXPECT_EQ(o.errors.size(), 1u);
  EXPECT_EQ(o.errors.at("c.bin"), std::vector<int>{25235});
  for (const std::size_t i : {0u, 1u, 3u})
    ExpectIntact(x, Entries()[i].name, Entries()[i].data);
}

TEST(Faults, ClosingFails_ReportsEachFileAndKeepsIt) {
  Extraction x(BuildBhArchive(Entries()));
  platform::FaultPlan plan;
  plan.failClose = true;
  const Outcome o = RunWithFaults(x, plan);
  for (const BhEntry& e : Entries()) {
    EXPECT_EQ(o.errors.at(e.name), std::vector<int>{25138});
    ExpectIntact(x, e.name, e.data);
  }
}

// Reads failing from every possible point on, and failing once at every point: whatever the
// point, the run returns, and each output file is either complete or its entry failed its CRC.
TEST(Faults, ReadsFailingAnywhere_NeverLeaveABadFileUnreported) {
  for (const int failing : {-1, 1}) {
    for (int from = 0; from < 40; ++from) {
      SCOPED_TRACE("reads failing from " + std::to_string(from) + " for " +
                   std::to_string(failing));
      Extraction x(BuildBhArchive(Entries()));
      platform::FaultPlan plan;
      plan.readsBeforeFailure = from;
      plan.readsToFault = failing;
      const Outcome o = RunWithFaults(x, plan);
      for (const BhEntry& e : Entries()) {
        std::string native = e.name;
        std::replace(native.begin(), native.end(), '\\', '/');
        if (!fs::exists(x.Out(native))) continue;
        if (ReadFileBytes(x.Out(native)) != e.data) {
          EXPECT_FALSE(o.crc.at(e.name)) << e.name;
        }
      }
    }
  }
}

// An archive cut at every header boundary extracts exactly the entries before the cut.
TEST(Faults, ArchiveTruncatedAtEveryHeaderBoundary) {
  const Bytes whole = BuildBhArchive(Entries());
  std::size_t boundary = 0;
  for (std::size_t kept = 0; kept <= Entries().size(); ++kept) {
    SCOPED_TRACE("entries kept: " + std::to_string(kept));
    Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(boundary));
    cut.resize(std::max<std::size_t>(cut.size(), 20), 0);
    Extraction x(cut);
    const Outcome o = RunWithFaults(x, {});
    EXPECT_TRUE(o.errors.empty());
    EXPECT_EQ(o.crc.size(), kept);
    for (std::size_t i = 0; i < kept; ++i)
      ExpectIntact(x, Entries()[i].name, Entries()[i].data);
    if (kept < Entries().size()) boundary += BuildBhArchive({Entries()[kept]}).size();
  }
}

}  // namespace
}  // namespace quern::test
