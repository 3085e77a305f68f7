#include <gtest/gtest.h>

#include <filesystem>

#include "common/extraction.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

// Stored names that try to leave the extract directory. Each is refused with 25245 and the
// entry after it is still extracted; nothing appears outside "out".
struct HostileCase {
  const char* name;
  std::string stored;
  std::string reported;  // the name as OnError shows it: translated, "/" turned into "\"
};

class HostileName : public ::testing::TestWithParam<HostileCase> {};

TEST_P(HostileName, IsRefusedAndWritesNothingOutside) {
  const HostileCase& c = GetParam();
  Extraction x(BuildBhArchive({BhEntry::Stored(c.stored, Bytes{'x'}),
                               BhEntry::Directory("d\\..\\..\\escaped-dir"),
                               BhEntry::Stored("next.txt", Bytes{'n'})}));
  fs::create_directories(x.Out());
  x.unbh.OnError = x.log.Error();
  x.unbh.OnEnd = x.log.End();

  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(x.log.lines,
            (std::vector<std::string>{"Error 25245 " + c.reported + "||" + x.unbh.ArchiveFile(),
                                      "Error 25245 d\\..\\..\\escaped-dir||" + x.unbh.ArchiveFile(),
                                      "End next.txt pass"}));
  // The scratch directory holds only the archive and "out"; "out" only what was extracted.
  std::vector<std::string> top;
  for (const auto& e : fs::directory_iterator(x.dir.path()))
    top.push_back(e.path().filename());
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"a.bh", "out"}));
  EXPECT_EQ(ReadFileBytes(x.Out("next.txt")), Bytes{'n'});
}

INSTANTIATE_TEST_SUITE_P(Names, HostileName,
                         ::testing::Values(HostileCase{"ParentOfParent", "..\\..\\x", "..\\..\\x"},
                                           HostileCase{"RootedParent", "\\..\\x", "\\..\\x"},
                                           HostileCase{"ForwardSlashes", "../x", "..\\x"},
                                           HostileCase{"DeepThenUp", "a\\b\\..\\..\\..\\x",
                                                       "a\\b\\..\\..\\..\\x"},
                                           HostileCase{"DriveThenUp", "C:..\\x", "C:..\\x"},
                                           HostileCase{"JustDotDot", "..", ".."}),
                         [](const auto& info) { return std::string(info.param.name); });

// Absolute names, drive names and control bytes are not refused: the names stay below the
// extract directory, and nothing appears anywhere else.
TEST(HostileName, AbsoluteDriveAndControlByteNames_LandInsideTheExtractDirectory) {
  const std::vector<std::pair<std::string, std::string>> names = {
      {"/abs/x.txt", "abs/x.txt"},
      {"\\\\server\\share\\u.txt", "server/share/u.txt"},
      {"C:\\drive\\y.txt", "drive/y.txt"},
      {"D:z.txt", "z.txt"},
      {"ctl\x01\x1f.txt", "ctl\x01\x1f.txt"},
      {"new\nline.txt", "new\nline.txt"}};
  std::vector<BhEntry> entries;
  for (const auto& [stored, native] : names)
    entries.push_back(BhEntry::Stored(stored, Bytes{'k'}));
  Extraction x(BuildBhArchive(entries));
  x.unbh.OnError = x.log.Error();
  EXPECT_EQ(x.unbh.Extract(), static_cast<int>(names.size()));
  EXPECT_TRUE(x.log.lines.empty()) << x.log.lines.front();
  for (const auto& [stored, native] : names)
    EXPECT_TRUE(fs::exists(x.Out(native))) << native;
  std::vector<std::string> top;
  for (const auto& e : fs::directory_iterator(x.dir.path()))
    top.push_back(e.path().filename());
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"a.bh", "out"}));
}

TEST(HostileName, PathThroughASymbolicLinkOutOfTheRoot_IsRefused) {
  Extraction x(BuildBhArchive(
      {BhEntry::Stored("link\\x.txt", Bytes{'x'}), BhEntry::Stored("next.txt", Bytes{'n'})}));
  fs::create_directories(x.Out());
  fs::create_directories(x.dir / "elsewhere");
  fs::create_directory_symlink(x.dir / "elsewhere", x.Out("link"));
  x.unbh.OnError = x.log.Error();

  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(x.log.lines,
            (std::vector<std::string>{"Error 25245 link\\x.txt||" + x.unbh.ArchiveFile()}));
  EXPECT_TRUE(fs::is_empty(x.dir / "elsewhere"));
  EXPECT_TRUE(fs::exists(x.Out("next.txt")));
}

TEST(HostileName, ExistingSymbolicLinkAsTheFileItself_IsNotFollowed) {
  Extraction x(BuildBhArchive({BhEntry::Stored("victim.txt", Bytes{'x'})}));
  fs::create_directories(x.Out());
  WriteFileBytes(x.dir / "target.txt", Bytes{'k', 'e', 'e', 'p'});
  fs::create_symlink(x.dir / "target.txt", x.Out("victim.txt"));
  x.unbh.OnError = x.log.Error();

  x.unbh.Extract();
  EXPECT_EQ(ReadFileBytes(x.dir / "target.txt"), (Bytes{'k', 'e', 'e', 'p'}));
}

}  // namespace
}  // namespace quern::test
