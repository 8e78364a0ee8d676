#include "korvane/io/codecs/jpeg/jpeg_codec.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/guarded_stream.h"
#include "korvane/io/codecs/jpeg/jpeg_errors.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/view/system_dpi.h"

namespace korvane {
namespace {

// Size of the stream buffers of the source and destination managers (the
// library's own file managers use the same).
constexpr size_t kBufSize = 4096;
// Memory the library may take for its whole-image buffers (progressive and
// multi-scan files), beyond which it raises an error instead of allocating.
constexpr long kMaxLibraryMemory = 1536L << 20;

std::string ErrorText(int code) { return "Unrecognized JPeg - JPEG error #" + std::to_string(code); }

// Stream transfers for the managers: exceptions of the stream are kept for
// the caller and reported as -1 / false, so that no exception crosses the
// library's frames.
using codecs::ReadSome;
using codecs::WriteAll;

// ---------------------------------------------------------------------------
// Source manager over a TStream, behaving like the library's file source:
// an empty stream is an error, a stream that ends later gets a warning and an
// inserted end-of-image marker.

struct SourceMgr {
  jpeg_source_mgr pub;  // first
  TStream* stream;
  std::exception_ptr* failure;
  bool start_of_file;
  bool inserted_eoi;
  JOCTET buffer[kBufSize];
};

void InitSource(j_decompress_ptr cinfo) { reinterpret_cast<SourceMgr*>(cinfo->src)->start_of_file = true; }

boolean FillInput(j_decompress_ptr cinfo) {
  SourceMgr* s = reinterpret_cast<SourceMgr*>(cinfo->src);
  int64_t n = ReadSome(s->stream, s->buffer, kBufSize, s->failure);
  if (n < 0) ERREXIT(cinfo, JERR_FILE_READ);
  if (n == 0) {
    if (s->start_of_file) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    s->buffer[0] = 0xFF;
    s->buffer[1] = JPEG_EOI;
    n = 2;
    s->inserted_eoi = true;
  }
  s->pub.next_input_byte = s->buffer;
  s->pub.bytes_in_buffer = size_t(n);
  s->start_of_file = false;
  return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count) {
  jpeg_source_mgr* src = cinfo->src;
  if (count <= 0) return;
  while (count > long(src->bytes_in_buffer)) {
    count -= long(src->bytes_in_buffer);
    src->fill_input_buffer(cinfo);
  }
  src->next_input_byte += count;
  src->bytes_in_buffer -= size_t(count);
}

void TermSource(j_decompress_ptr) {}

// ---------------------------------------------------------------------------
// Destination manager over a TStream.

struct DestMgr {
  jpeg_destination_mgr pub;  // first
  TStream* stream;
  std::exception_ptr* failure;
  JOCTET buffer[kBufSize];
};

void InitDest(j_compress_ptr cinfo) {
  DestMgr* d = reinterpret_cast<DestMgr*>(cinfo->dest);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = kBufSize;
}

boolean EmptyOutput(j_compress_ptr cinfo) {
  DestMgr* d = reinterpret_cast<DestMgr*>(cinfo->dest);
  if (!WriteAll(d->stream, d->buffer, kBufSize, d->failure)) ERREXIT(cinfo, JERR_FILE_WRITE);
  d->pub.next_output_byte = d->buffer;
  d->pub.free_in_buffer = kBufSize;
  return TRUE;
}

void TermDest(j_compress_ptr cinfo) {
  DestMgr* d = reinterpret_cast<DestMgr*>(cinfo->dest);
  size_t n = kBufSize - d->pub.free_in_buffer;
  if (n > 0 && !WriteAll(d->stream, d->buffer, int64_t(n), d->failure)) ERREXIT(cinfo, JERR_FILE_WRITE);
}

// ---------------------------------------------------------------------------
// Guarded calls. Each one sets the jump point and makes one or a few library
// calls; it owns nothing with a destructor, so a longjmp back into it skips no
// cleanup. A false answer means the library raised an error (code in err).

struct ReadState {
  jpeg_decompress_struct cinfo;
  TJpegErrorMgr err;
  SourceMgr src;
  jpeg_progress_mgr progress;
};

// The error manager and the stream source of a decompressor about to be
// created; a failure of the stream is kept in *failure.
void PrepareRead(ReadState* s, TStream* stream, std::exception_ptr* failure) {
  KVInitJpegErrors(s->err);
  s->cinfo.err = &s->err.pub;
  s->src.pub.init_source = InitSource;
  s->src.pub.fill_input_buffer = FillInput;
  s->src.pub.skip_input_data = SkipInput;
  s->src.pub.resync_to_restart = jpeg_resync_to_restart;
  s->src.pub.term_source = TermSource;
  s->src.stream = stream;
  s->src.failure = failure;
}

struct WriteState {
  jpeg_compress_struct cinfo;
  TJpegErrorMgr err;
  DestMgr dest;
};

bool GuardedReadHeader(ReadState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_create_decompress(&s->cinfo);
  s->cinfo.mem->max_memory_to_use = kMaxLibraryMemory;
  s->cinfo.src = &s->src.pub;
  s->progress.progress_monitor = KVJpegScanLimit;
  s->cinfo.progress = &s->progress;
  // Exif (APP1) markers are kept for the orientation.
  jpeg_save_markers(&s->cinfo, JPEG_APP0 + 1, 0xFFFF);
  jpeg_read_header(&s->cinfo, TRUE);
  return true;
}

// The orientation (1..8) an Exif block gives in its first directory, 0 when
// it gives none. Every offset is checked against the block.
int ExifOrientation(const uint8_t* p, size_t n) {
  if (n < 6 + 8 || std::memcmp(p, "Exif\0\0", 6) != 0) return 0;
  p += 6;
  n -= 6;
  const bool le = p[0] == 'I' && p[1] == 'I';
  if (!le && !(p[0] == 'M' && p[1] == 'M')) return 0;
  auto u16 = [&](size_t at) { return le ? unsigned(p[at] | p[at + 1] << 8) : unsigned(p[at] << 8 | p[at + 1]); };
  auto u32 = [&](size_t at) { return uint32_t(le ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2)); };
  if (u16(2) != 42) return 0;
  const uint32_t ifd = u32(4);
  if (ifd > n || n - ifd < 2) return 0;
  const unsigned count = u16(ifd);
  for (unsigned i = 0; i < count; ++i) {
    const size_t e = size_t(ifd) + 2 + size_t(i) * 12;
    if (e + 12 > n) break;
    if (u16(e) != 0x0112) continue;
    // A SHORT (type 3) of count 1, held in the first half of the value field.
    if (u16(e + 2) != 3 || u32(e + 4) < 1) return 0;
    const unsigned v = u16(e + 8);
    return v >= 1 && v <= 8 ? int(v) : 0;
  }
  return 0;
}

int MarkersOrientation(const jpeg_decompress_struct& c) {
  for (jpeg_saved_marker_ptr m = c.marker_list; m; m = m->next)
    if (m->marker == JPEG_APP0 + 1)
      if (int o = ExifOrientation(m->data, m->data_length)) return o;
  return 0;
}

bool GuardedCalcOutput(ReadState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_calc_output_dimensions(&s->cinfo);
  return true;
}

bool GuardedStart(ReadState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_start_decompress(&s->cinfo);
  return true;
}

bool GuardedReadRows(ReadState* s, JSAMPARRAY rows, JDIMENSION count, JDIMENSION* got) {
  if (setjmp(s->err.jump)) return false;
  *got = jpeg_read_scanlines(&s->cinfo, rows, count);
  return true;
}

bool GuardedFinishRead(ReadState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_finish_decompress(&s->cinfo);
  return true;
}

// Settings of a compression, gathered before entering the library.
struct WriteSettings {
  int width, height;
  bool cmyk_input;
  J_COLOR_SPACE file_space;
  J_DCT_METHOD dct;
  bool optimize;
  int smoothing;
  int quality;
  bool progressive;
  UINT16 dpix, dpiy;
};

bool GuardedStartCompress(WriteState* s, const WriteSettings* w) {
  if (setjmp(s->err.jump)) return false;
  jpeg_create_compress(&s->cinfo);
  s->cinfo.dest = &s->dest.pub;
  s->cinfo.image_width = JDIMENSION(w->width);
  s->cinfo.image_height = JDIMENSION(w->height);
  s->cinfo.input_components = w->cmyk_input ? 4 : 3;
  s->cinfo.in_color_space = w->cmyk_input ? JCS_CMYK : JCS_EXT_BGR;
  jpeg_set_defaults(&s->cinfo);
  jpeg_set_colorspace(&s->cinfo, w->file_space);
  s->cinfo.density_unit = 1;
  s->cinfo.X_density = w->dpix;
  s->cinfo.Y_density = w->dpiy;
  s->cinfo.dct_method = w->dct;
  s->cinfo.optimize_coding = w->optimize ? TRUE : FALSE;
  s->cinfo.smoothing_factor = w->smoothing;
  jpeg_set_quality(&s->cinfo, w->quality, TRUE);
  if (w->progressive) jpeg_simple_progression(&s->cinfo);
  jpeg_start_compress(&s->cinfo, TRUE);
  return true;
}

bool GuardedWriteRow(WriteState* s, JSAMPROW row) {
  if (setjmp(s->err.jump)) return false;
  jpeg_write_scanlines(&s->cinfo, &row, 1);
  return true;
}

bool GuardedFinishCompress(WriteState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_finish_compress(&s->cinfo);
  return true;
}

J_DCT_METHOD DctMethod(TIOJPEGDctMethod m) {
  switch (m) {
    case ioJPEG_IFAST:
      return JDCT_IFAST;
    case ioJPEG_FLOAT:
      return JDCT_FLOAT;
    default:
      return JDCT_ISLOW;
  }
}

int ScaleDenom(const TIOParamsVals& p, int64_t w, int64_t h) {
  switch (p.JPEG_Scale) {
    case ioJPEG_AUTOCALC:
      return JPegAutoScaleDenom(w, h, p.Width, p.Height);
    case ioJPEG_HALF:
      return 2;
    case ioJPEG_QUARTER:
      return 4;
    case ioJPEG_EIGHTH:
      return 8;
    default:
      return 1;
  }
}

// Resolution from the JFIF density: dots per inch as stored, dots per
// centimetre converted; unit 0 (an aspect ratio only) and zero densities
// carry no resolution and give the system's.
void SetResolution(const jpeg_decompress_struct& c, TIOParamsVals& p) {
  auto dpi = [&](int density, int screen) {
    if (density <= 0 || c.density_unit == 0) return screen;
    if (c.density_unit == 2) return int(density * 2.54);
    return density;
  };
  p.DpiX = dpi(c.X_density, SystemDpiX());
  p.DpiY = dpi(c.Y_density, SystemDpiY());
}

UINT16 DensityOf(int dpi) { return UINT16(dpi < 1 ? 1 : dpi > 65535 ? 65535 : dpi); }

}  // namespace

