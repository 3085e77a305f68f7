#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>
#include <QImage>
#include <algorithm>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "jpeg_image.h"

namespace tarsel {
namespace {

QByteArray ReadArtwork(const char* name) {
  QFile file(QStringLiteral(QUERN_SOURCE_DIR "/launcher/artwork/") + QLatin1String(name));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
  return file.readAll();
}

unsigned Byte(const QByteArray& b, qsizetype at) {
  return static_cast<uchar>(b.at(at));
}
unsigned Be16(const QByteArray& b, qsizetype at) {
  return Byte(b, at) << 8 | Byte(b, at + 1);
}
unsigned Le16(const QByteArray& b, qsizetype at) {
  return Byte(b, at) | Byte(b, at + 1) << 8;
}
uint32_t Le32(const QByteArray& b, qsizetype at) {
  return Le16(b, at) | Le16(b, at + 2) << 16;
}

// The marker segments before the first scan, in file order; `at` is where the payload starts.
struct Segment {
  unsigned marker;
  qsizetype at;
  QByteArray payload;
};

std::vector<Segment> Segments(const QByteArray& jpeg) {
  std::vector<Segment> out;
  if (jpeg.size() < 2 || Be16(jpeg, 0) != 0xffd8) return out;
  qsizetype at = 2;
  while (at + 4 <= jpeg.size() && Byte(jpeg, at) == 0xff) {
    const unsigned marker = Byte(jpeg, at + 1);
    const qsizetype length = Be16(jpeg, at + 2);
    out.push_back({marker, at + 4, jpeg.mid(at + 4, length - 2)});
    if (marker == 0xda) break;
    at += 2 + length;
  }
  return out;
}

const Segment* Find(const std::vector<Segment>& segments, unsigned marker) {
  for (const Segment& s : segments) {
    if (s.marker == marker) return &s;
  }
  return nullptr;
}

TEST(Background, IsProgressiveEightBitYCbCrAtFullResolution) {
  const std::vector<Segment> segments = Segments(ReadArtwork("background.jpg"));
  for (const Segment& s : segments) {
    const bool frame = s.marker >= 0xc0 && s.marker <= 0xcf && s.marker != 0xc4 &&
                       s.marker != 0xc8 && s.marker != 0xcc;
    EXPECT_TRUE(!frame || s.marker == 0xc2) << std::hex << s.marker << ": not a progressive frame";
  }
  const Segment* sof = Find(segments, 0xc2);
  ASSERT_NE(sof, nullptr);
  const QByteArray& f = sof->payload;
  ASSERT_EQ(f.size(), 6 + 3 * 3);
  EXPECT_EQ(Byte(f, 0), 8u);
  EXPECT_EQ(Be16(f, 1), 208u);
  EXPECT_EQ(Be16(f, 3), 578u);
  ASSERT_EQ(Byte(f, 5), 3u);
  for (int c = 0; c < 3; ++c)
    EXPECT_EQ(Byte(f, 6 + 3 * c + 1), 0x11u) << "component " << c;
}

// The first IFD of a TIFF structure: tag -> where its entry starts.
std::map<unsigned, qsizetype> IfdEntries(const QByteArray& tiff) {
  std::map<unsigned, qsizetype> out;
  const qsizetype ifd = Le32(tiff, 4);
  for (unsigned i = 0; i < Le16(tiff, ifd); ++i) {
    const qsizetype entry = ifd + 2 + 12 * i;
    out[Le16(tiff, entry)] = entry;
  }
  return out;
}

TEST(Background, CarriesItsApplicationSegmentsInOrder) {
  const std::vector<Segment> segments = Segments(ReadArtwork("background.jpg"));
  const struct {
    unsigned marker;
    QByteArray id;
  } expected[] = {
      {0xe0, QByteArray("JFIF\0", 5)},
      {0xe1, QByteArray("Exif\0\0", 6)},
      {0xed, QByteArray("Photoshop 3.0\0", 14)},
      {0xe1, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29)},
      {0xee, QByteArray("Adobe")},
  };
  std::vector<QByteArray> app;
  for (const Segment& s : segments) {
    if (s.marker < 0xe0 || s.marker > 0xef) continue;
    ASSERT_LT(app.size(), std::size(expected)) << "an extra APP segment";
    EXPECT_EQ(s.marker, expected[app.size()].marker) << "segment " << app.size();
    EXPECT_TRUE(s.payload.startsWith(expected[app.size()].id)) << "segment " << app.size();
    app.push_back(s.payload);
  }
  ASSERT_EQ(app.size(), std::size(expected));

