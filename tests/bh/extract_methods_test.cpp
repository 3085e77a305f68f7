#include <gtest/gtest.h>

#include <filesystem>

#include "common/extraction.h"
#include "common/lha_archive.h"
#include "common/run_command.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Files that exercise the LZH coding: window-sized and window-crossing sizes, repeats farther
// back than the small window reaches, a single repeated byte (one-symbol tables) and nothing.
std::vector<std::pair<std::string, Bytes>> LzhSamples() {
  Bytes far = PatternBytes(30000, 21);
  const Bytes gap = PatternBytes(40000, 22);
  far.insert(far.end(), gap.begin(), gap.end());
  far.insert(far.end(), far.begin(), far.begin() + 30000);  // repeats 70000 bytes back
  Bytes text;
  for (int i = 0; text.size() < 300000; ++i) {
    const std::string line = "line " + std::to_string(i % 977) + " of the course text\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  auto sized = [&text](std::size_t n) { return Bytes(text.begin(), text.begin() + n); };
  return {{"far.bin", far},
          {"w26624.txt", sized(26624)},
          {"w26625.txt", sized(26625)},
          {"w65536.txt", sized(65536)},
          {"w65537.txt", sized(65537)},
          {"text.txt", text},
          {"single.bin", Bytes(50000, 'x')},
          {"empty.bin", {}}};
}

// Packs the samples with a real LHA archiver and carries each packed payload into a BH entry
// of the same coding: -lh5- as method 1, -lh6- as method 3 (-lh0-, for data that do not
// shrink, as stored).
std::vector<BhEntry> BhEntriesFromJlha(const ScratchDir& work, const char* option,
                                       const std::vector<std::pair<std::string, Bytes>>& files) {
  std::vector<std::string> argv = {"/usr/bin/jlha", std::string("a2") + option + "q", "x.lzh"};
  for (const auto& [name, data] : files) {
    WriteFileBytes(work / name, data);
    argv.push_back(name);
  }
  const CommandResult r = RunCommand(argv, work.path().string());
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<BhEntry> entries;
  for (const LhaEntry& lha : ReadLevel2Lha(work / "x.lzh")) {
    BhEntry e = BhEntry::Stored(lha.name, ReadFileBytes(work / lha.name));
    e.method = lha.method == "-lh5-" ? 1 : lha.method == "-lh6-" ? 3 : 0;
    EXPECT_TRUE(e.method != 0 || lha.method == "-lh0-") << lha.method;
    e.packed = Bytes(lha.packed.begin(), lha.packed.end());
    entries.push_back(e);
  }
  return entries;
}

class LzhFromRealEncoder : public ::testing::TestWithParam<const char*> {};

TEST_P(LzhFromRealEncoder, ExtractsByteIdentical) {
  const auto samples = LzhSamples();
  ScratchDir work;
  const std::vector<BhEntry> entries = BhEntriesFromJlha(work, GetParam(), samples);
  ASSERT_EQ(entries.size(), samples.size());
  const std::uint8_t coded = std::string(GetParam()) == "o5" ? 1 : 3;
  EXPECT_GE(std::count_if(entries.begin(), entries.end(),
                          [coded](const BhEntry& e) { return e.method == coded; }),
            6);

  Extraction x(BuildBhArchive(entries));
  x.unbh.OnError = x.log.Error();
  EXPECT_EQ(x.unbh.Extract(), static_cast<int>(samples.size()));
  EXPECT_TRUE(x.log.lines.empty()) << x.log.lines.front();
  for (const auto& [name, data] : samples)
    EXPECT_EQ(ReadFileBytes(x.Out(name)), data) << name;
}

INSTANTIATE_TEST_SUITE_P(Methods, LzhFromRealEncoder, ::testing::Values("o5", "o6"),
                         [](const auto& info) {
                           return std::string(info.param) == "o5" ? "Method1" : "Method3";
                         });

struct DeflateCase {
  const char* name;
  std::uint8_t method;
  int level;
  std::size_t size;
  Lines progress;  // empty: not checked
};

class Deflated : public ::testing::TestWithParam<DeflateCase> {};

TEST_P(Deflated, ExtractsByteIdenticalInBlocksOf32768) {
  const DeflateCase& c = GetParam();
  Bytes data = PatternBytes(c.size, 31);
  for (std::size_t i = 0; i < data.size(); i += 2)
    data[i] = 'z';
  BhEntry e = BhEntry::Stored("d.bin", data);
  e.method = c.method;
  e.packed = RawDeflate(data, c.level);
  Extraction x(BuildBhArchive({e}));
  x.unbh.OnError = x.log.Error();
  x.unbh.OnProgress = x.log.Progress();
  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(ReadFileBytes(x.Out("d.bin")), data);
  if (!c.progress.empty()) {
    EXPECT_EQ(x.log.lines, c.progress);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Levels, Deflated,
    ::testing::Values(DeflateCase{"Method8Level0", 8, 0, 100000, {}},
                      DeflateCase{"Method8Level1", 8, 1, 100000, {}},
                      DeflateCase{"Method8Level6", 8, 6, 100000, {}},
                      DeflateCase{"Method8Level9", 8, 9, 100000, {}},
                      DeflateCase{"Method2Level6", 2, 6, 100000, {}},
                      DeflateCase{"Method2Level9", 2, 9, 3, {}},
                      DeflateCase{"OneBlock", 8, 6, 32768, {"Progress 100 100"}},
                      DeflateCase{
                          "TwoBlocks", 8, 6, 32769, {"Progress 100 100", "Progress 100 100"}},
                      DeflateCase{"Empty", 8, 6, 0, {}}),
    [](const auto& info) { return std::string(info.param.name); });

// Damaged packed data never crash or hang: the entry fails its CRC and the next one extracts.
struct DamageCase {
  const char* name;
  std::uint8_t method;
  std::function<void(Bytes&)> damage;
  std::uint32_t claimedSize;  // 0: the real size
};

class DamagedEntry : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedEntry, FailsItsCrcAndTheNextEntryStillExtracts) {
  const DamageCase& c = GetParam();
  ScratchDir work;
  const auto samples = LzhSamples();
  BhEntry e;
  if (c.method == 8) {
    e = BhEntry::Stored("text.txt", samples[5].second);
    e.method = 8;
    e.packed = RawDeflate(e.data, 6);
  } else {
    for (const BhEntry& candidate : BhEntriesFromJlha(work, c.method == 1 ? "o5" : "o6", samples))
      if (candidate.name == "text.txt") e = candidate;
  }
  c.damage(*e.packed);
  if (c.claimedSize != 0) e.unpackedSize = c.claimedSize;

  Extraction x(BuildBhArchive({e, BhEntry::Stored("next.txt", Bytes{'n'})}));
  x.unbh.OnEnd = x.log.End();
  x.unbh.Extract();
  EXPECT_EQ(x.log.lines, (Lines{"End text.txt fail", "End next.txt pass"}));
  // Nothing is made up past what the damaged data could yield.
  EXPECT_LE(fs::file_size(x.Out("text.txt")), e.data.size());
}

void Truncate(Bytes& b) {
  b.resize(b.size() / 3);
}
void Scramble(Bytes& b) {
  for (std::size_t i = 40; i < b.size(); i += 97)
    b[i] ^= 0x5A;
}
void Garbage(Bytes& b) {
  b = PatternBytes(b.size(), 77);
}

INSTANTIATE_TEST_SUITE_P(
    Damage, DamagedEntry,
    ::testing::Values(DamageCase{"LzhTruncated", 1, Truncate, 0},
                      DamageCase{"LzhTruncatedClaimingAGigabyte", 3, Truncate, 1u << 30},
                      DamageCase{"LzhScrambled", 1, Scramble, 0},
                      DamageCase{"LzhGarbage", 3, Garbage, 0},
                      DamageCase{"DeflateTruncated", 8, Truncate, 0},
                      DamageCase{"DeflateTruncatedClaimingAGigabyte", 8, Truncate, 1u << 30},
                      DamageCase{"DeflateScrambled", 8, Scramble, 0},
                      DamageCase{"DeflateGarbage", 8, Garbage, 0}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quern::test
