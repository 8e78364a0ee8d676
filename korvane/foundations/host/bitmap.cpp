#include <sys/mman.h>

#include <QImage>
#include <QList>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/graphics_internal.h"

namespace korvane {

using detail::NearestIndex;

TProgressRec nullpr = [] {
  static bool never_set = false;
  TProgressRec r;
  r.Aborting = &never_set;
  return r;
}();

// ---------------------------------------------------------------------------
// Pixel row codecs between the classic formats and TRGB

namespace {

int BitsOf(TPixelFormat pf) {
  switch (pf) {
    case pf1bit:
      return 1;
    case pf4bit:
      return 4;
    case pf8bit:
      return 8;
    case pf15bit:
    case pf16bit:
      return 16;
    case pf24bit:
      return 24;
    default:
      return 32;  // pf32bit, and device/custom bitmaps are stored as 32-bit
  }
}

inline uint8_t Expand5(unsigned v) { return uint8_t((v << 3) | (v >> 2)); }
inline uint8_t Expand6(unsigned v) { return uint8_t((v << 2) | (v >> 4)); }

void DecodeRow(TPixelFormat pf, const uint8_t* src, const std::vector<TRGB>& pal, int w, TRGB* out) {
  auto palAt = [&](unsigned i) { return i < pal.size() ? pal[i] : TRGB{0, 0, 0}; };
  switch (pf) {
    case pf1bit:
      for (int x = 0; x < w; ++x) out[x] = palAt((src[x >> 3] >> (7 - (x & 7))) & 1);
      break;
    case pf4bit:
      for (int x = 0; x < w; ++x) out[x] = palAt((x & 1) ? (src[x >> 1] & 15) : (src[x >> 1] >> 4));
      break;
    case pf8bit:
      for (int x = 0; x < w; ++x) out[x] = palAt(src[x]);
      break;
    case pf15bit:
      for (int x = 0; x < w; ++x) {
        unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
        out[x] = TRGB{Expand5(v & 31), Expand5((v >> 5) & 31), Expand5((v >> 10) & 31)};
      }
      break;
    case pf16bit:
      for (int x = 0; x < w; ++x) {
        unsigned v = src[2 * x] | (src[2 * x + 1] << 8);
        out[x] = TRGB{Expand5(v & 31), Expand6((v >> 5) & 63), Expand5((v >> 11) & 31)};
      }
      break;
    case pf24bit:
      std::memcpy(out, src, size_t(w) * 3);
      break;
    default:
      for (int x = 0; x < w; ++x) out[x] = TRGB{src[4 * x], src[4 * x + 1], src[4 * x + 2]};
      break;
  }
}

void EncodeRow(TPixelFormat pf, const TRGB* in, int w, uint8_t* dst, NearestIndex* near) {
  switch (pf) {
    case pf1bit:
      for (int x = 0; x < w; ++x) {
        uint8_t bit = uint8_t(0x80 >> (x & 7));
        if ((*near)(in[x]))
          dst[x >> 3] |= bit;
        else
          dst[x >> 3] &= uint8_t(~bit);
      }
      break;
    case pf4bit:
      for (int x = 0; x < w; ++x) {
        unsigned i = (*near)(in[x]) & 15;
        uint8_t& b = dst[x >> 1];
        b = (x & 1) ? uint8_t((b & 0xF0) | i) : uint8_t((b & 0x0F) | (i << 4));
      }
      break;
    case pf8bit:
      for (int x = 0; x < w; ++x) dst[x] = uint8_t((*near)(in[x]));
      break;
    case pf15bit:
      for (int x = 0; x < w; ++x) {
        unsigned v = ((in[x].r >> 3) << 10) | ((in[x].g >> 3) << 5) | (in[x].b >> 3);
        dst[2 * x] = uint8_t(v);
        dst[2 * x + 1] = uint8_t(v >> 8);
      }
      break;
    case pf16bit:
      for (int x = 0; x < w; ++x) {
        unsigned v = ((in[x].r >> 3) << 11) | ((in[x].g >> 2) << 5) | (in[x].b >> 3);
        dst[2 * x] = uint8_t(v);
        dst[2 * x + 1] = uint8_t(v >> 8);
      }
      break;
    case pf24bit:
      std::memcpy(dst, in, size_t(w) * 3);
      break;
    default:
      for (int x = 0; x < w; ++x) {
        dst[4 * x] = in[x].b;
        dst[4 * x + 1] = in[x].g;
        dst[4 * x + 2] = in[x].r;
        dst[4 * x + 3] = 0xFF;
      }
      break;
  }
}

TRGB ToRGB(TColor c) {
  c = ColorToRGB(c);
  return TRGB{GetBValue(c), GetGValue(c), GetRValue(c)};
}

// Largest pixel memory a bitmap may take (8 GiB).
constexpr uint64_t kMaxBitmapBytes = uint64_t(8) << 30;

}  // namespace

// ---------------------------------------------------------------------------
// TBitmap

namespace {

// Pixel memory. Large blocks are mapped directly and asked for transparent
// huge pages: a fresh 36 MB bitmap then costs a few dozen page faults instead
// of thousands, which is most of the time a decoder spends beyond decoding.
// Every block carries a small header saying how to free it.
struct PixelBlock {
  void* base;     // what to free or unmap
  size_t mapped;  // mapping length, 0 for a heap block
};
constexpr size_t kHugePage = size_t(2) << 20;
// Under AddressSanitizer every block stays on the heap, where overruns are
// caught.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapLargeBlocks = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kMapLargeBlocks = false;
#else
constexpr bool kMapLargeBlocks = true;
#endif
#else
constexpr bool kMapLargeBlocks = true;
#endif
constexpr size_t kMapThreshold = size_t(4) << 20;

uint8_t* AllocPixels(size_t bytes) {
  if (kMapLargeBlocks && bytes >= kMapThreshold) {
    // Whole huge pages: a partial last one would be faulted 4 KB at a time.
    const size_t span = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    const size_t len = span + kHugePage + sizeof(PixelBlock);
    void* m = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m != MAP_FAILED) {
      uintptr_t start = reinterpret_cast<uintptr_t>(m) + sizeof(PixelBlock);
      auto* data = reinterpret_cast<uint8_t*>((start + kHugePage - 1) & ~uintptr_t(kHugePage - 1));
#ifdef MADV_HUGEPAGE
      madvise(data, span, MADV_HUGEPAGE);
#endif
      reinterpret_cast<PixelBlock*>(data)[-1] = PixelBlock{m, len};
      return data;  // anonymous mappings are zeroed
    }
  }
  auto* base = static_cast<uint8_t*>(std::calloc(bytes + sizeof(PixelBlock), 1));
  if (!base) return nullptr;
  uint8_t* data = base + sizeof(PixelBlock);
  reinterpret_cast<PixelBlock*>(data)[-1] = PixelBlock{base, 0};
  return data;
}

void FreePixels(uint8_t* data) {
  if (!data) return;
  PixelBlock b = reinterpret_cast<PixelBlock*>(data)[-1];
  if (b.mapped)
    munmap(b.base, b.mapped);
  else
    std::free(b.base);
}

}  // namespace

