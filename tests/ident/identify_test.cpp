// Which archive a file holds and where its data begin.
#include "engine/ident/identify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/bh_writer.h"
#include "common/pe_image.h"
#include "common/scratch_dir.h"
#include "engine/bh/un_bh.h"
#include "ident_support.h"
#include "platform/platform.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

Bytes Bh() {
  return BuildBhArchive({BhEntry::Stored("a.txt", Text("hello"))});
}

// A ustar header for a 5-byte file, its checksum written as tar writes it, then the data block
// and the two closing blocks.
Bytes Tar() {
  Bytes b(4 * 512, 0);
  auto field = [&b](std::size_t at, std::string_view text) {
    std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
  };
  field(0, "hello.txt");
  field(100, "0000644");
  field(108, "0001750");
  field(116, "0001750");
  field(124, "00000000005");
  field(136, "14707346500");
  field(156, "0");
  field(257, "ustar");
  field(263, "00");
  field(512, "hello");
  unsigned sum = 0;
  for (std::size_t i = 0; i < 512; ++i)
    sum += (i >= 148 && i < 156) ? ' ' : b[i];
  char checksum[8];
  std::snprintf(checksum, sizeof checksum, "%06o", sum);
  std::copy(checksum, checksum + 7, b.begin() + 148);
  b[155] = ' ';
  return b;
}

// --- Four signature bytes

struct SignatureCase {
  const char* name;
  std::array<std::uint8_t, 4> bytes;
  TArcType atStart;
  TArcType inside;
  std::int64_t insideOffset = -1;
  std::int64_t startOffset = -1;
  FollowUp followUp = FollowUp::None;
};

constexpr SignatureCase kSignatureCases[] = {
    {"Pkg5_Unknown", {'P', 'K', 'G', '5'}, atUnknown, atUnknown},
    {"MsGZ", {0x13, 0x5D, 0x65, 0x8C}, atMsGZ, atUnsupported},
    {"Bh", {0x42, 0x48, 0x05, 0x07}, atBh, atBhExe},
    {"Rar", {'R', 'a', 'r', '!'}, atRar, atRarExe},
    {"Cab", {'M', 'S', 'C', 'F'}, atCab, atCabExe},
    {"ArcStubMarker_FixedOffsetInside", {0xB7, 0xDF, 0x54, 0x57}, atArc, atArcExe, 7716},
    {"LhaMethodDash", {0x00, 0x00, '-', 'l'}, atLha, atLhaExe},
    {"LhaMethodDashWinsOverTwoByteSignatures", {'H', 'A', '-', 'l'}, atLha, atLhaExe},
    {"OldArc02", {0x1A, 0x02, 0, 0}, atArc, atUnsupported},
    {"OldArc1E", {0x1A, 0x1E, 0, 0}, atArc, atUnsupported},
    {"Arc08", {0x1A, 0x08, 0, 0}, atArc, atArcExe},
    {"Arc09", {0x1A, 0x09, 0, 0}, atArc, atArcExe},
    {"Pak0A", {0x1A, 0x0A, 0, 0}, atPak, atPakExe},
    {"Pak0B", {0x1A, 0x0B, 0, 0}, atPak, atPakExe},
    {"GZip1F8B", {0x1F, 0x8B, 0x08, 0}, atGZip, atUnsupported},
    {"GZip1F9D", {0x1F, 0x9D, 0x90, 0}, atGZip, atUnsupported},
    {"GZip2521", {0x25, 0x21, 0, 0}, atGZip, atUnsupported},
    {"GZip1F1E", {0x1F, 0x1E, 0, 0}, atGZip, atUnsupported},
    {"GZip1F9E", {0x1F, 0x9E, 0, 0}, atGZip, atUnsupported},
    {"GZip1FA0", {0x1F, 0xA0, 0, 0}, atGZip, atUnsupported},
    {"HA", {'H', 'A', 0x02, 0}, atHA, atUnsupported},
    {"ZipLocalHeader", {'P', 'K', 0x03, 0x04}, atZip, atZipExe},
    {"ScrambledLocalHeader", {'P', 'L', 0x03, 0x04}, atZip, atZipExe},
    {"PkG4_NotAnArchive", {'P', 'K', 0x47, 0x34}, atNA, atNA},
    {"PkCI_NotAnArchive", {'P', 'K', 0x43, 0x49}, atNA, atNA},
    {"CentralHeaderFirst_SplitSetThenLocator",
     {'P', 'K', 0x01, 0x02},
     atNA,
     atNA,
     -1,
     -1,
     FollowUp::SplitSetKindThenLocate},
    {"VariantCentralHeaderFirst_SplitSetThenLocator",
     {'P', 'N', 0x01, 0x02},
     atNA,
     atNA,
     -1,
     -1,
     FollowUp::SplitSetKindThenLocate},
    {"SpanMarker_SplitSet", {'P', 'K', 0x07, 0x08}, atNA, atNA, -1, -1, FollowUp::SplitSetKind},
    {"Zoo", {'Z', 'O', 'O', ' '}, atZoo, atUnsupported},
    {"ArcStubB792_FixedOffsetEverywhere", {0xB7, 0x92, 0, 0}, atArcExe, atArcExe, 7716, 7716},
    {"Arj", {0x60, 0xEA, 0x20, 0}, atArj, atArjExe},
    {"Text_NotAnArchive", {'a', 'b', 'c', 'd'}, atNA, atNA},
    {"BhSignatureCutShort_NotAnArchive", {0x42, 0x48, 0x05, 0x08}, atNA, atNA},
};

