#include "common/lha_writer.h"

#include <stdexcept>

namespace quern::test {

namespace {

void Put16(Bytes& b, std::uint32_t v) {
  b.push_back(static_cast<std::uint8_t>(v));
  b.push_back(static_cast<std::uint8_t>(v >> 8));
}

void Put32(Bytes& b, std::uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

void PutText(Bytes& b, const std::string& s) {
  b.insert(b.end(), s.begin(), s.end());
}

// Each extension as type, data and the size of the one after it; the size of the first is
// returned.
std::uint16_t AppendExtensions(Bytes& b, const std::vector<LhaExtension>& extensions) {
  auto sizeOf = [&](std::size_t i) {
    return i < extensions.size() ? static_cast<std::uint16_t>(extensions[i].data.size() + 3) : 0;
  };
  for (std::size_t i = 0; i < extensions.size(); ++i) {
    b.push_back(extensions[i].type);
    PutText(b, extensions[i].data);
    Put16(b, sizeOf(i + 1));
  }
  return sizeOf(0);
}

}  // namespace

std::uint16_t Crc16Of(const Bytes& data) {
  std::uint16_t crc = 0;
  for (std::uint8_t byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k)
      crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
  }
  return crc;
}

Bytes LhaEntryBytes(const LhaRecord& r) {
  if (r.method.size() != 5) throw std::invalid_argument("method ids have 5 bytes");
  const Bytes& packed = r.packed ? *r.packed : r.data;
  const std::uint16_t crc = r.crc ? *r.crc : Crc16Of(r.data);

  Bytes h = {0, 0};  // size and checksum, or the level-2 length
  PutText(h, r.method);
  const std::size_t packedAt = h.size();
  Put32(h, static_cast<std::uint32_t>(packed.size()));
  Put32(h, static_cast<std::uint32_t>(r.data.size()));
  Put32(h, r.stamp);
  h.push_back(r.attributes);
  h.push_back(static_cast<std::uint8_t>(r.level));

  Bytes extensions;
  if (r.level == 2) {
    Put16(h, crc);
    h.push_back(static_cast<std::uint8_t>(r.os));
    std::vector<LhaExtension> all = r.extensions;
    if (r.nameAt >= 0)
      all.insert(all.begin() + std::min<std::size_t>(r.nameAt, all.size()), {0x01, r.name});
    Bytes chain;
    Put16(h, AppendExtensions(chain, all));
    h.insert(h.end(), chain.begin(), chain.end());
    const std::uint16_t length = r.length ? *r.length : static_cast<std::uint16_t>(h.size());
    h[0] = static_cast<std::uint8_t>(length);
    h[1] = static_cast<std::uint8_t>(length >> 8);
  } else {
    h.push_back(static_cast<std::uint8_t>(r.name.size()));
    PutText(h, r.name);
    Put16(h, crc);
    if (r.level == 1) {
      h.push_back(static_cast<std::uint8_t>(r.os));
      Put16(h, AppendExtensions(extensions, r.extensions));
      // The extensions count as packed data.
      const auto size = static_cast<std::uint32_t>(extensions.size() + packed.size());
      for (int i = 0; i < 4; ++i)
        h[packedAt + i] = static_cast<std::uint8_t>(size >> (8 * i));
    } else {
      h.insert(h.end(), r.level0Tail.begin(), r.level0Tail.end());
    }
    h[0] = static_cast<std::uint8_t>(r.length ? *r.length : h.size() - 2);
    std::uint8_t sum = 0;
    for (std::size_t i = 2; i < h.size(); ++i)
      sum = static_cast<std::uint8_t>(sum + h[i]);
    h[1] = sum;
  }
  h.insert(h.end(), extensions.begin(), extensions.end());
  h.insert(h.end(), packed.begin(), packed.end());
  return h;
}

Bytes BuildLhaArchive(const std::vector<LhaRecord>& records, bool endMarker) {
  Bytes archive;
  for (const LhaRecord& r : records) {
    const Bytes entry = LhaEntryBytes(r);
    archive.insert(archive.end(), entry.begin(), entry.end());
  }
  if (endMarker) archive.push_back(0);
  return archive;
}

}  // namespace quern::test
