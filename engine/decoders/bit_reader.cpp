#include "engine/decoders/bit_reader.h"

#include <bit>
#include <cstring>

namespace quern {

namespace {

// Eight bytes as one number, the first byte in the top bits.
std::uint64_t LoadBigEndian64(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, sizeof word);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
}

}  // namespace

void TBitReader::Start(TDecoderIo& io, std::size_t chunk) {
  io_ = &io;
  chunk_ = chunk;
  buffer_.resize(chunk);
  next_ = end_ = buffer_.data();
  acc_ = 0;
  count_ = 0;
  fedBits_ = 0;
  endBits_ = std::numeric_limits<std::uint64_t>::max();
  exhausted_ = false;
  Refill();
}

void TBitReader::Refill() {
  while (count_ < 56) {
    if (end_ - next_ >= 8) {
      // Whole bytes up to 56..63 bits at once. The bits of the partly taken byte go in as well:
      // they are the ones that follow, so taking that byte again next time changes nothing.
      acc_ |= LoadBigEndian64(next_) >> count_;
      const unsigned bytes = (63 - count_) >> 3;
      next_ += bytes;
      count_ += bytes * 8;
      fedBits_ += bytes * 8;
      return;
    }
    if (next_ == end_ && !exhausted_) {
      const std::size_t got = io_->ReadPacked(buffer_.data(), chunk_);
      next_ = buffer_.data();
      end_ = next_ + got;
      if (got == 0) {
        exhausted_ = true;
        endBits_ = fedBits_ + kEndSlackBytes * 8;
      }
      continue;
    }
    if (next_ != end_) acc_ |= static_cast<std::uint64_t>(*next_++) << (56 - count_);
    count_ += 8;  // the byte just taken, or a zero byte past the end
    fedBits_ += 8;
  }
}

}  // namespace quern
