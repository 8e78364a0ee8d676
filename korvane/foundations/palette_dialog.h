/// \file
/// TKorvanePaletteDialog: a modal picker that shows up to a few hundred
/// palette entries as small cells and returns the one the user clicks.
#pragma once
#include <QDialog>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/object.h"

class QPushButton;

namespace korvane {

/// A 539 x 199 dialog centred on the screen: the entries as 16 x 16 cells, 32
/// to a row (entry i at column i mod 32, row i div 32, its square from
/// (16 col + 1, 16 row + 1) to (16 col + 16, 16 row + 16), right and bottom
/// excluded), the entry under the pointer outlined in black and the others
/// in white, and a "&Cancel" button at (8, 144). Clicking an entry chooses it
/// and closes the dialog with the OK result.
class KORVANE_EXPORT TKorvanePaletteDialog : public QDialog, public TComponent {
 public:
  /// Creates the dialog, owned by AOwner, with no entries, nothing highlighted and black as the chosen color.
  explicit TKorvanePaletteDialog(TComponent* AOwner, QWidget* parent = nullptr);
  ~TKorvanePaletteDialog() override;

  /// The entries to show (not owned: they must outlive the dialog's use).
  void SetPalette(const TRGB* entries, int count);
  /// Shows the dialog modally; true when the user chose an entry.
  bool Execute();
  /// The chosen color (meaningful after a true Execute or an accepted show).
  TColor ChosenColor() const { return color_; }
  /// The highlighted entry, -1 for none.
  int Highlighted() const { return highlighted_; }

  /// The entry whose cell holds the client point, -1 for none.
  int EntryAt(int x, int y) const;
  /// Rectangle of entry i (right and bottom excluded).
  static TRect CellRect(int i);
  /// Draws the cells on a canvas as the dialog shows them.
  void PaintCells(TCanvas* c) const;
  /// The Cancel button, which closes the dialog with the rejected result; callers may relabel it.
  QPushButton* CancelButton() const { return cancel_; }

 protected:
  /// Paints the window background and the cells through PaintCells.
  void paintEvent(QPaintEvent* e) override;
  /// Highlights the entry under the pointer and repaints; off the cells the last highlight stays.
  void mouseMoveEvent(QMouseEvent* e) override;
  /// A left click on an entry chooses its color and accepts the dialog; a click beside the cells
  /// does nothing.
  void mouseReleaseEvent(QMouseEvent* e) override;
  /// Centres the dialog on the primary screen's available area.
  void showEvent(QShowEvent* e) override;

 private:
  const TRGB* entries_ = nullptr;
  int count_ = 0;
  int highlighted_ = -1;
  TColor color_ = clBlack;
  QPushButton* cancel_ = nullptr;
};

}  // namespace korvane