TEST(ClassifySignature, ByContext) {
  for (const SignatureCase& c : kSignatureCases) {
    SCOPED_TRACE(c.name);
    const Classification start = ClassifySignature(c.bytes, SignatureContext::Start);
    EXPECT_EQ(start.type, c.atStart);
    EXPECT_EQ(start.offset, c.startOffset);
    EXPECT_EQ(start.followUp, c.followUp);
    const Classification inside = ClassifySignature(c.bytes, SignatureContext::Inside);
    EXPECT_EQ(inside.type, c.inside);
    EXPECT_EQ(inside.offset, c.insideOffset);
    EXPECT_EQ(inside.followUp, c.followUp);
  }
}

// --- The forward scan over one block

struct ScanCase {
  const char* name;
  Bytes block;
  std::int64_t blockStart;
  std::int64_t scanStart;
  std::optional<ScanMatch> match;
};

Bytes BlockWith(std::initializer_list<std::pair<std::size_t, Bytes>> parts,
                std::size_t size = 4096) {
  Bytes b(size, 0);
  for (const auto& [at, bytes] : parts)
    b = Put(b, at, bytes);
  return b;
}

const Bytes kBhSig = {0x42, 0x48, 0x05, 0x07, 0x25, 0x00, 0x00, 0x03};
const Bytes kBhSelfCopy = {0x42, 0x48, 0x05, 0x07, 0x0F, 0x94, 0xC3, 0x84};
const Bytes kCabSig = {'M', 'S', 'C', 'F', 0, 0, 0, 0};
const Bytes kZipSig = {'P', 'K', 3, 4, 0x14, 0, 0, 0};
// An ARJ main header of 30 bytes, then the next header where its length says.
const Bytes kArjHeaders = Put(Bytes{0x60, 0xEA, 30, 0}, 40, {0x60, 0xEA});

