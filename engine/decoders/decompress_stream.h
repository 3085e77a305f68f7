// A read-only stream that inflates raw Deflate data (no zlib or gzip wrapper, 32 KiB window)
// taken from another stream, optionally deciphering its input as it arrives.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "engine/support/streams.h"

namespace quern {

class TTraditionalCipher;

class TDecompressStream : public TStream32 {
 public:
  // Reads from `source` at its current position. With a cipher, every byte read from the
  // source is deciphered once, in order, before it is inflated. Neither is owned.
  TDecompressStream(TStream32& source, int windowBits = -15, TTraditionalCipher* cipher = nullptr);
  // Leaves the source just after the compressed bytes the inflater consumed.
  ~TDecompressStream() override;

  // Fills up to count bytes: count, fewer when the Deflate data end within the request, 0 once
  // they have ended, or zlib's negative error code (the inflater then stays in that error).
  std::int32_t ReadInflated(void* buffer, std::size_t count);
  bool EndOfData() const { return endOfData_; }

  // TStream32: Read is ReadInflated with errors as 0; writing is refused; seeking only resets
  // (offset 0 from the beginning) or skips forward.
  void SetSize(std::int64_t newSize) override;
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

 private:
  // Compressed input is read into input_ at most this many bytes at a time.
  static constexpr std::size_t kInputBufferSize = 131070;

  // Copying would share zlib's state between two owners.
  TDecompressStream(const TDecompressStream&) = delete;
  TDecompressStream& operator=(const TDecompressStream&) = delete;

  // Fills input_ from the source (up to `want` bytes), deciphers and reports the refill.
  void Refill(std::size_t want);

  TStream32& source_;                      // where the compressed bytes come from (not owned)
  TTraditionalCipher* cipher_;             // deciphers each byte read from the source; may be null
  std::int64_t sourcePosition_;            // where the source stood after our last read from it
  std::unique_ptr<std::uint8_t[]> input_;  // kInputBufferSize bytes; z_.avail_in of them unused
  z_stream z_{};                           // the inflater; next_in points into input_
  int initResult_;                         // inflateInit2's result; every read fails unless Z_OK
  std::int64_t totalOut_ = 0;              // bytes inflated since construction or the last reset
  bool endOfData_ = false;                 // the Deflate data have ended
};

}  // namespace quern