TBitmap::TBitmap() : palette_(DefaultPalette(pf24bit)) {}

TBitmap::TBitmap(int w, int h, TPixelFormat pf) : TBitmap() {
  format_ = pf;
  palette_ = DefaultPalette(pf);
  Reallocate(w, h, pf, false, true);
}

TBitmap::~TBitmap() {
  canvas_.reset();
  FreePixels(data_);
}

std::vector<TRGB> TBitmap::DefaultPalette(TPixelFormat pf) {
  std::vector<TRGB> pal;
  if (pf == pf1bit) {
    pal = {TRGB{0, 0, 0}, TRGB{255, 255, 255}};
  } else if (pf == pf4bit) {
    // The 16 colors of the classic VGA palette.
    static const uint32_t vga[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                     0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                     0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    for (uint32_t v : vga) pal.push_back(TRGB{uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16)});
  } else if (pf == pf8bit) {
    for (int i = 0; i < 256; ++i) pal.push_back(TRGB{uint8_t(i), uint8_t(i), uint8_t(i)});
  }
  return pal;
}

int TBitmap::BitsPerPixel() const { return BitsOf(format_); }

uint8_t* TBitmap::Scanline(int y) {
  FlushCanvas();
  return data_ + ptrdiff_t(y) * stride_;
}

