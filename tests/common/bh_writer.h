// Builds BH archives in memory for tests: every header field can be set, so that broken and
// unusual archives are as easy to make as good ones.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quern::test {

using Bytes = std::vector<std::uint8_t>;

// The MS-DOS date and time of the archive formats (date high, time low).
std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);
// The standard (complemented) CRC-32 of the bytes.
std::uint32_t Crc32Of(const Bytes& data);
// Bytes of a repeatable pseudo-random pattern.
Bytes PatternBytes(std::size_t count, std::uint32_t seed = 1);

struct BhEntry {
  std::string name;  // stored bytes, "\" or "/" separators, OEM code page
  Bytes data;        // the file; for a stored entry also the packed data
  std::uint8_t method = 0;
  std::uint8_t version = 3;
  std::uint8_t flags = 0;
  std::uint16_t attributes = 0x20;
  std::uint32_t dosDateTime = DosDateTime(2024, 5, 17, 10, 30, 42);
  std::uint16_t headerWord = 0x25;
  std::optional<std::uint32_t> crc;           // default: the CRC-32 of data
  std::optional<Bytes> packed;                // default: data
  std::optional<std::uint32_t> unpackedSize;  // default: data.size()
  std::optional<std::uint16_t> nameLength;    // default: name.size()
  Bytes extra;
  // With a password the entry is encrypted (flag bit 0 is set): a 12-byte encryption header is
  // put before the packed data, and the data are enciphered as the entry's version asks.
  std::optional<std::string> password;
  // Overrides the check byte of the encryption header (default: the one the password needs).
  std::optional<std::uint8_t> checkByte;

  static BhEntry Stored(std::string name, Bytes data) {
    BhEntry e;
    e.name = std::move(name);
    e.data = std::move(data);
    return e;
  }
  static BhEntry Directory(std::string name) {
    BhEntry e;
    e.name = std::move(name);
    e.attributes = 0x10;
    e.crc = 0;
    return e;
  }
};

Bytes BuildBhArchive(const std::vector<BhEntry>& entries);

// Raw Deflate of the bytes at a zlib level (0 to 9).
Bytes RawDeflate(const Bytes& data, int level = 6);

}  // namespace quern::test
