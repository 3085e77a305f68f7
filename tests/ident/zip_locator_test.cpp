// The ZIP directory locator over archives written record by record.
#include "engine/ident/zip_locator.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "ident_support.h"

namespace quern::test {
namespace {

constexpr std::uint8_t kFound = zfEndRecord | zfCentralHeader | zfLocalHeader;

struct LocatorCase {
  const char* name;
  Bytes bytes;
  std::int64_t position;
  std::uint8_t flags;
  std::uint16_t disk = 0;
};

void PrintTo(const LocatorCase& c, std::ostream* os) {
  *os << c.name;
}

// Two end records: a stray one that would point nowhere, then the real one that counts it in
// the directory it spans.
Bytes TwoEndRecords() {
  BuiltZip zip = BuildZip({});
  Bytes stray = Text("PK\x05\x06");
  stray = Put(stray, 4, {9, 0, 9, 0, 1, 0, 1, 0, 0xE7, 0x03, 0, 0, 0, 0, 0, 0, 0, 0});
  Bytes real(zip.bytes.begin() + zip.endAt, zip.bytes.end());
  real[12] = static_cast<std::uint8_t>(real[12] + stray.size());
  zip.bytes.resize(static_cast<std::size_t>(zip.endAt));
  return Concat(Concat(zip.bytes, stray), real);
}

std::vector<LocatorCase> LocatorCases() {
  const BuiltZip plain = BuildZip({});
  const BuiltZip behind = BuildZip({.prefix = 1000});
  const BuiltZip noCentral = BuildZip({.prefix = 100, .noCentral = true});
  BuiltZip noHeaders = BuildZip({.noCentral = true});
  noHeaders.bytes[0] = 'x';  // the local header gone as well
  const BuiltZip wideBehind = BuildZip({.prefix = 1000, .wideEnd = true});
  Bytes farLocal = Put(Bytes(40000, 'x'), 40000 - 30, BuildZip({.noCentral = true}).bytes);
  Bytes straddling = Put(Bytes(32766, 'x'), 32766, BuildZip({.noCentral = true}).bytes);
  Bytes cutEnd = Resized(plain.bytes, static_cast<std::size_t>(plain.endAt) + 10);
  Bytes zip64LocatorOnly = BuildZip({.zip64 = true}).bytes;
  zip64LocatorOnly[static_cast<std::size_t>(BuildZip({.zip64 = true}).endAt) - 76 + 3] = 0;

  return {
      {"Ordinary", plain.bytes, plain.centralAt, kFound},
      {"EndRecordDiskNumberKept", BuildZip({.disk = 3}).bytes, plain.centralAt, kFound, 3},
      // The directory still ends at the end record, but the recorded local-header offset is 1000
      // bytes too early.
      {"BehindOtherData_LocalHeaderMissed", behind.bytes, behind.centralAt,
       zfEndRecord | zfCentralHeader},
      {"NoCentralDirectory_FirstLocalHeader", noCentral.bytes, noCentral.localAt, zfLocalHeader},
      {"NoCentralDirectoryNoLocalHeader_MinusOne", noHeaders.bytes, -1, zfEndRecord},
      {"LocalHeaderInSecondBlock", farLocal, 40000 - 30, zfLocalHeader},
      {"LocalHeaderAcrossBlocks_NotSeen", straddling, -1, zfEndRecord},
      {"NoEndRecord", Text(std::string(5000, 'z')), 0, 0},
      {"EndRecordCutShort", cutEnd, 0, zfEndRecord},
      {"TwoEndRecords_LaterCounts", TwoEndRecords(), plain.centralAt, kFound},
      {"ScrambledEndRecord", BuildZip({.scrambledEnd = true}).bytes, plain.centralAt, kFound},
      {"ScrambledHeaders", BuildZip({.headerVariant = 'L', .scrambledEnd = true}).bytes,
       plain.centralAt, kFound},
      {"ScrambledHeadersPN", BuildZip({.headerVariant = 'N'}).bytes, plain.centralAt, kFound},
      {"PlainVariantHeadersPM", BuildZip({.headerVariant = 'M'}).bytes, plain.centralAt, kFound},
      {"WideEndRecord", BuildZip({.wideEnd = true}).bytes, plain.centralAt, kFound},
      {"ScrambledWideEndRecord", BuildZip({.scrambledEnd = true, .wideEnd = true}).bytes,
       plain.centralAt, kFound},
      // The recorded position misses; the directory size finds it, and the difference is the
      // prefix that leads to the local header.
      {"WideEndRecordWrongPosition_Prefixed", wideBehind.bytes, wideBehind.centralAt, kFound},
      {"WideEndRecordPastTheFile", BuildZip({.wideEnd = true, .widePosition = 1u << 30}).bytes,
       plain.centralAt, kFound},
      {"Zip64Records", BuildZip({.zip64 = true}).bytes, plain.centralAt,
       kFound | zfZip64Locator | zfZip64EndRecord},
      {"Zip64LocatorWithoutItsEndRecord", zip64LocatorOnly, 0, zfEndRecord | zfZip64Locator},
      {"OneByte", Bytes{'P'}, 0, 0},
  };
}

class Locator : public ::testing::TestWithParam<LocatorCase> {};

TEST_P(Locator, FindsTheDirectory) {
  const LocatorCase& c = GetParam();
  MemoryStream stream(c.bytes);
  const ZipLocation z = LocateZipDirectory(stream, static_cast<std::int64_t>(c.bytes.size()));
  EXPECT_EQ(z.position, c.position);
  EXPECT_EQ(int{z.flags}, int{c.flags});
  EXPECT_EQ(z.EndRecordDisk(), c.disk);
}

INSTANTIATE_TEST_SUITE_P(Cases, Locator, ::testing::ValuesIn(LocatorCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Locator, EmptyFileReadsNothing) {
  MemoryStream stream({});
  EXPECT_EQ(LocateZipDirectory(stream, 0).position, 0);
  EXPECT_EQ(stream.BytesRead(), 0);
}

TEST(FindEndRecord, LastSignatureInTheWindow) {
  EXPECT_EQ(FindEndRecord(Text("PK\x05\x06....PL\x05\x06..")), 8u);
  EXPECT_EQ(FindEndRecord(Text("..P[\x05\x06")), 2u);
  EXPECT_EQ(FindEndRecord(Text("P\\\x05\x06")), 0u);
  EXPECT_EQ(FindEndRecord(Text("PM\x05\x06 PK\x05")), std::nullopt);
  EXPECT_EQ(FindEndRecord(Text("PK\x05")), std::nullopt);
}

TEST(Descramble, UsesTheFixedKeyState) {
  Bytes record = Text("eighteen bytes....");
  const Bytes original = record;
  ScrambleRecord(record);
  EXPECT_NE(record, original);
  Descramble(record);
  EXPECT_EQ(record, original);
}

}  // namespace
}  // namespace quern::test
