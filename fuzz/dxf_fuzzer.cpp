// Fuzz target for the DXF importer: any text imports what it can and the
// objects draw.
#include <cstdint>

#include "fuzz/vect_fuzz_support.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TKorvaneVect* v = FuzzVect();
  v->ImportDXFText(reinterpret_cast<const char*>(data), size);
  return int(FuzzTouch(v)) & 0;
}
