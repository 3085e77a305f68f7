// Drives and volumes: the mount that holds a path, what the system tells of it, and drives
// injected for tests.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "common/scratch_dir.h"
#include "platform/platform.h"

namespace quern::platform {
namespace {

bool Mounted(std::string_view point, std::string_view type) {
  std::ifstream in("/proc/self/mountinfo");
  std::string line;
  const std::string wanted = " " + std::string(point) + " ";
  while (std::getline(in, line))
    if (line.find(wanted) != std::string::npos &&
        line.find(" - " + std::string(type) + " ") != std::string::npos)
      return true;
  return false;
}

struct MountCase {
  const char* name;
  const char* path;  // native
  const char* mountPoint;
  const char* fileSystem;
  DriveType type;
};

constexpr MountCase kMountCases[] = {
    {"RamDisk", "/dev/shm", "/dev/shm", "tmpfs", DriveType::RamDisk},
    {"NoBlockDevice_Fixed", "/proc/self/status", "/proc", "proc", DriveType::Fixed},
    {"DiskNotRemovable_Fixed", "/", "/", "ext4", DriveType::Fixed},
};

TEST(Drives, AreTheMountsThatHoldThePath) {
  for (const MountCase& c : kMountCases) {
    SCOPED_TRACE(c.name);
    if (!Mounted(c.mountPoint, c.fileSystem)) {
      GTEST_LOG_(INFO) << c.mountPoint << " is no " << c.fileSystem << " mount here";
      continue;
    }
    const std::string root = DriveRoot(FromNativePath(c.path));
    EXPECT_EQ(root, FromNativePath(c.mountPoint));
    EXPECT_EQ(GetDriveType(root), c.type);
    std::string whyNot;
    const auto volume = GetVolumeInformation(root, whyNot);
    ASSERT_TRUE(volume) << whyNot;
    EXPECT_EQ(volume->fileSystemName, c.fileSystem);
  }
}

TEST(Drives, ScratchDirectoryLiesOnAReadyDrive) {
  test::ScratchDir dir;
  const std::string root = DriveRoot(dir.EnginePath("archive.zip"));
  ASSERT_FALSE(root.empty());
  EXPECT_TRUE(dir.EnginePath().starts_with(root));
  const auto space = GetDiskSpace(root);
  ASSERT_TRUE(space);
  EXPECT_GT(space->totalBytes, 0u);
  EXPECT_LE(space->freeBytes, space->totalBytes);
  EXPECT_FALSE(IsWriteProtected(root));
  std::string whyNot;
  const auto volume = GetVolumeInformation(root, whyNot);
  ASSERT_TRUE(volume) << whyNot;
  EXPECT_GT(volume->maxComponentLength, 0u);
  EXPECT_NE(GetDriveType(root), DriveType::NoRootDir);
}

TEST(Drives, MissingRootHasNoDriveAndNoVolume) {
  const std::string root = "\\no such directory\\anywhere";
  EXPECT_EQ(GetDriveType(root), DriveType::NoRootDir);
  EXPECT_FALSE(GetDiskSpace(root));
  std::string whyNot;
  EXPECT_FALSE(GetVolumeInformation(root, whyNot));
  EXPECT_FALSE(whyNot.empty());
}

TEST(InstalledDrives, AnswerInsteadOfTheSystem) {
  VolumeInformation label;
  label.label = "PKBACK# 002";
  InstallDrives({
      {"\\media", DriveType::Fixed, DiskSpace{1, 2}, false, VolumeInformation{}},
      {"\\media\\floppy", DriveType::Removable, DiskSpace{3, 4}, true, label},
      {"\\media\\gone", DriveType::Removable, std::nullopt, false, std::nullopt},
  });
  EXPECT_EQ(DriveRoot("\\media\\floppy\\a.zip"), "\\media\\floppy");
  EXPECT_EQ(DriveRoot("\\media\\floppy2\\a.zip"), "\\media");
  EXPECT_EQ(DriveRoot("\\home\\a.zip"), "");
  EXPECT_EQ(GetDriveType("\\media\\floppy"), DriveType::Removable);
  EXPECT_TRUE(IsWriteProtected("\\media\\floppy"));
  EXPECT_EQ(GetDiskSpace("\\media\\floppy")->totalBytes, 4u);
  std::string whyNot;
  EXPECT_EQ(GetVolumeInformation("\\media\\floppy", whyNot)->label, "PKBACK# 002");
  EXPECT_FALSE(GetDiskSpace("\\media\\gone"));
  EXPECT_FALSE(GetVolumeInformation("\\media\\gone", whyNot));
  EXPECT_EQ(GetDriveType("\\home"), DriveType::NoRootDir);
  ClearDrives();
  EXPECT_NE(DriveRoot("\\home\\a.zip"), "");
}

}  // namespace
}  // namespace quern::platform
