// korvane process: loads an image, runs TKorvaneProc operations on it in the
// order given, and saves it. Every operation is one row of kOps: its option,
// the number of arguments it takes, its help, and a parser that checks the
// arguments before anything is loaded and returns the step to run.
#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "apps/korvane/tool.h"
#include "korvane/pixels/hidden.h"
#include "korvane/proc/kvproc.h"

namespace korvane::cli {
namespace {

struct OpContext {
  TKorvaneIO& io;
  TKorvaneProc& proc;
  TBitmap& bmp;
  ProgressBar& bar;
  // The current selection, inclusive corners (none: the whole image).
  std::optional<std::array<int, 4>> sel;
  // Where the measuring operations print: standard output when null, else
  // the file's share of it, printed later in input order.
  std::string* printed = nullptr;
  std::string input;
};

// A line of an operation's output; with several inputs it names its file.
void PrintLine(OpContext& c, const std::string& line) {
  c.bar.Done();
  if (!c.printed) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
    return;
  }
  *c.printed += c.input + ": " + line + "\n";
}

using Step = std::function<void(OpContext&)>;
using Args = std::vector<std::string>;

struct OpEntry {
  const char* option;
  int argc;
  const char* argHelp;
  const char* help;
  std::function<Step(const Args&)> parse;
};

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Operations that only work on 24-bit images widen a bilevel one first, so
// that they are never silently skipped.
void Need24(OpContext& c) {
  if (c.bmp.PixelFormat() == pf1bit) c.proc.ConvertTo24Bit();
}

// An enumerator chosen by its name, with or without its prefix, any case.
template <typename E>
E ParseNamed(const std::string& text, const std::vector<std::pair<const char*, E>>& names, const char* prefix,
             const std::string& what) {
  const std::string t = Lower(text);
  std::string list;
  for (const auto& [name, value] : names) {
    const std::string n = Lower(name);
    const bool prefixed = n.rfind(prefix, 0) == 0;
    const std::string shortName = prefixed ? n.substr(std::string(prefix).size()) : n;
    if (t == n || (prefixed && t == shortName)) return value;
    // The names as --help gives them.
    list += std::string(list.empty() ? "" : ", ") + shortName;
  }
  throw UsageError(what + ": unknown name '" + text + "' (one of " + list + ")");
}

TResampleFilter ParseResampleFilter(const std::string& text) {
  static const std::vector<std::pair<const char*, TResampleFilter>> kNames = {
      {"rfNone", rfNone},       {"rfTriangle", rfTriangle}, {"rfHermite", rfHermite},  {"rfBell", rfBell},
      {"rfBSpline", rfBSpline}, {"rfLanczos3", rfLanczos3}, {"rfMitchell", rfMitchell}};
  return ParseNamed(text, kNames, "rf", "--resample filter");
}

TKVFilterPresets ParseFilterPreset(const std::string& text) {
  static const std::vector<std::pair<const char*, TKVFilterPresets>> kNames = {
      {"fpBlur", fpBlur},           {"fpEdge", fpEdge},           {"fpEmboss", fpEmboss},
      {"fpHighPass1", fpHighPass1}, {"fpHighPass2", fpHighPass2}, {"fpHighPass3", fpHighPass3},
      {"LowPass1", LowPass1},       {"LowPass2", LowPass2}};
  return ParseNamed(text, kNames, "fp", "--filter");
}

// A size argument of --resample: a pixel count, or -1 to keep the aspect ratio.
int ParseSize(const std::string& text, const std::string& what) {
  int v = ParseInt(text, what, -1, 1 << 16);
  if (v == 0) throw UsageError(what + ": 0 is not a size (use -1 to keep the aspect ratio)");
  return v;
}

// A rectangle "X1,Y1,X2,Y2" with inclusive corners; it may reach past the
// image's edges (only the part inside is worked on).
std::array<int, 4> ParseRect(const std::string& text, const std::string& what) {
  std::vector<int> v = ParseInts(text, 4, what + " X1,Y1,X2,Y2", -(1 << 30), 1 << 30);
  if (v[2] < v[0] || v[3] < v[1]) throw UsageError(what + ": X2,Y2 must not be above or left of X1,Y1");
  return {v[0], v[1], v[2], v[3]};
}

// Loads the image that --merge blends in, by its extension.
std::shared_ptr<TBitmap> LoadOther(const std::string& name, OpContext& c) {
  auto other = std::make_shared<TBitmap>();
  TKorvaneIO io;
  io.SetAttachedBitmap(other.get());
  LoadSaveOptions opts;
  LoadImage(io, name, opts, c.bar);
  return other;
}

const std::vector<OpEntry>& Ops() {
  static const std::vector<OpEntry> kOps = {
      // Selection and background
      {"--select", 1, "X1,Y1,X2,Y2", "limit the following operations to a rectangle (corners included)",
       [](const Args& a) -> Step {
         auto r = ParseRect(a[0], "--select");
         return [r](OpContext& c) {
           if (r[0] >= c.bmp.Width() || r[1] >= c.bmp.Height() || r[2] < 0 || r[3] < 0)
             throw std::runtime_error("--select: the rectangle lies outside the " +
                                      std::to_string(c.bmp.Width()) + " x " + std::to_string(c.bmp.Height()) +
                                      " image");
           c.sel = r;
           c.proc.Select(r[0], r[1], r[2], r[3]);
         };
       }},
      {"--select-all", 0, "", "let the following operations work on the whole image again",
       [](const Args&) -> Step {
         return [](OpContext& c) {
           c.sel.reset();
           c.proc.SelectAll();
         };
       }},
      {"--background", 1, "R,G,B",
       "color of uncovered areas (rotate, resize, clear; default black) and of the paper a WMF or EMF "
       "input is drawn on (default white)",
       [](const Args& a) -> Step {
         TRGB col = ParseRGB(a[0], "--background");
         return [col](OpContext& c) { c.proc.SetReBackground(RGB(col.r, col.g, col.b)); };
       }},
      {"--crop", 0, "", "crop the image to the selection",
       [](const Args&) -> Step {
         return [](OpContext& c) {
           if (!c.sel) throw std::runtime_error("--crop needs a --select before it");
           // The component crops to the columns and rows before the second
           // corner; the tool's corners are both included.
           auto r = *c.sel;
           c.proc.Select(r[0], r[1], std::min(r[2], c.bmp.Width() - 1) + 1,
                         std::min(r[3], c.bmp.Height() - 1) + 1);
           c.proc.CropSel();
           c.sel.reset();
           c.proc.SelectAll();
         };
       }},
      {"--clear", 0, "", "fill the selection (or the image) with the background",
       [](const Args&) -> Step { return [](OpContext& c) { c.proc.ClearSel(); }; }},
      // Colors
      {"--negative", 0, "", "invert the colors",
       [](const Args&) -> Step { return [](OpContext& c) { c.proc.Negative(); }; }},
      {"--gray", 0, "", "convert to gray levels",
       [](const Args&) -> Step {
         return [](OpContext& c) {
           Need24(c);
           c.proc.ConvertToGray();
         };
       }},
      {"--contrast", 1, "N", "contrast -100 (flat) .. 100",
       [](const Args& a) -> Step {
         int n = ParseInt(a[0], "--contrast", -100, 100);
         return [n](OpContext& c) {
           Need24(c);
           c.proc.Contrast(n);
         };
       }},
      {"--hsl", 1, "H,S,L", "add hue degrees, saturation and lightness percent",
       [](const Args& a) -> Step {
         auto v = ParseInts(a[0], 3, "--hsl H,S,L", -360, 360);
         return [v](OpContext& c) {
           Need24(c);
           c.proc.HSLvar(v[0], v[1], v[2]);
         };
       }},
      {"--hsv", 1, "H,S,V", "add hue degrees, saturation and value (0..99 scale)",
       [](const Args& a) -> Step {
         auto v = ParseInts(a[0], 3, "--hsv H,S,V", -360, 360);
         return [v](OpContext& c) {
           Need24(c);
           c.proc.HSVvar(v[0], v[1], v[2]);
         };
       }},
      {"--intensity", 1, "R,G,B", "add to each channel (-255..255)",
       [](const Args& a) -> Step {
         auto v = ParseInts(a[0], 3, "--intensity R,G,B", -255, 255);
         return [v](OpContext& c) {
           Need24(c);
           c.proc.IntensityRGBall(v[0], v[1], v[2]);
         };
       }},
      {"--threshold", 4, "LOW HIGH LOWVAL HIGHVAL",
       "per channel: at most LOW becomes LOWVAL, above HIGH becomes HIGHVAL (R,G,B each)",
       [](const Args& a) -> Step {
         TRGB lo = ParseRGB(a[0], "--threshold LOW"), hi = ParseRGB(a[1], "--threshold HIGH");
         TRGB lv = ParseRGB(a[2], "--threshold LOWVAL"), hv = ParseRGB(a[3], "--threshold HIGHVAL");
         return [=](OpContext& c) {
           Need24(c);
           c.proc.Threshold(lo, hi, lv, hv);
         };
       }},
      {"--cast-color", 3, "FROM TO COLOR", "pixels with every channel in FROM..TO become COLOR (R,G,B each)",
       [](const Args& a) -> Step {
         TRGB from = ParseRGB(a[0], "--cast-color FROM"), to = ParseRGB(a[1], "--cast-color TO");
         TRGB col = ParseRGB(a[2], "--cast-color COLOR");
         return [=](OpContext& c) {
           Need24(c);
           c.proc.CastColorRange(from, to, col);
         };
       }},
      // Color depth
      {"--convert-to", 1, "N", "reduce to N colors (2 or less: ordered dithering to black and white)",
       [](const Args& a) -> Step {
         int n = ParseInt(a[0], "--convert-to", 1, 4096);
         return [n](OpContext& c) {
           Need24(c);
           c.proc.ConvertTo(n);
         };
       }},
      {"--bw-ordered", 0, "", "black and white by ordered dithering",
       [](const Args&) -> Step {
         return [](OpContext& c) {
           Need24(c);
           c.proc.ConvertToBWOrdered();
         };
       }},
      {"--bw-threshold", 1, "N", "black and white: gray below N is black (-1: the image's mean)",
       [](const Args& a) -> Step {
         int n = ParseInt(a[0], "--bw-threshold", -1, 256);
         return [n](OpContext& c) {
           Need24(c);
           c.proc.ConvertToBWThreshold(n);
         };
       }},
      {"--to-24bit", 0, "", "widen a black and white image to 24 bits",
       [](const Args&) -> Step { return [](OpContext& c) { c.proc.ConvertTo24Bit(); }; }},
      // Filters
      {"--filter", 1, "NAME",
       "3x3 filter: blur, edge, emboss, highpass1, highpass2, highpass3, lowpass1, lowpass2",
       [](const Args& a) -> Step {
         TKVFilterPresets f = ParseFilterPreset(a[0]);
         return [f](OpContext& c) {
           Need24(c);
           c.proc.ApplyFilterPreset(f);
         };
       }},
      {"--filter-file", 1, "FILE", "3x3 filter read from a filter file",
       [](const Args& a) -> Step {
         std::string name = a[0];
         return [name](OpContext& c) {
           TGraphFilter f;
           try {
             f = LoadFilterFromFile(name);
           } catch (const std::exception& e) {
             throw std::runtime_error(name + ": " + e.what());
           }
           Need24(c);
           c.proc.ApplyFilter(f);
         };
       }},
      // Geometry (the whole image)
      {"--resample", 3, "W H FILTER",
       "scale to W x H (-1 keeps the aspect ratio) with none, triangle, hermite, bell, bspline, lanczos3 "
       "or mitchell",
       [](const Args& a) -> Step {
         int w = ParseSize(a[0], "--resample W"), h = ParseSize(a[1], "--resample H");
         if (w < 0 && h < 0) throw UsageError("--resample: W and H cannot both be -1");
         TResampleFilter f = ParseResampleFilter(a[2]);
         return [=](OpContext& c) {
           // A filter blends neighbours, which only 24 bits can hold: a
           // bilevel page resampled as it is loses its thin strokes.
           if (f != rfNone) Need24(c);
           c.proc.Resample(w, h, f);
         };
       }},
      {"--resize", 2, "W H", "change the canvas size, keeping the pixels at the top left",
       [](const Args& a) -> Step {
         int w = ParseInt(a[0], "--resize W", 1, 1 << 16), h = ParseInt(a[1], "--resize H", 1, 1 << 16);
         return [=](OpContext& c) { c.proc.ImageResize(w, h); };
       }},
      {"--rotate", 1, "DEG", "turn counter-clockwise by DEG degrees",
       [](const Args& a) -> Step {
         int d = ParseInt(a[0], "--rotate", -360, 360);
         return [d](OpContext& c) { c.proc.Rotate(d, false); };
       }},
      {"--rotate-aa", 1, "DEG", "the same, anti-aliased",
       [](const Args& a) -> Step {
         int d = ParseInt(a[0], "--rotate-aa", -360, 360);
         return [d](OpContext& c) { c.proc.Rotate(d, true); };
       }},
      {"--flip", 1, "h|v", "mirror left-right (h) or top-bottom (v)",
       [](const Args& a) -> Step {
         std::string d = Lower(a[0]);
         if (d != "h" && d != "v") throw UsageError("--flip: expected h or v, got '" + a[0] + "'");
         TFlipDir dir = d == "h" ? fdHorizontal : fdVertical;
         return [dir](OpContext& c) { c.proc.Flip(dir); };
       }},
      // Histogram
      {"--equalize", 0, "", "equalize the histogram",
       [](const Args&) -> Step {
         return [](OpContext& c) {
           Need24(c);
           c.proc.HistAutoEqualize();
         };
       }},
      {"--equalize-range", 2, "LOW HIGH", "stretch the channel range LOW..HIGH (R,G,B each) to 0..255",
       [](const Args& a) -> Step {
         TRGB lo = ParseRGB(a[0], "--equalize-range LOW"), hi = ParseRGB(a[1], "--equalize-range HIGH");
         return [=](OpContext& c) {
           Need24(c);
           c.proc.HistEqualize(lo, hi);
         };
       }},
      // Effects
      {"--wave", 4, "AMPLITUDE LENGTH PHASE REFLECT", "concentric waves (phase in degrees, REFLECT 0 or 1)",
       [](const Args& a) -> Step {
         int amp = ParseInt(a[0], "--wave AMPLITUDE", -1000, 1000);
         int len = ParseInt(a[1], "--wave LENGTH", -1000, 1000);
         int phase = ParseInt(a[2], "--wave PHASE", -3600, 3600);
         bool refl = ParseInt(a[3], "--wave REFLECT", 0, 1) != 0;
         return [=](OpContext& c) {
           Need24(c);
           c.proc.Wave(amp, len, phase, refl);
         };
       }},
      {"--lens", 5, "X Y W H REFRACTION", "lens of size W x H centred at X,Y",
       [](const Args& a) -> Step {
         int x = ParseInt(a[0], "--lens X", -(1 << 16), 1 << 16),
             y = ParseInt(a[1], "--lens Y", -(1 << 16), 1 << 16);
         int w = ParseInt(a[2], "--lens W", 1, 1 << 16), h = ParseInt(a[3], "--lens H", 1, 1 << 16);
         double r = ParseReal(a[4], "--lens REFRACTION");
         return [=](OpContext& c) {
           Need24(c);
           c.proc.Lens(x, y, w, h, r);
         };
       }},
      {"--bump", 6, "X Y W H PERCENT R,G,B",
       "bump mapping lit by a W x H spot at X,Y; PERCENT of the image kept",
       [](const Args& a) -> Step {
         int x = ParseInt(a[0], "--bump X", -(1 << 16), 1 << 16),
             y = ParseInt(a[1], "--bump Y", -(1 << 16), 1 << 16);
         int w = ParseInt(a[2], "--bump W", 1, 1 << 16), h = ParseInt(a[3], "--bump H", 1, 1 << 16);
         int pct = ParseInt(a[4], "--bump PERCENT", 0, 100);
         TRGB col = ParseRGB(a[5], "--bump color");
         return [=](OpContext& c) {
           Need24(c);
           c.proc.BumpMapping(x, y, w, h, pct, col);
         };
       }},
      {"--merge", 2, "FILE PERCENT", "blend FILE (stretched) in; PERCENT of this image is kept",
       [](const Args& a) -> Step {
         std::string name = a[0];
         int pct = ParseInt(a[1], "--merge PERCENT", 0, 100);
         return [=](OpContext& c) {
           std::shared_ptr<TBitmap> other = LoadOther(name, c);
           if (other->PixelFormat() == pf1bit) other->SetPixelFormat(pf24bit);
           Need24(c);
           c.bar.Start("--merge");
           c.proc.Merge(other.get(), pct);
         };
       }},
      // Hidden data and measurements
      {"--hide-text", 1, "TEXT", "hide TEXT in the pixels (lost by JPEG and by later operations)",
       [](const Args& a) -> Step {
         std::string text = a[0];
         return [text](OpContext& c) {
           Need24(c);
           const int space = c.proc.GetHiddenDataSpace();
           if (int64_t(text.size()) > space)
             throw std::runtime_error("--hide-text: " + std::to_string(text.size()) +
                                      " bytes do not fit; the image holds " +
                                      std::to_string(std::max(space, 0)));
           c.proc.WriteHiddenText(text);
         };
       }},
      {"--read-text", 0, "", "print the text hidden in the pixels",
       [](const Args&) -> Step {
         return [](OpContext& c) {
           // A picture without hidden text has noise where the header would
           // be: say so instead of printing it.
           if (!_HasHiddenData(&c.bmp)) throw std::runtime_error("no hidden text");
           PrintLine(c, c.proc.ReadHiddenText());
         };
       }},
      {"--num-colors", 0, "", "print the number of distinct colors of the selection",
       [](const Args&) -> Step {
         return [](OpContext& c) { PrintLine(c, std::to_string(c.proc.CalcImageNumColors())); };
       }},
  };
  return kOps;
}

const OpEntry* FindOp(const std::string& option) {
  for (const OpEntry& op : Ops())
    if (option == op.option) return &op;
  return nullptr;
}

}  // namespace

