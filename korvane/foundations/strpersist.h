/// \file
/// Length-prefixed string persistence: a signed 32-bit little-endian length,
/// then the bytes, no terminator.
#pragma once
#include <string>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/streams.h"

namespace korvane {

/// Writes the byte length as a signed 32-bit little-endian integer, then the bytes.
/// Raises the stream's write error when it cannot take them all.
KORVANE_EXPORT void SaveStringToStream(TStream* stream, const std::string& text);
/// Reads a string written by SaveStringToStream. A negative length reads as
/// empty; a length past the end of the stream raises EReadError (or the
/// stream's own error) without allocating much more than the stream holds.
/// Works on streams that cannot report their size.
KORVANE_EXPORT void LoadStringFromStream(TStream* stream, std::string& text);

}  // namespace korvane
