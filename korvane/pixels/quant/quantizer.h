/// \file
/// Color quantizers: a palette of at most N colors for a 24-bit bitmap and the
/// mapping of any color to an entry of it. A variance-based median cut over a
/// 5-bit-per-channel histogram serves up to 256 colors; a self-organising
/// neural network (the NeuQuant method) serves larger palettes.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

class TBitmap;

/// Histogram cell of a color: the top 5 bits of red, green and blue, as
/// red5 * 1024 + green5 * 32 + blue5.
inline uint32_t QuantCell(const TRGB& c) {
  return (uint32_t(c.r >> 3) << 10) | (uint32_t(c.g >> 3) << 5) | uint32_t(c.b >> 3);
}

/// State of the median-cut quantizer once its palette is built: the map from
/// every 5-bit color cell to the box (palette entry) that holds it.
struct TMedianCutState {
  uint8_t Map[32768] = {};  ///< palette index of each cell, indexed by QuantCell
  int BoxCount = 0;         ///< palette entries written
};

/// Builds a palette of at most NColors (<= 256) entries for a 24-bit bitmap by
/// median cut and returns the state for MedianCutFindIndex. Palette entries
/// beyond the boxes actually made are left as the caller provided them.
/// Reserved is not used.
KORVANE_EXPORT TMedianCutState* CreateMedianCutQuantizer(TBitmap* Bitmap, TRGB* Palette, int Reserved,
                                                         int NColors);
/// Palette index of a color: one table access.
inline int MedianCutFindIndex(const TMedianCutState* State, const TRGB& Color) {
  return State->Map[QuantCell(Color)];
}
/// Deletes a state made by CreateMedianCutQuantizer; nullptr is allowed.
KORVANE_EXPORT void FreeMedianCutQuantizer(TMedianCutState* State);

/// State of the neural-net quantizer after learning: the neurons sorted by
/// green and an index from green value to the first neuron to search.
class KORVANE_EXPORT TNeuralQuantState {
 public:
  /// Learns NColors neurons from the bitmap with sampling factor 1..30 (1 =
  /// every pixel) and writes them to Palette.
  TNeuralQuantState(TBitmap* Bitmap, TRGB* Palette, int NColors, int SamplingFactor);
  /// Index of the neuron nearest (L1 distance) to the color.
  int FindIndex(const TRGB& Color) const;

 private:
  struct Neuron {
    int32_t b, g, r, index;
  };
  std::vector<Neuron> net_;
  int32_t netindex_[256] = {};
};

/// The quantizer that codecs and the depth conversion use. It picks the median
/// cut for NColors up to 256 and the neural net above that, builds the
/// palette into Palette (NColors entries provided by the caller) and then maps
/// colors to palette indices. Quality (neural net only): -1 chooses the
/// sampling factor from the image size, otherwise 0..100 where 100 samples
/// every pixel. Reserved and Method are not used.
class KORVANE_EXPORT TKVQuantizer : public TObject {
 public:
  /// Builds the palette into Palette at once; the quantizer keeps neither the bitmap nor the palette.
  TKVQuantizer(TBitmap* Bitmap, TRGB* Palette, int Reserved, int NColors, int Quality, int Method);
  ~TKVQuantizer() override;
  TKVQuantizer(const TKVQuantizer&) = delete;
  TKVQuantizer& operator=(const TKVQuantizer&) = delete;

  /// Palette index of a color.
  int GetRGBIndex(const TRGB& Color) const {
    return method_ == 1 ? MedianCutFindIndex(mc_, Color) : nn_->FindIndex(Color);
  }
  /// 0 = neural net, 1 = median cut.
  int GetMethod() const { return method_; }
  /// Palette entries written: the boxes made by the median cut, or NColors.
  int ColorsMade() const;

 private:
  int method_ = 1;
  TMedianCutState* mc_ = nullptr;
  std::unique_ptr<TNeuralQuantState> nn_;
  int ncolors_ = 0;
};

/// The neural net's sampling factor for a quality value (-1: from the pixel
/// count), 1..30.
KORVANE_EXPORT int NeuralSamplingFactor(int Quality, int64_t Pixels);

}  // namespace korvane