std::string ProcessUsage() {
  std::string s =
      "Usage: korvane process IN OUT OPERATION... [--index N] [--set Name=Value]...\n"
      "                      [--auto-orient] [--quiet]\n"
      "       korvane process IN... (-o DIR | --output-template T) [-j N] OPERATION...\n"
      "\n"
      "Loads IN, runs the operations in the order given and saves OUT (formats by\n"
      "extension, as convert; OUT '-' saves nothing). The output keeps the input's\n"
      "parameters (compression, depth...), except that a black and white input\n"
      "that became 24-bit is saved as 24-bit; --set changes them. Operations that\n"
      "need 24 bits widen a black and white image first. --select limits the\n"
      "color, filter and histogram operations, --merge, --clear, --crop and\n"
      "--num-colors that follow it; the geometry operations, --lens, --wave and\n"
      "--bump always work on the whole image. --auto-orient turns a JPEG or TIFF\n"
      "picture upright by its orientation (Exif, TIFF tag 274) before the first\n"
      "operation.\n"
      "\n" +
      BatchUsage() +
      "  -o -               save nothing (--read-text, --num-colors print\n"
      "                     'IN: value' per file)\n"
      "\n"
      "Operations:\n";
  for (const OpEntry& op : Ops()) {
    std::string head = std::string("  ") + op.option + (op.argc ? std::string(" ") + op.argHelp : "");
    if (head.size() < 30) {
      head.resize(30, ' ');
    } else {
      head += "\n" + std::string(30, ' ');
    }
    s += head + op.help + "\n";
  }
  s += "\n"
       "Example: korvane process in.png out.png --select 0,0,99,49 --negative --select-all --rotate 90\n";
  return s;
}

