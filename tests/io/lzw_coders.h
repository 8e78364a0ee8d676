// The library-wide LZW coder hooks for the length of a test: installed on
// construction and emptied again on destruction, so that the suites that
// expect empty hooks see them empty whatever ran before them.
#pragma once
#include "korvane/io/ioparams.h"
#include "korvane/io/kvio.h"

namespace korvane::test {

struct LZWCoders {
  LZWCoders() { InstallKorvaneLZWCoders(); }
  ~LZWCoders() {
    DefGIF_LZWDECOMPFUNC = nullptr;
    DefGIF_LZWCOMPFUNC = nullptr;
    DefTIFF_LZWDECOMPFUNC = nullptr;
    DefTIFF_LZWCOMPFUNC = nullptr;
  }
  LZWCoders(const LZWCoders&) = delete;
  LZWCoders& operator=(const LZWCoders&) = delete;
};

}  // namespace korvane::test
