#include "engine/lha/lh1_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "common/lh1_encoder.h"
#include "common/lha_writer.h"
#include "common/run_command.h"
#include "common/scratch_dir.h"

namespace quern::test {
namespace {

// The unpacker's side over bytes in memory: hands out the packed bytes, keeps what is decoded
// and the size of every block.
class MemoryIo : public TDecoderIo {
 public:
  explicit MemoryIo(Bytes packed) : packed_(std::move(packed)) {}

  std::size_t ReadPacked(std::uint8_t* buffer, std::size_t count) override {
    ++reads;
    const std::size_t n = std::min(count, packed_.size() - at_);
    if (n > 0) std::memcpy(buffer, packed_.data() + at_, n);
    at_ += n;
    return n;
  }
  void WriteDecoded(std::uint8_t* buffer, std::size_t count) override {
    decoded.insert(decoded.end(), buffer, buffer + count);
    blocks.push_back(count);
  }

  int reads = 0;
  Bytes decoded;
  std::vector<std::size_t> blocks;

 private:
  Bytes packed_;
  std::size_t at_ = 0;
};

Bytes Decode(const Bytes& packed, std::int64_t unpackedSize) {
  MemoryIo io(packed);
  TLh1Decoder().Decode(io, unpackedSize);
  return io.decoded;
}

// What a peer decoder makes of the stream, as the only entry of an archive.
Bytes PeerDecode(const Bytes& packed, std::size_t unpackedSize) {
  ScratchDir dir;
  LhaRecord r = LhaRecord::Stored(0, "x.bin", Bytes(unpackedSize));
  r.method = "-lh1-";
  r.packed = packed;
  r.crc = 0;  // not known here; the peer prints what it decodes either way
  WriteFileBytes(dir / "x.lzh", BuildLhaArchive({r}));
  const CommandResult result = RunCommand({"/usr/bin/lhasa", "pq", "x.lzh"}, dir.path());
  return Bytes(result.out.begin(), result.out.end());
}

// Lines of text with numbers that rarely repeat: matches and literals in about equal measure.
Bytes Text(std::size_t size) {
  Bytes text;
  std::uint32_t state = 12345;
  for (int i = 0; text.size() < size; ++i) {
    state = state * 1103515245u + 12345u;
    const std::string line = "entry " + std::to_string(i % 613) + ": part " +
                             std::to_string(state >> 20) + ", page " +
                             std::to_string((state >> 8) & 0xFFF) + "\n";
    text.insert(text.end(), line.begin(), line.end());
  }
  text.resize(size);
  return text;
}

struct Lh1Case {
  const char* name;
  std::function<Bytes()> stream;
  Bytes expected;
  bool peerAgrees;  // the peer decoder yields the same (it leaves some window bytes unset)
};

std::vector<Lh1Case> Cases() {
  const Bytes text = Text(300000);
  const Bytes noise = PatternBytes(70000, 9);
  Bytes run = {'x'};
  run.insert(run.end(), 60, 'x');
  return {
      {"MatchReachingTheInitialSpaces",
       [] {
         Lh1Writer w;
         w.Literal('a');
         w.Match(10, 50);
         w.Match(4, 1);  // a run of the space before
         return w.Finish();
       },
       [] {
         Bytes b = {'a'};
         b.insert(b.end(), 14, ' ');
         return b;
       }(),
       true},
      {"MatchOfTheWholeInitialWindow",
       [] {
         Lh1Writer w;
         w.Match(60, 4036);
         return w.Finish();
       },
       Bytes(60, ' '), true},
      {"SixtyByteMatchAtDistanceOne",
       [] {
         Lh1Writer w;
         w.Literal('x');
         w.Match(60, 1);
         return w.Finish();
       },
       run, true},
      // Before the spaces lie 60 window bytes no stream should read; they read as zeros.
      {"MatchBeforeTheSpacesReadsZeros",
       [] {
         Lh1Writer w;
         w.Match(3, 4037);   // the last zero and two spaces
         w.Match(60, 4096);  // the zeros after it, then three spaces
         return w.Finish();
       },
       [] {
         Bytes b = {0, ' ', ' '};
         b.insert(b.end(), 57, 0);
         b.insert(b.end(), 3, ' ');
         return b;
       }(),
       false},
      // Enough symbols for the root weight to reach 0x8000: the tree is rebuilt on the way.
      {"TextLongEnoughToRebuildTheTree", [text] { return EncodeLh1(text); }, text, true},
      {"NoiseMostlyOfLiterals", [noise] { return EncodeLh1(noise); }, noise, true},
  };
}

class Lh1Stream : public ::testing::TestWithParam<Lh1Case> {};

TEST_P(Lh1Stream, DecodesToItsBytes) {
  const Lh1Case& c = GetParam();
  const Bytes packed = c.stream();
  const Bytes decoded = Decode(packed, static_cast<std::int64_t>(c.expected.size()));
  EXPECT_EQ(decoded, c.expected);
  if (c.peerAgrees) {
    EXPECT_EQ(PeerDecode(packed, c.expected.size()), c.expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, Lh1Stream, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Lh1Decoder, TheLongCaseIsLongEnoughToRebuildTheTree) {
  // The root weight starts at 314 and grows by one a symbol: 0x8000 after 32454 symbols.
  std::size_t symbols = 0;
  EncodeLh1(Text(300000), 64, &symbols);
  EXPECT_GT(symbols, 32454u);
}

TEST(Lh1Decoder, AnEmptyEntryReadsNothingAndWritesNothing) {
  const Bytes garbage = PatternBytes(100, 3);
  MemoryIo io(garbage);
  TLh1Decoder().Decode(io, 0);
  EXPECT_EQ(io.reads, 0);
  EXPECT_TRUE(io.blocks.empty());
}

TEST(Lh1Decoder, HandsOnBlocksOf32768Bytes) {
  const Bytes text = Text(100000);
  MemoryIo io(EncodeLh1(text));
  TLh1Decoder().Decode(io, static_cast<std::int64_t>(text.size()));
  EXPECT_EQ(io.decoded, text);
  EXPECT_EQ(io.blocks, (std::vector<std::size_t>{32768, 32768, 32768, 1696}));
}

// Missing or foreign input ends the entry short instead of producing bytes from nothing.
struct BoundCase {
  const char* name;
  Bytes packed;
  std::int64_t unpackedSize;
  std::size_t atMost;  // bytes the decoder may produce
};

class Lh1Bounds : public ::testing::TestWithParam<BoundCase> {};

TEST_P(Lh1Bounds, NeverWritesPastWhatItMayProduce) {
  const BoundCase& c = GetParam();
  const Bytes decoded = Decode(c.packed, c.unpackedSize);
  EXPECT_LE(decoded.size(), c.atMost);
}

std::vector<BoundCase> BoundCases() {
  const Bytes text = Text(200000);
  Bytes cut = EncodeLh1(text);
  cut.resize(cut.size() / 2);
  return {
      // Half the stream yields well under the whole file: the decoder stops at its end.
      {"StreamCutInHalf", cut, static_cast<std::int64_t>(text.size()), text.size() * 3 / 4},
      // Every bit past the end (a few bytes are allowed for) could end a 60-byte match at most.
      {"NoInputAtAll", {}, 1'000'000, TBitReader::kEndSlackBytes * 8 * 60},
      {"GarbageClaimingAGigabyte", PatternBytes(1000, 5), 1'000'000'000,
       (1000 + TBitReader::kEndSlackBytes) * 8 * 60},
  };
}

INSTANTIATE_TEST_SUITE_P(Cases, Lh1Bounds, ::testing::ValuesIn(BoundCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Lh1Decoder, AMatchCutAtTheUnpackedSizeKeepsItsFirstBytes) {
  Lh1Writer w;
  w.Literal('x');
  w.Match(60, 1);
  EXPECT_EQ(Decode(w.Finish(), 10), Bytes(10, 'x'));
}

}  // namespace
}  // namespace quern::test
