// A read-only stream over the fuzz input, for targets that read through TStream32. Seeking past
// the end is allowed, as for a file; reading there gives nothing.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "engine/support/streams.h"

namespace quern::fuzz {

class MemoryStream : public TStream32 {
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
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == soFromBeginning ? 0
                              : origin == soFromCurrent ? static_cast<std::int64_t>(position_)
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

}  // namespace quern::fuzz
