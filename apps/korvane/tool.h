// The korvane command-line tool: shared pieces of its commands (argument
// reading, the progress bar, loading and saving through TKorvaneIO).
#pragma once
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/io/kvio.h"

namespace korvane::cli {

// Exit statuses: 0 success, 1 a failure (unreadable file, bad data, a field
// that does not exist...), 2 a command line the tool cannot read.
constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// A command line the tool cannot read; main prints it with a hint to --help.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A one-line progress bar on standard error, drawn only when enabled (the
// caller enables it when standard error is a terminal and --quiet is absent).
class ProgressBar {
 public:
  explicit ProgressBar(bool enabled) : enabled_(enabled) {}
  ~ProgressBar() { Done(); }
  // Starts a stage: nothing is drawn until its first report.
  void Start(const std::string& label);
  void Report(int percent);
  // Ends the line of the current stage, when one was drawn.
  void Done();
  // An event that reports to this bar.
  TProgressEvent Event();

 private:
  bool enabled_;
  bool drawn_ = false;
  int last_ = -1;
  std::string label_;
};

// Options shared by the commands that load and save.
struct LoadSaveOptions {
  int index = -1;                                         // --index: frame, page or icon image
  std::vector<std::pair<std::string, std::string>> sets;  // --set Name=Value, in order
  std::string format;                                     // --format: the output format's name
  bool quiet = false;
  bool autoOrient = false;  // --auto-orient: turn JPEG and TIFF pictures upright
  // What WMF and EMF pictures are drawn on: white paper, as drawing programs
  // show them, unless --background gives a color.
  TColor paper = clWhite;
};

// Reads an integer in lo..hi; UsageError naming what on anything else.
int ParseInt(const std::string& text, const std::string& what, int lo, int hi);
// Reads exactly n integers separated by commas ("10,-5,3").
std::vector<int> ParseInts(const std::string& text, size_t n, const std::string& what, int lo, int hi);
// Reads a color "R,G,B" (0..255 each).
TRGB ParseRGB(const std::string& text, const std::string& what);
// Reads a real number.
double ParseReal(const std::string& text, const std::string& what);

// Takes one of the shared options (--index, --set, --format, --auto-orient,
// --quiet) at args[i],
// advancing i past its arguments; false when args[i] is none of them.
bool TakeLoadSaveOption(const std::vector<std::string>& args, size_t& i, LoadSaveOptions& opts);
// The argument after an option (args[i] names it), i advanced; UsageError
// when it is missing.
const std::string& OptionArg(const std::vector<std::string>& args, size_t& i);

// True when the progress bar should be drawn.
bool WantProgress(const LoadSaveOptions& opts);

// Loads a file by its extension into the I/O component's bitmap, with the
// image index of --index. Raises on an unknown extension and on bad data.
void LoadImage(TKorvaneIO& io, const std::string& name, const LoadSaveOptions& opts, ProgressBar& bar);
// The format an output is written in: --format, else the output's
// extension. UsageError, naming the formats the tool writes, for an
// extension it cannot write (checked before anything is loaded).
TIOFileType OutputFormat(const std::string& name, const LoadSaveOptions& opts);
// Saves in OutputFormat. A JPEG is saved at the quality estimated from a
// JPEG input's tables (any other input: 90); --set, applied last, changes
// that and any other parameter.
void SaveImage(TKorvaneIO& io, const std::string& name, const LoadSaveOptions& opts, ProgressBar& bar);
// The record SaveImage saves with: the JPEG quality, then --set.
void PrepareSave(TIOParamsVals& params, const LoadSaveOptions& opts);
// The extension of the --format format ("jpg" for jpeg, "tif" for tiff).
std::string FormatExtension(const LoadSaveOptions& opts);
// The JPEG quality the tool saves with when --set does not say: the
// estimate of a JPEG file's tables, else 90.
int DefaultJpegQuality(const TIOParamsVals& loaded);

// Several inputs at once (convert and process, batch.cpp).
struct BatchOptions {
  std::string outDir;       // -o DIR: DIR/NAME.EXT per input ('-': process saves nothing)
  std::string outTemplate;  // --output-template T: %s name, %d folder, %e extension, %% a percent
  int jobs = 0;             // -j N: files at a time; 0: the processor count
  bool Active() const { return !outDir.empty() || !outTemplate.empty(); }
};
// Takes -o/--output-dir, --output-template or -j/--jobs at args[i].
bool TakeBatchOption(const std::vector<std::string>& args, size_t& i, BatchOptions& b);
// The output name of an input by a template; UsageError for an unknown
// placeholder.
std::string ExpandTemplate(const std::string& templ, const std::string& input, const LoadSaveOptions& opts);
// Every input's output, checked before any work: a format the tool cannot
// write, two inputs with one output, or an output that is another input, are
// UsageErrors; an -o folder that does not exist a failure. allowNone lets
// '-o -' give '-' (nothing saved) for every input.
std::vector<std::string> BatchOutputs(const std::vector<std::string>& inputs, const BatchOptions& b,
                                      const LoadSaveOptions& opts, bool allowNone);
// One file's work; what it would print goes to `printed`; raises on failure.
using BatchJob = std::function<void(const std::string& in, const std::string& out, std::string& printed)>;
// Runs job for every input, b.jobs at a time on Qt's thread pool (files whose
// drawing needs the GUI thread, and all of them with mainThreadOnly, run on
// the calling thread). Prints each file's output and error in input order
// as soon as the files before it are done; the others go on after a
// failure. Answers 0, or kExitFailure when any file failed.
int RunBatch(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
             const BatchOptions& b, const LoadSaveOptions& opts, bool mainThreadOnly, const BatchJob& job);

// The commands; each answers the exit status.
int RunInfo(const std::vector<std::string>& args);
int RunConvert(const std::vector<std::string>& args);
int RunProcess(const std::vector<std::string>& args);
int RunSources(const std::vector<std::string>& args);
int RunScan(const std::vector<std::string>& args);
// Multi-image pieces (multi.cpp): AVI files in info (false for other files),
// and convert of AVI frames or, with --frames all, of every frame.
bool DescribeAVI(const std::string& name, int index);
bool WantsMultiConvert(const std::vector<std::string>& args);
int RunConvertMulti(const std::vector<std::string>& args);

// Help texts.
std::string ToolUsage();
std::string InfoUsage();
std::string ConvertUsage();
// The several-inputs options, shared by convert and process.
std::string BatchUsage();
std::string ProcessUsage();
std::string SourcesUsage();
std::string ScanUsage();

}  // namespace korvane::cli
