// A batch thumbnailer on TKorvaneIO and _Resample: every picture given is
// shrunk to fit a square of SIZE pixels with the Lanczos filter (its aspect
// ratio kept; smaller pictures are not enlarged) and saved as a JPEG named
// after it in OUTDIR. A file that cannot be read is reported, and the others
// go on; the exit status is 1 when any failed.
//   thumbnailer OUTDIR SIZE FILE...
#include <QFileInfo>
#include <QGuiApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>

#include "korvane/io/kvio.h"
#include "korvane/pixels/bitmap_procs.h"

using namespace korvane;

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const int size = argc >= 4 ? std::atoi(argv[2]) : 0;
  if (size <= 0) {
    std::fprintf(stderr, "usage: thumbnailer OUTDIR SIZE FILE...\n");
    return 2;
  }
  int failed = 0;
  for (int i = 3; i < argc; ++i) {
    try {
      TBitmap picture, thumb;
      TKorvaneIO io;
      io.SetAttachedBitmap(&picture);
      io.LoadFromFile(argv[i]);
      const double scale = std::min(1.0, double(size) / std::max(picture.Width(), picture.Height()));
      thumb.Allocate(std::max(1, int(picture.Width() * scale + 0.5)),
                     std::max(1, int(picture.Height() * scale + 0.5)), pf24bit);
      _Resample(&picture, &thumb, rfLanczos3, nullptr, nullptr);

      TKorvaneIO out;
      out.SetAttachedBitmap(&thumb);
      out.Params()->JPEG_Quality = 85;
      const QString name = QString("%1/%2.jpg").arg(argv[1], QFileInfo(argv[i]).completeBaseName());
      out.SaveToFileJpeg(name.toStdString());
      std::printf("%s %dx%d\n", qPrintable(name), thumb.Width(), thumb.Height());
    } catch (const std::exception& e) {
      std::fprintf(stderr, "thumbnailer: %s: %s\n", argv[i], e.what());
      ++failed;
    }
  }
  return failed ? 1 : 0;
}
