// korvane: command-line access to the I/O and processing components.
//   korvane info FILE...            what a file holds
//   korvane convert IN OUT ...      load and save in another format
//   korvane process IN OUT OP...    load, process, save
#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <exception>

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
  // A full application: the multi-image commands use a (never shown) view.
  QApplication app(argc, argv);
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
    throw UsageError("unknown command '" + command + "'");
  } catch (const UsageError& e) {
    std::fprintf(
        stderr, "korvane: %s\nTry 'korvane %s--help'.\n", e.what(),
        command == "info" || command == "convert" || command == "process" ? (command + " ").c_str() : "");
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fflush(stdout);
    std::fprintf(stderr, "korvane: %s\n", e.what());
    return kExitFailure;
  }
}