const uint8_t* TBitmap::Scanline(int y) const {
  FlushCanvas();
  return data_ + ptrdiff_t(y) * stride_;
}

void TBitmap::FlushCanvas() const {
  // The pixels are about to be read or written directly: write back what the
  // canvas drew on its working copy of a palette bitmap and drop the copy, so
  // the next drawing starts from the pixels as they are then.
  if (!canvas_ || !canvas_->shadow_ || !canvas_->wrap_valid_) return;
  canvas_->FlushShadow();
  canvas_->EndPaint();
  canvas_->wrap_valid_ = false;
}

void TBitmap::SetPalette(const std::vector<TRGB>& pal) {
  FlushCanvas();
  if (canvas_) canvas_->EndPaint(), canvas_->wrap_valid_ = false;
  palette_ = pal;
  size_t n = format_ == pf1bit ? 2 : format_ == pf4bit ? 16 : format_ == pf8bit ? 256 : pal.size();
  palette_.resize(n, TRGB{0, 0, 0});
  Changed();
}

void TBitmap::SetSize(int w, int h) {
  if (w == width_ && h == height_) return;
  Reallocate(w, h, format_, true, true);
  Changed();
}

void TBitmap::Allocate(int w, int h, TPixelFormat pf) {
  if (pf != format_) palette_ = DefaultPalette(pf);
  Reallocate(w, h, pf, false, false);
  Changed();
}

void TBitmap::SetPixelFormat(TPixelFormat pf) {
  if (pf == format_) return;
  FlushCanvas();
  if (Empty()) {
    if (canvas_) canvas_->EndPaint(), canvas_->wrap_valid_ = false;
    format_ = pf;
    palette_ = DefaultPalette(pf);
    stride_ = int(((int64_t(width_) * BitsOf(pf) + 31) / 32) * 4);
    Changed();
    return;
  }
  // Convert through a 24-bit row.
  TBitmap tmp;
  tmp.palette_ = DefaultPalette(pf);
  tmp.Reallocate(width_, height_, pf, false, false);
  std::vector<TRGB> row(static_cast<size_t>(width_));
  NearestIndex near(tmp.palette_);
  for (int y = 0; y < height_; ++y) {
    DecodeRow(format_, data_ + ptrdiff_t(y) * stride_, palette_, width_, row.data());
    EncodeRow(pf, row.data(), width_, tmp.data_ + ptrdiff_t(y) * tmp.stride_, &near);
  }
  if (canvas_) canvas_->EndPaint(), canvas_->wrap_valid_ = false;
  std::swap(data_, tmp.data_);
  std::swap(stride_, tmp.stride_);
  format_ = pf;
  palette_ = tmp.palette_;
  Changed();
}

void TBitmap::Reallocate(int w, int h, TPixelFormat pf, bool keep, bool fill) {
  if (w < 0 || h < 0) throw EOutOfResources("Invalid bitmap size");
  FlushCanvas();
  int bits = BitsOf(pf);
  uint64_t stride = ((uint64_t(w) * bits + 31) / 32) * 4;
  uint64_t bytes = stride * uint64_t(h);
  if (stride > 0x7FFFFFFF || bytes > kMaxBitmapBytes) throw EOutOfResources("Bitmap too large");
  if (canvas_) canvas_->EndPaint(), canvas_->wrap_valid_ = false;

  // A bitmap refilled at the same byte size (a video frame, a decoded page of
  // the same size) keeps its buffer: large fresh allocations cost a page
  // fault per 4 KB on first touch.
  const uint64_t oldBytes = data_ ? uint64_t(stride_) * uint64_t(height_) : 0;
  const bool reuse = !keep && bytes && bytes == oldBytes;
  uint8_t* nd = reuse ? data_ : nullptr;
  if (bytes && !reuse) {
    nd = AllocPixels(size_t(bytes));
    if (!nd) throw EOutOfResources("Out of memory for bitmap");
  }
  int oldw = width_, oldh = height_;
  if (keep && pf == format_ && data_ && nd) {
    int rows = std::min(h, oldh);
    size_t rowbytes = (size_t(std::min(w, oldw)) * bits + 7) / 8;
    for (int y = 0; y < rows; ++y)
      std::memcpy(nd + size_t(y) * stride, data_ + ptrdiff_t(y) * stride_, rowbytes);
  } else {
    oldw = oldh = 0;
  }
  if (reuse) {
    // Fresh pixels are zero; a reused buffer is cleared unless filled below.
    if (!fill) std::memset(nd, 0, size_t(bytes));
  } else {
    FreePixels(data_);
  }
  data_ = nd;
  width_ = w;
  height_ = h;
  stride_ = int(stride);
  format_ = pf;
  if (fill && nd) {
    TColor c = canvas_ ? canvas_->brush_.Color() : clWhite;
    if (oldw < w) FillArea(oldw, 0, w, std::min(oldh, h), c);
    if (oldh < h) FillArea(0, oldh, w, h, c);
  }
}

