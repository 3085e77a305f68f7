// Integers as the archive formats store them: little-endian, at any alignment.
#pragma once

#include <cstdint>

namespace quern {

inline std::uint16_t LoadLe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t LoadLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
inline std::uint64_t LoadLe64(const std::uint8_t* p) {
  return std::uint64_t{LoadLe32(p)} | std::uint64_t{LoadLe32(p + 4)} << 32;
}

}  // namespace quern
