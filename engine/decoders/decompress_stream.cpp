#include "engine/decoders/decompress_stream.h"

#include <algorithm>
#include <climits>

#include "engine/crypt/cipher.h"

namespace quern {

namespace {

// The most one request can report through its int32 result.
constexpr std::size_t kMaxRequest = INT32_MAX;
// Forward seeks inflate and drop this much at a time.
constexpr std::size_t kSkipPiece = 4096;

}  // namespace

TDecompressStream::TDecompressStream(TStream32& source, int windowBits, TTraditionalCipher* cipher)
    : source_(source),
      cipher_(cipher),
      sourcePosition_(source.Position()),
      input_(std::make_unique_for_overwrite<std::uint8_t[]>(kInputBufferSize)) {
  z_.next_in = input_.get();
  initResult_ = inflateInit2(&z_, windowBits);
  // A failure that zlib reports as Z_OK-or-above would let reads go on; keep it negative.
  if (initResult_ > Z_OK) initResult_ = Z_STREAM_ERROR;
}

TDecompressStream::~TDecompressStream() {
  // Give back what was read ahead, so that the source stands just after the compressed bytes
  // the inflater used.
  if (z_.avail_in != 0) source_.Seek(sourcePosition_ - z_.avail_in, soFromBeginning);
  if (initResult_ == Z_OK) inflateEnd(&z_);
}

void TDecompressStream::Refill(std::size_t want) {
  const std::size_t got = source_.Read(input_.get(), std::min(want, kInputBufferSize));
  sourcePosition_ = source_.Position();
  z_.next_in = input_.get();
  z_.avail_in = static_cast<uInt>(got);
  if (got == 0) return;
  if (cipher_ != nullptr) cipher_->DecodeBuffer(input_.get(), got);
  DoProgress();
}

std::int32_t TDecompressStream::ReadInflated(void* buffer, std::size_t count) {
  if (initResult_ != Z_OK) return initResult_;
  if (endOfData_) return 0;
  count = std::min(count, kMaxRequest);

  // Someone else may have used the source since our last read from it.
  if (source_.Position() != sourcePosition_) source_.Seek(sourcePosition_, soFromBeginning);

  z_.next_out = static_cast<Bytef*>(buffer);
  z_.avail_out = static_cast<uInt>(count);
  while (z_.avail_out != 0) {
    if (z_.avail_in == 0) Refill(count);
    const uInt roomBefore = z_.avail_out;
    int result = inflate(&z_, Z_NO_FLUSH);
    totalOut_ += roomBefore - z_.avail_out;
    if (result == Z_STREAM_END) {
      endOfData_ = true;
      break;
    }
    // A raw stream never asks for a dictionary; a wrapped one that does cannot be read here,
    // and asking again would make no progress.
    if (result == Z_NEED_DICT) result = Z_DATA_ERROR;
    // Z_BUF_ERROR: no input left at the source and nothing more could be inflated.
    if (result < 0) return result;
  }
  return static_cast<std::int32_t>(count - z_.avail_out);
}

std::size_t TDecompressStream::Read(void* buffer, std::size_t count) {
  const std::int32_t result = ReadInflated(buffer, count);
  return result < 0 ? 0 : static_cast<std::size_t>(result);
}

// Nothing is ever written; 0 is the only refusal a size_t can carry.
std::size_t TDecompressStream::Write(const void*, std::size_t) {
  return 0;
}

void TDecompressStream::SetSize(std::int64_t) {
  throw EStreamError("Cannot set the size of a decompression stream");
}

std::int64_t TDecompressStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  if (offset == 0 && origin == soFromBeginning) {
    // Start over from the beginning of the source.
    if (initResult_ == Z_OK) inflateReset(&z_);
    z_.next_in = input_.get();
    z_.avail_in = 0;
    source_.Seek(0, soFromBeginning);
    sourcePosition_ = 0;
    totalOut_ = 0;
    endOfData_ = false;
    return 0;
  }
  std::int64_t skip = 0;
  if (origin == soFromCurrent && offset >= 0) skip = offset;
  if (origin == soFromBeginning && offset > totalOut_) skip = offset - totalOut_;
  if (skip > 0) {
    std::uint8_t piece[kSkipPiece];
    while (skip > 0) {
      const std::size_t n = static_cast<std::size_t>(std::min<std::int64_t>(skip, kSkipPiece));
      ReadBuffer(piece, n);
      skip -= static_cast<std::int64_t>(n);
    }
  }
  return totalOut_;
}

}  // namespace quern
