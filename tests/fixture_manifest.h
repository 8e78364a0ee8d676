// The shared fixture corpus's manifest: the cases of one format, their
// expected parameters, and comparison of a loaded bitmap with a reference.
#pragma once
#include <string>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/io/ioparams.h"

namespace korvane::test {

struct FixtureCase {
  std::string file;       // path below fixtures/
  std::string path;       // full path
  std::string format;     // "bmp", "gif", ..., "hostile"
  std::string codec;      // reader of a hostile case
  std::string reference;  // full path of the P6 reference, "" when none
  int tolerance = 0;
  int width = -1, height = -1, pixelFormat = -1;  // -1: not fixed
  int index = 0;                                  // frame, page or icon image
  int frames = -1;                                // -1: not fixed
  bool error = false, noCrash = false;
  // Expected parameter fields as TIOParamsVals::GetField text.
  std::vector<std::pair<std::string, std::string>> params;
  std::string Name() const;  // a test-name-safe label
};

// The cases of one format ("" for all); empty when the manifest is absent.
std::vector<FixtureCase> FixtureCases(const std::string& format);

// Reads a binary P6 PPM (maxval 255): rgb holds w*h*3 bytes, top row first.
bool ReadPPM(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgb);

// The case's reference pixels as the library gives them: the PPM with the
// library's departures from the corpus conventions applied.
bool ReadReference(const FixtureCase& c, int& w, int& h, std::vector<uint8_t>& rgb);

// Largest channel difference between a 1- or 24-bit bitmap and the RGB
// reference (1-bit: bit 0 black, bit 1 white); -1 when the sizes differ or
// the format is neither.
int MaxDiff(TBitmap& bmp, int w, int h, const std::vector<uint8_t>& rgb);

// Text describing how the loaded bitmap differs from the case's expected
// pixel format and reference pixels (beyond the tolerance); "" when it
// matches or the case fixes neither.
std::string BitmapMismatch(const FixtureCase& c, TBitmap& bmp);

// Text listing the expected fields whose value differs ("" when all match).
std::string ParamMismatches(const FixtureCase& c, const TIOParamsVals& p);

}  // namespace korvane::test
