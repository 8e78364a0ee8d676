/// \file
/// The TIFF LZW coders the library offers for installation in the hooks of the
/// parameters record (TIFF_LZWDecompFunc, TIFF_LZWCompFunc) or the library-wide
/// DefTIFF_LZWDECOMPFUNC / DefTIFF_LZWCOMPFUNC. The TIFF codec never installs
/// them itself.
///
/// Code stream: codes packed most significant bit first, 256 = clear,
/// 257 = end of information, first free code 258, 9 to 12 bits wide; the
/// decoder widens one code early (at 511, 1023 and 2047 entries), as every
/// TIFF writer does.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/streams.h"

namespace korvane {

/// Decoder with the TTIFFLZWDecompFunc contract: the first call of a strip
/// (State null) takes the strip's DataSize bytes at Data; every call returns
/// the next Count decoded bytes (zero where the data end or are malformed:
/// a code past the next free code ends the strip); Data null releases State
/// and returns null.
KORVANE_EXPORT uint8_t* TIFFLZWDecompress(const uint8_t* Data, int32_t DataSize, int32_t Count, void*& State);

/// Encoder with the TTIFFLZWCompFunc contract: one code stream per strip, the
/// first call (State null) starting it with a clear code, each call adding
/// Count bytes; Data null writes the last code and end of information,
/// flushes, and releases State.
KORVANE_EXPORT void TIFFLZWCompress(const uint8_t* Data, int32_t Count, TStream* Stream, void*& State);

}  // namespace korvane
