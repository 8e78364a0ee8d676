#include "korvane/io/codecs/gif/gif_lzw.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "korvane/foundations/host/exceptions.h"

namespace korvane {

namespace {

constexpr int kMaxCode = 4096;  // 12-bit codes
constexpr char kCorrupted[] = "Corrupted GIF";

[[noreturn]] void Corrupted() { throw EInvalidGraphic(kCorrupted); }

// Reads the data sub-blocks that follow the code-size byte, up to the
// zero-length terminator or the end of the stream, into one buffer. Eight
// zero bytes of slack follow the data so the bit reader can load 64 bits at
// any data position.
std::vector<uint8_t> ReadSubBlocks(TStream* s, size_t& size) {
  std::vector<uint8_t> data;
  size = 0;
  uint8_t len;
  for (;;) {
    if (s->Read(&len, 1) != 1 || len == 0) break;
    if (data.size() < size + len + 8) data.resize(std::max(data.size() * 2, size + len + 8 + 4096));
    int64_t got = s->Read(data.data() + size, len);
    size += size_t(std::max<int64_t>(got, 0));
    if (got != len) break;
  }
  data.resize(size + 8);
  std::fill(data.begin() + int64_t(size), data.end(), 0);
  return data;
}

inline uint64_t Load64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;  // little-endian hosts only (x86-64, AArch64 Linux)
}

// Copies len bytes from an earlier part of the same output. src + len never
// passes dst, so copying 8 bytes at a time is safe even though the last chunk
// may read and write a few bytes beyond len (the caller leaves 8 bytes of
// room after dst + len).
inline void CopyString(uint8_t* dst, const uint8_t* src, uint32_t len) {
  uint32_t i = 0;
  do {
    // Through a register: when dst - src < 8 the two 8-byte spans overlap.
    const uint64_t v = Load64(src + i);
    std::memcpy(dst + i, &v, 8);
    i += 8;
  } while (i < len);
}

// Decodes an LZW code stream into out (total bytes, room bytes allocated,
// room >= total). Returns the count of pixels produced (at most total).
size_t DecodeLZW(const uint8_t* data, size_t size, int codeSize, uint8_t* out, size_t total, size_t room) {
  struct Entry {
    uint32_t off;  // where this string was written in out
    uint32_t len;
  };
  static_assert(sizeof(Entry) == 8);
  Entry table[kMaxCode];
  const int clear = 1 << codeSize, eoi = clear + 1;
  int width = codeSize + 1;
  uint32_t mask = (1u << width) - 1;
  int next = clear + 2;
  int prev = -1;  // no previous code since the last clear
  uint32_t prevOff = 0, prevLen = 0;
  const uint64_t bits = uint64_t(size) * 8;
  uint64_t bitpos = 0;
  size_t pos = 0;

  while (pos < total) {
    if (bitpos + uint64_t(width) > bits) break;  // data used up
    uint32_t code = uint32_t(Load64(data + (bitpos >> 3)) >> (bitpos & 7)) & mask;
    bitpos += uint64_t(width);
    if (int(code) == clear) {
      width = codeSize + 1;
      mask = (1u << width) - 1;
      next = clear + 2;
      prev = -1;
      continue;
    }
    if (int(code) == eoi) break;
    // An encoder may defer the clear once the table is full: the codes go on
    // at 12 bits and add no entries until the clear comes.
    uint32_t len;
    const size_t start = pos;
    if (int(code) < clear) {
      out[pos] = uint8_t(code);
      len = 1;
    } else if (int(code) < next) {
      if (code < uint32_t(clear + 2) || prev < 0) Corrupted();
      const Entry& e = table[code];
      len = e.len;
      if (pos + len + 8 <= room) {
        CopyString(out + pos, out + e.off, len);
      } else {
        len = uint32_t(std::min<size_t>(len, total - pos));
        std::memmove(out + pos, out + e.off, len);
      }
    } else if (int(code) == next && prev >= 0) {
      // The string being defined: the previous string plus its own first
      // character.
      len = prevLen + 1;
      if (pos + len + 8 <= room) {
        CopyString(out + pos, out + prevOff, prevLen);
        out[pos + prevLen] = out[prevOff];
      } else {
        size_t n = std::min<size_t>(prevLen, total - pos);
        std::memmove(out + pos, out + prevOff, n);
        if (n < prevLen || pos + n >= total) {
          pos += n;
          break;
        }
        out[pos + prevLen] = out[prevOff];
      }
    } else {
      Corrupted();
    }
    if (pos + len > total) {
      pos = total;
      break;
    }
    pos += len;
    if (prev >= 0 && next < kMaxCode) {
      // New entry: the previous string followed by this string's first
      // character, which lies right after it in the output.
      table[next] = Entry{prevOff, prevLen + 1};
      ++next;
      if (next == (1 << width) && width < 12) {
        ++width;
        mask = (1u << width) - 1;
      }
    }
    prev = int(code);
    prevOff = uint32_t(start);
    prevLen = len;
  }
  return std::min(pos, total);
}

// Bits packed least significant first into sub-blocks of up to packetMax
// bytes. Codes go into a staging buffer with one unaligned 64-bit store each
// (no per-byte loop); whole sub-blocks, each with its length byte, reach the
// stream in one write of a few kilobytes.
class GifBitWriter {
 public:
  GifBitWriter(TStream* s, int packetMax) : s_(s), max_(packetMax) {}
  void Put(uint32_t code, int width) {
    acc_ |= uint64_t(code) << nacc_;
    nacc_ += width;
    std::memcpy(buf_ + n_, &acc_, sizeof acc_);
    n_ += nacc_ >> 3;
    acc_ >>= nacc_ & ~7;
    nacc_ &= 7;
    if (n_ >= kStage) Flush(false);
  }
  // Writes the partial byte, the last packet and the terminator.
  void Finish() {
    if (nacc_ > 0) ++n_;  // the partial byte is already at buf_[n_]
    acc_ = 0;
    nacc_ = 0;
    Flush(true);
    uint8_t zero = 0;
    s_->WriteBuffer(&zero, 1);
  }

