/// \file
/// The AVI file layer under the multi-image I/O component, over FFmpeg:
/// libavformat for the container, libavcodec for compressed frames.
/// Uncompressed DIB and YUV four-character-code frames are handed on as
/// packed DIB pieces (header and pixel rows) for _CopyDIB2Bitmap; other
/// frames are decoded to 24-bit bitmaps.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/host/winsys.h"

namespace korvane {

/// Largest frame (width x height) the reader decodes.
constexpr int64_t kAVIMaxPixels = int64_t(1) << 26;
/// A stream may declare frames of up to this many pixels whatever its size;
/// larger frames need kAVIPixelsPerByte pixels or fewer per byte of data, so
/// that a small file cannot make the reader allocate hundreds of megabytes.
constexpr int64_t kAVIFreePixels = int64_t(1) << 22;
constexpr int64_t kAVIPixelsPerByte = 1024;  ///< frame pixels allowed per byte of data above kAVIFreePixels
/// The largest frame (width x height) read from dataBytes of AVI data.
KORVANE_EXPORT int64_t KVAVIFramePixelLimit(uint64_t dataBytes);
/// trunc(1000 * scale / rate) milliseconds, in 0 .. INT32_MAX (0 for a scale
/// or rate that is not positive).
KORVANE_EXPORT int KVAVIDelayMs(int64_t scale, int64_t rate);

/// The compressor an AVI is saved with. Encoder names FFmpeg's encoder:
/// "rawvideo" writes uncompressed bottom-up DIB rows, "mjpeg" JPEG frames of
/// Quality (1..100), "ffv1" lossless frames; others as the installed FFmpeg
/// offers them.
struct TKVAVICompressOptions {
  std::string Encoder;  ///< FFmpeg encoder name; empty writes "rawvideo"
  int Quality = 90;     ///< JPEG quality 1..100 for "mjpeg" (clamped); others ignore it
};

/// An encoder the AVI writer can use: FFmpeg's name and its description.
struct TKVAVIEncoder {
  std::string Name;         ///< FFmpeg's name, for TKVAVICompressOptions::Encoder
  std::string Description;  ///< a readable name, e.g. "Motion JPEG"
};
/// The video encoders of the installed FFmpeg that can be stored in AVI,
/// uncompressed DIB, MJPEG and FFV1 first.
KORVANE_EXPORT std::vector<TKVAVIEncoder> KVAVIEncoders();

/// Reads the first video stream of an AVI file frame by frame.
class KORVANE_EXPORT TKVAVIReader {
 public:
  /// Raises EInvalidGraphic "unable to open AVI file" when the file cannot be
  /// opened as AVI, "unable to open AVI stream" without a usable video stream
  /// (frames larger than KVAVIFramePixelLimit of the data's size included).
  explicit TKVAVIReader(const std::string& name);
  /// The same over AVI data in memory (kept by the caller while reading).
  TKVAVIReader(const uint8_t* data, size_t size);
  /// Closes the file and frees the decoder.
  ~TKVAVIReader();
  TKVAVIReader(const TKVAVIReader&) = delete;
  TKVAVIReader& operator=(const TKVAVIReader&) = delete;

  /// The stream header's length (frames), scale and rate.
  int64_t Length() const { return length_; }
  int Scale() const { return scale_; }  ///< the stream header's scale: frames last Scale / Rate seconds
  int Rate() const { return rate_; }  ///< the stream header's rate (frames per Scale seconds)
  /// trunc(1000 * Scale / Rate) milliseconds (0 for a zero rate), at most
  /// INT32_MAX whatever the header says.
  int DelayMs() const;
  int Width() const { return width_; }  ///< frame width in pixels
  int Height() const { return height_; }  ///< frame height in pixels

  /// The next frame into bmp (24-bit, or what _CopyDIB2Bitmap makes of the
  /// DIB); BitCount receives the frame's bit count. False at the end of the
  /// stream. A frame that cannot be decoded is skipped.
  bool NextFrame(TBitmap* bmp, int& BitCount);
  /// The same as a new packed DIB block (24-bit, or 1-bit from a 1-bit DIB;
  /// bottom-up) that the caller owns: decoded frames are converted straight
  /// into it.
  bool NextFrameDIB(HGLOBAL& Dib, int& BitCount);
  /// Frames skipped because they could not be decoded.
  int Skipped() const { return skipped_; }

 private:
  struct Impl;
  void Open(const char* name);
  bool Next(TBitmap* bmp, HGLOBAL* dib, int& BitCount);
  struct Target;
  Target MakeTarget(TBitmap* bmp, HGLOBAL* dib) const;
  static bool Deliver(const Target& t, HGLOBAL* dib, int& BitCount);
  std::unique_ptr<Impl> d_;
  int64_t length_ = 0;
  int scale_ = 1, rate_ = 0;
  int width_ = 0, height_ = 0;
  int skipped_ = 0;
};

/// Writes one video stream of frames of one size.
class KORVANE_EXPORT TKVAVIWriter {
 public:
  /// Raises EInvalidGraphic "unable to create AVI file" when the file cannot
  /// be created or the encoder cannot be opened for the size.
  TKVAVIWriter(const std::string& name, int width, int height, int rate, const TKVAVICompressOptions& opts);
  /// The same into a stream (written from its position; it must seek, since
  /// the headers are completed at the end). What the stream raises while
  /// writing passes on from WriteDIB or Close.
  TKVAVIWriter(TStream* stream, int width, int height, int rate, const TKVAVICompressOptions& opts);
  /// Closes the file as Close does, ignoring any error.
  ~TKVAVIWriter();
  TKVAVIWriter(const TKVAVIWriter&) = delete;
  TKVAVIWriter& operator=(const TKVAVIWriter&) = delete;

  /// Appends a frame given as a packed DIB (24-bit or 1-bit, bottom-up).
  /// Raises EInvalidGraphic "unable to write AVI file" when the data cannot
  /// be written (a full disk).
  void WriteDIB(const uint8_t* dib, size_t size);
  /// The next frame comes n frame intervals later: the intervals between are
  /// stored as empty frames, which players show as the frame before (at most
  /// 60,000 at a time, what the container takes).
  void SkipFrames(int64_t n);
  /// Flushes the encoder and writes the index. Called by the destructor too
  /// (which ignores errors); raises "unable to write AVI file" (or the
  /// stream's own error) when the data did not all reach the file or stream.
  void Close();

 private:
  struct Impl;
  void Open(const std::string& name, TStream* stream, int width, int height, int rate,
            const TKVAVICompressOptions& opts);
  std::unique_ptr<Impl> d_;
};

}  // namespace korvane
