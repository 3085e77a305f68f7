#include "engine/support/streams.h"

namespace quern {

std::int64_t TStream32::Size() {
  const std::int64_t position = Seek(0, soFromCurrent);
  const std::int64_t size = Seek(0, soFromEnd);
  Seek(position, soFromBeginning);
  return size;
}

void TStream32::ReadBuffer(void* buffer, std::size_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EStreamError("Stream read error");
}

void TStream32::WriteBuffer(const void* buffer, std::size_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EStreamError("Stream write error");
}

void THandleStream32::SetSize(std::int64_t newSize) {
  Seek(newSize, soFromBeginning);
  if (!platform::SetEndOfFile(handle_)) throw EStreamError("Cannot set the file size");
}

std::size_t THandleStream32::Read(void* buffer, std::size_t count) {
  return platform::ReadFile(handle_, buffer, count);
}

std::size_t THandleStream32::Write(const void* buffer, std::size_t count) {
  return platform::WriteFile(handle_, buffer, count);
}

std::int64_t THandleStream32::Seek(std::int64_t offset, TSeekOrigin origin) {
  return platform::SeekFile(handle_, offset, static_cast<platform::Origin>(origin & 0x7F));
}

namespace {

platform::Handle OpenByMode(std::string_view fileName, std::uint16_t mode) {
  if (mode == fmCreate) return platform::CreateFile(fileName);

  platform::Access access;
  switch (mode & 0x3) {
    case 0:
      access = platform::Access::Read;
      break;
    case 1:
      access = platform::Access::Write;
      break;
    case 2:
      access = platform::Access::ReadWrite;
      break;
    default:
      return platform::kInvalidHandle;
  }
  platform::Share share;
  switch (mode & 0xF0) {
    case 0x20:
      share = platform::Share::Read;
      break;
    case 0x30:
      share = platform::Share::Write;
      break;
    case 0x40:
      share = platform::Share::ReadWrite;
      break;
    default:
      share = platform::Share::None;
      break;
  }
  return platform::OpenFile(fileName, access, share);
}

}  // namespace

TFileStream32::TFileStream32(std::string_view fileName, std::uint16_t mode)
    : THandleStream32(OpenByMode(fileName, mode)) {}

TFileStream32::~TFileStream32() {
  Close();
}

bool TFileStream32::Close() {
  if (handle_ < 0) return true;
  const bool closed = platform::CloseFile(handle_);
  handle_ = platform::kInvalidHandle;
  return closed;
}

}  // namespace quern