std::vector<ScanCase> ScanCases() {
  return {
      {"BhAtZero_Plain", BlockWith({{0, kBhSig}}), 0, 0, ScanMatch{atBh, 0}},
      {"BhInside_FilePosition", BlockWith({{100, kBhSig}}), 32768, 0, ScanMatch{atBhExe, 32868}},
      {"BhSelfCopy_Passed", BlockWith({{10, kBhSelfCopy}, {300, kBhSig}}), 0, 0,
       ScanMatch{atBhExe, 300}},
      {"FirstMatchWins", BlockWith({{50, kBhSig}, {20, Text("Rar!")}}), 0, 0,
       ScanMatch{atRarExe, 20}},
      {"AceMarker_HeaderSevenBefore", BlockWith({{57, Text("**ACE**")}}), 0, 0,
       ScanMatch{atAceExe, 50}},
      {"AceMarkerTooEarly_Ignored", BlockWith({{6, Text("**ACE**")}}), 0, 0, std::nullopt},
      {"LhaMethod_HeaderTwoBefore", BlockWith({{30, Text("-lh5-")}}), 0, 0,
       ScanMatch{atLhaExe, 28}},
      {"LhaMethodNotClosed_Ignored", BlockWith({{30, Text("-lh5x")}}), 0, 0, std::nullopt},
      {"CabFromFileStart_SkipsBlock", BlockWith({{200, kCabSig}, {400, kBhSig}}), 0, 0,
       ScanMatch{atNA, 0}},
      {"CabInProgram", BlockWith({{200, kCabSig}}), 17000, 17000, ScanMatch{atCabExe, 17200}},
      {"CabWithoutZeroField_Ignored", BlockWith({{200, Text("MSCFxxxx")}}), 17000, 17000,
       std::nullopt},
      {"ZipFromFileStart", BlockWith({{100, kZipSig}}), 0, 0, ScanMatch{atZip, 100}},
      {"ZipInProgram", BlockWith({{100, kZipSig}}), 17000, 17000, ScanMatch{atZipExe, 17100}},
      {"ZipStubCopy_Passed", BlockWith({{100, {'P', 'K', 3, 4, 0x74, 0x0B, 0x3D, 0}}}), 0, 0,
       std::nullopt},
      {"Rar", BlockWith({{10, Text("Rar!")}}), 17000, 17000, ScanMatch{atRarExe, 17010}},
      {"ArjWithNextHeader", BlockWith({{64, kArjHeaders}}), 0, 0, ScanMatch{atArjExe, 64}},
      {"ArjWithoutNextHeader_Ignored", BlockWith({{64, {0x60, 0xEA, 30, 0}}}), 0, 0, std::nullopt},
      {"Nothing", BlockWith({{10, Text("PK")}, {20, Text("BH")}}), 0, 0, std::nullopt},
  };
}

void PrintTo(const ScanCase& c, std::ostream* os) {
  *os << c.name;
}

class ScanBlock : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanBlock, FindsTheFirstSignature) {
  const ScanCase& c = GetParam();
  const auto match = ScanBlockForSignature(c.block, c.blockStart, c.scanStart, 1'000'000);
  ASSERT_EQ(match.has_value(), c.match.has_value());
  if (!match) return;
  EXPECT_EQ(match->type, c.match->type);
  EXPECT_EQ(match->offset, c.match->offset);
}

