#include "engine/crypt/cipher.h"

#include <array>

#include "engine/support/crc.h"

namespace quern {

void TTraditionalCipher::InitKeys(std::string_view password) {
  *this = TTraditionalCipher();
  for (char c : password)
    UpdateKeys(static_cast<std::uint8_t>(c));
}

void TTraditionalCipher::UpdateKeys(std::uint8_t plain) {
  key0_ = kCrc32Table[(key0_ ^ plain) & 0xFF] ^ (key0_ >> 8);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = kCrc32Table[(key2_ ^ (key1_ >> 24)) & 0xFF] ^ (key2_ >> 8);
}

std::uint8_t TTraditionalCipher::DecryptByte() const {
  const std::uint32_t t = (key2_ & 0xFFFF) | 2;
  return static_cast<std::uint8_t>((t * (t ^ 1)) >> 8);
}

void TTraditionalCipher::DecodeBuffer(std::uint8_t* buffer, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    buffer[i] ^= DecryptByte();
    UpdateKeys(buffer[i]);
  }
}

void TTraditionalCipher::EncodeBuffer(std::uint8_t* buffer, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t plain = buffer[i];
    buffer[i] ^= DecryptByte();
    UpdateKeys(plain);
  }
}

bool CheckEncryptionHeader(TTraditionalCipher& cipher, std::span<const std::uint8_t, 12> rawHeader,
                           std::uint8_t flags, std::uint32_t crc, std::uint32_t dosDateTime,
                           std::string_view password) {
  if (password.empty()) return false;
  cipher.InitKeys(password);
  std::array<std::uint8_t, 12> trial;
  std::copy(rawHeader.begin(), rawHeader.end(), trial.begin());
  cipher.DecodeBuffer(trial.data(), trial.size());
  const std::uint8_t expected = (flags & 0x08) ? static_cast<std::uint8_t>(dosDateTime >> 8)
                                               : static_cast<std::uint8_t>(crc >> 24);
  return trial[11] == expected;
}

}  // namespace quern
