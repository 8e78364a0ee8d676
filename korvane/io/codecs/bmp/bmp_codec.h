/// \file
/// Windows bitmaps (BMP: Windows and OS/2 headers, RLE4/RLE8), and single
/// images out of icon (ICO) and cursor (CUR) files. Images load as 24-bit
/// bitmaps, 1-bit images as 1-bit bitmaps (bit 1 the lighter palette color).
#pragma once
#include <cstdint>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"

namespace korvane {

/// Largest image the readers allocate, in pixels (a 24-bit bitmap of about
/// 768 MiB); larger headers are rejected as unrecognized.
constexpr int64_t kMaxBMPPixels = int64_t(1) << 28;

/// Reads one BMP at the stream's position. DataSize is the BMP's byte length
/// in the stream (0 or less: unknown, the file header's size is used). With
/// ParamsOnly the parameters are filled and the bitmap is left alone. Raises
/// EInvalidGraphic "unrecognized BMP". A top-down (negative height) BMP loads
/// right side up with a positive Height.
KORVANE_EXPORT void BMPReadStream(TStream* Stream, TBitmap* Bitmap, int64_t DataSize, TIOParamsVals& Params,
                                  TProgressRec& Progress, bool ParamsOnly);
/// Writes the bitmap as one BMP at the stream's position, at the depth,
/// header kind and compression the parameters ask for. 4- and 8-bit images
/// get a quantized palette, stored in Params.ColorMap.
KORVANE_EXPORT void BMPWriteStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params,
                                   TProgressRec& Progress);

/// Writes a 24-bit BMP whose rows arrive in strips, top row first, without
/// holding the picture: each strip goes straight to its place in the file
/// (BMP stores the bottom row first, so the stream must be seekable). The
/// file is the one BMPWriteStream writes for the same pixels and parameters.
class KORVANE_EXPORT TBMPStripWriter {
 public:
  /// True when these parameters make a 24-bit BMP, the only kind written this way.
  static bool Takes(const TIOParamsVals& Params);
  /// Writes the headers of a Width x Height picture (header kind and
  /// resolution from Params). Raises EInvalidGraphic "unrecognized BMP" when
  /// Params asks for another depth or the size does not fit the header.
  TBMPStripWriter(TStream* Stream, int Width, int Height, const TIOParamsVals& Params);
  /// Rows Y0 .. Y0 + Count - 1 of the picture: the first Count rows of Strip,
  /// a 24-bit bitmap as wide as the picture. Rows past the bottom are left out.
  void Write(int Y0, int Count, const TBitmap& Strip);
  /// Completes the file (rows never written are black) and leaves the stream at its end.
  void Finish();

 private:
  TStream* stream_;
  int w_, h_;
  size_t rowBytes_;
  int64_t bits_ = 0;
  std::vector<uint8_t> block_;
};

/// True when the stream looks like an icon / cursor file; the position is kept.
KORVANE_EXPORT bool ICOTryStream(TStream* Stream);
/// The cursor test: the same directory checks with resource type 2 instead of 1.
KORVANE_EXPORT bool CURTryStream(TStream* Stream);
/// Read the image chosen by ICO_ImageIndex / CUR_ImageIndex (an index out of
/// range changes nothing). Raise "unrecognized ICO" / "unrecognized CUR".
KORVANE_EXPORT void ICOReadStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly);
/// The cursor reader; it also fills CUR_XHotSpot and CUR_YHotSpot from the directory entry.
KORVANE_EXPORT void CURReadStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly);

/// Row run-length encoders of the BMP writer, one row of palette indices in
/// (RLE4: one index 0..15 a value), the encoded row out, ending with the
/// end-of-line code.
KORVANE_EXPORT void BMPEncodeRLE8Row(const uint8_t* Values, int Count, std::vector<uint8_t>& Out);
/// The RLE4 encoder: runs repeat one index, literal groups pack two indices a byte.
KORVANE_EXPORT void BMPEncodeRLE4Row(const uint8_t* Values, int Count, std::vector<uint8_t>& Out);

/// Decodes a PNG-compressed icon image into a 24-bit bitmap (alpha dropped).
/// False when the data is not a PNG the icon reader can take.
KORVANE_EXPORT bool DecodeIconPNG(const uint8_t* Data, size_t Size, TBitmap* Bitmap, bool ParamsOnly,
                                  int& Width, int& Height);

}  // namespace korvane
