// Inflating stream over arbitrary bytes, in changing request sizes, with and without deciphering
// (bit 0 of the first byte; the rest of it picks the request sizes). What it delivers must match
// zlib's own inflate of the same (deciphered) bytes, it must end the same way, and when the data
// end the source must stand just after the compressed bytes used.
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/crypt/cipher.h"
#include "engine/decoders/decompress_stream.h"
#include "fuzz/memory_stream.h"

namespace {

// Past this much output, or this many requests, an input stops being read.
constexpr std::size_t kOutputLimit = 16 << 20;
constexpr std::size_t kRequestLimit = 100000;
constexpr std::size_t kRequests[] = {1, 7, 100, 4096, 32768, 32769, 200000};
constexpr std::size_t kLargestRequest = 200000;
constexpr char kPassword[] = "fuzz";

// zlib's own inflate of the whole input in one call.
struct Reference {
  std::vector<std::uint8_t> out = std::vector<std::uint8_t>(kOutputLimit + kLargestRequest);
  std::size_t produced;  // bytes of out filled
  int result;            // Z_STREAM_END, Z_DATA_ERROR or Z_BUF_ERROR
  std::size_t used;      // compressed bytes consumed
};

void Inflate(const std::uint8_t* data, std::size_t size, Reference& ref) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) std::abort();
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = ref.out.data();
  z.avail_out = static_cast<uInt>(ref.out.size());
  ref.result = inflate(&z, Z_FINISH);
  ref.produced = z.total_out;
  ref.used = z.total_in;
  inflateEnd(&z);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t choice = data[0];
  ++data;
  --size;
  const bool enciphered = (choice & 1) != 0;

  static Reference ref;
  std::vector<std::uint8_t> plain(data, data + size);
  if (enciphered) {
    quern::TTraditionalCipher cipher;
    cipher.InitKeys(kPassword);
    cipher.DecodeBuffer(plain.data(), plain.size());
  }
  Inflate(plain.data(), plain.size(), ref);

  quern::fuzz::MemoryStream source(data, size);
  quern::TTraditionalCipher cipher;
  cipher.InitKeys(kPassword);
  static std::vector<std::uint8_t> piece(kLargestRequest);
  std::size_t total = 0;
  std::int32_t last = 1;
  {
    quern::TDecompressStream stream(source, -15, enciphered ? &cipher : nullptr);
    for (std::size_t i = 0; total < kOutputLimit && i < kRequestLimit; ++i) {
      const std::size_t request = kRequests[(choice / 2 + i * (choice / 16 + 1)) % 7];
      last = stream.ReadInflated(piece.data(), request);
      if (last <= 0) break;
      if (static_cast<std::size_t>(last) > request) std::abort();
      if (total + last > ref.produced || std::memcmp(piece.data(), &ref.out[total], last) != 0)
        std::abort();
      total += static_cast<std::size_t>(last);
      if (static_cast<std::size_t>(last) < request && !stream.EndOfData()) std::abort();
    }
    if (last == 0 && !stream.EndOfData()) std::abort();
  }
  // Only a stream stopped by the limit may disagree with zlib about how the data end.
  if (last == 0 && (ref.result != Z_STREAM_END || total != ref.produced ||
                    source.Position() != static_cast<std::int64_t>(ref.used)))
    std::abort();
  if (last < 0 && last != ref.result) std::abort();
  return 0;
}
