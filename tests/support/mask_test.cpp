#include "engine/support/mask.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quern {
namespace {

std::string Repeat(const std::string& s, int times) {
  std::string result;
  for (int i = 0; i < times; ++i)
    result += s;
  return result;
}

// 36 bytes that each occur once, so that only the latest star group can move on.
constexpr const char* kDistinct = "abcdefghijklmnopqrstuvwxyz012345678~";

// "*" before every byte of `literals`.
std::string Stars(std::string_view literals) {
  std::string result;
  for (char c : literals)
    (result += '*') += c;
  return result;
}

TEST(Mask, Matches) {
  struct Row {
    const char* name;
    std::string mask;
    std::string text;
    bool expected;
  };
  const Row rows[] = {
      {"star dot star: extension", "*.*", "readme.txt", true},
      {"star dot star: several dots", "*.*", "a.b.c", true},
      {"star dot star: no dot", "*.*", "README", false},
      {"star dot star: dot only", "*.*", ".", true},
      {"trailing dot: name without dot", "*.", "README", true},
      {"trailing dot: name ending in dot", "*.", "abc.", true},
      {"trailing dot: name with extension", "*.", "a.b", false},
      {"trailing dot: literal name", "a.", "a", true},
      {"question mark needs a byte", "a?", "a", false},
      {"question mark takes one byte", "a?", "ab", true},
      {"question mark takes only one", "a?", "abc", false},
      {"question mark then star on empty", "?*", "", false},
      {"star question mark on empty", "*?", "", true},
      {"star question mark on one byte", "*?", "x", true},
      {"question marks after a star vanish", "a*??c", "ac", true},
      {"question mark before a star counts", "a?*c", "ac", false},
      {"star spans nothing", "A*B", "ab", true},
      {"star spans several, any case", "A*B", "aXXb", true},
      {"star must reach the end", "A*B", "aXXbc", false},
      {"trailing star", "x*", "xyz", true},
      {"trailing star needs the prefix", "x*", "yx", false},
      {"lone star on empty", "*", "", true},
      {"lone star across separators", "*", "a\\b/c.d", true},
      {"brackets are literal", "[ab]", "[AB]", true},
      {"brackets are no set", "[ab]", "a", false},
      {"literal separators", "a\\*", "a\\b\\c", true},
      {"slash is not backslash", "a/b", "a\\b", false},
      {"only ASCII letters fold", "\xC3\xA9", "\xC3\x89", false},
      {"empty mask on empty name", "", "", true},
      {"empty mask on a name", "", "a", false},
      {"exact, other case", "abc", "ABC", true},
      {"exact, longer name", "abc", "abcd", false},
      {"exact, shorter name", "abc", "ab", false},
      {"retry after a first literal", "*ab", "aab", true},
      {"retries through several stars", "*a*b*c", "aabbcc", true},
      {"stars in order only", "*a*b*c", "abcab", false},
      {"last occurrence must fit", "*na", "banana", true},
      {"no occurrence at the end", "*n", "banana", false},
      {"many star groups", Repeat("*a", 40), Repeat("xa", 40), true},
      {"many pending retries", Repeat("*a", 40), Repeat("a", 40), true},
      {"late retry among many", Stars(kDistinct) + "Z", std::string(kDistinct) + "y~Z", true},
      {"deep retry taken", Repeat("*a", 35) + "c", Repeat("a", 35) + "xac", true},
      {"too few for the star groups", "*a*a*a", "aab", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(MatchesMask(row.text, row.mask), row.expected);
  }
}

// Plain recursive wildcard matching with the two compile rules of our masks ("?" right after
// a "*" is dropped; a mask ending in "." also takes a name without a dot).
bool ReferenceMatch(std::string_view mask, std::string_view name) {
  if (mask.empty()) return name.empty();
  if (mask[0] == '*') {
    std::size_t next = 1;
    while (next < mask.size() && (mask[next] == '*' || mask[next] == '?'))
      ++next;
    for (std::size_t skip = 0; skip <= name.size(); ++skip)
      if (ReferenceMatch(mask.substr(next), name.substr(skip))) return true;
    return false;
  }
  if (name.empty()) return false;
  const auto upper = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 32) : c; };
  if (mask[0] != '?' && upper(mask[0]) != upper(name[0])) return false;
  return ReferenceMatch(mask.substr(1), name.substr(1));
}