namespace {

// Loads in, runs the steps, saves out ('-': nothing). The steps only read
// what they captured, so files on several threads share them.
void ProcessFile(const std::string& in, const std::string& out, const LoadSaveOptions& opts,
                 const std::vector<std::pair<std::string, Step>>& steps, ProgressBar& bar,
                 std::string* printed) {
  TBitmap bmp;
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  LoadImage(io, in, opts, bar);
  const bool wasBilevel = bmp.PixelFormat() == pf1bit;

  TKorvaneProc proc;
  proc.SetAttachedBitmap(&bmp);
  proc.SetAutoUndo(false);  // one pass, nothing to undo
  proc.OnProgress = bar.Event();
  OpContext ctx{io, proc, bmp, bar, std::nullopt, printed, in};
  for (auto& [name, step] : steps) {
    bar.Start(name);
    step(ctx);
    bar.Done();
  }

  if (out == "-") return;
  // A bilevel file's parameters would write the new colors as black and white.
  TIOParamsVals* p = io.Params();
  if (wasBilevel && bmp.PixelFormat() == pf24bit && p->BitsPerSample == 1) {
    p->BitsPerSample = 8;
    p->SamplesPerPixel = 3;
  }
  SaveImage(io, out, opts, bar);
}

}  // namespace

int RunProcess(const std::vector<std::string>& args) {
  LoadSaveOptions opts;
  BatchOptions batch;
  std::vector<std::string> files;
  std::vector<std::pair<std::string, Step>> steps;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(ProcessUsage().c_str(), stdout);
      return 0;
    }
    if (TakeLoadSaveOption(args, i, opts) || TakeBatchOption(args, i, batch)) continue;
    if (const OpEntry* op = FindOp(a)) {
      if (i + op->argc >= args.size())
        throw UsageError(a + " takes " + std::to_string(op->argc) + " argument(s): " + op->argHelp);
      Args opArgs(args.begin() + long(i) + 1, args.begin() + long(i) + 1 + op->argc);
      steps.emplace_back(a, op->parse(opArgs));
      // The background also colors the paper a metafile is drawn on.
      if (a == "--background") {
        const TRGB c = ParseRGB(opArgs[0], "--background");
        opts.paper = RGB(c.r, c.g, c.b);
      }
      i += size_t(op->argc);
      continue;
    }
    if (a.size() > 1 && a[0] == '-') throw UsageError("process: unknown operation " + a);
    files.push_back(a);
  }
  if (!batch.Active()) {
    if (files.size() > 2) throw UsageError("several inputs need -o DIR or --output-template T");
    if (files.size() != 2) throw UsageError("process takes an input and an output file");
  }
  if (steps.empty()) throw UsageError("process needs at least one operation (korvane process --help)");
  if (batch.Active()) {
    const std::vector<std::string> outputs = BatchOutputs(files, batch, opts, true);
    // A metafile merged in is drawn with fonts: on the GUI thread only.
    bool metafile = false;
    for (size_t i = 0; i + 1 < args.size(); ++i)
      if (args[i] == "--merge") {
        std::string e = args[i + 1].size() >= 4 ? Lower(args[i + 1].substr(args[i + 1].size() - 4)) : "";
        metafile = metafile || e == ".wmf" || e == ".emf";
      }
    return RunBatch(files, outputs, batch, opts, metafile,
                    [&](const std::string& in, const std::string& out, std::string& printed) {
                      ProgressBar none(false);
                      ProcessFile(in, out, opts, steps, none, &printed);
                    });
  }
  if (files[1] != "-") OutputFormat(files[1], opts);
  ProgressBar bar(WantProgress(opts));
  ProcessFile(files[0], files[1], opts, steps, bar, nullptr);
  return 0;
}

}  // namespace korvane::cli
