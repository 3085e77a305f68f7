// The LHA archive format: a chain of entries, each a header followed by the packed data, that
// ends at a header whose first byte is 0 or at the end of the file. All integers little-endian.
// Three header levels share the first 21 bytes:
//
//   offset  size  level 0 and 1                           level 2
//   ------  ----  --------------------------------------  -----------------------------------
//        0     1  header size: header length - 2          total header length, low byte
//        1     1  header checksum (not verified)          total header length, high byte
//        2     5  method id, "-lh5-"                      same
//        7     4  packed size (level 1: with the          packed size
//                 extended headers that follow)
//       11     4  unpacked size                           same
//       15     4  MS-DOS time (low half) and date         Unix time (seconds since 1970, UTC)
//                 (high half), local
//       19     1  DOS attribute bits                      same
//       20     1  header level, 0 or 1                    2
//       21     1  name length N                           CRC-16 of the data, low byte
//
//   level 0 and 1, after the name (22 + N):               level 2, from offset 22:
//       22+N   2  CRC-16 of the unpacked data                 22   1  CRC-16, high byte
//       24+N   1  level 1: OS id ('M', 'U', 'A', ...)         23   1  OS id
//   level 1, the last 2 bytes of the header:                  24   2  first extended size
//           2     size of the first extended header           26      extended headers, then
//                 (0: none), the extended headers                     padding up to the length
//                 follow the header and count as packed data
//
// Level-0 headers of some systems carry their own fields after the CRC; they are no extended
// headers and are skipped with the rest of the header.
//
// An extended header of size S (given by the field before it) holds its type (1 byte), S - 3
// bytes of data and the size of the next one (2 bytes, 0 after the last):
//
//   type 0x01  file name, in place of the level-0/1 name; level 2 has no other
//   type 0x02  directory name, its parts separated by 0xFF (or "/"), put before the file name
//   others     header CRC, comments, system-specific attributes: skipped
//
// The next header starts at the header + 2 + header size (levels 0 and 1; the packed size of a
// level-1 header covers its extended headers) or at the header + total length (level 2), plus
// the packed size.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

#include "engine/support/little_endian.h"

namespace quern::lha {

inline constexpr std::size_t kBaseHeaderSize = 22;   // bytes read before the level is known
inline constexpr std::size_t kMinHeaderSize = 22;    // smallest header size byte (levels 0, 1)
inline constexpr std::size_t kMinLevel2Length = 26;  // up to the first extended-header size
inline constexpr std::size_t kLevel2ExtendedAt = 24;

inline constexpr std::uint8_t kExtFileName = 0x01;
inline constexpr std::uint8_t kExtDirectory = 0x02;
inline constexpr std::size_t kExtOverhead = 3;  // the type byte and the next size

// What an entry's method letter (byte 5 of the method id) stands for.
enum class TLhaMethod : std::uint8_t {
  Stored,  // '0': the data as they are
  Lh1,     // '1': adaptive Huffman over a 4 KiB window
  Lh4,     // '4' to '7': static Huffman blocks, 4 KiB to 64 KiB windows
  Lh5,
  Lh6,
  Lh7,
  Directory,    // 'd': no data, the directory is made
  Unsupported,  // '2', '3': listed, then refused when extracted
};

// The method of a letter; nothing for the letters whose entries are not listed at all.
constexpr std::optional<TLhaMethod> MethodOfLetter(char letter) {
  switch (letter) {
    case '0':
      return TLhaMethod::Stored;
    case '1':
      return TLhaMethod::Lh1;
    case '2':
    case '3':
      return TLhaMethod::Unsupported;
    case '4':
      return TLhaMethod::Lh4;
    case '5':
      return TLhaMethod::Lh5;
    case '6':
      return TLhaMethod::Lh6;
    case '7':
      return TLhaMethod::Lh7;
    case 'd':
      return TLhaMethod::Directory;
    default:
      return std::nullopt;
  }
}

// A typed view of the first 22 bytes of a header, kept as read.
class TLhaBaseHeader {
 public:
  std::array<std::uint8_t, kBaseHeaderSize> bytes{};

  std::uint8_t HeaderSize() const { return bytes[0]; }
  // Level 2: the whole header's length, extended headers included.
  std::uint16_t TotalLength() const { return U16(0); }
  char MethodByte(std::size_t i) const { return static_cast<char>(bytes[2 + i]); }
  char MethodLetter() const { return MethodByte(3); }
  // Bytes 2 and 6 of the header frame the method id with "-".
  bool MethodFramed() const { return MethodByte(0) == '-' && MethodByte(4) == '-'; }
  std::uint32_t PackedSize() const { return U32(7); }
  std::uint32_t UnpackedSize() const { return U32(11); }
  std::uint32_t TimeStamp() const { return U32(15); }
  std::uint8_t Attributes() const { return bytes[19]; }
  std::uint8_t Level() const { return bytes[20]; }
  std::uint8_t NameLength() const { return bytes[21]; }

 private:
  std::uint16_t U16(std::size_t at) const { return LoadLe16(bytes.data() + at); }
  std::uint32_t U32(std::size_t at) const { return LoadLe32(bytes.data() + at); }
};
static_assert(sizeof(TLhaBaseHeader) == kBaseHeaderSize);

}  // namespace quern::lha
