// The LZH decoder over arbitrary packed bytes. The first byte picks the row (low 2 bits) and the
// entry size (the rest, in steps of 16 KiB up to 1 MiB); the others are the packed stream. It
// must end without a crash or a hang, never hand on more than the entry size, and decode the
// same however the unpacker cuts the packed bytes into pieces.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/decoders/lzh_decoder.h"
#include "fuzz/piece_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static constexpr quern::LzhParameters kRows[] = {quern::kLzhLh4, quern::kLzhLh5, quern::kLzhLh6,
                                                   quern::kLzhLh7};
  const quern::LzhParameters& row = kRows[data[0] & 3];
  const std::int64_t unpackedSize = ((data[0] >> 2) + 1) * std::int64_t{16384};

  quern::TLzhDecoder decoder(row);
  quern::fuzz::PieceIo whole(data + 1, size - 1, SIZE_MAX);
  decoder.Decode(whole, unpackedSize);
  if (whole.decoded.size() > static_cast<std::size_t>(unpackedSize)) std::abort();

  quern::fuzz::PieceIo pieces(data + 1, size - 1, 1 + data[0] % 7);
  decoder.Decode(pieces, unpackedSize);
  if (pieces.decoded != whole.decoded) std::abort();
  return 0;
}
