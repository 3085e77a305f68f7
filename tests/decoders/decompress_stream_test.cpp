#include "engine/decoders/decompress_stream.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/bh_writer.h"
#include "engine/crypt/cipher.h"

namespace quern::test {
namespace {

// A source stream over bytes in memory that counts the reads that brought something and keeps
// the largest count asked for.
class MemorySource : public TStream32 {
 public:
  explicit MemorySource(Bytes bytes) : data(std::move(bytes)) {}

  void SetSize(std::int64_t newSize) override { data.resize(static_cast<std::size_t>(newSize)); }
  std::size_t Read(void* buffer, std::size_t count) override {
    largestAsk = std::max(largestAsk, count);
    const std::size_t n =
        std::min(count, data.size() - std::min(data.size(), static_cast<std::size_t>(position)));
    if (n == 0) return 0;
    std::memcpy(buffer, data.data() + position, n);
    position += static_cast<std::int64_t>(n);
    ++filledReads;
    return n;
  }
  std::size_t Write(const void*, std::size_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const std::int64_t base = origin == soFromBeginning ? 0
                              : origin == soFromCurrent ? position
                                                        : static_cast<std::int64_t>(data.size());
    if (base + offset < 0) return -1;
    return position = base + offset;
  }

  Bytes data;
  std::int64_t position = 0;
  int filledReads = 0;
  std::size_t largestAsk = 0;
};

// Data as archives hold them: runs of words, of one repeated byte and of noise, so that every
// level makes blocks of a different kind and size.
Bytes MixedBytes(std::size_t count, std::uint32_t seed = 1) {
  static const char* const kWords[] = {"extract ", "archive ", "header ", "0123456789", "\r\n",
                                       "the ",     "stream ",  "quern ",  "block "};
  const Bytes noise = PatternBytes(count, seed);
  std::size_t next = 0;  // noise bytes are used once each, so that noise stays noise
  const auto draw = [&] { return noise[next++ % count]; };
  Bytes out;
  out.reserve(count + 256);
  while (out.size() < count) {
    const std::uint8_t pick = draw();
    const std::size_t run = 16 + pick % 200;
    if (pick % 4 < 2) {
      for (std::size_t k = 0; k < run; ++k)
        out.push_back(draw());
    } else if (pick % 4 == 2) {
      out.insert(out.end(), run, pick);
    } else {
      for (std::size_t w = 0; w < run / 8; ++w) {
        const char* word = kWords[draw() % std::size(kWords)];
        out.insert(out.end(), word, word + std::strlen(word));
      }
    }
  }
  out.resize(count);
  return out;
}

// Deflate with a flush that ends the output on a byte boundary without a last block, so that
// more blocks can be appended by hand.
Bytes RawDeflateUnfinished(const Bytes& data) {
  z_stream z{};
  deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, data.size()) + 16);
  z.next_in = const_cast<Bytef*>(data.data());
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FULL_FLUSH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// Requests `request` bytes at a time until a request returns 0 or fails; the last result.
std::int32_t ReadToEnd(TDecompressStream& s, std::size_t request, Bytes& out) {
  Bytes piece(request);
  for (;;) {
    const std::int32_t n = s.ReadInflated(piece.data(), request);
    if (n <= 0) return n;
    out.insert(out.end(), piece.begin(), piece.begin() + n);
  }
}

TEST(DecompressStream, EveryRequestIsFilledUntilTheDataEnd_ThenReadsGiveZero) {
  struct Row {
    const char* name;
    std::size_t size;
    int level;
    std::size_t request;
  } rows[] = {
      {"OneWholeRequest", 32768, 6, 32768},
      {"OneByteIntoASecondRequest", 32769, 1, 32768},
      {"StoredWithAShortLastRequest", 100000, 0, 32768},
      {"BestWithOddRequests", 150001, 9, 7777},
      {"RequestsLargerThanTheInputBuffer", 3000000, 0, 2500000},
      {"NoData", 0, 6, 32768},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes payload = MixedBytes(row.size);
    MemorySource source(RawDeflate(payload, row.level));
    TDecompressStream s(source);
    Bytes out, piece(row.request);
    for (std::size_t left = row.size; left > 0;) {
      const std::size_t expected = std::min(left, row.request);
      ASSERT_EQ(s.ReadInflated(piece.data(), row.request), static_cast<std::int32_t>(expected));
      out.insert(out.end(), piece.begin(), piece.begin() + expected);
      left -= expected;
    }
    EXPECT_EQ(s.ReadInflated(piece.data(), row.request), 0);
    EXPECT_TRUE(s.EndOfData());
    EXPECT_EQ(s.ReadInflated(piece.data(), row.request), 0);
    EXPECT_TRUE(out == payload);
    // Input is read as the request needs it, never more than the input buffer holds.
    EXPECT_EQ(source.largestAsk, std::min<std::size_t>(row.request, 131070));
  }
}

TEST(DecompressStream, EncipheredInputIsDecipheredOnceInOrderAcrossRefills) {
  const Bytes payload = MixedBytes(300000, 7);
  Bytes packed = RawDeflate(payload, 1);
  TTraditionalCipher encoder;
  encoder.InitKeys("pw");
  encoder.EncodeBuffer(packed.data(), packed.size());
  for (std::size_t request : {1, 7, 4096, 32768}) {
    SCOPED_TRACE(request);
    MemorySource source(packed);
    TTraditionalCipher decoder;
    decoder.InitKeys("pw");
    TDecompressStream s(source, -15, &decoder);
    int refills = 0;
    s.OnProgress = [&](TStream32* sender) {
      EXPECT_EQ(sender, &s);
      ++refills;
    };
    Bytes out;
    EXPECT_EQ(ReadToEnd(s, request, out), 0);
    EXPECT_TRUE(out == payload);
    EXPECT_EQ(refills, source.filledReads);
  }
}

TEST(DecompressStream, OthersMovingTheSourceBetweenReadsDoNotDisturbTheInflater) {
  const Bytes payload = MixedBytes(200000, 3);
  MemorySource source(RawDeflate(payload, 6));
  TDecompressStream s(source);
  Bytes out(32768);
  ASSERT_EQ(s.ReadInflated(out.data(), out.size()), 32768);
  std::uint8_t header[30];
  source.Seek(0, soFromBeginning);
  source.ReadBuffer(header, sizeof header);
  EXPECT_EQ(ReadToEnd(s, 32768, out), 0);
  EXPECT_TRUE(out == payload);
}

TEST(DecompressStream, DestructionLeavesTheSourceJustAfterTheCompressedData) {
  struct Row {
    const char* name;
    int level;
    std::size_t request;
  } rows[] = {
      {"Requests", 6, 32768},
      {"OneRequestForEverything", 9, 1 << 20},
      {"ByteByByte", 1, 1},
      {"Stored", 0, 32768},
  };
  const Bytes payload = MixedBytes(100000, 5);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Bytes packed = RawDeflate(payload, row.level);
    Bytes file = PatternBytes(100, 1);
    file.insert(file.end(), packed.begin(), packed.end());
    const Bytes trailer = PatternBytes(5000, 2);
    file.insert(file.end(), trailer.begin(), trailer.end());
    MemorySource source(file);
    source.Seek(100, soFromBeginning);
    {
      TDecompressStream s(source);
      Bytes out;
      ASSERT_EQ(ReadToEnd(s, row.request, out), 0);
      ASSERT_TRUE(out == payload);
    }
    EXPECT_EQ(source.position, static_cast<std::int64_t>(100 + packed.size()));
  }
}

