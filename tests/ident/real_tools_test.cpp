// Identification of files made at test time by real archivers, each compared with the type and
// archive offset that the identification steps give for the bytes the tool writes.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "common/run_command.h"
#include "common/scratch_dir.h"
#include "engine/bh/un_bh.h"
#include "ident_support.h"
#include "platform/platform.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;

// Runs a tool in the scratch directory; its standard output goes to `stdoutTo` when given.
void Run(const ScratchDir& dir, const std::vector<std::string>& argv,
         const char* stdoutTo = nullptr) {
  const CommandResult r = RunCommand(argv, dir.path().string());
  ASSERT_EQ(r.status, 0) << argv[0] << ": " << r.err;
  if (stdoutTo != nullptr) WriteFileBytes(dir / stdoutTo, Text(r.out));
}

// Lines of text: no archive signature anywhere, compressible, long enough for full uuencoded
// lines.
Bytes Lines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i)
    text += "line " + std::to_string(i) + " of the sample text for identification tests\n";
  return Text(text);
}

std::uint32_t Le32(const Bytes& b, std::size_t at) {
  return std::uint32_t{b[at]} | std::uint32_t{b[at + 1]} << 8 | std::uint32_t{b[at + 2]} << 16 |
         std::uint32_t{b[at + 3]} << 24;
}

std::size_t LastOf(const Bytes& b, std::string_view signature) {
  const std::string_view text(reinterpret_cast<const char*>(b.data()), b.size());
  return text.rfind(signature);
}

// Where the central directory starts by the end record's own offset field (the ZIP64 end
// record's when the end record leaves it to that).
std::int64_t RecordedDirectoryOffset(const Bytes& b) {
  const std::size_t end = LastOf(b, "PK\x05\x06");
  const std::uint32_t offset = Le32(b, end + 16);
  if (offset != 0xFFFFFFFF) return offset;
  const std::size_t end64 = LastOf(b, "PK\x06\x06");
  return Le32(b, end64 + 48) | std::int64_t{Le32(b, end64 + 52)} << 32;
}

enum class Offset { Fixed, CentralDirectory };

struct ToolCase {
  const char* name;
  std::vector<const char*> tools;  // what must be installed
  std::function<void(const ScratchDir&)> make;
  const char* archive;
  TArcType type;
  Offset offset = Offset::Fixed;
  std::int64_t fixedOffset = 0;
  platform::DriveType drive = platform::DriveType::Fixed;
  const char* label = "";
};

