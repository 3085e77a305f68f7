// A decoder's packed input handed out in pieces of at most `piece` bytes, and its output
// collected, for the decoder fuzz targets: the same stream must decode the same however it is
// cut. An empty block, or one above `maxBlock`, is a fault of the decoder and aborts.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/decoders/decoder_io.h"

namespace quern::fuzz {

class PieceIo : public TDecoderIo {
 public:
  PieceIo(const std::uint8_t* data, std::size_t size, std::size_t piece,
          std::size_t maxBlock = SIZE_MAX)
      : data_(data), size_(size), piece_(piece), maxBlock_(maxBlock) {}

  std::size_t ReadPacked(std::uint8_t* buffer, std::size_t count) override {
    const std::size_t n = std::min({count, piece_, size_ - at_});
    if (n != 0) std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return n;
  }
  void WriteDecoded(std::uint8_t* buffer, std::size_t count) override {
    if (count == 0 || count > maxBlock_) std::abort();
    decoded.insert(decoded.end(), buffer, buffer + count);
  }

  std::vector<std::uint8_t> decoded;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t piece_;     // most bytes handed out per request
  std::size_t maxBlock_;  // the largest block the decoder may hand on
  std::size_t at_ = 0;
};

}  // namespace quern::fuzz
