#include "korvane/io/codecs/png/png_codec.h"

#include <png.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/bilevel.h"
#include "korvane/io/codecs/guarded_stream.h"
#include "korvane/pixels/bitmap_procs.h"
#include "korvane/pixels/colordepth.h"
#include "korvane/view/system_dpi.h"

namespace korvane {
namespace {

constexpr const char* kReadError = "Unrecognized PNG";
constexpr const char* kWriteError = "Error on creating PNG";
// Per-side limit handed to libpng, which checks it while reading the header.
constexpr png_uint_32 kMaxSide = 1u << 20;

// What the stream callbacks need: the stream and a place for an exception it
// raised, rethrown once libpng has been left.
struct StreamIO {
  TStream* stream;
  std::exception_ptr* failure;
};

using codecs::ReadSome;
using codecs::WriteAll;

// libpng errors leave through png_longjmp to the setjmp of the guarded call
// that entered the library. The frames in between are libpng's and these
// callbacks, which hold nothing with a destructor when they jump.
void ErrorFn(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void WarningFn(png_structp, png_const_charp) {}

void ReadFn(png_structp png, png_bytep data, size_t length) {
  StreamIO* io = static_cast<StreamIO*>(png_get_io_ptr(png));
  if (ReadSome(io->stream, data, int64_t(length), io->failure) != int64_t(length))
    png_error(png, "Read Error");
}
void WriteFn(png_structp png, png_bytep data, size_t length) {
  StreamIO* io = static_cast<StreamIO*>(png_get_io_ptr(png));
  if (!WriteAll(io->stream, data, int64_t(length), io->failure)) png_error(png, "Write Error");
}
void FlushFn(png_structp) {}

// ---------------------------------------------------------------------------
// Guarded calls: each sets the jump point and makes its libpng calls, owning
// nothing with a destructor. False means libpng raised an error.

struct PngHandles {
  png_structp png = nullptr;
  png_infop info = nullptr;
};

bool GuardedReadInfo(PngHandles* h) {
  if (setjmp(png_jmpbuf(h->png))) return false;
  png_read_info(h->png, h->info);
  return true;
}

// The transformations asked of libpng on load.
struct ReadPlan {
  png_color_16 background;  // the file's bKGD or PNG_Background
  bool from_file;
  bool expand_background;  // background in the file's format, else in the 8-bit output's
  bool expand, strip16, packing, gray_to_rgb, bgr;
  int passes;
};

bool GuardedSetupRead(PngHandles* h, ReadPlan* p) {
  if (setjmp(png_jmpbuf(h->png))) return false;
  png_structp png = h->png;
  png_set_background(png, &p->background,
                     p->from_file ? PNG_BACKGROUND_GAMMA_FILE : PNG_BACKGROUND_GAMMA_SCREEN,
                     p->expand_background ? 1 : 0, 1.0);
  if (p->expand) png_set_expand(png);
  if (p->strip16) png_set_strip_16(png);
  if (p->packing) png_set_packing(png);
  if (p->gray_to_rgb) png_set_gray_to_rgb(png);
  if (p->bgr) png_set_bgr(png);
  p->passes = png_set_interlace_handling(png);
  png_read_update_info(png, h->info);
  return true;
}

bool GuardedReadRow(PngHandles* h, png_bytep row) {
  if (setjmp(png_jmpbuf(h->png))) return false;
  png_read_row(h->png, row, nullptr);
  return true;
}

bool GuardedReadEnd(PngHandles* h) {
  if (setjmp(png_jmpbuf(h->png))) return false;
  png_read_end(h->png, nullptr);
  return true;
}

// Header and chunks of a file to write.
struct WritePlan {
  png_uint_32 width, height;
  int depth, color_type, interlace, filter, level;
  bool bgr;
  png_color* palette;  // palette images: palette_count entries
  int palette_count;
  png_color_16 background;
  png_uint_32 ppm_x, ppm_y;  // 0: no pHYs
  int passes;
};

bool GuardedStartWrite(PngHandles* h, WritePlan* p) {
  if (setjmp(png_jmpbuf(h->png))) return false;
  png_structp png = h->png;
  png_set_IHDR(png, h->info, p->width, p->height, p->depth, p->color_type, p->interlace,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (p->palette) png_set_PLTE(png, h->info, p->palette, p->palette_count);
  if (p->ppm_x > 0 && p->ppm_y > 0) png_set_pHYs(png, h->info, p->ppm_x, p->ppm_y, PNG_RESOLUTION_METER);
  png_set_bKGD(png, h->info, &p->background);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, p->filter);
  png_set_compression_level(png, p->level);
  if (p->bgr) png_set_bgr(png);
  png_write_info(png, h->info);
  p->passes = png_set_interlace_handling(png);
  return true;
}

bool GuardedWriteRow(PngHandles* h, png_bytep row) {
  if (setjmp(png_jmpbuf(h->png))) return false;
  png_write_row(h->png, row);
  return true;
}

bool GuardedWriteEnd(PngHandles* h) {
  if (setjmp(png_jmpbuf(h->png))) return false;
  png_write_end(h->png, h->info);
  return true;
}

// Resolution of pHYs in pixels per metre; 0 and other units give the
// system's.
int DpiOf(png_uint_32 ppm, int unit, int screen) {
  if (unit != PNG_RESOLUTION_METER || ppm == 0) return screen;
  double dpi = std::round(double(ppm) / 100.0 * 2.54);
  return dpi > 0x7FFFFFFF ? 0x7FFFFFFF : dpi < 1 ? 1 : int(dpi);
}

// An 8-bit level from a sample of the given depth (16-bit keeps its high
// byte, lower depths scale to the full range).
uint8_t To8(unsigned v, int depth) {
  if (depth >= 16) return uint8_t(v >> 8);
  if (depth == 8) return uint8_t(v);
  const unsigned max = (1u << depth) - 1;
  return uint8_t((v & max) * 255u / max);
}
// The reverse, rounded.
png_uint_16 FromTo8(unsigned v8, int depth) {
  if (depth >= 16) return png_uint_16(v8 * 257u);
  const unsigned max = (1u << depth) - 1;
  return png_uint_16((v8 * max + 127u) / 255u);
}

// Luminance of a color, rounded, white staying 255 (a gray background level
// for gray images).
unsigned Luma(TRGB c) { return (299u * c.r + 587u * c.g + 114u * c.b + 500u) / 1000u; }

}  // namespace

void ReadPNGStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                   TProgressRec& Progress) {
  std::exception_ptr failure;
  StreamIO io{Stream, &failure};
  PngHandles h;
  struct Destroy {
    PngHandles* h;
    ~Destroy() { png_destroy_read_struct(&h->png, h->info ? &h->info : nullptr, nullptr); }
  } destroy{&h};
  auto fail = [&] {
    if (failure) std::rethrow_exception(failure);
    throw EInvalidGraphic(kReadError);
  };

  int64_t available = -1;
  try {
    available = Stream->Remaining();
  } catch (const EStreamError&) {
  }

  h.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
  if (!h.png) fail();
  h.info = png_create_info_struct(h.png);
  if (!h.info) fail();
  png_set_read_fn(h.png, &io, ReadFn);
  png_set_user_limits(h.png, kMaxSide, kMaxSide);
  png_set_chunk_cache_max(h.png, 1000);
  png_set_chunk_malloc_max(h.png, 8u << 20);
  // Only the chunks the reader uses are handled; the rest are skipped unread.
  // libpng would otherwise allocate (and clear) a buffer of whatever length a
  // text, profile or suggested-palette chunk declares before finding the data
  // missing: 2 GB for a 78-byte file.
  static const png_byte kUsed[] = "bKGD\0gAMA\0pHYs";
  png_set_keep_unknown_chunks(h.png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_keep_unknown_chunks(h.png, PNG_HANDLE_CHUNK_AS_DEFAULT, kUsed, 3);
  if (!GuardedReadInfo(&h)) fail();

  const png_uint_32 width = png_get_image_width(h.png, h.info);
  const png_uint_32 height = png_get_image_height(h.png, h.info);
  const int depth = png_get_bit_depth(h.png, h.info);
  const int color = png_get_color_type(h.png, h.info);
  const bool interlaced = png_get_interlace_type(h.png, h.info) != PNG_INTERLACE_NONE;
  const bool palette = color == PNG_COLOR_TYPE_PALETTE;
  const bool has_trns = png_get_valid(h.png, h.info, PNG_INFO_tRNS) != 0;

  Params.Width = int32_t(width);
  Params.Height = int32_t(height);
  Params.BitsPerSample = depth;
  switch (color) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      Params.SamplesPerPixel = 2;
      break;
    case PNG_COLOR_TYPE_RGB:
      Params.SamplesPerPixel = 3;
      break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      Params.SamplesPerPixel = 4;
      break;
    default:
      Params.SamplesPerPixel = 1;
      break;
  }
  png_uint_32 ppm_x = 0, ppm_y = 0;
  int unit = -1;
  if (!png_get_pHYs(h.png, h.info, &ppm_x, &ppm_y, &unit)) unit = -1;
  Params.DpiX = DpiOf(ppm_x, unit, SystemDpiX());
  Params.DpiY = DpiOf(ppm_y, unit, SystemDpiY());
  Params.PNG_Interlaced = interlaced;

  png_colorp plte = nullptr;
  int plte_count = 0;
  Params.FreeColorMap();
  if (palette && png_get_PLTE(h.png, h.info, &plte, &plte_count) && plte_count > 0) {
    TRGB* map = Params.AllocColorMap(plte_count);
    for (int i = 0; i < plte_count; ++i) map[i] = CreateRGB(plte[i].red, plte[i].green, plte[i].blue);
  }

  ReadPlan plan{};
  // libpng composites after expanding low-depth gray to 8 bits, without
  // expanding the background with it: such files get an 8-bit level.
  const bool gray = (color & PNG_COLOR_MASK_COLOR) == 0;
  const bool gray_low = gray && depth < 8;
  png_color_16p bkgd = nullptr;
  plan.from_file = png_get_bKGD(h.png, h.info, &bkgd) && bkgd;
  if (plan.from_file) {
    // libpng fills red, green and blue from the palette for palette files and
    // with the gray level for gray ones, in the file's own depth.
    const int d = palette ? 8 : depth;
    Params.PNG_Background = CreateRGB(To8(bkgd->red, d), To8(bkgd->green, d), To8(bkgd->blue, d));
    plan.background = *bkgd;
    plan.expand_background = !gray_low;
    if (gray_low)
      plan.background.red = plan.background.green = plan.background.blue = plan.background.gray =
          To8(bkgd->gray, depth);
  } else {
    // The caller's background in the file's depth (libpng expands it with the
    // image); palette and low-depth gray files are composited at 8 bits.
    const TRGB b = Params.PNG_Background;
    const int d = palette || gray_low ? 8 : depth;
    plan.background.red = FromTo8(b.r, d);
    plan.background.green = FromTo8(b.g, d);
    plan.background.blue = FromTo8(b.b, d);
    plan.background.gray = FromTo8(Luma(b), d);
    if (gray)  // gray files are composited over the background's gray level
      plan.background.red = plan.background.green = plan.background.blue = plan.background.gray;
    plan.expand_background = !palette && !gray_low;
  }
  if (ParamsOnly) return;

  // 1-bit files without transparency keep their packed rows when they are
  // black and white (gray, or a palette of black and white in either order);
  // everything else becomes 8-bit blue, green, red.
  TTwoColorLoad two = tclBlackWhite;
  if (palette) {
    auto entry = [&](int i) {
      return i < plte_count ? CreateRGB(plte[i].red, plte[i].green, plte[i].blue) : TRGB{0, 0, 0};
    };
    two = TwoColorLoad(entry(0), entry(1));
  }
  const bool one_bit =
      depth == 1 && !has_trns && (color == PNG_COLOR_TYPE_GRAY || palette) && two != tclColors;
  plan.expand = !one_bit && (palette || (gray && depth < 8) || has_trns);
  plan.strip16 = depth == 16;
  plan.packing = !one_bit && depth < 8;
  plan.gray_to_rgb = !one_bit && gray;
  plan.bgr = !one_bit;

  // Refuse sizes the data cannot fill before anything is allocated. The
  // filtered rows (one filter byte each) come from inflating the remaining
  // data, which deflate expands at most kPngMaxInflateRatio times.
  const int channels = png_get_channels(h.png, h.info);
  const int64_t pixels = int64_t(width) * height;
  const int64_t raw = int64_t(height) * ((int64_t(width) * channels * depth + 7) / 8 + 1);
  if (pixels > kPngMaxPixels) fail();
  if (available >= 0 && raw > available * kPngMaxInflateRatio + 4096) fail();

  if (!GuardedSetupRead(&h, &plan)) fail();
  // The transformed rows must be exactly what the bitmap holds.
  const int out_depth = png_get_bit_depth(h.png, h.info);
  const int out_channels = png_get_channels(h.png, h.info);
  const size_t rowbytes = png_get_rowbytes(h.png, h.info);
  if (one_bit ? (out_depth != 1 || out_channels != 1 || rowbytes != (size_t(width) + 7) / 8)
              : (out_depth != 8 || out_channels != 3 || rowbytes != size_t(width) * 3))
    fail();

  const int w = int(width), ht = int(height);
  Bitmap->Allocate(w, ht, one_bit ? pf1bit : pf24bit);
  const int passes = imax(1, plan.passes);
  const int64_t units = int64_t(ht) * passes;
  Progress.Scale = units > 0 ? 100.0 / double(units) : 0;
  Progress.Done = 0;
  bool aborted = false;
  int64_t done = 0;
  for (int pass = 0; pass < passes && !aborted; ++pass) {
    for (int y = 0; y < ht; ++y) {
      if (!GuardedReadRow(&h, Bitmap->Scanline(y))) fail();
      ++done;
      Progress.Done = int32_t(done);
      ReportProgress(Progress, int(done * 100 / units));
      if (AbortRequested(Progress)) {
        aborted = true;
        break;
      }
    }
  }
  if (!aborted && !GuardedReadEnd(&h)) fail();

  // A palette of white then black is flipped, so that bit 1 shows white.
  if (one_bit && palette && two == tclWhiteBlack) {
    const int bytes = (w + 7) / 8;
    for (int y = 0; y < ht; ++y) {
      uint8_t* row = Bitmap->Scanline(y);
      for (int i = 0; i < bytes; ++i) row[i] = uint8_t(~row[i]);
    }
  }
}

void WritePNGStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  enum {
    kRGB,
    kGray1,
    kPalette
  } mode = Params.SamplesPerPixel != 1 ? kRGB
           : Params.BitsPerSample == 1 ? kGray1
                                       : kPalette;