  const QByteArray& jfif = app[0];  // version, units, X and Y density
  EXPECT_EQ(Be16(jfif, 5), 0x0102u);
  EXPECT_EQ(Byte(jfif, 7), 1u) << "dots per inch";
  EXPECT_EQ(Be16(jfif, 8), 72u);
  EXPECT_EQ(Be16(jfif, 10), 72u);

  const QByteArray tiff = app[1].mid(6);
  ASSERT_EQ(tiff.left(4), QByteArray("II*\0", 4));
  const std::map<unsigned, qsizetype> ifd = IfdEntries(tiff);
  const auto value = [&](unsigned tag) { return Le32(tiff, ifd.at(tag) + 8); };
  ASSERT_EQ(ifd.size(), 5u);
  EXPECT_EQ(value(0x0112), 1u) << "orientation";
  EXPECT_EQ(value(0x0128), 2u) << "resolution in inches";
  for (const unsigned tag : {0x011a, 0x011b}) {
    EXPECT_EQ(Le32(tiff, value(tag)), 72u) << std::hex << tag;
    EXPECT_EQ(Le32(tiff, value(tag) + 4), 1u) << std::hex << tag;
  }
  EXPECT_EQ(tiff.mid(value(0x0131), Le32(tiff, ifd.at(0x0131) + 4)),
            QByteArray("Tarsel artwork", 15));

  const QByteArray& resources = app[2];  // one 8BIM block: resolution info, 16 bytes
  EXPECT_EQ(resources.mid(14, 6), QByteArray("8BIM\x03\xed", 6));
  EXPECT_EQ(Be16(resources, 24), 16u);
  EXPECT_EQ(Be16(resources, 26), 72u) << "horizontal resolution";

  EXPECT_TRUE(app[3].contains(">Tarsel</rdf:li>"));

  const QByteArray& adobe = app[4];  // version, two flag words, transform
  ASSERT_EQ(adobe.size(), 12);
  EXPECT_EQ(Be16(adobe, 5), 100u);
  EXPECT_EQ(Byte(adobe, 11), 1u) << "YCbCr";
}

TEST(Background, DecodesToAPicture) {
  const QImage image = DecodeJpeg(ReadArtwork("background.jpg"));
  ASSERT_FALSE(image.isNull());
  EXPECT_EQ(image.size(), QSize(578, 208));
  int darkest = 255, lightest = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const int grey = qGray(image.pixel(x, y));
      darkest = std::min(darkest, grey);
      lightest = std::max(lightest, grey);
    }
  }
  EXPECT_LT(darkest, 100) << "the title";
  EXPECT_GT(lightest, 220) << "the sky";
  const QRgb sky = image.pixel(10, 5), sun = image.pixel(70, 152);
  EXPECT_GT(qBlue(sky), qRed(sky) + 5) << "a blue sky";
  EXPECT_GT(qRed(sun), qBlue(sun) + 20) << "a warm sun";
}

