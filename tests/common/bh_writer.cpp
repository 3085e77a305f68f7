#include "common/bh_writer.h"

#include <zlib.h>

#include "engine/crypt/cipher.h"

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

namespace {

// The packed data as an encrypted entry stores them: the encryption header, then the data,
// enciphered by the rules of the entry's version.
Bytes Encrypt(const BhEntry& e, Bytes packed, std::uint32_t crc) {
  Bytes header = PatternBytes(12, static_cast<std::uint32_t>(packed.size()) + 77);
  header[11] = e.checkByte
                   ? *e.checkByte
                   : static_cast<std::uint8_t>((e.flags & 0x08) ? e.dosDateTime >> 8 : crc >> 24);
  TTraditionalCipher cipher;
  cipher.InitKeys(*e.password);
  cipher.EncodeBuffer(header.data(), header.size());
  if (e.version < 3) {
    // Old entries: stored data stay plain, compressed data start from fresh keys.
    if (e.method != 0) {
      cipher.InitKeys(*e.password);
      cipher.EncodeBuffer(packed.data(), packed.size());
    }
  } else {
    cipher.EncodeBuffer(packed.data(), packed.size());
  }
  header.insert(header.end(), packed.begin(), packed.end());
  return header;
}

}  // namespace

Bytes RawDeflate(const Bytes& data, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes BuildBhArchive(const std::vector<BhEntry>& entries) {
  Bytes out;
  for (const BhEntry& e : entries) {
    const std::uint32_t crc = e.crc ? *e.crc : Crc32Of(e.data);
    const Bytes packed = e.password ? Encrypt(e, e.packed ? *e.packed : e.data, crc)
                                    : (e.packed ? *e.packed : e.data);
    Put32(out, 0x07054842);
    Put16(out, e.headerWord);
    out.push_back(0);
    out.push_back(e.version);
    out.push_back(0);
    out.push_back(static_cast<std::uint8_t>(e.flags | (e.password ? 0x01 : 0)));
    out.push_back(e.method);
    Put32(out, e.dosDateTime);
    Put32(out, static_cast<std::uint32_t>(packed.size()));
    Put32(out, e.unpackedSize ? *e.unpackedSize : static_cast<std::uint32_t>(e.data.size()));
    Put32(out, crc);
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