int JPegAutoScaleDenom(int64_t ImageW, int64_t ImageH, int64_t WantW, int64_t WantH) {
  const int64_t want = WantW * WantH;
  if (want == 0) return 1;
  const int64_t area = ImageW * ImageH;
  int best = 0;
  int64_t best_diff = 0;
  for (int i = 0; i <= 3; ++i) {
    int64_t d = want - (area >> (2 * i));  // scaling both sides by 2^i divides the area by 4^i
    if (d < 0) d = -d;
    if (i == 0 || d < best_diff) {
      best = i;
      best_diff = d;
    }
  }
  return 1 << best;
}

void ReadJPegStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                    TProgressRec& Progress) {
  std::exception_ptr failure;
  auto s = std::make_unique<ReadState>();  // value-initialised: zeroed
  PrepareRead(s.get(), Stream, &failure);
  // The decompressor and everything the library allocated go on every path.
  struct Destroy {
    ReadState* s;
    ~Destroy() { jpeg_destroy_decompress(&s->cinfo); }
  } destroy{s.get()};
  auto fail = [&](int code) {
    if (failure) std::rethrow_exception(failure);
    throw EInvalidGraphic(ErrorText(code));
  };

  int64_t available = -1;
  try {
    available = Stream->Remaining();
  } catch (const EStreamError&) {
  }

  if (!GuardedReadHeader(s.get())) fail(s->err.code);
  jpeg_decompress_struct& c = s->cinfo;

  // Refuse sizes the data cannot plausibly fill before any image buffer
  // exists: the library would allocate them and then decode the missing part
  // of the file as flat gray.
  const int64_t pixels = int64_t(c.image_width) * c.image_height;
  int64_t limit = kJpegMaxPixels;
  if (available >= 0 && available < kJpegMaxPixels / kJpegMaxPixelsPerByte)
    limit = std::max(kJpegPixelFloor, available * kJpegMaxPixelsPerByte);
  if (pixels > limit) fail(JERR_IMAGE_TOO_BIG);

  switch (c.jpeg_color_space) {
    case JCS_GRAYSCALE:
      Params.JPEG_ColorSpace = ioJPEG_GRAYLEV;
      break;
    case JCS_RGB:
      Params.JPEG_ColorSpace = ioJPEG_RGB;
      break;
    case JCS_YCbCr:
      Params.JPEG_ColorSpace = ioJPEG_YCbCr;
      break;
    case JCS_CMYK:
      Params.JPEG_ColorSpace = ioJPEG_CMYK;
      break;
    case JCS_YCCK:
      Params.JPEG_ColorSpace = ioJPEG_YCbCrK;
      break;
    default:
      break;
  }
  const bool cmyk = c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK;
  // Bitmap rows are blue, green, red: the library writes that order itself.
  c.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGR;
  c.dct_method = DctMethod(Params.JPEG_DCTMethod);
  SetResolution(c, Params);
  Params.BitsPerSample = 8;
  Params.SamplesPerPixel = 3;
  Params.FreeColorMap();
  // Progressive means the frame is coded progressively (SOF2): a sequential
  // file may also be split into several scans.
  Params.JPEG_Progressive = c.progressive_mode != 0;
  const int orientation = MarkersOrientation(c);
  Params.Orientation = orientation ? orientation : 1;
  c.scale_num = 1;
  c.scale_denom = unsigned(ScaleDenom(Params, c.image_width, c.image_height));

  if (ParamsOnly) {
    // The output size without decoding anything (a progressive file would be
    // read whole by jpeg_start_decompress).
    if (!GuardedCalcOutput(s.get())) fail(s->err.code);
    Params.Width = int32_t(c.output_width);
    Params.Height = int32_t(c.output_height);
    return;
  }
  if (!GuardedStart(s.get())) fail(s->err.code);
  const int w = int(c.output_width), h = int(c.output_height);
  Params.Width = w;
  Params.Height = h;

  // Every row is written, so a bitmap of the right size and format is reused
  // as it is: a fresh 36 MB block costs as much in page faults as decoding a
  // 12-megapixel photo. When the decoding stops early (an abort, an error)
  // the rows it did not reach are cleared, as a fresh block would be, so
  // nothing of the previous picture shows.
  const bool reused = Bitmap->PixelFormat() == pf24bit && Bitmap->Width() == w && Bitmap->Height() == h;
  if (!reused) Bitmap->Allocate(w, h, pf24bit);
  int y = 0;
  struct ClearRest {
    TBitmap* b;
    const int* y;
    int h;
    bool active;
    ~ClearRest() {
      if (!active) return;
      for (int r = *y; r < h; ++r) std::memset(b->Scanline(r), 0, size_t(b->Width()) * 3);
    }
  } clearRest{Bitmap, &y, h, reused};
  const ptrdiff_t stride = h > 1 ? Bitmap->Scanline(1) - Bitmap->Scanline(0) : 0;
  const int batch = (stride > 0 && stride % 4 == 0) ? imax(1, c.rec_outbuf_height) : 1;
  std::vector<JSAMPROW> rows(size_t(batch), nullptr);
  std::vector<uint8_t> work;  // CMYK rows before conversion
  if (cmyk) {
    work.resize(size_t(w) * 4 * size_t(batch));
    for (int i = 0; i < batch; ++i) rows[size_t(i)] = work.data() + size_t(w) * 4 * size_t(i);
  }

  Progress.Scale = h > 0 ? 100.0 / h : 0;
  Progress.Done = 0;
  bool aborted = false;
  while (y < h) {
    const int n = imin(batch, h - y);
    if (!cmyk)
      for (int i = 0; i < n; ++i) rows[size_t(i)] = Bitmap->Scanline(y + i);
    JDIMENSION got = 0;
    if (!GuardedReadRows(s.get(), rows.data(), JDIMENSION(n), &got)) fail(s->err.code);
    if (got == 0) break;  // the library always delivers; stop rather than spin
    if (cmyk) {
      // The samples are stored inverted (255 = no ink), so the color is the
      // sample scaled by the key: red = c * k / 255, and so on.
      for (JDIMENSION i = 0; i < got; ++i) {
        const uint8_t* src = rows[i];
        TRGB* dst = reinterpret_cast<TRGB*>(Bitmap->Scanline(y + int(i)));
        for (int x = 0; x < w; ++x, src += 4) {
          const unsigned k = src[3];
          dst[x].r = uint8_t(src[0] * k / 255);
          dst[x].g = uint8_t(src[1] * k / 255);
          dst[x].b = uint8_t(src[2] * k / 255);
        }
      }
    }
    y += int(got);
    Progress.Done = y;
    ReportProgress(Progress, int(int64_t(y) * 100 / h));
    if (AbortRequested(Progress)) {
      aborted = true;
      break;
    }
  }
  if (!aborted && y >= h) {
    if (!GuardedFinishRead(s.get())) fail(s->err.code);
    // Give back what the source read beyond the image, so that the stream
    // stands right after it.
    if (!s->src.inserted_eoi && c.src->bytes_in_buffer > 0) {
      try {
        Stream->Seek(-int64_t(c.src->bytes_in_buffer), soCurrent);
      } catch (const EStreamError&) {
      }
    }
  }
}

void WriteJPegStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  // The encoder takes 24-bit rows; other formats go through a copy.
  std::unique_ptr<TBitmap> widened;
  TBitmap* src = Bitmap;
  if (Bitmap->PixelFormat() != pf24bit) {
    widened = std::make_unique<TBitmap>();
    if (Bitmap->PixelFormat() == pf1bit) {
      TProgressRec none;
      _Conv1to24(Bitmap, widened.get(), none);
    } else {
      widened->Assign(Bitmap);
      widened->SetPixelFormat(pf24bit);
    }
    src = widened.get();
  }

  WriteSettings ws{};
  ws.width = src->Width();
  ws.height = src->Height();
  switch (Params.JPEG_ColorSpace) {
    case ioJPEG_RGB:
      ws.file_space = JCS_RGB;
      break;
    case ioJPEG_GRAYLEV:
      ws.file_space = JCS_GRAYSCALE;
      break;
    case ioJPEG_CMYK:
      ws.file_space = JCS_CMYK;
      ws.cmyk_input = true;
      break;
    case ioJPEG_YCbCrK:
      ws.file_space = JCS_YCCK;
      ws.cmyk_input = true;
      break;
    default:
      ws.file_space = JCS_YCbCr;
      break;
  }
  ws.dct = DctMethod(Params.JPEG_DCTMethod);
  ws.optimize = Params.JPEG_OptimalHuffman;
  ws.smoothing = ilimit(Params.JPEG_Smooth, 0, 100);
  ws.quality = ilimit(Params.JPEG_Quality, 1, 100);
  ws.progressive = Params.JPEG_Progressive;
  ws.dpix = DensityOf(Params.DpiX);
  ws.dpiy = DensityOf(Params.DpiY);

  std::exception_ptr failure;
  auto s = std::make_unique<WriteState>();
  KVInitJpegErrors(s->err);
  s->cinfo.err = &s->err.pub;
  s->dest.pub.init_destination = InitDest;
  s->dest.pub.empty_output_buffer = EmptyOutput;
  s->dest.pub.term_destination = TermDest;
  s->dest.stream = Stream;
  s->dest.failure = &failure;
  struct Destroy {
    WriteState* s;
    ~Destroy() { jpeg_destroy_compress(&s->cinfo); }
  } destroy{s.get()};
  auto fail = [&](int code) {
    if (failure) std::rethrow_exception(failure);
    throw EInvalidGraphic(ErrorText(code));
  };

  if (!GuardedStartCompress(s.get(), &ws)) fail(s->err.code);
  const int w = ws.width, h = ws.height;
  std::vector<uint8_t> work(ws.cmyk_input ? size_t(w) * 4 : 0);
  Progress.Scale = h > 0 ? 100.0 / h : 0;
  Progress.Done = 0;
  for (int y = 0; y < h; ++y) {
    JSAMPROW row;
    if (ws.cmyk_input) {
      // k is the brightest channel and the others are relative to it, the
      // inverse of the reader's c * k / 255.
      const TRGB* p = reinterpret_cast<const TRGB*>(src->Scanline(y));
      uint8_t* d = work.data();
      for (int x = 0; x < w; ++x, d += 4) {
        unsigned k = imax(p[x].r, imax(p[x].g, p[x].b));
        if (k == 0) k = 1;
        d[0] = uint8_t(p[x].r * 255u / k);
        d[1] = uint8_t(p[x].g * 255u / k);
        d[2] = uint8_t(p[x].b * 255u / k);
        d[3] = uint8_t(k);
      }
      row = work.data();
    } else {
      row = src->Scanline(y);
    }
    if (!GuardedWriteRow(s.get(), row)) fail(s->err.code);
    Progress.Done = y + 1;
    ReportProgress(Progress, int(int64_t(y + 1) * 100 / h));
    if (AbortRequested(Progress)) return;  // a truncated file, by request
  }
  if (!GuardedFinishCompress(s.get())) fail(s->err.code);
}

