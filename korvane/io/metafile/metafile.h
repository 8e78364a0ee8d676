/// \file
/// Windows metafiles as a host graphic: TMetafile holds the bytes of a WMF
/// (with or without the placeable header) or an EMF and plays its records onto
/// a TCanvas with Korvane's own player. A TPicture can hold one.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"

namespace korvane {

/// Largest metafile read into memory.
constexpr int64_t kMaxMetafileBytes = int64_t(256) << 20;

/// A WMF or EMF picture held as its bytes, drawn by playing its records; starts empty.
class KORVANE_EXPORT TMetafile : public TGraphic {
 public:
  TMetafile() = default;

  /// Reads the whole rest of the stream (or the file) and checks the header.
  /// Raises EInvalidGraphic "unrecognized WMF or EMF" when it is neither a WMF
  /// nor an EMF; the metafile is then left empty.
  void LoadFromStream(TStream* stream);
  /// Opens the file and reads it as LoadFromStream does.
  void LoadFromFile(const std::string& name);
  /// Writes the bytes as read.
  void SaveToStream(TStream* stream) const;
  /// Drops the bytes and resets the size and kind: the metafile is empty again.
  void Clear();

  /// True when no metafile is loaded.
  bool Empty() const { return data_.empty(); }
  /// True for an enhanced metafile (EMF).
  bool Enhanced() const { return enhanced_; }
  /// Size in pixels at the screen resolution (gSystemDPIX/Y): from the
  /// placeable header's bounds and units per inch, the EMF frame, or, for a
  /// bare WMF, the window extent it sets.
  int Width() const override { return width_; }
  /// Height in pixels, found as Width() is.
  int Height() const override { return height_; }
  /// Overrides the size the metafile is drawn at by Draw(canvas, x, y).
  void SetWidth(int w) { width_ = w; }
  /// Overrides the drawing height in the same way.
  void SetHeight(int h) { height_ = h; }
  /// The metafile's bytes as loaded (empty when none is).
  const std::vector<uint8_t>& Data() const { return data_; }

  /// Plays the records onto the canvas, the picture's bounds mapped onto dest.
  /// Unknown records are skipped; damaged ones end the playback (what was
  /// drawn stays).
  void Draw(TCanvas* canvas, const TRect& dest) const override;
  /// Plays the metafile at its Width() x Height() with its top-left corner at (x, y).
  void Draw(TCanvas* canvas, int x, int y) const { Draw(canvas, Rect(x, y, x + width_, y + height_)); }

 private:
  std::vector<uint8_t> data_;
  bool enhanced_ = false;
  int width_ = 0;
  int height_ = 0;
  /// WMF: the logical bounds from the placeable header or the window
  /// origin/extent; EMF: rclBounds (device units, inclusive), used when the
  /// header gives no device size to convert the frame with.
  TRect logical_;
};

}  // namespace korvane
