// Helpers of the TIFF tests: reading a stream or file with the library's LZW
// coders installed, touching every pixel, and building small TIFF files entry
// by entry (either byte order) for hostile inputs.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/codecs/tiff/tiff_lzw.h"
#include "tests/peer_command.h"

namespace korvane::test {

inline void InstallTiffCoders(TIOParamsVals& p) {
  p.TIFF_LZWDecompFunc = TIFFLZWDecompress;
  p.TIFF_LZWCompFunc = TIFFLZWCompress;
}

inline int32_t ReadTiffBytes(const std::vector<uint8_t>& bytes, TBitmap& bmp, TIOParamsVals& p) {
  TMemoryStream m;
  m.SetData(bytes.data(), bytes.size());
  int32_t pages = -1;
  TIFFReadStream(&bmp, &m, pages, false, nullpr, &p);
  return pages;
}

inline unsigned TouchPixels(TBitmap& b) {
  unsigned sum = 0;
  const int bytes = b.PixelFormat() == pf1bit ? (b.Width() + 7) / 8 : b.Width() * 3;
  for (int y = 0; y < b.Height(); ++y)
    for (int i = 0; i < bytes; ++i) sum += b.Scanline(y)[i];
  return sum;
}

// A TIFF built entry by entry. Values of four bytes or less go in the entry.
struct TiffBuilder {
  bool big = false;
  std::vector<uint8_t> data;  // header, then whatever is appended
  struct E {
    uint16_t tag, type;
    uint32_t count;
    std::vector<uint8_t> value;  // file-order bytes
  };
  std::vector<E> entries;

  TiffBuilder(bool bigEndian = false) : big(bigEndian) {
    data = big ? std::vector<uint8_t>{'M', 'M', 0, 42, 0, 0, 0, 0}
               : std::vector<uint8_t>{'I', 'I', 42, 0, 0, 0, 0, 0};
  }
  void P16(std::vector<uint8_t>& v, uint32_t x) const {
    if (big)
      v.insert(v.end(), {uint8_t(x >> 8), uint8_t(x)});
    else
      v.insert(v.end(), {uint8_t(x), uint8_t(x >> 8)});
  }
  void P32(std::vector<uint8_t>& v, uint32_t x) const {
    if (big) {
      P16(v, x >> 16), P16(v, x & 0xFFFF);
    } else {
      P16(v, x & 0xFFFF), P16(v, x >> 16);
    }
  }
  // Appends raw bytes; answers their offset.
  uint32_t Append(const std::vector<uint8_t>& b) {
    if (data.size() & 1) data.push_back(0);
    const uint32_t at = uint32_t(data.size());
    data.insert(data.end(), b.begin(), b.end());
    return at;
  }
  void Short(uint16_t tag, std::vector<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) P16(b, x);
    entries.push_back({tag, 3, uint32_t(v.size()), b});
  }
  void Long(uint16_t tag, std::vector<uint32_t> v) {
    std::vector<uint8_t> b;
    for (uint32_t x : v) P32(b, x);
    entries.push_back({tag, 4, uint32_t(v.size()), b});
  }
  // An entry whose count is given as is, its offset pointing at off.
  void Raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t off) {
    std::vector<uint8_t> b;
    P32(b, off);
    entries.push_back({tag, type, count, b});
  }
  // Writes the directory (linking to next) and points the header (or the
  // given link slot) at it; answers the directory's offset.
  uint32_t Finish(uint32_t next = 0, size_t slot = 4) {
    std::vector<uint8_t> ifd;
    P16(ifd, uint32_t(entries.size()));
    std::vector<std::pair<size_t, std::vector<uint8_t>>> later;
    for (const E& e : entries) {
      P16(ifd, e.tag), P16(ifd, e.type), P32(ifd, e.count);
      if (e.value.size() <= 4 || e.count == 0) {
        std::vector<uint8_t> v = e.value;
        v.resize(4);
        ifd.insert(ifd.end(), v.begin(), v.end());
      } else {
        later.push_back({ifd.size(), e.value});
        P32(ifd, 0);
      }
    }
    P32(ifd, next);
    for (auto& [pos, v] : later) {
      const uint32_t at = Append(v);
      std::vector<uint8_t> o;
      P32(o, at);
      std::copy(o.begin(), o.end(), ifd.begin() + long(pos));
    }
    const uint32_t at = Append(ifd);
    std::vector<uint8_t> o;
    P32(o, at);
    std::copy(o.begin(), o.end(), data.begin() + long(slot));
    entries.clear();
    return at;
  }
};

}  // namespace korvane::test
