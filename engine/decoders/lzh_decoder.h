// The LZH static-Huffman decoder: LZSS with Huffman-coded blocks, one algorithm for every
// dictionary size (BH methods 1 and 3, LHA -lh4- to -lh7-).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/decoders/bit_reader.h"
#include "engine/decoders/decoder_io.h"

namespace quern {

// One row per coding; the decoder is the same for all.
struct LzhParameters {
  std::uint8_t dictionaryBits;    // 12, 13, 15 or 16
  std::uint8_t positionCodeBits;  // 4 or 5: count width of the position-code length table
};

inline constexpr LzhParameters kLzhLh4{12, 4};
inline constexpr LzhParameters kLzhLh5{13, 4};  // also BH method 1
inline constexpr LzhParameters kLzhLh6{15, 5};  // also BH method 3
inline constexpr LzhParameters kLzhLh7{16, 5};

class TLzhDecoder {
 public:
  explicit TLzhDecoder(const LzhParameters& parameters);

  // Decodes one entry of `unpackedSize` bytes, pulling packed bytes from `io` and pushing
  // decoded ones to it, a window at a time. Never produces more than `unpackedSize` bytes;
  // stops early, without a report, on a corrupt block or when the packed input runs out (the
  // caller's CRC check then fails). Exceptions from `io` pass through.
  void Decode(TDecoderIo& io, std::int64_t unpackedSize);

 private:
  static constexpr std::size_t kSymbols = 510;          // literals 0..255, match lengths 3..256
  static constexpr std::size_t kLengthSymbols = 19;     // codes of the symbol code lengths
  static constexpr std::size_t kMaxPositionCodes = 17;  // with a 16-bit dictionary
  static constexpr unsigned kSymbolTableBits = 12;      // direct lookup width, symbols
  static constexpr unsigned kSmallTableBits = 8;        // direct lookup width, the others
  static constexpr unsigned kNoSymbol = ~0u;  // a code not in its table; above every position
  static_assert(kMaxPositionCodes <= kLengthSymbols, "positions reuse the code-length tables");

  // Reads a block's header and its three code tables; false when they are corrupt.
  bool StartBlock();
  // Code lengths of the code-length alphabet or of the positions into smallLengths_ and
  // smallTable_. After `zerosAfter` lengths (0: never) a 2-bit count of zero lengths follows.
  bool ReadSmallLengths(unsigned symbols, unsigned countBits, unsigned zerosAfter);
  // Code lengths of the literals and match lengths, coded with the code-length alphabet.
  bool ReadSymbolLengths();
  // Decodes the next literal or match length; kNoSymbol when the code is not in the table.
  unsigned DecodeSymbol();
  // Decodes the next match distance minus one; kNoSymbol when the code is not in the table.
  unsigned DecodePosition();
  // The symbol of a code longer than the direct lookup, found down the tree from `node`.
  unsigned WalkTree(unsigned node, unsigned symbols, unsigned nodeEnd, unsigned tableBits);

  unsigned positionCodes_;            // position codes: dictionary bits + 1
  unsigned positionCodeBits_;         // width of the position-code count in a block header
  std::size_t windowSize_;            // decoded bytes kept for matches, handed on when full
  TBitReader in_;                     // the packed bits
  std::vector<std::uint8_t> window_;  // the last windowSize_ decoded bytes, circular
  std::uint32_t blockLeft_ = 0;       // symbols still to decode in the current block
  std::array<std::uint8_t, kSymbols> symbolLengths_{};  // code length of each symbol, 0: unused
  std::array<std::uint16_t, 1 << kSymbolTableBits> symbolTable_{};  // next 12 bits -> symbol,
                                                                    // or tree node when longer
  unsigned symbolNodeEnd_ = kSymbols;  // tree nodes of the symbol code: kSymbols up to this
  std::array<std::uint8_t, kLengthSymbols> smallLengths_{};       // code lengths of the code-length
                                                                  // alphabet, then of the positions
  std::array<std::uint16_t, 1 << kSmallTableBits> smallTable_{};  // next 8 bits -> code-length
                                                                  // symbol or position code
  unsigned smallNodeEnd_ = 0;  // tree nodes of the code in smallTable_: its size up to this
  std::array<std::uint16_t, 2 * kSymbols> left_{};   // tree nodes: the child for a 0 bit
  std::array<std::uint16_t, 2 * kSymbols> right_{};  // tree nodes: the child for a 1 bit
};

}  // namespace quern
