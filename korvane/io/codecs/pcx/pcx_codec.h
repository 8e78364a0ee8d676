/// \file
/// PCX (PaintBrush) images: 1, 4 and 8 bits in one plane and 24-bit color in
/// three planes, run-length encoded or not.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"

namespace korvane {

/// Largest image the reader allocates, in pixels.
constexpr int64_t kMaxPCXPixels = int64_t(1) << 28;

/// Reads the PCX whose data occupy DataSize bytes from the stream's position
/// (0 or less: up to the stream's end; the 256-color palette sits at the end
/// of the data). Raises EInvalidGraphic "unrecognized PCX". 1-bit rows load
/// into a 1-bit bitmap as stored; the rest into a 24-bit bitmap. Palette
/// images of 1, 2, 4 or 8 bits in one plane and of 1 bit in 2 to 4 planes
/// (EGA) are decoded, and 8-bit RGB in three planes.
KORVANE_EXPORT void ReadPcxStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params, bool ParamsOnly,
                                  TProgressRec& Progress, int64_t DataSize);
/// Writes the bitmap at depth BitsPerSample x SamplesPerPixel (1, 4, 8, else
/// 24), run-length encoded when PCX_Compression is ioPCX_RLE.
KORVANE_EXPORT void WritePcxStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params,
                                   TProgressRec& Progress);
/// The same on a file.
KORVANE_EXPORT void ReadPcx(const std::string& FileName, TBitmap* Bitmap, TIOParamsVals& Params,
                            TProgressRec& Progress);
/// WritePcxStream into the file FileName; a failure or an abort leaves the old file as it was.
KORVANE_EXPORT void WritePcx(const std::string& FileName, TBitmap* Bitmap, TIOParamsVals& Params,
                             TProgressRec& Progress);

/// Run-length codes one plane line (runs of up to 63; bytes of 192 and above
/// always as a run) onto Out.
KORVANE_EXPORT void PcxEncodeLine(const uint8_t* Line, int Count, std::vector<uint8_t>& Out);

}  // namespace korvane
