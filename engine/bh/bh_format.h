// The BH archive format: a plain chain of entries, each a 37-byte header, the name, an extra
// field and the packed data. No directory, no end record: the chain ends at the first position
// that holds no valid header. All integers are little-endian.
//
//   offset  size  field
//   ------  ----  -----------------------------------------------------------------------
//        0     4  signature      42 48 05 07 ("BH" 05 07)
//        4     2  header word    must be nonzero; no other meaning
//        6     1  (unused)
//        7     1  version        below 3: the old encryption rules
//        8     1  (unused)
//        9     1  flags          bit 0 encrypted; bit 3 check byte from the time, not the CRC
//       10     1  method         0 stored, 1 LZH 8 KiB, 2 and 8 Deflate, 3 LZH 32 KiB
//       11     4  date-time      MS-DOS date (high half) and time (low half), local
//       15     4  packed size    bytes of data after name and extra (encryption header included)
//       19     4  unpacked size
//       23     4  CRC-32         of the unpacked file
//       27     2  attributes     DOS attribute bits; 0x10 marks a directory
//       29     4  (unused)
//       33     2  name length    bytes of the name (OEM code page, not zero-terminated)
//       35     2  extra length   bytes of the extra field, skipped
//   37 ...        name, extra field, packed data
//
// The next header starts at this header + 37 + name length + extra length + packed size.
// An encrypted entry's data begin with a 12-byte encryption header whose last deciphered byte
// is the CRC's high byte (or, with flag bit 3, the high byte of the time).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "engine/support/little_endian.h"

namespace quern::bh {

inline constexpr std::uint32_t kSignature = 0x0705'4842;
inline constexpr std::size_t kHeaderSize = 37;
inline constexpr std::size_t kMaxNameLength = 255;  // longer names are never selected
inline constexpr std::size_t kEncryptionHeaderSize = 12;

inline constexpr std::uint8_t kFlagEncrypted = 0x01;
inline constexpr std::uint8_t kFlagCheckTime = 0x08;
inline constexpr std::uint8_t kFirstNewCipherVersion = 3;

inline constexpr std::uint8_t kMethodStored = 0;
inline constexpr std::uint8_t kMethodFused1 = 1;
inline constexpr std::uint8_t kMethodDeflate = 2;  // read exactly as method 8
inline constexpr std::uint8_t kMethodFused3 = 3;
inline constexpr std::uint8_t kMethodDeflate8 = 8;

inline constexpr std::uint16_t kAttrDirectory = 0x10;

// A typed view of the fixed header; the bytes are kept as read.
class TBhHeader {
 public:
  std::array<std::uint8_t, kHeaderSize> bytes{};

  std::uint32_t Signature() const { return U32(0); }
  std::uint16_t HeaderWord() const { return U16(4); }
  std::uint8_t Version() const { return bytes[7]; }
  std::uint8_t Flags() const { return bytes[9]; }
  std::uint8_t Method() const { return bytes[10]; }
  void SetMethod(std::uint8_t method) { bytes[10] = method; }
  std::uint32_t DateTime() const { return U32(11); }
  std::uint32_t PackedSize() const { return U32(15); }
  std::uint32_t UnpackedSize() const { return U32(19); }
  std::uint32_t Crc() const { return U32(23); }
  std::uint16_t Attributes() const { return U16(27); }
  std::uint16_t NameLength() const { return U16(33); }
  std::uint16_t ExtraLength() const { return U16(35); }

  // A header that continues the chain.
  bool Valid() const { return Signature() == kSignature && HeaderWord() != 0; }
  bool Encrypted() const { return (Flags() & kFlagEncrypted) != 0; }
  // Bytes from the start of this header to the start of the next.
  std::int64_t EntrySpan() const {
    return std::int64_t{kHeaderSize} + NameLength() + ExtraLength() + PackedSize();
  }

 private:
  std::uint16_t U16(std::size_t at) const { return LoadLe16(bytes.data() + at); }
  std::uint32_t U32(std::size_t at) const { return LoadLe32(bytes.data() + at); }
};
static_assert(sizeof(TBhHeader) == kHeaderSize);

}  // namespace quern::bh