void PrintTo(const ToolCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<ToolCase> ToolCases() {
  using enum platform::DriveType;
  auto zip = [](std::vector<std::string> options, std::string archive) {
    return [options, archive](const ScratchDir& dir) {
      std::vector<std::string> argv{"/usr/bin/zip", "-q"};
      argv.insert(argv.end(), options.begin(), options.end());
      argv.push_back(archive);
      argv.push_back(options.empty() || options[0] != "-s" ? "hello.txt" : "big.txt");
      Run(dir, argv);
    };
  };
  const std::vector<std::string> split = {"-s", "64k", "-0"};
  return {
      {"Zip", {"zip"}, zip({}, "a.zip"), "a.zip", atZip, Offset::CentralDirectory},
      {"ZipNamedJar", {"zip"}, zip({}, "a.jar"), "a.jar", atJar, Offset::CentralDirectory},
      {"ZipForcedZip64", {"zip"}, zip({"-fz"}, "a.zip"), "a.zip", atZip, Offset::CentralDirectory},
      {"ZipEncrypted",
       {"zip"},
       zip({"-e", "-P", "secret"}, "a.zip"),
       "a.zip",
       atZip,
       Offset::CentralDirectory},
      // The first part starts with the spanning marker; nothing in its tail is an end record.
      {"ZipSplitFirstPart_Volumes", {"zip"}, zip(split, "s.zip"), "s.z01", atZipMV},
      {"ZipSplitFirstPartOnMarkedDisk_Spanned",
       {"zip"},
       zip(split, "s.zip"),
       "s.z01",
       atZipDS,
       Offset::Fixed,
       0,
       Removable,
       "PKBACK# 001"},
      {"ZipSplitMiddlePart_NoArchive", {"zip"}, zip(split, "s.zip"), "s.z02", atNA},
      // The last part starts inside the stored data and ends with an end record of disk 2.
      {"ZipSplitLastPart_Volumes",
       {"zip"},
       zip(split, "s.zip"),
       "s.zip",
       atZipMV,
       Offset::CentralDirectory},
      // A program stub before the archive, its offsets adjusted by the tool: the stub's image
      // end leads to a local header, which is left to the locator.
      {"ZipBehindProgramStub_Adjusted",
       {"zip"},
       [zip](const ScratchDir& dir) {
         zip({}, "a.zip")(dir);
         WriteFileBytes(dir / "sfx.exe", Concat(Program(2, 0, 512), ReadFileBytes(dir / "a.zip")));
         Run(dir, {"/usr/bin/zip", "-q", "-A", "sfx.exe"});
       },
       "sfx.exe",
       atZipExe,
       Offset::CentralDirectory},
      {"Arj",
       {"arj"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/arj", "a", "a.arj", "hello.txt"});
       },
       "a.arj",
       atArj},
      {"Arc",
       {"arc"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/arc", "a", "a.arc", "hello.txt"});
       },
       "a.arc",
       atArc},
      {"GZip",
       {"gzip"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/gzip", "-k", "hello.txt"});
       },
       "hello.txt.gz",
       atGZip},
      {"Compress",
       {"compress"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/compress", "-c", "hello.txt"}, "a.Z");
       },
       "a.Z",
       atGZip},
      {"Tar",
       {"tar"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/tar", "cf", "a.tar", "hello.txt"});
       },
       "a.tar",
       atTar},
      // The volume label header comes first; the archive's first member follows it.
      {"TarWithVolumeLabel",
       {"tar"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/tar", "cf", "a.tar", "-V", "VOLNAME", "hello.txt"});
       },
       "a.tar",
       atTar,
       Offset::Fixed,
       512},
      {"Uuencoded",
       {"uuencode"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/uuencode", "hello.txt", "hello.txt"}, "a.uue");
       },
       "a.uue",
       atUUE},
      // Mode 400 gives "begin 4": the first full body line ("M...") decides.
      {"UuencodedReadOnlyMode",
       {"uuencode"},
       [](const ScratchDir& dir) {
         fs::permissions(dir / "hello.txt", fs::perms::owner_read);
         Run(dir, {"/usr/bin/uuencode", "hello.txt", "hello.txt"}, "a.uue");
       },
       "a.uue",
       atUUE},
      {"Cab",
       {"gcab"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/gcab", "-c", "a.cab", "hello.txt"});
       },
       "a.cab",
       atCab},
      {"Lha",
       {"jlha"},
       [](const ScratchDir& dir) {
         Run(dir, {"/usr/bin/jlha", "a", "a.lzh", "hello.txt"});
       },
       "a.lzh",
       atLha},
  };
}

class IdentifyToolArchive : public ::testing::TestWithParam<ToolCase> {
 protected:
  void TearDown() override { platform::ClearDrives(); }
};

TEST_P(IdentifyToolArchive, GivesTypeAndOffset) {
  const ToolCase& c = GetParam();
  for (const char* tool : c.tools)
    if (!fs::exists(fs::path("/usr/bin") / tool)) GTEST_SKIP() << tool << " is not installed";
  ScratchDir dir;
  WriteFileBytes(dir / "hello.txt", Lines(30));
  WriteFileBytes(dir / "big.txt", Lines(3000));
  c.make(dir);
  if (HasFatalFailure()) return;

  std::string root = dir.EnginePath();
  root.pop_back();
  platform::VolumeInformation volume;
  volume.label = c.label;
  platform::InstallDrives({{root, c.drive, platform::DiskSpace{1, 2}, false, volume}});

  TUnBh unbh;
  unbh.SetArchiveFile(dir.EnginePath(c.archive));
  EXPECT_EQ(unbh.ArcType(), c.type) << ArcTypeIdentifier(unbh.ArcType());
  const std::int64_t offset = c.offset == Offset::CentralDirectory
                                  ? RecordedDirectoryOffset(ReadFileBytes(dir / c.archive))
                                  : c.fixedOffset;
  EXPECT_EQ(unbh.ArchiveOffset(), offset);
}

INSTANTIATE_TEST_SUITE_P(Cases, IdentifyToolArchive, ::testing::ValuesIn(ToolCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quern::test
