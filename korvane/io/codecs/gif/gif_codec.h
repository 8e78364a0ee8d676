/// \file
/// GIF codec: reads one frame of a GIF (chosen by GIF_ImageIndex) and counts
/// the frames, writes a one-frame GIF, inserts and deletes frames of an
/// existing GIF, tests for and adds the looping-animation extension. Image
/// data go through the LZW hooks: the record's GIF_LZWDecompFunc /
/// GIF_LZWCompFunc, else the library-wide DefGIF_LZWDECOMPFUNC /
/// DefGIF_LZWCOMPFUNC (see gif_lzw.h for the coders the library offers).
///
/// Progress is reported with the fixed values 0, 30, 70 and 100; a set abort
/// flag ends the work at those steps without an exception. Errors raise
/// EInvalidGraphic: "unrecognized GIF", "Corrupted GIF", "LZW decompressor not
/// found", "LZW compressor not found".
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

/// Largest frame (width x height) the reader decodes.
constexpr int64_t kGifMaxPixels = int64_t(1) << 28;

/// Reads frame GIF_ImageIndex into Bitmap (1-bit for a 2-entry table, the
/// darker color as bit 0; 24-bit otherwise) and fills the GIF fields of
/// Params; ImageCount receives the number of frames in the stream. With
/// ParamsOnly the bitmap is left alone. Pixels beyond the frame's data are
/// palette index 0.
KORVANE_EXPORT void ReadGifStream(TStream* Stream, TBitmap* Bitmap, int32_t& ImageCount,
                                  TIOParamsVals& Params, TProgressRec& Progress, bool ParamsOnly);
/// ReadGifStream on the file FileName opened for reading (the bitmap is always loaded).
KORVANE_EXPORT void ReadGif(const std::string& FileName, TBitmap* Bitmap, int32_t& ImageCount,
                            TIOParamsVals& Params, TProgressRec& Progress);

/// Writes Bitmap as a one-frame GIF of BitsPerSample bits (1..8; other values
/// write 8) and stores the palette it made in Params.ColorMap. The file
/// variant writes nothing when aborted.
KORVANE_EXPORT void WriteGifStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params,
                                   TProgressRec& Progress);
/// WriteGifStream into the file FileName, replaced only when the frame was written.
KORVANE_EXPORT void WriteGif(const std::string& FileName, TBitmap* Bitmap, TIOParamsVals& Params,
                             TProgressRec& Progress);

/// Inserts Bitmap as frame GIF_ImageIndex of the GIF that starts at the
/// stream's position (read-write), with its own color table, and returns the
/// new frame count (0 when aborted). A position beyond the last frame inserts
/// nothing and returns the old count.
KORVANE_EXPORT int32_t _InsertGifImStream(TStream* Stream, TBitmap* Bitmap, TIOParamsVals& Params,
                                          TProgressRec& Progress);
/// _InsertGifImStream on the file FileName, worked in memory; the file is rewritten
/// only when a frame was inserted without an abort. Answers the same count.
KORVANE_EXPORT int32_t _InsertGifIm(const std::string& FileName, TBitmap* Bitmap, TIOParamsVals& Params,
                                    TProgressRec& Progress);

/// Removes frame Index (with its graphic control extension) and returns the
/// number of frames left; the file is rewritten only when Save is true, so
/// Index -1 with Save false counts the frames.
KORVANE_EXPORT int32_t _DeleteGifIm(const std::string& FileName, int32_t Index, bool Save);

/// True when the block right after the global color table is a "NETSCAPE2.0"
/// application extension.
KORVANE_EXPORT bool _CheckGifAnimate(const std::string& FileName);

/// Rewrites the file as version 89a with the given logical screen size and one
/// loop-count extension right after the global color table (any loop-count
/// extension already in the file is dropped).
KORVANE_EXPORT void _GifMakeAnimate(const std::string& FileName, uint16_t LoopCount, int32_t Width,
                                    int32_t Height);
/// The same on the GIF that starts at the stream's position (read-write).
KORVANE_EXPORT void _GifMakeAnimateStream(TStream* Stream, uint16_t LoopCount, int32_t Width, int32_t Height);

// The file functions (WriteGif, _InsertGifIm, _DeleteGifIm with Save,
// _GifMakeAnimate) replace the file through the safe-save path: a failure or
// an abort leaves the old file as it was.

// Whole animations. Reading frame after frame with ReadGifStream, or
// appending frame after frame with _InsertGifImStream, goes through the whole
// stream for every frame; these walk the blocks once and write each frame
// once.

/// The frames of the GIF at a stream's position, found in one walk over its
/// blocks. Reading frame i gives the bitmap, the record fields and the
/// progress steps that ReadGifStream gives with GIF_ImageIndex = i. The stream
/// must stay as it is while the index is used.
class KORVANE_EXPORT TGifFrameIndex {
 public:
  /// Raises "unrecognized GIF" for a stream without a GIF header.
  explicit TGifFrameIndex(TStream* Stream);
  /// The number of frames found in the stream.
  int32_t Count() const { return int32_t(frames_.size()); }
  /// Frame Index (0 .. Count() - 1; others raise "Corrupted GIF").
  void Read(int32_t Index, TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress,
            bool ParamsOnly = false);
  /// When set, a frame whose transparent entry has the same color as another
  /// entry of its table reads its transparent pixels in a color of their own
  /// (GIF_TranspColor then names it), so that the color marks exactly the
  /// transparent pixels. Composing an animation needs that; a frame read
  /// alone keeps the table's colors.
  bool KeyTransparent = false;

 private:
  struct Frame {
    int64_t at = 0;  ///< the image descriptor
    uint8_t flags = 0, transp = 0;
    uint16_t delay = 0;
  };
  TStream* stream_;
  uint8_t header_[13] = {};
  int globalCount_ = 0;
  int loop_ = -1;
  TRGB global_[256] = {};
  std::vector<Frame> frames_;
};

/// Writes an animation in one pass: the first frame as WriteGifStream writes a
/// GIF (its palette is the global color table), every later frame with its own
/// color table as _InsertGifImStream appends it to the end. Two things make it
/// the animation the records describe rather than those bytes: a looping
/// extension after the global table when the first record's GIF_LoopCount is
/// 0 or more, and a logical screen that holds every frame at its position
/// (at least the first record's GIF_WinWidth x GIF_WinHeight). After each Add
/// the stream holds a complete GIF.
class KORVANE_EXPORT TGifFrameWriter {
 public:
  /// Writes from the stream's position.
  explicit TGifFrameWriter(TStream* Stream);
  /// Appends a frame described by Params (depth, delay, position, transparent
  /// color, interlacing). False when the abort flag ended it (the stream then
  /// ends in an unfinished frame). Raises as WriteGifStream.
  bool Add(TBitmap* Bitmap, TIOParamsVals& Params, TProgressRec& Progress);
  /// The number of frames written so far.
  int32_t Count() const { return count_; }

 private:
  /// Widens the logical screen in the header to hold the frame just written.
  void GrowScreen(const TBitmap* Bitmap, const TIOParamsVals& Params);
  TStream* stream_;
  int64_t start_ = 0, end_ = 0;
  int32_t count_ = 0;
  int32_t screenW_ = 0, screenH_ = 0;
};

}  // namespace korvane
