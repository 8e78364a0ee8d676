/// \file
/// PNG reading and writing through libpng: stream callbacks, libpng errors
/// raised as EInvalidGraphic, alpha flattened onto a background, palettes,
/// interlacing, row filters and compression level.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"

namespace korvane {

/// Largest image a PNG may declare, in pixels. The declared rows must also fit
/// in what the remaining data can inflate to (deflate expands at most about
/// 1032 times), checked before the bitmap is allocated.
constexpr int64_t kPngMaxPixels = int64_t(1) << 29;
/// The most bytes deflate data can inflate to per byte, used for that check.
constexpr int64_t kPngMaxInflateRatio = 1032;

/// Decodes the PNG at the stream's position. Bit depth 1 (gray or a two-entry
/// palette) gives a 1-bit bitmap with the darker palette color as bit 0;
/// everything else a 24-bit bitmap with alpha and transparency flattened onto
/// the file's bKGD color, else onto PNG_Background. Fills Width, Height,
/// BitsPerSample (the file's depth), SamplesPerPixel, DpiX, DpiY, ColorMap
/// (PLTE), PNG_Interlaced and, from bKGD, PNG_Background (8 bits a channel).
/// ParamsOnly leaves the bitmap alone. Raises EInvalidGraphic
/// "Unrecognized PNG"; an abort keeps the rows read so far.
KORVANE_EXPORT void ReadPNGStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                                  TProgressRec& Progress);

/// Encodes Bitmap: RGB 8-bit when SamplesPerPixel is not 1; else 1-bit gray
/// when BitsPerSample is 1 (a two-color image keeps its two levels, others
/// are dithered); else an 8-bit palette of 256 colors built by the quantizer
/// (written back to ColorMap). Also PNG_Interlaced, PNG_Filter,
/// PNG_Compression, PNG_Background (bKGD) and DpiX/DpiY (pHYs). Raises
/// EInvalidGraphic "Error on creating PNG".
KORVANE_EXPORT void WritePNGStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params,
                                   TProgressRec& Progress);

/// True when the next 8 bytes are the PNG signature; the position is kept.
KORVANE_EXPORT bool IsPNGStream(TStream* Stream);

}  // namespace korvane
