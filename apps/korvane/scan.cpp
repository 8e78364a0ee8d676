// korvane sources / korvane scan: the TWAIN sources (SANE devices through the
// built-in source manager when no TWAIN manager is installed) and a scan to
// a file, one file per page from a document feeder.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>

#include "apps/korvane/tool.h"
#include "korvane/acquire/twain.h"
#include "korvane/capture/capture_driver.h"
#include "korvane/foundations/host/safe_save.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"

namespace korvane::cli {

namespace {

// OUT with a page number before the extension: scan.png -> scan3.png.
std::string PageName(const std::string& out, int page) {
  const size_t slash = out.find_last_of('/');
  size_t dot = out.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == 0 ||
      (slash != std::string::npos && dot == slash + 1))
    dot = out.size();
  return out.substr(0, dot) + std::to_string(page) + out.substr(dot);
}

// A scanned page saved like a loaded image, with the record the scan filled.
void SavePage(TBitmap* page, const TIOParamsVals* params, const std::string& name,
              const LoadSaveOptions& opts, ProgressBar& bar) {
  TKorvaneIO io;
  io.SetAttachedBitmap(page);
  io.Params()->Assign(params);
  SaveImage(io, name, opts, bar);
}

// One scanned page on its way to OUT. A 24-bit page bound for a BMP goes
// into the file strip by strip as the scanner sends it, so the page is never
// held whole; any other page is gathered and saved like a loaded image.
class PageToFile : public TKVTWainStripSink {
 public:
  PageToFile(const std::string& out, const LoadSaveOptions& opts, ProgressBar& bar)
      : out_(out), opts_(opts), bar_(bar) {}

  void Begin(const TIOParamsVals& params) override {
    page_.Assign(&params);
    TIOParamsVals saved;
    saved.Assign(&params);
    PrepareSave(saved, opts_);
    if (params.SamplesPerPixel != 3 || OutputFormat(out_, opts_) != ioBMP || !TBMPStripWriter::Takes(saved)) {
      // The strips' format: 1-bit for black-and-white pages, else 24-bit.
      bitmap_.Allocate(params.Width, params.Height, params.BitsPerSample == 1 ? pf1bit : pf24bit);
      return;
    }
    Guard([&] {
      save_ = std::make_unique<TSafeFileSave>(out_);
      writer_ = std::make_unique<TBMPStripWriter>(save_->Stream(), params.Width, params.Height, saved);
    });
  }

  void Rows(int y0, int count, const TBitmap& strip) override {
    if (writer_) return Guard([&] { writer_->Write(y0, count, strip); });
    if (strip.PixelFormat() != bitmap_.PixelFormat())
      throw std::runtime_error("unexpected scan strip format");
    const size_t bytes = size_t(std::min(strip.RowBytes(), bitmap_.RowBytes()));
    for (int r = 0; r < count && y0 + r < bitmap_.Height(); ++r)
      std::memcpy(bitmap_.Scanline(y0 + r), strip.Scanline(r), bytes);
  }

  // After a complete scan: the file replaces OUT.
  void Finish() {
    if (writer_)
      return Guard([&] {
        writer_->Finish();
        save_->Commit();
      });
    SavePage(&bitmap_, &page_, out_, opts_, bar_);
  }

 private:
  // The file's errors name the file, as a save's do.
  void Guard(const std::function<void()>& f) {
    try {
      f();
    } catch (const std::exception& e) {
      throw std::runtime_error(out_ + ": " + e.what());
    }
  }

  const std::string& out_;
  const LoadSaveOptions& opts_;
  ProgressBar& bar_;
  TIOParamsVals page_;
  TBitmap bitmap_;
  std::unique_ptr<TSafeFileSave> save_;
  std::unique_ptr<TBMPStripWriter> writer_;
};

std::string Why() {
  const TKVTWainCallInfo info = KVTW_LastCallInfo();
  if (info.ConditionCode) return " (TWAIN condition code " + std::to_string(info.ConditionCode) + ")";
  return "";
}

}  // namespace

int RunSources(const std::vector<std::string>& args) {
  bool video = false;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") {
      std::fputs(SourcesUsage().c_str(), stdout);
      return 0;
    }
    if (a == "--video") {
      video = true;
      continue;
    }
    throw UsageError("sources: unexpected argument " + a);
  }
  if (video) {
    KVRegisterTestCaptureFromEnv();
    int found = 0;
    for (int i = 0; i < kCaptureDriverCount; ++i) {
      std::string name, version;
      if (!KVCapGetDriverDescription(i, name, version)) continue;
      std::printf("%d\t%s\t%s\n", i, name.c_str(), version.c_str());
      ++found;
    }
    if (found == 0) std::fputs("korvane: no video capture drivers found\n", stderr);
    return 0;
  }
  TKVTWainParams tp;
  const int n = tp.GetSourceCount();
  for (int i = 0; i < n; ++i) {
    const TW_IDENTITY* id = tp.GetSourceIdentity(i);
    std::printf("%s\t%s\t%s\n", TWStr(id->ProductName).c_str(), TWStr(id->Manufacturer).c_str(),
                TWStr(id->ProductFamily).c_str());
  }
  if (n == 0) std::fputs("korvane: no scanner sources found\n", stderr);
  return 0;
}

