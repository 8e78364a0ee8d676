// The korvane tool's multi-image pieces: AVI files in info, and convert of
// AVI frames and of whole multi-frame files (GIF, TIFF, AVI) through the
// multi-image view and I/O component.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <unordered_set>

#include "apps/korvane/tool.h"
#include "korvane/foundations/host/safe_save.h"
#include "korvane/multi/avi_file.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"

namespace korvane::cli {

namespace {

std::string Ext(const std::string& name) {
  std::string e = std::filesystem::path(name).extension().string();
  for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
  return e;
}

bool MultiExt(const std::string& e) { return e == ".gif" || e == ".tif" || e == ".tiff" || e == ".avi"; }

// The record of a composed frame: a whole screen at 0, 0, opaque, left in
// place for the next frame, with a palette deep enough for the colors the
// screen gathered from several frames (the frame's own table may be smaller).
void CoalescedRecord(TIOParamsVals& p, TBitmap& screen) {
  std::unordered_set<uint32_t> colors;
  for (int y = 0; screen.PixelFormat() == pf24bit && y < screen.Height() && colors.size() <= 256; ++y) {
    const TRGB* row = reinterpret_cast<const TRGB*>(screen.Scanline(y));
    for (int x = 0; x < screen.Width(); ++x) colors.insert(uint32_t(row[x].r) << 16 | row[x].g << 8 | row[x].b);
  }
  int bits = 1;
  while (bits < 8 && (size_t(1) << bits) < colors.size()) ++bits;
  p.BitsPerSample = std::max(p.BitsPerSample, bits);
  p.GIF_XPos = p.GIF_YPos = 0;
  p.GIF_FlagTranspColor = false;
  p.GIF_Disposal = 1;
  p.Width = p.GIF_WinWidth = screen.Width();
  p.Height = p.GIF_WinHeight = screen.Height();
}

// Replaces every image of the view by its frame composed on the logical
// screen, as a whole picture at 0, 0 that hides what was before it.
void Coalesce(TKorvaneMView& view, TKorvaneMIO& mio) {
  const int n = view.GetImageCount();
  std::vector<TBitmap> screens(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i)
    if (!view.GetComposedFrame(i, &screens[size_t(i)]))
      throw std::runtime_error("image " + std::to_string(i) + " has no picture");
  for (int i = 0; i < n; ++i) {
    view.SetImageLayout(i, TKVFrameLayout());
    view.SetImageNU(i, &screens[size_t(i)]);
    if (TIOParamsVals* p = mio.GetParams(i)) CoalescedRecord(*p, screens[size_t(i)]);
  }
}

}  // namespace

bool DescribeAVI(const std::string& name, int index) {
  if (Ext(name) != ".avi") return false;
  if (access(name.c_str(), R_OK) != 0) throw std::runtime_error(name + ": cannot open the file");
  TKVAVIReader avi(name);
  // The header's length may lie; the frames are counted by reading them.
  TBitmap bmp, pick;
  int bits = 24, count = 0, pickBits = 0;
  while (avi.NextFrame(&bmp, bits)) {
    if (count == std::max(index, 0)) pick.Assign(&bmp), pickBits = bits;
    ++count;
  }
  std::printf("Format: AVI\n");
  std::printf("Size: %d x %d\n", avi.Width(), avi.Height());
  std::printf("Frames: %d\n", count);
  if (avi.Length() != count) std::printf("Declared frames: %lld\n", static_cast<long long>(avi.Length()));
  std::printf("Rate: %d/%d frames per second\n", avi.Rate(), avi.Scale());
  std::printf("Delay: %d ms\n", avi.DelayMs());
  if (avi.Skipped() > 0) std::printf("Undecodable frames: %d\n", avi.Skipped());
  if (index >= 0 && pick.Empty())
    throw std::runtime_error(name + ": no frame at index " + std::to_string(index));
  if (!pick.Empty()) std::printf("Frame %d bits: %d\n", std::max(index, 0), pickBits);
  return true;
}

bool WantsMultiConvert(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--frames" || a == "--avi-codec" || a == "--coalesce" || (a.size() > 1 && a[0] != '-' && Ext(a) == ".avi"))
      return true;
  return false;
}

int RunConvertMulti(const std::vector<std::string>& args) {
  LoadSaveOptions opts;
  std::vector<std::string> files;
  bool all = false, coalesce = false;
  TKVAVICompressOptions codec{"rawvideo", 90};
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(ConvertUsage().c_str(), stdout);
      return 0;
    }
    if (TakeLoadSaveOption(args, i, opts)) continue;
    if (args[i] == "--frames") {
      const std::string& v = OptionArg(args, i);
      if (v != "all") throw UsageError("convert: --frames takes 'all'");
      all = true;
    } else if (args[i] == "--coalesce") {
      coalesce = true;
    } else if (args[i] == "--avi-codec") {
      codec.Encoder = OptionArg(args, i);
    } else if (args[i] == "--avi-quality") {
      codec.Quality = ParseInt(OptionArg(args, i), "--avi-quality", 1, 100);
    } else if (args[i] == "-o" || args[i] == "--output-dir" || args[i] == "--output-template" ||
               args[i] == "-j" || args[i] == "--jobs") {
      throw UsageError("convert: AVI files, --frames, --coalesce and --avi-codec take one input and one output");
    } else if (args[i].size() > 1 && args[i][0] == '-') {
      throw UsageError("convert: unknown option " + args[i]);
    } else {
      files.push_back(args[i]);
    }
  }
  if (files.size() != 2) throw UsageError("convert takes an input and an output file");
  const std::string& in = files[0];
  const std::string& out = files[1];
  if (all && (!MultiExt(Ext(in)) || !MultiExt(Ext(out))))
    throw UsageError("convert: --frames all needs GIF, TIFF or AVI files on both sides");
  if (!all) OutputFormat(out, opts);
  if (access(in.c_str(), R_OK) != 0) throw std::runtime_error(in + ": cannot open the file");

  TKorvaneMView view(nullptr);
  view.SetBounds(0, 0, 100, 100);
  TKorvaneMIO mio(nullptr);
  mio.SetAttachedMView(&view);
  mio.AVICompressor = codec;
  ProgressBar bar(WantProgress(opts));
  bar.Start("loading");
  mio.OnProgress = bar.Event();
  try {
    mio.LoadFromFile(in);
  } catch (const std::exception& e) {
    bar.Done();
    throw std::runtime_error(in + ": " + e.what());
  }
  bar.Done();
  if (view.GetImageCount() == 0) throw std::runtime_error(in + ": no image was loaded");
  if (coalesce) Coalesce(view, mio);

  if (!all) {
    // One frame of the video into any format the I/O component saves.
    const int index = std::max(opts.index, 0);
    if (index >= view.GetImageCount())
      throw std::runtime_error(in + ": no image was loaded (is there an image at index " +
                               std::to_string(index) + "?)");
    TBitmap bmp;
    bmp.Assign(view.GetBitmap(index));
    view.ReleaseBitmap(index);
    TKorvaneIO io;
    io.SetAttachedBitmap(&bmp);
    io.AssignParams(mio.GetParams(index));
    SaveImage(io, out, opts, bar);
    return 0;
  }
  for (int i = 0; i < view.GetImageCount(); ++i)
    for (const auto& [field, value] : opts.sets)
      if (!mio.GetParams(i)->SetField(field, value))
        throw std::runtime_error("--set: '" + value + "' is not a valid value for " + field);
  // GIF and TIFF are written through the library's safe path (beside the
  // output, moved in place only when complete).
  bar.Start("saving");
  try {
    const std::string e = Ext(out);
    if (e == ".gif" || e == ".tif" || e == ".tiff") {
      KVSafeSave(
          out,
          [&](TStream* s) {
            if (e == ".gif")
              mio.SaveToStreamGif(s);
            else
              mio.SaveToStreamTIFF(s);
          },
          &mio.Aborting);
    } else {
      // The AVI writer takes a file name: it writes beside the output, and
      // the result replaces the output only when it is complete.
      const std::string part = out + ".part" + e;
      try {
        mio.SaveToFile(part);
      } catch (...) {
        std::error_code ec;
        std::filesystem::remove(part, ec);
        throw;
      }
      std::filesystem::rename(part, out);
    }
  } catch (const std::exception& e) {
    bar.Done();
    throw std::runtime_error(out + ": " + e.what());
  }
  bar.Done();
  return 0;
}

}  // namespace korvane::cli
