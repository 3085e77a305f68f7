// A small -lh1- encoder for tests and benchmarks: no archiver at hand writes -lh1- any more, so
// the streams are made here and checked against a peer decoder. Written apart from the engine's
// decoder on purpose: it shares no code with it.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace quern::test {

using Bytes = std::vector<std::uint8_t>;

// Writes a -lh1- stream symbol by symbol, so that a test can say exactly what it holds.
class Lh1Writer {
 public:
  Lh1Writer();

  void Literal(std::uint8_t byte);
  // `length` (3 to 60) bytes copied from `distance` (1 to 4096) bytes back. Before the first
  // byte stand 4036 spaces.
  void Match(unsigned length, unsigned distance);
  // The stream, its last byte filled up with zero bits.
  Bytes Finish();

  // How many symbols have been written.
  std::size_t Symbols() const { return symbols_; }

 private:
  static constexpr unsigned kLeaves = 314;
  static constexpr unsigned kNodes = 2 * kLeaves - 1;
  static constexpr unsigned kRoot = kNodes - 1;

  void PutSymbol(unsigned symbol);
  void PutBits(std::uint64_t value, unsigned count);
  void Bump(unsigned symbol);
  void Halve();

  std::array<unsigned, kNodes + 1> weight_{};    // ascending by index; a stop at the end
  std::array<unsigned, kNodes> son_{};           // first child, or kNodes + symbol
  std::array<unsigned, kNodes + kLeaves> up_{};  // parent; at kNodes + symbol its leaf
  Bytes out_;
  std::uint64_t pending_ = 0;  // bits not yet in out_, the oldest highest
  unsigned pendingCount_ = 0;
  std::size_t symbols_ = 0;
};

// Packs the bytes greedily, taking the longest match within the last 4096 bytes (the spaces
// before the first byte included) of at least 3 bytes. `chain` bounds the candidates looked at
// for each position; `symbols` (when given) gets the number of symbols written.
Bytes EncodeLh1(const Bytes& data, unsigned chain = 64, std::size_t* symbols = nullptr);

}  // namespace quern::test
