// Archives shared by several suites.
#pragma once

#include <string>
#include <vector>

#include "common/bh_writer.h"

namespace quern::test {

// What a file of the sample archive must look like once extracted.
struct ExpectedFile {
  std::string path;  // native, relative to the extract directory
  Bytes data;
  std::uint32_t dosDateTime;
  bool readOnly;
};

// A BH archive of stored entries: nested directories written with "\" and "/", a directory
// entry, an empty file, files of 32768, 32769 and 100000 bytes, a name in the OEM code page
// and a read-only file.
struct SampleArchive {
  std::vector<BhEntry> entries;
  std::vector<ExpectedFile> files;
  std::vector<std::string> directories;  // native, relative
  Bytes bytes;
};
SampleArchive MakeSampleArchive();

}  // namespace quern::test

#include <ctime>
#include <filesystem>

namespace quern::test {

// The local time a DOS date and time stands for.
std::time_t LocalTimeOfDos(std::uint32_t dosDateTime);
std::time_t ModificationTime(const std::filesystem::path& path);

// Checks every file and directory of the sample archive below `dir`: bytes, modification time
// and the read-only attribute.
void ExpectSampleExtracted(const SampleArchive& sample, const std::filesystem::path& dir);

}  // namespace quern::test
