#include "common/fixtures.h"

namespace quern::test {

SampleArchive MakeSampleArchive() {
  SampleArchive s;
  auto add = [&s](std::string stored, std::string native, Bytes data, std::uint32_t date,
                  std::uint16_t attributes = 0x20) {
    BhEntry e = BhEntry::Stored(std::move(stored), data);
    e.dosDateTime = date;
    e.attributes = attributes;
    s.entries.push_back(e);
    s.files.push_back({std::move(native), std::move(data), date, (attributes & 0x01) != 0});
  };
  add("readme.txt", "readme.txt", Bytes{'h', 'e', 'l', 'l', 'o', '\n'},
      DosDateTime(2021, 3, 4, 5, 6, 8));
  s.entries.push_back(BhEntry::Directory("docs\\empty"));
  s.directories.push_back("docs/empty");
  add("docs\\guide\\part1.bin", "docs/guide/part1.bin", PatternBytes(32768, 1),
      DosDateTime(2019, 12, 31, 23, 59, 58));
  add("docs/guide/part2.bin", "docs/guide/part2.bin", PatternBytes(32769, 2),
      DosDateTime(2020, 1, 1, 0, 0, 0));
  add("data\\big.bin", "data/big.bin", PatternBytes(100000, 3), DosDateTime(2023, 7, 15, 12, 0, 0));
  add("empty.txt", "empty.txt", Bytes{}, DosDateTime(1999, 9, 9, 9, 9, 10));
  // "café.txt" as the OEM code page stores it (0x82 is é).
  add("caf\x82.txt", "caf\xc3\xa9.txt", Bytes{'o', 'e', 'm'}, DosDateTime(2022, 2, 2, 2, 2, 2));
  add("locked.txt", "locked.txt", Bytes{'r', 'o'}, DosDateTime(2018, 8, 8, 8, 8, 8), 0x21);
  s.bytes = BuildBhArchive(s.entries);
  return s;
}

}  // namespace quern::test

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "common/scratch_dir.h"

namespace quern::test {

std::time_t LocalTimeOfDos(std::uint32_t dos) {
  std::tm tm{};
  tm.tm_year = static_cast<int>(dos >> 25) + 80;
  tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
  tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
  tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
  tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
  tm.tm_sec = static_cast<int>((dos & 0x1F) * 2);
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

std::time_t ModificationTime(const std::filesystem::path& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return -1;
  return st.st_mtime;
}

void ExpectSampleExtracted(const SampleArchive& sample, const std::filesystem::path& dir) {
  for (const ExpectedFile& f : sample.files) {
    SCOPED_TRACE(f.path);
    const auto path = dir / f.path;
    ASSERT_TRUE(std::filesystem::is_regular_file(path));
    EXPECT_EQ(ReadFileBytes(path), f.data);
    EXPECT_EQ(ModificationTime(path), LocalTimeOfDos(f.dosDateTime));
    const auto perms = std::filesystem::status(path).permissions();
    const bool writable =
        (perms & std::filesystem::perms::owner_write) != std::filesystem::perms::none;
    EXPECT_EQ(writable, !f.readOnly);
  }
  for (const std::string& d : sample.directories)
    EXPECT_TRUE(std::filesystem::is_directory(dir / d)) << d;
}

}  // namespace quern::test
