// What a decoder sees of the unpacker that runs it: a source of packed bytes and a sink for
// decoded ones. Decoders know no archive format and report nothing themselves; the unpacker's
// side of this interface deciphers, counts the packed-input limit, checksums, writes, reports
// progress and raises write errors.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quern {

class TDecoderIo {
 public:
  virtual ~TDecoderIo() = default;

  // Up to count packed bytes of the entry, deciphered where the entry is encrypted. 0 once the
  // entry's packed data are exhausted.
  virtual std::size_t ReadPacked(std::uint8_t* buffer, std::size_t count) = 0;
  // Hands on a block of decoded bytes. May throw to end the entry (a write that failed); the
  // decoder lets that pass.
  virtual void WriteDecoded(std::uint8_t* buffer, std::size_t count) = 0;
};

}  // namespace quern