void TBitmap::FillArea(int x0, int y0, int x1, int y1, TColor c) {
  if (x0 >= x1 || y0 >= y1) return;
  TRGB rgb = ToRGB(c);
  std::vector<TRGB> row(size_t(x1 - x0), rgb);
  NearestIndex near(palette_);
  if (format_ == pf24bit) {
    for (int y = y0; y < y1; ++y)
      std::memcpy(data_ + ptrdiff_t(y) * stride_ + 3 * x0, row.data(), row.size() * 3);
    return;
  }
  int bits = BitsOf(format_);
  if (bits >= 8) {
    for (int y = y0; y < y1; ++y)
      EncodeRow(format_, row.data(), x1 - x0, data_ + ptrdiff_t(y) * stride_ + x0 * bits / 8, &near);
    return;
  }
  // Sub-byte formats: encode the whole row prefix through a pixel decode so
  // that pixels left of x0 keep their values.
  std::vector<TRGB> full(static_cast<size_t>(x1));
  for (int y = y0; y < y1; ++y) {
    uint8_t* r = data_ + ptrdiff_t(y) * stride_;
    DecodeRow(format_, r, palette_, x1, full.data());
    std::fill(full.begin() + x0, full.end(), rgb);
    // Re-encode only from the byte that holds x0.
    int first = x0 & ~(8 / bits - 1);
    EncodeRow(format_, full.data() + first, x1 - first, r + first * bits / 8, &near);
  }
}

TCanvas* TBitmap::Canvas() {
  if (!canvas_) canvas_ = std::make_unique<TCanvas>(this);
  return canvas_.get();
}

void TBitmap::Assign(const TBitmap* src) {
  if (!src || src == this) return;
  src->FlushCanvas();
  palette_ = src->palette_;
  Reallocate(src->width_, src->height_, src->format_, false, false);
  if (data_ && src->data_) std::memcpy(data_, src->data_, size_t(stride_) * size_t(height_));
  Changed();
}

void TBitmap::FreeImage() { Reallocate(0, 0, format_, false, false); }

void TBitmap::SetModified(bool m) {
  if (m)
    Changed();
  else
    modified_ = false;
}

void TBitmap::Changed() {
  modified_ = true;
  if (OnChange) OnChange(this);
}

TColor TBitmap::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return clBlack;
  FlushCanvas();
  TRGB p;
  int bits = BitsOf(format_);
  const uint8_t* r = data_ + ptrdiff_t(y) * stride_;
  int first = bits < 8 ? x & ~(8 / bits - 1) : x;
  TRGB tmp[8];
  DecodeRow(format_, r + size_t(first) * bits / 8, palette_, x - first + 1, tmp);
  p = tmp[x - first];
  return RGB(p.r, p.g, p.b);
}

