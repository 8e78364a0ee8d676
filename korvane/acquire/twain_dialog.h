/// \file
/// The dialogs of the built-in source manager: the choice of a source among
/// the devices found, and the small window a source shows while it is
/// enabled with its user interface (Scan / Cancel).
#pragma once
#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"

class QListWidget;

namespace korvane {

/// Object names, so that tests and applications can find the dialogs.
constexpr const char* kSourceSelectDialogName = "KVTWainSelectSource";
constexpr const char* kSourceUIDialogName = "KVTWainSourceUI";  ///< object name of TSourceUIDialog

/// Modal list of sources ("name - vendor model" lines); the index chosen, or
/// -1 when the dialog was cancelled. current is selected first.
KORVANE_EXPORT int RunSourceSelectDialog(QWidget* parent, const std::vector<std::string>& lines, int current);

/// The window of an enabled source with its user interface: the device's
/// name, a Scan and a Cancel button. Each button calls its handler once;
/// the window stays until the source is disabled.
class KORVANE_EXPORT TSourceUIDialog : public QDialog {
 public:
  /// A parentless window titled with the device name, with the label "Scanner: " and the name;
  /// onScan runs on each Scan click, onCancel on Cancel and on Escape or closing. Not shown yet.
  TSourceUIDialog(const std::string& device, std::function<void()> onScan, std::function<void()> onCancel);

 protected:
  /// Calls the cancel handler instead of closing: the window stays until the source is disabled.
  void reject() override;

 private:
  std::function<void()> on_scan_, on_cancel_;
};

}  // namespace korvane
