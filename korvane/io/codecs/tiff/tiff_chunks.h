/// \file
/// Decoders of TIFF strips and tiles that wrap C libraries: Deflate
/// (compressions 8 and 32946) through zlib, and JPEG (7, and old-style 6 that
/// points at an interchange stream) through libjpeg. Both hand out a chunk's
/// rows a few at a time, so a page stored as one big strip never needs a
/// buffer for all of it, and they write nowhere but the rows asked for.
/// Deflate chunks of moderate size decode whole through libdeflate first,
/// which is about twice as fast as zlib's streaming inflate.
#pragma once
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <memory>

#include "korvane/foundations/host/export.h"

struct libdeflate_decompressor;

namespace korvane {

/// The bytes of a zlib stream, in pieces.
class KORVANE_EXPORT TTiffInflater {
 public:
  /// Src must outlive the inflater.
  TTiffInflater(const uint8_t* Src, size_t SrcSize);
  ~TTiffInflater();
  TTiffInflater(const TTiffInflater&) = delete;
  TTiffInflater& operator=(const TTiffInflater&) = delete;
  /// The next Count bytes; those past the end of the data are 0 (a stream
  /// that ends early is not an error). Corrupt data raise
  /// EInvalidGraphic("Invalid TIFF stream").
  void Read(uint8_t* Dest, size_t Count);

 private:
  z_stream z_{};
  size_t inLeft_ = 0;
  bool ended_ = false;
};

/// Whole Deflate chunks through libdeflate. One decompressor serves a page's
/// chunks.
class KORVANE_EXPORT TTiffDeflate {
 public:
  TTiffDeflate();
  ~TTiffDeflate();
  TTiffDeflate(const TTiffDeflate&) = delete;
  TTiffDeflate& operator=(const TTiffDeflate&) = delete;
  /// Decodes the zlib stream Src into exactly Count bytes at Dest, 0 past the
  /// end of a stream that ends early. False, with Dest undefined, when the
  /// data are corrupt, cut short or longer than Count: the streaming
  /// TTiffInflater then gives what can be had from them, as it always did.
  bool Whole(const uint8_t* Src, size_t SrcSize, uint8_t* Dest, size_t Count);

 private:
  libdeflate_decompressor* d_ = nullptr;
};

/// The colour space a TIFF page says its JPEG data are in; RGB and YCbCr
/// data come out as RGB samples, CMYK as CMYK, gray as one sample.
enum class TTiffJpegColor { Gray, Rgb, YCbCr, Cmyk };

/// Samples a pixel of decoded data has.
inline int TiffJpegComponents(TTiffJpegColor c) {
  return c == TTiffJpegColor::Gray ? 1 : c == TTiffJpegColor::Cmyk ? 4 : 3;
}

/// The rows of one JPEG stream (after a table stream, when given), in pieces.
class KORVANE_EXPORT TTiffJpegReader {
 public:
  TTiffJpegReader();
  ~TTiffJpegReader();
  TTiffJpegReader(const TTiffJpegReader&) = delete;
  TTiffJpegReader& operator=(const TTiffJpegReader&) = delete;
  /// Reads the headers and starts decoding rows of Width pixels (Rows of
  /// them at most). False when libjpeg finds an error, when the stream's
  /// components do not match the colour, or when it is wider than Width or
  /// taller than Rows. Subsampled chroma is interpolated when Smooth, else
  /// repeated. Colour comes out in the bitmap's blue, green, red order when
  /// Bgr, else in the stream's. Tables and Data must outlive the reader.
  bool Start(const uint8_t* Tables, size_t TablesSize, const uint8_t* Data, size_t Size, TTiffJpegColor Color,
             bool Smooth, int64_t Width, int64_t Rows, bool Bgr = false);
  /// The next Count rows at Dest (Width x components bytes each); rows and
  /// columns the stream does not cover are 0. False on a libjpeg error.
  bool Read(uint8_t* Dest, int64_t Count);
  /// The same into Count rows anywhere (a bitmap's scanlines).
  bool ReadRows(uint8_t* const* Rows, int64_t Count);

  struct State;  ///< libjpeg's objects (defined with the guarded calls)

 private:
  std::unique_ptr<State> s_;
  int64_t width_ = 0, comps_ = 0, left_ = 0;
};

}  // namespace korvane
