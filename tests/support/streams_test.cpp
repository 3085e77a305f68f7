#include "engine/support/streams.h"

#include <gtest/gtest.h>

#include "common/bh_writer.h"
#include "common/scratch_dir.h"
#include "engine/support/crc.h"
#include "platform/platform.h"

namespace quern::test {
namespace {

TEST(FileStream32, FailedOpenLeavesTheInvalidHandleAndNeverThrows) {
  ScratchDir dir;
  WriteFileBytes(dir / "exists.bin", Bytes{1, 2, 3});
  struct Row {
    const char* name;
    const char* file;
    std::uint16_t mode;
  } rows[] = {
      {"MissingFile", "missing.bin", fmOpenRead | fmShareDenyNone},
      {"AccessBitsThree", "exists.bin", 0x0003 | fmShareDenyNone},
      {"Directory", "", fmOpenRead},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    TFileStream32 s(dir.EnginePath(row.file), row.mode);
    EXPECT_EQ(s.Handle(), platform::kInvalidHandle);
    std::uint8_t b[4];
    EXPECT_EQ(s.Read(b, sizeof b), 0u);
    EXPECT_EQ(s.Write(b, sizeof b), 0u);
  }
}

TEST(FileStream32, CreateEmptiesAnExistingFile_ThenReadsWritesAndSeeks) {
  ScratchDir dir;
  WriteFileBytes(dir / "f.bin", Bytes(100, 7));
  {
    TFileStream32 s(dir.EnginePath("f.bin"), fmCreate);
    ASSERT_TRUE(s.Valid());
    EXPECT_EQ(s.Size(), 0);
    s.WriteBuffer("abcdef", 6);
    EXPECT_EQ(s.Position(), 6);
    s.SetPosition(2);
    char two[2];
    s.ReadBuffer(two, 2);
    EXPECT_EQ(std::string(two, 2), "cd");
    s.SetSize(4);
    EXPECT_EQ(s.Size(), 4);
    s.SetPosition(4);
    char b;
    EXPECT_EQ(s.Read(&b, 1), 0u);  // the end of the file
    EXPECT_THROW(s.ReadBuffer(&b, 1), EStreamError);
  }
  EXPECT_EQ(ReadFileBytes(dir / "f.bin"), (Bytes{'a', 'b', 'c', 'd'}));
}

TEST(FileStream32, SharingModes_KeepWritersOutOfAnArchiveBeingExtracted) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.bh", Bytes{1});
  const std::string name = dir.EnginePath("a.bh");
  // Another program has the file open for writing and lets others read and write.
  const platform::Handle writer =
      platform::OpenFile(name, platform::Access::ReadWrite, platform::Share::ReadWrite);
  ASSERT_NE(writer, platform::kInvalidHandle);
  EXPECT_TRUE(TFileStream32(name, fmOpenRead | fmShareDenyNone).Valid());
  EXPECT_FALSE(TFileStream32(name, fmOpenRead | fmShareDenyWrite).Valid());
  platform::CloseFile(writer);
  EXPECT_TRUE(TFileStream32(name, fmOpenRead | fmShareDenyWrite).Valid());
}

TEST(HandleStream32, DoesNotCloseAHandleItWasGiven) {
  ScratchDir dir;
  WriteFileBytes(dir / "f.bin", Bytes{5, 6});
  const platform::Handle h = platform::OpenFile(dir.EnginePath("f.bin"), platform::Access::Read,
                                                platform::Share::ReadWrite);
  { THandleStream32 borrowed(h); }
  std::uint8_t b[2];
  EXPECT_EQ(platform::ReadFile(h, b, 2), 2u);
  EXPECT_TRUE(platform::CloseFile(h));
}

TEST(Crc, CheckValuesOfBothRegisters) {
  const std::string text = "123456789";
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  // CRC-32 preset to all ones; the stored form is the complement of the register.
  EXPECT_EQ(Crc32Update(0xFFFFFFFF, p, text.size()) ^ 0xFFFFFFFF, 0xCBF43926u);
  // In two pieces, the register carries over.
  EXPECT_EQ(Crc32Update(Crc32Update(0xFFFFFFFF, p, 4), p + 4, 5) ^ 0xFFFFFFFF, 0xCBF43926u);
  // CRC-16/ARC preset to zero, no final complement.
  EXPECT_EQ(Crc16Update(0, p, text.size()), 0xBB3D);
  EXPECT_EQ(kCrc32Table[1], 0x77073096u);
  EXPECT_EQ(kCrc16Table[1], 0xC0C1);
}

}  // namespace
}  // namespace quern::test
