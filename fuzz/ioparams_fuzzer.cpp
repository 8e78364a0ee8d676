// Fuzz target for the persisted parameters record: any byte string loaded
// into a record must leave it consistent (palette block and count agree, the
// count within its cap) and usable (saved again, copied, described).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "korvane/foundations/host/streams.h"
#include "korvane/io/ioparams.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TMemoryStream in;
  in.SetData(data, size);
  TIOParamsVals p;
  p.LoadFromStream(&in);

  if ((p.ColorMap == nullptr) != (p.ColorMapCount == 0) || p.ColorMapCount < 0 ||
      p.ColorMapCount > kIOMaxColorMapCount)
    std::abort();
  // Touch every palette byte so uninitialised or freed memory shows.
  unsigned sum = 0;
  for (int32_t i = 0; i < p.ColorMapCount; ++i) sum += p.ColorMap[i].r + p.ColorMap[i].g + p.ColorMap[i].b;

  // What was loaded saves and loads back to the same bytes.
  TMemoryStream out;
  p.SaveToStream(&out);
  TIOParamsVals q;
  q.Assign(&p);
  out.SetPosition(0);
  TIOParamsVals r;
  r.LoadFromStream(&out);
  TMemoryStream again;
  r.SaveToStream(&again);
  if (again.Size() != out.Size() || std::memcmp(again.Memory(), out.Memory(), size_t(out.Size())) != 0)
    std::abort();
  std::string s = q.GetFileTypeStr();
  return int(sum + s.size()) & 0;
}