  // The rows to write: the bitmap itself when its format fits, else a copy.
  std::unique_ptr<TBitmap> temp;
  TBitmap* src = Bitmap;
  TProgressRec quiet;
  auto widen = [&] {
    if (src->PixelFormat() == pf24bit) return;
    auto t = std::make_unique<TBitmap>();
    if (src->PixelFormat() == pf1bit) {
      _Conv1to24(src, t.get(), quiet);
    } else {
      t->Assign(src);
      t->SetPixelFormat(pf24bit);
    }
    temp = std::move(t);
    src = temp.get();
  };
  // The two colors of a 1-bit image other than black and white go into a
  // two-entry palette.
  std::vector<png_color> plte;
  if (mode == kGray1 && src->PixelFormat() != pf1bit) {
    widen();
    // Two colors map straight to bits 0 and 1, the darker to 0; anything
    // else is dithered to black and white.
    TRGB c0, c1;
    if (std::unique_ptr<TBitmap> two = _ConvertTo1bit(src, c0, c1)) {
      temp = std::move(two);
      const bool blackWhite = (c0.r | c0.g | c0.b) == 0 && (c1.r & c1.g & c1.b) == 255;
      if (!blackWhite) plte = {png_color{c0.r, c0.g, c0.b}, png_color{c1.r, c1.g, c1.b}};
    } else {
      if (!temp) {
        temp = std::make_unique<TBitmap>();
        temp->Assign(src);
      }
      _ConvertToBWOrdered(temp.get(), quiet);
    }
    src = temp.get();
  } else if (mode != kGray1) {
    widen();
  }