TEST(CloseGlyph, IsAnUncompressed24BitBmpOnItsTransparentKey) {
  const QByteArray bmp = ReadArtwork("close.bmp");
  ASSERT_EQ(bmp.size(), 2518);
  EXPECT_EQ(bmp.left(2), QByteArray("BM"));
  EXPECT_EQ(Le32(bmp, 2), 2518u);
  EXPECT_EQ(Le32(bmp, 10), 54u) << "pixel data offset";
  EXPECT_EQ(Le32(bmp, 14), 40u) << "info header size";
  EXPECT_EQ(Le32(bmp, 18), 29u);
  EXPECT_EQ(Le32(bmp, 22), 28u) << "positive: bottom-up";
  EXPECT_EQ(Le16(bmp, 26), 1u);
  EXPECT_EQ(Le16(bmp, 28), 24u);
  EXPECT_EQ(Le32(bmp, 30), 0u) << "uncompressed";

  const QImage glyph = QImage::fromData(bmp, "BMP");
  ASSERT_EQ(glyph.size(), QSize(29, 28));
  const QRgb key = glyph.pixel(0, 27);
  for (const QPoint corner : {QPoint(0, 0), QPoint(28, 0), QPoint(28, 27)})
    EXPECT_EQ(glyph.pixel(corner), key) << corner.x() << "," << corner.y();
  EXPECT_NE(glyph.pixel(14, 14), key);
  EXPECT_LT(qGray(glyph.pixel(14, 14)), 100) << "the cross at the centre";
}

// Neighbouring pixels differ in colour both ways, so any chroma subsampling would smear them.
TEST(JpegCodec, KeepsEveryPixelsColourThroughARoundTrip) {
  const QRgb colours[] = {qRgb(220, 30, 30), qRgb(30, 200, 40), qRgb(30, 40, 210)};
  QImage image(24, 16, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, colours[(x + 2 * y) % 3]);
  }
  const QImage back = DecodeJpeg(EncodeJpeg(image, 95, {}));
  ASSERT_EQ(back.size(), image.size());
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QRgb want = image.pixel(x, y), got = back.pixel(x, y);
      ASSERT_NEAR(qRed(got), qRed(want), 24) << x << "," << y;
      ASSERT_NEAR(qGreen(got), qGreen(want), 24) << x << "," << y;
      ASSERT_NEAR(qBlue(got), qBlue(want), 24) << x << "," << y;
    }
  }
}

QByteArray Bytes(std::initializer_list<unsigned> bytes) {
  QByteArray out;
  for (const unsigned b : bytes)
    out.append(char(b & 0xff));
  return out;
}

// A greyscale JPEG of flat mid-grey, made by hand so that any size or scan count is cheap: every
// coefficient is zero and the only symbols in use (DC category 0, AC end of block) have the
// one-bit code "0", so a block costs one bit per scan (two in a baseline scan). With
// `ac_positions` < 0 the file is baseline; otherwise progressive, with a DC scan and then, for
// each of the first `ac_positions` AC positions, a first scan and four refinement scans.
QByteArray FlatGreyJpeg(unsigned width, unsigned height, int ac_positions = -1) {
  QByteArray out("\xff\xd8", 2);
  const auto segment = [&](unsigned marker, const QByteArray& payload) {
    out.append(char(0xff)).append(char(marker));
    out.append(char((payload.size() + 2) >> 8)).append(char(payload.size() + 2));
    out.append(payload);
  };
  const bool progressive = ac_positions >= 0;
  segment(0xdb, QByteArray(1, '\0') + QByteArray(64, '\1'));
  segment(progressive ? 0xc2 : 0xc0,
          Bytes({8, height >> 8, height, width >> 8, width, 1, 1, 0x11, 0}));
  const QByteArray one_code = QByteArray(1, '\1') + QByteArray(15, '\0') + QByteArray(1, '\0');
  segment(0xc4, QByteArray(1, '\x00') + one_code);
  segment(0xc4, QByteArray(1, '\x10') + one_code);
  const qsizetype blocks = qsizetype((width + 7) / 8) * ((height + 7) / 8);
  const auto scan = [&](unsigned from, unsigned to, unsigned high, unsigned low,
                        int bits_per_block) {
    segment(0xda, Bytes({1, 1, 0, from, to, high << 4 | low}));
    out.append(QByteArray((blocks * bits_per_block + 7) / 8, '\0'));
  };
  if (!progressive) {
    scan(0, 63, 0, 0, 2);
  } else {
    scan(0, 0, 0, 0, 1);
    for (unsigned k = 1; k <= unsigned(ac_positions); ++k) {
      scan(k, k, 0, 4, 1);
      for (unsigned high = 4; high > 0; --high)
        scan(k, k, high, high - 1, 1);
    }
  }
  out.append("\xff\xd9", 2);
  return out;
}

