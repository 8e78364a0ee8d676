/// \file
/// Bounds-checked reading for the codecs: every read either gets all the
/// bytes it asked for or raises EInvalidGraphic with the codec's message, and
/// seeks never leave the data. Little-endian helpers for bytes in memory.
#pragma once
#include <cstdint>
#include <cstring>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/streams.h"

namespace korvane {

inline uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t LE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void PutLE16(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

/// A stream read up to a fixed end (the stream's size, or a data size the
/// caller knows).
class TCheckedReader {
 public:
  /// message: the codec's text for any short read. end < 0: the stream's end.
  TCheckedReader(TStream* s, const char* message, int64_t end = -1) : s_(s), msg_(message) {
    int64_t size = s->Size();
    end_ = end < 0 || end > size ? size : end;
  }

  [[noreturn]] void Fail() const { throw EInvalidGraphic(msg_); }
  TStream* Stream() const { return s_; }

  int64_t Position() const { return s_->Position(); }
  int64_t End() const { return end_; }
  /// Bytes from the position to the end (0 when past it).
  int64_t Remaining() const {
    int64_t r = end_ - s_->Position();
    return r > 0 ? r : 0;
  }

  void Read(void* p, int64_t n) {
    if (n <= 0) return;
    if (n > Remaining() || s_->Read(p, n) != n) Fail();
  }
  uint8_t U8() {
    uint8_t b;
    Read(&b, 1);
    return b;
  }
  uint16_t U16() {
    uint8_t b[2];
    Read(b, 2);
    return LE16(b);
  }
  uint32_t U32() {
    uint8_t b[4];
    Read(b, 4);
    return LE32(b);
  }
  /// Moves to an absolute position inside the data.
  void SeekTo(int64_t pos) {
    if (pos < 0 || pos > end_) Fail();
    s_->Seek(pos, soBeginning);
  }
  void Skip(int64_t n) { SeekTo(s_->Position() + n); }

 private:
  TStream* s_;
  const char* msg_;
  int64_t end_ = 0;
};

}  // namespace korvane
