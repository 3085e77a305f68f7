#include "common/lh1_encoder.h"

#include <algorithm>
#include <stdexcept>
#include <tuple>
#include <utility>

namespace quern::test {

namespace {

constexpr unsigned kWindow = 4096;
constexpr unsigned kSpaces = 4036;  // the spaces that stand before the first byte
constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 60;

// The prefix codes of the upper 6 bits of a position: canonical codes of these lengths, in order
// of the upper bits.
struct PositionCodes {
  std::array<unsigned, 64> code{};
  std::array<unsigned, 64> length{};
};

PositionCodes MakePositionCodes() {
  PositionCodes p;
  unsigned upper = 0;
  unsigned code = 0;
  unsigned previous = 3;
  for (const auto& [length, count] :
       {std::pair{3u, 1u}, {4u, 3u}, {5u, 8u}, {6u, 12u}, {7u, 24u}, {8u, 16u}}) {
    code <<= length - previous;
    previous = length;
    for (unsigned i = 0; i < count; ++i, ++upper, ++code) {
      p.code[upper] = code;
      p.length[upper] = length;
    }
  }
  return p;
}

const PositionCodes kPositions = MakePositionCodes();

}  // namespace

Lh1Writer::Lh1Writer() {
  for (unsigned s = 0; s < kLeaves; ++s) {
    weight_[s] = 1;
    son_[s] = kNodes + s;
    up_[kNodes + s] = s;
  }
  for (unsigned node = kLeaves, first = 0; node < kNodes; ++node, first += 2) {
    weight_[node] = weight_[first] + weight_[first + 1];
    son_[node] = first;
    up_[first] = up_[first + 1] = node;
  }
  weight_[kNodes] = ~0u;
  up_[kRoot] = 0;
}

void Lh1Writer::PutBits(std::uint64_t value, unsigned count) {
  for (unsigned i = count; i-- > 0;) {
    pending_ = pending_ << 1 | ((value >> i) & 1);
    if (++pendingCount_ == 8) {
      out_.push_back(static_cast<std::uint8_t>(pending_));
      pending_ = 0;
      pendingCount_ = 0;
    }
  }
}

void Lh1Writer::PutSymbol(unsigned symbol) {
  // The path from the root to the leaf: a node at an odd index is the second child.
  std::uint64_t path = 0;
  unsigned depth = 0;
  for (unsigned node = up_[kNodes + symbol]; node != kRoot; node = up_[node], ++depth)
    path |= std::uint64_t{node & 1} << depth;
  if (depth > 63) throw std::logic_error("tree too deep");
  PutBits(path, depth);
  Bump(symbol);
  ++symbols_;
}

void Lh1Writer::Halve() {
  std::vector<std::pair<unsigned, unsigned>> leaves;  // weight, son
  for (unsigned node = 0; node < kNodes; ++node)
    if (son_[node] >= kNodes) leaves.emplace_back((weight_[node] + 1) / 2, son_[node]);
  for (unsigned i = 0; i < kLeaves; ++i)
    std::tie(weight_[i], son_[i]) = leaves[i];
  for (unsigned node = kLeaves, first = 0; node < kNodes; ++node, first += 2) {
    const unsigned w = weight_[first] + weight_[first + 1];
    unsigned at = node;
    for (; weight_[at - 1] > w; --at) {
      weight_[at] = weight_[at - 1];
      son_[at] = son_[at - 1];
    }
    weight_[at] = w;
    son_[at] = first;
  }
  for (unsigned node = 0; node < kNodes; ++node) {
    up_[son_[node]] = node;
    if (son_[node] < kNodes) up_[son_[node] + 1] = node;
  }
}

void Lh1Writer::Bump(unsigned symbol) {
  if (weight_[kRoot] == 0x8000) Halve();
  // From the leaf up to the root (the only node whose parent is 0; the leaf may sit at 0).
  unsigned node = up_[kNodes + symbol];
  do {
    const unsigned w = ++weight_[node];
    if (w > weight_[node + 1]) {
      unsigned last = node + 1;
      while (weight_[last + 1] < w)
        ++last;
      // Exchange the subtrees at `node` and `last`.
      weight_[node] = weight_[last];
      weight_[last] = w;
      const unsigned a = son_[node];
      const unsigned b = son_[last];
      son_[node] = b;
      son_[last] = a;
      up_[a] = last;
      if (a < kNodes) up_[a + 1] = last;
      up_[b] = node;
      if (b < kNodes) up_[b + 1] = node;
      node = last;
    }
    node = up_[node];
  } while (node != 0);
}

void Lh1Writer::Literal(std::uint8_t byte) {
  PutSymbol(byte);
}

void Lh1Writer::Match(unsigned length, unsigned distance) {
  if (length < kMinMatch || length > kMaxMatch || distance < 1 || distance > kWindow)
    throw std::invalid_argument("match out of range");
  PutSymbol(256 + length - kMinMatch);
  const unsigned position = distance - 1;
  PutBits(kPositions.code[position >> 6], kPositions.length[position >> 6]);
  PutBits(position & 63, 6);
}

Bytes Lh1Writer::Finish() {
  if (pendingCount_ > 0) PutBits(0, 8 - pendingCount_);
  return std::move(out_);
}

Bytes EncodeLh1(const Bytes& data, unsigned chain, std::size_t* symbols) {
  // The history: the spaces, then the data; positions index into it.
  Bytes text(kSpaces + data.size(), ' ');
  std::copy(data.begin(), data.end(), text.begin() + kSpaces);
  constexpr unsigned kHashBits = 15;
  std::vector<std::int64_t> head(1u << kHashBits, -1);
  std::vector<std::int64_t> previous(kWindow, -1);
  auto hash = [&text](std::size_t at) {
    return ((text[at] << 10) ^ (text[at + 1] << 5) ^ text[at + 2]) & ((1u << kHashBits) - 1);
  };
  auto insert = [&](std::size_t at) {
    if (at + kMinMatch > text.size()) return;
    const unsigned h = hash(at);
    previous[at % kWindow] = head[h];
    head[h] = static_cast<std::int64_t>(at);
  };
  for (std::size_t at = 0; at < kSpaces; ++at)
    insert(at);

  Lh1Writer w;
  for (std::size_t at = kSpaces; at < text.size();) {
    unsigned bestLength = 0;
    std::size_t bestFrom = 0;
    const std::size_t limit = std::min<std::size_t>(kMaxMatch, text.size() - at);
    if (limit >= kMinMatch) {
      std::int64_t candidate = head[hash(at)];
      for (unsigned tries = 0; candidate >= 0 && tries < chain; ++tries) {
        const auto from = static_cast<std::size_t>(candidate);
        if (at - from > kWindow) break;
        unsigned n = 0;
        while (n < limit && text[from + n] == text[at + n])
          ++n;
        if (n > bestLength) {
          bestLength = n;
          bestFrom = from;
          if (n == limit) break;
        }
        const std::int64_t next = previous[from % kWindow];
        if (next >= candidate) break;  // the ring has moved on past this chain
        candidate = next;
      }
    }
    if (bestLength >= kMinMatch) {
      w.Match(bestLength, static_cast<unsigned>(at - bestFrom));
      for (unsigned i = 0; i < bestLength; ++i)
        insert(at + i);
      at += bestLength;
    } else {
      w.Literal(text[at]);
      insert(at);
      ++at;
    }
  }
  if (symbols != nullptr) *symbols = w.Symbols();
  return w.Finish();
}

}  // namespace quern::test
