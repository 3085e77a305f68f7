// The engine's own file streams. Unlike a toolkit stream, constructing a TFileStream32 never
// throws: a file that cannot be opened leaves the invalid handle -1, and every caller tests the
// handle before going on and reports its own error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace quern {

// Raised by the exact-transfer operations ReadBuffer and WriteBuffer on a short transfer.
class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum TSeekOrigin : std::uint16_t { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream32 {
 public:
  virtual ~TStream32() = default;

  virtual void SetSize(std::int64_t newSize) = 0;
  // Reads up to count bytes; the number read, 0 at the end and on failure.
  virtual std::size_t Read(void* buffer, std::size_t count) = 0;
  // Writes count bytes; the number written, 0 on failure.
  virtual std::size_t Write(const void* buffer, std::size_t count) = 0;
  // Moves the position; the new position, or -1 when the system refuses.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;

  std::int64_t Position() { return Seek(0, soFromCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soFromBeginning); }
  std::int64_t Size();
  void ReadBuffer(void* buffer, std::size_t count);
  void WriteBuffer(const void* buffer, std::size_t count);

  // Fired by streams that refill an input buffer (the inflating stream), after each refill.
  std::function<void(TStream32* Sender)> OnProgress;
  void DoProgress() {
    if (OnProgress) OnProgress(this);
  }
};

// A stream over a handle its creator owns; destruction does not close it.
class THandleStream32 : public TStream32 {
 public:
  explicit THandleStream32(platform::Handle handle) : handle_(handle) {}
  ~THandleStream32() override { handle_ = platform::kInvalidHandle; }
  THandleStream32(const THandleStream32&) = delete;
  THandleStream32& operator=(const THandleStream32&) = delete;

  platform::Handle Handle() const { return handle_; }
  bool Valid() const { return handle_ >= 0; }

  void SetSize(std::int64_t newSize) override;
  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;

 protected:
  platform::Handle handle_;
};

// Open modes: the low two bits give the access (0 read, 1 write, 2 read and write, 3 none),
// bits 4 to 7 what others may do (0x00/0x10 nothing, 0x20 read, 0x30 write, 0x40 both).
inline constexpr std::uint16_t fmCreate = 0xFFFF;
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;

// A stream that opens (or, with fmCreate, creates) a file by name and closes it on destruction.
class TFileStream32 : public THandleStream32 {
 public:
  TFileStream32(std::string_view fileName, std::uint16_t mode);
  ~TFileStream32() override;

  // Closes the handle now; false when the system reported a failure.
  bool Close();
};

}  // namespace quern
