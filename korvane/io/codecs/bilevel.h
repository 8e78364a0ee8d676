/// \file
/// Source preparation shared by the writers of palette formats.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// A two-color version of a bitmap for 1-bit output. A 1-bit bitmap is
/// returned as it is (black, white). An image of exactly two colors maps the
/// darker to bit 0 and the lighter to bit 1 and reports both; any other image
/// is dithered to black and white. Keep is where a new bitmap lives when one
/// is made; the result points at it or at the source.
KORVANE_EXPORT const TBitmap* PrepareBilevel(const TBitmap* Source, std::unique_ptr<TBitmap>& Keep,
                                             TRGB& Color0, TRGB& Color1);

/// The bitmap as 24-bit: the source itself when it is 24-bit, else a widened
/// copy held in Keep (1-bit through the black/white expansion).
KORVANE_EXPORT const TBitmap* Prepare24(const TBitmap* Source, std::unique_ptr<TBitmap>& Keep);

/// What a two-entry palette of a 1-bit image makes of it on load: black and
/// white keep the 1-bit bitmap (bits inverted when entry 0 is the white one,
/// so that 1 stays white); any other pair loads as 24-bit through the palette.
enum TTwoColorLoad { tclBlackWhite, tclWhiteBlack, tclColors };
KORVANE_EXPORT TTwoColorLoad TwoColorLoad(const TRGB& Entry0, const TRGB& Entry1);

class TKVQuantizer;

/// Palette and color-to-index mapping for a palette writer. An image with no
/// more colors than the palette holds keeps each color as its own entry
/// (sorted by value, so gray levels come in order) and maps exactly; only
/// images with more colors go through TKVQuantizer.
class KORVANE_EXPORT TPaletteMap {
 public:
  /// Src must be 24-bit; Size is the palette's room (2..256).
  TPaletteMap(const TBitmap* Src, int Size);
  ~TPaletteMap();
  TPaletteMap(const TPaletteMap&) = delete;
  TPaletteMap& operator=(const TPaletteMap&) = delete;

  /// Size entries; those no color uses are black.
  const std::vector<TRGB>& Palette() const { return pal_; }
  /// Entries in use: the image's colors when they fit, else Size.
  int Used() const { return used_; }
  bool Exact() const { return !quant_; }
  /// Index of a color; a color the image does not hold (a background) gets
  /// the nearest entry.
  int Index(const TRGB& c) const;

 private:
  static constexpr uint32_t kSlots = 4096;
  std::vector<TRGB> pal_;
  int used_ = 0;
  std::unique_ptr<TKVQuantizer> quant_;
  std::vector<uint32_t> keys_;  ///< color + 1, 0 for an empty slot
  std::vector<uint8_t> vals_;
};

}  // namespace korvane