TEST(Mask, AgreesWithPlainWildcardMatching) {
  // Small alphabets make star groups compete for the same characters.
  std::uint32_t seed = 12345;
  const auto next = [&seed](std::uint32_t bound) {
    seed = seed * 1103515245u + 12345u;
    return (seed >> 16) % bound;
  };
  for (int round = 0; round < 20000; ++round) {
    std::string mask, name;
    for (std::uint32_t i = next(9); i > 0; --i)
      mask += "*?aAb."[next(6)];
    for (std::uint32_t i = next(10); i > 0; --i)
      name += "aAb."[next(4)];
    std::string reference = name;
    if (!mask.empty() && mask.back() == '.' && name.find('.') == std::string::npos)
      reference += '.';
    ASSERT_EQ(MatchesMask(name, mask), ReferenceMatch(mask, reference))
        << "mask '" << mask << "' name '" << name << "'";
  }
}

TEST(Mask, ManyStarGroupsStayFast) {
  // Hundreds of star groups against a name that almost matches: the latest group alone retries.
  const std::string mask = Repeat("*a", 400) + "b";
  EXPECT_FALSE(MatchesMask(std::string(2000, 'a'), mask));
  EXPECT_TRUE(MatchesMask(std::string(2000, 'a') + "b", mask));
}

TEST(Mask, CompiledMaskIsReusable) {
  const TInternalMask mask("*.TXT");
  EXPECT_TRUE(mask.Matches("a.txt"));
  EXPECT_FALSE(mask.Matches("a.doc"));
  EXPECT_TRUE(mask.Matches("b.Txt"));
}

