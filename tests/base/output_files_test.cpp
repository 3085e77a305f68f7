// Where output files go, when an existing one is replaced, and the dates and attributes they get.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "common/bh_writer.h"
#include "common/event_log.h"
#include "common/fixtures.h"
#include "common/scratch_dir.h"
#include "engine/bh/un_bh.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

std::string Native(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

Bytes Text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

bool Writable(const fs::path& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

void MakeReadOnly(const fs::path& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// a.bh in the scratch directory, extracted into out\. Events show names relative to the scratch
// directory ("out\a.txt", "a.bh").
struct Extraction {
  ScratchDir dir;
  TUnBh unbh;
  EventLog log{dir.EnginePath()};

  explicit Extraction(const std::vector<BhEntry>& entries) {
    WriteFileBytes(dir / "a.bh", BuildBhArchive(entries));
    unbh.SetArchiveFile(dir.EnginePath("a.bh"));
    unbh.SetExtractDir(dir.EnginePath("out"));
    unbh.SetFileSpec({"*.*"});
  }
  fs::path Out(std::string_view relative) const {
    return dir / "out" / Native(std::string(relative));
  }
  std::string OutEngine(std::string_view relative) const {
    return dir.EnginePath("out") + "\\" + std::string(relative);
  }
};

// --- Output names

// Exposes the name rule of the component base.
class NameProbe : public TUnBh {
 public:
  using TZipCommon::BuildOutputName;
};

struct NameCase {
  const char* name;
  const char* extractDir;
  bool useStoredDirs;
  const char* stored;
  const char* output;
};

constexpr NameCase kNameCases[] = {
    {"EmptyStoredName_GivesNoOutput", "C:\\T\\", true, "", ""},
    {"RelativeName_KeepsItsDirectory", "C:\\T\\", true, "docs\\a.txt", "C:\\T\\docs\\a.txt"},
    {"RelativeName_FlatWithoutStoredDirs", "C:\\T\\", false, "docs\\a.txt", "C:\\T\\a.txt"},
    {"RootedName_LosesItsRoot", "C:\\T\\", true, "\\docs\\a.txt", "C:\\T\\docs\\a.txt"},
    {"OtherDrive_LosesDriveAndRoot", "C:\\T\\", true, "D:\\docs\\a.txt", "C:\\T\\docs\\a.txt"},
    {"SameDrive_LosesDriveAndRoot", "C:\\T\\", true, "C:\\x\\y.txt", "C:\\T\\x\\y.txt"},
    {"DriveName_FlatWithoutStoredDirs", "C:\\T\\", false, "C:\\x\\y.txt", "C:\\T\\y.txt"},
    {"DriveRelativeName_LosesTwoChars", "C:\\T\\", true, "D:docs\\a.txt", "C:\\T\\docs\\a.txt"},
    {"ColonLaterInName_StillLosesTwoChars", "C:\\T\\", true, "ab:c.txt", "C:\\T\\:\\c.txt"},
    {"DirectoryName_EndsInSeparator", "C:\\T\\", true, "docs\\sub\\", "C:\\T\\docs\\sub\\"},
    {"ExtractDirWithoutTrailingSeparator_GetsOne", "C:\\T", true, "a.txt", "C:\\T\\a.txt"},
    {"RelativeExtractDir_IsRooted", "temp/out", true, "docs\\a.txt", "\\temp\\out\\docs\\a.txt"},
    {"RelativeExtractDir_IsRootedWhenFlat", "temp/out", false, "docs\\a.txt", "\\temp\\out\\a.txt"},
    {"RootedExtractDir_Unchanged", "\\srv\\x", true, "a.txt", "\\srv\\x\\a.txt"},
};

TEST(OutputName, FollowsStoredNameAndExtractDir) {
  for (const NameCase& c : kNameCases) {
    SCOPED_TRACE(c.name);
    NameProbe probe;
    probe.SetExtractDir(c.extractDir);
    probe.SetUseStoredDirs(c.useStoredDirs);
    probe.BuildOutputName(c.stored);
    EXPECT_EQ(probe.OutputFileName(), c.output);
  }
}

TEST(OutputName, ExtractDirIsKeptWithBackslashesAndTrailingSeparator) {
  NameProbe probe;
  probe.SetExtractDir("temp/out");
  EXPECT_EQ(probe.ExtractDir(), "temp\\out\\");
}

// An empty ExtractDir is filled in: from the archive's directory, else the current directory.
struct DefaultDirCase {
  const char* name;
  bool withArchive;
  bool setEmpty;  // SetExtractDir("") after the archive was named
};

constexpr DefaultDirCase kDefaultDirCases[] = {
    {"EmptySetting_IsArchiveDirectory", true, true},
    {"NeverSet_FilledFromArchiveDirectory", true, false},
    {"NeverSetWithoutArchive_FilledFromCurrentDirectory", false, false},
};

TEST(OutputName, EmptyExtractDirIsFilledIn) {
  for (const DefaultDirCase& c : kDefaultDirCases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    NameProbe probe;
    std::string expectedDir = ToEnginePath(fs::current_path()) + "\\";
    if (c.withArchive) {
      WriteFileBytes(dir / "a.bh", BuildBhArchive({BhEntry::Stored("a.txt", Text("x"))}));
      probe.SetArchiveFile(dir.EnginePath("a.bh"));
      expectedDir = dir.EnginePath();
    }
    if (c.setEmpty) {
      probe.SetExtractDir("");
      EXPECT_EQ(probe.ExtractDir(), expectedDir);
    }
    probe.BuildOutputName("docs\\a.txt");
    EXPECT_EQ(probe.ExtractDir(), expectedDir);
    EXPECT_EQ(probe.OutputFileName(), expectedDir + "docs\\a.txt");
  }
}

// --- Replacing existing files, renaming and declining entries

struct FileState {
  const char* path;     // below out\, engine form
  const char* content;  // nullptr: no such file
  bool readOnly = false;
};

struct Answer {
  const char* newName;  // below out\; "" leaves NewFileName empty
  TOverwriteMode mode;
};

struct OverwriteCase {
  const char* name;
  bool confirm = false;
  TOverwriteMode mode = omOverwrite;
  std::vector<FileState> before = {};
  bool askHandler = false;  // OnFileExists assigned, giving `answers` in turn
  std::vector<Answer> answers = {};
  bool beginHandler = false;  // OnBegin assigned, setting Extract to `extract`
  bool extract = true;
  const char* renameTo = nullptr;  // OnRenameFile assigned, giving this name below out\.
  std::vector<std::string> events = {};
  std::vector<FileState> after = {};
  TOverwriteMode modeAfter = omOverwrite;
  int count = 0;
};

void PrintTo(const OverwriteCase& c, std::ostream* os) {
  *os << c.name;
}

class Overwrite : public ::testing::TestWithParam<OverwriteCase> {};

TEST_P(Overwrite, DecidesWhatIsWritten) {
  const OverwriteCase& c = GetParam();
  Extraction x({BhEntry::Stored("a.txt", Text("new"))});
  for (const FileState& f : c.before) {
    WriteFileBytes(x.Out(f.path), Text(f.content));
    if (f.readOnly) MakeReadOnly(x.Out(f.path));
  }
  x.unbh.SetConfirmOverwrites(c.confirm);
  x.unbh.SetOverwriteMode(c.mode);
  x.unbh.OnError = x.log.Error();
  x.unbh.OnEnd = x.log.End();
  x.unbh.OnProgress = x.log.Progress();
  if (c.beginHandler) x.unbh.OnBegin = x.log.Begin(c.extract);
  if (c.renameTo != nullptr) {
    x.unbh.OnRenameFile = [&](TComponent*, const std::string& file, std::string& newName) {
      x.log.lines.push_back("Rename " + x.log.Relative(file));
      newName = x.OutEngine(c.renameTo);
    };
  }
  std::size_t asked = 0;
  if (c.askHandler) {
    x.unbh.OnFileExists = [&](TComponent*, const std::string& file, std::string& newName,
                              TOverwriteMode& mode) {
      x.log.lines.push_back("Exists " + x.log.Relative(file));
      if (asked == c.answers.size()) {
        ADD_FAILURE() << "asked once too often";
        mode = omSkip;
        return;
      }
      const Answer& a = c.answers[asked++];
      if (*a.newName != '\0') newName = x.OutEngine(a.newName);
      mode = a.mode;
    };
  }

  EXPECT_EQ(x.unbh.Extract(), c.count);
  EXPECT_EQ(x.unbh.FileCount(), c.count);
  EXPECT_EQ(x.log.lines, c.events);
  EXPECT_EQ(x.unbh.OverwriteMode(), c.modeAfter);
  for (const FileState& f : c.after) {
    SCOPED_TRACE(f.path);
    const fs::path path = x.Out(f.path);
    if (f.content == nullptr) {
      EXPECT_FALSE(fs::exists(path));
      continue;
    }
    ASSERT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(ReadFileBytes(path), Text(f.content));
    EXPECT_EQ(Writable(path), !f.readOnly);
  }
}

const std::string kExtracted[] = {"Progress 100 100", "End out\\a.txt pass"};

INSTANTIATE_TEST_SUITE_P(
    Cases, Overwrite,
    ::testing::Values(
        OverwriteCase{.name = "NoConfirm_Overwrite_ReplacesExisting",
                      .before = {{"a.txt", "old"}},
                      .askHandler = true,
                      .events = {kExtracted[0], kExtracted[1]},
                      .after = {{"a.txt", "new"}},
                      .count = 1},
        OverwriteCase{.name = "NoConfirm_Skip_KeepsExistingWithoutAsking",
                      .mode = omSkip,
                      .before = {{"a.txt", "old"}},
                      .askHandler = true,
                      .events = {"Progress 100 100"},
                      .after = {{"a.txt", "old"}},
                      .modeAfter = omSkip},
        OverwriteCase{.name = "NoConfirm_Skip_WritesNothingWhenAbsent",
                      .mode = omSkip,
                      .askHandler = true,
                      .events = {"Progress 100 100"},
                      .after = {{"a.txt", nullptr}},
                      .modeAfter = omSkip},
        OverwriteCase{
            .name = "NoConfirm_ReadOnlyTarget_CannotBeCreated",
            .before = {{"a.txt", "old", true}},
            .events = {"Error 25235 out\\a.txt||0", "Progress 100 100", "End out\\a.txt fail"},
            .after = {{"a.txt", "old", true}}},
        OverwriteCase{.name = "Confirm_NoHandler_SkipsWithRequiredEventError",
                      .confirm = true,
                      .before = {{"a.txt", "old"}},
                      .events = {"Error 25270 out\\a.txt|OnFileExists|a.bh", "Progress 100 100"},
                      .after = {{"a.txt", "old"}},
                      .modeAfter = omSkip},
        OverwriteCase{.name = "Confirm_HandlerSkips_KeepsExisting",
                      .confirm = true,
                      .before = {{"a.txt", "old"}},
                      .askHandler = true,
                      .answers = {{"", omSkip}},
                      .events = {"Exists out\\a.txt", "Progress 100 100"},
                      .after = {{"a.txt", "old"}},
                      .modeAfter = omSkip},
        OverwriteCase{.name = "Confirm_HandlerOverwrites_ReplacesExisting",
                      .confirm = true,
                      .before = {{"a.txt", "old"}},
                      .askHandler = true,
                      .answers = {{"", omOverwrite}},
                      .events = {"Exists out\\a.txt", kExtracted[0], kExtracted[1]},
                      .after = {{"a.txt", "new"}},
                      .count = 1},
        OverwriteCase{.name = "Confirm_NewNameAlsoExists_AsksAgainForIt",
                      .confirm = true,
                      .before = {{"a.txt", "old"}, {"b.txt", "old b"}},
                      .askHandler = true,
                      .answers = {{"b.txt", omOverwrite}, {"c.txt", omOverwrite}},
                      .events = {"Exists out\\a.txt", "Exists out\\b.txt", "Progress 100 100",
                                 "End out\\c.txt pass"},
                      .after = {{"a.txt", "old"}, {"b.txt", "old b"}, {"c.txt", "new"}},
                      .count = 1},
        OverwriteCase{.name = "Confirm_SameNameInOtherCase_OverwritesInPlace",
                      .confirm = true,
                      .before = {{"a.txt", "old"}},
                      .askHandler = true,
                      .answers = {{"A.TXT", omOverwrite}},
                      .events = {"Exists out\\a.txt", kExtracted[0], kExtracted[1]},
                      .after = {{"a.txt", "new"}, {"A.TXT", nullptr}},
                      .count = 1},
        OverwriteCase{
            .name = "Confirm_NewFreeName_WritesThere",
            .confirm = true,
            .before = {{"a.txt", "old"}},
            .askHandler = true,
            .answers = {{"sub\\c.txt", omOverwrite}},
            .events = {"Exists out\\a.txt", "Progress 100 100", "End out\\sub\\c.txt pass"},
            .after = {{"a.txt", "old"}, {"sub\\c.txt", "new"}},
            .count = 1},
        OverwriteCase{.name = "Confirm_TargetAbsent_WritesWithoutAsking",
                      .confirm = true,
                      .askHandler = true,
                      .events = {kExtracted[0], kExtracted[1]},
                      .after = {{"a.txt", "new"}},
                      .count = 1},
        OverwriteCase{.name = "Confirm_ReadOnlyTarget_MadeWritableAndReplaced",
                      .confirm = true,
                      .before = {{"a.txt", "old", true}},
                      .askHandler = true,
                      .answers = {{"", omOverwrite}},
                      .events = {"Exists out\\a.txt", kExtracted[0], kExtracted[1]},
                      .after = {{"a.txt", "new"}},
                      .count = 1},
        OverwriteCase{.name = "RenameWithoutBegin_NeverFires",
                      .renameTo = "ren\\b.txt",
                      .events = {kExtracted[0], kExtracted[1]},
                      .after = {{"a.txt", "new"}, {"ren\\b.txt", nullptr}},
                      .count = 1},
        OverwriteCase{.name = "RenameWithBegin_FiresFirstAndRedirects",
                      .beginHandler = true,
                      .renameTo = "ren\\b.txt",
                      .events = {"Rename out\\a.txt", "Begin out\\ren\\b.txt 1", "Progress 100 100",
                                 "End out\\ren\\b.txt pass"},
                      .after = {{"a.txt", nullptr}, {"ren\\b.txt", "new"}},
                      .count = 1},
        OverwriteCase{.name = "BeginDeclines_SkipsEntryWithoutEnd",
                      .beginHandler = true,
                      .extract = false,
                      .events = {"Begin out\\a.txt 1", "Progress 100 100"},
                      .after = {{"a.txt", nullptr}}}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Dates

constexpr std::uint32_t kNow = 0xFFFFFFFF;  // the date of the run
constexpr std::uint32_t kAbsent = 0;        // not extracted

const std::uint32_t kDateA = DosDateTime(2019, 1, 2, 3, 4, 6);
const std::uint32_t kDateB = DosDateTime(2023, 6, 7, 8, 9, 10);
// The newest entry, dated after 2043: its top bit is set, and it must still sort last.
const std::uint32_t kDateC = DosDateTime(2050, 2, 3, 4, 5, 6);

struct DateCase {
  const char* name;
  TDateAttribute mode;
  std::vector<std::string> fileSpec;
  const char* declined;   // OnBegin declines this entry; nullptr: no OnBegin
  std::uint32_t a, b, c;  // the DOS dates a.txt, b.txt and c.dat end up with
};

void PrintTo(const DateCase& c, std::ostream* os) {
  *os << c.name;
}

class FileDates : public ::testing::TestWithParam<DateCase> {};

TEST_P(FileDates, FollowDateAttribute) {
  const DateCase& c = GetParam();
  const std::pair<const char*, std::uint32_t> stored[] = {
      {"a.txt", kDateA}, {"b.txt", kDateB}, {"c.dat", kDateC}};
  const std::pair<const char*, std::uint32_t> expected[] = {
      {"a.txt", c.a}, {"b.txt", c.b}, {"c.dat", c.c}};
  std::vector<BhEntry> entries;
  for (auto [name, date] : stored) {
    BhEntry e = BhEntry::Stored(name, Text(name));
    e.dosDateTime = date;
    entries.push_back(e);
  }
  Extraction x(entries);
  x.unbh.SetDateAttribute(c.mode);
  x.unbh.SetFileSpec(c.fileSpec);
  if (c.declined != nullptr) {
    x.unbh.OnBegin = [&](TComponent*, const std::string& file, int, bool& extract) {
      extract = !file.ends_with(c.declined);
    };
  }
  const std::time_t before = std::time(nullptr);
  x.unbh.Extract();
  const std::time_t after = std::time(nullptr);

  for (auto [name, date] : expected) {
    SCOPED_TRACE(name);
    const fs::path path = x.Out(name);
    if (date == kAbsent) {
      EXPECT_FALSE(fs::exists(path));
    } else if (date == kNow) {
      // DOS times count in two-second steps.
      EXPECT_GE(ModificationTime(path), before - 2);
      EXPECT_LE(ModificationTime(path), after + 2);
    } else {
      EXPECT_EQ(ModificationTime(path), LocalTimeOfDos(date));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FileDates,
    ::testing::Values(
        DateCase{"FileDate_EachFileItsOwn", daFileDate, {"*.*"}, nullptr, kDateA, kDateB, kDateC},
        DateCase{"MaxFileDate_EveryFileTheNewest",
                 daMaxFileDate,
                 {"*.*"},
                 nullptr,
                 kDateC,
                 kDateC,
                 kDateC},
        DateCase{"MaxFileDate_UnselectedEntryNotCounted",
                 daMaxFileDate,
                 {"*.txt"},
                 nullptr,
                 kDateB,
                 kDateB,
                 kAbsent},
        DateCase{"MaxFileDate_DeclinedNewestStillCounts",
                 daMaxFileDate,
                 {"*.*"},
                 "c.dat",
                 kDateC,
                 kDateC,
                 kAbsent},
        DateCase{"SysDate_Now", daSysDate, {"*.*"}, nullptr, kNow, kNow, kNow}),
    [](const auto& info) { return std::string(info.param.name); });

// --- Attributes

struct AttributeCase {
  const char* name;
  bool restore;
  std::uint16_t attributes;
  bool writable;
};

constexpr AttributeCase kAttributeCases[] = {
    {"Restored_ReadOnlyArchiveBits_LeaveReadOnly", true, 0x21, false},
    {"Restored_ReadOnlyAlone_LeavesReadOnly", true, 0x01, false},
    {"Restored_ArchiveBit_LeavesAsCreated", true, 0x20, true},
    {"NotRestored_ReadOnly_LeavesWritable", false, 0x21, true},
};

TEST(FileAttributes, FollowRestoreFileAttr) {
  for (const AttributeCase& c : kAttributeCases) {
    SCOPED_TRACE(c.name);
    BhEntry e = BhEntry::Stored("a.txt", Text("abc"));
    e.attributes = c.attributes;
    Extraction x({e});
    x.unbh.SetRestoreFileAttr(c.restore);
    ASSERT_EQ(x.unbh.Extract(), 1);
    EXPECT_EQ(ReadFileBytes(x.Out("a.txt")), Text("abc"));
    EXPECT_EQ(Writable(x.Out("a.txt")), c.writable);
  }
}

// --- Settings a run changes or keeps

struct CpuCase {
  const char* name;
  TCpuType before;
  bool archiveOpens;
  TCpuType after;
};

constexpr CpuCase kCpuCases[] = {
    {"I486_BecomesAuto", cpt80486, true, cptAuto},
    {"I286_Stays", cpt80286, true, cpt80286},
    {"I386_Stays", cpt80386, true, cpt80386},
    {"I486_StaysWhenArchiveDoesNotOpen", cpt80486, false, cpt80486},
};

TEST(RunSettings, CpuTypeAfterExtract) {
  for (const CpuCase& c : kCpuCases) {
    SCOPED_TRACE(c.name);
    Extraction x({BhEntry::Stored("a.txt", Text("abc"))});
    if (!c.archiveOpens) fs::remove(x.dir / "a.bh");
    x.unbh.SetCpuType(c.before);
    x.unbh.Extract();
    EXPECT_EQ(x.unbh.CpuType(), c.after);
  }
}

TEST(RunSettings, NewComponentSelectsNothing) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.bh", BuildBhArchive({BhEntry::Stored("a.txt", Text("abc"))}));
  TUnBh unbh;
  EXPECT_TRUE(unbh.FileSpec().empty());
  unbh.SetArchiveFile(dir.EnginePath("a.bh"));
  unbh.SetExtractDir(dir.EnginePath("out"));
  EXPECT_EQ(unbh.Extract(), 0);
  EXPECT_FALSE(fs::exists(dir / "out" / "a.txt"));
}

TEST(RunSettings, FileSpecIsACopyOfTheAssignedList) {
  TStrings list = {"*.txt"};
  TUnBh unbh;
  unbh.SetFileSpec(list);
  list[0] = "*.dat";
  list.push_back("*.*");
  EXPECT_EQ(unbh.FileSpec(), TStrings{"*.txt"});
}

}  // namespace
}  // namespace quern::test
