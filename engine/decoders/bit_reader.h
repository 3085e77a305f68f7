// An entry's packed bytes as a stream of bits, most significant bit of each byte first, taken
// from the unpacker a chunk at a time. The decoder looks at the next 16 bits and moves past those
// it used; past the end of the input it reads zero bits, and tells how far it went there, so that
// a truncated entry ends instead of decoding zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "engine/decoders/decoder_io.h"

namespace quern {

class TBitReader {
 public:
  // How many zero bytes past the end of the input may be moved past before PastEnd() holds. A
  // complete stream never uses bits behind its last byte; the slack keeps a stream whose packed
  // size is a little short decoding to its end.
  static constexpr std::uint64_t kEndSlackBytes = 4;

  // Starts over on `io`, asking it for `chunk` bytes at a time, and loads the first 16 bits.
  void Start(TDecoderIo& io, std::size_t chunk);

  // The next 16 bits; the first of them in bit 15.
  std::uint32_t Bits() const { return static_cast<std::uint32_t>(acc_ >> 48); }
  // Moves past n (0 to 16) bits.
  void Fill(unsigned n) {
    acc_ <<= n;
    count_ -= n;
    if (count_ < 16) Refill();
  }
  // The next n (0 to 16) bits as a number, moving past them.
  std::uint32_t GetBits(unsigned n) {
    const std::uint32_t value = Bits() >> (16 - n);
    Fill(n);
    return value;
  }

  // Whether the bits moved past reach more than kEndSlackBytes beyond the end of the input.
  bool PastEnd() const { return fedBits_ - count_ > endBits_; }

 private:
  // Tops the accumulator up to at least 56 bits, from the buffer, the unpacker or zeros.
  void Refill();

  TDecoderIo* io_ = nullptr;            // where packed bytes come from
  std::size_t chunk_ = 0;               // how many bytes each request to io_ asks for
  std::vector<std::uint8_t> buffer_;    // the chunk last received
  const std::uint8_t* next_ = nullptr;  // first byte of buffer_ not yet counted into acc_
  const std::uint8_t* end_ = nullptr;   // end of the bytes received into buffer_
  std::uint64_t acc_ = 0;               // next bits from the top; below count_ the bits that
                                        // follow, or zeros
  unsigned count_ = 0;                  // valid bits at the top of acc_
  std::uint64_t fedBits_ = 0;           // bits counted into acc_ so far, zeros past the end too
  std::uint64_t endBits_ =              // how far PastEnd() lets the bits moved past go; no limit
      std::numeric_limits<std::uint64_t>::max();  // until the input is exhausted
  bool exhausted_ = false;                        // io_ has reported the end of the input
};

}  // namespace quern
