#include "engine/support/qrn_gbls.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/scratch_dir.h"

namespace quern {
namespace {

TEST(ArcTypeNames, DisplayNameAndIdentifier) {
  struct Row {
    TArcType type;
    std::string_view display;
    std::string_view identifier;
  };
  const Row rows[] = {
      {atNA, "Not avail. ", "atNA"},
      {atUnsupported, "Unsupport.", "atUnsupported"},
      {atFileOpenErr, "File Error", "atFileOpenErr"},
      {atUnknown, "Unknown   ", "atUnknown"},
      {atBh, "BH        ", "atBh"},
      {atBhExe, "BH  SFX   ", "atBhExe"},
      {atJarExe, "JJAR SFX  ", "atJarExe"},
      {atMsGZ, "MsGZ     \t", "atMsGZ"},
      {atTarGZip, "TarGzip   ", "atTarGZip"},
      {atZipDS, "Zip Span  ", "atZipDS"},
      {atZipMV, "Zip MVol  ", "atZipMV"},
      {atZoo, "ZOO       ", "atZoo"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.identifier);
    EXPECT_EQ(ArcTypeDisplayName(row.type), row.display);
    EXPECT_EQ(ArcTypeIdentifier(row.type), row.identifier);
  }
}

TEST(ArcTypeNames, EveryTypeHasItsOwnTenColumnName) {
  for (int i = 0; i < kArcTypeCount; ++i) {
    const auto type = static_cast<TArcType>(i);
    SCOPED_TRACE(ArcTypeIdentifier(type));
    EXPECT_EQ(ArcTypeDisplayName(type).size(), type == atNA ? 11u : 10u);
    EXPECT_TRUE(ArcTypeIdentifier(type).starts_with("at"));
    for (int j = 0; j < i; ++j) {
      EXPECT_NE(ArcTypeDisplayName(type), ArcTypeDisplayName(static_cast<TArcType>(j)));
      EXPECT_NE(ArcTypeIdentifier(type), ArcTypeIdentifier(static_cast<TArcType>(j)));
    }
  }
}

TEST(ArcTypeSets, NoArchiveAndZipFamily) {
  for (int i = 0; i < kArcTypeCount; ++i) {
    const auto type = static_cast<TArcType>(i);
    SCOPED_TRACE(ArcTypeIdentifier(type));
    EXPECT_EQ(IsNoArchive(type),
              type == atNA || type == atUnsupported || type == atFileOpenErr || type == atUnknown);
    EXPECT_EQ(IsZipFamily(type),
              type == atJar || type == atJarExe || type == atZip || type == atZipExe);
  }
}

using StringFunction = std::string (*)(std::string_view);

std::string Untranslated(std::string_view s) {
  return OemNameToAnsi(s, false);
}
std::string Translated(std::string_view s) {
  return OemNameToAnsi(s, true);
}

TEST(NameText, Conversions) {
  struct Row {
    const char* name;
    StringFunction function;
    std::string_view input;
    std::string_view expected;
  };
  const Row rows[] = {
      {"backslash: empty stays empty", AddTrailingBackslash, "", ""},
      {"backslash: appended", AddTrailingBackslash, "dir", "dir\\"},
      {"backslash: not doubled", AddTrailingBackslash, "dir\\", "dir\\"},
      {"backslash: after a multibyte char", AddTrailingBackslash, "d\xC3\xA9", "d\xC3\xA9\\"},
      {"slashes: every one", SlashesToBackslashes, "a/b\\c/", "a\\b\\c\\"},
      {"oem off: slashes only", Untranslated, "a/\x82", "a\\\x82"},
      {"oem off: empty", Untranslated, "", ""},
      {"oem on: CP437 to UTF-8", Translated, "d/\x82t\x94", "d\\\xC3\xA9t\xC3\xB6"},
      {"oem on: empty", Translated, "", ""},
      {"normalize: slash and 0xFF", NormalizeSeparators, "a/b\xFF", "a\\b\\"},
      {"normalize: trail byte of 0x81 kept", NormalizeSeparators, "\x81/x", "\x81/x"},
      {"normalize: trail byte of 0xFD kept", NormalizeSeparators, "\xFD\xFF", "\xFD\xFF"},
      {"normalize: byte after the pair examined", NormalizeSeparators, "\xE0xy/", "\xE0xy\\"},
      {"normalize: 0xA0 and 0xFE lead nothing", NormalizeSeparators, "\xA0/\xFE/", "\xA0\\\xFE\\"},
      {"normalize: lead byte at the end", NormalizeSeparators, "a\x9F", "a\x9F"},
      {"normalize: trims control bytes and spaces", NormalizeSeparators, " \t\x01/a b/\r\n ",
       "\\a b\\"},
      {"normalize: high bytes are not trimmed", NormalizeSeparators, "\xA0x\xA0", "\xA0x\xA0"},
      {"normalize: all blank", NormalizeSeparators, " \t ", ""},
      {"path: up to the last backslash", ExtractFilePath, "C:\\d\\x.txt", "C:\\d\\"},
      {"path: up to the drive colon", ExtractFilePath, "C:x", "C:"},
      {"path: slash is no separator", ExtractFilePath, "a/b", ""},
      {"name: after the last backslash", ExtractFileName, "C:\\d\\x.txt", "x.txt"},
      {"name: after the drive colon", ExtractFileName, "C:x", "x"},
      {"name: whole name", ExtractFileName, "x", "x"},
      {"name: directory only", ExtractFileName, "d\\", ""},
      {"dir: drive root kept", ExtractFileDir, "C:\\x", "C:\\"},
      {"dir: final backslash dropped", ExtractFileDir, "C:\\d\\x", "C:\\d"},
      {"dir: relative", ExtractFileDir, "a\\b\\c", "a\\b"},
      {"dir: none", ExtractFileDir, "x", ""},
      {"dir: drive only", ExtractFileDir, "C:x", "C:"},
      {"dir: root kept", ExtractFileDir, "\\x", "\\"},
      {"dir: double backslash kept", ExtractFileDir, "\\\\x", "\\\\"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(row.function(row.input), row.expected);
  }
}

TEST(NameText, SplitAtDelimiter) {
  struct Row {
    const char* name;
    std::string_view input;
    std::string_view delimiter;
    std::string_view head;
    std::string_view tail;
  };
  const Row rows[] = {
      {"first occurrence", "a;b;c", ";", "a", "b;c"},   {"no delimiter", "abc", ";", "abc", ""},
      {"multi-byte delimiter", "a::b", "::", "a", "b"}, {"delimiter first", ";x", ";", "", "x"},
      {"delimiter last", "x;", ";", "x", ""},           {"empty input", "", ";", "", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string s(row.input);
    EXPECT_EQ(SplitAtDelimiter(s, row.delimiter), row.head);
    EXPECT_EQ(s, row.tail);
  }
}

TEST(NameText, IsUncName) {
  struct Row {
    const char* name;
    std::string_view input;
    bool expected;
  };
  const Row rows[] = {
      {"server name", "\\\\srv", true},           {"backslashes only", "\\\\", false},
      {"rooted path", "\\srv\\x", false},         {"drive path", "C:\\\\x", false},
      {"slashes are not enough", "//srv", false}, {"empty", "", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(IsUncName(row.input), row.expected);
  }
}

TEST(Numbers, PercentOf) {
  struct Row {
    const char* name;
    std::int64_t part, total;
    int expected;
  };
  const Row rows[] = {
      {"rounds down", 1, 8, 12},
      {"rounds up", 3, 8, 38},
      {"half to even, down", 1, 200, 0},
      {"half to even, up", 3, 200, 2},
      {"half to even, down again", 5, 200, 2},
      {"whole", 8, 8, 100},
      {"above the total", 5, 4, 100},
      {"zero total", 3, 0, 0},
      {"negative total", 3, -4, 0},
      {"negative part", -1, 4, 0},
      {"beyond 32 bits", std::int64_t{3} << 40, std::int64_t{4} << 40, 75},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(PercentOf(row.part, row.total), row.expected);
  }
}

TEST(Numbers, OctalToInt) {
  struct Row {
    const char* name;
    std::string_view input;
    std::int32_t expected;
  };
  const Row rows[] = {
      {"padded header field", "0000644 ", 420},
      {"other bytes skipped", "12a7", 87},
      {"8 and 9 are no digits", "1892", 10},
      {"empty", "", 0},
      {"nothing octal", "xyz", 0},
      {"largest positive", "17777777777", 2147483647},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(OctalToInt(row.input), row.expected);
  }
}

class FileSystemHelpers : public testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "sub");
    test::WriteFileBytes(dir_ / "file.txt", {'x'});
  }
  test::ScratchDir dir_;
};

TEST_F(FileSystemHelpers, Presence) {
  struct Row {
    const char* name;
    std::string_view relative;
    bool directory;
    bool present;
  };
  const Row rows[] = {
      {"directory", "sub", true, true},
      {"file", "file.txt", false, true},
      {"missing", "none", false, false},
      {"matching pattern", "*.TXT", false, true},
      {"pattern matching nothing", "*.doc", false, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir_.EnginePath() + std::string(row.relative);
    EXPECT_EQ(DirectoryPresent(path), row.directory);
    EXPECT_EQ(NamePresent(path), row.present);
  }
}

TEST_F(FileSystemHelpers, CreateDirectoryTree) {
  struct Row {
    const char* name;
    std::string_view relative;
    bool created;
  };
  const Row rows[] = {
      {"existing", "sub", true},
      {"one level", "new", true},
      {"several levels", "a\\b\\c", true},
      {"below an existing one", "sub\\x\\y", true},
      {"trailing backslash", "t\\u\\", true},
      {"dotted components", "sub\\..\\q\\.\\r", true},
      {"below a file", "file.txt\\x", false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::string path = dir_.EnginePath() + std::string(row.relative);
    EXPECT_EQ(CreateDirectoryTree(path), row.created);
    EXPECT_EQ(DirectoryPresent(path), row.created);
  }
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "a/b/c"));
  EXPECT_TRUE(std::filesystem::is_directory(dir_ / "q/r"));
}

}  // namespace
}  // namespace quern
