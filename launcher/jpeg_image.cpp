#include "jpeg_image.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
// clang-format off: jpeglib.h uses FILE and size_t without including their headers.
#include <jpeglib.h>
// clang-format on

namespace tarsel {
namespace {

// libjpeg reports a fatal error through error_exit and expects it not to return. Ours jumps back
// into Decode or Encode below. Warnings jump too: a stream libjpeg has to patch over (it pads a
// truncated one with grey) is refused rather than shown half made.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
};

[[noreturn]] void JumpOut(j_common_ptr cinfo) {
  std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  if (level < 0) JumpOut(cinfo);
}

void Quiet(j_common_ptr) {}

void UseErrorManager(ErrorManager* err) {
  jpeg_std_error(&err->base);
  err->base.error_exit = JumpOut;
  err->base.emit_message = OnMessage;
  err->base.output_message = Quiet;
}

// A progressive stream can carry any number of scans, each a pass over the whole coefficient
// buffer; past a sane count the work is cut short.
void CountScans(j_common_ptr cinfo) {
  if (cinfo->is_decompressor &&
      reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
    JumpOut(cinfo);
  }
}

// Everything Decode changes lives here, behind a pointer: after the jump back to its setjmp
// nothing is in an indeterminate register copy, and Decode has no local with a destructor for
// the jump to skip.
struct Decoding {
  jpeg_decompress_struct cinfo{};
  ErrorManager err{};
  jpeg_progress_mgr progress{};
  QImage image;
};

bool Decode(Decoding* d, const QByteArray& data) {
  if (setjmp(d->err.jump) != 0) return false;
  jpeg_create_decompress(&d->cinfo);
  d->progress.progress_monitor = CountScans;
  d->cinfo.progress = &d->progress;
  jpeg_mem_src(&d->cinfo, reinterpret_cast<const unsigned char*>(data.constData()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(&d->cinfo, TRUE);

  const long long pixels =
      static_cast<long long>(d->cinfo.image_width) * static_cast<long long>(d->cinfo.image_height);
  if (pixels == 0 || pixels > kMaxJpegPixels) return false;
  // Greyscale comes out as RGB too; what libjpeg cannot turn into RGB (four-component print
  // files among them) ends in its own error.
  d->cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&d->cinfo);

  d->image = QImage(static_cast<int>(d->cinfo.output_width),
                    static_cast<int>(d->cinfo.output_height), QImage::Format_RGB888);
  if (d->image.isNull()) return false;
  while (d->cinfo.output_scanline < d->cinfo.output_height) {
    JSAMPROW row = d->image.scanLine(static_cast<int>(d->cinfo.output_scanline));
    if (jpeg_read_scanlines(&d->cinfo, &row, 1) != 1) return false;
  }
  jpeg_finish_decompress(&d->cinfo);
  return true;
}

// As with Decoding: all Encode touches after its setjmp.
struct Encoding {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  QImage rgb;
  unsigned char* buffer = nullptr;  // malloc'd by libjpeg's memory destination
  unsigned long size = 0;
};

bool Encode(Encoding* e, int quality, const std::vector<JpegMarker>& markers) {
  if (setjmp(e->err.jump) != 0) return false;
  jpeg_create_compress(&e->cinfo);
  jpeg_mem_dest(&e->cinfo, &e->buffer, &e->size);
  e->cinfo.image_width = static_cast<JDIMENSION>(e->rgb.width());
  e->cinfo.image_height = static_cast<JDIMENSION>(e->rgb.height());
  e->cinfo.input_components = 3;
  e->cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&e->cinfo);
  jpeg_set_colorspace(&e->cinfo, JCS_YCbCr);
  jpeg_set_quality(&e->cinfo, quality, TRUE);
  for (int c = 0; c < e->cinfo.num_components; ++c) {
    e->cinfo.comp_info[c].h_samp_factor = 1;
    e->cinfo.comp_info[c].v_samp_factor = 1;
  }
  jpeg_simple_progression(&e->cinfo);
  e->cinfo.write_JFIF_header = TRUE;
  e->cinfo.JFIF_major_version = 1;
  e->cinfo.JFIF_minor_version = 2;
  e->cinfo.density_unit = 1;  // dots per inch
  e->cinfo.X_density = 72;
  e->cinfo.Y_density = 72;
  // An APP14 segment, if wanted, comes among the caller's markers and in their order.
  e->cinfo.write_Adobe_marker = FALSE;
  jpeg_start_compress(&e->cinfo, TRUE);
  for (size_t i = 0; i < markers.size(); ++i) {
    jpeg_write_marker(&e->cinfo, markers[i].code,
                      reinterpret_cast<const JOCTET*>(markers[i].payload.constData()),
                      static_cast<unsigned int>(markers[i].payload.size()));
  }
  while (e->cinfo.next_scanline < e->cinfo.image_height) {
    JSAMPROW row =
        const_cast<JSAMPROW>(e->rgb.constScanLine(static_cast<int>(e->cinfo.next_scanline)));
    jpeg_write_scanlines(&e->cinfo, &row, 1);
  }
  jpeg_finish_compress(&e->cinfo);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  Decoding d;
  d.cinfo.err = &d.err.base;
  UseErrorManager(&d.err);
  const bool ok = Decode(&d, data);
  jpeg_destroy_decompress(&d.cinfo);
  return ok ? d.image : QImage();
}

QByteArray EncodeJpeg(const QImage& image, int quality, const std::vector<JpegMarker>& markers) {
  if (image.isNull()) return {};
  for (const JpegMarker& m : markers) {
    if (m.payload.size() > 65533) return {};
  }
  Encoding e;
  e.cinfo.err = &e.err.base;
  UseErrorManager(&e.err);
  e.rgb = image.convertToFormat(QImage::Format_RGB888);
  const bool ok = Encode(&e, quality, markers);
  jpeg_destroy_compress(&e.cinfo);
  QByteArray out;
  if (ok) out = QByteArray(reinterpret_cast<const char*>(e.buffer), static_cast<qsizetype>(e.size));
  std::free(e.buffer);
  return out;
}

}  // namespace tarsel
