#include "common/bh_writer.h"

#include <zlib.h>

namespace quern::test {

namespace {

void Put16(Bytes& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

std::uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
  const std::uint32_t date = static_cast<std::uint32_t>((year - 1980) << 9 | month << 5 | day);
  const std::uint32_t time = static_cast<std::uint32_t>(hour << 11 | minute << 5 | second / 2);
  return date << 16 | time;
}

std::uint32_t Crc32Of(const Bytes& data) {
  return static_cast<std::uint32_t>(crc32_z(0, data.data(), data.size()));
}

Bytes PatternBytes(std::size_t count, std::uint32_t seed) {
  Bytes out(count);
  std::uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  return out;
}

Bytes BuildBhArchive(const std::vector<BhEntry>& entries) {
  Bytes out;
  for (const BhEntry& e : entries) {
    const Bytes& packed = e.packed ? *e.packed : e.data;
    Put32(out, 0x07054842);
    Put16(out, e.headerWord);
    out.push_back(0);
    out.push_back(e.version);
    out.push_back(0);
    out.push_back(e.flags);
    out.push_back(e.method);
    Put32(out, e.dosDateTime);
    Put32(out, static_cast<std::uint32_t>(packed.size()));
    Put32(out, e.unpackedSize ? *e.unpackedSize : static_cast<std::uint32_t>(e.data.size()));
    Put32(out, e.crc ? *e.crc : Crc32Of(e.data));
    Put16(out, e.attributes);
    Put32(out, 0);
    Put16(out, e.nameLength ? *e.nameLength : static_cast<std::uint32_t>(e.name.size()));
    Put16(out, static_cast<std::uint32_t>(e.extra.size()));
    out.insert(out.end(), e.name.begin(), e.name.end());
    out.insert(out.end(), e.extra.begin(), e.extra.end());
    out.insert(out.end(), packed.begin(), packed.end());
  }
  return out;
}

}  // namespace quern::test
