#include "engine/decoders/bit_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/bh_writer.h"

namespace quern::test {
namespace {

// Packed bytes handed out at most `maxChunk` at a time, recording every request.
class ByteSource : public TDecoderIo {
 public:
  ByteSource(Bytes bytes, std::size_t maxChunk = SIZE_MAX)
      : bytes_(std::move(bytes)), maxChunk_(maxChunk) {}

  std::size_t ReadPacked(std::uint8_t* buffer, std::size_t count) override {
    requests.push_back(count);
    const std::size_t n = std::min({count, maxChunk_, bytes_.size() - at_});
    if (n > 0) std::memcpy(buffer, bytes_.data() + at_, n);
    at_ += n;
    if (n == 0) ++emptyAnswers;
    return n;
  }
  void WriteDecoded(std::uint8_t*, std::size_t) override { ADD_FAILURE() << "a reader writes"; }

  std::vector<std::size_t> requests;
  int emptyAnswers = 0;

 private:
  Bytes bytes_;
  std::size_t maxChunk_;
  std::size_t at_ = 0;
};

// n bits of `bytes` from bit `pos` on, most significant first, zeros past the end.
std::uint32_t BitsAt(const Bytes& bytes, std::size_t pos, unsigned n) {
  std::uint32_t value = 0;
  for (unsigned i = 0; i < n; ++i, ++pos) {
    const std::size_t byte = pos / 8;
    const unsigned bit = byte < bytes.size() ? (bytes[byte] >> (7 - pos % 8)) & 1 : 0;
    value = value << 1 | bit;
  }
  return value;
}

struct FirstBitsCase {
  const char* name;
  Bytes bytes;
  std::uint32_t bits;
};

class BitReaderStart : public ::testing::TestWithParam<FirstBitsCase> {};

TEST_P(BitReaderStart, ShowsTheFirstSixteenBitsFirstByteOnTop) {
  ByteSource source(GetParam().bytes);
  TBitReader reader;
  reader.Start(source, 100);
  EXPECT_EQ(reader.Bits(), GetParam().bits);
  EXPECT_FALSE(reader.PastEnd());
}

INSTANTIATE_TEST_SUITE_P(Cases, BitReaderStart,
                         ::testing::Values(FirstBitsCase{"ThreeBytes", {0x12, 0x34, 0x56}, 0x1234},
                                           FirstBitsCase{"OneByte", {0xAB}, 0xAB00},
                                           FirstBitsCase{"Empty", {}, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

// How the unpacker hands the bytes over; the bits read must not depend on it.
struct ChunkCase {
  const char* name;
  std::size_t requestSize;  // what the reader asks for
  std::size_t maxChunk;     // what the source gives at most
};

class BitReaderChunks : public ::testing::TestWithParam<ChunkCase> {};

TEST_P(BitReaderChunks, ReadsEveryWidthAcrossByteAndChunkBordersThenZerosPastTheEnd) {
  const Bytes bytes = PatternBytes(301, 7);
  ByteSource source(bytes, GetParam().maxChunk);
  TBitReader reader;
  reader.Start(source, GetParam().requestSize);
  const unsigned widths[] = {1, 3, 16, 0, 7, 9, 12, 5, 16, 2, 11, 8, 15, 4, 13, 6, 10, 14};
  std::size_t pos = 0;
  for (std::size_t step = 0; pos < (bytes.size() + 12) * 8; ++step) {
    const unsigned n = widths[step % std::size(widths)];
    ASSERT_EQ(reader.Bits(), BitsAt(bytes, pos, 16)) << "at bit " << pos;
    ASSERT_EQ(reader.GetBits(n), BitsAt(bytes, pos, n)) << "at bit " << pos;
    pos += n;
    ASSERT_EQ(reader.PastEnd(), pos > (bytes.size() + TBitReader::kEndSlackBytes) * 8)
        << "at bit " << pos;
  }
  for (std::size_t count : source.requests)
    EXPECT_EQ(count, GetParam().requestSize);
  EXPECT_EQ(source.emptyAnswers, 1) << "asked again after the end";
}

INSTANTIATE_TEST_SUITE_P(Cases, BitReaderChunks,
                         ::testing::Values(ChunkCase{"AllAtOnce", 65536, SIZE_MAX},
                                           ChunkCase{"OneByteARequest", 1, SIZE_MAX},
                                           ChunkCase{"SevenBytesARequest", 7, SIZE_MAX},
                                           ChunkCase{"SourceGivesLessThanAsked", 64, 9}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BitReader, FillZero_StaysPut) {
  ByteSource source({0xC3, 0x5A, 0x81});
  TBitReader reader;
  reader.Start(source, 16);
  reader.Fill(3);
  reader.Fill(0);
  EXPECT_EQ(reader.Bits(), 0x1AD4u);  // 0xC35A81 without its first 3 bits
  EXPECT_EQ(reader.GetBits(0), 0u);
  EXPECT_EQ(reader.GetBits(5), 0x03u);
}

TEST(BitReader, StartOver_ReadsTheNewInputFromItsFirstBit) {
  ByteSource first(Bytes{0xFF, 0xFF});
  TBitReader reader;
  reader.Start(first, 16);
  for (int i = 0; i < 5; ++i)
    reader.Fill(16);
  ASSERT_TRUE(reader.PastEnd());

  ByteSource second(Bytes{0x81, 0x42, 0x24});
  reader.Start(second, 16);
  EXPECT_FALSE(reader.PastEnd());
  EXPECT_EQ(reader.GetBits(4), 0x8u);
  EXPECT_EQ(reader.GetBits(16), 0x1422u);
  EXPECT_EQ(reader.GetBits(8), 0x40u);
}

}  // namespace
}  // namespace quern::test