// ---------------------------------------------------------------------------
// Quality estimate

namespace {

// The example tables of the JPEG standard (Annex K), natural order: libjpeg
// scales them by the quality setting.
constexpr int kStdLuminance[64] = {16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
                                   14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
                                   18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
                                   49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};
constexpr int kStdChrominance[64] = {17, 18, 24, 47, 99, 99, 99, 99, 18, 21, 26, 66, 99, 99, 99, 99,
                                     24, 26, 56, 99, 99, 99, 99, 99, 47, 66, 99, 99, 99, 99, 99, 99,
                                     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
                                     99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

// An entry of a standard table as libjpeg writes it at a quality, with
// baseline (8-bit) values.
int ScaledEntry(int basic, int quality) {
  const int scale = quality < 50 ? 5000 / quality : 200 - quality * 2;
  return std::clamp((basic * scale + 50) / 100, 1, 255);
}

bool GuardedHeaderOnly(ReadState* s) {
  if (setjmp(s->err.jump)) return false;
  jpeg_create_decompress(&s->cinfo);
  s->cinfo.mem->max_memory_to_use = kMaxLibraryMemory;
  s->cinfo.src = &s->src.pub;
  jpeg_read_header(&s->cinfo, TRUE);
  return true;
}

}  // namespace

int JPegEstimateQuality(TStream* Stream) {
  std::exception_ptr failure;
  auto s = std::make_unique<ReadState>();
  PrepareRead(s.get(), Stream, &failure);
  struct Destroy {
    ReadState* s;
    ~Destroy() { jpeg_destroy_decompress(&s->cinfo); }
  } destroy{s.get()};
  int64_t start = 0;
  try {
    start = Stream->Position();
  } catch (const EStreamError&) {
    return 0;
  }
  const bool read = GuardedHeaderOnly(s.get());
  try {
    Stream->SetPosition(start);
  } catch (const EStreamError&) {
  }
  if (!read) return 0;

  // The file's measure: the sum of every table, and a few entries that the
  // quality moves most (two of the luminance table, the first and last of
  // the chrominance table).
  const JQUANT_TBL* const* q = s->cinfo.quant_tbl_ptrs;
  if (!q[0]) return 0;
  const bool two = q[1] != nullptr;
  long sum = 0;
  for (int t = 0; t < NUM_QUANT_TBLS; ++t)
    if (q[t])
      for (int i = 0; i < DCTSIZE2; ++i) sum += q[t]->quantval[i];
  const long key =
      q[0]->quantval[2] + q[0]->quantval[53] + (two ? q[1]->quantval[0] + q[1]->quantval[63] : 0);

  // The same measures of the standard tables at each quality, from the
  // coarsest (1) up: the first quality the file's tables are not both
  // coarser than is the estimate, when the file's are no finer there (or
  // the quality is above 50, where the tables differ less).
  for (int quality = 1; quality <= 100; ++quality) {
    long stdSum = 0;
    for (int i = 0; i < 64; ++i) {
      stdSum += ScaledEntry(kStdLuminance[i], quality);
      if (two) stdSum += ScaledEntry(kStdChrominance[i], quality);
    }
    const long stdKey =
        ScaledEntry(kStdLuminance[2], quality) + ScaledEntry(kStdLuminance[53], quality) +
        (two ? ScaledEntry(kStdChrominance[0], quality) + ScaledEntry(kStdChrominance[63], quality) : 0);
    if (key < stdKey && sum < stdSum) continue;
    if ((key <= stdKey && sum <= stdSum) || quality > 50) return quality;
    return 0;
  }
  return 0;
}

}  // namespace korvane
