/// \file
/// The choice between the vector inner loops of the geometric procedures and
/// their scalar twins: tests run both and compare the pixels.
#pragma once

#include "korvane/foundations/host/export.h"

namespace korvane::detail {

enum class VectorLoops { Fastest, Scalar };
KORVANE_EXPORT void SetVectorLoops(VectorLoops Loops);

/// True when the AVX2 loops run: the fastest loops are chosen and the
/// processor has AVX2.
KORVANE_EXPORT bool UseAVX2Loops();

}  // namespace korvane::detail
