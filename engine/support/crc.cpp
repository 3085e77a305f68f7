#include "engine/support/crc.h"

#include <zlib.h>

namespace quern {

std::uint32_t Crc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t count) {
  // zlib keeps the register complemented on both sides of its loop; undo that to advance ours.
  return ~static_cast<std::uint32_t>(crc32_z(~crc, data, count));
}

std::uint16_t Crc16Update(std::uint16_t crc, const std::uint8_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i)
    crc = static_cast<std::uint16_t>(kCrc16Table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8));
  return crc;
}

}  // namespace quern