 private:
  static constexpr int kStage = 4096;
  // Writes the staged bytes as sub-blocks of max_ bytes; the last, shorter
  // one only when `all`, else it moves to the front for the next codes.
  void Flush(bool all) {
    int at = 0, k = 0;
    while (n_ - at >= max_ || (all && n_ > at)) {
      const int len = std::min(max_, n_ - at);
      out_[k++] = uint8_t(len);
      std::memcpy(out_ + k, buf_ + at, size_t(len));
      k += len;
      at += len;
    }
    if (k > 0) s_->WriteBuffer(out_, k);
    // The rest, with the partial byte stored at buf_[n_].
    std::memmove(buf_, buf_ + at, size_t(n_ - at) + sizeof acc_);
    n_ -= at;
  }
  TStream* s_;
  int max_;
  uint64_t acc_ = 0;
  int nacc_ = 0;
  int n_ = 0;
  // Staged bytes: a flush leaves fewer than max_ (< 256), then codes add up
  // to kStage + 3 before the next; 8 bytes of room for the last store.
  uint8_t buf_[kStage + 16] = {};
  uint8_t out_[2 * kStage + 64];
};

// Visits the pixels of Data row by row, in GIF interlaced order when asked.
template <typename F>
void ForEachRow(int32_t Height, int32_t Width, bool Interlaced, const uint8_t* Data, F&& f) {
  for (int32_t i = 0; i < Height; ++i) {
    int32_t y = Interlaced ? GifInterlacedRow(i, Height) : i;
    f(Data + size_t(y) * size_t(Width));
  }
}

int CodeSizeFor(int32_t bits) { return std::clamp<int32_t>(bits, 2, 8); }

}  // namespace

int32_t GifInterlacedRow(int32_t i, int32_t Height) {
  int32_t n = (Height + 7) / 8;
  if (i < n) return i * 8;
  i -= n;
  n = (Height + 3) / 8;
  if (i < n) return 4 + i * 8;
  i -= n;
  n = (Height + 1) / 4;
  if (i < n) return 2 + i * 4;
  i -= n;
  return 1 + i * 2;
}

void GIFLZWDecompress(TStream* Stream, int32_t Height, int32_t Width, bool Interlaced, uint8_t* Buffer) {
  uint8_t codeSize;
  if (Stream->Read(&codeSize, 1) != 1 || codeSize < 2 || codeSize > 9) Corrupted();
  size_t size;
  std::vector<uint8_t> data = ReadSubBlocks(Stream, size);
  const size_t total = Width > 0 && Height > 0 ? size_t(Width) * size_t(Height) : 0;
  if (total == 0) return;
  size_t done;
  if (!Interlaced) {
    // Straight into the caller's buffer: strings near its end are copied
    // without the 8-byte overrun.
    done = DecodeLZW(data.data(), size, codeSize, Buffer, total, total);
    std::memset(Buffer + done, 0, total - done);
    return;
  }
  std::vector<uint8_t> tmp(total + 8);
  done = DecodeLZW(data.data(), size, codeSize, tmp.data(), total, total + 8);
  std::memset(tmp.data() + done, 0, total - done);
  for (int32_t i = 0; i < Height; ++i)
    std::memcpy(Buffer + size_t(GifInterlacedRow(i, Height)) * size_t(Width),
                tmp.data() + size_t(i) * size_t(Width), size_t(Width));
}

