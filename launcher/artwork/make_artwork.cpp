// Makes the launcher's artwork from scratch: background.jpg, the title picture behind the three
// buttons, and close.bmp, the close glyph for its top-right corner. Run by make-artwork.sh.
//
//   tarsel_artwork OUTPUT_DIR
#include <QColor>
#include <QFile>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>
// clang-format off: jpeglib.h uses FILE and size_t without including their headers.
#include <jpeglib.h>
// clang-format on

#include "jpeg_image.h"

namespace {

constexpr int kWidth = 578;
constexpr int kHeight = 208;
constexpr int kGlyphWidth = 29;
constexpr int kGlyphHeight = 28;
// Where the launcher lays the close glyph over the picture.
constexpr int kGlyphLeft = 553;
constexpr int kGlyphTop = 0;
// The launcher treats the glyph's bottom-left colour as transparent.
const QColor kKey(255, 0, 255);

const char kFontDir[] = "/usr/share/fonts/truetype/dejavu/";

[[noreturn]] void Die(const QString& what) {
  std::fprintf(stderr, "tarsel_artwork: %s\n", qPrintable(what));
  std::exit(1);
}

void LoadFont(const char* file) {
  const QString path = QString::fromLatin1(kFontDir) + QString::fromLatin1(file);
  if (QFontDatabase::addApplicationFont(path) < 0) Die("cannot load " + path);
}

QFont Font(const char* family, int pixels, QFont::Weight weight, double spacing) {
  QFont font(QString::fromLatin1(family));
  font.setPixelSize(pixels);
  font.setWeight(weight);
  font.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
  font.setHintingPreference(QFont::PreferNoHinting);
  font.setStyleStrategy(QFont::PreferAntialias);
  return font;
}

// ---- The picture -------------------------------------------------------------------------------

// A still morning over the sea: pale sky warming towards the horizon, a low sun on the left, a
// far shore on the right, the title set flush with the left edge of the first button.
constexpr int kHorizon = 166;
constexpr int kTextLeft = 128;

void PaintSky(QPainter& p) {
  QLinearGradient sky(0, 0, 0, kHorizon);
  sky.setColorAt(0.0, QColor(0xe4, 0xed, 0xf2));
  sky.setColorAt(0.55, QColor(0xee, 0xf1, 0xf0));
  sky.setColorAt(1.0, QColor(0xf6, 0xe8, 0xd8));
  p.fillRect(0, 0, kWidth, kHorizon, sky);

  QRadialGradient glow(QPointF(70, kHorizon - 14), 190);
  glow.setColorAt(0.0, QColor(255, 232, 200, 150));
  glow.setColorAt(1.0, QColor(255, 232, 200, 0));
  p.fillRect(0, 0, kWidth, kHorizon, glow);

  QRadialGradient sun(QPointF(70, kHorizon - 14), 20);
  sun.setColorAt(0.0, QColor(0xfb, 0xe9, 0xcf));
  sun.setColorAt(0.8, QColor(0xf7, 0xdc, 0xb6));
  sun.setColorAt(1.0, QColor(0xf7, 0xdc, 0xb6, 0));
  p.setPen(Qt::NoPen);
  p.setBrush(sun);
  p.drawEllipse(QPointF(70, kHorizon - 14), 20, 20);
}

void PaintShore(QPainter& p) {
  // Two low ridges, the nearer one a shade darker.
  QPainterPath far;
  far.moveTo(392, kHorizon);
  far.cubicTo(430, kHorizon - 7, 470, kHorizon - 13, 510, kHorizon - 12);
  far.cubicTo(540, kHorizon - 11, 560, kHorizon - 8, kWidth, kHorizon - 9);
  far.lineTo(kWidth, kHorizon);
  far.closeSubpath();
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0xc6, 0xd3, 0xd9));
  p.drawPath(far);

  QPainterPath near;
  near.moveTo(452, kHorizon);
  near.cubicTo(490, kHorizon - 4, 530, kHorizon - 7, kWidth, kHorizon - 5);
  near.lineTo(kWidth, kHorizon);
  near.closeSubpath();
  p.setBrush(QColor(0xb1, 0xc3, 0xcb));
  p.drawPath(near);
}

void PaintSea(QPainter& p) {
  QLinearGradient sea(0, kHorizon, 0, kHeight);
  sea.setColorAt(0.0, QColor(0xa9, 0xc4, 0xcd));
  sea.setColorAt(1.0, QColor(0x7d, 0xa2, 0xb0));
  p.fillRect(0, kHorizon, kWidth, kHeight - kHorizon, sea);

  // The sun's path on the water: broken light strokes, narrowing and fading towards the viewer.
  p.setPen(Qt::NoPen);
  const struct {
    double half, shift;
  } glints[] = {{26, 0}, {19, -3}, {22, 2}, {14, -2}, {17, 3}, {10, -1}, {12, 1}, {6, 0}};
  for (int i = 0; i < 8; ++i) {
    const double y = kHorizon + 3 + i * 4.6;
    p.setBrush(QColor(255, 240, 220, 95 - i * 9));
    p.drawRoundedRect(QRectF(70 + glints[i].shift - glints[i].half, y, 2 * glints[i].half, 1.4),
                      0.7, 0.7);
  }
  // Faint swell lines across the rest of the sea.
  for (int i = 0; i < 6; ++i) {
    const double y = kHorizon + 7 + i * 6.5;
    p.setBrush(QColor(255, 255, 255, 22));
    p.drawRect(QRectF(150 + (i * 67) % 140, y, 120 + (i * 37) % 90, 1.0));
    p.drawRect(QRectF(380 + (i * 53) % 120, y + 3, 70 + (i * 29) % 60, 1.0));
  }
  // A light edge where sea meets sky.
  p.fillRect(QRectF(0, kHorizon, kWidth, 1), QColor(255, 255, 255, 70));
}

