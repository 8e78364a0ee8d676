// BMP writing and the row run-length encoders.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/codecs/bilevel.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/checked_reader.h"

namespace korvane {

namespace {

// Flushes a pending literal of k values: one or two as runs of 1, three or
// more as an absolute run padded to an even byte count. RLE4 packs the
// values two a byte, high nibble first.
void FlushLiteral(const uint8_t* v, int k, bool rle4, std::vector<uint8_t>& out) {
  if (k <= 0) return;
  if (k < 3) {
    for (int i = 0; i < k; ++i) {
      out.push_back(1);
      out.push_back(rle4 ? uint8_t(v[i] << 4 | v[i]) : v[i]);
    }
    return;
  }
  out.push_back(0);
  out.push_back(uint8_t(k));
  size_t bytes;
  if (rle4) {
    bytes = size_t(k + 1) / 2;
    for (int i = 0; i < k; i += 2) out.push_back(uint8_t(v[i] << 4 | (i + 1 < k ? v[i + 1] : 0)));
  } else {
    bytes = size_t(k);
    out.insert(out.end(), v, v + k);
  }
  if (bytes & 1) out.push_back(0);
}

void EncodeRow(const uint8_t* v, int n, bool rle4, std::vector<uint8_t>& out) {
  int lit = 0;  // start of the pending literal
  int i = 0;
  while (i < n) {
    int run = 1;
    while (i + run < n && run < 255 && v[i + run] == v[i]) ++run;
    if (run >= 2) {
      FlushLiteral(v + lit, i - lit, rle4, out);
      out.push_back(uint8_t(run));
      out.push_back(rle4 ? uint8_t(v[i] << 4 | v[i]) : v[i]);
      i += run;
      lit = i;
    } else {
      ++i;
      if (i - lit == 255) {
        FlushLiteral(v + lit, i - lit, rle4, out);
        lit = i;
      }
    }
  }
  FlushLiteral(v + lit, i - lit, rle4, out);
  out.push_back(0);
  out.push_back(0);
}

int32_t PPMFromDpi(int dpi) { return int32_t(std::lround(double(dpi) / 2.54 * 100.0)); }

}  // namespace

void BMPEncodeRLE8Row(const uint8_t* Values, int Count, std::vector<uint8_t>& Out) {
  EncodeRow(Values, Count, false, Out);
}
void BMPEncodeRLE4Row(const uint8_t* Values, int Count, std::vector<uint8_t>& Out) {
  EncodeRow(Values, Count, true, Out);
}

namespace {

// The depth BMPWriteStream writes for these parameters.
int BMPBits(const TIOParamsVals& Params) {
  if (Params.BitsPerSample == 1 || Params.BitsPerSample == 4) return Params.BitsPerSample;
  return Params.SamplesPerPixel != 1 ? 24 : 8;
}

// The file and info headers of a w x h BMP whose pixel data (imageSize
// bytes) follows `paletteBytes` bytes of palette, in the header kind the
// parameters ask for. Raises EInvalidGraphic for a size the kind cannot hold.
std::vector<uint8_t> BMPHeaders(const TIOParamsVals& Params, int w, int h, int bits, bool rle,
                                size_t paletteBytes, uint32_t imageSize) {
  if (w <= 0 || h <= 0) throw EInvalidGraphic("unrecognized BMP");
  const bool core = Params.BMP_Version == ioBMP_BMOS2V1;
  if (core && (w > 0xFFFF || h > 0xFFFF)) throw EInvalidGraphic("unrecognized BMP");
  const uint32_t hsize = core ? 12 : Params.BMP_Version == ioBMP_BMOS2V2 ? 64 : 40;
  std::vector<uint8_t> out(14 + hsize, 0);
  const uint32_t bitsAt = uint32_t(14 + hsize + paletteBytes);
  out[0] = 'B';
  out[1] = 'M';
  PutLE32(&out[2], bitsAt + imageSize);
  PutLE32(&out[10], bitsAt);
  uint8_t* ih = &out[14];
  PutLE32(ih, hsize);
  if (core) {
    PutLE16(&ih[4], uint32_t(w));
    PutLE16(&ih[6], uint32_t(h));
    PutLE16(&ih[8], 1);
    PutLE16(&ih[10], uint32_t(bits));
  } else {
    PutLE32(&ih[4], uint32_t(w));
    PutLE32(&ih[8], uint32_t(h));
    PutLE16(&ih[12], 1);
    PutLE16(&ih[14], uint32_t(bits));
    PutLE32(&ih[16], rle ? (bits == 4 ? 2u : 1u) : 0u);
    PutLE32(&ih[20], imageSize);
    PutLE32(&ih[24], uint32_t(PPMFromDpi(Params.DpiX)));
    PutLE32(&ih[28], uint32_t(PPMFromDpi(Params.DpiY)));
    PutLE32(&ih[32], bits <= 8 ? 1u << bits : 0u);
    PutLE32(&ih[36], 1u << bits);
  }
  return out;
}

size_t BMPRowBytes(int w, int bits) { return size_t(((int64_t(w) * bits + 31) / 32) * 4); }

}  // namespace

void BMPWriteStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress) {
  const int bits = BMPBits(Params);
  const int w = Bitmap->Width(), h = Bitmap->Height();
  const bool core = Params.BMP_Version == ioBMP_BMOS2V1;
  const bool rle = !core && Params.BMP_Compression == ioBMP_RLE && (bits == 4 || bits == 8);
  BMPHeaders(Params, w, h, bits, rle, 0, 0);  // refuses a size the header cannot hold

  // The pixels to write: 1-bit rows, or a 24-bit image.
  std::unique_ptr<TBitmap> keep;
  const TBitmap* src = nullptr;
  std::vector<TRGB> pal;
  if (bits == 1) {
    TRGB c0{0, 0, 0}, c1{255, 255, 255};
    src = PrepareBilevel(Bitmap, keep, c0, c1);
    pal = {c0, c1};
  } else {
    src = Prepare24(Bitmap, keep);
  }
  std::unique_ptr<TPaletteMap> quant;
  if (bits == 4 || bits == 8) {
    quant = std::make_unique<TPaletteMap>(src, 1 << bits);
    pal = quant->Palette();
  }
  if (bits <= 8) Params.SetColorMap(pal.data(), int32_t(pal.size()));

  const size_t entry = core ? 3 : 4;
  std::vector<uint8_t> raw(pal.size() * entry, 0);
  for (size_t i = 0; i < pal.size(); ++i) {
    raw[i * entry] = pal[i].b;
    raw[i * entry + 1] = pal[i].g;
    raw[i * entry + 2] = pal[i].r;
  }
  // The headers go out twice: the sizes are known once the rows are written
  // (run-length rows have no size in advance). Until then the file header's
  // size and offset are zero, so a write stopped early says so.
  const int64_t start = Stream->Position();
  std::vector<uint8_t> head = BMPHeaders(Params, w, h, bits, rle, raw.size(), 0);
  PutLE32(&head[2], 0);
  PutLE32(&head[10], 0);
  Stream->WriteBuffer(head.data(), int64_t(head.size()));
  if (!raw.empty()) Stream->WriteBuffer(raw.data(), int64_t(raw.size()));

  const int64_t bitsStart = Stream->Position();
  const size_t rowBytes = BMPRowBytes(w, bits);
  std::vector<uint8_t> row(rowBytes, 0), indices(static_cast<size_t>(w)), packed;
  const double scale = 100.0 / h;
  Progress.Scale = scale;
  for (int i = 0; i < h; ++i) {
    Progress.Done = i;
    ReportProgress(Progress, int(i * scale));
    if (AbortRequested(Progress)) return;
    const uint8_t* line = src->Scanline(h - 1 - i);
    if (bits == 24) {
      std::memcpy(row.data(), line, size_t(w) * 3);
      Stream->WriteBuffer(row.data(), int64_t(rowBytes));
      continue;
    }
    if (bits == 1) {
      std::memcpy(row.data(), line, (size_t(w) + 7) / 8);
      Stream->WriteBuffer(row.data(), int64_t(rowBytes));
      continue;
    }
    const TRGB* px = reinterpret_cast<const TRGB*>(line);
    for (int x = 0; x < w; ++x) indices[size_t(x)] = uint8_t(quant->Index(px[x]));
    if (rle) {
      packed.clear();
      EncodeRow(indices.data(), w, bits == 4, packed);
      Stream->WriteBuffer(packed.data(), int64_t(packed.size()));
    } else if (bits == 8) {
      std::memcpy(row.data(), indices.data(), size_t(w));
      Stream->WriteBuffer(row.data(), int64_t(rowBytes));
    } else {
      std::fill(row.begin(), row.end(), 0);
      for (int x = 0; x < w; ++x) row[size_t(x) / 2] |= uint8_t(indices[size_t(x)] << ((x & 1) ? 0 : 4));
      Stream->WriteBuffer(row.data(), int64_t(rowBytes));
    }
  }
  if (rle) {
    const uint8_t eob[2] = {0, 1};
    Stream->WriteBuffer(eob, 2);
  }
  Progress.Done = h;

  const int64_t end = Stream->Position();
  head = BMPHeaders(Params, w, h, bits, rle, raw.size(), uint32_t(end - bitsStart));
  Stream->Seek(start, soBeginning);
  Stream->WriteBuffer(head.data(), int64_t(head.size()));
  Stream->Seek(end, soBeginning);
}

