// korvane: command-line access to the I/O and processing components.
//   korvane info FILE...            what a file holds
//   korvane convert IN OUT ...      load and save in another format
//   korvane process IN OUT OP...    load, process, save
//   korvane sources / scan OUT ...  scanner sources, a scan to a file
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>

#include "apps/korvane/tool.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/view/kvview.h"

using namespace korvane::cli;

namespace {
// Qt's own notes (a missing runtime directory on a headless machine, font
// fallbacks) are not the tool's messages: only critical ones are shown.
void QtMessages(QtMsgType type, const QMessageLogContext&, const QString& msg) {
  if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "korvane: %s\n", qPrintable(msg));
}
}  // namespace

int main(int argc, char** argv) {
  // Canvas drawing needs a GUI application; the offscreen platform lets the
  // tool run without a display.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  qInstallMessageHandler(QtMessages);
  // Scanning draws nothing: a core application starts without a platform.
  // The rest use a full application: the multi-image commands build a
  // (never shown) view.
  const bool scanning =
      argc > 1 && (std::strcmp(argv[1], "scan") == 0 || std::strcmp(argv[1], "sources") == 0);
  std::unique_ptr<QCoreApplication> app = scanning ? std::make_unique<QCoreApplication>(argc, argv)
                                                   : std::make_unique<QApplication>(argc, argv);
  korvane::InstallKorvaneLZWCoders();

  std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs(ToolUsage().c_str(), stderr);
    return kExitUsage;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  try {
    if (command == "--help" || command == "-h" || command == "help") {
      std::fputs(ToolUsage().c_str(), stdout);
      return 0;
    }
    if (command == "info") return RunInfo(args);
    if (command == "convert") return RunConvert(args);
    if (command == "process") return RunProcess(args);
    if (command == "sources") return RunSources(args);
    if (command == "scan") return RunScan(args);
    throw UsageError("unknown command '" + command + "'");
  } catch (const UsageError& e) {
    std::fprintf(stderr, "korvane: %s\nTry 'korvane %s--help'.\n", e.what(),
                 command == "info" || command == "convert" || command == "process" || command == "sources" ||
                         command == "scan"
                     ? (command + " ").c_str()
                     : "");
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvane: %s\n", e.what());
    return kExitFailure;
  }
}
