#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "common/extraction.h"
#include "engine/base/err_msgs.h"
#include "platform/platform.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

// Faults injected into the platform for one test only.
struct Faults {
  explicit Faults(const platform::FaultPlan& plan) { platform::InstallFaults(plan); }
  ~Faults() { platform::ClearFaults(); }
};

// One failure on the extraction road: how it is provoked, what OnError and OnEnd receive, and
// what the run returns. In the expected lines, "ARC" stands for the archive's name.
struct ErrorCase {
  const char* name;
  std::vector<BhEntry> entries;
  std::function<void(Extraction&)> provoke;
  Lines expected;
  int files;
  platform::FaultPlan faults = {};
};

class ErrorRoad : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ErrorRoad, ReportsItsCodeAndTextsThenGoesOn) {
  const ErrorCase& c = GetParam();
  Extraction x(BuildBhArchive(c.entries));
  x.unbh.OnError = x.log.Error();
  x.unbh.OnEnd = x.log.End();
  if (c.provoke) c.provoke(x);
  int files;
  {
    platform::FaultPlan plan = c.faults;
    if (plan.failOpenOf == "ARC") plan.failOpenOf = x.unbh.ArchiveFile();
    Faults faults(plan);
    files = x.unbh.Extract();
  }
  Lines expected = c.expected;
  for (std::string& line : expected)
    for (std::size_t at; (at = line.find("ARC")) != std::string::npos;)
      line.replace(at, 3, x.unbh.ArchiveFile());
  EXPECT_EQ(x.log.lines, expected);
  EXPECT_EQ(files, c.files);
}

BhEntry File(std::string name, std::size_t size = 100) {
  return BhEntry::Stored(std::move(name), PatternBytes(size, static_cast<std::uint32_t>(size)));
}
BhEntry WithMethod(BhEntry e, std::uint8_t method) {
  e.method = method;
  return e;
}
BhEntry WithCrc(BhEntry e, std::uint32_t crc) {
  e.crc = crc;
  return e;
}

platform::FaultPlan WriteFault(platform::WriteFault kind, int skip = 0, int count = 1) {
  platform::FaultPlan plan;
  plan.write = kind;
  plan.writesToSkip = skip;
  plan.writesToFault = count;
  return plan;
}

platform::FaultPlan ArchiveOpenFault() {
  platform::FaultPlan plan;
  plan.failOpenOf = "ARC";
  return plan;
}

