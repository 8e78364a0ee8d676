#include "korvane/foundations/host/color.h"

#include <QGuiApplication>
#include <QPalette>

namespace korvane {

namespace {

// Classic desktop values, used when no application palette is available.
constexpr TColor kClassic[] = {
    RGB(200, 200, 200),  // scroll bar
    RGB(0, 0, 0),        // desktop
    RGB(10, 36, 106),    // active caption
    RGB(128, 128, 128),  // inactive caption
    RGB(212, 208, 200),  // menu
    RGB(255, 255, 255),  // window
    RGB(0, 0, 0),        // window frame
    RGB(0, 0, 0),        // menu text
    RGB(0, 0, 0),        // window text
    RGB(255, 255, 255),  // caption text
    RGB(212, 208, 200),  // active border
    RGB(212, 208, 200),  // inactive border
    RGB(128, 128, 128),  // application workspace
    RGB(10, 36, 106),    // highlight
    RGB(255, 255, 255),  // highlighted text
    RGB(212, 208, 200),  // button face
    RGB(128, 128, 128),  // button shadow
    RGB(128, 128, 128),  // gray text
    RGB(0, 0, 0),        // button text
    RGB(212, 208, 200),  // inactive caption text
    RGB(255, 255, 255),  // button highlight
    RGB(64, 64, 64),     // 3D dark shadow
    RGB(212, 208, 200),  // 3D light
    RGB(0, 0, 0),        // tooltip text
    RGB(255, 255, 225),  // tooltip background
};

// The application palette's role for a system color index, or -1.
int RoleOf(unsigned idx, QPalette::ColorGroup* group) {
  *group = QPalette::Active;
  switch (idx) {
    case 4: case 15: case 10: case 11: case 22: return QPalette::Button;
    case 5: return QPalette::Base;
    case 7: case 8: return QPalette::Text;
    case 13: return QPalette::Highlight;
    case 14: return QPalette::HighlightedText;
    case 16: return QPalette::Mid;
    case 17: *group = QPalette::Disabled; return QPalette::Text;
    case 18: return QPalette::ButtonText;
    case 20: return QPalette::Light;
    case 21: return QPalette::Shadow;
    case 23: return QPalette::ToolTipText;
    case 24: return QPalette::ToolTipBase;
    default: return -1;
  }
}

}  // namespace

TColor ColorToRGB(TColor c) {
  if (c == clNone || c == clDefault) return clBlack;
  if (!IsSystemColor(c)) return c & 0xFFFFFF;
  unsigned idx = c & 0xFF;
  if (idx >= sizeof(kClassic) / sizeof(kClassic[0])) return clBlack;
  if (qGuiApp) {
    QPalette::ColorGroup g;
    int role = RoleOf(idx, &g);
    if (role >= 0) return QColorToColor(QGuiApplication::palette().color(g, QPalette::ColorRole(role)));
  }
  return kClassic[idx];
}

QColor ColorToQColor(TColor c) {
  c = ColorToRGB(c);
  return QColor(GetRValue(c), GetGValue(c), GetBValue(c));
}

TColor QColorToColor(const QColor& c) { return RGB(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())); }

}  // namespace korvane