void TBitmap::SetPixel(int x, int y, TColor c) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  FlushCanvas();
  TRGB rgb = ToRGB(c);
  NearestIndex near(palette_);
  int bits = BitsOf(format_);
  uint8_t* r = data_ + ptrdiff_t(y) * stride_;
  if (bits >= 8) {
    EncodeRow(format_, &rgb, 1, r + size_t(x) * bits / 8, &near);
  } else if (bits == 1) {
    uint8_t bit = uint8_t(0x80 >> (x & 7));
    if (near(rgb))
      r[x >> 3] |= bit;
    else
      r[x >> 3] &= uint8_t(~bit);
  } else {
    unsigned i = near(rgb) & 15;
    uint8_t& b = r[x >> 1];
    b = (x & 1) ? uint8_t((b & 0xF0) | i) : uint8_t((b & 0x0F) | (i << 4));
  }
}

QImage TBitmap::SharedImage() {
  FlushCanvas();
  if (Empty()) return QImage();
  QImage img;
  switch (format_) {
    case pf1bit: {
      img = QImage(data_, width_, height_, stride_, QImage::Format_Mono);
      QList<QRgb> t;
      for (const TRGB& c : palette_) t.push_back(qRgb(c.r, c.g, c.b));
      img.setColorTable(t);
      break;
    }
    case pf8bit: {
      img = QImage(data_, width_, height_, stride_, QImage::Format_Indexed8);
      QList<QRgb> t;
      for (const TRGB& c : palette_) t.push_back(qRgb(c.r, c.g, c.b));
      img.setColorTable(t);
      break;
    }
    case pf4bit:
      return QImage();
    case pf15bit:
      img = QImage(data_, width_, height_, stride_, QImage::Format_RGB555);
      break;
    case pf16bit:
      img = QImage(data_, width_, height_, stride_, QImage::Format_RGB16);
      break;
    case pf24bit:
      img = QImage(data_, width_, height_, stride_, QImage::Format_BGR888);
      break;
    default:
      img = QImage(data_, width_, height_, stride_, QImage::Format_RGB32);
      break;
  }
  return img;
}

QImage TBitmap::ToQImage() const {
  FlushCanvas();
  if (Empty()) return QImage();
  QImage img(width_, height_, QImage::Format_RGB32);
  std::vector<TRGB> row(static_cast<size_t>(width_));
  for (int y = 0; y < height_; ++y) {
    DecodeRow(format_, data_ + ptrdiff_t(y) * stride_, palette_, width_, row.data());
    QRgb* out = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < width_; ++x) out[x] = qRgb(row[size_t(x)].r, row[size_t(x)].g, row[size_t(x)].b);
  }
  return img;
}

void TBitmap::LoadFromQImage(const QImage& src) {
  if (src.isNull()) {
    FreeImage();
    return;
  }
  if (src.format() == QImage::Format_Mono || src.format() == QImage::Format_MonoLSB) {
    QImage m = src.convertToFormat(QImage::Format_Mono);
    palette_ = DefaultPalette(pf1bit);
    Reallocate(m.width(), m.height(), pf1bit, false, false);
    // Bit 1 must be white: invert when the image's index 1 is darker.
    bool invert = m.colorCount() >= 2 && qGray(m.color(1)) < qGray(m.color(0));
    size_t n = size_t((m.width() + 7) / 8);
    for (int y = 0; y < height_; ++y) {
      const uchar* s = m.constScanLine(y);
      uint8_t* d = data_ + ptrdiff_t(y) * stride_;
      for (size_t i = 0; i < n; ++i) d[i] = invert ? uint8_t(~s[i]) : s[i];
    }
  } else {
    QImage c = src.convertToFormat(QImage::Format_RGB888);
    palette_.clear();
    Reallocate(c.width(), c.height(), pf24bit, false, false);
    for (int y = 0; y < height_; ++y) {
      const uchar* s = c.constScanLine(y);
      uint8_t* d = data_ + ptrdiff_t(y) * stride_;
      for (int x = 0; x < width_; ++x) {
        d[3 * x] = s[3 * x + 2];
        d[3 * x + 1] = s[3 * x + 1];
        d[3 * x + 2] = s[3 * x];
      }
    }
  }
  Changed();
}

bool TBitmap::LoadFromResourceName(const std::string& name) {
  QImage img(QString::fromStdString(name));
  if (img.isNull()) return false;
  LoadFromQImage(img);
  return true;
}

}  // namespace korvane
