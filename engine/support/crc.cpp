#include "engine/support/crc.h"

#include <zlib.h>

namespace quern {

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t count) {
  // zlib keeps the register complemented on both sides of its loop; undo that to advance ours.
  return ~static_cast<std::uint32_t>(crc32_z(~crc, data, count));
}

namespace {

// Eight bytes a step: table k holds what a byte does to the register when k more bytes follow it
// (table 0 is the one-byte table).
constexpr std::array<std::array<std::uint16_t, 256>, 8> MakeCrc16Slices() {
  std::array<std::array<std::uint16_t, 256>, 8> slices{};
  slices[0] = kCrc16Table;
  for (std::size_t k = 1; k < 8; ++k)
    for (std::size_t i = 0; i < 256; ++i)
      slices[k][i] = static_cast<std::uint16_t>((slices[k - 1][i] >> 8) ^
                                                kCrc16Table[slices[k - 1][i] & 0xFF]);
  return slices;
}
constexpr auto kCrc16Slices = MakeCrc16Slices();

}  // namespace

std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* data, std::size_t count) {
  const auto& t = kCrc16Slices;
  for (; count >= 8; count -= 8, data += 8) {
    crc = static_cast<std::uint16_t>(t[7][(crc ^ data[0]) & 0xFF] ^ t[6][(crc >> 8) ^ data[1]] ^
                                     t[5][data[2]] ^ t[4][data[3]] ^ t[3][data[4]] ^ t[2][data[5]] ^
                                     t[1][data[6]] ^ t[0][data[7]]);
  }
  for (; count > 0; --count, ++data)
    crc = static_cast<std::uint16_t>(kCrc16Table[(crc ^ *data) & 0xFF] ^ (crc >> 8));
  return crc;
}

}  // namespace quern
