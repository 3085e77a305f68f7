// The ZIP directory locator: finds a ZIP end record in a file's tail, confirms the central
// directory it points to, and says where the ZIP data are. Besides ordinary records it knows a
// variant family whose signatures differ in their second byte ("PL", "PM", "PN", "P[", "P\"),
// some of them stored scrambled, and the wide end record with a 64-bit directory position.
//
// The end records it looks for, little-endian:
//
//   end record        "PK" 05 06 (scrambled "PL" 05 06), 22 bytes
//     +4  u16 number of this disk      +12 u32 directory size   +16 u32 directory offset
//   wide end record   "P[" 05 06 (scrambled "P\" 05 06), 26 bytes
//     +4  u16 number of this disk      +12 u32 directory size   +16 u64 directory position
//   ZIP64 locator     "PK" 06 07, 20 bytes, right before the end record: +8 u64 ZIP64 end record
//   ZIP64 end record  "PK" 06 06, 56 bytes, right before the locator:   +40 u64 directory size
//   central header    "PK"/"PM" 01 02 (scrambled "PL"/"PN"), 46 bytes: +42 u32 local header
//   local header      "PK"/"PM" 03 04 (scrambled "PL"/"PN"), 30 bytes
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quern {

class TStream32;

// What the locator found, as flag bits.
enum TZipFlag : std::uint8_t {
  zfLocalHeader = 1,
  zfCentralHeader = 2,
  zfEndRecord = 4,
  zfZip64Locator = 8,
  zfZip64EndRecord = 16,
};

struct ZipLocation {
  // The central directory's position when it was confirmed; otherwise the first local header
  // found from the start of the file, -1 when none lies in the blocks searched, 0 when there is
  // no end record at all.
  std::int64_t position = 0;
  std::uint8_t flags = 0;  // TZipFlag bits
  // The end record found (deciphered when it was scrambled); zeros where the file ended first.
  std::array<std::uint8_t, 26> endRecord{};

  std::uint16_t EndRecordDisk() const {
    return static_cast<std::uint16_t>(endRecord[4] | endRecord[5] << 8);
  }
};

// Where the last end record (plain, scrambled, wide or wide scrambled) starts in `window`: the
// one nearest the end whose four signature bytes lie in it.
std::optional<std::size_t> FindEndRecord(std::span<const std::uint8_t> window);
// Whether the bytes start with a central-header or a local-header signature of any form.
bool IsCentralHeader(std::span<const std::uint8_t> bytes);
bool IsLocalHeader(std::span<const std::uint8_t> bytes);
// Whether a record of this signature is stored scrambled.
bool IsScrambled(std::span<const std::uint8_t, 4> signature);
// Deciphers the bytes of a scrambled record that follow its signature, from the fixed key state.
void Descramble(std::span<std::uint8_t> afterSignature);

// Runs the locator over a file of `archiveSize` bytes. Reads at most 32768 bytes of the tail,
// three records and four blocks from the start; never throws on short or failed reads.
ZipLocation LocateZipDirectory(TStream32& stream, std::int64_t archiveSize);

}  // namespace quern