// ---------------------------------------------------------------------------
// Strip writer

bool TBMPStripWriter::Takes(const TIOParamsVals& Params) { return BMPBits(Params) == 24; }

TBMPStripWriter::TBMPStripWriter(TStream* Stream, int Width, int Height, const TIOParamsVals& Params)
    : stream_(Stream), w_(Width), h_(Height), rowBytes_(BMPRowBytes(Width, 24)) {
  if (!Takes(Params)) throw EInvalidGraphic("unrecognized BMP");
  const uint64_t image = uint64_t(rowBytes_) * uint64_t(std::max(Height, 0));
  if (image > 0xFFFFFFFFu - 1024) throw EInvalidGraphic("unrecognized BMP");
  const std::vector<uint8_t> head = BMPHeaders(Params, Width, Height, 24, false, 0, uint32_t(image));
  Stream->WriteBuffer(head.data(), int64_t(head.size()));
  bits_ = Stream->Position();
}

void TBMPStripWriter::Write(int Y0, int Count, const TBitmap& Strip) {
  if (Strip.PixelFormat() != pf24bit || Strip.Width() != w_ || Count > Strip.Height())
    throw EInvalidGraphic("unrecognized BMP");
  if (Y0 < 0 || Count <= 0 || Y0 >= h_) return;
  Count = std::min(Count, h_ - Y0);
  // BMP stores the bottom row first: the strip is one block of the file,
  // its last row first.
  // Row padding sits at the same places in every strip: zeroed once, when
  // the block grows.
  if (block_.size() < rowBytes_ * size_t(Count)) block_.resize(rowBytes_ * size_t(Count), 0);
  for (int r = 0; r < Count; ++r)
    std::memcpy(&block_[size_t(Count - 1 - r) * rowBytes_], Strip.Scanline(r), size_t(w_) * 3);
  stream_->Seek(bits_ + int64_t(h_ - Y0 - Count) * int64_t(rowBytes_), soBeginning);
  stream_->WriteBuffer(block_.data(), int64_t(rowBytes_) * Count);
}

void TBMPStripWriter::Finish() {
  // Rows that never came stay black, as in a bitmap that was never drawn on.
  const int64_t end = bits_ + int64_t(h_) * int64_t(rowBytes_);
  if (stream_->Size() < end) stream_->SetSize(end);
  stream_->Seek(end, soBeginning);
}

}  // namespace korvane
