/// \file
/// Exception classes of the host layer. Codecs raise EInvalidGraphic with the
/// format's message; streams raise the stream errors.
#pragma once
#include <stdexcept>
#include <string>

#include "korvane/foundations/host/export.h"

namespace korvane {

/// Bad or unsupported image data ("unrecognized BMP", "Corrupted GIF", ...).
class KORVANE_EXPORT EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class KORVANE_EXPORT EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
/// A ReadBuffer that could not read the whole count.
class KORVANE_EXPORT EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
  using EStreamError::EStreamError;
};
/// A WriteBuffer that could not write the whole count.
class KORVANE_EXPORT EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
  using EStreamError::EStreamError;
};
class KORVANE_EXPORT EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class KORVANE_EXPORT EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
/// Inflate or deflate failure of the compression streams.
class KORVANE_EXPORT EZlibError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

/// A bitmap or resource that cannot be allocated.
class KORVANE_EXPORT EOutOfResources : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace korvane
