#include "korvane/io/codecs/tiff/tiff_chunks.h"

#include <libdeflate.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/jpeg/jpeg_errors.h"

namespace korvane {

TTiffInflater::TTiffInflater(const uint8_t* Src, size_t SrcSize) : inLeft_(SrcSize) {
  if (inflateInit(&z_) != Z_OK) throw EInvalidGraphic("Invalid TIFF stream");
  z_.next_in = const_cast<Bytef*>(Src);
}

TTiffInflater::~TTiffInflater() { inflateEnd(&z_); }

void TTiffInflater::Read(uint8_t* Dest, size_t Count) {
  z_.next_out = Dest;
  size_t outLeft = Count;
  // zlib counts in uInt: feed and drain in pieces that fit.
  while (!ended_ && (outLeft > 0 || z_.avail_out > 0)) {
    if (z_.avail_in == 0 && inLeft_ > 0) {
      z_.avail_in = uInt(std::min<size_t>(inLeft_, UINT_MAX));
      inLeft_ -= z_.avail_in;
    }
    if (z_.avail_out == 0) {
      z_.avail_out = uInt(std::min<size_t>(outLeft, UINT_MAX));
      outLeft -= z_.avail_out;
    }
    const int r = inflate(&z_, Z_NO_FLUSH);
    if (r == Z_DATA_ERROR || r == Z_NEED_DICT || r == Z_MEM_ERROR || r == Z_STREAM_ERROR)
      throw EInvalidGraphic("Invalid TIFF stream");
    // The end of the stream, or no more data (Z_BUF_ERROR): the rest is 0.
    if (r == Z_STREAM_END || (r == Z_BUF_ERROR && z_.avail_in == 0 && inLeft_ == 0)) ended_ = true;
  }
  const size_t got = size_t(z_.next_out - Dest);
  z_.avail_out = 0;
  if (got < Count) std::memset(Dest + got, 0, Count - got);
}

TTiffDeflate::TTiffDeflate() : d_(libdeflate_alloc_decompressor()) {
  if (!d_) throw std::bad_alloc();
}

TTiffDeflate::~TTiffDeflate() { libdeflate_free_decompressor(d_); }

bool TTiffDeflate::Whole(const uint8_t* Src, size_t SrcSize, uint8_t* Dest, size_t Count) {
  size_t got = 0;
  if (libdeflate_zlib_decompress(d_, Src, SrcSize, Dest, Count, &got) != LIBDEFLATE_SUCCESS) return false;
  if (got < Count) std::memset(Dest + got, 0, Count - got);
  return true;
}

struct TTiffJpegReader::State {
  jpeg_decompress_struct cinfo;
  TJpegErrorMgr err;
  jpeg_progress_mgr progress;
  bool created;
};

namespace {

using JpegState = TTiffJpegReader::State;

// Guarded calls: each sets the jump point and makes a few library calls; a
// false answer means the library raised an error.

bool GuardedCreate(JpegState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_create_decompress(&s->cinfo);
  s->created = true;
  s->progress.progress_monitor = KVJpegScanLimit;
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

TTiffJpegReader::TTiffJpegReader() : s_(std::make_unique<State>()) {
  std::memset(s_.get(), 0, sizeof(State));
  KVInitJpegErrors(s_->err);
  s_->cinfo.err = &s_->err.pub;
}

// Rows not read are dropped with the whole decompressor.
TTiffJpegReader::~TTiffJpegReader() {
  if (s_->created) jpeg_destroy_decompress(&s_->cinfo);
}

bool TTiffJpegReader::Start(const uint8_t* Tables, size_t TablesSize, const uint8_t* Data, size_t Size,
                            TTiffJpegColor Color, bool Smooth, int64_t Width, int64_t Rows, bool Bgr) {
  if (!Data || Size == 0 || Width <= 0 || Rows <= 0 || s_->created) return false;
  if (!GuardedCreate(s_.get()) || !GuardedHeader(s_.get(), Tables, TablesSize, Data, Size)) return false;
  // The TIFF page, not markers in the stream, says what the samples are.
  jpeg_decompress_struct& c = s_->cinfo;
  c.do_fancy_upsampling = Smooth ? TRUE : FALSE;
  switch (Color) {
    case TTiffJpegColor::Gray:
      c.jpeg_color_space = c.out_color_space = JCS_GRAYSCALE;
      break;
    case TTiffJpegColor::Rgb:
      c.jpeg_color_space = JCS_RGB;
      c.out_color_space = Bgr ? JCS_EXT_BGR : JCS_RGB;
      break;
    case TTiffJpegColor::YCbCr:
      c.jpeg_color_space = JCS_YCbCr;
      c.out_color_space = Bgr ? JCS_EXT_BGR : JCS_RGB;
      break;
    case TTiffJpegColor::Cmyk:
      c.jpeg_color_space = c.out_color_space = JCS_CMYK;
      break;
  }
  comps_ = TiffJpegComponents(Color);
  width_ = Width;
  if (c.num_components != comps_ || int64_t(c.image_width) > Width || int64_t(c.image_height) > Rows ||
      !GuardedStart(s_.get()) || c.output_components != comps_)
    return false;
  left_ = c.output_height;
  return true;
}

bool TTiffJpegReader::Read(uint8_t* Dest, int64_t Count) {
  const int64_t rowBytes = width_ * comps_;
  for (int64_t y = 0; y < Count;) {
    uint8_t* ptrs[16];
    const int64_t n = std::min<int64_t>(16, Count - y);
    for (int64_t i = 0; i < n; ++i) ptrs[i] = Dest + (y + i) * rowBytes;
    if (!ReadRows(ptrs, n)) return false;
    y += n;
  }
  return true;
}

bool TTiffJpegReader::ReadRows(uint8_t* const* Rows, int64_t Count) {
  const int64_t rowBytes = width_ * comps_;
  const int64_t cover = int64_t(s_->cinfo.output_width) * comps_;
  int64_t y = 0;
  while (y < Count && left_ > 0) {
    const int64_t n = std::min<int64_t>({16, Count - y, left_});
    JDIMENSION got = 0;
    if (!GuardedRows(s_.get(), const_cast<JSAMPARRAY>(Rows + y), JDIMENSION(n), &got)) return false;
    if (got == 0) {  // the library has no more rows
      left_ = 0;
      break;
    }
    if (cover < rowBytes)
      for (JDIMENSION i = 0; i < got; ++i) std::memset(Rows[y + i] + cover, 0, size_t(rowBytes - cover));
    y += got;
    left_ -= got;
  }
  for (; y < Count; ++y) std::memset(Rows[y], 0, size_t(rowBytes));
  return true;
}

}  // namespace korvane
