// The -lh1- decoder: LZSS over a 4 KiB window with matches of 3 to 60 bytes. Literals and match
// lengths share one adaptive Huffman code whose tree is updated after every symbol; a match
// position is a fixed prefix code for its upper 6 bits followed by 6 plain bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "engine/decoders/bit_reader.h"
#include "engine/decoders/decoder_io.h"

namespace quern {

class TLh1Decoder {
 public:
  TLh1Decoder();

  // Decodes one entry of `unpackedSize` bytes, pulling packed bytes from `io` and pushing decoded
  // ones to it in blocks of 32768 bytes (the last one shorter). Never produces more than
  // `unpackedSize` bytes; stops early, without a report, when the packed input runs out (the
  // caller's CRC check then fails). Any bytes decode to something: the tree walk always ends at
  // a symbol and positions stay inside the window. Exceptions from `io` pass through.
  void Decode(TDecoderIo& io, std::int64_t unpackedSize);

  static constexpr std::size_t kBlockSize = 32768;  // decoded bytes handed on at once

 private:
  static constexpr unsigned kSymbols = 314;             // 256 literals, then lengths 3 to 60
  static constexpr unsigned kNodes = 2 * kSymbols - 1;  // leaves and inner nodes of the tree
  static constexpr unsigned kRoot = kNodes - 1;
  static constexpr std::uint16_t kRebuildAt = 0x8000;  // root weight that halves every weight
  static constexpr std::size_t kWindow = 4096;
  static constexpr std::size_t kSlack = 64;  // room for a match begun just before a block ends

  // The tree every entry starts with: all symbols of weight 1, paired in order.
  void StartTree();
  // The next literal or match length, then the tree updated for it.
  unsigned DecodeSymbol();
  // The distance back to a match's first byte, minus one (0 to 4095).
  unsigned DecodePosition();
  // Adds one to the weight of a symbol, moving nodes so that weights stay in index order.
  void Update(unsigned symbol);
  // Halves every leaf weight (rounding up) and rebuilds the inner nodes from them.
  void Rebuild();

  TBitReader in_;  // the packed bits
  // Weights of the nodes, never decreasing by index; the entry past the root stops every upward
  // search.
  std::array<std::uint16_t, kNodes + 1> freq_{};
  // For an inner node the index of its first child (the second is the next index); for a leaf
  // kNodes + its symbol.
  std::array<std::uint16_t, kNodes> child_{};
  // Below kNodes the parent of each node (0 for the root); at kNodes + symbol the leaf that
  // holds the symbol.
  std::array<std::uint16_t, kNodes + kSymbols> parent_{};
  // The 4096 bytes before the block being decoded, the block, and room for the last match to run
  // past the block's end; matches copy from inside it without wrapping.
  std::vector<std::uint8_t> buffer_;
};

}  // namespace quern
