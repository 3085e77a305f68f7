#include "ident_support.h"

#include <algorithm>
#include <cstring>

#include "engine/crypt/cipher.h"

namespace quern::test {

Bytes Text(std::string_view s) {
  return Bytes(s.begin(), s.end());
}

Bytes Put(Bytes file, std::size_t at, const Bytes& what) {
  if (file.size() < at + what.size()) file.resize(at + what.size(), 0);
  std::copy(what.begin(), what.end(), file.begin() + static_cast<std::ptrdiff_t>(at));
  return file;
}

Bytes Resized(Bytes b, std::size_t size) {
  b.resize(size, 0);
  return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::size_t MemoryStream::Read(void* buffer, std::size_t count) {
  const auto size = static_cast<std::int64_t>(bytes_.size());
  if (position_ >= size) return 0;
  const std::size_t n = std::min<std::size_t>(count, static_cast<std::size_t>(size - position_));
  std::memcpy(buffer, bytes_.data() + position_, n);
  position_ += static_cast<std::int64_t>(n);
  bytesRead_ += static_cast<std::int64_t>(n);
  largestRead_ = std::max(largestRead_, count);
  return n;
}

std::int64_t MemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const std::int64_t base = origin == soFromBeginning ? 0
                            : origin == soFromCurrent ? position_
                                                      : static_cast<std::int64_t>(bytes_.size());
  if (base + offset < 0) return -1;
  position_ = base + offset;
  return position_;
}

void ScrambleRecord(std::span<std::uint8_t> afterSignature) {
  // The fixed key state, written out: each initial key word ANDed with another.
  TTraditionalCipher cipher;
  cipher.SetKeys(0x10145010, 0x02044608, 0x20446080);
  cipher.EncodeBuffer(afterSignature.data(), afterSignature.size());
}

Bytes Program(std::uint16_t pages, std::uint16_t lastPageBytes, std::size_t size) {
  Bytes b(size, 0);
  b[0] = 'M';
  b[1] = 'Z';
  b[2] = static_cast<std::uint8_t>(lastPageBytes);
  b[3] = static_cast<std::uint8_t>(lastPageBytes >> 8);
  b[4] = static_cast<std::uint8_t>(pages);
  b[5] = static_cast<std::uint8_t>(pages >> 8);
  return b;
}

namespace {

class Record {
 public:
  explicit Record(std::string_view signature) : bytes_(signature.begin(), signature.end()) {}
  Record& U16(std::uint64_t v) { return Le(v, 2); }
  Record& U32(std::uint64_t v) { return Le(v, 4); }
  Record& U64(std::uint64_t v) { return Le(v, 8); }
  Record& Raw(std::string_view s) {
    bytes_.insert(bytes_.end(), s.begin(), s.end());
    return *this;
  }
  // Scrambles `count` bytes after the signature, as the variant records store them.
  Record& Scrambled(std::size_t count) {
    ScrambleRecord(std::span(bytes_).subspan(4, count));
    return *this;
  }
  const Bytes& bytes() const { return bytes_; }

 private:
  Record& Le(std::uint64_t v, int width) {
    for (int i = 0; i < width; ++i)
      bytes_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes bytes_;
};

}  // namespace

BuiltZip BuildZip(const ZipSpec& spec) {
  constexpr std::uint32_t kCrc = 0x3610A686;  // of "hello"
  constexpr std::uint32_t kDosTime = 0x58B15000;
  const bool scrambledHeaders = spec.headerVariant == 'L' || spec.headerVariant == 'N';
  const std::string variant{'P', spec.headerVariant};

  Record local(variant + "\x03\x04");
  local.U16(20).U16(0).U16(0).U32(kDosTime).U32(kCrc).U32(5).U32(5).U16(5).U16(0);
  if (scrambledHeaders) local.Scrambled(26);
  local.Raw("a.txt").Raw("hello");

  const std::uint32_t centralOffset = static_cast<std::uint32_t>(local.bytes().size());
  Record central(variant + "\x01\x02");
  central.U16(20).U16(20).U16(0).U16(0).U32(kDosTime).U32(kCrc).U32(5).U32(5).U16(5).U16(0);
  central.U16(0).U16(0).U16(0).U32(0x20).U32(0);
  if (scrambledHeaders) central.Scrambled(42);
  central.Raw("a.txt");
  const auto centralSize = static_cast<std::uint32_t>(central.bytes().size());

  BuiltZip zip;
  zip.bytes.assign(spec.prefix, 'x');
  zip.localAt = static_cast<std::int64_t>(zip.bytes.size());
  zip.bytes = Concat(zip.bytes, local.bytes());
  zip.centralAt = static_cast<std::int64_t>(zip.bytes.size());
  zip.bytes = Concat(zip.bytes, spec.noCentral ? Bytes(centralSize, 'y') : central.bytes());

  if (spec.zip64) {
    const std::uint64_t zip64EndOffset = centralOffset + centralSize;
    Record end64("PK\x06\x06");
    end64.U64(44).U16(45).U16(45).U32(0).U32(0).U64(1).U64(1).U64(centralSize).U64(centralOffset);
    Record locator("PK\x06\x07");
    locator.U32(0).U64(zip64EndOffset).U32(1);
    zip.bytes = Concat(Concat(zip.bytes, end64.bytes()), locator.bytes());
  }

  zip.endAt = static_cast<std::int64_t>(zip.bytes.size());
  const std::uint32_t recordedSize = spec.zip64 ? 0xFFFFFFFF : centralSize;
  const std::uint32_t recordedOffset = spec.zip64 ? 0xFFFFFFFF : centralOffset;
  if (spec.wideEnd) {
    Record end(spec.scrambledEnd ? "P\\\x05\x06" : "P[\x05\x06");
    end.U16(spec.disk).U16(spec.disk).U16(1).U16(1).U32(recordedSize);
    end.U64(spec.widePosition.value_or(centralOffset)).U16(0);
    if (spec.scrambledEnd) end.Scrambled(22);
    zip.bytes = Concat(zip.bytes, end.bytes());
  } else {
    Record end(spec.scrambledEnd ? "PL\x05\x06" : "PK\x05\x06");
    end.U16(spec.disk).U16(spec.disk).U16(1).U16(1).U32(recordedSize).U32(recordedOffset).U16(0);
    if (spec.scrambledEnd) end.Scrambled(18);
    zip.bytes = Concat(zip.bytes, end.bytes());
  }
  return zip;
}

}  // namespace quern::test
