// The ZIP directory locator and identification over any bytes held in memory: a position and
// flags for every input, reads only inside the file, no crash and no hang.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/ident/identify.h"
#include "engine/ident/zip_locator.h"
#include "engine/support/streams.h"

namespace {

class MemoryStream : public quern::TStream32 {
 public:
  MemoryStream(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  void SetSize(std::int64_t) override {}
  std::size_t Read(void* buffer, std::size_t count) override {
    if (position_ >= size_) return 0;
    const std::size_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    return n;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, quern::TSeekOrigin origin) override {
    const std::int64_t base = origin == quern::soFromBeginning ? 0
                              : origin == quern::soFromCurrent
                                  ? static_cast<std::int64_t>(position_)
                                  : static_cast<std::int64_t>(size_);
    if (offset < -base) return -1;
    position_ = static_cast<std::size_t>(base + offset);
    return base + offset;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  MemoryStream stream(data, size);
  const quern::ZipLocation z = quern::LocateZipDirectory(stream, static_cast<std::int64_t>(size));
  if (z.position < -1 || z.position > static_cast<std::int64_t>(size)) std::abort();
  // The drive of a split set is looked up by this name; no such path exists.
  quern::IdentifyArchive(stream, "\\nonexistent\\fuzz.zip");
  return 0;
}
