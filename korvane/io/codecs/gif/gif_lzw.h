/// \file
/// The GIF image-data coders the library offers for installation in the LZW
/// hooks of the parameters record (GIF_LZWDecompFunc, GIF_LZWCompFunc) or the
/// library-wide DefGIF_LZWDECOMPFUNC / DefGIF_LZWCOMPFUNC. The GIF codec never
/// installs them itself.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/streams.h"

namespace korvane {

/// Decodes one image's data: the minimum-code-size byte and every sub-block up
/// to the zero-length terminator (or the end of the stream; nothing past the
/// sub-blocks is read). Buffer receives Width x Height indices in display
/// order; pixels the data do not reach are set to 0. Once the 4096-entry
/// table is full, 12-bit codes go on without adding entries until a clear
/// comes (a deferred clear). Raises EInvalidGraphic "Corrupted GIF" for a code
/// size outside 2..9 or a code above the next free code.
KORVANE_EXPORT void GIFLZWDecompress(TStream* Stream, int32_t Height, int32_t Width, bool Interlaced,
                                     uint8_t* Buffer);

/// Hashing LZW encoder: code size max(BitsPerPixel, 2), a clear code whenever
/// the 4096-code table fills, 254-byte packets.
KORVANE_EXPORT void GIFLZWCompress(TStream* Stream, int32_t Height, int32_t Width, bool Interlaced,
                                   const uint8_t* Data, int32_t BitsPerPixel);

/// Run-length encoder that writes a valid GIF code stream without string
/// matching: every code is a single pixel or a code that any standard decoder's
/// table holds for a run of one pixel value (the public-domain miGIF method).
KORVANE_EXPORT void GIFNONLZWCompress(TStream* Stream, int32_t Height, int32_t Width, bool Interlaced,
                                      const uint8_t* Data, int32_t BitsPerPixel);

/// Display row of the i-th stored row of an interlaced image of the given
/// height (passes start at rows 0, 4, 2, 1 with steps 8, 8, 4, 2).
KORVANE_EXPORT int32_t GifInterlacedRow(int32_t i, int32_t Height);

}  // namespace korvane
