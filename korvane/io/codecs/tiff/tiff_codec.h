/// \file
/// TIFF codec: reads one page (chosen by TIFF_ImageIndex) of a classic or
/// BigTIFF file and counts the pages, writes a one-page little-endian TIFF or
/// inserts a page into an existing one, deletes a page (classic files only).
/// Strips and tiles are decoded here for uncompressed and PackBits data,
/// through tiff_ccitt.h for the fax compressions, through tiff_chunks.h for
/// Deflate and JPEG, and through the LZW hooks (the record's
/// TIFF_LZWDecompFunc / TIFF_LZWCompFunc, else the library-wide
/// DefTIFF_LZWDECOMPFUNC / DefTIFF_LZWCOMPFUNC; tiff_lzw.h has the coders the
/// library offers).
///
/// Values that fit the entry's value field (four bytes, eight in BigTIFF) sit
/// in the entry itself, on read and on write. Errors raise EInvalidGraphic:
/// "unrecognized TIFF", "Invalid TIFF stream", "LZW Decompressor not found",
/// "Multi image TIFF limited to Intel format"; what the reader understands
/// but does not decode (other compressions, floating-point predictor, YCbCr
/// outside JPEG, CIELab, ...) raises EUnsupportedImage with the reason.
///
/// Decoded: bilevel (1-bit bitmap), 2-, 4-, 8- and 16-bit gray, palette, 8-
/// and 16-bit RGB and CMYK, chunky or planar, in strips or tiles, with
/// uncompressed, PackBits, LZW, Deflate (with horizontal differencing at 8
/// and 16 bits), JPEG (with JPEGTables; YCbCr of any subsampling, RGB, gray,
/// CMYK) and CCITT Modified Huffman, Group 3 and Group 4 data, either byte
/// order. 16-bit samples become v x 255 / 65535 rounded (uncompressed gray
/// keeps its high byte). Alpha (the first extra sample, associated or not)
/// is flattened onto PNG_Background as PNG alpha is; gray pages show through
/// to its luminance.
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvdefs.h"
#include "korvane/io/ioparams.h"

namespace korvane {

/// Largest page (width x height) the reader decodes.
constexpr int64_t kTiffMaxPixels = int64_t(1) << 28;

/// Reads page Params->TIFF_ImageIndex of the TIFF at the stream's position and
/// fills the TIFF fields of Params; PageCount receives the number of pages.
/// With Params null only the pages are counted; with ParamsOnly the bitmap is
/// left alone. Progress per row; a set abort flag ends decoding after a row.
KORVANE_EXPORT void TIFFReadStream(TBitmap* Bitmap, TStream* Stream, int32_t& PageCount, bool ParamsOnly,
                                   TProgressRec& Progress, TIOParamsVals* Params);

/// The number of pages of the TIFF at the stream's position.
KORVANE_EXPORT int32_t _EnumTIFFImStream(TStream* Stream);

/// Writes Bitmap as a new one-page TIFF at the stream's position (Insert
/// false; answers 1), or inserts it as page TIFF_ImageIndex (after the last
/// page when the index lies beyond) into the little-endian TIFF at the
/// stream's position (Insert true; answers the new page count). An abort
/// after a row leaves the page without a directory and answers 0.
KORVANE_EXPORT int32_t TIFFWriteStream(TStream* Stream, bool Insert, TBitmap* Bitmap, TIOParamsVals& Params,
                                       TProgressRec& Progress);

/// Removes page Index of the TIFF at the stream's position (either byte
/// order) by rebuilding the file; answers the page count before the
/// deletion. An index outside the pages leaves the stream unchanged.
KORVANE_EXPORT int32_t _DeleteTIFFImStream(TStream* Stream, int32_t Index);

// Whole multi-page files. Reading page after page with TIFFReadStream, or
// inserting page after page with TIFFWriteStream, walks the directory chain
// for every page; these walk it once and link each new page directly.

/// The pages of the TIFF at a stream's position, found in one walk of the
/// directory chain. Reading page i gives what TIFFReadStream gives with
/// TIFF_ImageIndex = i. The stream must stay as it is while the index is used.
class KORVANE_EXPORT TTIFFPageIndex {
 public:
  /// Raises "unrecognized TIFF" for a stream without a TIFF header.
  explicit TTIFFPageIndex(TStream* Stream);
  ~TTIFFPageIndex();
  TTIFFPageIndex(const TTIFFPageIndex&) = delete;
  TTIFFPageIndex& operator=(const TTIFFPageIndex&) = delete;
  /// The number of pages in the directory chain.
  int32_t Count() const;
  /// Sets Params.TIFF_ImageIndex to Index and reads that page (an index
  /// outside the pages raises "Invalid TIFF stream").
  void Read(int32_t Index, TBitmap* Bitmap, bool ParamsOnly, TProgressRec& Progress, TIOParamsVals& Params);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

/// Writes a multi-page little-endian TIFF in one pass: the first page as
/// TIFFWriteStream writes a new file, every later one after the last page, as
/// TIFFWriteStream inserts a page beyond the last, so the stream gets the same
/// bytes without the chain being read back.
class KORVANE_EXPORT TTIFFPageWriter {
 public:
  /// Writes from the stream's position.
  explicit TTIFFPageWriter(TStream* Stream) : stream_(Stream) {}
  /// False when the abort flag ended the page (it is then not linked).
  bool Add(TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
  /// The number of pages written and linked so far.
  int32_t Count() const { return pages_; }

 private:
  TStream* stream_;
  int64_t base_ = 0, link_ = 0;
  int32_t pages_ = 0;
};

/// PackBits: packs one row (runs of 4 or more equal bytes as runs, the rest as
/// literal groups of up to 128); unpacks up to Count bytes into Dest and
/// answers the bytes of Src consumed (Dest's unreached bytes are left as they
/// are).
KORVANE_EXPORT void PackBitsPack(const uint8_t* Src, int32_t Count, std::string& Out);
/// Unpacks PackBits data of SrcSize bytes (see above); the code -128 is skipped.
KORVANE_EXPORT int64_t PackBitsUnpack(const uint8_t* Src, int64_t SrcSize, uint8_t* Dest, int64_t Count);

}  // namespace korvane
