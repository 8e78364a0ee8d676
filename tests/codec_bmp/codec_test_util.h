// Small helpers of the BMP/ICO/CUR/PCX tests.
#pragma once
#include <cctype>
#include <string>

#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"

namespace korvane::test {

inline std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Loads the stream (from position 0) with the reader of a codec name.
inline void LoadWith(const std::string& codec, TMemoryStream& ms, TBitmap& bmp, TIOParamsVals& p, int index,
                     TProgressRec& pr = nullpr) {
  ms.SetPosition(0);
  if (codec == "bmp") {
    BMPReadStream(&ms, &bmp, 0, p, pr, false);
  } else if (codec == "ico") {
    p.ICO_ImageIndex = index;
    ICOReadStream(&ms, &bmp, p, false);
  } else if (codec == "cur") {
    p.CUR_ImageIndex = index;
    CURReadStream(&ms, &bmp, p, false);
  } else {
    ReadPcxStream(&ms, &bmp, p, false, pr, ms.Size());
  }
}

}  // namespace korvane::test
