// Several inputs at once for convert and process: where each output goes
// (-o DIR, --output-template T), and the files run a few at a time on Qt's
// thread pool with their messages printed in input order.
#include <QThread>
#include <QThreadPool>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>

#include "apps/korvane/tool.h"
#include "korvane/foundations/host/parallel.h"
#include "korvane/view/kvview.h"

namespace korvane::cli {

namespace fs = std::filesystem;

namespace {

// The path two names share when they are the same file: absolute, with
// links and dot segments of the existing part resolved.
std::string SameFileKey(const std::string& name) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(fs::absolute(name), ec);
  return ec ? fs::absolute(name).lexically_normal().string() : p.string();
}

bool IsMetafile(const std::string& name) {
  std::string e = fs::path(name).extension().string();
  for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
  return e == ".wmf" || e == ".emf";
}

}  // namespace

bool TakeBatchOption(const std::vector<std::string>& args, size_t& i, BatchOptions& b) {
  const std::string& a = args[i];
  if (a == "-o" || a == "--output-dir") {
    b.outDir = OptionArg(args, i);
    if (b.outDir.empty()) throw UsageError(a + " needs a folder");
  } else if (a == "--output-template") {
    b.outTemplate = OptionArg(args, i);
    if (b.outTemplate.empty()) throw UsageError("--output-template needs a name");
  } else if (a == "-j" || a == "--jobs") {
    b.jobs = ParseInt(OptionArg(args, i), a, 1, 1024);
  } else {
    return false;
  }
  if (!b.outDir.empty() && !b.outTemplate.empty())
    throw UsageError("-o and --output-template exclude each other");
  return true;
}

std::string ExpandTemplate(const std::string& templ, const std::string& input, const LoadSaveOptions& opts) {
  const fs::path in(input);
  std::string folder = in.parent_path().string();
  if (folder.empty()) folder = ".";
  std::string ext = opts.format.empty() ? in.extension().string() : FormatExtension(opts);
  if (!ext.empty() && ext[0] == '.') ext.erase(0, 1);
  std::string out;
  for (size_t k = 0; k < templ.size(); ++k) {
    if (templ[k] != '%') {
      out += templ[k];
      continue;
    }
    const char c = k + 1 < templ.size() ? templ[++k] : '\0';
    switch (c) {
      case 's':
        out += in.stem().string();
        break;
      case 'd':
        out += folder;
        break;
      case 'e':
        out += ext;
        break;
      case '%':
        out += '%';
        break;
      default:
        throw UsageError(std::string("--output-template: unknown placeholder %") +
                         (c ? std::string(1, c) : "") +
                         " (%s name, %d folder, %e extension, %% a percent sign)");
    }
  }
  return out;
}

std::vector<std::string> BatchOutputs(const std::vector<std::string>& inputs, const BatchOptions& b,
                                      const LoadSaveOptions& opts, bool allowNone) {
  if (inputs.empty()) throw UsageError("no input file");
  if (b.outDir == "-") {
    if (!allowNone) throw UsageError("-o -: convert always writes its outputs");
    return std::vector<std::string>(inputs.size(), "-");
  }
  std::string templ = b.outTemplate;
  if (!b.outDir.empty()) {
    std::error_code ec;
    if (!fs::is_directory(b.outDir, ec)) throw std::runtime_error(b.outDir + ": no such folder");
    // The folder's own percent signs are not placeholders.
    templ.clear();
    for (char c : b.outDir) templ += c == '%' ? std::string("%%") : std::string(1, c);
    templ += (b.outDir.back() == '/' ? "" : "/") + std::string("%s.%e");
  }
  std::vector<std::string> outputs;
  std::map<std::string, size_t> byOutput, byInput;
  for (size_t i = 0; i < inputs.size(); ++i) byInput.emplace(SameFileKey(inputs[i]), i);
  for (size_t i = 0; i < inputs.size(); ++i) {
    std::string out = ExpandTemplate(templ, inputs[i], opts);
    OutputFormat(out, opts);  // a format the tool cannot write is refused now
    const std::string key = SameFileKey(out);
    // Files run at the same time: no output may be another file's output,
    // or an input another file may still be reading. A file written over
    // its own input is fine: it is read before the save replaces it.
    if (auto [at, fresh] = byOutput.emplace(key, i); !fresh)
      throw UsageError(inputs[at->second] + " and " + inputs[i] + " would both be written to " + out);
    if (auto at = byInput.find(key); at != byInput.end() && at->second != i)
      throw UsageError(inputs[i] + " would be written over the input " + inputs[at->second]);
    outputs.push_back(std::move(out));
  }
  return outputs;
}

int RunBatch(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs,
             const BatchOptions& b, const LoadSaveOptions& opts, bool mainThreadOnly, const BatchJob& job) {
  // Set once here: the readers take the screen resolution from them, and a
  // worker must not be the first to write them.
  InitScreenGlobals();
  const size_t n = inputs.size();
  struct Slot {
    bool done = false, failed = false;
    std::string printed, error;
  };
  std::vector<Slot> files_done(n);
  std::mutex mutex;
  std::condition_variable finished;
  auto run = [&](size_t i) {
    Slot s;
    try {
      job(inputs[i], outputs[i], s.printed);
    } catch (const std::exception& e) {
      s.failed = true;
      s.error = e.what();
    }
    s.done = true;
    {
      std::lock_guard lock(mutex);
      files_done[i] = std::move(s);
    }
    finished.notify_all();
  };
  // Metafiles are drawn with fonts, which Qt renders on its GUI thread only:
  // their files run here, in turn, while the pool does the rest.
  auto here = [&](size_t i) { return mainThreadOnly || IsMetafile(inputs[i]); };
  QThreadPool pool;
  pool.setMaxThreadCount(b.jobs > 0 ? b.jobs : std::max(QThread::idealThreadCount(), 1));
  for (size_t i = 0; i < n; ++i)
    if (!here(i)) KVStartOnPool(pool, [&run, i] { run(i); });

  ProgressBar bar(WantProgress(opts) && n > 1);
  bar.Start("files");
  size_t failures = 0;
  for (size_t i = 0; i < n; ++i) {
    if (here(i)) run(i);
    Slot s;
    {
      std::unique_lock lock(mutex);
      finished.wait(lock, [&] { return files_done[i].done; });
      s = std::move(files_done[i]);
    }
    if (!s.printed.empty() || s.failed) bar.Done();
    std::fputs(s.printed.c_str(), stdout);
    std::fflush(stdout);
    if (s.failed) {
      ++failures;
      // Load and save errors start with the file's name already.
      const bool named = s.error.rfind(inputs[i] + ": ", 0) == 0 || s.error.rfind(outputs[i] + ": ", 0) == 0;
      std::fprintf(stderr, "korvane: %s%s\n", named ? "" : (inputs[i] + ": ").c_str(), s.error.c_str());
    }
    bar.Report(int((i + 1) * 100 / n));
  }
  pool.waitForDone();
  bar.Done();
  if (failures == 0) return 0;
  if (n > 1) std::fprintf(stderr, "korvane: %zu of %zu files failed\n", failures, n);
  return kExitFailure;
}

}  // namespace korvane::cli
