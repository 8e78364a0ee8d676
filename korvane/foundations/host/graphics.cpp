#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/raster_ops.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include <sys/mman.h>

#include "korvane/foundations/host/exceptions.h"

namespace korvane {

TProgressRec nullpr = [] {
  static bool never_set = false;
  TProgressRec r;
  r.Aborting = &never_set;
  return r;
}();

// ---------------------------------------------------------------------------
// Fonts

namespace {
int ScreenDpi() {
  if (qGuiApp && QGuiApplication::primaryScreen())
    return int(std::lround(QGuiApplication::primaryScreen()->logicalDotsPerInch()));
  return 96;
}
}  // namespace

TFont::TFont() : name_() {}

int TFont::Size() const { return int(std::lround(-height_ * 72.0 / ScreenDpi())); }

void TFont::SetSize(int points) { SetHeight(-int(std::lround(points * ScreenDpi() / 72.0))); }

void TFont::Assign(const TFont& o) {
  name_ = o.name_;
  height_ = o.height_;
  color_ = o.color_;
  style_ = o.style_;
  escapement_ = o.escapement_;
  Changed();
}

QFont TFont::ToQFont() const {
  QFont f;
  if (!name_.empty()) f.setFamily(QString::fromStdString(name_));
  int h = height_ == 0 ? 13 : std::abs(height_);
  f.setPixelSize(std::max(1, h));
  if (height_ > 0) {
    // Positive heights give the cell height: shrink until ascent + descent fits.
    QFontMetrics fm(f);
    if (fm.height() > h) f.setPixelSize(std::max(1, h * h / fm.height()));
  }
  f.setBold(style_.Contains(fsBold));
  f.setItalic(style_.Contains(fsItalic));
  f.setUnderline(style_.Contains(fsUnderline));
  f.setStrikeOut(style_.Contains(fsStrikeOut));
  f.setStyleStrategy(QFont::NoAntialias);
  return f;
}

// ---------------------------------------------------------------------------
// Pixel row codecs between the classic formats and TRGB

namespace {

int BitsOf(TPixelFormat pf) {
  switch (pf) {
    case pf1bit: return 1;
    case pf4bit: return 4;
    case pf8bit: return 8;
    case pf15bit:
    case pf16bit: return 16;
    case pf24bit: return 24;
    default: return 32;  // pf32bit, and device/custom bitmaps are stored as 32-bit
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

// Nearest palette entry by squared distance, with a cache for runs of equal
// colors.
class NearestIndex {
 public:
  explicit NearestIndex(const std::vector<TRGB>& pal) : pal_(pal) {}
  unsigned operator()(TRGB c) {
    uint32_t key = c.r | (c.g << 8) | (c.b << 16);
    auto it = cache_.find(key);
    if (it != cache_.end()) return it->second;
    unsigned best = 0;
    int bestd = 1 << 30;
    for (size_t i = 0; i < pal_.size(); ++i) {
      int dr = int(pal_[i].r) - c.r, dg = int(pal_[i].g) - c.g, db = int(pal_[i].b) - c.b;
      int d = dr * dr + dg * dg + db * db;
      if (d < bestd) { bestd = d; best = unsigned(i); }
    }
    if (cache_.size() < 65536) cache_.emplace(key, best);
    return best;
  }

 private:
  const std::vector<TRGB>& pal_;
  std::unordered_map<uint32_t, unsigned> cache_;
};

void EncodeRow(TPixelFormat pf, const TRGB* in, int w, uint8_t* dst, NearestIndex* near) {
  switch (pf) {
    case pf1bit:
      for (int x = 0; x < w; ++x) {
        uint8_t bit = uint8_t(0x80 >> (x & 7));
        if ((*near)(in[x])) dst[x >> 3] |= bit; else dst[x >> 3] &= uint8_t(~bit);
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
  void* base;  // what to free or unmap
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
    for (int y = y0; y < y1; ++y) std::memcpy(data_ + ptrdiff_t(y) * stride_ + 3 * x0, row.data(), row.size() * 3);
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

void TBitmap::FreeImage() {
  Reallocate(0, 0, format_, false, false);
}

void TBitmap::SetModified(bool m) {
  if (m) Changed(); else modified_ = false;
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
    if (near(rgb)) r[x >> 3] |= bit; else r[x >> 3] &= uint8_t(~bit);
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
    case pf4bit: return QImage();
    case pf15bit: img = QImage(data_, width_, height_, stride_, QImage::Format_RGB555); break;
    case pf16bit: img = QImage(data_, width_, height_, stride_, QImage::Format_RGB16); break;
    case pf24bit: img = QImage(data_, width_, height_, stride_, QImage::Format_BGR888); break;
    default: img = QImage(data_, width_, height_, stride_, QImage::Format_RGB32); break;
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

// ---------------------------------------------------------------------------
// Line stepping

void LineDDA(int x1, int y1, int x2, int y2, const TLineDDAProc& proc) {
  LineDDAPoints(x1, y1, x2, y2, [&](int x, int y) { proc(x, y); });
}

// ---------------------------------------------------------------------------
// TCanvas

namespace {

QColor ToQColor(TColor c) {
  c = ColorToRGB(c);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}


void Order(int& a, int& b) {
  if (b < a) std::swap(a, b);
}

}  // namespace

TCanvas::TCanvas(TBitmap* bitmap) : bitmap_(bitmap) { brush_.SetColor(clWhite); }

TCanvas::TCanvas(QImage* image) : external_(image) {}

TCanvas::~TCanvas() {
  if (shadow_dirty_) FlushShadow();
  EndPaint();
}

void TCanvas::SetImage(QImage* image) {
  EndPaint();
  external_ = image;
  wrap_valid_ = false;
}

bool TCanvas::ShadowNeeded() const {
  return bitmap_ && (bitmap_->format_ == pf4bit || bitmap_->format_ == pf8bit);
}

QImage* TCanvas::Surface() {
  if (external_) return external_;
  if (!bitmap_ || bitmap_->Empty()) return nullptr;
  if (!wrap_valid_) {
    if (ShadowNeeded()) {
      BeginShadow();
    } else {
      shadow_ = false;
      wrap_ = bitmap_->SharedImage();
    }
    wrap_valid_ = true;
  }
  return &wrap_;
}

void TCanvas::BeginShadow() {
  // Palette formats cannot be painted directly: draw on an RGB32 copy and map
  // it back to the palette when the pixels are next read.
  wrap_ = bitmap_->ToQImage();
  shadow_ = true;
  shadow_dirty_ = false;
}

void TCanvas::FlushShadow() {
  if (!shadow_dirty_ || !bitmap_) return;
  shadow_dirty_ = false;
  EndPaint();
  TBitmap* b = bitmap_;
  NearestIndex near(b->palette_);
  const bool four = b->format_ == pf4bit;
  auto palAt = [&](unsigned i) { return i < b->palette_.size() ? b->palette_[i] : TRGB{0, 0, 0}; };
  for (int y = 0; y < b->height_ && y < wrap_.height(); ++y) {
    const QRgb* s = reinterpret_cast<const QRgb*>(wrap_.constScanLine(y));
    uint8_t* dst = b->data_ + ptrdiff_t(y) * b->stride_;
    for (int x = 0; x < b->width_; ++x) {
      TRGB c{uint8_t(qBlue(s[x])), uint8_t(qGreen(s[x])), uint8_t(qRed(s[x]))};
      // A pixel that still shows its entry's color keeps its index, so pixels
      // the canvas did not touch never move to a duplicate entry.
      if (four) {
        uint8_t& byte = dst[x >> 1];
        unsigned cur = (x & 1) ? byte & 15 : byte >> 4;
        if (palAt(cur) == c) continue;
        unsigned i = near(c) & 15;
        byte = (x & 1) ? uint8_t((byte & 0xF0) | i) : uint8_t((byte & 0x0F) | (i << 4));
      } else {
        if (palAt(dst[x]) == c) continue;
        dst[x] = uint8_t(near(c));
      }
    }
  }
  // Direct writes may follow: take a fresh shadow next time.
  wrap_valid_ = false;
}

int TCanvas::SurfaceWidth() const {
  if (external_) return external_->width();
  return bitmap_ ? bitmap_->Width() : 0;
}

int TCanvas::SurfaceHeight() const {
  if (external_) return external_->height();
  return bitmap_ ? bitmap_->Height() : 0;
}

QPainter* TCanvas::Painter() {
  if (OnDraw) OnDraw();
  if (painter_ && painter_->isActive()) return painter_.get();
  QImage* s = Surface();
  if (!s || s->isNull()) return nullptr;
  if (!painter_) painter_ = std::make_unique<QPainter>();
  if (!painter_->begin(s)) return nullptr;
  painter_->setRenderHint(QPainter::Antialiasing, false);
  painter_->setRenderHint(QPainter::TextAntialiasing, false);
  if (has_clip_) painter_->setClipRegion(clip_);
  return painter_.get();
}

void TCanvas::EndPaint() {
  if (painter_ && painter_->isActive()) painter_->end();
}

void TCanvas::AfterDraw() {
  if (OnDraw) OnDraw();
  if (shadow_) shadow_dirty_ = true;
  if (bitmap_) bitmap_->modified_ = true;
}

void TCanvas::ApplyPen(QPainter& p, bool) {
  if (pen_.Style() == psClear || pen_.Mode() == pmNop) {
    p.setPen(Qt::NoPen);
    return;
  }
  QPen qp(ToQColor(pen_.Color()));
  qp.setStyle(ToQPenStyle(pen_.Style()));
  qp.setWidth(pen_.Width() <= 1 ? 0 : pen_.Width());
  qp.setCapStyle(Qt::FlatCap);
  qp.setJoinStyle(Qt::MiterJoin);
  p.setPen(qp);
}

void TCanvas::ApplyBrush(QPainter& p) {
  if (brush_.Style() == bsClear) {
    p.setBrush(Qt::NoBrush);
    return;
  }
  p.setBrush(QBrush(ToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
}

void TCanvas::ApplyMode(QPainter& p) { p.setCompositionMode(PenModeComposition(pen_.Mode())); }

void TCanvas::DrawPixelsRun(const std::vector<QPoint>& pts) {
  if (pts.empty()) return;
  QPainter* p = Painter();
  if (!p) return;
  p->setPen(QPen(ToQColor(pen_.Color()), 0));
  p->setBrush(Qt::NoBrush);
  ApplyMode(*p);
  p->drawPoints(pts.data(), int(pts.size()));
  AfterDraw();
}

void TCanvas::LineTo(int x, int y) {
  TPoint from = pen_pos_;
  pen_pos_ = Point(x, y);
  if (pen_.Style() == psClear || pen_.Mode() == pmNop) return;
  if (pen_.Width() <= 1 && (pen_.Style() == psSolid || pen_.Style() == psInsideFrame)) {
    // One-pixel solid lines step exactly like LineDDA: the last point is out.
    std::vector<QPoint> pts;
    pts.reserve(size_t(std::max(std::abs(x - from.x), std::abs(y - from.y))));
    LineDDAPoints(from.x, from.y, x, y, [&](int px, int py) { pts.emplace_back(px, py); });
    DrawPixelsRun(pts);
    return;
  }
  QPainter* p = Painter();
  if (!p) return;
  ApplyPen(*p, false);
  ApplyMode(*p);
  p->drawLine(from.x, from.y, x, y);
  AfterDraw();
}

void TCanvas::Polyline(const TPoint* pts, int count) {
  if (count <= 0) return;
  TPoint keep = pen_pos_;
  MoveTo(pts[0].x, pts[0].y);
  for (int i = 1; i < count; ++i) LineTo(pts[i].x, pts[i].y);
  pen_pos_ = keep;
}

void TCanvas::FillRect(const TRect& r) {
  if (brush_.Style() == bsClear) return;
  int x1 = r.Left, x2 = r.Right, y1 = r.Top, y2 = r.Bottom;
  if (x2 <= x1 || y2 <= y1) return;
  QPainter* p = Painter();
  if (!p) return;
  ApplyMode(*p);
  p->fillRect(QRect(x1, y1, x2 - x1, y2 - y1), QBrush(ToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
  AfterDraw();
}

void TCanvas::FrameRect(const TRect& r) {
  if (r.Right <= r.Left || r.Bottom <= r.Top) return;
  QPainter* p = Painter();
  if (!p) return;
  ApplyMode(*p);
  QColor c = ToQColor(brush_.Color());
  p->fillRect(QRect(r.Left, r.Top, r.Width(), 1), c);
  p->fillRect(QRect(r.Left, r.Bottom - 1, r.Width(), 1), c);
  p->fillRect(QRect(r.Left, r.Top, 1, r.Height()), c);
  p->fillRect(QRect(r.Right - 1, r.Top, 1, r.Height()), c);
  AfterDraw();
}

void TCanvas::Rectangle(int x1, int y1, int x2, int y2) {
  Order(x1, x2);
  Order(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  QPainter* p = Painter();
  if (!p) return;
  ApplyMode(*p);
  bool pen = pen_.Style() != psClear && pen_.Mode() != pmNop;
  if (!pen) {
    // Without a pen the filled area is one pixel smaller on the right and bottom.
    if (brush_.Style() != bsClear && x2 - x1 > 1 && y2 - y1 > 1)
      p->fillRect(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1),
                  QBrush(ToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
    AfterDraw();
    return;
  }
  int w = pen_.Width();
  if (w <= 1) {
    if (brush_.Style() != bsClear && x2 - x1 > 2 && y2 - y1 > 2)
      p->fillRect(QRect(x1 + 1, y1 + 1, x2 - x1 - 2, y2 - y1 - 2),
                  QBrush(ToQColor(brush_.Color()), ToQBrushStyle(brush_.Style())));
    ApplyPen(*p, true);
    p->setBrush(Qt::NoBrush);
    if (x2 - x1 == 1 || y2 - y1 == 1)
      p->fillRect(QRect(x1, y1, x2 - x1, y2 - y1), ToQColor(pen_.Color()));
    else
      p->drawRect(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
  } else {
    ApplyPen(*p, false);
    ApplyBrush(*p);
    p->drawRect(QRectF(x1 + 0.5, y1 + 0.5, x2 - x1 - 1, y2 - y1 - 1));
  }
  AfterDraw();
}

void TCanvas::Ellipse(int x1, int y1, int x2, int y2) {
  Order(x1, x2);
  Order(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  QPainter* p = Painter();
  if (!p) return;
  ApplyMode(*p);
  ApplyPen(*p, false);
  ApplyBrush(*p);
  p->drawEllipse(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1));
  AfterDraw();
}

void TCanvas::Arc(int x1, int y1, int x2, int y2, int x3, int y3, int x4, int y4) {
  Order(x1, x2);
  Order(y1, y2);
  if (x2 - x1 < 1 || y2 - y1 < 1) return;
  QPainter* p = Painter();
  if (!p) return;
  double cx = (x1 + x2) / 2.0, cy = (y1 + y2) / 2.0;
  // Angles counter-clockwise from three o'clock, y pointing up.
  double a3 = std::atan2(-(y3 - cy), x3 - cx) * 180.0 / M_PI;
  double a4 = std::atan2(-(y4 - cy), x4 - cx) * 180.0 / M_PI;
  double span = a4 - a3;
  while (span <= 0) span += 360.0;
  ApplyMode(*p);
  ApplyPen(*p, false);
  p->setBrush(Qt::NoBrush);
  p->drawArc(QRect(x1, y1, x2 - x1 - 1, y2 - y1 - 1), int(std::lround(a3 * 16)), int(std::lround(span * 16)));
  AfterDraw();
}

void TCanvas::Polygon(const TPoint* pts, int count) {
  if (count < 2) return;
  QPainter* p = Painter();
  if (!p) return;
  QPolygon poly;
  poly.reserve(count);
  for (int i = 0; i < count; ++i) poly << QPoint(pts[i].x, pts[i].y);
  ApplyMode(*p);
  ApplyPen(*p, false);
  ApplyBrush(*p);
  p->drawPolygon(poly, fill_mode_ == ALTERNATE ? Qt::OddEvenFill : Qt::WindingFill);
  AfterDraw();
}

void TCanvas::DrawImage(const TRect& d, const QImage& img, const TRect& s) {
  if (img.isNull() || d.Width() == 0 || d.Height() == 0) return;
  QPainter* p = Painter();
  if (!p) return;
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->setRenderHint(QPainter::SmoothPixmapTransform, false);
  QRect dr(d.Left, d.Top, d.Width(), d.Height());
  QRect sr(s.Left, s.Top, s.Width(), s.Height());
  if (d.Width() < 0 || d.Height() < 0 || s.Width() < 0 || s.Height() < 0) {
    // Negative extents mirror, as a classic stretch does.
    QImage part = img.copy(sr.normalized());
    part = part.mirrored((d.Width() < 0) != (s.Width() < 0), (d.Height() < 0) != (s.Height() < 0));
    p->drawImage(dr.normalized(), part);
  } else {
    p->drawImage(dr, img, sr);
  }
  AfterDraw();
}

void TCanvas::Draw(int x, int y, TBitmap* src) {
  if (!src || src->Empty()) return;
  QImage img = src->format_ == pf4bit ? src->ToQImage() : src->SharedImage();
  DrawImage(Rect(x, y, x + src->Width(), y + src->Height()), img, Rect(0, 0, src->Width(), src->Height()));
}

void TCanvas::StretchDraw(const TRect& r, TBitmap* src) {
  if (!src || src->Empty()) return;
  QImage img = src->format_ == pf4bit ? src->ToQImage() : src->SharedImage();
  DrawImage(r, img, Rect(0, 0, src->Width(), src->Height()));
}

void TCanvas::CopyRect(const TRect& d, TCanvas* src, const TRect& s) {
  if (!src) return;
  QImage* si = src->Surface();
  if (!si || si->isNull()) return;
  if (src == this) {
    QImage copy = si->copy();
    DrawImage(d, copy, s);
  } else {
    if (src->shadow_dirty_) src->FlushShadow(), si = src->Surface();
    DrawImage(d, *si, s);
  }
}

void TCanvas::TextOut(int x, int y, const std::string& text) {
  QPainter* p = Painter();
  if (!p) return;
  QString t = QString::fromStdString(text);
  QFont f = font_.ToQFont();
  QFontMetrics fm(f);
  p->setFont(f);
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  p->save();
  p->translate(x, y);
  if (font_.Escapement() != 0) p->rotate(-font_.Escapement() / 10.0);
  if (brush_.Style() != bsClear)
    p->fillRect(QRect(0, 0, fm.horizontalAdvance(t), fm.height()), ToQColor(brush_.Color()));
  p->setPen(ToQColor(font_.Color()));
  p->drawText(0, fm.ascent(), t);
  p->restore();
  pen_pos_ = Point(x + fm.horizontalAdvance(t), y);
  AfterDraw();
}

void TCanvas::TextRect(const TRect& r, int x, int y, const std::string& text) {
  QPainter* p = Painter();
  if (!p) return;
  QString t = QString::fromStdString(text);
  QFont f = font_.ToQFont();
  QFontMetrics fm(f);
  p->save();
  p->setCompositionMode(QPainter::CompositionMode_SourceOver);
  QRect qr(r.Left, r.Top, r.Width(), r.Height());
  p->setClipRect(qr, has_clip_ ? Qt::IntersectClip : Qt::ReplaceClip);
  if (brush_.Style() != bsClear) p->fillRect(qr, ToQColor(brush_.Color()));
  p->setFont(f);
  p->setPen(ToQColor(font_.Color()));
  p->drawText(x, y + fm.ascent(), t);
  p->restore();
  AfterDraw();
}

int TCanvas::TextWidth(const std::string& text) {
  return QFontMetrics(font_.ToQFont()).horizontalAdvance(QString::fromStdString(text));
}

int TCanvas::TextHeight(const std::string&) { return QFontMetrics(font_.ToQFont()).height(); }

TColor TCanvas::Pixels(int x, int y) {
  if (x < 0 || y < 0 || x >= SurfaceWidth() || y >= SurfaceHeight()) return CLR_INVALID;
  if (bitmap_) {
    if (shadow_ && wrap_valid_) {
      QRgb c = wrap_.pixel(x, y);
      return RGB(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)));
    }
    return bitmap_->GetPixel(x, y);
  }
  QRgb c = external_->pixel(x, y);
  return RGB(uint8_t(qRed(c)), uint8_t(qGreen(c)), uint8_t(qBlue(c)));
}

void TCanvas::SetPixels(int x, int y, TColor c) {
  if (x < 0 || y < 0 || x >= SurfaceWidth() || y >= SurfaceHeight()) return;
  if (has_clip_ && !clip_.contains(QPoint(x, y))) return;
  if (bitmap_ && !(shadow_ && wrap_valid_)) {
    bitmap_->SetPixel(x, y, c);
    bitmap_->modified_ = true;
    return;
  }
  QImage* s = Surface();
  c = ColorToRGB(c);
  s->setPixel(x, y, qRgb(GetRValue(c), GetGValue(c), GetBValue(c)));
  AfterDraw();
}

void TCanvas::SetClipRegion(const QRegion& rgn) {
  clip_ = rgn;
  has_clip_ = true;
  if (painter_ && painter_->isActive()) painter_->setClipRegion(clip_);
}

void TCanvas::SetClipPolygon(const TPoint* pts, int count, TPolyFillMode mode) {
  QPolygon poly;
  for (int i = 0; i < count; ++i) poly << QPoint(pts[i].x, pts[i].y);
  SetClipRegion(QRegion(poly, mode == ALTERNATE ? Qt::OddEvenFill : Qt::WindingFill));
}

void TCanvas::ExcludeClipRect(int x1, int y1, int x2, int y2) {
  Order(x1, x2);
  Order(y1, y2);
  QRegion base = has_clip_ ? clip_ : QRegion(0, 0, SurfaceWidth(), SurfaceHeight());
  SetClipRegion(base.subtracted(QRegion(x1, y1, x2 - x1, y2 - y1)));
}

void TCanvas::IntersectClipRect(int x1, int y1, int x2, int y2) {
  Order(x1, x2);
  Order(y1, y2);
  QRegion base = has_clip_ ? clip_ : QRegion(0, 0, SurfaceWidth(), SurfaceHeight());
  SetClipRegion(base.intersected(QRegion(x1, y1, x2 - x1, y2 - y1)));
}

void TCanvas::ResetClip() {
  has_clip_ = false;
  clip_ = QRegion();
  if (painter_ && painter_->isActive()) painter_->setClipping(false);
}

}  // namespace korvane
