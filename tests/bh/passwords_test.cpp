#include <gtest/gtest.h>

#include <filesystem>

#include "common/extraction.h"

namespace quern::test {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

BhEntry Secret(std::string name, std::string password = "pw") {
  BhEntry e = BhEntry::Stored(std::move(name), PatternBytes(300, 3));
  e.password = std::move(password);
  return e;
}

// One answer of the password prompt.
struct Answer {
  std::string password;
  bool tryAgain = true;
};

struct PasswordCase {
  const char* name;
  std::vector<BhEntry> entries;
  Lines passwords;              // the Passwords list before the run
  int attempts = 3;             // PasswordAttempts
  std::vector<Answer> answers;  // what OnGetPassword answers, in turn; none: not assigned
  Lines expected;               // events; "ARC" stands for the archive name
  Lines extracted;              // files that exist afterwards
  Lines passwordsAfter;         // the Passwords list after the run
  bool withOnEnd = true;
};

class PasswordAcquisition : public ::testing::TestWithParam<PasswordCase> {};

TEST_P(PasswordAcquisition, FindsThePasswordOrSkipsTheEncryptedEntries) {
  const PasswordCase& c = GetParam();
  Extraction x(BuildBhArchive(c.entries));
  x.unbh.OnError = x.log.Error();
  if (c.withOnEnd) x.unbh.OnEnd = x.log.End();
  x.unbh.SetPasswords(c.passwords);
  x.unbh.SetPasswordAttempts(c.attempts);
  std::size_t asked = 0;
  if (!c.answers.empty()) {
    x.unbh.OnGetPassword = [&](TComponent*, const std::string& file, std::string& password,
                               bool& tryAgain) {
      x.log.lines.push_back("GetPassword " + x.log.Relative(file) + " [" + password + "]");
      ASSERT_LT(asked, c.answers.size());
      password = c.answers[asked].password;
      tryAgain = c.answers[asked].tryAgain;
      ++asked;
    };
  }
  x.unbh.Extract();

  Lines expected = c.expected;
  for (std::string& line : expected)
    if (const auto at = line.find("ARC"); at != std::string::npos)
      line.replace(at, 3, x.unbh.ArchiveFile());
  EXPECT_EQ(x.log.lines, expected);
  Lines extracted;
  if (fs::exists(x.Out()))
    for (const auto& f : fs::directory_iterator(x.Out()))
      extracted.push_back(f.path().filename());
  std::sort(extracted.begin(), extracted.end());
  EXPECT_EQ(extracted, c.extracted);
  EXPECT_EQ(x.unbh.Passwords(), c.passwordsAfter);
  for (const std::string& name : extracted)
    EXPECT_EQ(ReadFileBytes(x.Out(name)), PatternBytes(300, 3)) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PasswordAcquisition,
    ::testing::Values(
        PasswordCase{"PasswordsListTriedInOrder",
                     {Secret("a"), Secret("b")},
                     {"x", "y", "pw", "z"},
                     3,
                     {},
                     {"End a pass", "End b pass"},
                     {"a", "b"},
                     {"x", "y", "pw", "z"}},
        PasswordCase{"PromptUntilRight_AcceptedGoesOnTop",
                     {Secret("a"), Secret("b")},
                     {"old"},
                     3,
                     {{"bad1"}, {"bad2"}, {"pw"}},
                     {"GetPassword a [old]", "Error 26517 a|bad1|ARC", "GetPassword a []",
                      "Error 26517 a|bad2|ARC", "GetPassword a []", "End a pass", "End b pass"},
                     {"a", "b"},
                     {"pw", "old"}},
        PasswordCase{"TryAgainFalse_SkipsEveryLaterEncryptedEntry",
                     {Secret("a"), BhEntry::Stored("plain", PatternBytes(300, 3)), Secret("b")},
                     {},
                     3,
                     {{"", false}},
                     {"GetPassword a []", "Error 26517 a|User canceled|ARC", "End a fail",
                      "End plain pass", "End b fail"},
                     {"plain"},
                     {}},
        PasswordCase{"AttemptsUsedUp",
                     {Secret("a")},
                     {},
                     2,
                     {{"bad1"}, {"bad2"}},
                     {"GetPassword a []", "Error 26517 a|bad1|ARC", "GetPassword a []",
                      "Error 26517 a|bad2|ARC", "End a fail"},
                     {},
                     {}},
        PasswordCase{
            "NoAttemptsAllowed_NoPrompt", {Secret("a")}, {}, 0, {{"pw"}}, {"End a fail"}, {}, {}},
        PasswordCase{"NoEvent_25270OnceThenCrcFailures",
                     {Secret("a"), Secret("b"), Secret("c")},
                     {"nope"},
                     3,
                     {},
                     {"Error 25270 a|OnGetPassword|ARC", "Error 25151 a||ARC", "Error 25151 b||ARC",
                      "Error 25151 c||ARC"},
                     {},
                     {"nope"},
                     false},
        PasswordCase{"EmptyPasswordNeverOpens",
                     {Secret("a", "")},
                     {""},
                     1,
                     {{""}},
                     {"GetPassword a []", "Error 26517 a||ARC", "End a fail"},
                     {},
                     {""}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PasswordAcquisition, CurrentPasswordCarriesOverToTheNextRun) {
  Extraction x(BuildBhArchive({Secret("a")}));
  x.unbh.SetPasswords({"pw"});
  ASSERT_EQ(x.unbh.Extract(), 1);
  x.unbh.SetPasswords({});
  int prompts = 0;
  x.unbh.OnGetPassword = [&](TComponent*, const std::string&, std::string&, bool&) { ++prompts; };
  x.unbh.OnEnd = x.log.End();
  EXPECT_EQ(x.unbh.Extract(), 1);
  EXPECT_EQ(prompts, 0);
  EXPECT_EQ(x.log.lines, Lines{"End a pass"});
}

TEST(PasswordAcquisition, CancelDuringThePrompt_SkipsTheEntryAndEndsTheRun) {
  Extraction x(BuildBhArchive({Secret("a"), BhEntry::Stored("plain", Bytes{1})}));
  x.unbh.OnError = x.log.Error();
  x.unbh.OnEnd = x.log.End();
  x.unbh.OnGetPassword = [&](TComponent*, const std::string&, std::string& password, bool&) {
    password = "bad";
    x.unbh.SetCancel(true);
  };
  x.unbh.Extract();
  EXPECT_EQ(x.log.lines, (Lines{"Error 25443 a||" + x.unbh.ArchiveFile(),
                                "Error 25443 a|bad|" + x.unbh.ArchiveFile(), "End a fail"}));
  EXPECT_FALSE(fs::exists(x.Out("plain")));
}

}  // namespace
}  // namespace quern::test