INSTANTIATE_TEST_SUITE_P(Cases, ScanBlock, ::testing::ValuesIn(ScanCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Text and tar checks

struct UueCase {
  const char* name;
  const char* text;
  bool uuencoded;
};

constexpr UueCase kUueCases[] = {
    {"Begin644", "begin 644 x.txt\nM86)C\n`\nend\n", true},
    {"Begin755AfterOtherLines", "Subject: files\n\nbegin 755 run\n", true},
    {"OtherModeThenBodyLine", "begin 400 x\nM86)C86)C\n", true},
    {"OtherModeWithoutBodyLine", "begin 400 x\nabc\n", false},
    {"BodyLineBeforeBegin", "M86)C\nbegin 400 x\n", false},
    {"BeginNotAtLineStart", "xbegin 644 x\n", false},
    {"PlainText", "hello world\n", false},
};

TEST(LooksUuencoded, NeedsABeginLine) {
  for (const UueCase& c : kUueCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LooksUuencoded(Text(c.text)), c.uuencoded);
  }
}

struct TarCase {
  const char* name;
  std::size_t at;  // the byte changed
  std::uint8_t value;
  bool matches;
};

constexpr TarCase kTarCases[] = {
    {"AsWritten", 0, 'h', true},
    {"NameByteChanged", 1, 'E', false},
    {"LastByteChanged", 511, 1, false},
    {"ChecksumTerminatorIgnored", 155, 0, true},
    {"ChecksumDigitChanged", 148, '7', false},
};

TEST(TarChecksumMatches, SumsTheHeaderWithItsFieldAsSpaces) {
  for (const TarCase& c : kTarCases) {
    SCOPED_TRACE(c.name);
    Bytes header = Tar();
    header.resize(512);
    header[c.at] = c.value;
    EXPECT_EQ(TarChecksumMatches(std::span<const std::uint8_t, 512>(header.data(), 512)),
              c.matches);
  }
  EXPECT_FALSE(TarChecksumMatches(std::array<std::uint8_t, 512>{}));
}

// --- Whole files

struct FileCase {
  const char* name;
  Bytes bytes;
  TArcType type;
  std::optional<std::int64_t> offset;  // unset: not checked
  const char* fileName = "x.bin";
};

void PrintTo(const FileCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<FileCase> FileCases() {
  const Bytes bh = Bh();
  Bytes ace = bh;
  ace = Put(ace, 7, Text("**ACE**"));
  Bytes lha128(134, 'x');
  lha128[0] = 0;
  lha128[130] = '-';
  lha128[131] = 'l';
  Bytes badTar = Tar();
  badTar[20] = 'X';
  const Bytes scanAtZero = Put(Bytes(1000, 0), 2, Text("-lh5-"));
  const Bytes zip = BuildZip({}).bytes;
  const Bytes pe = BuildPeImage({{1, u"5000"}}).bytes;
  auto withStrings = [](std::map<std::uint16_t, std::u16string> strings) {
    return BuildPeImage(strings).bytes;
  };
  Bytes tarTooShortForVolume = Tar();
  tarTooShortForVolume[156] = 'V';
  tarTooShortForVolume.resize(1024);
  return {
      {"NineteenBytes_TooShort", Resized(bh, 19), atNA, std::nullopt},
      {"TwentyBytes_Bh", Resized(bh, 20), atBh, 0},
      {"BhStartWithAceMarker_Ace", ace, atAce, 0},
      {"BhBehindOtherData_FoundByScan", Put(Text(std::string(5000, 'x')), 5000, bh), atBhExe, 5000},
      {"BhAfterLeadingZeros_OffsetPastZeros", Put(Bytes(100, 0), 100, bh), atBh, 100},
      {"ProgramWithoutImageEnd_ScanFrom17000", Put(Program(kPastEnd, 0, 20000), 20000, bh), atBhExe,
       20000},
      {"ProgramWithoutImageEnd_NothingBefore17000", Put(Program(kPastEnd, 0, 30000), 10000, bh),
       atNA, std::nullopt},
      {"ProgramWithLhaAt1947", Put(Program(kPastEnd, 0, 4000), 1947, Text("-lh5-")), atLhaExe,
       1945},
      {"ProgramImageEndAtBh", Put(Program(3, 100, 1124), 1124, bh), atBhExe, 1124},
      {"ZeroFirstByte_LhaBehind128BytePrefix", lha128, atLha, 128},
      {"ZeroFirstByte_TooFewBytesForLhaPrefix", Resized(lha128, 133), atNA, std::nullopt},
      {"Pkg5_Unknown", Put(Text("PKG5"), 4, Bytes(100, 'z')), atUnknown, std::nullopt},
      {"PkG4_NotFromFirstBytes_ScanFindsBh", Put(Text("PKG4"), 3000, bh), atBhExe, 3000},
      {"ZipNamedJar_Jar", Put(Text("PK\x03\x04"), 100, {}), atJar, std::nullopt, "x.JAR"},
      {"ZipNamedZip_Zip", Put(Text("PK\x03\x04"), 100, {}), atZip, std::nullopt, "x.zip"},
      {"Tar", Tar(), atTar, 0},
      {"TarWithBadChecksum_NotTar", badTar, atNA, std::nullopt},
      {"Uuencoded", Text("begin 644 x.txt\nM86)C86)C86)C86)C86)C\n`\nend\n"), atUUE, 0},
      {"ScanMatchAtZero_KeptWhenNothingFollows", scanAtZero, atLha, 0},
      {"ScanMatchAtZero_DoesNotEndTheScan", Put(scanAtZero, 40000, bh), atBhExe, 40000},
      {"TarVolumeLabelWithoutFollowingHeader_NotTar", tarTooShortForVolume, atNA, std::nullopt},

      // Signatures at the start of a file.
      {"Rar", Put(Text("Rar!"), 40, {}), atRar, 0},
      {"Cab", Put(Text("MSCF"), 40, {}), atCab, 0},
      {"HA", Put(Text("HA\x02\x00"), 40, {}), atHA, 0},
      {"Zoo", Put(Text("ZOO 2.10 Archive.\x1A"), 40, {}), atZoo, 0},
      {"AceMarkerAt7", Put(Text("1234567**ACE**"), 40, {}), atAce, 0},
      {"MsGZ", Put({0x13, 0x5D, 0x65, 0x8C}, 40, {}), atMsGZ, 0},
      {"Pak", Put({0x1A, 0x0A}, 40, {}), atPak, 0},
      {"Arc", Put({0x1A, 0x08}, 40, {}), atArc, 0},
      {"ArcStubMarker_FixedOffset", Put({0xB7, 0xDF, 0x00, 0x00}, 40, {}), atArcExe, 7716},
      {"ArcWholeMarker_PlainArc", Put({0xB7, 0xDF, 0x54, 0x57}, 40, {}), atArc, 0},
      {"ZipWithDirectory_DirectoryPosition", zip, atZip, 40},
      {"ZipWithoutEndRecord_LocalHeaderAfterZeros", Put(Bytes(20, 0), 20, Text("PK\x03\x04")),
       atZip, 20},

      // Program files: the fixed offsets of known stubs.
      {"ProgramArcAt6674", Put(Program(kPastEnd, 0, 8000), 6674, {0x1A, 0x08}), atArcExe, 6674},
      {"ProgramPakAt13138", Put(Program(kPastEnd, 0, 14000), 13138, {0x1A, 0x0B}), atPakExe, 13138},
      {"ProgramArcEndingTheFile_NotProbed", Put(Program(kPastEnd, 0, 6674), 6674, {0x1A, 0x08}),
       atNA, std::nullopt},
      {"ProgramZipAt7612_DirectoryPosition", Concat(Program(kPastEnd, 0, 7612), zip), atZipExe,
       7612 + 40},
      {"ProgramZipAt25661_DirectoryPosition", Concat(Program(kPastEnd, 0, 25661), zip), atZipExe,
       25661 + 40},
      {"ProgramLocalHeaderAt7612_LocatorFindsNothing",
       Put(Program(kPastEnd, 0, 8000), 7612, Text("PK\x03\x04")), atZipExe, 0},

      // Program files whose string table names the archive position.
      {"StringTableNamesBh", Put(pe, 5000, bh), atBhExe, 5000},
      {"StringTableNamesAce", Put(pe, 5000, Text("xxxxxxx**ACE**")), atAceExe, 5000},
      {"StringTableNamesZip_DirectoryPosition", Put(pe, 5000, zip), atZipExe, 5040},
      {"StringTableSecondPositionHolds", Put(withStrings({{1, u"3000"}, {2, u"5000"}}), 5000, bh),
       atBhExe, 5000},
      {"StringTableNegativePositionSkipped", Put(withStrings({{1, u"-5"}, {2, u"5000"}}), 5000, bh),
       atBhExe, 5000},
      {"StringTableNotANumber_ProbeEnds", Put(withStrings({{1, u"abc"}}), 5000, bh), atNA,
       std::nullopt},
      {"StringTablePositionPastTheFile_ProbeEnds", Put(withStrings({{1, u"99999"}}), 5000, bh),
       atNA, std::nullopt},
      {"StringTableGap_ProbeEnds", Put(withStrings({{1, u"3000"}, {3, u"5000"}}), 5000, bh), atNA,
       std::nullopt},

      // Program files: the image end, the locator and the forward scan.
      {"ProgramImageEndTwoBeforeArj", Put(Program(3, 100, 1200), 1124, {0, 0, 0x60, 0xEA, 30, 0}),
       atArjExe, 1126},
      {"ProgramImageEndAtZip_LeftToTheLocator", Concat(Program(3, 100, 1124), zip), atZipExe,
       1124 + 40},
      {"ProgramZipFoundByLocator", Concat(Program(kPastEnd, 0, 40000), zip), atZipExe, 40040},
  };
}

class IdentifyFile : public ::testing::TestWithParam<FileCase> {};

TEST_P(IdentifyFile, GivesTypeAndOffset) {
  const FileCase& c = GetParam();
  ScratchDir dir;
  WriteFileBytes(dir / c.fileName, c.bytes);
  TUnBh unbh;
  unbh.SetArchiveFile(dir.EnginePath(c.fileName));
  EXPECT_EQ(unbh.ArchiveFile(), dir.EnginePath(c.fileName));
  EXPECT_EQ(unbh.ArcType(), c.type) << ArcTypeIdentifier(unbh.ArcType());
  if (c.offset) {
    EXPECT_EQ(unbh.ArchiveOffset(), *c.offset);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, IdentifyFile, ::testing::ValuesIn(FileCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Split ZIP sets, told apart by the drive they lie on

struct SplitSetCase {
  const char* name;
  Bytes bytes;
  platform::DriveType drive;
  const char* label;
  TArcType type;
  std::int64_t offset;
  bool ready = true;
};

void PrintTo(const SplitSetCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<SplitSetCase> SplitSetCases() {
  using enum platform::DriveType;
  // No signature at the start, a directory at 140 and an end record naming disk 1 (or 0).
  const Bytes disk1 = BuildZip({.prefix = 100, .disk = 1}).bytes;
  const Bytes disk0 = BuildZip({.prefix = 100}).bytes;
  const Bytes spanMarked = Concat(Text("PK\x07\x08"), BuildZip({}).bytes);
  const Bytes centralFirst = Concat(Text("PK\x01\x02"), BuildZip({}).bytes);
  return {
      {"EndRecordDisk1_RemovableMarked_Spanned", disk1, Removable, "PKBACK# 001", atZipDS, 140},
      {"EndRecordDisk1_RemovableOtherLabel_Volumes", disk1, Removable, "DATA", atZipMV, 140},
      {"EndRecordDisk1_RemovableNoLabel_Volumes", disk1, Removable, "", atZipMV, 140},
      {"EndRecordDisk1_FixedMarked_Volumes", disk1, Fixed, "PKBACK# 001", atZipMV, 140},
      {"EndRecordDisk0_Zip", disk0, Removable, "PKBACK# 001", atZip, 140},
      {"EndRecordDisk1_DriveNotReady_NoArchive", disk1, Removable, "PKBACK# 001", atNA, 140, false},
      {"SpanMarkerFirst_Spanned", spanMarked, Removable, "PKBACK# 002", atZipDS, 44},
      {"CentralHeaderFirst_Volumes", centralFirst, Fixed, "", atZipMV, 44},
  };
}

class IdentifySplitSet : public ::testing::TestWithParam<SplitSetCase> {
 protected:
  void TearDown() override { platform::ClearDrives(); }
};

TEST_P(IdentifySplitSet, ByDriveAndLabel) {
  const SplitSetCase& c = GetParam();
  ScratchDir dir;
  WriteFileBytes(dir / "set.zip", c.bytes);
  std::string root = dir.EnginePath();
  root.pop_back();
  platform::VolumeInformation volume;
  volume.label = c.label;
  platform::InstallDrives(
      {{root, c.drive, c.ready ? std::optional(platform::DiskSpace{1, 2}) : std::nullopt, false,
        volume}});
  TUnBh unbh;
  int reports = 0;
  unbh.OnError = [&](TComponent*, const std::string&, const std::string&, const std::string&, int) {
    ++reports;
  };
  unbh.SetArchiveFile(dir.EnginePath("set.zip"));
  EXPECT_EQ(unbh.ArcType(), c.type) << ArcTypeIdentifier(unbh.ArcType());
  EXPECT_EQ(unbh.ArchiveOffset(), c.offset);
  EXPECT_EQ(reports, 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, IdentifySplitSet, ::testing::ValuesIn(SplitSetCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// --- What identification reads

// What the Part allows each step of identification to read.
constexpr std::int64_t kHeadReads = 32767;
constexpr std::int64_t kTarReads = 1024;
constexpr std::int64_t kScanReads = 11 * 32768;
// The tail window, three records and four blocks from the start.
constexpr std::int64_t kLocatorReads = 32768 + 3 * 46 + 30 + 4 * 32768;
// The fixed offsets and the image end.
constexpr std::int64_t kProgramProbeReads = 5 * 2 + 6 + 2 * 4 + 2 * 4;
// The string table: headers of a PE image with its largest section table, then for each of the
// seven strings three directory searches of at most 17 entries each, a data entry, the lengths
// of the strings before it, its five characters and 14 bytes where it points.
constexpr std::int64_t kStringTableReads =
    64 + 24 + 240 + 96 * 40 + 7 * (3 * 16 + 17 * 8 * 2 + 8 + 16 + 16 * 2 + 5 * 2 + 14);

struct BoundCase {
  const char* name;
  Bytes bytes;
  std::int64_t bound;
};

TEST(IdentifyArchive, ReadsNoMoreThanItsBounds) {
  const Bytes big = Text(std::string(2'000'000, 'x'));
  // An end record whose directory is missing sends the locator through its four blocks.
  const Bytes lostDirectory = Concat(big, BuildZip({.noCentral = true}).bytes);
  const std::int64_t plain = kHeadReads + kTarReads + kLocatorReads + kScanReads;
  const std::int64_t program =
      kHeadReads + kProgramProbeReads + kStringTableReads + kLocatorReads + kScanReads;
  const BoundCase cases[] = {
      {"PlainFileNothingFound", big, plain},
      {"PlainFileLostDirectory", lostDirectory, plain},
      {"ProgramNothingFound", Concat(Program(kPastEnd, 0, 64), big), program},
      {"ProgramLostDirectory", Concat(Program(kPastEnd, 0, 64), lostDirectory), program},
      {"ProgramWithStringTable", Concat(BuildPeImage({{1, u"100"}, {2, u"200"}}).bytes, big),
       program},
      {"TarVolumeLabel", Concat(Put(Bytes(512, 0), 156, Text("V")), big), plain},
  };
  for (const BoundCase& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryStream stream(c.bytes);
    IdentifyArchive(stream, "\\x.bin");
    EXPECT_LE(stream.BytesRead(), c.bound);
    EXPECT_LE(stream.LargestRead(), 32768u);
  }
}

// A stream whose every read fails by throwing, as a vanished network file might.
class ThrowingStream : public MemoryStream {
 public:
  using MemoryStream::MemoryStream;
  std::size_t Read(void*, std::size_t) override { throw std::runtime_error("read failed"); }
};

TEST(IdentifyArchive, FailingReadsEndItQuietly) {
  ThrowingStream stream(Bh());
  Identification id;
  EXPECT_NO_THROW(id = IdentifyArchive(stream, "\\x.bh"));
  EXPECT_EQ(id.type, atNA);
}

// --- The ArchiveFile and ArcType properties

TEST(ArchiveFileProperty, MissingFileClearsNameAndType) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.bh", Bh());
  TUnBh unbh;
  unbh.SetArchiveFile(dir.EnginePath("a.bh"));
  ASSERT_EQ(unbh.ArcType(), atBh);
  unbh.SetArchiveFile(dir.EnginePath("missing.bh"));
  EXPECT_EQ(unbh.ArchiveFile(), "");
  EXPECT_EQ(unbh.ArcType(), atNA);
  unbh.SetArcType(atBh);  // nothing to identify
  EXPECT_EQ(unbh.ArcType(), atNA);
}

TEST(ArchiveFileProperty, SlashesAreStoredAsBackslashes) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.bh", Bh());
  TUnBh unbh;
  unbh.SetArchiveFile((dir / "a.bh").string());
  EXPECT_EQ(unbh.ArchiveFile(), dir.EnginePath("a.bh"));
  EXPECT_EQ(unbh.ArcType(), atBh);
}

TEST(ArcTypeProperty, WritingIdentifiesTheFileAgain) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.bin", Bh());
  TUnBh unbh;
  unbh.SetArchiveFile(dir.EnginePath("a.bin"));
  ASSERT_EQ(unbh.ArcType(), atBh);
  WriteFileBytes(dir / "a.bin", Put(Text("Rar!"), 40, {}));
  unbh.SetArcType(atZip);
  EXPECT_EQ(unbh.ArcType(), atRar);
}

TEST(ArcTypeProperty, FileBeingWrittenElsewhere_OpenErrorOnlyWhenWritten) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.bh", Bh());
  const std::string path = dir.EnginePath("a.bh");
  const platform::Handle writer =
      platform::OpenFile(path, platform::Access::ReadWrite, platform::Share::ReadWrite);
  ASSERT_NE(writer, platform::kInvalidHandle);
  TUnBh unbh;
  unbh.SetArchiveFile(path);
  EXPECT_EQ(unbh.ArcType(), atBh);
  unbh.SetArcType(atBh);
  EXPECT_EQ(unbh.ArcType(), atFileOpenErr);
  platform::CloseFile(writer);
  unbh.SetArcType(atNA);
  EXPECT_EQ(unbh.ArcType(), atBh);
}

TEST(ArcTypeProperty, FileGoneSinceNamed_OpenError) {
  ScratchDir dir;
  WriteFileBytes(dir / "a.bh", Bh());
  TUnBh unbh;
  unbh.SetArchiveFile(dir.EnginePath("a.bh"));
  ASSERT_EQ(unbh.ArcType(), atBh);
  fs::remove(dir / "a.bh");
  unbh.SetArcType(atBh);
  EXPECT_EQ(unbh.ArcType(), atFileOpenErr);
  EXPECT_EQ(unbh.ArchiveFile(), dir.EnginePath("a.bh"));
}

}  // namespace
}  // namespace quern::test
