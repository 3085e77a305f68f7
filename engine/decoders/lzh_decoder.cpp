#include "engine/decoders/lzh_decoder.h"

#include <algorithm>
#include <cstring>

namespace quern {

namespace {

// What each row makes of its two parameters. Position code p stands for a match distance of
// 2^(p-1) + (p-1 more bits) + 1, so a dictionary of 2^bits takes bits + 1 codes. The window is
// what is decoded between two hand-ons, and at least the dictionary.
//
//   row   dictionary bits   position codes   count bits   window
//   lh4         12                13              4         26624
//   lh5         13                14              4         26624
//   lh6         15                16              5         65536
//   lh7         16                17              5         65536
constexpr unsigned PositionCodes(const LzhParameters& row) {
  return row.dictionaryBits + 1u;
}
constexpr std::size_t WindowSize(const LzhParameters& row) {
  return row.dictionaryBits <= 13 ? 26624 : 65536;
}
static_assert(PositionCodes(kLzhLh4) == 13 && WindowSize(kLzhLh4) == 26624);
static_assert(PositionCodes(kLzhLh5) == 14 && WindowSize(kLzhLh5) == 26624);
static_assert(PositionCodes(kLzhLh6) == 16 && WindowSize(kLzhLh6) == 65536);
static_assert(PositionCodes(kLzhLh7) == 17 && WindowSize(kLzhLh7) == 65536);

// The same in every row.
constexpr unsigned kLiterals = 256;        // symbols below this are bytes
constexpr unsigned kMinMatch = 3;          // symbol kLiterals stands for a match this long
constexpr unsigned kMaxCodeLength = 16;    // longest code any table may hold
constexpr unsigned kBlockSizeBits = 16;    // symbols in a block
constexpr unsigned kLengthCountBits = 5;   // count of code-length alphabet lengths
constexpr unsigned kLengthZerosAfter = 3;  // where a 2-bit zero run interrupts those lengths
constexpr unsigned kSymbolCountBits = 9;   // count of symbol lengths
constexpr unsigned kNoZeroRun = 0;         // position lengths have no such interruption
// Code-length alphabet: 0 one zero length, 1 a run of 3..18 zeros, 2 a run of 20..531 zeros,
// 3..18 a length of 1..16.
constexpr unsigned kShortRunBits = 4;
constexpr unsigned kShortRunBase = 3;
constexpr unsigned kLongRunBits = 9;
constexpr unsigned kLongRunBase = 20;
constexpr unsigned kLengthBase = 2;

// Fills a direct lookup table for the next `tableBits` bits from code lengths, with the codes
// assigned in canonical order (shorter first, then by symbol). A code longer than the lookup
// continues as a tree below its table entry, with nodes numbered from `symbols` on; `nodeEnd`
// gets the end of the nodes made. A code that is not prefix-complete is refused (false). A code
// without a single length makes a table whose every entry is a missing node, so that only using
// it fails.
bool BuildTable(unsigned symbols, const std::uint8_t* lengths, unsigned tableBits,
                std::uint16_t* table, std::uint16_t* left, std::uint16_t* right, unsigned maxNodes,
                unsigned& nodeEnd) {
  const std::uint32_t tableSize = 1u << tableBits;
  nodeEnd = symbols;
  std::uint32_t count[kMaxCodeLength + 1] = {};
  for (unsigned i = 0; i < symbols; ++i)
    ++count[lengths[i]];
  // start[k]: the first code of length k, as the top bits of a 16-bit number.
  std::uint32_t start[kMaxCodeLength + 2];
  start[1] = 0;
  for (unsigned k = 1; k <= kMaxCodeLength; ++k)
    start[k + 1] = start[k] + (count[k] << (kMaxCodeLength - k));
  if (start[kMaxCodeLength + 1] == 0) {
    std::fill(table, table + tableSize, static_cast<std::uint16_t>(symbols));
    return true;
  }
  // Summed in 32 bits: an over-full code (four one-bit codes, say) must not pass as complete
  // the way it would in 16-bit arithmetic, and then write past the table.
  if (start[kMaxCodeLength + 1] != 1u << kMaxCodeLength) return false;

  const unsigned jut = kMaxCodeLength - tableBits;
  std::uint32_t weight[kMaxCodeLength + 1];
  for (unsigned k = 1; k <= tableBits; ++k) {
    start[k] >>= jut;
    weight[k] = 1u << (tableBits - k);
  }
  for (unsigned k = tableBits + 1; k <= kMaxCodeLength; ++k)
    weight[k] = 1u << (kMaxCodeLength - k);
  // The entries where longer codes begin are tree roots, made as codes arrive.
  std::fill(table + (start[tableBits + 1] >> jut), table + tableSize, 0);

  const std::uint32_t firstBelowTable = 1u << (jut - 1);
  for (unsigned symbol = 0; symbol < symbols; ++symbol) {
    const unsigned length = lengths[symbol];
    if (length == 0) continue;
    std::uint32_t code = start[length];
    start[length] += weight[length];
    if (length <= tableBits) {
      std::fill(table + code, table + code + weight[length], static_cast<std::uint16_t>(symbol));
      continue;
    }
    std::uint16_t* slot = &table[code >> jut];
    for (unsigned depth = length - tableBits; depth > 0; --depth) {
      if (*slot == 0) {
        if (nodeEnd >= maxNodes) return false;
        left[nodeEnd] = right[nodeEnd] = 0;
        *slot = static_cast<std::uint16_t>(nodeEnd++);
      }
      slot = (code & firstBelowTable) ? &right[*slot] : &left[*slot];
      code <<= 1;
    }
    *slot = static_cast<std::uint16_t>(symbol);
  }
  return true;
}

}  // namespace

TLzhDecoder::TLzhDecoder(const LzhParameters& parameters)
    : positionCodes_(PositionCodes(parameters)),
      positionCodeBits_(parameters.positionCodeBits),
      windowSize_(WindowSize(parameters)),
      window_(windowSize_) {}

unsigned TLzhDecoder::WalkTree(unsigned node, unsigned symbols, unsigned nodeEnd,
                               unsigned tableBits) {
  const std::uint32_t bits = in_.Bits();
  for (std::uint32_t mask = 1u << (15 - tableBits); node >= symbols; mask >>= 1) {
    if (node >= nodeEnd || mask == 0) return kNoSymbol;
    node = (bits & mask) ? right_[node] : left_[node];
  }
  return node;
}

bool TLzhDecoder::ReadSmallLengths(unsigned symbols, unsigned countBits, unsigned zerosAfter) {
  const unsigned n = in_.GetBits(countBits);
  if (n == 0) {
    const unsigned only = in_.GetBits(countBits);
    smallLengths_.fill(0);
    smallTable_.fill(static_cast<std::uint16_t>(only));
    smallNodeEnd_ = symbols;  // so that an `only` out of range is a missing node
    return true;
  }
  if (n > symbols) return false;
  unsigned i = 0;
  while (i < n) {
    // 0..6 in three bits; 7 and up as 7 followed by a one bit for each more and a zero bit.
    unsigned length = in_.Bits() >> 13;
    if (length == 7) {
      for (std::uint32_t mask = 1u << 12; mask & in_.Bits(); mask >>= 1)
        ++length;
    }
    if (length > kMaxCodeLength) return false;
    in_.Fill(length < 7 ? 3 : length - 3);
    smallLengths_[i++] = static_cast<std::uint8_t>(length);
    if (i == zerosAfter) {
      const unsigned zeros = in_.GetBits(2);
      if (i + zeros > symbols) return false;
      std::fill_n(smallLengths_.begin() + i, zeros, 0);
      i += zeros;
    }
  }
  std::fill(smallLengths_.begin() + i, smallLengths_.end(), 0);
  return BuildTable(symbols, smallLengths_.data(), kSmallTableBits, smallTable_.data(),
                    left_.data(), right_.data(), 2 * symbols, smallNodeEnd_);
}

bool TLzhDecoder::ReadSymbolLengths() {
  const unsigned n = in_.GetBits(kSymbolCountBits);
  if (n == 0) {
    const unsigned only = in_.GetBits(kSymbolCountBits);
    symbolLengths_.fill(0);
    symbolTable_.fill(static_cast<std::uint16_t>(only));
    symbolNodeEnd_ = kSymbols;  // so that an `only` out of range is a missing node
    return true;
  }
  if (n > kSymbols) return false;
  unsigned i = 0;
  while (i < n) {
    unsigned s = smallTable_[in_.Bits() >> (16 - kSmallTableBits)];
    if (s >= kLengthSymbols) {
      s = WalkTree(s, kLengthSymbols, smallNodeEnd_, kSmallTableBits);
      if (s == kNoSymbol) return false;
    }
    in_.Fill(smallLengths_[s]);
    if (s >= kLengthBase + 1) {
      symbolLengths_[i++] = static_cast<std::uint8_t>(s - kLengthBase);
      continue;
    }
    const unsigned zeros = s == 0   ? 1
                           : s == 1 ? in_.GetBits(kShortRunBits) + kShortRunBase
                                    : in_.GetBits(kLongRunBits) + kLongRunBase;
    if (i + zeros > kSymbols) return false;
    std::fill_n(symbolLengths_.begin() + i, zeros, 0);
    i += zeros;
  }
  std::fill(symbolLengths_.begin() + i, symbolLengths_.end(), 0);
  return BuildTable(kSymbols, symbolLengths_.data(), kSymbolTableBits, symbolTable_.data(),
                    left_.data(), right_.data(), 2 * kSymbols, symbolNodeEnd_);
}

bool TLzhDecoder::StartBlock() {
  blockLeft_ = in_.GetBits(kBlockSizeBits);
  return blockLeft_ != 0 && ReadSmallLengths(kLengthSymbols, kLengthCountBits, kLengthZerosAfter) &&
         ReadSymbolLengths() && ReadSmallLengths(positionCodes_, positionCodeBits_, kNoZeroRun);
}

inline unsigned TLzhDecoder::DecodeSymbol() {
  unsigned c = symbolTable_[in_.Bits() >> (16 - kSymbolTableBits)];
  if (c >= kSymbols) {
    c = WalkTree(c, kSymbols, symbolNodeEnd_, kSymbolTableBits);
    if (c == kNoSymbol) return kNoSymbol;
  }
  in_.Fill(symbolLengths_[c]);
  return c;
}

inline unsigned TLzhDecoder::DecodePosition() {
  unsigned p = smallTable_[in_.Bits() >> (16 - kSmallTableBits)];
  if (p >= positionCodes_) {
    p = WalkTree(p, positionCodes_, smallNodeEnd_, kSmallTableBits);
    if (p == kNoSymbol) return kNoSymbol;
  }
  in_.Fill(smallLengths_[p]);
  if (p == 0) return 0;
  return (1u << (p - 1)) + in_.GetBits(p - 1);
}

void TLzhDecoder::Decode(TDecoderIo& io, std::int64_t unpackedSize) {
  if (unpackedSize <= 0) return;
  in_.Start(io, windowSize_);
  blockLeft_ = 0;
  // Matches that reach back before the entry's first byte, which no packer makes, read zeros.
  std::fill(window_.begin(), window_.end(), 0);
  std::uint8_t* const window = window_.data();
  const std::size_t windowSize = windowSize_;
  std::size_t pos = 0;
  auto left = static_cast<std::uint64_t>(unpackedSize);

  while (left > 0) {
    if (in_.PastEnd()) break;
    if (blockLeft_ == 0 && !StartBlock()) break;
    --blockLeft_;
    const unsigned c = DecodeSymbol();
    if (c < kLiterals) {
      window[pos++] = static_cast<std::uint8_t>(c);
      --left;
      if (pos == windowSize) {
        io.WriteDecoded(window, pos);
        pos = 0;
      }
      continue;
    }
    if (c == kNoSymbol) break;
    const unsigned position = DecodePosition();
    if (position == kNoSymbol) break;
    std::size_t length = c - kLiterals + kMinMatch;
    if (length > left) length = static_cast<std::size_t>(left);
    left -= length;
    const std::size_t distance = position + 1;  // at most the window size
    std::size_t from = pos >= distance ? pos - distance : pos + windowSize - distance;
    if (from + length <= windowSize && pos + length <= windowSize) {
      std::uint8_t* to = window + pos;
      const std::uint8_t* source = window + from;
      const std::size_t gap = from > pos ? from - pos : pos - from;
      pos += length;
      if (distance == 1) {
        std::memset(to, *source, length);  // a run of the last byte
        length = 0;
      } else if (gap >= 8) {
        // Eight bytes at a time, each step reading none of what it writes: as byte by byte.
        for (; length >= 8; length -= 8, to += 8, source += 8)
          std::memcpy(to, source, 8);
      }
      while (length-- > 0)
        *to++ = *source++;
      if (pos == windowSize) {
        io.WriteDecoded(window, pos);
        pos = 0;
      }
      continue;
    }
    while (length-- > 0) {
      window[pos++] = window[from++];
      if (from == windowSize) from = 0;
      if (pos == windowSize) {
        io.WriteDecoded(window, pos);
        pos = 0;
      }
    }
  }
  if (pos > 0) io.WriteDecoded(window, pos);
}

}  // namespace quern
