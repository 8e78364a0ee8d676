// Shared vocabulary: pixel and row types, the published enumerations, the
// progress events and the progress/abort record.
#pragma once
#include <QtCore/qobjectdefs.h>
#include <cstdint>
#include <functional>

#include "korvane/foundations/host/color.h"
#include "korvane/foundations/host/object.h"

namespace korvane {

// One 24-bit pixel in memory order blue, green, red.
struct TRGB {
  uint8_t b;
  uint8_t g;
  uint8_t r;
  constexpr bool operator==(const TRGB&) const = default;
};
static_assert(sizeof(TRGB) == 3, "TRGB must be packed");

using pRGB = TRGB*;
using RGBROW = TRGB[1];  // notional bound: rows are indexed through pointers
using pRGBROW = TRGB*;
using PRGBArray = pRGB[1];
using pPRGBArray = pRGB*;

// One CMYK sample, bytes c, m, y, k.
struct TCMYK {
  uint8_t c;
  uint8_t m;
  uint8_t y;
  uint8_t k;
};
using PCMYK = TCMYK*;

using IntegerArray = int32_t[1];
using pIntegerArray = int32_t*;

// Registered with Qt's meta-object system for the controls' properties
// (see control_enums in host/controls.h).
namespace defs_enums {
Q_NAMESPACE
enum TResampleFilter { rfNone, rfTriangle, rfHermite, rfBell, rfBSpline, rfLanczos3, rfMitchell };
Q_ENUM_NS(TResampleFilter)
enum TMsgLanguage { msSystem, msEnglish, msItalian, msGerman, msSpanish, msFrench, msPortuguese };
Q_ENUM_NS(TMsgLanguage)
}  // namespace defs_enums
using namespace defs_enums;

enum TKVJob {
  kvjNOTHING,
  kvjGENERALPROCESSING,
  kvjVIDEOCAP_CONNECTING,
  kvjVIDEOCAP_TRYVIDEOFORMATS,
  kvjVIDEOCAP_NEGOTIATINGVIDEOFORMAT
};

using TProgressEvent = std::function<void(TObject* Sender, int per)>;
using TKVJobEvent = std::function<void(TObject* Sender, TKVJob job, int per)>;

// The progress and abort record a starter builds on the stack and passes by
// reference to a codec or a long operation.
struct TProgressRec {
  TProgressEvent OnProgress;
  TObject* Sender = nullptr;
  int32_t Done = 0;       // work units done, when counted across calls
  double Scale = 0;       // percent per work unit
  bool* Aborting = nullptr;  // the starter's abort flag (codecs always get one)
};

// Shared record for callers that want neither progress nor abort. Its flag is
// false and nothing in the library sets it.
extern TProgressRec nullpr;

// Calls the progress event with per when it is assigned.
inline void ReportProgress(TProgressRec& p, int per) {
  if (p.OnProgress) p.OnProgress(p.Sender, per);
}
// True when the record's abort flag is set.
inline bool AbortRequested(const TProgressRec& p) { return p.Aborting && *p.Aborting; }

}  // namespace korvane
