// Fuzz target for the KVV reader: any input either raises EInvalidGraphic
// (objects read before the error stay) or loads; the layer then draws, saves
// and loads again to the same object count.
#include <cstdint>
#include <cstdlib>

#include "fuzz/vect_fuzz_support.h"
#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/streams.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TKorvaneVect* v = FuzzVect();
  TMemoryStream s;
  s.SetData(data, size);
  bool ok = true;
  try {
    v->LoadFromStreamKVV(&s);
  } catch (const EInvalidGraphic&) {
    ok = false;
  }
  unsigned sum = FuzzTouch(v);
  if (ok) {
    const int n = v->ObjectsCount();
    TMemoryStream out;
    v->SaveToStreamKVV(&out);
    out.SetPosition(0);
    v->LoadFromStreamKVV(&out);
    if (v->ObjectsCount() != n) std::abort();
  }
  return int(sum) & 0;
}
