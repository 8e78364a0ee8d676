// Scans every page of a scanner's document feeder into one multi-page TIFF:
// TKorvaneMIO acquires the pages into a TKorvaneMView, and the TIFF save
// writes them all, black-and-white pages as CCITT G4, others with LZW.
//   scan_to_tiff OUT.tif [--source NAME] [--dpi N] [--mode bw|gray|color]
// Without a TWAIN source manager the sources are the SANE devices.
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

#include "korvane/acquire/twain.h"
#include "korvane/multi/kvmio.h"

using namespace korvane;

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string out, source;
  int dpi = 0, mode = -1;
  for (int i = 1; i < argc; ++i) {
    const bool more = i + 1 < argc;
    if (!std::strcmp(argv[i], "--source") && more) source = argv[++i];
    else if (!std::strcmp(argv[i], "--dpi") && more) dpi = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--mode") && more) {
      const std::string m = argv[++i];
      mode = m == "bw" ? 0 : m == "gray" ? 1 : m == "color" ? 2 : -2;
    } else if (out.empty() && argv[i][0] != '-') out = argv[i];
    else mode = -2;
  }
  if (out.empty() || mode == -2) {
    std::fprintf(stderr, "usage: scan_to_tiff OUT.tif [--source NAME] [--dpi N] [--mode bw|gray|color]\n");
    return 2;
  }
  try {
    TKorvaneMView pages(nullptr);
    TKorvaneMIO mio;
    mio.SetAttachedMView(&pages);
    TKVTWainParams& twain = *mio.TWainParams();
    if (twain.GetSourceCount() == 0) throw std::runtime_error("no scanner found");
    if (!source.empty() && !twain.SelectSourceByName(source)) throw std::runtime_error("no scanner " + source);
    twain.SetVisibleDialog(false);
    twain.SetFeederEnabled(true);
    if (mode >= 0) twain.GetPixelType()->SetCurrentValue(mode);
    if (dpi > 0) {
      twain.GetXResolution()->SetCurrentValue(dpi);
      twain.GetYResolution()->SetCurrentValue(dpi);
    }
    if (!mio.Acquire()) throw std::runtime_error("the scanner gave no page");
    for (int i = 0; i < pages.GetImageCount(); ++i) {
      const bool bw = pages.GetBitmap(i)->PixelFormat() == pf1bit;
      pages.ReleaseBitmap(i);
      mio.GetParams(i)->TIFF_Compression = bw ? ioTIFF_G4FAX : ioTIFF_LZW;
    }
    mio.SaveToFileTIFF(out);
    std::printf("%d pages written to %s\n", pages.GetImageCount(), out.c_str());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "scan_to_tiff: %s\n", e.what());
    return 1;
  }
  return 0;
}
