// Builds LHA archives in memory for tests: headers of levels 0, 1 and 2 with every field
// settable, so that unusual and broken archives are as easy to make as good ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/bh_writer.h"

namespace quern::test {

// An extended header: its type and data (the size fields are written for it).
struct LhaExtension {
  std::uint8_t type;
  std::string data;
};

struct LhaRecord {
  int level = 2;
  std::string method = "-lh0-";
  // Level 0 and 1: the name field. Level 2: the data of a file-name extension put among
  // `extensions` at `nameAt` (-1: none).
  std::string name;
  int nameAt = 0;
  Bytes data;                   // the file: gives the unpacked size and the CRC
  std::optional<Bytes> packed;  // default: data
  // Levels 0 and 1: a DOS date and time; level 2: a Unix time.
  std::uint32_t stamp = DosDateTime(2024, 5, 17, 10, 30, 42);
  std::uint8_t attributes = 0x20;
  char os = 'M';                         // level 1 and 2
  std::optional<std::uint16_t> crc;      // default: the CRC-16 of data
  std::vector<LhaExtension> extensions;  // level 1 and 2
  Bytes level0Tail;                      // level 0: system fields after the CRC
  std::optional<std::uint16_t> length;   // replaces byte 0 (levels 0, 1) or bytes 0-1 (level 2)

  static LhaRecord Stored(int level, std::string name, Bytes data) {
    LhaRecord r;
    r.level = level;
    r.name = std::move(name);
    r.data = std::move(data);
    return r;
  }
};

// The CRC-16/ARC of the bytes, as LHA headers store it.
std::uint16_t Crc16Of(const Bytes& data);
// One header and its packed data.
Bytes LhaEntryBytes(const LhaRecord& record);
// The entries and, unless told otherwise, the end-of-archive byte 0.
Bytes BuildLhaArchive(const std::vector<LhaRecord>& records, bool endMarker = true);

}  // namespace quern::test
