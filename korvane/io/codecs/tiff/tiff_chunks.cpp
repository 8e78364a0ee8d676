#include "korvane/io/codecs/tiff/tiff_chunks.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "korvane/foundations/host/exceptions.h"

namespace korvane {

void TiffInflate(const uint8_t* Src, size_t SrcSize, uint8_t* Dest, size_t DestSize) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw EInvalidGraphic("Invalid TIFF stream");
  z.next_in = const_cast<Bytef*>(Src);
  z.next_out = Dest;
  // zlib counts in uInt: feed and drain in pieces that fit.
  size_t inLeft = SrcSize, outLeft = DestSize;
  int r = Z_OK;
  while (r == Z_OK) {
    if (z.avail_in == 0 && inLeft > 0) {
      z.avail_in = uInt(std::min<size_t>(inLeft, UINT_MAX));
      inLeft -= z.avail_in;
    }
    if (z.avail_out == 0 && outLeft > 0) {
      z.avail_out = uInt(std::min<size_t>(outLeft, UINT_MAX));
      outLeft -= z.avail_out;
    }
    if (z.avail_out == 0) break;  // every byte the chunk needs is there
    r = inflate(&z, Z_NO_FLUSH);
  }
  const size_t got = size_t(z.next_out - Dest);
  inflateEnd(&z);
  if (r == Z_DATA_ERROR || r == Z_NEED_DICT || r == Z_MEM_ERROR || r == Z_STREAM_ERROR)
    throw EInvalidGraphic("Invalid TIFF stream");
  // Z_BUF_ERROR: the data ended before the chunk did; the rest stays black.
  if (got < DestSize) std::memset(Dest + got, 0, DestSize - got);
}

namespace {

// A progressive stream may hold any number of scans, each a pass over the
// whole coefficient buffer; real encoders write a few dozen at most.
constexpr int kMaxScans = 1000;

// libjpeg's error_exit must not return: it jumps back to the setjmp of the
// guarded call that entered the library. The frames in between are the
// library's and these callbacks, which own nothing with a destructor.
struct JpegErrors {
  jpeg_error_mgr pub;  // first: the library sees only this part
  jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegErrors*>(cinfo->err)->jump, 1); }
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}

void ProgressMonitor(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
    ERREXIT(cinfo, JERR_BAD_PROGRESSION);
}

struct JpegState {
  jpeg_decompress_struct cinfo;
  JpegErrors err;
  jpeg_progress_mgr progress;
};

// Guarded calls: each sets the jump point and makes a few library calls; a
// false answer means the library raised an error.

bool GuardedCreate(JpegState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_create_decompress(&s->cinfo);
  s->progress.progress_monitor = ProgressMonitor;
  s->cinfo.progress = &s->progress;
  return true;
}

// Reads the abbreviated table stream, then the image stream's header.
bool GuardedHeader(JpegState* s, const uint8_t* tables, size_t tablesSize, const uint8_t* data, size_t size) {
  if (setjmp(s->err.jump)) return false;
  if (tables && tablesSize > 0) {
    jpeg_mem_src(&s->cinfo, tables, static_cast<unsigned long>(tablesSize));
    jpeg_read_header(&s->cinfo, FALSE);
  }
  jpeg_mem_src(&s->cinfo, data, static_cast<unsigned long>(size));
  return jpeg_read_header(&s->cinfo, TRUE) == JPEG_HEADER_OK;
}

bool GuardedStart(JpegState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_start_decompress(&s->cinfo);
  return true;
}

bool GuardedRows(JpegState* s, JSAMPARRAY rows, JDIMENSION count, JDIMENSION* got) {
  if (setjmp(s->err.jump)) return false;
  *got = jpeg_read_scanlines(&s->cinfo, rows, count);
  return true;
}

}  // namespace

bool TiffDecodeJpeg(const uint8_t* Tables, size_t TablesSize, const uint8_t* Data, size_t Size,
                    TTiffJpegColor Color, bool Smooth, uint8_t* Dest, int64_t Width, int64_t Rows) {
  if (!Data || Size == 0 || Width <= 0 || Rows <= 0) return false;
  JpegState s{};
  jpeg_std_error(&s.err.pub);
  s.err.pub.error_exit = ErrorExit;
  s.err.pub.emit_message = EmitMessage;
  s.err.pub.output_message = OutputMessage;
  s.cinfo.err = &s.err.pub;
  if (!GuardedCreate(&s)) return false;
  bool ok = GuardedHeader(&s, Tables, TablesSize, Data, Size);
  int comps = 0;
  if (ok) {
    // The TIFF page, not markers in the stream, says what the samples are.
    jpeg_decompress_struct& c = s.cinfo;
    c.do_fancy_upsampling = Smooth ? TRUE : FALSE;
    switch (Color) {
      case TTiffJpegColor::Gray:
        comps = 1;
        c.jpeg_color_space = JCS_GRAYSCALE;
        c.out_color_space = JCS_GRAYSCALE;
        break;
      case TTiffJpegColor::Rgb:
        comps = 3;
        c.jpeg_color_space = JCS_RGB;
        c.out_color_space = JCS_RGB;
        break;
      case TTiffJpegColor::YCbCr:
        comps = 3;
        c.jpeg_color_space = JCS_YCbCr;
        c.out_color_space = JCS_RGB;
        break;
      case TTiffJpegColor::Cmyk:
        comps = 4;
        c.jpeg_color_space = JCS_CMYK;
        c.out_color_space = JCS_CMYK;
        break;
    }
    ok = c.num_components == comps && int64_t(c.image_width) <= Width && int64_t(c.image_height) <= Rows &&
         GuardedStart(&s) && int(c.output_components) == comps;
  }
  if (ok) {
    const int64_t rowBytes = Width * comps;
    const int64_t rows = std::min<int64_t>(Rows, s.cinfo.output_height);
    int64_t y = 0;
    while (ok && y < rows) {
      JSAMPROW ptrs[16];
      const int64_t n = std::min<int64_t>(16, rows - y);
      for (int64_t i = 0; i < n; ++i) ptrs[i] = Dest + (y + i) * rowBytes;
      JDIMENSION got = 0;
      ok = GuardedRows(&s, ptrs, JDIMENSION(n), &got);
      if (ok && got == 0) break;  // the library has no more rows
      y += got;
    }
  }
  // Rows not read are dropped with the whole decompressor.
  jpeg_destroy_decompress(&s.cinfo);
  return ok;
}

}  // namespace korvane
