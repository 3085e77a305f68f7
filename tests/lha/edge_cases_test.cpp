// LHA archives built in code, one header oddity at a time: what is extracted where, and what is
// reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "common/fixtures.h"
#include "common/lh1_encoder.h"
#include "common/lha_archive.h"
#include "common/lha_writer.h"
#include "common/run_command.h"
#include "lha/lha_extraction.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

Bytes TextBytes(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

// -lh5- data a real packer makes of the bytes.
Bytes Lh5Of(const Bytes& data) {
  ScratchDir work;
  WriteFileBytes(work / "f", data);
  const CommandResult r =
      RunCommand({"/usr/bin/jlha", "a2o5q", "x.lzh", "f"}, work.path().string());
  const auto entries = ReadLevel2Lha(work / "x.lzh");
  if (r.status != 0 || entries.size() != 1 || entries[0].method != "-lh5-") return {};
  return entries[0].packed;
}

LhaRecord Entry(int level, std::string name, std::string text) {
  return LhaRecord::Stored(level, std::move(name), TextBytes(text));
}

struct EdgeCase {
  const char* name;
  std::function<Bytes()> archive;
  Lines events;  // errors and verdicts in order: "Error <code>", "End <name> pass|fail"
  std::vector<std::pair<std::string, std::string>> files;  // below the extract directory
  std::vector<std::string> directories = {};
  std::function<void(TUnLha&)> settings = nullptr;
};

const Bytes kText = TextBytes(std::string(3000, 'q') + "the end of a text that packs well\n");

std::vector<EdgeCase> Cases() {
  return {
      // A whole header whose size byte is 0: the end of the archive.
      {"FirstHeaderByteZero_NothingAtAll",
       [] {
         LhaRecord r = Entry(0, "a.txt", "a");
         r.length = 0;
         return BuildLhaArchive({r, Entry(0, "b.txt", "b")});
       },
       {},
       {}},
      {"HeaderSizeBelow22_BadHeader",
       [] {
         LhaRecord r = Entry(0, "a.txt", "a");
         r.length = 21;
         return BuildLhaArchive({r});
       },
       {"Error 25114"},
       {}},
      {"Level0NameWithSlashes_StoredWithDirectories",
       [] { return BuildLhaArchive({Entry(0, "dir/sub/x", "x")}); },
       {"End dir\\sub\\x pass"},
       {{"dir/sub/x", "x"}}},
      // What some systems keep after a level-0 CRC looks like an extension but is none.
      {"Level0SystemFields_NotReadAsExtensions",
       [] {
         LhaRecord r = Entry(0, "a.txt", "abc");
         r.level0Tail = {'U', 5, 0, 2, 'z', 0xFF, 0, 0};
         return BuildLhaArchive({r, Entry(0, "b.txt", "b")});
       },
       {"End a.txt pass", "End b.txt pass"},
       {{"a.txt", "abc"}, {"b.txt", "b"}}},
      {"Level1DirectoryExtension_PlacesTheFile",
       [] {
         LhaRecord r = Entry(1, "a.txt", "a");
         r.extensions = {{0x02, "docs\xff"}};
         return BuildLhaArchive({r});
       },
       {"End docs\\a.txt pass"},
       {{"docs/a.txt", "a"}}},
      {"Level1NameExtension_ReplacesTheShortName",
       [] {
         LhaRecord r = Entry(1, "LONGNA~1.TXT", "a");
         r.extensions = {{0x00, "\x12\x34"}, {0x01, "long name.txt"}};
         return BuildLhaArchive({r});
       },
       {"End long name.txt pass"},
       {{"long name.txt", "a"}}},
      // Most level-2 archivers put the header CRC (or another extension) before the name.
      {"Level2NameAfterOtherExtensions",
       [] {
         LhaRecord r = Entry(2, "a.txt", "a");
         r.extensions = {{0x00, "\x12\x34"},
                         {0x46, "xyz"},
                         {0x02,
                          "d1\xff"
                          "d2\xff"}};
         r.nameAt = 2;
         return BuildLhaArchive({r});
       },
       {"End d1\\d2\\a.txt pass"},
       {{"d1/d2/a.txt", "a"}}},
      {"Level2WithoutNameExtension_FirstExtensionIsTheName",
       [] {
         LhaRecord r = Entry(2, "", "a");
         r.nameAt = -1;
         r.extensions = {{0x46, "first.txt"}, {0x47, "second.txt"}};
         return BuildLhaArchive({r});
       },
       {"End first.txt pass"},
       {{"first.txt", "a"}}},
      // A level-2 header of 260 bytes: its low byte alone would be 4.
      {"Level2HeaderOf260Bytes",
       [] {
         LhaRecord r = Entry(2, "a.txt", "a");
         const std::string dir = std::string(100, 'd') + "\xff" + std::string(110, 'e') + "\xff";
         r.extensions = {{0x02, dir}, {0x00, std::string(8, 'p')}};
         const Bytes entry = LhaEntryBytes(r);
         if (entry[0] != 4 || entry[1] != 1) return Bytes{};
         return BuildLhaArchive({r, Entry(2, "b.txt", "b")});
       },
       {"End " + std::string(100, 'd') + "\\" + std::string(110, 'e') + "\\a.txt pass",
        "End b.txt pass"},
       {{std::string(100, 'd') + "/" + std::string(110, 'e') + "/a.txt", "a"}, {"b.txt", "b"}}},
      // An extension of 256 bytes or more does not end the chain.
      {"Level1ExtensionOf300BytesBeforeTheDirectory",
       [] {
         LhaRecord r = Entry(1, "a.txt", "a");
         r.extensions = {{0x3F, std::string(297, 'c')}, {0x02, "docs\xff"}};
         return BuildLhaArchive({r, Entry(1, "b.txt", "b")});
       },
       {"End docs\\a.txt pass", "End b.txt pass"},
       {{"docs/a.txt", "a"}, {"b.txt", "b"}}},
      {"Level2ExtensionOf300BytesBeforeTheName",
       [] {
         LhaRecord r = Entry(2, "a.txt", "a");
         r.extensions = {{0x3F, std::string(297, 'c')}, {0x02, "docs\xff"}};
         r.nameAt = 2;
         return BuildLhaArchive({r, Entry(2, "b.txt", "b")});
       },
       {"End docs\\a.txt pass", "End b.txt pass"},
       {{"docs/a.txt", "a"}, {"b.txt", "b"}}},
      // OS-9/68k archivers give a length 2 bytes short of their extensions.
      {"Level2LengthShortOfItsExtensions",
       [] {
         LhaRecord r = Entry(2, "a.txt", "abc");
         r.extensions = {{0x50, "\x12\x34"}};
         r.nameAt = 1;
         r.length = static_cast<std::uint16_t>(LhaEntryBytes(r).size() - 3 - 2);
         return BuildLhaArchive({r, Entry(2, "b.txt", "b")});
       },
       {"End a.txt pass", "End b.txt pass"},
       {{"a.txt", "abc"}, {"b.txt", "b"}}},
      {"DirectoryEntryWithCreateStoredDirs",
       [] {
         LhaRecord r = Entry(2, "", "");
         r.method = "-lhd-";
         r.extensions = {{0x02, "docs\xffpics\xff"}};
         return BuildLhaArchive({r});
       },
       {"End docs\\pics\\ pass"},
       {},
       {"docs/pics"}},
      {"DirectoryEntryWithoutCreateStoredDirs",
       [] {
         LhaRecord r = Entry(2, "", "");
         r.method = "-lhd-";
         r.extensions = {{0x02, "docs\xff"}};
         return BuildLhaArchive({r});
       },
       {"End docs\\ pass"},
       {},
       {},
       [](TUnLha& u) { u.SetCreateStoredDirs(false); }},
      // Some archivers store a directory as an empty stored file named with a final separator.
      {"DirectoryStoredAsAnEmptyFile",
       [] {
         LhaRecord r = Entry(1, "", "");
         r.extensions = {{0x02,
                          "main\xff"
                          "empty\xff"}};
         return BuildLhaArchive({r, Entry(0, "main\\f.txt", "f")});
       },
       {"End main\\empty\\ pass", "End main\\f.txt pass"},
       {{"main/f.txt", "f"}},
       {"main/empty"}},
      {"Lz5DecodedAsLh5",
       [] {
         LhaRecord r = LhaRecord::Stored(0, "t.txt", kText);
         r.method = "-lz5-";
         r.packed = Lh5Of(kText);
         return BuildLhaArchive({r});
       },
       {"End t.txt pass"},
       {{"t.txt", std::string(kText.begin(), kText.end())}}},
      {"LzsNotListed",
       [] {
         LhaRecord r = Entry(0, "s.txt", "s");
         r.method = "-lzs-";
         return BuildLhaArchive({r, Entry(0, "b.txt", "b")});
       },
       {"End b.txt pass"},
       {{"b.txt", "b"}}},
      {"Lh2ListedThenRefused_TheNextEntryExtracts",
       [] {
         LhaRecord r = Entry(2, "two.bin", "packed somehow");
         r.method = "-lh2-";
         return BuildLhaArchive({r, Entry(2, "b.txt", "b")});
       },
       {"Error 25326", "End two.bin fail", "End b.txt pass"},
       {{"two.bin", ""}, {"b.txt", "b"}}},
      {"MethodNotFramedByDashes_Refused",
       [] {
         LhaRecord r = Entry(0, "a.txt", "a");
         r.method = "-lh0x";
         return BuildLhaArchive({r, Entry(0, "b.txt", "b")});
       },
       {"Error 25326", "End a.txt fail", "End b.txt pass"},
       {{"a.txt", ""}, {"b.txt", "b"}}},
      {"Lh1EmptyEntry",
       [] {
         LhaRecord r = Entry(1, "e.bin", "");
         r.method = "-lh1-";
         r.packed = Bytes{0xDE, 0xAD};
         return BuildLhaArchive({r});
       },
       {"End e.bin pass"},
       {{"e.bin", ""}}},
      {"Lh1Entry",
       [] {
         LhaRecord r = LhaRecord::Stored(2, "t.txt", kText);
         r.method = "-lh1-";
         r.packed = EncodeLh1(kText);
         return BuildLhaArchive({r});
       },
       {"End t.txt pass"},
       {{"t.txt", std::string(kText.begin(), kText.end())}}},
      // Zero bytes leave a CRC-16 at 0: a file of zeros cut short must still fail.
      {"ZerosCutShort_Fail",
       [] {
         LhaRecord r = LhaRecord::Stored(0, "z.bin", Bytes(1000, 0));
         Bytes b = BuildLhaArchive({r}, false);
         b.resize(b.size() - 400);
         return b;
       },
       {"End z.bin fail"},
       {{"z.bin", std::string(600, '\0')}}},
      {"NameClimbingOut_Refused",
       [] {
         return BuildLhaArchive({Entry(2, "..\\evil.txt", "e"), Entry(2, "b.txt", "b")});
       },
       {"Error 25245", "End b.txt pass"},
       {{"b.txt", "b"}}},
  };
}

class LhaEdgeCase : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(LhaEdgeCase, ExtractsAndReportsAsExpected) {
  const EdgeCase& c = GetParam();
  const Bytes archive = c.archive();
  ASSERT_FALSE(archive.empty());
  LhaExtraction x(archive);
  if (c.settings) c.settings(x.unlha);
  Lines events;
  x.unlha.OnError = [&](TComponent*, const std::string&, const std::string&, const std::string&,
                        int code) { events.push_back("Error " + std::to_string(code)); };
  x.unlha.OnEnd = [&](TComponent*, const std::string& file, bool pass) {
    events.push_back("End " + x.log.Relative(file) + (pass ? " pass" : " fail"));
  };
  x.unlha.Extract();
  EXPECT_EQ(events, c.events);

  std::vector<std::string> found, expected;
  if (fs::exists(x.Out())) {
    for (const auto& e : fs::recursive_directory_iterator(x.Out()))
      if (e.is_regular_file()) found.push_back(fs::relative(e.path(), x.Out()).generic_string());
  }
  for (const auto& [path, data] : c.files) {
    expected.push_back(path);
    if (fs::is_regular_file(x.Out(path))) {
      EXPECT_EQ(ReadFileBytes(x.Out(path)), TextBytes(data)) << path;
    }
  }
  std::sort(found.begin(), found.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(found, expected);
  for (const std::string& d : c.directories)
    EXPECT_TRUE(fs::is_directory(x.Out(d))) << d;
}

INSTANTIATE_TEST_SUITE_P(Cases, LhaEdgeCase, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Level-2 stamps are Unix times, whichever system wrote them; levels 0 and 1 keep DOS dates.
struct DateCase {
  const char* name;
  std::vector<LhaRecord> records;
  std::vector<std::time_t> expected;  // modification time of each file, in order
  TDateAttribute attribute = daFileDate;
};

LhaRecord Dated(int level, char os, std::uint32_t stamp, std::string name) {
  LhaRecord r = Entry(level, std::move(name), "d");
  r.os = os;
  r.stamp = stamp;
  return r;
}

constexpr std::uint32_t kUnix2020 = 1591012800;  // 2020-06-01 12:00:00 UTC
const std::uint32_t kDos2001 = DosDateTime(2001, 2, 3, 4, 5, 6);

class LhaDates : public ::testing::TestWithParam<DateCase> {};

TEST_P(LhaDates, FilesGetTheirStamps) {
  const DateCase& c = GetParam();
  LhaExtraction x(BuildLhaArchive(c.records));
  x.unlha.SetDateAttribute(c.attribute);
  x.unlha.Extract();
  for (std::size_t i = 0; i < c.records.size(); ++i)
    EXPECT_EQ(ModificationTime(x.Out(c.records[i].name)), c.expected[i]) << c.records[i].name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LhaDates,
    ::testing::Values(
        DateCase{"Level2FromMsDos", {Dated(2, 'M', kUnix2020, "m.txt")}, {kUnix2020}},
        DateCase{"Level2FromUnix", {Dated(2, 'U', kUnix2020, "u.txt")}, {kUnix2020}},
        DateCase{"Level2FromJava", {Dated(2, '\0', kUnix2020, "j.txt")}, {kUnix2020}},
        DateCase{"Level0AfterLevel2",
                 {Dated(2, 'M', kUnix2020, "m.txt"), Dated(0, 'M', kDos2001, "d.txt")},
                 {kUnix2020, LocalTimeOfDos(kDos2001)}},
        DateCase{"Level1", {Dated(1, 'U', kDos2001, "d.txt")}, {LocalTimeOfDos(kDos2001)}},
        // The newest date compares the converted stamps, not a Unix time with a DOS date.
        DateCase{"NewestOfMixedLevels",
                 {Dated(0, 'M', kDos2001, "d.txt"), Dated(2, 'U', kUnix2020, "u.txt")},
                 {kUnix2020, kUnix2020},
                 daMaxFileDate}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LhaRun, OnActivateFiresOnceARun) {
  LhaExtraction x(BuildLhaArchive({Entry(0, "a.txt", "a")}));
  int activations = 0;
  x.unlha.OnActivate = [&](TComponent*) { ++activations; };
  EXPECT_EQ(x.unlha.Extract(), 1);
  EXPECT_EQ(activations, 1);
}

TEST(LhaRun, ProgressAfterEveryBlockOfAnLh1Entry) {
  Bytes data = PatternBytes(70000, 2);
  LhaRecord r = LhaRecord::Stored(2, "p.bin", data);
  r.method = "-lh1-";
  r.packed = EncodeLh1(data);
  LhaExtraction x(BuildLhaArchive({r}));
  x.unlha.OnProgress = x.log.Progress();
  EXPECT_EQ(x.unlha.Extract(), 1);
  EXPECT_EQ(x.log.lines, (Lines{"Progress 47 47", "Progress 94 94", "Progress 100 100"}));
}

}  // namespace
}  // namespace quern::test