  WritePlan plan{};
  plan.width = png_uint_32(imax(0, src->Width()));
  plan.height = png_uint_32(imax(0, src->Height()));
  plan.interlace = Params.PNG_Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE;
  switch (Params.PNG_Filter) {
    case ioPNG_FILTER_SUB:
      plan.filter = PNG_FILTER_SUB;
      break;
    case ioPNG_FILTER_PAETH:
      plan.filter = PNG_FILTER_PAETH;
      break;
    default:
      plan.filter = PNG_FILTER_NONE;
      break;
  }
  plan.level = ilimit(Params.PNG_Compression, 0, 9);
  auto ppm = [](int dpi) { return dpi > 0 ? png_uint_32(std::lround(dpi * 100.0 / 2.54)) : 0u; };
  plan.ppm_x = ppm(Params.DpiX);
  plan.ppm_y = ppm(Params.DpiY);
  const TRGB bg = Params.PNG_Background;

  std::unique_ptr<TPaletteMap> quant;
  std::vector<uint8_t> indices;
  switch (mode) {
    case kRGB:
      plan.depth = 8;
      plan.color_type = PNG_COLOR_TYPE_RGB;
      plan.bgr = true;
      plan.background.red = bg.r;
      plan.background.green = bg.g;
      plan.background.blue = bg.b;
      break;
    case kGray1:
      plan.depth = 1;
      if (plte.empty()) {
        plan.color_type = PNG_COLOR_TYPE_GRAY;
        plan.background.gray = Luma(bg) >= 128 ? 1 : 0;
      } else {
        plan.color_type = PNG_COLOR_TYPE_PALETTE;
        plan.palette = plte.data();
        plan.palette_count = 2;
        const int d0 =
            std::abs(plte[0].red - bg.r) + std::abs(plte[0].green - bg.g) + std::abs(plte[0].blue - bg.b);
        const int d1 =
            std::abs(plte[1].red - bg.r) + std::abs(plte[1].green - bg.g) + std::abs(plte[1].blue - bg.b);
        plan.background.index = d1 < d0 ? 1 : 0;
      }
      break;
    case kPalette: {
      plan.depth = 8;
      plan.color_type = PNG_COLOR_TYPE_PALETTE;
      std::vector<TRGB> pal(256, TRGB{0, 0, 0});
      int count = 1;
      if (!src->Empty()) {
        quant = std::make_unique<TPaletteMap>(src, 256);
        pal = quant->Palette();
        count = std::max(quant->Used(), 1);
      }
      plte.resize(size_t(count));
      for (int i = 0; i < count; ++i)
        plte[size_t(i)] = png_color{pal[size_t(i)].r, pal[size_t(i)].g, pal[size_t(i)].b};
      plan.palette = plte.data();
      plan.palette_count = count;
      plan.background.index = png_byte(quant ? quant->Index(bg) : 0);
      indices.resize(size_t(plan.width));
      Params.SetColorMap(pal.data(), count);
      break;
    }
  }

