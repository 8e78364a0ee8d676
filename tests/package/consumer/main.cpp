// A program built against an installed Korvane: draws a small image, saves it
// as BMP through TKorvaneIO (path in argv[1]), loads it back and compares.
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "korvane/foundations/host/graphics.h"
#include "korvane/io/kvio.h"

using namespace korvane;

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);

  TBitmap src(7, 5, pf24bit);
  for (int y = 0; y < src.Height(); ++y) {
    uint8_t* row = src.Scanline(y);
    for (int i = 0; i < src.Width() * 3; ++i) row[i] = uint8_t(y * 40 + i * 9);
  }
  TKorvaneIO io;
  io.SetAttachedBitmap(&src);
  io.SaveToFile(argv[1]);

  TBitmap back;
  TKorvaneIO in;
  in.SetAttachedBitmap(&back);
  in.LoadFromFile(argv[1]);
  if (back.Width() != src.Width() || back.Height() != src.Height() || back.PixelFormat() != pf24bit) {
    std::fprintf(stderr, "loaded %d x %d\n", back.Width(), back.Height());
    return 1;
  }
  for (int y = 0; y < src.Height(); ++y)
    if (std::memcmp(src.Scanline(y), back.Scanline(y), size_t(src.Width()) * 3) != 0) {
      std::fprintf(stderr, "row %d differs\n", y);
      return 1;
    }
  std::printf("%s %d x %d\n", in.Params()->GetFileTypeStr().c_str(), back.Width(), back.Height());
  return 0;
}
