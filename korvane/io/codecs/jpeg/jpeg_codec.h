/// \file
/// JPEG reading and writing through libjpeg (the 6.2 interface): stream source
/// and destination managers over TStream, library errors raised as
/// EInvalidGraphic, scaled loading and CMYK/YCCK conversion.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"

namespace korvane {

/// Largest decoded image a JPEG may declare, in pixels of the full-size image.
/// A declared size above what its data could plausibly hold is also refused
/// (see kJpegMaxPixelsPerByte) before the library allocates anything.
constexpr int64_t kJpegMaxPixels = int64_t(1) << 29;
/// A Huffman-coded block costs at least one bit per component, so full-size
/// pixels per byte of data stay far below this; arithmetic-coded flat images
/// are the only real files that come close, and they stay within the floor.
constexpr int64_t kJpegMaxPixelsPerByte = 1024;
/// The smallest limit the data-size check sets, in pixels, however few bytes the data has.
constexpr int64_t kJpegPixelFloor = int64_t(1) << 24;

/// Decodes the JPEG at the stream's position into Bitmap (24-bit). Reads
/// JPEG_DCTMethod, JPEG_Scale and, for ioJPEG_AUTOCALC, Width x Height as the
/// wanted size; writes the size, resolution, color space, progressive flag,
/// BitsPerSample 8, SamplesPerPixel 3, and clears the palette. ParamsOnly
/// fills the parameters without touching the bitmap. Raises EInvalidGraphic
/// "Unrecognized JPeg - JPEG error #<code>" on bad data; an abort keeps the
/// rows decoded so far.
KORVANE_EXPORT void ReadJPegStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                                   TProgressRec& Progress);

/// Encodes Bitmap at the stream's position with the JPEG_ fields, DpiX and
/// DpiY of Params. 1-bit (and other non-24-bit) bitmaps are widened first.
KORVANE_EXPORT void WriteJPegStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params,
                                    TProgressRec& Progress);

/// An estimate of the quality setting (1..100) a JPEG was saved with, from its
/// quantization tables compared with the standard tables libjpeg scales by
/// quality (ImageMagick's method); 0 when the tables tell nothing. Reads only
/// the header; the stream position is kept.
KORVANE_EXPORT int JPegEstimateQuality(TStream* Stream);

/// The denominator ioJPEG_AUTOCALC picks for an image of ImageW x ImageH when
/// the caller asks for about WantW x WantH: 2^i (i in 0..3) with the area
/// A div 4^i closest to the asked area, the smaller i winning ties; 1 when the
/// asked area is 0.
KORVANE_EXPORT int JPegAutoScaleDenom(int64_t ImageW, int64_t ImageH, int64_t WantW, int64_t WantH);

}  // namespace korvane
