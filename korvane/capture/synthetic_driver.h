/// \file
/// The synthetic capture driver: moving test frames in any format of the
/// view's table, at a chosen size and rate, so that the video view, its
/// tests and the demo work without a camera.
///
/// The picture is made of 8 x 8 blocks of one YUV color each (so every
/// chroma subsampling of the table reproduces it exactly): eight color bars
/// over the top three quarters that move one block to the left per frame,
/// and below them a white 32 x 32 box moving right over dark gray.
#pragma once
#include <string>
#include <vector>

#include "korvane/capture/capture_driver.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

struct KORVANE_EXPORT TKVSyntheticOptions {
  std::string Name = "Korvane synthetic camera";
  std::string Version = "1.0";
  int Width = 320;
  int Height = 240;
  /// Frames per second it delivers at most; 0 gives a new frame at every read.
  int FrameRate = 30;
  /// Codes it accepts. Empty accepts none: it then delivers 32-bit RGB, a
  /// format outside the table.
  std::vector<std::string> Accepted = AllTableFormats();
  /// False makes Connect fail.
  bool Connectable = true;

  static std::vector<std::string> AllTableFormats();
};

class KORVANE_EXPORT TKVSyntheticDriver : public TKVCaptureDriver {
 public:
  explicit TKVSyntheticDriver(const TKVSyntheticOptions& o = {});
  std::string Name() const override { return opt_.Name; }
  std::string Version() const override { return opt_.Version; }
  bool Connect() override;
  void Disconnect() override { connected_ = false; }
  bool Connected() const override { return connected_; }
  TCapDriverCaps Caps() const override;
  std::vector<uint8_t> GetFormat() const override;
  bool SetFormat(const TBitmapInfoHeader& h) override;
  bool ReadFrame(std::vector<uint8_t>& Data, int WaitMs) override;
  bool DialogVideoSource(QWidget* parent) override;
  bool DialogVideoFormat(QWidget* parent) override;

  /// One more than the number of the last frame delivered (frames are
  /// numbered from the connection).
  int FrameCount() const { return frame_; }
  /// The frame of that number in the current format.
  void RenderFrame(int frame, std::vector<uint8_t>& Data) const;

  /// The picture: Y, U, V of pixel (x, y) of frame f at size w x h, and the
  /// color it converts to.
  static void PatternYUV(int w, int h, int f, int x, int y, int& Y, int& U, int& V);
  static TRGB PatternRGB(int w, int h, int f, int x, int y);
  /// The frames repeat after this many.
  static int Period(int w) { return (w + 7) / 8; }

 private:
  TKVSyntheticOptions opt_;
  TBitmapInfoHeader fmt_;
  bool connected_ = false;
  int frame_ = 0;
  int64_t start_ms_ = 0;
};

/// Registers a synthetic driver with these options (see
/// KVRegisterCaptureDriver for the index).
KORVANE_EXPORT int KVRegisterSyntheticCaptureDriver(const TKVSyntheticOptions& o = {}, int index = -1);

}  // namespace korvane
