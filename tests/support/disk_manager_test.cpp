// The drive check of split archives, over drives injected through the platform layer.
#include "engine/support/disk_manager.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace quern {
namespace {

using platform::DiskSpace;
using platform::DriveRecord;
using platform::DriveType;
using platform::VolumeInformation;

struct LabelCase {
  const char* label;
  std::optional<std::uint16_t> diskNumber;
};

constexpr LabelCase kLabelCases[] = {
    {"PKBACK# 003", 3},
    {"PKBACK# 0A1", 0},
    {"BACKUP", 0},
    {"", 0},
    {"PKBACK#003", 0},  // the space belongs to the mark
    {"PKBACK# 65535", 65535},
    {"PKBACK# 65536", 0},
    {"PKBACK# 1 PKBACK# 12", 12},
    {"PKBACK# ", std::nullopt},
};

TEST(DiskNumberFromLabel, DigitsAfterTheLastMark) {
  for (const LabelCase& c : kLabelCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DiskNumberFromLabel(c.label), c.diskNumber);
  }
}

TEST(DriveTypeName, ByDriveTypeOrFloppyKind) {
  const char* const names[] = {"Unknown",          "None",   "Floppy", "Fixed",
                               "Network",          "CD-ROM", "RAM",    "3\xC2\xBD Floppy",
                               "5\xC2\xBC Floppy", "Unknown"};
  for (std::uint8_t i = 0; i < std::size(names); ++i)
    EXPECT_EQ(DriveTypeName(i), names[i]) << int{i};
}

VolumeInformation Volume(std::string label, std::uint32_t serial = 0x00C0FFEE) {
  VolumeInformation v;
  v.label = std::move(label);
  v.serialNumber = serial;
  v.maxComponentLength = 255;
  v.fileSystemName = "vfat";
  v.fileSystemFlags = 2;
  return v;
}

DriveRecord Drive(std::string root, DriveType type, std::string label = "") {
  return {std::move(root), type, DiskSpace{1000, 5000}, false, Volume(std::move(label))};
}

// What a prompt does each time it is asked: leave Cancel set, or clear it after making the drive
// usable (the records to install then).
struct Prompt {
  bool assigned = false;
  std::vector<DriveRecord> fixesWith;  // empty: the prompt cancels
};

Prompt Absent() {
  return {false, {}};
}
Prompt Cancels() {
  return {true, {}};
}
Prompt Fixes(std::vector<DriveRecord> drives) {
  return {true, std::move(drives)};
}

struct CheckCase {
  const char* name;
  std::vector<DriveRecord> drives;
  const char* path;
  Prompt notReady;
  Prompt writeProtected;
  Prompt volumeRetry;
  bool passes;
  std::vector<int> reports;
  const char* typeName = "";
};

DriveRecord NotReady(std::string root) {
  DriveRecord d = Drive(std::move(root), DriveType::Removable);
  d.space.reset();
  return d;
}
DriveRecord ReadOnly(std::string root) {
  DriveRecord d = Drive(std::move(root), DriveType::Removable);
  d.writeProtected = true;
  return d;
}
DriveRecord Unreadable(std::string root) {
  DriveRecord d = Drive(std::move(root), DriveType::Removable);
  d.volume.reset();
  return d;
}

std::vector<CheckCase> CheckCases() {
  const std::vector<DriveRecord> good = {Drive("\\a", DriveType::Removable, "PKBACK# 003")};
  return {
      {"RemovableDrive", good, "\\a\\x.zip", Absent(), Absent(), Absent(), true, {}, "Unknown"},
      {"FixedDrive",
       {Drive("\\a", DriveType::Fixed)},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Absent(),
       true,
       {},
       "Fixed"},
      {"CdRom",
       {Drive("\\a", DriveType::CdRom)},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Absent(),
       true,
       {},
       "CD-ROM"},
      {"NotReady_NotAccessible",
       {NotReady("\\a")},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Absent(),
       false,
       {25170}},
      {"NotReady_PromptCancels",
       {NotReady("\\a")},
       "\\a\\x.zip",
       Cancels(),
       Absent(),
       Absent(),
       false,
       {25443}},
      {"NotReady_PromptMakesReady",
       {NotReady("\\a")},
       "\\a\\x.zip",
       Fixes(good),
       Absent(),
       Absent(),
       true,
       {},
       "Unknown"},
      {"WriteProtected",
       {ReadOnly("\\a")},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Absent(),
       false,
       {25171}},
      {"WriteProtected_PromptCancels",
       {ReadOnly("\\a")},
       "\\a\\x.zip",
       Absent(),
       Cancels(),
       Absent(),
       false,
       {25443}},
      {"WriteProtected_PromptUnprotects",
       {ReadOnly("\\a")},
       "\\a\\x.zip",
       Absent(),
       Fixes(good),
       Absent(),
       true,
       {},
       "Unknown"},
      {"VolumeUnreadable_NoHost",
       {Unreadable("\\a")},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Absent(),
       false,
       {25170}},
      {"VolumeUnreadable_HostCancels",
       {Unreadable("\\a")},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Cancels(),
       false,
       {25170}},
      {"VolumeUnreadable_HostRetries",
       {Unreadable("\\a")},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Fixes(good),
       true,
       {},
       "Unknown"},
      {"NoRootDirectory",
       {Drive("\\a", DriveType::NoRootDir)},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Absent(),
       false,
       {25170}},
      {"NoDriveHoldsThePath", good, "\\b\\x.zip", Absent(), Absent(), Absent(), false, {25170}},
      {"BareLabelMark_FailsUnreported",
       {Drive("\\a", DriveType::Removable, "PKBACK# ")},
       "\\a\\x.zip",
       Absent(),
       Absent(),
       Absent(),
       false,
       {}},
      // A share is not tested for readiness or write protection.
      {"NetworkShare",
       {[] {
         DriveRecord d = ReadOnly("\\\\server\\share");
         d.type = DriveType::Remote;
         d.space.reset();
         return d;
       }()},
       "\\\\server\\share\\dir\\x.zip",
       Absent(),
       Absent(),
       Absent(),
       true,
       {},
       "Network"},
  };
}

