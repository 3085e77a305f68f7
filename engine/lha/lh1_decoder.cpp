#include "engine/lha/lh1_decoder.h"

#include <algorithm>
#include <cstring>

namespace quern {

namespace {

constexpr unsigned kLiterals = 256;  // symbols below this are bytes
constexpr unsigned kMinMatch = 3;    // symbol kLiterals stands for a match this long
constexpr unsigned kMaxMatch = 60;
constexpr unsigned kLowPositionBits = 6;  // plain bits after the prefix code of a position

// The position prefix code, looked up by the first 8 bits of a position. A code of `length`
// bits covers 2^(8 - length) first bytes; the codes of each length stand for consecutive upper
// bits:
//
//   length   upper 6 bits   first bytes
//      3        0            0x00-0x1F
//      4        1-3          0x20-0x4F
//      5        4-11         0x50-0x8F
//      6       12-23         0x90-0xBF
//      7       24-47         0xC0-0xEF
//      8       48-63         0xF0-0xFF
struct PositionCode {
  std::array<std::uint8_t, 256> upper;   // the upper 6 bits of the position
  std::array<std::uint8_t, 256> length;  // bits of the prefix code, the first byte's included
};

constexpr PositionCode MakePositionCode() {
  constexpr unsigned kCodesOfLength[] = {0, 0, 0, 1, 3, 8, 12, 24, 16};  // by code length
  PositionCode code{};
  unsigned firstByte = 0;
  unsigned upper = 0;
  for (unsigned length = 3; length <= 8; ++length) {
    for (unsigned n = 0; n < kCodesOfLength[length]; ++n, ++upper) {
      for (unsigned k = 0; k < 1u << (8 - length); ++k, ++firstByte) {
        code.upper[firstByte] = static_cast<std::uint8_t>(upper);
        code.length[firstByte] = static_cast<std::uint8_t>(length);
      }
    }
  }
  return code;
}
constexpr PositionCode kPositionCode = MakePositionCode();
static_assert(kPositionCode.upper[0x1F] == 0 && kPositionCode.length[0x1F] == 3);
static_assert(kPositionCode.upper[0x20] == 1 && kPositionCode.upper[0x4F] == 3);
static_assert(kPositionCode.upper[0x50] == 4 && kPositionCode.length[0x8F] == 5);
static_assert(kPositionCode.upper[0xEF] == 47 && kPositionCode.length[0xEF] == 7);
static_assert(kPositionCode.upper[0xFF] == 63 && kPositionCode.length[0xFF] == 8);

}  // namespace

TLh1Decoder::TLh1Decoder() : buffer_(kWindow + kBlockSize + kSlack) {}

void TLh1Decoder::StartTree() {
  for (unsigned s = 0; s < kSymbols; ++s) {
    freq_[s] = 1;
    child_[s] = static_cast<std::uint16_t>(kNodes + s);
    parent_[kNodes + s] = static_cast<std::uint16_t>(s);
  }
  for (unsigned i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
    freq_[j] = static_cast<std::uint16_t>(freq_[i] + freq_[i + 1]);
    child_[j] = static_cast<std::uint16_t>(i);
    parent_[i] = parent_[i + 1] = static_cast<std::uint16_t>(j);
  }
  freq_[kNodes] = 0xFFFF;
  parent_[kRoot] = 0;
}

void TLh1Decoder::Rebuild() {
  // The leaves, in their order, with halved weights.
  unsigned next = 0;
  for (unsigned i = 0; i < kNodes; ++i) {
    if (child_[i] >= kNodes) {
      freq_[next] = static_cast<std::uint16_t>((freq_[i] + 1) / 2);
      child_[next] = child_[i];
      ++next;
    }
  }
  // Each pair of nodes gets its parent, slotted in where its weight keeps the order.
  for (unsigned i = 0, j = kSymbols; j < kNodes; i += 2, ++j) {
    const auto f = static_cast<std::uint16_t>(freq_[i] + freq_[i + 1]);
    unsigned k = j;
    while (freq_[k - 1] > f)
      --k;
    std::memmove(&freq_[k + 1], &freq_[k], (j - k) * sizeof freq_[0]);
    std::memmove(&child_[k + 1], &child_[k], (j - k) * sizeof child_[0]);
    freq_[k] = f;
    child_[k] = static_cast<std::uint16_t>(i);
  }
  for (unsigned i = 0; i < kNodes; ++i) {
    const unsigned k = child_[i];
    parent_[k] = static_cast<std::uint16_t>(i);
    if (k < kNodes) parent_[k + 1] = static_cast<std::uint16_t>(i);
  }
}

inline void TLh1Decoder::Update(unsigned symbol) {
  if (freq_[kRoot] == kRebuildAt) Rebuild();
  unsigned c = parent_[kNodes + symbol];
  do {
    const unsigned k = ++freq_[c];
    if (k > freq_[c + 1]) {
      // The node swaps places with the last one still lighter than it now is, so that weights
      // keep rising with the index; the two subtrees swap their parents with it.
      unsigned l = c + 1;
      while (k > freq_[l + 1])
        ++l;
      freq_[c] = freq_[l];
      freq_[l] = static_cast<std::uint16_t>(k);
      const unsigned i = child_[c];
      parent_[i] = static_cast<std::uint16_t>(l);
      if (i < kNodes) parent_[i + 1] = static_cast<std::uint16_t>(l);
      const unsigned j = child_[l];
      child_[l] = static_cast<std::uint16_t>(i);
      parent_[j] = static_cast<std::uint16_t>(c);
      if (j < kNodes) parent_[j + 1] = static_cast<std::uint16_t>(c);
      child_[c] = static_cast<std::uint16_t>(j);
      c = l;
    }
    c = parent_[c];
  } while (c != 0);
}

inline unsigned TLh1Decoder::DecodeSymbol() {
  unsigned c = child_[kRoot];
  // Down the tree a bit at a time, taking up to 16 bits from the reader at once: rarely used
  // symbols sit deeper than 16.
  while (c < kNodes) {
    std::uint32_t bits = in_.Bits() << 16;
    unsigned used = 0;
    do {
      c = child_[c + (bits >> 31)];
      bits <<= 1;
      ++used;
    } while (c < kNodes && used < 16);
    in_.Fill(used);
  }
  const unsigned symbol = c - kNodes;
  Update(symbol);
  return symbol;
}

inline unsigned TLh1Decoder::DecodePosition() {
  const std::uint32_t bits = in_.Bits();
  const unsigned first = bits >> 8;
  const unsigned length = kPositionCode.length[first];
  // The prefix code and the plain bits together are the top length + 6 bits.
  const unsigned total = length + kLowPositionBits;
  const unsigned low = (bits >> (16 - total)) & ((1u << kLowPositionBits) - 1);
  in_.Fill(total);
  return static_cast<unsigned>(kPositionCode.upper[first]) << kLowPositionBits | low;
}

void TLh1Decoder::Decode(TDecoderIo& io, std::int64_t unpackedSize) {
  if (unpackedSize <= 0) return;
  in_.Start(io, kBlockSize);
  StartTree();
  // The window starts as 4036 spaces before the first byte; the 60 bytes before those, which a
  // match could reach only in a stream no packer writes, read as zeros.
  std::uint8_t* const buffer = buffer_.data();
  std::memset(buffer, 0, kMaxMatch);
  std::memset(buffer + kMaxMatch, ' ', kWindow - kMaxMatch);
  std::size_t pos = kWindow;
  auto left = static_cast<std::uint64_t>(unpackedSize);

  while (left > 0 && !in_.PastEnd()) {
    const unsigned c = DecodeSymbol();
    if (c < kLiterals) {
      buffer[pos++] = static_cast<std::uint8_t>(c);
      --left;
    } else {
      const std::size_t distance = DecodePosition() + 1u;  // 1 to 4096: never before buffer[0]
      std::size_t length = c - kLiterals + kMinMatch;
      if (length > left) length = static_cast<std::size_t>(left);
      left -= length;
      std::uint8_t* to = buffer + pos;
      const std::uint8_t* from = to - distance;
      pos += length;
      if (distance == 1) {
        std::memset(to, *from, length);  // a run of the last byte
      } else if (distance >= 8) {
        // Eight bytes at a time, none of them read after being written; the slack behind the
        // block takes what the last step writes past the match.
        for (std::size_t n = 0; n < length; n += 8)
          std::memcpy(to + n, from + n, 8);
      } else {
        while (length-- > 0)
          *to++ = *from++;
      }
    }
    if (pos >= kWindow + kBlockSize) {
      io.WriteDecoded(buffer + kWindow, kBlockSize);
      // What runs past the block moves down with the history it needs.
      std::memmove(buffer, buffer + kBlockSize, pos - kBlockSize);
      pos -= kBlockSize;
    }
  }
  if (pos > kWindow) io.WriteDecoded(buffer + kWindow, pos - kWindow);
}

}  // namespace quern
