// Archives a real LHA archiver makes at test time, in every method it writes and every header
// level, extracted byte for byte with their directories and dates.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "common/run_command.h"
#include "lha/lha_extraction.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

struct SourceFile {
  std::string path;
  Bytes data;
};

// Text that packs well (so the archiver keeps its method), noise that does not (stored instead),
// an empty file, and directories two deep.
std::vector<SourceFile> Sources() {
  Bytes text;
  for (int i = 0; text.size() < 150000; ++i) {
    const std::string line =
        "bab " + std::to_string(i % 97) + ": latihan " + std::to_string(i * 7919 % 10007) + "\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  return {{"readme.txt", Bytes{'h', 'a', 'l', 'o', '\n'}},
          {"docs/guide/part1.txt", text},
          {"docs/guide/noise.bin", PatternBytes(40000, 4)},
          {"docs/empty.txt", {}},
          {"data/big.txt", Bytes(text.rbegin(), text.rend())}};
}

// The time every source file carries: even seconds, as DOS dates keep them.
constexpr std::uint32_t kDate = 0x5264'30C4;  // 2021-03-04 06:06:08

struct PackerCase {
  const char* name;
  int level;
  const char* option;  // "z" stores, "o5" to "o7" pick the method
  const char* method;  // what the packed files must carry
};

class RealPacker : public ::testing::TestWithParam<PackerCase> {};

TEST_P(RealPacker, ExtractsEveryFileWhereItBelongs) {
  const PackerCase& c = GetParam();
  ScratchDir src;
  for (const SourceFile& f : Sources()) {
    WriteFileBytes(src / f.path, f.data);
    const auto when = std::chrono::file_clock::from_sys(
        std::chrono::system_clock::from_time_t(LocalTimeOfDos(kDate)));
    fs::last_write_time(src / f.path, when);
  }
  const std::string option = "a" + std::to_string(c.level) + c.option + "q";
  const CommandResult packed = RunCommand(
      {"/usr/bin/jlha", option, "x.lzh", "readme.txt", "docs", "data"}, src.path().string());
  ASSERT_EQ(packed.status, 0) << packed.err;
  const Bytes archive = ReadFileBytes(src / "x.lzh");
  EXPECT_NE(std::search(archive.begin(), archive.end(), c.method, c.method + 5), archive.end());

  LhaExtraction x(archive);
  x.LogErrorsAndVerdicts();
  EXPECT_EQ(x.unlha.Extract(), static_cast<int>(Sources().size()));
  EXPECT_TRUE(std::all_of(x.log.lines.begin(), x.log.lines.end(), [](const std::string& l) {
    return l.ends_with(" pass");
  })) << ::testing::PrintToString(x.log.lines);
  for (const SourceFile& f : Sources()) {
    SCOPED_TRACE(f.path);
    EXPECT_EQ(ReadFileBytes(x.Out(f.path)), f.data);
    EXPECT_EQ(ModificationTime(x.Out(f.path)), LocalTimeOfDos(kDate));
  }
  EXPECT_TRUE(fs::is_directory(x.Out("docs/guide")));
}

INSTANTIATE_TEST_SUITE_P(
    LevelsAndMethods, RealPacker,
    ::testing::Values(
        PackerCase{"Level0Stored", 0, "z", "-lh0-"}, PackerCase{"Level0Lh5", 0, "o5", "-lh5-"},
        PackerCase{"Level0Lh6", 0, "o6", "-lh6-"}, PackerCase{"Level0Lh7", 0, "o7", "-lh7-"},
        PackerCase{"Level1Stored", 1, "z", "-lh0-"}, PackerCase{"Level1Lh5", 1, "o5", "-lh5-"},
        PackerCase{"Level1Lh6", 1, "o6", "-lh6-"}, PackerCase{"Level1Lh7", 1, "o7", "-lh7-"},
        PackerCase{"Level2Stored", 2, "z", "-lh0-"}, PackerCase{"Level2Lh5", 2, "o5", "-lh5-"},
        PackerCase{"Level2Lh6", 2, "o6", "-lh6-"}, PackerCase{"Level2Lh7", 2, "o7", "-lh7-"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quern::test
