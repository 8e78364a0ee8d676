// Decoders of whole TIFF strips and tiles that wrap C libraries: Deflate
// (compressions 8 and 32946) through zlib, and JPEG (7, and old-style 6 that
// points at an interchange stream) through libjpeg. Both write into a buffer
// the caller sized for the chunk and never past it.
#pragma once
#include <cstddef>
#include <cstdint>

namespace korvane {

// Inflates the zlib stream Src into Dest, at most DestSize bytes; bytes the
// data do not reach are set to 0. A stream that ends early is not an error;
// corrupt data raise EInvalidGraphic("Invalid TIFF stream").
void TiffInflate(const uint8_t* Src, size_t SrcSize, uint8_t* Dest, size_t DestSize);

// The colour space a TIFF page says its JPEG data are in; RGB and YCbCr
// data come out as RGB samples, CMYK as CMYK, gray as one sample.
enum class TTiffJpegColor { Gray, Rgb, YCbCr, Cmyk };

// Decodes the JPEG stream Data (after the table stream Tables, when given)
// into up to Rows rows of Width pixels of interleaved 8-bit samples at Dest
// (Width x the colour's components bytes a row). Rows and columns the stream
// does not cover are left as they are. Answers false when libjpeg finds an
// error, when the stream's components do not match the colour, or when it
// is wider than Width or taller than Rows. Subsampled chroma is
// interpolated when Smooth, else repeated.
bool TiffDecodeJpeg(const uint8_t* Tables, size_t TablesSize, const uint8_t* Data, size_t Size,
                    TTiffJpegColor Color, bool Smooth, uint8_t* Dest, int64_t Width, int64_t Rows);

}  // namespace korvane
