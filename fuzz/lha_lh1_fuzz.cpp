// The -lh1- decoder over arbitrary packed bytes. The first byte gives the entry size (in steps of
// 16 KiB up to 4 MiB); the others are the packed stream. It must end without a crash or a hang,
// never hand on more than the entry size nor an empty block, and decode the same however the
// unpacker cuts the packed bytes into pieces.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/lha/lh1_decoder.h"
#include "fuzz/piece_io.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::int64_t unpackedSize = (data[0] + 1) * std::int64_t{16384};

  quern::fuzz::PieceIo whole(data + 1, size - 1, SIZE_MAX, quern::TLh1Decoder::kBlockSize);
  quern::TLh1Decoder().Decode(whole, unpackedSize);
  if (whole.decoded.size() > static_cast<std::size_t>(unpackedSize)) std::abort();

  quern::fuzz::PieceIo pieces(data + 1, size - 1, 1 + data[0] % 7, quern::TLh1Decoder::kBlockSize);
  quern::TLh1Decoder().Decode(pieces, unpackedSize);
  if (pieces.decoded != whole.decoded) std::abort();
  return 0;
}
