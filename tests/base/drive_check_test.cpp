// A run over a split ZIP set checks the set's drive before it opens the archive; no other type
// of archive does.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/bh_writer.h"
#include "common/scratch_dir.h"
#include "engine/bh/un_bh.h"
#include "platform/platform.h"

namespace quern::test {
namespace {

// No signature at the start, then a central header and an end record that names disk 1 of a set.
Bytes SplitSetLastPart() {
  Bytes b(100, 'x');
  Bytes central(46, 0);
  central[0] = 'P';
  central[1] = 'K';
  central[2] = 1;
  central[3] = 2;
  const Bytes end = {'P', 'K', 5, 6, 1, 0, 1, 0, 1, 0, 1, 0, 46, 0, 0, 0, 100, 0, 0, 0, 0, 0};
  b.insert(b.end(), central.begin(), central.end());
  b.insert(b.end(), end.begin(), end.end());
  return b;
}

struct DriveCheckCase {
  const char* name;
  Bytes archive;
  TArcType type;  // as identified on a ready drive
  bool ready;
  bool writeProtected;
  std::vector<int> codes;  // drive-check reports
  bool runs;
};

void PrintTo(const DriveCheckCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<DriveCheckCase> DriveCheckCases() {
  const Bytes bh = BuildBhArchive({BhEntry::Stored("a.txt", Bytes{'h', 'i'})});
  return {
      {"SplitSetOnReadyDrive_Runs", SplitSetLastPart(), atZipDS, true, false, {}, true},
      {"SplitSetDriveNotReady_NotOpened",
       SplitSetLastPart(),
       atZipDS,
       false,
       false,
       {25170},
       false},
      {"SplitSetDriveWriteProtected_NotOpened",
       SplitSetLastPart(),
       atZipDS,
       true,
       true,
       {25171},
       false},
      {"BhOnDriveNotReady_NotChecked", bh, atBh, false, false, {}, true},
  };
}

class DriveCheck : public ::testing::TestWithParam<DriveCheckCase> {
 protected:
  void TearDown() override { platform::ClearDrives(); }
};

TEST_P(DriveCheck, BeforeTheArchiveIsOpened) {
  const DriveCheckCase& c = GetParam();
  ScratchDir dir;
  WriteFileBytes(dir / "set.zip", c.archive);
  std::string root = dir.EnginePath();
  root.pop_back();
  platform::VolumeInformation volume;
  volume.label = "PKBACK# 002";
  platform::DriveRecord drive{root, platform::DriveType::Removable, platform::DiskSpace{1, 2},
                              false, volume};
  platform::InstallDrives({drive});

  TUnBh unbh;
  unbh.SetArchiveFile(dir.EnginePath("set.zip"));
  ASSERT_EQ(unbh.ArcType(), c.type);
  unbh.SetFileSpec({"*.*"});
  unbh.SetExtractDir(dir.EnginePath("out"));

  if (!c.ready) drive.space.reset();
  drive.writeProtected = c.writeProtected;
  platform::InstallDrives({drive});
  std::vector<int> codes;
  unbh.OnError = [&](TComponent*, const std::string& fileName, const std::string& extended,
                     const std::string& volumeId, int code) {
    if (code != 25170 && code != 25171) return;  // the reader's own, once the run started
    codes.push_back(code);
    EXPECT_EQ(fileName, root);
    EXPECT_EQ(extended, "0");
    EXPECT_EQ(volumeId, "0");
  };
  bool ran = false;
  unbh.OnDeactivate = [&](TComponent*) { ran = true; };

  unbh.Extract();
  EXPECT_EQ(ran, c.runs);
  EXPECT_EQ(codes, c.codes);
  EXPECT_EQ(unbh.DiskManager().Drive(), c.type == atZipDS && c.runs ? root : "");
}

INSTANTIATE_TEST_SUITE_P(Cases, DriveCheck, ::testing::ValuesIn(DriveCheckCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quern::test