void PrintTo(const CheckCase& c, std::ostream* os) {
  *os << c.name;
}

class CheckDrive : public ::testing::TestWithParam<CheckCase> {
 protected:
  void TearDown() override { platform::ClearDrives(); }
};

TEST_P(CheckDrive, PassesOrReports) {
  const CheckCase& c = GetParam();
  platform::InstallDrives(c.drives);
  TDiskManager disks;
  std::vector<int> reports;
  disks.ErrorReport = [&](const std::string& fileName, const std::string& extended,
                          const std::string& volume, int code) {
    EXPECT_EQ(fileName, DriveOfPath(c.path));
    EXPECT_EQ(extended, "0");
    EXPECT_EQ(volume, "0");
    reports.push_back(code);
  };
  auto prompt = [](const Prompt& p) -> TOnDiskPrompt {
    if (!p.assigned) return nullptr;
    return [p](TDiskCommon*, bool& cancel) {
      EXPECT_TRUE(cancel);
      if (p.fixesWith.empty()) return;
      platform::InstallDrives(p.fixesWith);
      cancel = false;
    };
  };
  disks.OnDriveNotReady = prompt(c.notReady);
  disks.OnWriteProtected = prompt(c.writeProtected);
  if (c.volumeRetry.assigned) {
    disks.OnVolumeRetry = [&](TDiskCommon*, const std::string& text) {
      EXPECT_TRUE(text.starts_with("\\A\\is not accessible\r\n\r\n")) << text;
      if (c.volumeRetry.fixesWith.empty()) return false;
      platform::InstallDrives(c.volumeRetry.fixesWith);
      return true;
    };
  }

  EXPECT_EQ(disks.CheckDrive(c.path), c.passes);
  EXPECT_EQ(reports, c.reports);
  if (c.passes) {
    EXPECT_EQ(disks.DriveTypeName(), c.typeName);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, CheckDrive, ::testing::ValuesIn(CheckCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CheckDriveFields, DescribeTheDrive) {
  platform::InstallDrives({Drive("\\a", DriveType::Removable, "PKBACK# 003")});
  TDiskManager disks;
  ASSERT_TRUE(disks.CheckDrive("\\a\\b\\x.zip"));
  platform::ClearDrives();
  EXPECT_EQ(disks.Drive(), "\\a");
  EXPECT_EQ(disks.VolumeLabel(), "PKBACK# 003");
  EXPECT_EQ(disks.DiskNumber(), 3);
  EXPECT_EQ(disks.VolumeID(), 0x00C0FFEEu);
  EXPECT_EQ(disks.VolumeIDText(), "00C0FFEE");
  EXPECT_EQ(disks.MaxComponentLength(), 255u);
  EXPECT_EQ(disks.FileSystemName(), "vfat");
  EXPECT_EQ(disks.FileSystemFlags(), 2u);
  EXPECT_EQ(disks.DriveType(), 2);
  EXPECT_EQ(disks.FloppyKind(), 0);
  EXPECT_EQ(disks.FreeBytes(), 1000);
  EXPECT_EQ(disks.TotalBytes(), 5000);
}

TEST(CheckDriveFields, RemoteDriveKeepsTheSpaceItHad) {
  DriveRecord remote = Drive("\\a", DriveType::Remote);
  remote.space = DiskSpace{7, 9};
  platform::InstallDrives({Drive("\\a", DriveType::Fixed)});
  TDiskManager disks;
  ASSERT_TRUE(disks.CheckDrive("\\a\\x.zip"));
  platform::InstallDrives({remote});
  ASSERT_TRUE(disks.CheckDrive("\\a\\x.zip"));
  platform::ClearDrives();
  EXPECT_EQ(disks.DriveTypeName(), "Network");
  EXPECT_EQ(disks.TotalBytes(), 5000);
}

struct KindCase {
  const char* name;
  DriveRecord drive;
  TArcType kind;
};

TEST(SplitSetKind, ByDriveAndLabel) {
  const KindCase cases[] = {
      {"RemovableWithMark_Spanned", Drive("\\a", DriveType::Removable, "PKBACK# 001"), atZipDS},
      {"RemovableWithLowerCaseMark_Spanned", Drive("\\a", DriveType::Removable, "pkback# 001"),
       atZipDS},
      {"RemovableOtherLabel_Volumes", Drive("\\a", DriveType::Removable, "BACKUP"), atZipMV},
      {"RemovableNoLabel_Volumes", Drive("\\a", DriveType::Removable), atZipMV},
      {"FixedWithMark_Volumes", Drive("\\a", DriveType::Fixed, "PKBACK# 001"), atZipMV},
      {"NotReady_NoArchive", NotReady("\\a"), atNA},
  };
  for (const KindCase& c : cases) {
    SCOPED_TRACE(c.name);
    platform::InstallDrives({c.drive});
    EXPECT_EQ(SplitSetKind("\\a\\set.zip"), c.kind);
  }
  platform::ClearDrives();
}

}  // namespace
}  // namespace quern
