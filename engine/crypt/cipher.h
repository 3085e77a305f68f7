// The traditional archive cipher: a byte-wise stream cipher over three 32-bit keys, driven by
// the CRC-32 table and keyed by the password.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace quern {

class TTraditionalCipher {
 public:
  // Sets the three keys to their initial values and feeds each byte of the password.
  void InitKeys(std::string_view password);
  void UpdateKeys(std::uint8_t plain);
  // The next key-stream byte.
  std::uint8_t DecryptByte() const;
  // Deciphers count bytes in place, in order, continuing the key state.
  void DecodeBuffer(std::uint8_t* buffer, std::size_t count);
  // Enciphers count bytes in place: the inverse of DecodeBuffer from the same key state.
  void EncodeBuffer(std::uint8_t* buffer, std::size_t count);

  // Sets the keys directly (for callers with a fixed key state of their own).
  void SetKeys(std::uint32_t k0, std::uint32_t k1, std::uint32_t k2) {
    key0_ = k0;
    key1_ = k1;
    key2_ = k2;
  }

 private:
  std::uint32_t key0_ = 0x12345678;
  std::uint32_t key1_ = 0x23456789;
  std::uint32_t key2_ = 0x34567890;
};

// Whether `password` opens an entry whose 12-byte encryption header is `rawHeader`. The last
// deciphered byte must equal the CRC's most significant byte, or, with flag bit 3 set, the high
// byte of the time. Leaves the cipher in the state after the 12 bytes. An empty password never
// opens an entry.
bool CheckEncryptionHeader(TTraditionalCipher& cipher, std::span<const std::uint8_t, 12> rawHeader,
                           std::uint8_t flags, std::uint32_t crc, std::uint32_t dosDateTime,
                           std::string_view password);

}  // namespace quern