void GIFLZWCompress(TStream* Stream, int32_t Height, int32_t Width, bool Interlaced, const uint8_t* Data,
                    int32_t BitsPerPixel) {
  const int codeSize = CodeSizeFor(BitsPerPixel);
  uint8_t cs = uint8_t(codeSize);
  Stream->WriteBuffer(&cs, 1);
  GifBitWriter w(Stream, 254);
  const int clear = 1 << codeSize, eoi = clear + 1;
  const int initWidth = codeSize + 1;
  const uint8_t pixMask = uint8_t(clear - 1);

  // Open hashing of (prefix, pixel) pairs to codes with linear probing: 32768
  // slots for at most 4096 codes, each slot one word holding the pair's key
  // (pixel << 12 | prefix, 20 bits) above its code (12 bits). Codes are at
  // least clear + 2, so a zero word marks an empty slot. At most one slot in
  // eight is taken, so a probe nearly always ends at its first slot: the
  // 128 KB table is faster than a smaller, fuller one that stays in the
  // first-level cache (the hits and misses of a probe chain branch
  // unpredictably).
  constexpr int kHashBits = 15;
  constexpr uint32_t kHashMask = (1u << kHashBits) - 1;
  std::vector<uint32_t> htab(size_t(1) << kHashBits, 0);
  auto slot = [](uint32_t key) { return (key * 2654435761u) >> (32 - kHashBits); };

  int width = initWidth;
  int maxcode = (1 << width) - 1;
  int freeEnt = clear + 2;
  bool clearFlag = false;
  auto output = [&](int code) {
    w.Put(uint32_t(code), width);
    if (freeEnt > maxcode || clearFlag) {
      if (clearFlag) {
        width = initWidth;
        maxcode = (1 << width) - 1;
        clearFlag = false;
      } else {
        ++width;
        maxcode = width == 12 ? kMaxCode : (1 << width) - 1;
      }
    }
  };

  output(clear);
  const size_t total = Width > 0 && Height > 0 ? size_t(Width) * size_t(Height) : 0;
  if (total > 0) {
    int ent = -1;
    ForEachRow(Height, Width, Interlaced, Data, [&](const uint8_t* row) {
      int32_t x = 0;
      if (ent < 0) ent = row[x++] & pixMask;
      for (; x < Width; ++x) {
        const int c = row[x] & pixMask;
        const uint32_t key = (uint32_t(c) << 12) | uint32_t(ent);
        uint32_t i = slot(key);
        uint32_t e;
        while ((e = htab[i]) != 0 && (e >> 12) != key) i = (i + 1) & kHashMask;
        if (e != 0) {
          ent = int(e & 0xFFF);
          continue;
        }
        output(ent);
        ent = c;
        if (freeEnt < kMaxCode) {
          htab[i] = key << 12 | uint32_t(freeEnt++);
        } else {
          std::fill(htab.begin(), htab.end(), 0u);
          freeEnt = clear + 2;
          clearFlag = true;
          output(clear);
        }
      }
    });
    output(ent);
  }
  output(eoi);
  w.Finish();
}

namespace {

// The run-length coder's state. Every code it writes is either a single pixel
// or a run code base + k - 2 standing for k copies of the pixel whose runs the
// decoder's table currently holds; it counts the codes since the last clear
// exactly as a decoder grows its table, so code widths always agree.
class RunLengthGifEncoder {
 public:
  RunLengthGifEncoder(TStream* s, int codeSize) : w_(s, 255) {
    clear_ = 1 << codeSize;
    eoi_ = clear_ + 1;
    base_ = clear_ + 2;
    widthInit_ = codeSize + 1;
    bumpInit_ = clear_ - 1;
    clearInit_ = widthInit_ <= 3 ? 9 : clear_ - 2;
    maxCodes_ = kMaxCode - (clear_ + 3);
    DidClear();
    w_.Put(uint32_t(clear_), width_);
  }

  void Pixel(int c) {
    // Runs are cut at 2^28 pixels so the cost arithmetic stays in int.
    if (count_ > 0 && (c != pixel_ || count_ >= (1 << 28))) Flush();
    if (count_ > 0) {
      ++count_;
    } else {
      pixel_ = c;
      count_ = 1;
    }
  }

  void End() {
    if (count_ > 0) Flush();
    w_.Put(uint32_t(eoi_), width_);
    w_.Finish();
  }

