#include "korvane/io/codecs/tiff/tiff_ccitt.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace korvane {

namespace {

struct CodeText {
  int run;
  const char* bits;
};

// Terminating codes (runs 0..63) and make-up codes (multiples of 64).
const CodeText kWhite[] = {
    {0, "00110101"},     {1, "000111"},       {2, "0111"},         {3, "1000"},         {4, "1011"},
    {5, "1100"},         {6, "1110"},         {7, "1111"},         {8, "10011"},        {9, "10100"},
    {10, "00111"},       {11, "01000"},       {12, "001000"},      {13, "000011"},      {14, "110100"},
    {15, "110101"},      {16, "101010"},      {17, "101011"},      {18, "0100111"},     {19, "0001100"},
    {20, "0001000"},     {21, "0010111"},     {22, "0000011"},     {23, "0000100"},     {24, "0101000"},
    {25, "0101011"},     {26, "0010011"},     {27, "0100100"},     {28, "0011000"},     {29, "00000010"},
    {30, "00000011"},    {31, "00011010"},    {32, "00011011"},    {33, "00010010"},    {34, "00010011"},
    {35, "00010100"},    {36, "00010101"},    {37, "00010110"},    {38, "00010111"},    {39, "00101000"},
    {40, "00101001"},    {41, "00101010"},    {42, "00101011"},    {43, "00101100"},    {44, "00101101"},
    {45, "00000100"},    {46, "00000101"},    {47, "00001010"},    {48, "00001011"},    {49, "01010010"},
    {50, "01010011"},    {51, "01010100"},    {52, "01010101"},    {53, "00100100"},    {54, "00100101"},
    {55, "01011000"},    {56, "01011001"},    {57, "01011010"},    {58, "01011011"},    {59, "01001010"},
    {60, "01001011"},    {61, "00110010"},    {62, "00110011"},    {63, "00110100"},    {64, "11011"},
    {128, "10010"},      {192, "010111"},     {256, "0110111"},    {320, "00110110"},   {384, "00110111"},
    {448, "01100100"},   {512, "01100101"},   {576, "01101000"},   {640, "01100111"},   {704, "011001100"},
    {768, "011001101"},  {832, "011010010"},  {896, "011010011"},  {960, "011010100"},  {1024, "011010101"},
    {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"}, {1344, "011011010"},
    {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"}, {1664, "011000"},
    {1728, "010011011"},
};
const CodeText kBlack[] = {
    {0, "0000110111"},
    {1, "010"},
    {2, "11"},
    {3, "10"},
    {4, "011"},
    {5, "0011"},
    {6, "0010"},
    {7, "00011"},
    {8, "000101"},
    {9, "000100"},
    {10, "0000100"},
    {11, "0000101"},
    {12, "0000111"},
    {13, "00000100"},
    {14, "00000111"},
    {15, "000011000"},
    {16, "0000010111"},
    {17, "0000011000"},
    {18, "0000001000"},
    {19, "00001100111"},
    {20, "00001101000"},
    {21, "00001101100"},
    {22, "00000110111"},
    {23, "00000101000"},
    {24, "00000010111"},
    {25, "00000011000"},
    {26, "000011001010"},
    {27, "000011001011"},
    {28, "000011001100"},
    {29, "000011001101"},
    {30, "000001101000"},
    {31, "000001101001"},
    {32, "000001101010"},
    {33, "000001101011"},
    {34, "000011010010"},
    {35, "000011010011"},
    {36, "000011010100"},
    {37, "000011010101"},
    {38, "000011010110"},
    {39, "000011010111"},
    {40, "000001101100"},
    {41, "000001101101"},
    {42, "000011011010"},
    {43, "000011011011"},
    {44, "000001010100"},
    {45, "000001010101"},
    {46, "000001010110"},
    {47, "000001010111"},
    {48, "000001100100"},
    {49, "000001100101"},
    {50, "000001010010"},
    {51, "000001010011"},
    {52, "000000100100"},
    {53, "000000110111"},
    {54, "000000111000"},
    {55, "000000100111"},
    {56, "000000101000"},
    {57, "000001011000"},
    {58, "000001011001"},
    {59, "000000101011"},
    {60, "000000101100"},
    {61, "000001011010"},
    {62, "000001100110"},
    {63, "000001100111"},
    {64, "0000001111"},
    {128, "000011001000"},
    {192, "000011001001"},
    {256, "000001011011"},
    {320, "000000110011"},
    {384, "000000110100"},
    {448, "000000110101"},
    {512, "0000001101100"},
    {576, "0000001101101"},
    {640, "0000001001010"},
    {704, "0000001001011"},
    {768, "0000001001100"},
    {832, "0000001001101"},
    {896, "0000001110010"},
    {960, "0000001110011"},
    {1024, "0000001110100"},
    {1088, "0000001110101"},
    {1152, "0000001110110"},
    {1216, "0000001110111"},
    {1280, "0000001010010"},
    {1344, "0000001010011"},
    {1408, "0000001010100"},
    {1472, "0000001010101"},
    {1536, "0000001011010"},
    {1600, "0000001011011"},
    {1664, "0000001100100"},
    {1728, "0000001100101"},
};
// Make-up codes shared by both colors.
const CodeText kExtended[] = {
    {1792, "00000001000"},  {1856, "00000001100"},  {1920, "00000001101"},  {1984, "000000010010"},
    {2048, "000000010011"}, {2112, "000000010100"}, {2176, "000000010101"}, {2240, "000000010110"},
    {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

enum Mode : int8_t { mBad, mPass, mHoriz, mV0, mVR1, mVR2, mVR3, mVL1, mVL2, mVL3 };
const struct {
  Mode mode;
  const char* bits;
} kModes[] = {{mPass, "0001"},   {mHoriz, "001"}, {mV0, "1"},       {mVR1, "011"},    {mVR2, "000011"},
              {mVR3, "0000011"}, {mVL1, "010"},   {mVL2, "000010"}, {mVL3, "0000010"}};

constexpr int kRunBits = 13;  // longest run code
constexpr int16_t kInvalid = -1, kEol = -2;

struct Entry {
  int16_t run = kInvalid;
  uint8_t len = 0;
};
struct Code {
  uint16_t code = 0;
  uint8_t len = 0;
};

uint16_t Bits(const char* s, int& len) {
  uint16_t v = 0;
  for (len = 0; s[len]; ++len) v = uint16_t((v << 1) | (s[len] == '1'));
  return v;
}

struct Tables {
  Entry white[1 << kRunBits], black[1 << kRunBits];
  // Two mode codes at once, from the next 8 bits: the first, and the second
  // when it lies whole in the bits left (mBad when not). Most codes are
  // 1 to 3 bits long, so most pairs are found.
  struct ModePair {
    Mode first = mBad, second = mBad;
    uint8_t firstLen = 0, secondLen = 0;
  } pairs[256];
  // Encoder side: terminating codes by run, make-up codes by run / 64.
  Code whiteTerm[64], blackTerm[64], whiteMake[41], blackMake[41];
  uint8_t reverse[256];

  static void Fill(Entry* t, const CodeText& c) {
    int len;
    const uint16_t v = Bits(c.bits, len);
    const int span = 1 << (kRunBits - len);
    for (int i = 0; i < span; ++i) t[(v << (kRunBits - len)) | i] = Entry{int16_t(c.run), uint8_t(len)};
  }
  static void Put(Code* term, Code* make, const CodeText& c) {
    int len;
    const uint16_t v = Bits(c.bits, len);
    (c.run < 64 ? term[c.run] : make[c.run / 64]) = Code{v, uint8_t(len)};
  }
  Tables() {
    for (const auto& c : kWhite) Fill(white, c), Put(whiteTerm, whiteMake, c);
    for (const auto& c : kBlack) Fill(black, c), Put(blackTerm, blackMake, c);
    for (const auto& c : kExtended) {
      Fill(white, c), Fill(black, c);
      Put(whiteTerm, whiteMake, c), Put(blackTerm, blackMake, c);
    }
    // End of line: eleven zeros and a one.
    for (int i = 0; i < 2; ++i) white[2 | i] = black[2 | i] = Entry{kEol, 12};
    // The mode code at the top of the n bits of v, if one lies whole there.
    auto lead = [](int v, int n, Mode& mode, uint8_t& len) {
      for (const auto& m : kModes) {
        int l;
        const uint16_t c = Bits(m.bits, l);
        if (l <= n && (v >> (n - l)) == c) mode = m.mode, len = uint8_t(l);
      }
    };
    for (int i = 0; i < 256; ++i) {
      ModePair& p = pairs[i];
      lead(i, 8, p.first, p.firstLen);  // the longest mode code has 7 bits
      if (p.first != mBad) lead(i & ((1 << (8 - p.firstLen)) - 1), 8 - p.firstLen, p.second, p.secondLen);
    }
    for (int i = 0; i < 256; ++i) {
      int r = 0;
      for (int b = 0; b < 8; ++b)
        if (i & (1 << b)) r |= 0x80 >> b;
      reverse[i] = uint8_t(r);
    }
  }
};

const Tables& T() {
  static const Tables t;
  return t;
}

// Changing elements of a row (positions where the color changes, starting
// from white), followed by width three times as sentinels. 64 pixels at a
// time: a pixel changes where its bit differs from the one before it (a set
// bit is white, and so is the pixel before the row).
void Changes(const uint8_t* row, int32_t width, std::vector<int32_t>& out) {
  out.clear();
  if (row && width > 0) {
    const size_t bytes = (size_t(width) + 7) / 8;
    uint64_t before = 1;
    for (size_t at = 0; at < bytes; at += 8) {
      uint64_t w = 0;
      std::memcpy(&w, row + at, std::min<size_t>(8, bytes - at));
      w = __builtin_bswap64(w);  // the first pixel in the top bit
      uint64_t t = w ^ ((w >> 1) | (before << 63));
      before = w & 1;
      const int64_t left = int64_t(width) - int64_t(at) * 8;  // pixels of the row in this word
      if (left < 64) t &= ~(~uint64_t(0) >> left);  // padding bits are no pixels
      while (t) {
        const int z = std::countl_zero(t);
        out.push_back(int32_t(at * 8) + z);
        t &= ~(uint64_t(1) << 63 >> z);
      }
    }
  }
  out.insert(out.end(), 3, width);
}

// Bit sink for the encoders: whole bytes collect in a buffer; the unfinished
// byte is kept between rows by the caller.
struct BitOut {
  std::vector<uint8_t> buf;
  uint32_t acc = 0;
  int n = 0;
  BitOut(int32_t pendingBits, uint8_t pendingByte) {
    n = std::clamp(pendingBits, 0, 7);
    acc = uint32_t(pendingByte) >> (8 - n);
    if (n == 0) acc = 0;
  }
  void Put(uint32_t code, int len) {
    acc = (acc << len) | code;
    n += len;
    while (n >= 8) {
      n -= 8;
      buf.push_back(uint8_t(acc >> n));
    }
    acc &= (1u << n) - 1;
  }
  void Run(int32_t run, bool white) {
    const Tables& t = T();
    const Code* term = white ? t.whiteTerm : t.blackTerm;
    const Code* make = white ? t.whiteMake : t.blackMake;
    while (run >= 2560) {
      Put(make[40].code, make[40].len);
      run -= 2560;
    }
    if (run >= 64) {
      Put(make[run / 64].code, make[run / 64].len);
      run %= 64;
    }
    Put(term[run].code, term[run].len);
  }
  void Eol() { Put(1, 12); }
  void Pad() {
    if (n) Put(0, 8 - n);
  }
  // Writes the whole bytes and hands the unfinished one back.
  void Flush(TStream* s, int32_t& pendingBits, uint8_t& pendingByte) {
    if (!buf.empty()) s->WriteBuffer(buf.data(), int64_t(buf.size()));
    buf.clear();
    pendingBits = n;
    pendingByte = n ? uint8_t(acc << (8 - n)) : 0;
  }
};

void Encode1D(BitOut& o, const std::vector<int32_t>& c, int32_t width) {
  int32_t a0 = 0;
  bool white = true;
  for (size_t i = 0;; ++i) {
    const int32_t a1 = c[i];
    o.Run(a1 - a0, white);
    if (a1 >= width) break;
    a0 = a1;
    white = !white;
  }
}

void Encode2D(BitOut& o, const std::vector<int32_t>& cur, const std::vector<int32_t>& ref, int32_t width) {
  int32_t a0 = -1;
  bool white = true;
  size_t ia = 0, ib = 0;
  while (a0 < width) {
    while (cur[ia] <= a0 && cur[ia] < width) ++ia;
    const int32_t a1 = cur[ia];
    // b1: the first change of the reference row right of a0 towards the
    // color opposite to the current one (even index: towards black).
    while (ib > 0 && ref[ib - 1] > a0) --ib;
    while (ref[ib] <= a0 && ref[ib] < width) ++ib;
    if ((ib & 1) != (white ? 0u : 1u) && ref[ib] < width) ++ib;
    const int32_t b1 = ref[ib], b2 = ref[ib + 1];
    if (b2 < a1) {
      o.Put(1, 4);  // pass
      a0 = b2;
      continue;
    }
    const int32_t d = a1 - b1;
    if (d == 0) {
      // A string of vertical-0 codes, while the next changes of both rows
      // coincide (both increase strictly, so no pass comes between).
      size_t k = 1;
      while (cur[ia + k] == ref[ib + k] && ref[ib + k] < width) ++k;
      a0 = cur[ia + k - 1];
      white ^= (k & 1) != 0;
      ia += k - 1;
      ib += k - 1;
      for (; k > 24; k -= 24) o.Put(0xFFFFFF, 24);
      o.Put((1u << k) - 1, int(k));
      continue;
    }
    if (d >= -3 && d <= 3) {
      static const uint8_t code[7] = {2, 2, 2, 1, 3, 3, 3}, len[7] = {7, 6, 3, 1, 3, 6, 7};
      o.Put(code[d + 3], len[d + 3]);
      a0 = a1;
      white = !white;
      continue;
    }
    const int32_t a2 = cur[ia + 1];
    o.Put(1, 3);  // horizontal
    o.Run(a1 - std::max(a0, 0), white);
    o.Run(a2 - a1, !white);
    a0 = a2;
  }
}

}  // namespace

TCCITTDecoder::TCCITTDecoder(const uint8_t* Data, int64_t DataSize, int32_t Width, int32_t FillOrder)
    : data_(Data),
      size_(Data ? std::max<int64_t>(DataSize, 0) : 0),
      bits_(size_ * 8),
      width_(std::max(Width, 0)),
      reverse_(FillOrder == 2) {
  T();
  SetReference(nullptr);
}

void TCCITTDecoder::SetReference(const uint8_t* Row) { Changes(Row, width_, ref_); }

namespace {

// The n bits at bit position pos of the data (bytes in fill order 2 reversed
// first), most significant first; zeros past the end.
uint32_t PeekBits(const uint8_t* data, int64_t size, bool reverse, int64_t pos, int n) {
  const int64_t byte = pos >> 3;
  uint32_t w;
  if (byte + 4 <= size) {
    std::memcpy(&w, data + byte, 4);
    if (reverse) {
      const uint8_t* rev = T().reverse;
      w = uint32_t(rev[w & 0xFF]) | uint32_t(rev[(w >> 8) & 0xFF]) << 8 |
          uint32_t(rev[(w >> 16) & 0xFF]) << 16 | uint32_t(rev[w >> 24]) << 24;
    }
    w = __builtin_bswap32(w);
  } else {
    w = 0;
    const uint8_t* rev = T().reverse;
    for (int i = 0; i < 4; ++i) {
      const int64_t b = byte + i;
      const uint8_t v = b < size ? (reverse ? rev[data[b]] : data[b]) : 0;
      w = (w << 8) | v;
    }
  }
  return (w >> (32 - int(pos & 7) - n)) & ((1u << n) - 1);
}

// Codes of one row from bit position pos on. The next bits wait in a
// register, most significant first: a code is read with one shift, and the
// register is reloaded from the data only every few codes. Near the end of
// the data, and for bytes in fill order 2, PeekBits reads them.
class CodeReader {
 public:
  CodeReader(const uint8_t* data, int64_t size, bool reverse, int64_t pos)
      : data_(data), size_(size), reverse_(reverse), windowEnd_(reverse ? 0 : (size - 7) * 8), pos_(pos) {}
  uint32_t Peek(int n) {
    if (have_ < n) {
      if (pos_ >= windowEnd_) return PeekBits(data_, size_, reverse_, pos_, n);
      uint64_t w;
      std::memcpy(&w, data_ + (pos_ >> 3), 8);
      acc_ = __builtin_bswap64(w) << (pos_ & 7);
      have_ = 64 - int(pos_ & 7);
    }
    return uint32_t(acc_ >> (64 - n));
  }
  void Skip(int n) {
    pos_ += n;
    acc_ <<= n;
    have_ -= n;
  }
  int64_t Pos() const { return pos_; }

 private:
  const uint8_t* data_;
  int64_t size_;
  bool reverse_;
  int64_t windowEnd_;
  int64_t pos_;
  uint64_t acc_ = 0;
  int have_ = 0;  // bits of acc_ that are the data's from pos_ on
};

// One run of a color (tab: its code table) of a row of width pixels:
// make-up codes then a terminating code. -1 on a bad code, an end of line,
// or the end of the data (bits long). Inlined, so that the reader's state
// stays in registers across the row's codes (a call costs 15% of the decode).
inline __attribute__((always_inline)) int ReadRun(CodeReader& in, const Entry* tab, int64_t bits,
                                                  int32_t width) {
  int total = 0;
  for (;;) {
    if (in.Pos() >= bits) return -1;
    const Entry e = tab[in.Peek(kRunBits)];
    if (e.run < 0) return -1;
    in.Skip(e.len);
    total += e.run;
    if (e.run < 64) return total;
    if (total > width + 2560) return -1;
  }
}

}  // namespace

uint32_t TCCITTDecoder::Peek(int n) const { return PeekBits(data_, size_, reverse_, pos_, n); }

void TCCITTDecoder::Finish(uint8_t* Row, bool ok) {
  // A broken row keeps the runs decoded so far; the rest stays white.
  if (!ok) {
    int32_t last = 0;
    for (size_t i = 0; i < cur_.size(); ++i) last = std::max(last, cur_[i]);
    if (cur_.size() % 2 == 1) cur_.push_back(last);
  }
  // A pixel is set (white) when an even number of changes lie at or before
  // it. Each change toggles its pixel's bit in a word of 64 pixels (the
  // most significant bit first, as the bytes go); a prefix XOR through each
  // word, carried from word to word, then gives the pixels. Two changes at
  // one place cancel, as the empty run between them should; changes at or
  // past the width touch nothing.
  const int32_t w = width_;
  const size_t words = (size_t(w) + 63) / 64;
  // Two sets of words, for changes at even and odd places, so that the
  // toggles of neighbouring changes, often in one word, do not wait on each
  // other; a change at or past the width goes to a spare word.
  toggles_.assign(2 * words + 2, 0);
  uint64_t* t = toggles_.data();
  uint64_t* t1 = t + words + 1;
  auto toggle = [w, words](uint64_t* set, int32_t p) {
    const bool in = p >= 0 && p < w;
    set[in ? size_t(p) >> 6 : words] ^= uint64_t(in) << (63 - (p & 63));
  };
  const int32_t* c = cur_.data();
  const size_t n = cur_.size();
  size_t k = 0;
  for (; k + 1 < n; k += 2) {
    toggle(t, c[k]);
    toggle(t1, c[k + 1]);
  }
  if (k < n) toggle(t, c[k]);
  for (size_t i = 0; i < words; ++i) t[i] ^= t1[i];
  uint64_t carry = ~uint64_t(0);  // the row starts white
  const size_t bytes = (size_t(w) + 7) / 8;
  for (size_t i = 0; i < words; ++i) {
    uint64_t y = t[i];
    y ^= y >> 1;
    y ^= y >> 2;
    y ^= y >> 4;
    y ^= y >> 8;
    y ^= y >> 16;
    y ^= y >> 32;
    y ^= carry;
    carry = 0 - (y & 1);
    if (i + 1 == words && (w & 63)) y &= ~uint64_t(0) << (64 - (w & 63));  // nothing past the width
    y = __builtin_bswap64(y);
    std::memcpy(Row + 8 * i, &y, std::min<size_t>(8, bytes - 8 * i));
  }
  std::swap(ref_, cur_);
  if (!ok) ref_.clear();
  while (!ref_.empty() && ref_.back() >= width_) ref_.pop_back();
  ref_.insert(ref_.end(), 3, width_);
}

bool TCCITTDecoder::Decode1D(uint8_t* Row) {
  cur_.clear();
  const Tables& t = T();
  CodeReader in(data_, size_, reverse_, pos_);
  int32_t a = 0;
  bool white = true;
  bool ok = true;
  while (a < width_) {
    const int r =
        cur_.size() > size_t(width_) + 2 ? -1 : ReadRun(in, white ? t.white : t.black, bits_, width_);
    if (r < 0) {
      ok = false;
      break;
    }
    a = std::min(a + r, width_);
    cur_.push_back(a);
    white = !white;
  }
  pos_ = in.Pos();
  Finish(Row, ok);
  return ok;
}

bool TCCITTDecoder::Decode2D(uint8_t* Row) {
  cur_.clear();
  const Tables& t = T();
  const int32_t w = width_;
  CodeReader in(data_, size_, reverse_, pos_);
  const int32_t* ref = ref_.data();
  int32_t a0 = -1;
  bool white = true;
  size_t ib = 0;
  bool ok = true;
  // The mode read with the last one, if any: the next code then needs no
  // lookup of its own, which shortens the chain of reads each code waits on.
  Mode next = mBad;
  uint8_t nextLen = 0;
  while (a0 < w) {
    if (in.Pos() >= bits_ || cur_.size() > size_t(w) + 2) {
      ok = false;
      break;
    }
    struct {
      Mode mode;
      uint8_t len;
    } m{next, nextLen};
    if (next != mBad) {
      next = mBad;
    } else {
      const auto& p = t.pairs[in.Peek(8)];
      if (p.first == mBad) {
        ok = false;
        break;
      }
      m = {p.first, p.firstLen};
      // Runs follow a horizontal mode code, not another mode.
      if (p.first != mHoriz) next = p.second, nextLen = p.secondLen;
    }
    in.Skip(m.len);
    while (ib > 0 && ref[ib - 1] > a0) --ib;
    while (ref[ib] <= a0 && ref[ib] < w) ++ib;
    if ((ib & 1) != (white ? 0u : 1u) && ref[ib] < w) ++ib;
    const int32_t b1 = ref[ib], b2 = ref[ib + 1];
    const int32_t start = std::max(a0, 0);
    if (m.mode == mPass) {
      a0 = b2;
    } else if (m.mode == mHoriz) {
      const int r1 = ReadRun(in, white ? t.white : t.black, bits_, w);
      const int r2 = r1 < 0 ? -1 : ReadRun(in, white ? t.black : t.white, bits_, w);
      if (r2 < 0) {
        ok = false;
        break;
      }
      const int32_t a1 = std::min(start + r1, w), a2 = std::min(a1 + r2, w);
      cur_.push_back(a1);
      cur_.push_back(a2);
      a0 = a2;
    } else {
      static const int8_t delta[] = {0, 0, 0, 0, 1, 2, 3, -1, -2, -3};
      const int32_t a1 = b1 + delta[m.mode];
      if (a1 < start || a1 > w) {
        ok = false;
        break;
      }
      cur_.push_back(a1);
      a0 = a1;
      white = !white;
      if (m.mode == mV0 && next == mV0) {
        // A row like the one above is a string of vertical-0 codes (single
        // one bits): each takes the next change of the reference row while
        // its changes increase. They are taken as a batch, without a lookup
        // and a search each. Bits past the data read as zeros.
        int ones = std::countl_one(in.Peek(24) << 8);
        size_t j = ib + 1;
        int taken = 0;
        while (taken < ones && ref[j] < w && ref[j] > a0) {
          a0 = ref[j++];
          cur_.push_back(a0);
          ++taken;
        }
        if (taken) {
          in.Skip(taken);
          ib = j - 1;
          white ^= (taken & 1) != 0;
          next = mBad;
        }
      }
    }
  }
  pos_ = in.Pos();
  Finish(Row, ok);
  return ok;
}

// Skips end-of-line codes (and the zero fill bits before them); answers
// whether at least one was there.
bool TCCITTDecoder::SkipEols() {
  bool any = false;
  while (pos_ < bits_) {
    const uint32_t p = Peek(12);
    if (p == 1) {
      pos_ += 12;
      any = true;
    } else if (p == 0) {
      // Fill bits before an end of line: zeros up to its final one bit.
      pos_ += 11;
      while (pos_ < bits_ && Peek(1) == 0) ++pos_;
      if (pos_ < bits_) {
        ++pos_;
        any = true;
      }
    } else {
      break;
    }
  }
  return any;
}

// Moves to the next end-of-line code after a broken row.
void TCCITTDecoder::Resync() {
  int zeros = 0;
  while (pos_ < bits_) {
    const uint32_t b = Peek(1);
    ++pos_;
    if (b == 0) {
      ++zeros;
    } else if (zeros >= 11) {
      pos_ -= 12;
      return;
    } else {
      zeros = 0;
    }
  }
}

bool TCCITTDecoder::DecodeHuffman(uint8_t* Row) {
  pos_ = (pos_ + 7) & ~int64_t(7);
  return Decode1D(Row);
}

bool TCCITTDecoder::DecodeG3(uint8_t* Row, bool TwoDimensional) {
  SkipEols();
  bool ok;
  if (TwoDimensional) {
    const bool oneD = pos_ < bits_ && Peek(1) == 1;
    ++pos_;
    ok = oneD ? Decode1D(Row) : Decode2D(Row);
  } else {
    ok = Decode1D(Row);
  }
  if (!ok) Resync();
  return ok;
}

bool TCCITTDecoder::DecodeG4(uint8_t* Row) { return Decode2D(Row); }

int32_t CCITTHuffmanGetLine(uint8_t* Row, const uint8_t* Data, int32_t DataSize, int32_t Width,
                            int32_t FillOrder) {
  TCCITTDecoder d(Data, DataSize, Width, FillOrder);
  d.DecodeHuffman(Row);
  return int32_t(std::min<int64_t>((d.BitPosition() + 7) / 8, std::max(DataSize, 0)));
}

int64_t _CCITTHuffmanGetLine(uint8_t* Row, const uint8_t* Data, int32_t DataSize, int32_t Width,
                             int32_t FillOrder, int64_t BitPosition) {
  TCCITTDecoder d(Data, DataSize, Width, FillOrder);
  d.SetBitPosition(BitPosition);
  d.DecodeG3(Row, false);
  return d.BitPosition();
}

int64_t CCITT3_2D_GetLine(uint8_t* Row, const uint8_t* Data, int32_t DataSize, int32_t Width,
                          int32_t FillOrder, int64_t BitPosition, const uint8_t* ReferenceRow, bool Group4) {
  TCCITTDecoder d(Data, DataSize, Width, FillOrder);
  d.SetReference(ReferenceRow);
  d.SetBitPosition(BitPosition);
  if (Group4)
    d.DecodeG4(Row);
  else
    d.DecodeG3(Row, true);
  return d.BitPosition();
}

void CCITTHuffmanPutLine(const uint8_t* Row, int32_t Width, TStream* Stream) {
  if (!Row || Width <= 0) return;
  std::vector<int32_t> c;
  Changes(Row, Width, c);
  BitOut o(0, 0);
  Encode1D(o, c, Width);
  o.Pad();
  int32_t pb;
  uint8_t pv;
  o.Flush(Stream, pb, pv);
}

void CCITTHuffmanPutLineG3(const uint8_t* Row, int32_t Width, TStream* Stream, int32_t& PendingBits,
                           uint8_t& PendingByte) {
  BitOut o(PendingBits, PendingByte);
  if (!Row) {
    o.Pad();
  } else if (Width > 0) {
    std::vector<int32_t> c;
    Changes(Row, Width, c);
    o.Eol();
    Encode1D(o, c, Width);
  }
  o.Flush(Stream, PendingBits, PendingByte);
}

void CCITTHuffmanPutLineG32D(const uint8_t* Row, int32_t Width, TStream* Stream,
                             std::vector<uint8_t>& ReferenceRow, int32_t& PendingBits, uint8_t& PendingByte) {
  BitOut o(PendingBits, PendingByte);
  if (!Row) {
    o.Eol();
    o.Pad();
  } else if (Width > 0) {
    std::vector<int32_t> cur;
    Changes(Row, Width, cur);
    o.Eol();
    if (ReferenceRow.empty()) {
      o.Put(1, 1);
      Encode1D(o, cur, Width);
    } else {
      std::vector<int32_t> ref;
      Changes(ReferenceRow.data(), Width, ref);
      o.Put(0, 1);
      Encode2D(o, cur, ref, Width);
    }
    ReferenceRow.assign(Row, Row + (Width + 7) / 8);
  }
  o.Flush(Stream, PendingBits, PendingByte);
}

void CCITTHuffmanPutLineG4(const uint8_t* Row, int32_t Width, TStream* Stream,
                           std::vector<uint8_t>& ReferenceRow, int32_t& PendingBits, uint8_t& PendingByte) {
  BitOut o(PendingBits, PendingByte);
  if (!Row) {
    o.Eol();
    o.Eol();
    o.Pad();
  } else if (Width > 0) {
    std::vector<int32_t> cur, ref;
    Changes(Row, Width, cur);
    Changes(ReferenceRow.empty() ? nullptr : ReferenceRow.data(), Width, ref);
    Encode2D(o, cur, ref, Width);
    ReferenceRow.assign(Row, Row + (Width + 7) / 8);
  }
  o.Flush(Stream, PendingBits, PendingByte);
}

}  // namespace korvane