int RunScan(const std::vector<std::string>& args) {
  LoadSaveOptions opts;
  std::string out, source;
  int dpi = 0, mode = -1;
  bool adf = false, haveArea = false;
  double area[4] = {0, 0, 0, 0};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(ScanUsage().c_str(), stdout);
      return 0;
    }
    if (TakeLoadSaveOption(args, i, opts)) continue;
    if (a == "--source") {
      source = OptionArg(args, i);
    } else if (a == "--dpi") {
      dpi = ParseInt(OptionArg(args, i), "--dpi", 1, 19200);
    } else if (a == "--mode") {
      const std::string& m = OptionArg(args, i);
      mode = m == "bw" ? TWPT_BW : m == "gray" ? TWPT_GRAY : m == "color" ? TWPT_RGB : -1;
      if (mode < 0) throw UsageError("--mode takes bw, gray or color");
    } else if (a == "--adf") {
      adf = true;
    } else if (a == "--area") {
      std::stringstream in(OptionArg(args, i));
      std::string part;
      int n = 0;
      while (std::getline(in, part, ',')) {
        if (n == 4) throw UsageError("--area takes four numbers L,T,R,B (inches)");
        area[n++] = ParseReal(part, "--area");
      }
      if (n != 4 || area[2] <= area[0] || area[3] <= area[1] || area[0] < 0 || area[1] < 0)
        throw UsageError("--area takes L,T,R,B in inches, right of left and below top");
      haveArea = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError("scan: unknown option " + a);
    } else if (out.empty()) {
      out = a;
    } else {
      throw UsageError("scan takes one output file");
    }
  }
  if (out.empty()) throw UsageError("scan takes an output file");
  OutputFormat(out, opts);

  TKVTWainParams tp;
  if (tp.GetSourceCount() == 0) throw std::runtime_error("no scanner sources found");
  if (!source.empty() && !tp.SelectSourceByName(source))
    throw std::runtime_error("no source named '" + source + "' (korvane sources lists them)");
  tp.SetVisibleDialog(false);
  if (mode >= 0) tp.GetPixelType()->SetCurrentValue(mode);
  if (dpi) {
    tp.GetXResolution()->SetCurrentValue(dpi);
    tp.GetYResolution()->SetCurrentValue(dpi);
  }
  tp.SetFeederEnabled(adf);
  if (haveArea)
    for (int k = 0; k < 4; ++k) tp.SetAcquireFrame(k, area[k]);

  ProgressBar bar(WantProgress(opts));
  bool aborting = false;
  TProgressRec pr;
  pr.Aborting = &aborting;
  pr.OnProgress = bar.Event();
  if (!adf) {
    TIOParamsVals params;
    PageToFile page(out, opts, bar);
    bar.Start("scanning");
    const bool ok = KVTW_AcquireStrips(nullptr, page, pr, &params, &tp);
    bar.Done();
    if (!ok) throw std::runtime_error("the scanner delivered no image" + Why());
    page.Finish();
    return 0;
  }

  // Feeder: each page is saved once the next one arrives (its record is
  // filled after the callback), the last one after the run.
  std::unique_ptr<TBitmap> held;
  std::unique_ptr<TIOParamsVals> heldParams;
  int saved = 0;
  auto flush = [&] {
    if (!held) return;
    SavePage(held.get(), heldParams.get(), PageName(out, ++saved), opts, bar);
    held.reset();
  };
  bar.Start("scanning");
  const bool ok =
      KVTW_Acquire(nullptr, nullptr, true, pr, nullptr, &tp, [&](TBitmap* page, TIOParamsVals*& rec) {
        flush();
        held = std::make_unique<TBitmap>();
        held->Assign(page);
        heldParams = std::make_unique<TIOParamsVals>();
        heldParams->SetDefaultParams();
        rec = heldParams.get();
      });
  bar.Done();
  flush();
  if (!ok) throw std::runtime_error("the scanner delivered no image" + Why());
  if (!opts.quiet) std::fprintf(stderr, "korvane: %d page%s scanned\n", saved, saved == 1 ? "" : "s");
  return 0;
}

std::string SourcesUsage() {
  return "Usage: korvane sources [--video]\n"
         "\n"
         "Lists the scanner sources, one per line: name, manufacturer and model,\n"
         "separated by tabs. Without an installed TWAIN source manager (or with\n"
         "KORVANE_TWAIN_DSM=sane) the sources are the SANE devices, named as SANE\n"
         "names them (test:0, ...). KORVANE_TWAIN_DSM=PATH loads that manager.\n"
         "\n"
         "  --video  list the video capture drivers instead: index (0..9), name\n"
         "           and version. Index N is the camera /dev/videoN;\n"
         "           KORVANE_TEST_CAPTURE=1 adds the synthetic test camera.\n";
}

std::string ScanUsage() {
  return "Usage: korvane scan OUT [--source NAME] [--dpi N] [--mode bw|gray|color]\n"
         "                  [--adf] [--area L,T,R,B] [--set Name=Value]... [--quiet]\n"
         "\n"
         "Scans one image into OUT (format by extension). The scanner's own\n"
         "window is not shown.\n"
         "\n"
         "  --source NAME  the first source whose name begins with NAME, any case\n"
         "                 (default: the first source)\n"
         "  --dpi N        resolution in dots per inch\n"
         "  --mode M       bw (1 bit), gray or color\n"
         "  --adf          scan every page of the document feeder, one file each:\n"
         "                 OUT with the page number before the extension (out1.png...)\n"
         "  --area L,T,R,B the scan area in inches from the top left corner\n"
         "  --set N=V      a save parameter (see korvane info --fields)\n"
         "  --quiet        no progress bar\n";
}

}  // namespace korvane::cli
