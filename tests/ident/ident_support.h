// What the identification suites share: byte helpers, an in-memory stream that counts what is
// read from it, and writers of ZIP records and program-file headers.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/bh_writer.h"
#include "engine/support/streams.h"

namespace quern::test {

Bytes Text(std::string_view s);
// `file` with `what` written at `at`, grown with zeros as needed.
Bytes Put(Bytes file, std::size_t at, const Bytes& what);
Bytes Resized(Bytes b, std::size_t size);
Bytes Concat(Bytes a, const Bytes& b);

// A read-only stream over bytes that keeps count of what was read from it.
class MemoryStream : public TStream32 {
 public:
  explicit MemoryStream(Bytes bytes) : bytes_(std::move(bytes)) {}

  void SetSize(std::int64_t) override {}
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

  std::int64_t BytesRead() const { return bytesRead_; }
  std::size_t LargestRead() const { return largestRead_; }

 private:
  Bytes bytes_;
  std::int64_t position_ = 0;
  std::int64_t bytesRead_ = 0;
  std::size_t largestRead_ = 0;
};

// Enciphers the bytes of a variant record after its signature, as such records are stored.
void ScrambleRecord(std::span<std::uint8_t> afterSignature);

// A program file: the 64-byte header whose page count and last-page bytes give the image length,
// zeros up to `size`.
Bytes Program(std::uint16_t pages, std::uint16_t lastPageBytes, std::size_t size);
inline constexpr std::uint16_t kPastEnd = 0xFFFF;  // an image end far beyond any test file

// A one-entry ZIP archive ("a.txt", stored "hello") written record by record, with the variants
// the directory locator knows.
struct ZipSpec {
  std::size_t prefix = 0;     // bytes of other data first; the recorded offsets ignore them
  char headerVariant = 'K';   // second signature byte of the local and central header: K L M N
  bool scrambledEnd = false;  // "PL" 05 06, or "P\" 05 06 when wide
  bool wideEnd = false;       // "P[" 05 06 with a 64-bit directory position
  std::optional<std::uint64_t> widePosition =
      std::nullopt;        // default: the recorded directory offset
  bool zip64 = false;      // ZIP64 end record and locator before the end record
  bool noCentral = false;  // other bytes where the central directory should be
  std::uint16_t disk = 0;  // number of this disk in the end record
};

struct BuiltZip {
  Bytes bytes;
  std::int64_t localAt = 0;  // file positions
  std::int64_t centralAt = 0;
  std::int64_t endAt = 0;
};
BuiltZip BuildZip(const ZipSpec& spec);

}  // namespace quern::test