TEST(Mask, DirectoryPart) {
  struct Row {
    const char* name;
    std::string_view input;
    std::string_view expected;
  };
  const Row rows[] = {
      {"drive root", "C:\\", "C:\\"},
      {"three characters with a colon", "ab:", "ab:"},
      {"three characters without one", "abc", ""},
      {"three characters with a drive", "C:x", "C:x"},
      {"drive relative", "C:xy", "C:"},
      {"file in the drive root", "C:\\x", "C:\\"},
      {"slash after the drive", "C:/x", "C:/"},
      {"directory in a drive", "d:\\e\\f", "d:\\e"},
      {"relative directory", "docs\\a.txt", "docs"},
      {"slash separator", "docs/a.txt", "docs"},
      {"nested", "a\\b\\c", "a\\b"},
      {"rooted file", "\\a.txt", ""},
      {"bare name", "a.txt", ""},
      {"empty", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(MaskDirectoryPart(row.input), row.expected);
  }
}

TEST(SpecList, Selects) {
  struct Row {
    const char* name;
    std::string entry;
    std::vector<std::string> fileSpec;
    bool recurse;
    std::vector<std::string> excludeSpec;  // empty: no exclusion list
    bool selected;
    std::vector<std::string> excluded;  // names reported to the exclusion handler
  };
  const Row rows[] = {
      {"recursing, bare mask in a directory", "docs\\a.txt", {"*.txt"}, true, {}, true, {}},
      {"not recursing, bare mask in a directory", "docs\\a.txt", {"*.txt"}, false, {}, false, {}},
      {"not recursing, bare mask at the top", "a.txt", {"*.txt"}, false, {}, true, {}},
      {"not recursing, same directory", "docs\\a.txt", {"docs\\*.txt"}, false, {}, true, {}},
      {"directory compared without case", "docs\\a.txt", {"DOCS\\*.txt"}, false, {}, true, {}},
      {"not recursing, subdirectory", "docs\\sub\\a.txt", {"docs\\*.txt"}, false, {}, false, {}},
      {"recursing, subdirectory", "docs\\sub\\a.txt", {"docs\\*.txt"}, true, {}, true, {}},
      {"not recursing, directory mask on a top name",
       "a.txt",
       {"docs\\*.txt"},
       false,
       {},
       false,
       {}},
      {"whole name, other case", "Docs\\A.TXT", {"docs\\a.txt"}, false, {}, true, {}},
      {"recursing, bare name without dot", "docs\\README", {"README"}, true, {}, true, {}},
      {"star dot star through the dotted retry", "README", {"*.*"}, true, {}, true, {}},
      {"empty lines skipped", "a.txt", {"", "*.doc", "", "*.txt"}, true, {}, true, {}},
      {"no line selects nothing", "a.txt", {}, true, {}, false, {}},
      {"only empty lines, nothing excluded", "a.tmp", {"", ""}, true, {"*"}, false, {}},
      {"empty name", "", {"*"}, true, {}, false, {}},
      {"excluded", "x.tmp", {"*"}, true, {"*.doc", "*.tmp"}, false, {"x.tmp"}},
      {"reported once", "x.tmp", {"*", "*"}, true, {"x.*", "*.tmp"}, false, {"x.tmp"}},
      {"not excluded", "x.txt", {"*"}, true, {"*.tmp"}, true, {}},
      {"empty exclusion line", "a.txt", {"*.txt"}, true, {""}, true, {}},
      {"exclusion sees the whole name first", "docs\\a.txt", {"*.txt"}, true, {"a.txt"}, true, {}},
      {"each line starts from the whole name",
       "docs\\a.txt",
       {"*.doc", "docs\\*.txt"},
       true,
       {},
       true,
       {}},
      {"exclusion sees the name the last line tried",
       "docs\\a.txt",
       {"*.doc", "*.txt"},
       true,
       {"a.txt"},
       false,
       {"a.txt"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> fileSpec = row.fileSpec;
    std::vector<std::string> excluded;
    const bool selected = SpecListSelects(
        row.entry, fileSpec, row.recurse, row.excludeSpec.empty() ? nullptr : &row.excludeSpec,
        [&](const std::string& name) { excluded.push_back(name); });
    EXPECT_EQ(selected, row.selected);
    EXPECT_EQ(excluded, row.excluded);
  }
}

TEST(SpecList, LineWithoutDotIsRewrittenWhenTriedInVain) {
  struct Row {
    const char* name;
    std::string line;
    bool recurse;
    std::string entry;
    std::string lineAfter;
  };
  const Row rows[] = {
      {"tried in vain", "README", true, "notes.txt", "README."},
      {"line with a dot", "*.txt", true, "notes.doc", "*.txt"},
      {"selected on the first try", "*", true, "notes.txt", "*"},
      {"not tried: other directory", "README", false, "docs\\notes.txt", "README"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::vector<std::string> fileSpec = {row.line};
    SpecListSelects(row.entry, fileSpec, row.recurse, nullptr, nullptr);
    EXPECT_EQ(fileSpec[0], row.lineAfter);
  }
}

TEST(SpecList, RewrittenLineStillSelectsItsName) {
  std::vector<std::string> fileSpec = {"README"};
  EXPECT_FALSE(SpecListSelects("notes.txt", fileSpec, true, nullptr, nullptr));
  ASSERT_EQ(fileSpec[0], "README.");
  EXPECT_TRUE(SpecListSelects("README", fileSpec, true, nullptr, nullptr));
  EXPECT_TRUE(SpecListSelects("docs\\README", fileSpec, true, nullptr, nullptr));
}

}  // namespace
}  // namespace quern
