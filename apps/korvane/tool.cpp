// Shared pieces of the korvane commands, and the convert command.
#include "apps/korvane/tool.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "korvane/io/codecs/jpeg/jpeg_codec.h"

namespace korvane::cli {

// ---------------------------------------------------------------------------
// Progress bar

namespace {
constexpr int kBarWidth = 30;
}

void ProgressBar::Start(const std::string& label) {
  Done();
  label_ = label;
  last_ = -1;
}

void ProgressBar::Report(int percent) {
  if (!enabled_) return;
  percent = std::clamp(percent, 0, 100);
  if (percent == last_) return;
  last_ = percent;
  drawn_ = true;
  const int full = percent * kBarWidth / 100;
  std::string bar(size_t(full), '#');
  bar.append(size_t(kBarWidth - full), '.');
  std::fprintf(stderr, "\r%-14.14s [%s] %3d%%", label_.c_str(), bar.c_str(), percent);
  std::fflush(stderr);
}

void ProgressBar::Done() {
  if (drawn_) std::fputc('\n', stderr);
  drawn_ = false;
  last_ = -1;
}

TProgressEvent ProgressBar::Event() {
  return [this](TObject*, int per) { Report(per); };
}

// ---------------------------------------------------------------------------
// Arguments

int ParseInt(const std::string& text, const std::string& what, int lo, int hi) {
  int v = 0;
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data() + (!text.empty() && text[0] == '+'), end, v);
  if (text.empty() || r.ec != std::errc() || r.ptr != end)
    throw UsageError(what + ": '" + text + "' is not a whole number");
  if (v < lo || v > hi)
    throw UsageError(what + ": " + text + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
  return v;
}

std::vector<int> ParseInts(const std::string& text, size_t n, const std::string& what, int lo, int hi) {
  std::vector<int> out;
  size_t start = 0;
  while (true) {
    size_t comma = text.find(',', start);
    out.push_back(ParseInt(text.substr(start, comma - start), what, lo, hi));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (out.size() != n)
    throw UsageError(what + ": expected " + std::to_string(n) + " comma-separated numbers, got '" + text +
                     "'");
  return out;
}

TRGB ParseRGB(const std::string& text, const std::string& what) {
  std::vector<int> v = ParseInts(text, 3, what + " (R,G,B)", 0, 255);
  return TRGB{uint8_t(v[2]), uint8_t(v[1]), uint8_t(v[0])};
}

double ParseReal(const std::string& text, const std::string& what) {
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (text.empty() || end != text.c_str() + text.size() || !std::isfinite(v))
    throw UsageError(what + ": '" + text + "' is not a number");
  return v;
}

const std::string& OptionArg(const std::vector<std::string>& args, size_t& i) {
  if (i + 1 >= args.size()) throw UsageError(args[i] + " needs an argument");
  return args[++i];
}

namespace {

// The values the writers take for the numeric save parameters; the writers
// would clamp anything else silently, so the tool refuses it.
struct FieldRange {
  const char* name;
  int lo, hi;
};
const FieldRange kFieldRanges[] = {{"BitsPerSample", 1, 8},     {"SamplesPerPixel", 1, 4},
                                   {"DpiX", 1, 65535},          {"DpiY", 1, 65535},
                                   {"JPEG_Quality", 1, 100},    {"JPEG_Smooth", 0, 100},
                                   {"PNG_Compression", 0, 9},   {"PCX_Version", 0, 5},
                                   {"GIF_DelayTime", 0, 65535}, {"GIF_XPos", 0, 65535},
                                   {"GIF_YPos", 0, 65535},      {"GIF_WinWidth", 0, 65535},
                                   {"GIF_WinHeight", 0, 65535}, {"GIF_Ratio", 0, 255},
                                   {"TIFF_PlanarConf", 1, 2},   {"TIFF_PageNumber", 0, 65535},
                                   {"TIFF_PageCount", 0, 65535},
                                   {"Orientation", 1, 8}};

void CheckFieldRange(const std::string& name, const std::string& value) {
  for (const FieldRange& r : kFieldRanges) {
    if (name != r.name) continue;
    long v = std::strtol(value.c_str(), nullptr, 10);
    if (v < r.lo || v > r.hi)
      throw std::runtime_error("--set: " + name + "=" + value + " is outside " + std::to_string(r.lo) + ".." +
                               std::to_string(r.hi));
  }
}

}  // namespace

bool TakeLoadSaveOption(const std::vector<std::string>& args, size_t& i, LoadSaveOptions& opts) {
  const std::string& a = args[i];
  if (a == "--quiet" || a == "-q") {
    opts.quiet = true;
  } else if (a == "--auto-orient") {
    opts.autoOrient = true;
  } else if (a == "--index") {
    opts.index = ParseInt(OptionArg(args, i), "--index", 0, 1 << 20);
  } else if (a == "--format") {
    const std::string& f = OptionArg(args, i);
    std::string lower = f;
    for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
    opts.format = lower;
    OutputFormat("", opts);  // an unknown name is refused now
  } else if (a == "--set") {
    const std::string& nv = OptionArg(args, i);
    size_t eq = nv.find('=');
    if (eq == std::string::npos || eq == 0) throw UsageError("--set: expected Name=Value, got '" + nv + "'");
    std::string name = nv.substr(0, eq), value = nv.substr(eq + 1);
    // Checked on a scratch record now, so that a typo fails before a long load.
    const auto& names = TIOParamsVals::FieldNames();
    if (std::find(names.begin(), names.end(), name) == names.end())
      throw std::runtime_error("--set: unknown parameter '" + name + "' (korvane info --fields lists them)");
    TIOParamsVals scratch;
    if (!scratch.SetField(name, value))
      throw std::runtime_error("--set: '" + value + "' is not a valid value for " + name);
    CheckFieldRange(name, value);
    opts.sets.emplace_back(std::move(name), std::move(value));
  } else {
    return false;
  }
  return true;
}

bool WantProgress(const LoadSaveOptions& opts) { return !opts.quiet && isatty(STDERR_FILENO); }

// ---------------------------------------------------------------------------
// Loading and saving

namespace {

std::string LowerExtension(const std::string& name) {
  size_t dot = name.rfind('.');
  size_t slash = name.rfind('/');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = name.substr(dot + 1);
  for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

bool LoadableExtension(const std::string& ext) {
  static const char* const kExt[] = {"bmp", "ico", "cur", "gif",  "jpg", "jpeg",
                                     "pcx", "png", "tif", "tiff", "wmf", "emf"};
  return std::any_of(std::begin(kExt), std::end(kExt), [&](const char* e) { return ext == e; });
}

}  // namespace

void LoadImage(TKorvaneIO& io, const std::string& name, const LoadSaveOptions& opts, ProgressBar& bar) {
  if (!LoadableExtension(LowerExtension(name)))
    throw std::runtime_error(name +
                             ": cannot tell the format from the extension (bmp, ico, cur, gif, jpg, jpeg, "
                             "pcx, png, tif, tiff, wmf, emf)");
  if (access(name.c_str(), R_OK) != 0) throw std::runtime_error(name + ": cannot open the file");
  TIOParamsVals* p = io.Params();
  if (opts.index >= 0) {
    p->TIFF_ImageIndex = p->GIF_ImageIndex = p->ICO_ImageIndex = p->CUR_ImageIndex = opts.index;
  }
  io.AutoOrient = opts.autoOrient;
  bar.Start("loading");
  io.OnProgress = bar.Event();
  const std::string ext = LowerExtension(name);
  try {
    if (ext == "wmf" || ext == "emf")
      io.ImportMetafile(name, -1, -1, opts.paper);
    else
      io.LoadFromFile(name);
  } catch (const std::exception& e) {
    bar.Done();
    throw std::runtime_error(name + ": " + e.what());
  }
  bar.Done();
  // An icon index past the directory loads nothing and raises nothing.
  if (io.GetBitmap()->Empty() || p->FileType == ioUnknown)
    throw std::runtime_error(name + ": no image was loaded" +
                             (opts.index >= 0
                                  ? " (is there an image at index " + std::to_string(opts.index) + "?)"
                                  : std::string()));
}

namespace {

struct WriteFormat {
  const char* name;  // --format name
  TIOFileType type;
  const char* extensions;
};
const WriteFormat kWriteFormats[] = {
    {"bmp", ioBMP, "bmp"}, {"gif", ioGIF, "gif"}, {"jpeg", ioJPEG, "jpg jpeg"}, {"jpg", ioJPEG, ""},
    {"pcx", ioPCX, "pcx"}, {"png", ioPNG, "png"}, {"tiff", ioTIFF, "tif tiff"}, {"tif", ioTIFF, ""}};

std::string WritableList() { return "bmp, gif, jpg, jpeg, pcx, png, tif, tiff"; }

}  // namespace

TIOFileType OutputFormat(const std::string& name, const LoadSaveOptions& opts) {
  if (!opts.format.empty()) {
    for (const WriteFormat& f : kWriteFormats)
      if (opts.format == f.name) return f.type;
    throw UsageError("--format: unknown format '" + opts.format +
                     "' (one of bmp, gif, jpeg, pcx, png, tiff)");
  }
  const std::string ext = LowerExtension(name);
  for (const WriteFormat& f : kWriteFormats) {
    std::string list = std::string(" ") + f.extensions + " ";
    if (!ext.empty() && list.find(" " + ext + " ") != std::string::npos) return f.type;
  }
  throw UsageError(name + ": cannot write " +
                   (ext.empty() ? std::string("a file without an extension") : "'." + ext + "' files") +
                   "; the output extension must be one of " + WritableList() +
                   ", or --format NAME chooses the format");
}

std::string FormatExtension(const LoadSaveOptions& opts) {
  const TIOFileType type = OutputFormat("", opts);
  for (const WriteFormat& f : kWriteFormats)
    if (f.type == type && *f.extensions) {
      const std::string list = f.extensions;
      return list.substr(0, list.find(' '));
    }
  return opts.format;
}

int DefaultJpegQuality(const TIOParamsVals& loaded) {
  if (loaded.FileType == ioJPEG && !loaded.FileName.empty()) {
    try {
      TFileStream f(loaded.FileName, fmOpenRead);
      if (const int q = JPegEstimateQuality(&f); q > 0) return q;
    } catch (const std::exception&) {
    }
  }
  return 90;
}

void PrepareSave(TIOParamsVals& params, const LoadSaveOptions& opts) {
  // The record's JPEG quality is not the input's: a JPEG keeps the quality it
  // was made with, anything else gets a good one. --set comes last.
  params.JPEG_Quality = DefaultJpegQuality(params);
  for (const auto& [field, value] : opts.sets) {
    if (!params.SetField(field, value))
      throw std::runtime_error("--set: '" + value + "' is not a valid value for " + field);
  }
}

void SaveImage(TKorvaneIO& io, const std::string& name, const LoadSaveOptions& opts, ProgressBar& bar) {
  const TIOFileType format = OutputFormat(name, opts);
  PrepareSave(*io.Params(), opts);
  bar.Start("saving");
  io.OnProgress = bar.Event();
  try {
    switch (format) {
      case ioGIF:
        io.SaveToFileGif(name);
        break;
      case ioJPEG:
        io.SaveToFileJpeg(name);
        break;
      case ioPCX:
        io.SaveToFilePCX(name);
        break;
      case ioPNG:
        io.SaveToFilePNG(name);
        break;
      case ioTIFF:
        io.SaveToFileTIFF(name);
        break;
      default:
        io.SaveToFileBMP(name);
        break;
    }
  } catch (const std::exception& e) {
    bar.Done();
    // The library writes beside the file and replaces it only on success, so
    // a failed save leaves no half-written file and keeps an older one.
    throw std::runtime_error(name + ": " + e.what());
  }
  bar.Done();
}

// ---------------------------------------------------------------------------
// convert

int RunConvert(const std::vector<std::string>& args) {
  if (WantsMultiConvert(args)) return RunConvertMulti(args);
  LoadSaveOptions opts;
  BatchOptions batch;
  std::vector<std::string> files;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::fputs(ConvertUsage().c_str(), stdout);
      return 0;
    }
    if (TakeLoadSaveOption(args, i, opts) || TakeBatchOption(args, i, batch)) continue;
    if (args[i] == "--background") {
      const TRGB c = ParseRGB(OptionArg(args, i), "--background");
      opts.paper = RGB(c.r, c.g, c.b);
      continue;
    }
    if (args[i].size() > 1 && args[i][0] == '-') throw UsageError("convert: unknown option " + args[i]);
    files.push_back(args[i]);
  }
  auto convert = [&opts](const std::string& in, const std::string& out, ProgressBar& bar) {
    TBitmap bmp;
    TKorvaneIO io;
    io.SetAttachedBitmap(&bmp);
    LoadImage(io, in, opts, bar);
    SaveImage(io, out, opts, bar);
  };
  if (batch.Active()) {
    const std::vector<std::string> outputs = BatchOutputs(files, batch, opts, false);
    return RunBatch(files, outputs, batch, opts, false,
                    [&](const std::string& in, const std::string& out, std::string&) {
                      ProgressBar none(false);
                      convert(in, out, none);
                    });
  }
  if (files.size() > 2) throw UsageError("several inputs need -o DIR or --output-template T");
  if (files.size() != 2) throw UsageError("convert takes an input and an output file");
  OutputFormat(files[1], opts);
  ProgressBar bar(WantProgress(opts));
  convert(files[0], files[1], bar);
  return 0;
}

// ---------------------------------------------------------------------------
// Help

std::string ToolUsage() {
  return "Usage: korvane COMMAND [ARGS...]\n"
         "\n"
         "Commands:\n"
         "  info FILE...               describe image files without decoding them\n"
         "  convert IN OUT [OPTIONS]   load IN and save it as OUT (format by extension or --format)\n"
         "  convert IN... -o DIR       the same for several files, a few at a time\n"
         "  process IN OUT OP...       load IN, apply operations in order, save OUT\n"
         "  process IN... -o DIR OP... the same for several files\n"
         "  sources [--video]          list the scanner sources (or video capture drivers)\n"
         "  scan OUT [OPTIONS]         scan an image (or every feeder page) into OUT\n"
         "\n"
         "korvane COMMAND --help describes a command. Exit status: 0 success,\n"
         "1 failure (the message starts with 'korvane: '), 2 unreadable command line.\n"
         "\n"
         "Work on a picture of a megapixel or more runs on every processor; the\n"
         "environment variable KORVANE_THREADS=N sets how many threads it may use.\n";
}

std::string InfoUsage() {
  return "Usage: korvane info [--index N] FILE...\n"
         "       korvane info --fields\n"
         "\n"
         "Prints, per file, the format, size, bits per sample, samples per pixel,\n"
         "resolution, the number of frames (GIF), pages (TIFF) or images (ICO, CUR),\n"
         "for a JPEG the quality estimated from its quantization tables (the file\n"
         "does not store its quality setting), for a JPEG or TIFF its orientation\n"
         "(1 upright, 2..8 mirrored or turned: Exif and TIFF tag 274), and the\n"
         "format's own parameters as\n"
         "'Name: value' lines. The format is\n"
         "found from the file's content (metafiles, and JPEGs that do not start\n"
         "with a JFIF marker, by extension). With several files each description\n"
         "starts with a 'File: NAME' line, and a blank line separates them.\n"
         "\n"
         "  --index N   describe frame, page or icon image N (default 0)\n"
         "  --fields    list every parameter name that --set accepts\n";
}

std::string BatchUsage() {
  return "Several inputs: each file is done as a single input would be, a few\n"
         "files at a time. Messages come in input order; a file\n"
         "that fails is reported ('korvane: IN: why') and the others go on; the\n"
         "exit status is 1 when any failed. Two inputs with one output, or an\n"
         "output that is another input, are refused before any file is touched.\n"
         "  -o DIR             write DIR/NAME.EXT: the input's name, the output\n"
         "                     format's extension (--format; else the input's)\n"
         "  --output-template T  name each output by T: %s the input's name\n"
         "                     without extension, %d its folder, %e the output\n"
         "                     extension, %% a percent sign ('%d/small/%s.%e')\n"
         "  -j N               files at a time (default: the processor count)\n";
}

std::string ConvertUsage() {
  return "Usage: korvane convert IN OUT [--index N] [--format NAME] [--set Name=Value]...\n"
         "                      [--auto-orient] [--background R,G,B] [--quiet]\n"
         "       korvane convert IN... (-o DIR | --output-template T) [-j N] [OPTIONS]\n"
         "\n"
         "Loads IN (format by extension: bmp ico cur gif jpg jpeg pcx png tif tiff,\n"
         "and wmf emf at their own size) and saves OUT by its extension: bmp gif\n"
         "jpg jpeg pcx png tif tiff. Any other extension is refused unless --format\n"
         "names the format. The output keeps the input's parameters; a JPEG output\n"
         "has the quality estimated from a JPEG input's tables (korvane info shows\n"
         "it), else 90.\n"
         "\n"
         "  --index N          load frame, page or icon image N (GIF, TIFF, ICO, CUR)\n"
         "  --format NAME      write bmp, gif, jpeg, pcx, png or tiff whatever OUT's\n"
         "                     extension\n"
         "  --set Name=Value   set a save parameter after the load, e.g.\n"
         "                     --set JPEG_Quality=90 --set TIFF_Compression=ioTIFF_LZW\n"
         "                     (korvane info --fields lists the names; a value\n"
         "                     outside the field's range is an error)\n"
         "  --auto-orient      turn a JPEG or TIFF picture upright by its orientation\n"
         "                     (Exif, TIFF tag 274) after loading it\n"
         "  --background R,G,B the color a WMF or EMF picture is drawn on (default\n"
         "                     255,255,255: white, as drawing programs show them)\n"
         "  --quiet            no progress bar\n"
         "\n" +
         BatchUsage() +
         "\n"
         "AVI inputs give frame N (--index) to any output. With --frames all, every\n"
         "frame of a GIF, TIFF or AVI input goes to a GIF, TIFF or AVI output; a GIF\n"
         "copy keeps each frame's position, disposal, delay and transparency and the\n"
         "loop count. A GIF frame alone is the part of the picture it changes.\n"
         "  --frames all       keep every frame\n"
         "  --coalesce         write GIF frames composed on the animation's screen, as\n"
         "                     playing shows them (with --frames all, or frame --index N)\n"
         "  --avi-codec NAME   AVI output compressor: rawvideo (default), mjpeg, ffv1, ...\n"
         "  --avi-quality Q    MJPEG quality 1..100 (default 90)\n";
}

}  // namespace korvane::cli
