/// \file
/// The error a reader raises for data it understands but does not decode (a
/// compression, a depth or a layout it has no decoder for): the load fails
/// with the reason instead of giving an empty picture. The I/O component keeps
/// the reason in its message ("BMP compression 4 is not supported : unrecognized
/// BMP").
#pragma once
#include <string>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/export.h"

namespace korvane {

/// Raised by a reader for data it recognizes but has no decoder for; an EInvalidGraphic, so
/// callers that catch that also catch this.
class KORVANE_EXPORT EUnsupportedImage : public EInvalidGraphic {
 public:
  /// Takes the reason as the message, e.g. "TIFF compression 32946 is not supported".
  explicit EUnsupportedImage(const std::string& why) : EInvalidGraphic(why) {}
};

}  // namespace korvane
