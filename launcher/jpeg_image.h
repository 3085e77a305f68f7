// JPEG decoding and encoding over libjpeg, for the launcher's artwork.
#pragma once

#include <QByteArray>
#include <QImage>
#include <vector>

namespace tarsel {

// Decodes a whole JPEG file held in memory (baseline or progressive, colour or greyscale) into an
// RGB image; a null image when the data are not a JPEG libjpeg can read.
//
// The bytes are untrusted and this is a fuzz entry point as it stands: any input ends in an
// image or a null image, with nothing printed, no abort and bounded work. Pictures beyond
// kMaxJpegPixels, streams of more than kMaxJpegScans scans, and data libjpeg would have to patch
// over (truncation, corrupt entropy data) are refused.
QImage DecodeJpeg(const QByteArray& data);

inline constexpr long long kMaxJpegPixels = 1 << 24;
inline constexpr int kMaxJpegScans = 256;

// One marker segment for EncodeJpeg: its code (JPEG_APP0 + n, ...) and its payload, without the
// marker and length bytes.
struct JpegMarker {
  int code;
  QByteArray payload;
};

// Encodes an image as a progressive JPEG: 8-bit YCbCr, all three components at full resolution,
// a JFIF 1.02 header at 72 dots per inch, then `markers` in the order given, then the frame. No
// other APP segment is written. An empty array when libjpeg refuses (a marker over 65533 bytes,
// a side over 65500).
QByteArray EncodeJpeg(const QImage& image, int quality, const std::vector<JpegMarker>& markers);

}  // namespace tarsel
