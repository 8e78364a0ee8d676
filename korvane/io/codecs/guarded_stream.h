/// \file
/// Stream transfers for the callbacks of C codec libraries (libjpeg, libpng):
/// an exception raised by the stream is kept for the caller, which rethrows it
/// once the library has been left, and is reported to the library as -1 /
/// false, so that no exception crosses the library's frames.
#pragma once
#include <cstdint>
#include <exception>

#include "korvane/foundations/host/streams.h"

namespace korvane::codecs {

inline int64_t ReadSome(TStream* s, void* buf, int64_t n, std::exception_ptr* failure) noexcept {
  try {
    return s->Read(buf, n);
  } catch (...) {
    *failure = std::current_exception();
    return -1;
  }
}

inline bool WriteAll(TStream* s, const void* buf, int64_t n, std::exception_ptr* failure) noexcept {
  try {
    return s->Write(buf, n) == n;
  } catch (...) {
    *failure = std::current_exception();
    return false;
  }
}

}  // namespace korvane::codecs
