// The tables behind the demo's menus and its command line (zoom filters,
// background styles, scroll bars, mouse modes and the image operations with
// their --process names), and the small parsers both use.
#pragma once
#include <QKeySequence>
#include <QString>
#include <QStringList>

#include "apps/korvane-demo/mainwindow.h"

namespace korvane {
class TOpenKorvaneDialog;
}

namespace korvane::demo {

struct FilterName {
  const char* caption;
  const char* key;
  TResampleFilter value;
};
inline constexpr FilterName kFilters[] = {{"&None", "none", rfNone},
                                          {"&Triangle", "triangle", rfTriangle},
                                          {"&Hermite", "hermite", rfHermite},
                                          {"&Bell", "bell", rfBell},
                                          {"B-&Spline", "bspline", rfBSpline},
                                          {"&Lanczos3", "lanczos3", rfLanczos3},
                                          {"&Mitchell", "mitchell", rfMitchell}};

struct BackgroundName {
  const char* caption;
  const char* key;
  TKVBackgroundStyle value;
};
inline constexpr BackgroundName kBackgrounds[] = {{"&Solid", "solid", kvbsSolid},
                                                  {"&Horizontal lines", "horizontal", kvbsHorizontal},
                                                  {"&Vertical lines", "vertical", kvbsVertical},
                                                  {"&Forward diagonals", "fdiagonal", kvbsFDiagonal},
                                                  {"&Backward diagonals", "bdiagonal", kvbsBDiagonal},
                                                  {"&Cross", "cross", kvbsCross},
                                                  {"Diagonal c&ross", "diagcross", kvbsDiagCross},
                                                  {"C&hessboard", "chessboard", kvbsChessboard},
                                                  {"&Diagonals", "diagonals", kvbsDiagonals}};

struct ScrollName {
  const char* caption;
  const char* key;
  TScrollStyle value;
};
inline constexpr ScrollName kScrolls[] = {{"&None", "none", ssNone},
                                          {"&Horizontal", "horizontal", ssHorizontal},
                                          {"&Vertical", "vertical", ssVertical},
                                          {"&Both", "both", ssBoth}};

struct MouseName {
  const char* caption;
  const char* iconText;
  const char* key;
  TKVMouseInteractItems value;
};
inline constexpr MouseName kMouseModes[] = {
    {"&Zoom (left in, right out)", "Zoom", "zoom", miZoom},
    {"&Scroll (drag)", "Scroll", "scroll", miScroll},
    {"Select &rectangle", "Rect", "rect", miSelect},
    {"Select &polygon", "Polygon", "polygon", miSelectPolygon},
    {"Select &ellipse", "Ellipse", "ellipse", miSelectCircle},
    {"Zoom to &dragged rectangle", "Zoom rect", "zoomrect", miSelectZoom}};

// A whole-string decimal integer.
inline bool ToInt(const QString& s, int& v) {
  bool ok = false;
  v = s.trimmed().toInt(&ok, 10);
  return ok;
}

// The Image menu: caption, --process name, shortcut.
struct ImageOp {
  const char* caption;
  const char* key;
  QKeySequence::StandardKey shortcut;
};
inline const ImageOp kImageOps[] = {{"&Undo", "undo", QKeySequence::Undo},
                                    {"&Redo", "redo", QKeySequence::Redo},
                                    {"Cu&t", "cut", QKeySequence::Cut},
                                    {"&Copy", "copy", QKeySequence::Copy},
                                    {"&Paste", "paste", QKeySequence::Paste},
                                    {"Paste &into selection", "pastesel", QKeySequence::UnknownKey},
                                    {"C&rop to selection", "crop", QKeySequence::UnknownKey},
                                    {"C&lear selection", "clear", QKeySequence::Delete},
                                    {"Clear &all", "clearall", QKeySequence::UnknownKey}};

// Color adjustments and depth conversions with fixed settings: caption,
// --process name.
struct ColorOp {
  const char* caption;
  const char* key;
};
inline const ColorOp kColorOps[] = {{"&Negative", "negative"},
                                    {"&Gray", "gray"},
                                    {"&Contrast +50%", "contrast"},
                                    {"&Hue +60 (HSV)", "hue"},
                                    {"&Saturation +30% (HSL)", "saturate"},
                                    {"&Lightness +15% (HSL)", "lighten"},
                                    {"&Threshold at 128", "threshold"}};
inline const ColorOp kDepthOps[] = {{"Convert to &16 colors", "colors:16"},
                                    {"Convert to &256 colors", "colors:256"},
                                    {"Black and white, &ordered dither", "bw"},
                                    {"Black and white, &threshold", "bwthreshold"},
                                    {"Back to &24 bits", "rgb24"}};

// Filters, transforms, histogram and effects with fixed settings: caption,
// --process name.
inline const ColorOp kFilterOps[] = {{"&Blur", "blur"},
                                     {"&Edges", "edge"},
                                     {"E&mboss", "emboss"},
                                     {"&High pass", "highpass"},
                                     {"&Low pass", "lowpass"}};
inline const ColorOp kTransformOps[] = {{"Rotate &90 left", "rotate90"},
                                        {"Rotate 90 &right", "rotate270"},
                                        {"Rotate &30, anti-aliased", "rotate30"},
                                        {"Flip &horizontally", "fliph"},
                                        {"Flip &vertically", "flipv"},
                                        {"&Half size (Lanczos)", "half"}};
inline const ColorOp kEffectOps[] = {{"&Equalize automatically", "autoequalize"},
                                     {"E&qualize 64..192", "equalize"},
                                     {"&Wave", "wave"},
                                     {"&Lens at the centre", "lens"},
                                     {"&Bump mapping", "bump"}};

inline QStringList ProcessOpNames() {
  QStringList names;
  for (const auto& op : kImageOps) names << op.key;
  for (const auto& op : kColorOps) names << op.key;
  for (const auto& op : kFilterOps) names << op.key;
  for (const auto& op : kTransformOps) names << op.key;
  for (const auto& op : kEffectOps) names << op.key;
  for (const auto& op : kDepthOps)
    if (!QString(op.key).startsWith("colors:")) names << op.key;
  names << "deselect";
  return names;
}

// "colors:N" with N from 3 to 256.
inline bool ParseColors(const QString& op, int& n) {
  QStringList parts = op.split(':');
  return parts.size() == 2 && parts[0] == "colors" && ToInt(parts[1], n) && n >= 3 && n <= 256;
}

// "wand:X:Y" with X, Y inside the sample picture.
inline bool ParseWand(const QString& op, int& x, int& y) {
  QStringList parts = op.split(':');
  return parts.size() == 3 && parts[0] == "wand" && ToInt(parts[1], x) && ToInt(parts[2], y) && x >= 0 &&
         y >= 0 && x < kSampleWidth && y < kSampleHeight;
}

// Makes the filter of a file's format (by extension) the dialog's first choice,
// when its list has one. Shared by File > Save As and the dialog screenshots
// (defined in file_menu.cpp).
void SelectFilterOf(TOpenKorvaneDialog& dlg, const QString& suffix);

}  // namespace korvane::demo
