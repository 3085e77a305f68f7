// The -lh1- decoder over arbitrary packed bytes. The first byte gives the entry size (in steps of
// 16 KiB up to 4 MiB); the others are the packed stream. It must end without a crash or a hang,
// never hand on more than the entry size nor an empty block, and decode the same however the
// unpacker cuts the packed bytes into pieces.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/lha/lh1_decoder.h"

namespace {

class FuzzIo : public quern::TDecoderIo {
 public:
  FuzzIo(const std::uint8_t* data, std::size_t size, std::size_t piece)
      : data_(data), size_(size), piece_(piece) {}

  std::size_t ReadPacked(std::uint8_t* buffer, std::size_t count) override {
    const std::size_t n = std::min({count, piece_, size_ - at_});
    std::memcpy(buffer, data_ + at_, n);
    at_ += n;
    return n;
  }
  void WriteDecoded(std::uint8_t* buffer, std::size_t count) override {
    if (count == 0 || count > quern::TLh1Decoder::kBlockSize) std::abort();
    decoded.insert(decoded.end(), buffer, buffer + count);
  }

  std::vector<std::uint8_t> decoded;

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t piece_;  // most bytes handed out per request
  std::size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::int64_t unpackedSize = (data[0] + 1) * std::int64_t{16384};

  FuzzIo whole(data + 1, size - 1, SIZE_MAX);
  quern::TLh1Decoder().Decode(whole, unpackedSize);
  if (whole.decoded.size() > static_cast<std::size_t>(unpackedSize)) std::abort();

  FuzzIo pieces(data + 1, size - 1, 1 + data[0] % 7);
  quern::TLh1Decoder().Decode(pieces, unpackedSize);
  if (pieces.decoded != whole.decoded) std::abort();
  return 0;
}