struct HandMade {
  const char* name;
  QByteArray jpeg;
  bool decodes;
};

void PrintTo(const HandMade& c, std::ostream* os) {
  *os << c.name;
}

class Limits : public ::testing::TestWithParam<HandMade> {};

// Greyscale comes out as RGB; pictures and scan counts past the limits are refused.
TEST_P(Limits, AreKept) {
  const HandMade& c = GetParam();
  const QImage image = DecodeJpeg(c.jpeg);
  ASSERT_EQ(image.isNull(), !c.decodes);
  if (!c.decodes) return;
  QImage grey(image.size(), QImage::Format_RGB888);
  grey.fill(qRgb(128, 128, 128));
  EXPECT_EQ(image, grey);
}

constexpr int kPositionsWithinScanLimit = (kMaxJpegScans - 1) / 5;

INSTANTIATE_TEST_SUITE_P(
    Jpeg, Limits,
    ::testing::Values(
        HandMade{"Baseline", FlatGreyJpeg(20, 12), true},
        HandMade{"OverThePixelLimit", FlatGreyJpeg(4096, kMaxJpegPixels / 4096 + 1), false},
        HandMade{"ScansUpToTheLimit", FlatGreyJpeg(8, 8, kPositionsWithinScanLimit), true},
        HandMade{"OverTheScanLimit", FlatGreyJpeg(8, 8, kPositionsWithinScanLimit + 1), false}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadJpeg {
  const char* name;
  std::function<QByteArray(const QByteArray& good)> make;
};

// `jpeg` with the width in its frame header set to zero.
QByteArray WithZeroWidth(QByteArray jpeg) {
  const std::vector<Segment> segments = Segments(jpeg);
  const Segment* sof = Find(segments, 0xc2);
  if (sof == nullptr) return {};
  jpeg[sof->at + 3] = jpeg[sof->at + 4] = '\0';
  return jpeg;
}

void PrintTo(const BadJpeg& c, std::ostream* os) {
  *os << c.name;
}

class Refuses : public ::testing::TestWithParam<BadJpeg> {};

TEST_P(Refuses, WithANullImage) {
  const QByteArray bytes = GetParam().make(ReadArtwork("background.jpg"));
  EXPECT_TRUE(DecodeJpeg(bytes).isNull());
}

const BadJpeg kBadJpegs[] = {
    {"Empty", [](const QByteArray&) { return QByteArray(); }},
    {"Text", [](const QByteArray&) { return QByteArray("not a picture at all"); }},
    {"StartMarkerOnly", [](const QByteArray&) { return QByteArray("\xff\xd8", 2); }},
    {"StartAndEndOnly", [](const QByteArray&) { return QByteArray("\xff\xd8\xff\xd9", 4); }},
    {"CutInTheHeaders", [](const QByteArray& good) { return good.left(300); }},
    {"CutAtTheFirstScan",
     [](const QByteArray& good) { return good.left(Segments(good).back().at + 20); }},
    {"CutHalfway", [](const QByteArray& good) { return good.left(good.size() / 2); }},
    {"CutBeforeTheEnd", [](const QByteArray& good) { return good.left(good.size() - 2); }},
    {"ZeroWidth", [](const QByteArray& good) { return WithZeroWidth(good); }},
};

INSTANTIATE_TEST_SUITE_P(Jpeg, Refuses, ::testing::ValuesIn(kBadJpegs),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarsel
