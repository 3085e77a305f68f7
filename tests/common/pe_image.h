// Builds small PE images in memory for tests: the headers a loader reads, one ".rsrc" section
// and a resource directory holding string tables, laid out as a resource compiler would.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "common/bh_writer.h"

namespace quern::test {

struct PeImage {
  Bytes bytes;
  // File offsets of the parts, for tests that break one of them.
  std::size_t coffAt = 0;               // the COFF header, right after "PE\0\0"
  std::size_t optionalAt = 0;           // the optional header
  std::size_t resourceDirectoryAt = 0;  // data directory entry 2 (rva, size)
  std::size_t sectionTableAt = 0;
  std::size_t rootAt = 0;            // resource root directory
  std::size_t stringTypeAt = 0;      // the directory of string blocks
  std::size_t firstLanguageAt = 0;   // the language directory of the first block
  std::size_t firstDataEntryAt = 0;  // the data entry of the first block
  std::size_t firstBlockAt = 0;      // the first string block
};

// A PE32 (or PE32+) image whose string table holds `strings` (id -> text), nothing else.
PeImage BuildPeImage(const std::map<std::uint16_t, std::u16string>& strings, bool pe32Plus = false);

}  // namespace quern::test