void PaintTitle(QPainter& p) {
  p.setPen(QColor(0x2c, 0x45, 0x55));
  p.setFont(Font("DejaVu Serif", 46, QFont::Normal, 1.0));
  p.drawText(QPointF(kTextLeft - 3, 78), QStringLiteral("Tarsel"));

  p.fillRect(QRectF(kTextLeft, 90, 30, 2), QColor(0xc4, 0x8f, 0x5a));

  p.setPen(QColor(0x5a, 0x70, 0x7d));
  p.setFont(Font("DejaVu Sans", 13, QFont::Normal, 1.6));
  p.drawText(QPointF(kTextLeft, 111), QStringLiteral("Materi Pembelajaran"));
}

QImage Background() {
  QImage image(kWidth, kHeight, QImage::Format_RGB32);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  PaintSky(p);
  PaintShore(p);
  PaintSea(p);
  PaintTitle(p);
  return image;
}

// ---- The close glyph ---------------------------------------------------------------------------

// A thin "×" in a faint ring. Edge pixels are blended with the picture under the glyph's place,
// so they sit cleanly on it; pixels the glyph does not touch get the transparent key.
QImage CloseGlyph(const QImage& background) {
  QImage ink(kGlyphWidth, kGlyphHeight, QImage::Format_ARGB32);
  ink.fill(Qt::transparent);
  {
    QPainter p(&ink);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(14.5, 14.0);
    p.setPen(QPen(QColor(0x2c, 0x45, 0x55, 70), 1.0));
    p.setBrush(QColor(255, 255, 255, 110));
    p.drawEllipse(centre, 9.5, 9.5);
    p.setPen(QPen(QColor(0x2c, 0x45, 0x55), 1.6, Qt::SolidLine, Qt::RoundCap));
    const double r = 3.6;
    p.drawLine(centre + QPointF(-r, -r), centre + QPointF(r, r));
    p.drawLine(centre + QPointF(-r, r), centre + QPointF(r, -r));
  }
  QImage glyph(kGlyphWidth, kGlyphHeight, QImage::Format_RGB32);
  for (int y = 0; y < kGlyphHeight; ++y) {
    for (int x = 0; x < kGlyphWidth; ++x) {
      const QColor over = ink.pixelColor(x, y);
      if (over.alpha() == 0) {
        glyph.setPixelColor(x, y, kKey);
        continue;
      }
      const QColor under = background.pixelColor(std::min(kGlyphLeft + x, kWidth - 1),
                                                 std::min(kGlyphTop + y, kHeight - 1));
      const double a = over.alphaF();
      QColor mixed = QColor::fromRgbF(over.redF() * a + under.redF() * (1 - a),
                                      over.greenF() * a + under.greenF() * (1 - a),
                                      over.blueF() * a + under.blueF() * (1 - a));
      if (mixed == kKey) mixed.setRed(254);
      glyph.setPixelColor(x, y, mixed);
    }
  }
  if (glyph.pixelColor(0, kGlyphHeight - 1) != kKey) Die("the glyph reaches its key corner");
  return glyph;
}

// ---- Files -------------------------------------------------------------------------------------

void PutLe16(QByteArray& out, unsigned v) {
  out.append(char(v & 0xff));
  out.append(char((v >> 8) & 0xff));
}
void PutLe32(QByteArray& out, uint32_t v) {
  PutLe16(out, v & 0xffff);
  PutLe16(out, v >> 16);
}
void PutBe16(QByteArray& out, unsigned v) {
  out.append(char((v >> 8) & 0xff));
  out.append(char(v & 0xff));
}
void PutBe32(QByteArray& out, uint32_t v) {
  PutBe16(out, v >> 16);
  PutBe16(out, v & 0xffff);
}

