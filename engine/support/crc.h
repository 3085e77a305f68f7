// The two running checksums of the archive formats. Both are the reflected, table-driven step
// with no final complement: c = Table[(c ^ b) & 0xFF] ^ (c >> 8).
//   CRC-32: polynomial 0xEDB88320, the register BH entries are checked against (preset
//           0xFFFFFFFF by the reader; the stored value may be the register or its complement).
//   CRC-16: polynomial 0xA001 (CRC-16/ARC), the register LHA entries are checked against
//           (preset 0).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace quern {

namespace detail {
template <typename T, T kPolynomial>
constexpr std::array<T, 256> MakeReflectedTable() {
  std::array<T, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    T c = static_cast<T>(i);
    for (int k = 0; k < 8; ++k)
      c = (c & 1) ? static_cast<T>((c >> 1) ^ kPolynomial) : c >> 1;
    table[i] = c;
  }
  return table;
}
}  // namespace detail

inline constexpr std::array<std::uint32_t, 256> kCrc32Table =
    detail::MakeReflectedTable<std::uint32_t, 0xEDB88320u>();
inline constexpr std::array<std::uint16_t, 256> kCrc16Table =
    detail::MakeReflectedTable<std::uint16_t, 0xA001u>();

// Advances a CRC-32 register over the bytes.
std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t count);
// Advances a CRC-16 register over the bytes.
std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* data, std::size_t count);

// Which running register a block routine updates.
inline constexpr std::uint8_t kCrcNone = 0;
inline constexpr std::uint8_t kCrc16 = 16;
inline constexpr std::uint8_t kCrc32 = 32;

}  // namespace quern
