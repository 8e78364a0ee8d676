// Small writers of WMF and EMF records for the metafile tests and the fuzz
// seed corpus: each helper appends one record with its parameters in the
// order the format stores them.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <vector>

namespace korvane::test {

using Bytes = std::vector<uint8_t>;

inline void Put16(Bytes& b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
inline void Put32(Bytes& b, uint32_t v) {
  b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

// A packed 24-bit bottom-up DIB of w x h pixels given top row first (0xRRGGBB).
inline Bytes PackedDib24(int w, int h, const std::vector<uint32_t>& rgb) {
  Bytes b;
  const int row = (w * 3 + 3) & ~3;
  for (uint32_t v : {40u, uint32_t(w), uint32_t(h)}) Put32(b, v);
  Put16(b, 1);
  Put16(b, 24);
  for (int i = 0; i < 6; ++i) Put32(b, i == 1 ? uint32_t(row * h) : 0);
  for (int y = h - 1; y >= 0; --y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t c = rgb[size_t(y * w + x)];
      b.insert(b.end(), {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)});
    }
    for (int p = w * 3; p < row; ++p) b.push_back(0);
  }
  return b;
}

class WmfWriter {
 public:
  // A record of 16-bit words as stored.
  void Rec(uint16_t fn, std::initializer_list<int> words, const Bytes& tail = {}) {
    Bytes params;
    for (int w : words) Put16(params, uint32_t(w));
    params.insert(params.end(), tail.begin(), tail.end());
    if (params.size() & 1) params.push_back(0);
    Put32(recs_, uint32_t(3 + params.size() / 2));
    Put16(recs_, fn);
    recs_.insert(recs_.end(), params.begin(), params.end());
  }
  void Raw(const Bytes& b) { recs_.insert(recs_.end(), b.begin(), b.end()); }

  void Pen(int style, int width, uint32_t color) {
    Rec(0x02FA, {style, width, 0, int(color & 0xFFFF), int(color >> 16)});
  }
  void Brush(int style, uint32_t color, int hatch = 0) {
    Rec(0x02FC, {style, int(color & 0xFFFF), int(color >> 16), hatch});
  }
  void Select(int i) { Rec(0x012D, {i}); }
  void Delete(int i) { Rec(0x01F0, {i}); }
  void Rectangle(int l, int t, int r, int b) { Rec(0x041B, {b, r, t, l}); }
  void Ellipse(int l, int t, int r, int b) { Rec(0x0418, {b, r, t, l}); }
  void MoveTo(int x, int y) { Rec(0x0214, {y, x}); }
  void LineTo(int x, int y) { Rec(0x0213, {y, x}); }
  void Poly(uint16_t fn, std::initializer_list<int> xy) {
    Bytes p;
    Put16(p, uint32_t(xy.size() / 2));
    for (int v : xy) Put16(p, uint32_t(v));
    Rec(fn, {}, p);
  }
  void WindowOrg(int x, int y) { Rec(0x020B, {y, x}); }
  void WindowExt(int x, int y) { Rec(0x020C, {y, x}); }
  void ViewportExt(int x, int y) { Rec(0x020E, {y, x}); }
  void MapMode(int m) { Rec(0x0103, {m}); }

  // The 18-byte header, the records and EOF.
  Bytes Bare(int nObjects = 8) const {
    Bytes b;
    Put16(b, 1);
    Put16(b, 9);
    Put16(b, 0x0300);
    Put32(b, uint32_t((18 + recs_.size() + 6) / 2));
    Put16(b, uint32_t(nObjects));
    Put32(b, 0);
    Put16(b, 0);
    b.insert(b.end(), recs_.begin(), recs_.end());
    Put32(b, 3);
    Put16(b, 0);
    return b;
  }
  // The same behind a placeable header.
  Bytes Placeable(int l, int t, int r, int bottom, int inch, int nObjects = 8) const {
    Bytes b;
    Put32(b, 0x9AC6CDD7);
    Put16(b, 0);
    for (int v : {l, t, r, bottom, inch}) Put16(b, uint32_t(v));
    Put32(b, 0);
    Put16(b, 0);  // checksum left wrong on purpose
    Bytes rest = Bare(nObjects);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
  }

 private:
  Bytes recs_;
};

class EmfWriter {
 public:
  // A record of 32-bit values, then raw bytes.
  void Rec(uint32_t type, std::initializer_list<int64_t> values, const Bytes& tail = {}) {
    Bytes params;
    for (int64_t v : values) Put32(params, uint32_t(v));
    params.insert(params.end(), tail.begin(), tail.end());
    while (params.size() % 4) params.push_back(0);
    Put32(recs_, type);
    Put32(recs_, uint32_t(8 + params.size()));
    recs_.insert(recs_.end(), params.begin(), params.end());
    ++count_;
  }
  void Raw(const Bytes& b) { recs_.insert(recs_.end(), b.begin(), b.end()); }

  void Rectangle(int l, int t, int r, int b) { Rec(43, {l, t, r, b}); }
  void Ellipse(int l, int t, int r, int b) { Rec(42, {l, t, r, b}); }
  void Pen(int ih, int style, int width, uint32_t color) { Rec(38, {ih, style, width, 0, color}); }
  void Brush(int ih, int style, uint32_t color, int hatch = 0) { Rec(39, {ih, style, color, hatch}); }
  void Select(uint32_t ih) { Rec(37, {ih}); }
  void Delete(uint32_t ih) { Rec(40, {ih}); }
  void Poly16(uint32_t type, std::initializer_list<int> xy) {
    Bytes p;
    for (int i = 0; i < 4; ++i) Put32(p, 0);  // bounds
    Put32(p, uint32_t(xy.size() / 2));
    for (int v : xy) Put16(p, uint32_t(v));
    Rec(type, {}, p);
  }

  // Header (bounds and frame as given, a device of devW x devH pixels over
  // mmW x mmH millimetres), the records and EOF.
  Bytes Build(int fl, int ft, int fr, int fb, int devW, int devH, int mmW, int mmH, int handles = 8) const {
    Bytes b;
    Put32(b, 1);
    Put32(b, 88);
    for (int v : {0, 0, devW - 1, devH - 1}) Put32(b, uint32_t(v));
    for (int v : {fl, ft, fr, fb}) Put32(b, uint32_t(v));
    Put32(b, 0x464D4520);
    Put32(b, 0x10000);
    Put32(b, uint32_t(88 + recs_.size() + 20));
    Put32(b, uint32_t(count_ + 2));
    Put16(b, uint32_t(handles));
    Put16(b, 0);
    for (int i = 0; i < 3; ++i) Put32(b, 0);
    for (int v : {devW, devH, mmW, mmH}) Put32(b, uint32_t(v));
    b.insert(b.end(), recs_.begin(), recs_.end());
    for (uint32_t v : {14u, 20u, 0u, 0u, 20u}) Put32(b, v);
    return b;
  }

 private:
  Bytes recs_;
  int count_ = 0;
};

}  // namespace korvane::test
