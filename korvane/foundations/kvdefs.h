/// \file
/// Shared vocabulary: pixel and row types, the published enumerations, the
/// progress events and the progress/abort record.
#pragma once
#include <QtCore/qobjectdefs.h>
#include <cstdint>
#include <functional>

#include "korvane/foundations/host/color.h"
#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/object.h"

namespace korvane {

/// One 24-bit pixel in memory order blue, green, red.
struct KORVANE_EXPORT TRGB {
  uint8_t b;  ///< blue, 0..255
  uint8_t g;  ///< green, 0..255
  uint8_t r;  ///< red, 0..255
  /// True when all three channels are equal.
  constexpr bool operator==(const TRGB&) const = default;
};
static_assert(sizeof(TRGB) == 3, "TRGB must be packed");

/// Pointer to a pixel, or to the first pixel of a row.
using pRGB = TRGB*;
using RGBROW = TRGB[1];  ///< notional bound: rows are indexed through pointers
/// Pointer to a row of 24-bit pixels.
using pRGBROW = TRGB*;
/// Array of row pointers (notional bound, like RGBROW).
using PRGBArray = pRGB[1];
/// Pointer to the first of a list of row pointers.
using pPRGBArray = pRGB*;

/// One CMYK sample, bytes c, m, y, k.
struct TCMYK {
  uint8_t c;  ///< cyan, 0..255
  uint8_t m;  ///< magenta, 0..255
  uint8_t y;  ///< yellow, 0..255
  uint8_t k;  ///< black, 0..255
};
/// Pointer to a CMYK sample or a row of them.
using PCMYK = TCMYK*;

/// Array of 32-bit integers (notional bound: indexed through pointers).
using IntegerArray = int32_t[1];
/// Pointer to the first of a run of 32-bit integers.
using pIntegerArray = int32_t*;

// Registered with Qt's meta-object system for the controls' properties
// (see control_enums in host/controls.h).
namespace defs_enums {
Q_NAMESPACE_EXPORT(KORVANE_EXPORT)
/// Resampling kernel: rfNone takes the nearest pixel; the others are the kernels of
/// ResampleFilters (support 1, 1, 1.5, 2, 3 and 2 source pixels in this order).
enum TResampleFilter { rfNone, rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell };
Q_ENUM_NS(TResampleFilter)
/// Language of dialog texts (see kvmsg); msSystem follows the default locale.
enum TMsgLanguage { msSystem, msEnglish, msItalian, msGerman, msSpanish, msFrench, msPortuguese };
Q_ENUM_NS(TMsgLanguage)
}  // namespace defs_enums
using namespace defs_enums;

/// What a long task of the video view is busy with, reported through TKVJobEvent.
enum TKVJob {
  kvjNOTHING,                         ///< no job: the previous one ended
  kvjGENERALPROCESSING,               ///< generic processing (the video view does not report it)
  kvjVIDEOCAP_CONNECTING,             ///< connecting to the capture driver
  kvjVIDEOCAP_TRYVIDEOFORMATS,        ///< probing which video formats the driver accepts
  kvjVIDEOCAP_NEGOTIATINGVIDEOFORMAT  ///< agreeing on a frame format with the driver
};

/// Progress event: per is the percentage done, 0..100.
using TProgressEvent = std::function<void(TObject* Sender, int per)>;
/// Job event: the job now running (kvjNOTHING when one ended) and its percentage done.
using TKVJobEvent = std::function<void(TObject* Sender, TKVJob job, int per)>;

/// The progress and abort record a starter builds on the stack and passes by
/// reference to a codec or a long operation.
struct TProgressRec {
  TProgressEvent OnProgress;  ///< called with the percentage done; may be empty
  TObject* Sender = nullptr;  ///< passed to OnProgress as its Sender
  int32_t Done = 0;           ///< work units done, when counted across calls
  double Scale = 0;           ///< percent per work unit
  bool* Aborting = nullptr;   ///< the starter's abort flag (codecs always get one)
};

/// Shared record for callers that want neither progress nor abort. Its flag is
/// false and nothing in the library sets it.
extern KORVANE_EXPORT TProgressRec nullpr;

/// Calls the progress event with per when it is assigned.
inline void ReportProgress(TProgressRec& p, int per) {
  if (p.OnProgress) p.OnProgress(p.Sender, per);
}
/// True when the record's abort flag is set.
inline bool AbortRequested(const TProgressRec& p) { return p.Aborting && *p.Aborting; }

}  // namespace korvane
