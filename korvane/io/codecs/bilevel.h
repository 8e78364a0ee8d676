// Source preparation shared by the writers of palette formats.
#pragma once
#include <memory>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

// A two-color version of a bitmap for 1-bit output. A 1-bit bitmap is
// returned as it is (black, white). An image of exactly two colors maps the
// darker to bit 0 and the lighter to bit 1 and reports both; any other image
// is dithered to black and white. Keep is where a new bitmap lives when one
// is made; the result points at it or at the source.
const TBitmap* PrepareBilevel(const TBitmap* Source, std::unique_ptr<TBitmap>& Keep, TRGB& Color0,
                              TRGB& Color1);

// The bitmap as 24-bit: the source itself when it is 24-bit, else a widened
// copy held in Keep (1-bit through the black/white expansion).
const TBitmap* Prepare24(const TBitmap* Source, std::unique_ptr<TBitmap>& Keep);

}  // namespace korvane