 private:
  void DidClear() {
    width_ = widthInit_;
    bump_ = bumpInit_;
    clearAt_ = clearInit_;
    codes_ = 0;
    tableMax_ = 0;
    justCleared_ = true;
  }
  void EmitClear() {
    w_.Put(uint32_t(clear_), width_);
    DidClear();
  }
  void Plain(int code) {
    justCleared_ = false;
    w_.Put(uint32_t(code), width_);
    ++codes_;
    if (codes_ >= bump_) {
      ++width_;
      bump_ += 1 << (width_ - 1);
    }
    if (codes_ >= clearAt_) EmitClear();
  }
  void ResetClearPoint() {
    clearAt_ = clearInit_;
    if (codes_ >= clearAt_) EmitClear();
  }
  static int ISqrt(int x) {
    if (x < 2) return x;
    int r = 1;
    while (r * r <= x) r <<= 1;
    int lo = r >> 1, hi = r;
    while (hi - lo > 1) {
      int mid = (lo + hi) / 2;
      if (mid * mid <= x)
        lo = mid;
      else
        hi = mid;
    }
    return lo;
  }
  // Codes needed to write a run of n from a fresh table: runs of 1, 2, 3, ...
  // up to maxCodes codes per table.
  int TriangleCount(int n) const {
    const int perBlock = maxCodes_ * (maxCodes_ + 1) / 2;
    int cost = 0;
    while (n >= perBlock) {
      cost += maxCodes_;
      n -= perBlock;
    }
    if (n > 0) {
      int k = ISqrt(n);
      while (k * (k + 1) >= 2 * n) --k;
      while (k * (k + 1) < 2 * n) ++k;
      cost += k;
    }
    return cost;
  }
  void FromClear(int n) {
    clearAt_ = maxCodes_;
    tablePixel_ = pixel_;
    int k = 1;
    while (n > 0) {
      if (k == 1) {
        tableMax_ = 1;
        Plain(pixel_);
        --n;
      } else if (n >= k) {
        tableMax_ = k;
        Plain(base_ + k - 2);
        n -= k;
      } else if (n == 1) {
        ++tableMax_;
        Plain(pixel_);
        n = 0;
      } else {
        ++tableMax_;
        Plain(base_ + n - 2);
        n = 0;
      }
      k = codes_ == 0 ? 1 : k + 1;
    }
    ResetClearPoint();
  }
  void ClearOrRepeat(int n) {
    if (1 + TriangleCount(n) < n) {
      EmitClear();
      FromClear(n);
    } else {
      for (; n > 0; --n) Plain(pixel_);
    }
  }
  void WithTable(int n) {
    int reps = n / tableMax_;
    int left = n % tableMax_;
    int extra = left > 0 ? 1 : 0;
    if (codes_ + reps + extra > maxCodes_) {
      reps = maxCodes_ - codes_;
      left = n - reps * tableMax_;
      extra = 1 + TriangleCount(left);
    }
    if (1 + TriangleCount(n) < reps + extra) {
      EmitClear();
      FromClear(n);
      return;
    }
    clearAt_ = maxCodes_;
    for (; reps > 0; --reps) Plain(base_ + tableMax_ - 2);
    if (left > 0) {
      if (justCleared_)
        FromClear(left);
      else if (left == 1)
        Plain(pixel_);
      else
        Plain(base_ + left - 2);
    }
    ResetClearPoint();
  }
  void Flush() {
    if (count_ == 1)
      Plain(pixel_);
    else if (justCleared_)
      FromClear(count_);
    else if (tableMax_ < 2 || tablePixel_ != pixel_)
      ClearOrRepeat(count_);
    else
      WithTable(count_);
    count_ = 0;
  }

  GifBitWriter w_;
  int clear_, eoi_, base_, widthInit_, bumpInit_, clearInit_, maxCodes_;
  int width_ = 0, bump_ = 0, clearAt_ = 0, codes_ = 0;
  int tableMax_ = 0, tablePixel_ = -1;
  bool justCleared_ = true;
  int pixel_ = -1, count_ = 0;
};

}  // namespace

void GIFNONLZWCompress(TStream* Stream, int32_t Height, int32_t Width, bool Interlaced, const uint8_t* Data,
                       int32_t BitsPerPixel) {
  const int codeSize = CodeSizeFor(BitsPerPixel);
  uint8_t cs = uint8_t(codeSize);
  Stream->WriteBuffer(&cs, 1);
  RunLengthGifEncoder enc(Stream, codeSize);
  const int pixMask = (1 << codeSize) - 1;
  if (Width > 0 && Height > 0)
    ForEachRow(Height, Width, Interlaced, Data, [&](const uint8_t* row) {
      for (int32_t x = 0; x < Width; ++x) enc.Pixel(row[x] & pixMask);
    });
  enc.End();
}

}  // namespace korvane
