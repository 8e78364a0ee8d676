// Exception classes of the host layer. Codecs raise EInvalidGraphic with the
// format's message; streams raise the stream errors.
#pragma once
#include <stdexcept>
#include <string>

namespace korvane {

// Bad or unsupported image data ("unrecognized BMP", "Corrupted GIF", ...).
class EInvalidGraphic : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class EStreamError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A ReadBuffer that could not read the whole count.
class EReadError : public EStreamError {
 public:
  EReadError() : EStreamError("Stream read error") {}
  using EStreamError::EStreamError;
};
// A WriteBuffer that could not write the whole count.
class EWriteError : public EStreamError {
 public:
  EWriteError() : EStreamError("Stream write error") {}
  using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
// Inflate or deflate failure of the compression streams.
class EZlibError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// A bitmap or resource that cannot be allocated.
class EOutOfResources : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace korvane