TEST(DecompressStream, CorruptDataFailWithDataError_AndKeepFailing) {
  const Bytes payload = MixedBytes(100000, 9);
  Bytes goodThenBad = RawDeflateUnfinished(payload);
  goodThenBad.push_back(0x07);  // a last block of the reserved type
  struct Row {
    const char* name;
    Bytes packed;
  } rows[] = {
      {"ReservedBlockType", {0x07, 0x00, 0x00, 0x00}},
      {"StoredLengthsDisagree", {0x01, 0x05, 0x00, 0x00, 0x00, 'a', 'b', 'c', 'd', 'e'}},
      {"BadBlockAfterGoodOutput", goodThenBad},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemorySource source(row.packed);
    TDecompressStream s(source);
    Bytes out;
    EXPECT_EQ(ReadToEnd(s, 32768, out), Z_DATA_ERROR);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), payload.begin()));
    std::uint8_t b[32768];
    EXPECT_EQ(s.ReadInflated(b, sizeof b), Z_DATA_ERROR);
    EXPECT_EQ(s.ReadInflated(b, 1), Z_DATA_ERROR);
    EXPECT_EQ(s.Read(b, sizeof b), 0u);
    EXPECT_FALSE(s.EndOfData());
  }
}

TEST(DecompressStream, TruncatedDataFailWithBufferErrorInsteadOfWaiting) {
  const Bytes payload = MixedBytes(100000, 11);
  const Bytes packed = RawDeflate(payload, 6);
  struct Row {
    const char* name;
    std::size_t keep;
  } rows[] = {
      {"Nothing", 0},
      {"Half", packed.size() / 2},
      {"AllButTheLastByte", packed.size() - 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    MemorySource source(Bytes(packed.begin(), packed.begin() + row.keep));
    TDecompressStream s(source);
    int refills = 0;
    s.OnProgress = [&](TStream32*) { ++refills; };
    Bytes out;
    EXPECT_EQ(ReadToEnd(s, 32768, out), Z_BUF_ERROR);
    EXPECT_EQ(refills, source.filledReads);  // only refills that brought bytes are reported
    EXPECT_TRUE(std::equal(out.begin(), out.end(), payload.begin()));
    std::uint8_t b[100];
    EXPECT_EQ(s.ReadInflated(b, sizeof b), Z_BUF_ERROR);
    EXPECT_FALSE(s.EndOfData());
  }
}

TEST(DecompressStream, SeekingSkipsForwardOrStartsOver_AndIgnoresTheRest) {
  const Bytes payload = MixedBytes(100000, 13);
  MemorySource source(RawDeflate(payload, 6));
  TDecompressStream s(source);
  struct Step {
    const char* name;
    std::int64_t offset;
    TSeekOrigin origin;
    std::int64_t position;
  } steps[] = {
      {"Where", 0, soFromCurrent, 0},
      {"SkipFromHere", 4484, soFromCurrent, 4500},
      {"SkipToAPosition", 20000, soFromBeginning, 20000},
      {"BackwardsFromTheBeginning", 100, soFromBeginning, 20016},
      {"BackwardsFromHere", -5, soFromCurrent, 20032},
      {"FromTheEnd", 0, soFromEnd, 20048},
      {"StartOver", 0, soFromBeginning, 0},
      {"SkipAfterStartingOver", 99000, soFromBeginning, 99000},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    source.Seek(7, soFromBeginning);  // starting over must not depend on where the source is
    EXPECT_EQ(s.Seek(step.offset, step.origin), step.position);
    std::uint8_t b[16];
    ASSERT_EQ(s.ReadInflated(b, sizeof b), 16);
    EXPECT_TRUE(std::equal(b, b + 16, payload.begin() + step.position));
  }
  EXPECT_THROW(s.Seek(payload.size() + 1, soFromBeginning), EStreamError);
  EXPECT_THROW(s.SetSize(0), EStreamError);
  EXPECT_EQ(s.Write(payload.data(), 10), 0u);
}

TEST(DecompressStream, WindowBitsReachTheInflater) {
  const Bytes payload = MixedBytes(5000, 17);
  Bytes wrapped(compressBound(payload.size()));
  uLongf wrappedSize = wrapped.size();
  ASSERT_EQ(compress(wrapped.data(), &wrappedSize, payload.data(), payload.size()), Z_OK);
  wrapped.resize(wrappedSize);
  {
    MemorySource source(wrapped);
    TDecompressStream s(source, 15);
    Bytes out;
    EXPECT_EQ(ReadToEnd(s, 32768, out), 0);
    EXPECT_TRUE(out == payload);
  }
  {
    MemorySource source(wrapped);
    TDecompressStream s(source, 3);  // refused by zlib: nothing can be read
    std::uint8_t b[16];
    EXPECT_LT(s.ReadInflated(b, sizeof b), 0);
    EXPECT_LT(s.ReadInflated(b, sizeof b), 0);
    EXPECT_EQ(s.Read(b, sizeof b), 0u);
  }
}

}  // namespace
}  // namespace quern::test