  std::exception_ptr failure;
  StreamIO io{Stream, &failure};
  PngHandles h;
  struct Destroy {
    PngHandles* h;
    ~Destroy() { png_destroy_write_struct(&h->png, h->info ? &h->info : nullptr); }
  } destroy{&h};
  auto fail = [&] {
    if (failure) std::rethrow_exception(failure);
    throw EInvalidGraphic(kWriteError);
  };
  h.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, ErrorFn, WarningFn);
  if (!h.png) fail();
  h.info = png_create_info_struct(h.png);
  if (!h.info) fail();
  png_set_write_fn(h.png, &io, WriteFn, FlushFn);
  if (!GuardedStartWrite(&h, &plan)) fail();

  const int w = int(plan.width), ht = int(plan.height);
  const int passes = imax(1, plan.passes);
  const int64_t units = int64_t(ht) * passes;
  Progress.Scale = units > 0 ? 100.0 / double(units) : 0;
  Progress.Done = 0;
  int64_t done = 0;
  for (int pass = 0; pass < passes; ++pass) {
    for (int y = 0; y < ht; ++y) {
      png_bytep row = src->Scanline(y);
      if (mode == kPalette) {
        const TRGB* p = reinterpret_cast<const TRGB*>(row);
        for (int x = 0; x < w; ++x) indices[size_t(x)] = uint8_t(quant->Index(p[x]));
        row = indices.data();
      }
      if (!GuardedWriteRow(&h, row)) fail();
      ++done;
      Progress.Done = int32_t(done);
      ReportProgress(Progress, int(done * 100 / units));
      if (AbortRequested(Progress)) return;  // a file without its end, by request
    }
  }
  if (!GuardedWriteEnd(&h)) fail();
}

bool IsPNGStream(TStream* Stream) {
  uint8_t sig[8];
  const int64_t pos = Stream->Position();
  const int64_t n = Stream->Read(sig, 8);
  Stream->Seek(pos, soBeginning);
  return n == 8 && png_sig_cmp(sig, 0, 8) == 0;
}

}  // namespace korvane
