#include "korvane/foundations/kvhint.h"

#include <QPainter>

namespace korvane {

namespace {
constexpr Qt::WindowFlags kHintFlags =
    Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus;

}  // namespace

TKVHint::TKVHint(TComponent* AOwner) : TCustomControl(AOwner, nullptr) {
  setWindowFlags(kHintFlags);
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_ShowWithoutActivating);
  setFocusPolicy(Qt::NoFocus);
  SetColor(0xE0FFFF);
  Font()->SetColor(clBlack);
  SetVisible(false);
}

void TKVHint::SetParent(QWidget* p) {
  const bool shown = isVisible();
  setParent(p, kHintFlags);
  if (shown) show();
}

void TKVHint::SetText(const std::string& text) {
  text_ = text;
  TCanvas* c = Canvas();
  SetBounds(Left(), Top(), c->TextWidth(text) + 4, c->TextHeight(text) + 4);
  update();
  Invalidate();
}

void TKVHint::SetFont(const TFont* font) {
  if (font) Font()->Assign(*font);
  Invalidate();
}

void TKVHint::Paint() {
  TCanvas* c = Canvas();
  c->Brush()->SetStyle(bsClear);
  c->TextOut(1, 1, text_);
}

void TKVHint::PaintBorder(QPainter& p) {
  // Raised outer edge: light above and left, dark below and right.
  const QRect r = rect();
  const QColor light = ColorToQColor(cl3DLight), dark = ColorToQColor(cl3DDkShadow);
  p.fillRect(QRect(r.left(), r.top(), r.width(), 1), light);
  p.fillRect(QRect(r.left(), r.top(), 1, r.height()), light);
  p.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), dark);
  p.fillRect(QRect(r.right(), r.top(), 1, r.height()), dark);
}

}  // namespace korvane