platform::FaultPlan CloseFault() {
  platform::FaultPlan plan;
  plan.failClose = true;
  return plan;
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ErrorRoad,
    ::testing::Values(
        ErrorCase{"EmptyArchiveFile_25192",
                  {File("a")},
                  [](Extraction& x) {
                    x.unbh.SetArchiveFile("");
                    x.unbh.OnDeactivate = x.log.Deactivate();
                  },
                  {"Error 25192 ||"},
                  0},
        ErrorCase{"ArchiveCannotBeOpened_25235",
                  {File("a")},
                  [](Extraction& x) { x.unbh.OnDeactivate = x.log.Deactivate(); },
                  {"Error 25235 ||ARC"},
                  0,
                  ArchiveOpenFault()},
        ErrorCase{"OutputCannotBeCreated_25235",
                  {File("blocked"), File("b")},
                  [](Extraction& x) { fs::create_directories(x.Out("blocked")); },
                  {"Error 25235 blocked||0", "End blocked fail", "End b pass"},
                  1},
        ErrorCase{"ShortWrite_25136",
                  {File("a", 70000), File("b")},
                  nullptr,
                  {"Error 25136 a||ARC", "End a fail", "End b pass"},
                  1,
                  WriteFault(platform::WriteFault::Short, 1)},
        ErrorCase{"DiskFull_25160",
                  {File("a", 70000), File("b"), File("c")},
                  nullptr,
                  {"Error 25160 ARC|a|0", "End a fail", "End b pass", "End c pass"},
                  2,
                  WriteFault(platform::WriteFault::DiskFull, 1)},
        ErrorCase{"CloseFails_25138",
                  {File("a"), File("b")},
                  nullptr,
                  {"Error 25138 a||ARC", "End a pass", "Error 25138 b||ARC", "End b pass"},
                  2,
                  CloseFault()},
        ErrorCase{"CrcMismatchWithoutOnEnd_25151",
                  {WithCrc(File("a"), 0x12345678), File("b")},
                  [](Extraction& x) { x.unbh.OnEnd = nullptr; },
                  {"Error 25151 a||ARC"},
                  2},
        ErrorCase{"TargetExistsWithoutOnFileExists_25270",
                  {File("a"), File("b")},
                  [](Extraction& x) {
                    WriteFileBytes(x.Out("a"), Bytes{1});
                    x.unbh.SetConfirmOverwrites(true);
                  },
                  {"Error 25270 a|OnFileExists|ARC", "End b pass"},
                  1},
        ErrorCase{"UnknownMethod_25326",
                  {WithMethod(File("a"), 5), File("b")},
                  nullptr,
                  {"Error 25326 a||0", "End a fail", "End b pass"},
                  2},
        ErrorCase{"CancelledRun_ReportsOnly25443",
                  {WithMethod(File("a"), 5), File("b")},
                  [](Extraction& x) {
                    // A handler that cancels on the 25326 report stops its exception:
                    // the entry goes on to close, and the run winds down.
                    x.unbh.OnError = [&x](TComponent* s, const std::string& f, const std::string& e,
                                          const std::string& v, int code) {
                      x.log.Error()(s, f, e, v, code);
                      if (code == ec::kUnsupportedMethod) x.unbh.SetCancel(true);
                    };
                  },
                  {"Error 25326 a||0", "Error 25443 a||ARC", "End a fail"},
                  1},
        ErrorCase{"StoredNameLeavingExtractDir_25245",
                  {File("..\\..\\x"), File("\\..\\y"), File("ok")},
                  nullptr,
                  {"Error 25245 ..\\..\\x||ARC", "Error 25245 \\..\\y||ARC", "End ok pass"},
                  1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ErrorRoad, ReadOnlyTargetThatIsAlsoADirectory_25136) {
  Extraction x(BuildBhArchive({File("a"), File("b")}));
  WriteFileBytes(x.Out("a"), Bytes{1});
  fs::create_directories(x.Out("ro"));
  fs::permissions(x.Out("ro"),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  x.unbh.OnError = x.log.Error();
  x.unbh.OnEnd = x.log.End();
  x.unbh.SetConfirmOverwrites(true);
  // Asked about "a", the handler points at the read-only directory, then keeps that name.
  const std::string ro = x.OutName("ro");
  x.unbh.OnFileExists = [&](TComponent*, const std::string&, std::string& newName,
                            TOverwriteMode& mode) {
    newName = ro;
    mode = omOverwrite;
  };
  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(x.log.lines, (Lines{"Error 25136 ro||" + x.unbh.ArchiveFile(), "End b pass"}));
}

TEST(ErrorRoad, WithoutOnError_FailuresAreSilentAndExtractReturns) {
  Extraction x(BuildBhArchive({WithMethod(File("a"), 5), WithCrc(File("b"), 1), File("c")}));
  EXPECT_EQ(x.unbh.Extract(), 3);
  EXPECT_TRUE(fs::exists(x.Out("a")));
  EXPECT_EQ(fs::file_size(x.Out("a")), 0u);
}

TEST(ErrorRoad, MessageTable_HoldsTheTextsHostsShow) {
  const std::pair<int, std::string_view> cases[] = {
      {25101, "64 bit hearder"},
      {25136, "Error writing to file"},
      {25151, "File fails CRC check"},
      {25160, "Disk full"},
      {25245, "Invalid file name"},
      {25326, "Unsupported compression method"},
      {25443, "User canceled"},
      {26899, "Directory does not exist... Create?"},
      {25105, ""},
  };
  for (const auto& [code, text] : cases)
    EXPECT_EQ(MessageText(code), text) << code;
}

}  // namespace
}  // namespace quern::test