// Exif: a little-endian TIFF header and one IFD with orientation, resolution and the program
// that made the file. Offsets count from the TIFF header.
QByteArray ExifSegment() {
  const QByteArray software("Tarsel artwork", 15);  // with its NUL
  enum : unsigned { kShort = 3, kLong = 4, kAscii = 2, kRational = 5 };
  struct Entry {
    unsigned tag, type;
    uint32_t count, value;
  };
  constexpr uint32_t kIfd = 8, kEntries = 5;
  constexpr uint32_t kData = kIfd + 2 + kEntries * 12 + 4;
  const Entry entries[kEntries] = {
      {0x0112, kShort, 1, 1},                                   // Orientation: top-left
      {0x011a, kRational, 1, kData},                            // XResolution
      {0x011b, kRational, 1, kData + 8},                        // YResolution
      {0x0128, kShort, 1, 2},                                   // ResolutionUnit: inch
      {0x0131, kAscii, uint32_t(software.size()), kData + 16},  // Software
  };
  QByteArray out("Exif\0\0", 6);
  out.append("II");
  PutLe16(out, 42);
  PutLe32(out, kIfd);
  PutLe16(out, kEntries);
  for (const Entry& e : entries) {
    PutLe16(out, e.tag);
    PutLe16(out, e.type);
    PutLe32(out, e.count);
    if (e.type == kShort) {
      PutLe16(out, e.value);  // short values sit left-justified in the field
      PutLe16(out, 0);
    } else {
      PutLe32(out, e.value);
    }
  }
  PutLe32(out, 0);  // no further IFD
  for (int i = 0; i < 2; ++i) {
    PutLe32(out, 72);
    PutLe32(out, 1);
  }
  out.append(software);
  return out;
}

// The image-editor resource segment: one 8BIM block, resolution info (0x03ED) at 72 dpi.
QByteArray ResourceSegment() {
  QByteArray out("Photoshop 3.0\0", 14);
  out.append("8BIM");
  PutBe16(out, 0x03ed);
  PutBe16(out, 0);  // empty name, padded to even length
  PutBe32(out, 16);
  for (int i = 0; i < 2; ++i) {
    PutBe32(out, 72u << 16);  // 16.16 fixed point
    PutBe16(out, 1);          // shown in pixels per inch
    PutBe16(out, 1);          // extent shown in inches
  }
  return out;
}

QByteArray XmpSegment() {
  QByteArray out("http://ns.adobe.com/xap/1.0/\0", 29);
  out.append(
      "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
      "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
      " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
      "  <rdf:Description rdf:about=\"\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
      "   <dc:title><rdf:Alt><rdf:li xml:lang=\"x-default\">Tarsel</rdf:li></rdf:Alt></dc:title>\n"
      "  </rdf:Description>\n"
      " </rdf:RDF>\n"
      "</x:xmpmeta>\n"
      "<?xpacket end=\"w\"?>");
  return out;
}

// APP14: version 100, no flags, transform 1 (the samples are YCbCr).
QByteArray ColourTransformSegment() {
  QByteArray out("Adobe", 5);
  PutBe16(out, 100);
  PutBe16(out, 0);
  PutBe16(out, 0);
  out.append(char(1));
  return out;
}

// A 24-bit uncompressed bottom-up BMP with the 40-byte info header, rows padded to 4 bytes.
QByteArray Bmp(const QImage& image) {
  const int stride = (image.width() * 3 + 3) & ~3;
  const uint32_t pixels = uint32_t(stride * image.height());
  const uint32_t ppm = 2835;  // 72 dpi
  QByteArray out("BM");
  PutLe32(out, 54 + pixels);
  PutLe32(out, 0);
  PutLe32(out, 54);
  PutLe32(out, 40);
  PutLe32(out, uint32_t(image.width()));
  PutLe32(out, uint32_t(image.height()));
  PutLe16(out, 1);   // planes
  PutLe16(out, 24);  // bits per pixel
  PutLe32(out, 0);   // BI_RGB
  PutLe32(out, pixels);
  PutLe32(out, ppm);
  PutLe32(out, ppm);
  PutLe32(out, 0);
  PutLe32(out, 0);
  for (int y = image.height() - 1; y >= 0; --y) {
    const qsizetype start = out.size();
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = image.pixel(x, y);
      out.append(char(qBlue(c)));
      out.append(char(qGreen(c)));
      out.append(char(qRed(c)));
    }
    out.append(QByteArray(stride - (out.size() - start), '\0'));
  }
  return out;
}

void Write(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() ||
      !file.flush()) {
    Die("cannot write " + path);
  }
  std::printf("%s: %lld bytes\n", qPrintable(path), static_cast<long long>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: tarsel_artwork OUTPUT_DIR\n");
    return 2;
  }
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  LoadFont("DejaVuSerif.ttf");
  LoadFont("DejaVuSans.ttf");
  const QString dir = QString::fromLocal8Bit(argv[1]) + '/';

  const QImage background = Background();
  const QByteArray jpeg = tarsel::EncodeJpeg(background, 90,
                                             {
                                                 {JPEG_APP0 + 1, ExifSegment()},
                                                 {JPEG_APP0 + 13, ResourceSegment()},
                                                 {JPEG_APP0 + 1, XmpSegment()},
                                                 {JPEG_APP0 + 14, ColourTransformSegment()},
                                             });
  if (jpeg.isEmpty()) Die("libjpeg refused the picture");
  Write(dir + "background.jpg", jpeg);
  Write(dir + "close.bmp", Bmp(CloseGlyph(background)));
  return 0;
}
