/// \file
/// TKVHint: a small floating window with one line of text, used for the
/// measurements the vector layer shows next to the pointer.
#pragma once
#include <string>

#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"

namespace korvane {

/// A frameless tool window on light yellow with black text and a raised
/// one-pixel edge. The mouse passes through it to the window below and it
/// never takes the focus. Hidden when created; SetText sizes it to its text.
class KORVANE_EXPORT TKVHint : public TCustomControl {
 public:
  /// Creates the hidden hint, owned by AOwner, with an empty text and black text on light yellow.
  explicit TKVHint(TComponent* AOwner);

  /// The text shown; empty until SetText.
  const std::string& Text() const { return text_; }
  /// Stores the text and sizes the window to the text's width + 4 by its
  /// height + 4 in the hint's font, then repaints.
  void SetText(const std::string& text);
  /// Copies the font (Font() is the hint's own) and repaints.
  void SetFont(const TFont* font);
  /// Keeps the hint a separate tool window on top of its parent.
  void SetParent(QWidget* p) override;

  /// Draws the text at (1, 1) on the background, without filling behind it.
  void Paint() override;

 protected:
  int BorderExtent() const override { return 1; }
  /// Draws the raised edge: light on the top and left, dark shadow on the bottom and right.
  void PaintBorder(QPainter& p) override;

 private:
  std::string text_;
};

}  // namespace korvane
