#include "apps/korvane-demo/mainwindow.h"

#include "apps/korvane-demo/acquire_menu.h"
#include "apps/korvane-demo/camera_window.h"
#include "apps/korvane-demo/controls_panel.h"
#include "apps/korvane-demo/more_ops.h"
#include "apps/korvane-demo/thumb_browser.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QKeySequence>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPixmap>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QStatusBar>
#include <QToolBar>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "apps/korvane-demo/annotate.h"
#include "korvane/dialogs/file_dialogs.h"
#include "korvane/foundations/kvmsg.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/kvutils.h"

namespace korvane::demo {

// ---------------------------------------------------------------------------
// The sample picture

namespace {

constexpr int kPanelW = 800;
constexpr int kPanelH = 400;

// Row access with the stride measured from the bitmap, whatever its sign.
class Rows {
 public:
  explicit Rows(TBitmap* b)
      : row0_(b->Scanline(0)), stride_(b->Height() > 1 ? b->Scanline(1) - b->Scanline(0) : 0) {}
  TRGB* operator[](int y) const { return reinterpret_cast<TRGB*>(row0_ + std::ptrdiff_t(y) * stride_); }

 private:
  uint8_t* row0_;
  std::ptrdiff_t stride_;
};

constexpr TRGB Gray(uint8_t v) { return TRGB{v, v, v}; }

// Top-left panel: a hue sweep fading from white at the top to black at the
// bottom, then a smooth and a 16-step gray ramp.
void DrawGradients(const Rows& rows, int x0, int y0) {
  // One fully saturated color per column: six sectors of 256 steps.
  std::array<TRGB, kPanelW> hue;
  for (int i = 0; i < kPanelW; ++i) {
    int h = i * 6 * 256 / kPanelW;
    int f = h & 255, q = 255 - f;
    switch (h >> 8) {
      case 0:
        hue[size_t(i)] = TRGB{0, uint8_t(f), 255};
        break;
      case 1:
        hue[size_t(i)] = TRGB{0, 255, uint8_t(q)};
        break;
      case 2:
        hue[size_t(i)] = TRGB{uint8_t(f), 255, 0};
        break;
      case 3:
        hue[size_t(i)] = TRGB{255, uint8_t(q), 0};
        break;
      case 4:
        hue[size_t(i)] = TRGB{255, 0, uint8_t(f)};
        break;
      default:
        hue[size_t(i)] = TRGB{uint8_t(q), 0, 255};
        break;
    }
  }
  for (int y = 0; y < 300; ++y) {
    TRGB* row = rows[y0 + y] + x0;
    if (y < 150) {
      // White to the pure hue: c = (255 (256 - k) + hue k) / 256.
      int k = y * 256 / 150, w = 255 * (256 - k);
      for (int x = 0; x < kPanelW; ++x) {
        const TRGB h = hue[size_t(x)];
        row[x] = TRGB{uint8_t((w + h.b * k) >> 8), uint8_t((w + h.g * k) >> 8), uint8_t((w + h.r * k) >> 8)};
      }
    } else {
      // The pure hue to black.
      int k = (299 - y) * 256 / 149;
      for (int x = 0; x < kPanelW; ++x) {
        const TRGB h = hue[size_t(x)];
        row[x] = TRGB{uint8_t((h.b * k) >> 8), uint8_t((h.g * k) >> 8), uint8_t((h.r * k) >> 8)};
      }
    }
  }
  for (int y = 300; y < kPanelH; ++y) {
    TRGB* row = rows[y0 + y] + x0;
    bool stepped = y >= 350;
    for (int x = 0; x < kPanelW; ++x)
      row[x] = Gray(uint8_t(stepped ? (x * 16 / kPanelW) * 17 : x * 255 / (kPanelW - 1)));
  }
}

// Top-right panel: a zone plate, cos(pi r^2 / 560) around the panel centre.
// Its local frequency r / 560 cycles per pixel passes half a cycle at
// r = 280, so rings alias in the corners even at 100 % and everywhere when
// zoomed out.
void DrawZonePlate(const Rows& rows, int x0, int y0) {
  // The phase repeats every 1120 units of r^2; 1024 table steps span it.
  std::array<uint8_t, 1024> wave;
  for (int i = 0; i < 1024; ++i)
    wave[size_t(i)] = uint8_t(std::lround(127.5 + 127.5 * std::cos(2 * M_PI * i / 1024.0)));
  const int cx = kPanelW / 2, cy = kPanelH / 2;
  for (int y = 0; y < kPanelH; ++y) {
    TRGB* row = rows[y0 + y] + x0;
    int dy2 = (y - cy) * (y - cy);
    for (int x = 0; x < kPanelW; ++x) {
      int r2 = (x - cx) * (x - cx) + dy2;
      row[x] = Gray(wave[size_t((r2 * 64 / 70) & 1023)]);
    }
  }
}

// Bottom-right panel: checkers of 1, 2, 4 and 8 pixel cells, then vertical
// and horizontal line pairs with periods from 2 to 12 pixels.
void DrawPatterns(const Rows& rows, int x0, int y0) {
  for (int y = 0; y < kPanelH; ++y) {
    TRGB* row = rows[y0 + y] + x0;
    for (int x = 0; x < kPanelW; ++x) row[x] = Gray(255);
  }
  for (int j = 0; j < 4; ++j) {
    const int bx = 10 + j * 197, shift = j;  // cell size 1 << j
    for (int y = 0; y < 140; ++y) {
      TRGB* row = rows[y0 + 36 + y] + x0 + bx;
      for (int x = 0; x < 185; ++x) row[x] = Gray((((x >> shift) + (y >> shift)) & 1) ? 255 : 0);
    }
  }
  static constexpr int kPeriods[] = {2, 3, 4, 5, 6, 8, 10, 12};
  for (int g = 0; g < 8; ++g) {
    const int p = kPeriods[g], bx = 10 + g * 98;
    for (int y = 0; y < 100; ++y) {
      TRGB* vrow = rows[y0 + 188 + y] + x0 + bx;
      for (int x = 0; x < 90; ++x) vrow[x] = Gray(x % p < p / 2 ? 0 : 255);
    }
    for (int y = 0; y < 90; ++y) {
      TRGB* hrow = rows[y0 + 300 + y] + x0 + bx;
      const TRGB v = Gray(y % p < p / 2 ? 0 : 255);
      for (int x = 0; x < 90; ++x) hrow[x] = v;
    }
  }
}

void Fill(TCanvas* c, TColor color, int x1, int y1, int x2, int y2) {
  c->Brush()->SetColor(color);
  c->Brush()->SetStyle(bsSolid);
  c->FillRect(Rect(x1, y1, x2, y2));
}

void SetPen(TCanvas* c, TColor color, int width, TPenStyle style = psSolid) {
  c->Pen()->SetMode(pmCopy);
  c->Pen()->SetColor(color);
  c->Pen()->SetWidth(width);
  c->Pen()->SetStyle(style);
}

void SetFont(TCanvas* c, int pixels, TColor color, TFontStyles style = {}, int escapement = 0) {
  TFont* f = c->Font();
  f->SetName("DejaVu Sans");
  f->SetHeight(-pixels);
  f->SetColor(color);
  f->SetStyle(style);
  f->SetEscapement(escapement);
}

// Text with a transparent background.
void Label(TCanvas* c, int x, int y, const std::string& text) {
  c->Brush()->SetStyle(bsClear);
  c->TextOut(x, y, text);
}

// Middle-left panel: filled, hatched and outlined shapes, a star, an arc, and
// the same circle drawn aliased and antialiased.
void DrawShapes(TCanvas* c, int x0, int y0) {
  Fill(c, clWhite, x0, y0, x0 + kPanelW, y0 + kPanelH);
  SetPen(c, clBlack, 1);
  c->Brush()->SetColor(clRed);
  c->Rectangle(x0 + 30, y0 + 50, x0 + 200, y0 + 160);
  SetPen(c, clNavy, 3);
  c->Brush()->SetColor(clGreen);
  c->Brush()->SetStyle(bsDiagCross);
  c->Rectangle(x0 + 230, y0 + 50, x0 + 400, y0 + 160);
  SetPen(c, clBlack, 5);
  c->Brush()->SetColor(RGB(40, 90, 220));
  c->Brush()->SetStyle(bsSolid);
  c->Ellipse(x0 + 430, y0 + 45, x0 + 600, y0 + 175);
  SetPen(c, clPurple, 1);
  c->Brush()->SetStyle(bsClear);
  c->Ellipse(x0 + 630, y0 + 40, x0 + 770, y0 + 180);
  c->Ellipse(x0 + 660, y0 + 70, x0 + 740, y0 + 150);

  // A five-pointed star, outer radius 90, inner 36.
  TPoint star[10];
  for (int i = 0; i < 10; ++i) {
    double a = -M_PI / 2 + i * M_PI / 5, r = i % 2 ? 36 : 90;
    star[i] =
        Point(x0 + 120 + int(std::lround(r * std::cos(a))), y0 + 290 + int(std::lround(r * std::sin(a))));
  }
  SetPen(c, clBlack, 2);
  c->Brush()->SetColor(clYellow);
  c->Polygon(star, 10);

  SetPen(c, clTeal, 2);
  c->Brush()->SetColor(clAqua);
  c->Ellipse(x0 + 250, y0 + 205, x0 + 400, y0 + 355);
  // Drawing is aliased unless asked otherwise: this one asks.
  if (QPainter* p = c->Painter()) p->setRenderHint(QPainter::Antialiasing, true);
  c->Ellipse(x0 + 430, y0 + 205, x0 + 580, y0 + 355);
  if (QPainter* p = c->Painter()) p->setRenderHint(QPainter::Antialiasing, false);
  SetFont(c, 13, clBlack);
  Label(c, x0 + 300, y0 + 362, "aliased");
  Label(c, x0 + 470, y0 + 362, "antialiased");

  SetPen(c, clMaroon, 3);
  // Three quarters, counter-clockwise from twelve o'clock to three.
  c->Arc(x0 + 620, y0 + 215, x0 + 770, y0 + 365, x0 + 695, y0 + 215, x0 + 770, y0 + 290);
}

// Middle-right panel: one line of text per size, and a slanted line.
void DrawTextSizes(TCanvas* c, int x0, int y0) {
  Fill(c, clWhite, x0, y0, x0 + kPanelW, y0 + kPanelH);
  static constexpr int kSizes[] = {64, 40, 28, 20, 15, 12, 10, 8};
  static constexpr TColor kColors[] = {clBlack, clNavy,  clMaroon, clBlack,
                                       clGreen, clBlack, clPurple, clBlack};
  int y = y0 + 34;
  for (size_t i = 0; i < std::size(kSizes); ++i) {
    int px = kSizes[i];
    SetFont(c, px, kColors[i], i == 0 ? TFontStyles{fsBold} : i == 2 ? TFontStyles{fsItalic} : TFontStyles{});
    Label(c, x0 + 20, y, "Korvane " + std::to_string(px) + " px");
    y += c->TextHeight("Kg") + 4;
  }
  SetFont(c, 20, clMaroon, {fsBold}, 300);
  Label(c, x0 + 520, y0 + 370, "slanted 30 degrees");
}

// Bottom-left panel: a star chart of 36 black wedges and a fan of one-pixel
// lines every 3 degrees.
void DrawLines(TCanvas* c, int x0, int y0) {
  Fill(c, clWhite, x0, y0, x0 + kPanelW, y0 + kPanelH);
  const int cx = x0 + 200, cy = y0 + 215, r = 170;
  SetPen(c, clBlack, 1, psClear);
  c->Brush()->SetColor(clBlack);
  for (int i = 0; i < 36; ++i) {
    double a1 = 2 * M_PI * (2 * i) / 72, a2 = 2 * M_PI * (2 * i + 1) / 72;
    TPoint wedge[3] = {
        Point(cx, cy),
        Point(cx + int(std::lround(r * std::cos(a1))), cy + int(std::lround(r * std::sin(a1)))),
        Point(cx + int(std::lround(r * std::cos(a2))), cy + int(std::lround(r * std::sin(a2))))};
    c->Polygon(wedge, 3);
  }
  SetPen(c, clBlack, 1);
  const int fx = x0 + 420, fy = y0 + 390, len = 370;
  for (int deg = 0; deg <= 90; deg += 3) {
    double a = deg * M_PI / 180;
    c->MoveTo(fx, fy);
    c->LineTo(fx + int(std::lround(len * std::cos(a))), fy - int(std::lround(len * std::sin(a))));
  }
}

void Caption(TCanvas* c, int x0, int y0, const std::string& text) {
  SetFont(c, 15, clBlack, {fsBold});
  c->Brush()->SetColor(clWhite);
  c->Brush()->SetStyle(bsSolid);
  c->TextOut(x0 + 6, y0 + 5, " " + text + " ");
}

}  // namespace

void DrawSamplePicture(TBitmap* bmp) {
  bmp->Allocate(kSampleWidth, kSampleHeight, pf24bit);
  {
    Rows rows(bmp);
    DrawGradients(rows, 0, 0);
    DrawZonePlate(rows, kPanelW, 0);
    DrawPatterns(rows, kPanelW, 2 * kPanelH);
  }
  TCanvas* c = bmp->Canvas();
  DrawShapes(c, 0, kPanelH);
  DrawTextSizes(c, kPanelW, kPanelH);
  DrawLines(c, 0, 2 * kPanelH);
  static const char* const kCaptions[6] = {"Gradients", "Zone plate", "Shapes",
                                           "Text",      "Fine lines", "Checkers and line pairs"};
  for (int i = 0; i < 6; ++i) {
    int x0 = (i % 2) * kPanelW, y0 = (i / 2) * kPanelH;
    Caption(c, x0, y0, kCaptions[i]);
    SetPen(c, clGray, 1);
    c->Brush()->SetStyle(bsClear);
    c->Rectangle(x0, y0, x0 + kPanelW, y0 + kPanelH);
  }
  c->EndPaint();
  bmp->Changed();
}

// ---------------------------------------------------------------------------
// Command line

namespace {

struct FilterName {
  const char* caption;
  const char* key;
  TResampleFilter value;
};
constexpr FilterName kFilters[] = {{"&None", "none", rfNone},
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
constexpr BackgroundName kBackgrounds[] = {{"&Solid", "solid", kvbsSolid},
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
constexpr ScrollName kScrolls[] = {{"&None", "none", ssNone},
                                   {"&Horizontal", "horizontal", ssHorizontal},
                                   {"&Vertical", "vertical", ssVertical},
                                   {"&Both", "both", ssBoth}};

struct MouseName {
  const char* caption;
  const char* iconText;
  const char* key;
  TKVMouseInteractItems value;
};
constexpr MouseName kMouseModes[] = {{"&Zoom (left in, right out)", "Zoom", "zoom", miZoom},
                                     {"&Scroll (drag)", "Scroll", "scroll", miScroll},
                                     {"Select &rectangle", "Rect", "rect", miSelect},
                                     {"Select &polygon", "Polygon", "polygon", miSelectPolygon},
                                     {"Select &ellipse", "Ellipse", "ellipse", miSelectCircle},
                                     {"Zoom to &dragged rectangle", "Zoom rect", "zoomrect", miSelectZoom}};

// A whole-string decimal integer.
bool ToInt(const QString& s, int& v) {
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
const ImageOp kImageOps[] = {{"&Undo", "undo", QKeySequence::Undo},
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
const ColorOp kColorOps[] = {{"&Negative", "negative"},
                             {"&Gray", "gray"},
                             {"&Contrast +50%", "contrast"},
                             {"&Hue +60 (HSV)", "hue"},
                             {"&Saturation +30% (HSL)", "saturate"},
                             {"&Lightness +15% (HSL)", "lighten"},
                             {"&Threshold at 128", "threshold"}};
const ColorOp kDepthOps[] = {{"Convert to &16 colors", "colors:16"},
                             {"Convert to &256 colors", "colors:256"},
                             {"Black and white, &ordered dither", "bw"},
                             {"Black and white, &threshold", "bwthreshold"},
                             {"Back to &24 bits", "rgb24"}};

// Filters, transforms, histogram and effects with fixed settings: caption,
// --process name.
const ColorOp kFilterOps[] = {{"&Blur", "blur"},
                              {"&Edges", "edge"},
                              {"E&mboss", "emboss"},
                              {"&High pass", "highpass"},
                              {"&Low pass", "lowpass"}};
const ColorOp kTransformOps[] = {{"Rotate &90 left", "rotate90"},
                                 {"Rotate 90 &right", "rotate270"},
                                 {"Rotate &30, anti-aliased", "rotate30"},
                                 {"Flip &horizontally", "fliph"},
                                 {"Flip &vertically", "flipv"},
                                 {"&Half size (Lanczos)", "half"}};
const ColorOp kEffectOps[] = {{"&Equalize automatically", "autoequalize"},
                              {"E&qualize 64..192", "equalize"},
                              {"&Wave", "wave"},
                              {"&Lens at the centre", "lens"},
                              {"&Bump mapping", "bump"}};

QStringList ProcessOpNames() {
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
bool ParseColors(const QString& op, int& n) {
  QStringList parts = op.split(':');
  return parts.size() == 2 && parts[0] == "colors" && ToInt(parts[1], n) && n >= 3 && n <= 256;
}

// "wand:X:Y" with X, Y inside the sample picture.
bool ParseWand(const QString& op, int& x, int& y) {
  QStringList parts = op.split(':');
  return parts.size() == 3 && parts[0] == "wand" && ToInt(parts[1], x) && ToInt(parts[2], y) && x >= 0 &&
         y >= 0 && x < kSampleWidth && y < kSampleHeight;
}

}  // namespace

bool IsProcessOp(const QString& op) {
  int x, y;
  return ProcessOpNames().contains(op) || ParseWand(op, x, y) || ParseColors(op, x);
}

std::vector<TPoint> MaskOutline(TBitmap* mask) {
  const int w = mask->Width(), h = mask->Height();
  if (w <= 0 || h <= 0 || mask->PixelFormat() != pf1bit) return {};
  std::vector<const uint8_t*> rows(static_cast<size_t>(h));
  for (int y = 0; y < h; ++y) rows[size_t(y)] = mask->Scanline(y);
  auto in = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < w && y < h && ((rows[size_t(y)][x >> 3] >> (7 - (x & 7))) & 1);
  };
  // Boundary edges between pixel corners, walked with the inside on the
  // right: bits E, S, W, N of each corner's outgoing edges.
  enum : uint8_t { E = 1, S = 2, W = 4, N = 8 };
  const int cw = w + 1;
  std::vector<uint8_t> out(size_t(cw) * size_t(h + 1), 0);
  auto at = [&](int x, int y) -> uint8_t& { return out[size_t(y) * size_t(cw) + size_t(x)]; };
  for (int y = 0; y <= h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool above = in(x, y - 1), below = in(x, y);
      if (!above && below)
        at(x, y) |= E;
      else if (above && !below)
        at(x + 1, y) |= W;
    }
  for (int y = 0; y < h; ++y)
    for (int x = 0; x <= w; ++x) {
      const bool left = in(x - 1, y), right = in(x, y);
      if (!left && right)
        at(x, y + 1) |= N;
      else if (left && !right)
        at(x, y) |= S;
    }
  auto rightOf = [](uint8_t d) { return uint8_t(d == N ? E : d << 1); };
  auto leftOf = [](uint8_t d) { return uint8_t(d == E ? N : d >> 1); };
  std::vector<std::vector<TPoint>> loops;
  for (int sy = 0; sy <= h; ++sy)
    for (int sx = 0; sx <= w; ++sx) {
      if (!at(sx, sy)) continue;
      std::vector<TPoint> loop{Point(sx, sy)};
      int x = sx, y = sy;
      uint8_t d = at(x, y) & -at(x, y);  // lowest outgoing edge
      while (true) {
        at(x, y) &= uint8_t(~d);
        x += d == E ? 1 : d == W ? -1 : 0;
        y += d == S ? 1 : d == N ? -1 : 0;
        const uint8_t opts = at(x, y);
        if (!opts) break;
        // Where two edges leave one corner, hug the current pixel: this keeps
        // pixels that touch only diagonally apart.
        uint8_t nd = opts & rightOf(d) ? rightOf(d) : opts & d ? d : opts & leftOf(d) ? leftOf(d) : opts;
        if (nd != d) loop.push_back(Point(x, y));
        d = nd;
      }
      if (loop.size() > 1 && loop.back() == loop.front()) loop.pop_back();
      loops.push_back(std::move(loop));
    }
  if (loops.empty()) return {};
  std::vector<TPoint> poly = loops[0];
  const TPoint base = poly[0];
  for (size_t i = 1; i < loops.size(); ++i) {
    poly.push_back(base);
    poly.insert(poly.end(), loops[i].begin(), loops[i].end());
    poly.push_back(loops[i][0]);
  }
  if (loops.size() > 1) poly.push_back(base);
  return poly;
}

QString DemoUsage() {
  QString filters, backgrounds;
  for (const auto& f : kFilters) filters += QString(" ") + f.key;
  for (const auto& b : kBackgrounds) backgrounds += QString(" ") + b.key;
  return QString(
             "Usage: korvane-demo [options]\n"
             "Shows a sample picture in the image view.\n\n"
             "  --screenshot FILE        render the window (%1 x %2) off screen to a PNG file and exit\n"
             "  --zoom N                 zoom in percent (1 .. %3)\n"
             "  --fit                    fit the picture into the view\n"
             "  --origin X,Y             scroll picture pixel (X, Y) to the top-left corner of the view\n"
             "  --select X1,Y1,X2,Y2     select a rectangle, in picture pixels\n"
             "  --scrollbars             show the scroll bars in a screenshot (the window always has them)\n"
             "  --center                 centre a picture smaller than the view\n"
             "  --filter NAME            zoom filter:%4\n"
             "  --background NAME        background style:%5\n"
             "  --process OP[,OP...]     run image operations after the options above, in order:\n"
             "                           %6,\n"
             "                           colors:N (reduce to N colors, 3 .. 256),\n"
             "                           wand:X:Y (magic wand selection from picture pixel X, Y)\n"
             "  --open FILE              show an image file instead of the sample picture (BMP, GIF, JPEG,\n"
             "                           PCX, PNG, TIFF, ICO, CUR, WMF, EMF; chosen by extension)\n"
             "  --index N                page, frame or icon image N of a multi-image file (from 0)\n"
             "  --panel                  show the panel of small controls (histogram, HSV box, ruler)\n"
             "  --dialog open|save       with --screenshot: render the open or save dialog with --open's\n"
             "                           file (else the sample picture) selected in it\n"
             "  --dialog save-params|proc-previews\n"
             "                           with --screenshot: render the save parameters or the processing\n"
             "                           previews form; these take only --open FILE, --language LANG (en, it,\n"
             "                           de, es, fr, pt) and --page PAGE (save-params: jpeg, tiff, gif,\n"
             "                           bmp, pcx, png; proc-previews: contrast, hsv, hsl, rgb, filter,\n"
             "                           equalize, bump, lens, wave)\n"
             "  --language LANG          language of the dialogs: system, en, it, de, es, fr, pt\n"
             "  --camera                 screenshot the camera window showing live video from the synthetic camera\n"
             "  --help                   this text\n")
      .arg(kScreenshotWidth)
      .arg(kScreenshotHeight)
      .arg(kMaxZoom)
      .arg(filters, backgrounds, ProcessOpNames().join(", "));
}

bool ParseDemoArgs(const QStringList& args, DemoOptions& opts, QString& error) {
  opts = DemoOptions{};
  bool zoomGiven = false;
  for (qsizetype i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    auto value = [&](QString& out) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    QString v;
    if (a == "--help" || a == "-h") {
      opts.help = true;
    } else if (a == "--screenshot") {
      if (!value(v)) return false;
      if (v.isEmpty()) {
        error = "--screenshot needs a file name";
        return false;
      }
      opts.screenshot = v;
    } else if (a == "--zoom") {
      if (!value(v)) return false;
      if (!ToInt(v, opts.zoom) || opts.zoom < 1 || opts.zoom > kMaxZoom) {
        error = QString("--zoom takes a percentage from 1 to %1, not '%2'").arg(kMaxZoom).arg(v);
        return false;
      }
      zoomGiven = true;
    } else if (a == "--panel") {
      opts.panel = true;
    } else if (a == "--camera") {
      opts.camera = true;
    } else if (a == "--fit") {
      opts.fit = true;
    } else if (a == "--select") {
      if (!value(v)) return false;
      QStringList parts = v.split(',');
      int c[4];
      bool ok = parts.size() == 4;
      for (int k = 0; ok && k < 4; ++k) ok = ToInt(parts[k], c[k]);
      if (!ok) {
        error = "--select takes X1,Y1,X2,Y2, not '" + v + "'";
        return false;
      }
      if (c[0] == c[2] || c[1] == c[3]) {
        error = "--select: the rectangle " + v + " is empty";
        return false;
      }
      for (int k = 0; k < 4; ++k) {
        // Checked against the sample picture; an opened file's view clamps.
        int limit = (k % 2 ? kSampleHeight : kSampleWidth) - 1;
        if (c[k] < 0 || (c[k] > limit && !args.contains("--open"))) {
          error = QString("--select: %1 lies outside the %2 x %3 picture")
                      .arg(v)
                      .arg(kSampleWidth)
                      .arg(kSampleHeight);
          return false;
        }
      }
      opts.hasSelection = true;
      opts.selX1 = c[0], opts.selY1 = c[1], opts.selX2 = c[2], opts.selY2 = c[3];
    } else if (a == "--origin") {
      if (!value(v)) return false;
      QStringList parts = v.split(',');
      bool ok = parts.size() == 2 && ToInt(parts[0], opts.originX) && ToInt(parts[1], opts.originY) &&
                opts.originX >= 0 && opts.originX < kSampleWidth && opts.originY >= 0 &&
                opts.originY < kSampleHeight;
      if (!ok) {
        error = QString("--origin takes X,Y inside the %1 x %2 picture, not '%3'")
                    .arg(kSampleWidth)
                    .arg(kSampleHeight)
                    .arg(v);
        return false;
      }
      opts.hasOrigin = true;
    } else if (a == "--scrollbars") {
      opts.scrollBars = true;
    } else if (a == "--center") {
      opts.center = true;
    } else if (a == "--filter") {
      if (!value(v)) return false;
      opts.hasFilter = false;
      for (const auto& f : kFilters)
        if (v.compare(f.key, Qt::CaseInsensitive) == 0) opts.filter = f.value, opts.hasFilter = true;
      if (!opts.hasFilter) {
        error = "unknown filter '" + v + "'";
        return false;
      }
    } else if (a == "--background") {
      if (!value(v)) return false;
      opts.hasBackground = false;
      for (const auto& b : kBackgrounds)
        if (v.compare(b.key, Qt::CaseInsensitive) == 0) opts.background = b.value, opts.hasBackground = true;
      if (!opts.hasBackground) {
        error = "unknown background style '" + v + "'";
        return false;
      }
    } else if (a == "--process") {
      if (!value(v)) return false;
      for (const QString& op : v.split(',')) {
        if (!IsProcessOp(op.trimmed())) {
          error = "--process: unknown operation '" + op + "'";
          return false;
        }
        opts.process << op.trimmed();
      }
    } else if (a == "--dialog") {
      if (!value(v)) return false;
      if (v != "open" && v != "save") {
        error = "--dialog takes open or save, not '" + v + "'";
        return false;
      }
      opts.dialog = v;
    } else if (a == "--language") {
      if (!value(v)) return false;
      static const std::pair<const char*, TMsgLanguage> langs[] = {{"system", msSystem}, {"en", msEnglish},
                                                                   {"it", msItalian},    {"de", msGerman},
                                                                   {"es", msSpanish},    {"fr", msFrench},
                                                                   {"pt", msPortuguese}};
      bool found = false;
      for (const auto& [key, lang] : langs)
        if (v == key) opts.language = lang, found = true;
      if (!found) {
        error = "--language takes system, en, it, de, es, fr or pt, not '" + v + "'";
        return false;
      }
    } else if (a == "--open") {
      if (!value(opts.open)) return false;
    } else if (a == "--index") {
      if (!value(v)) return false;
      if (!ToInt(v, opts.index) || opts.index < 0) {
        error = "--index takes a number from 0, not '" + v + "'";
        return false;
      }
    } else {
      error = "unknown option '" + a + "'";
      return false;
    }
  }
  if (!opts.dialog.isEmpty() && opts.screenshot.isEmpty()) {
    error = "--dialog needs --screenshot";
    return false;
  }
  if (zoomGiven && opts.fit) {
    error = "--zoom and --fit exclude each other";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The window

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle("Korvane demo");
  // The picture is the combined component; the annotation layer works on a
  // copy of it in a second page of the central area.
  stack_ = new QStackedWidget(this);
  view_ = new TKorvane(nullptr, stack_);
  vect_ = new TKorvaneVect(nullptr, stack_);
  stack_->addWidget(view_);
  stack_->addWidget(vect_);
  setCentralWidget(stack_);
  view_->SetScrollBars(ssBoth);
  view_->SetMouseInteract({miZoom, miScroll});
  vect_->SetScrollBars(ssBoth);
  vect_->SetMouseInteract({miZoom, miScroll});
  DrawSamplePicture(view_->GetBitmap());
  view_->Update();
  panel_ = new ControlsPanel(view_, view_->Proc(), this);
  addDockWidget(Qt::RightDockWidgetArea, panel_);
  panel_->hide();

  BuildActions();
  BuildMenusAndToolBar();
  BuildAnnotateMenu(this, vect_,
                    {[this] { EnterAnnotation(); }, [this] { TakeAnnotatedPicture(); }, [this] { LeaveAnnotation(); }});
  BuildLanguageMenu();
  BuildStatusBar();
  ConnectView();
  SyncFromView();
}

MainWindow::~MainWindow() {
  // The view's handlers reach into this window: drop them, then the view,
  // while the window is still whole.
  view_->OnViewChange = nullptr;
  view_->OnSelectionChange = nullptr;
  view_->OnMouseMove = nullptr;
  view_->OnMouseDown = nullptr;
  delete view_;
  view_ = nullptr;
  delete vect_;
  vect_ = nullptr;
}

namespace {

// Makes the filter of a file's format (by extension) the dialog's first choice,
// when its list has one.
void SelectFilterOf(TOpenKorvaneDialog& dlg, const QString& suffix) {
  const QString ext = "*." + suffix.toLower();
  for (int i = 1; !dlg.FilterPattern(i).empty(); ++i)
    if (QString::fromStdString(dlg.FilterPattern(i)).split(';').contains(ext)) {
      dlg.SetFilterIndex(i);
      return;
    }
}

}  // namespace

bool MainWindow::Annotating() const { return stack_->currentWidget() == vect_; }

void MainWindow::EnterAnnotation() {
  if (Annotating()) return;
  vect_->Assign(view_);
  vect_->SetCenter(view_->GetCenter());
  vect_->SetBackgroundStyle(view_->GetBackgroundStyle());
  vect_->SetZoom(view_->GetZoom());
  vect_->SetViewXY(view_->GetViewX(), view_->GetViewY());
  stack_->setCurrentWidget(vect_);
}

void MainWindow::TakeAnnotatedPicture() {
  view_->SaveUndo();
  view_->GetBitmap()->Assign(vect_->GetBitmap());
  view_->Update();
  view_->ImageChange();
  SyncFromView();
}

void MainWindow::LeaveAnnotation() {
  if (!Annotating()) return;
  vect_->SetMouseInteractVt(TKVMouseInteractVt());
  stack_->setCurrentWidget(view_);
}

void MainWindow::SetLanguage(TMsgLanguage l) {
  language_ = l;
  view_->SetMsgLanguage(l);
  for (auto& [a, lang] : language_actions_) a->setChecked(lang == l);
}

void MainWindow::BuildLanguageMenu() {
  QMenu* m = menuBar()->addMenu("&Language");
  auto* group = new QActionGroup(m);
  const std::pair<const char*, TMsgLanguage> list[] = {
      {"&System", msSystem},     {"&English", msEnglish}, {"&Italiano", msItalian},    {"&Deutsch", msGerman},
      {"E&spañol", msSpanish}, {"&Français", msFrench}, {"&Português", msPortuguese}};
  for (const auto& [text, lang] : list) {
    QAction* a = m->addAction(QString::fromUtf8(text));
    a->setCheckable(true);
    a->setObjectName(QString("language_%1").arg(int(lang)));
    group->addAction(a);
    const TMsgLanguage l = lang;
    connect(a, &QAction::triggered, this, [this, l] { SetLanguage(l); });
    language_actions_.emplace_back(a, lang);
  }
  SetLanguage(language_);
}

void MainWindow::OpenWithDialog() {
  TOpenKorvaneDialog dlg;
  dlg.ParentWidget = this;
  dlg.MsgLanguage = language_;
  dlg.Title = "Open image";
  if (!file_.isEmpty()) dlg.SetInitialDir(QFileInfo(file_).absolutePath().toStdString());
  if (!dlg.Execute()) return;
  QString error;
  if (!OpenFile(QString::fromStdString(dlg.GetFileName()), 0, error)) QMessageBox::warning(this, "Open image", error);
}

void MainWindow::SaveWithDialog() {
  TSaveKorvaneDialog dlg;
  dlg.ParentWidget = this;
  dlg.MsgLanguage = language_;
  dlg.Title = "Save image as";
  dlg.SetAttachedKorvaneIO(view_->IO());
  if (!file_.isEmpty()) {
    const QFileInfo fi(file_);
    dlg.SetInitialDir(fi.absolutePath().toStdString());
    dlg.SetFileName(fi.absoluteFilePath().toStdString());
    SelectFilterOf(dlg, fi.suffix());
  }
  if (!dlg.Execute()) return;
  QString error;
  if (!SaveFileAs(QString::fromStdString(dlg.GetFileName()), error)) QMessageBox::warning(this, "Save image", error);
}

QAction* MainWindow::NewAction(const QString& text, const QString& name, const QString& iconText) {
  auto* a = new QAction(text, this);
  a->setObjectName(name);
  if (!iconText.isEmpty()) a->setIconText(iconText);
  return a;
}

void MainWindow::BuildActions() {
  open_ = NewAction("&Open...", "open", "Open");
  open_->setShortcut(QKeySequence::Open);
  connect(open_, &QAction::triggered, this, [this] { OpenWithDialog(); });
  save_as_ = NewAction("Save &As...", "saveAs");
  save_as_->setShortcut(QKeySequence::SaveAs);
  connect(save_as_, &QAction::triggered, this, [this] { SaveWithDialog(); });
  choose_image_ = NewAction("&Page or frame...", "chooseImage");
  choose_image_->setEnabled(false);
  connect(choose_image_, &QAction::triggered, this, [this] {
    bool ok = false;
    const int i = QInputDialog::getInt(this, "Page or frame", QString("Show image (0 .. %1):").arg(image_count_ - 1),
                                       image_index_, 0, image_count_ - 1, 1, &ok);
    QString error;
    if (ok && !OpenFile(file_, i, error)) QMessageBox::warning(this, "Open image", error);
  });
  quit_ = NewAction("&Quit", "quit");
  quit_->setShortcut(QKeySequence::Quit);
  connect(quit_, &QAction::triggered, this, &QWidget::close);

  zoom_in_ = NewAction("Zoom &in", "zoomIn", "Zoom +");
  zoom_in_->setShortcut(QKeySequence::ZoomIn);
  connect(zoom_in_, &QAction::triggered, this, [this] { ZoomStep(true); });
  zoom_out_ = NewAction("Zoom &out", "zoomOut", "Zoom -");
  zoom_out_->setShortcut(QKeySequence::ZoomOut);
  connect(zoom_out_, &QAction::triggered, this, [this] { ZoomStep(false); });
  zoom_100_ = NewAction("&Actual size (100%)", "zoom100", "100%");
  zoom_100_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
  connect(zoom_100_, &QAction::triggered, this, [this] {
    view_->ZoomAt(view_->ClientWidth() / 2, view_->ClientHeight() / 2, 100);
    SyncFromView();
  });
  fit_ = NewAction("&Fit", "fit", "Fit");
  fit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
  connect(fit_, &QAction::triggered, this, [this] {
    view_->Fit();
    SyncFromView();
  });
  zoom_selection_ = NewAction("Zoom to &selection", "zoomSelection", "Zoom sel");
  connect(zoom_selection_, &QAction::triggered, this, [this] {
    view_->ZoomSelection();
    SyncFromView();
  });

  center_ = NewAction("&Center", "center", "Center");
  center_->setCheckable(true);
  connect(center_, &QAction::triggered, this, [this](bool on) { view_->SetCenter(on); });
  double_buffer_ = NewAction("&Double buffer", "doubleBuffer");
  double_buffer_->setCheckable(true);
  connect(double_buffer_, &QAction::triggered, this, [this](bool on) { view_->SetDoubleBuffer(on); });

  auto* filters = new QActionGroup(this);
  for (const auto& f : kFilters) {
    QAction* a = NewAction(f.caption, QString("filter.") + f.key);
    a->setCheckable(true);
    filters->addAction(a);
    TResampleFilter value = f.value;
    connect(a, &QAction::triggered, this, [this, value] { view_->SetZoomFilter(value); });
    filter_actions_.emplace_back(a, value);
  }
  delay_filter_ = NewAction("D&elay filter", "delayFilter");
  delay_filter_->setCheckable(true);
  connect(delay_filter_, &QAction::triggered, this, [this](bool on) { view_->SetDelayZoomFilter(on); });

  auto* backgrounds = new QActionGroup(this);
  for (const auto& b : kBackgrounds) {
    QAction* a = NewAction(b.caption, QString("background.") + b.key);
    a->setCheckable(true);
    backgrounds->addAction(a);
    TKVBackgroundStyle value = b.value;
    connect(a, &QAction::triggered, this, [this, value] { view_->SetBackgroundStyle(value); });
    background_actions_.emplace_back(a, value);
  }
  background_color_ = NewAction("Background &color...", "backgroundColor");
  connect(background_color_, &QAction::triggered, this, [this] {
    TColor rgb = ColorToRGB(view_->GetBackground());
    QColor c = QColorDialog::getColor(QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb)), this,
                                      "Background color");
    if (c.isValid()) SetBackgroundColor(c);
  });

  auto* scrolls = new QActionGroup(this);
  for (const auto& s : kScrolls) {
    QAction* a = NewAction(s.caption, QString("scrollBars.") + s.key);
    a->setCheckable(true);
    scrolls->addAction(a);
    TScrollStyle value = s.value;
    connect(a, &QAction::triggered, this, [this, value] {
      view_->SetScrollBars(value);
      SyncFromView();
    });
    scroll_actions_.emplace_back(a, value);
  }

  // Not an exclusive group: the view decides which modes may stay together,
  // and the actions show what it kept.
  for (const auto& m : kMouseModes) {
    QAction* a = NewAction(m.caption, QString("mouse.") + m.key, m.iconText);
    a->setCheckable(true);
    TKVMouseInteractItems item = m.value;
    connect(a, &QAction::triggered, this, [this, item](bool on) { ToggleMouseItem(item, on); });
    mouse_actions_.emplace_back(a, item);
  }
  wand_ = NewAction("&Magic wand", "mouse.wand", "Wand");
  wand_->setCheckable(true);
  connect(wand_, &QAction::triggered, this, [this](bool on) { SetWandMode(on); });
  for (const auto& op : kImageOps) {
    QAction* a = NewAction(op.caption, QString("image.") + op.key);
    if (op.shortcut != QKeySequence::UnknownKey) a->setShortcut(op.shortcut);
    QString key = op.key;
    connect(a, &QAction::triggered, this, [this, key] { RunOp(key); });
    image_actions_.emplace_back(a, key);
  }
  auto addOps = [this](const ColorOp* ops, size_t n) {
    for (size_t k = 0; k < n; ++k) {
      QAction* a = NewAction(ops[k].caption, QString("image.") + ops[k].key);
      QString key = ops[k].key;
      connect(a, &QAction::triggered, this, [this, key] { RunOp(key); });
      color_actions_.emplace_back(a, key);
    }
  };
  addOps(kColorOps, std::size(kColorOps));
  addOps(kDepthOps, std::size(kDepthOps));
  auto addSubmenuOps = [this](const ColorOp* ops, size_t n, std::vector<QAction*>& list) {
    for (size_t k = 0; k < n; ++k) {
      QAction* a = NewAction(ops[k].caption, QString("image.") + ops[k].key);
      QString key = ops[k].key;
      connect(a, &QAction::triggered, this, [this, key] { RunOp(key); });
      list.push_back(a);
    }
  };
  addSubmenuOps(kFilterOps, std::size(kFilterOps), filter_op_actions_);
  addSubmenuOps(kTransformOps, std::size(kTransformOps), transform_actions_);
  addSubmenuOps(kEffectOps, std::size(kEffectOps), effect_actions_);
  deselect_ = NewAction("&Deselect", "deselect", "Deselect");
  deselect_->setShortcut(QKeySequence(Qt::Key_Escape));
  connect(deselect_, &QAction::triggered, this, [this] {
    view_->DeSelect();
    SyncFromView();
  });
}

void MainWindow::BuildMenusAndToolBar() {
  QMenu* file = menuBar()->addMenu("&File");
  file->addActions({open_, save_as_, choose_image_});
  file->addAction("Save &parameters...", this, [this] { view_->IO()->DoPreviews({ppALL}); });
  // The thumbnail browser hands a double-clicked cell to this view: a
  // folder's image from its file, a frame of a multi-image file as it is.
  file->addAction("&Thumbnail browser...", this, [this] {
    auto* browser = new ThumbBrowser([this](TBitmap* bmp, const QString& name) {
      QString error;
      if (!name.isEmpty() ? OpenFile(name, 0, error) : false) return;
      if (bmp) {
        view_->GetBitmap()->Assign(bmp);
        view_->Update();
        view_->ImageChange();
      }
    }, this);
    browser->setWindowFlag(Qt::Window);
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->show();
  });
  file->addAction("&Camera...", this, [this] {
    auto* camera = new CameraWindow(this);
    camera->setWindowFlag(Qt::Window);
    camera->setAttribute(Qt::WA_DeleteOnClose);
    camera->show();
  });
  file->addSeparator();
  AddAcquireActions(file, this);
  file->addSeparator();
  file->addAction(quit_);

  QMenu* view = menuBar()->addMenu("&View");
  view->addActions({zoom_in_, zoom_out_, zoom_100_, fit_, zoom_selection_});
  view->addSeparator();
  view->addAction(center_);
  view->addAction(double_buffer_);
  view->addAction(panel_->toggleViewAction());
  QMenu* bars = view->addMenu("Scroll &bars");
  for (auto& [a, s] : scroll_actions_) bars->addAction(a);

  QMenu* filter = menuBar()->addMenu("F&ilter");
  for (auto& [a, f] : filter_actions_) filter->addAction(a);
  filter->addSeparator();
  filter->addAction(delay_filter_);

  QMenu* background = menuBar()->addMenu("&Background");
  for (auto& [a, b] : background_actions_) background->addAction(a);
  background->addSeparator();
  background->addAction(background_color_);

  QMenu* image = menuBar()->addMenu("&Image");
  for (auto& [a, key] : image_actions_) {
    image->addAction(a);
    if (key == "undo" || key == "pastesel") image->addSeparator();
  }
  image->addSeparator();
  QMenu* colors = image->addMenu("C&olors");
  QMenu* depth = image->addMenu("Color &depth");
  for (auto& [a, key] : color_actions_) {
    const bool isDepth = key.startsWith("colors:") || key.startsWith("bw") || key == "rgb24";
    (isDepth ? depth : colors)->addAction(a);
  }
  image->addMenu("&Filters")->addActions({filter_op_actions_.begin(), filter_op_actions_.end()});
  image->addMenu("&Transform")->addActions({transform_actions_.begin(), transform_actions_.end()});
  image->addMenu("&Histogram and effects")->addActions({effect_actions_.begin(), effect_actions_.end()});
  QAction* previews = NewAction("Pre&views...", "procPreviews");
  connect(previews, &QAction::triggered, this, [this] { view_->DoPreviews({peAll}); });
  image->addAction(previews);
  AddMoreOperations(image, this);

  QMenu* mouse = menuBar()->addMenu("&Mouse");
  for (auto& [a, m] : mouse_actions_) mouse->addAction(a);
  mouse->addAction(wand_);
  mouse->addSeparator();
  mouse->addAction(deselect_);

  QToolBar* tb = addToolBar("Main");
  tb->setObjectName("mainToolBar");
  tb->setMovable(false);
  tb->setToolButtonStyle(Qt::ToolButtonTextOnly);
  tb->addActions({zoom_in_, zoom_out_, zoom_100_, fit_, zoom_selection_});
  tb->addSeparator();
  tb->addAction(center_);
  tb->addSeparator();
  for (auto& [a, m] : mouse_actions_) tb->addAction(a);
  tb->addAction(wand_);
  tb->addSeparator();
  tb->addAction(deselect_);
}

void MainWindow::BuildStatusBar() {
  auto label = [this](const QString& name, int minWidth) {
    auto* l = new QLabel(this);
    l->setObjectName(name);
    l->setMinimumWidth(minWidth);
    statusBar()->addWidget(l);
    return l;
  };
  zoom_label_ = label("zoomLabel", 90);
  origin_label_ = label("originLabel", 130);
  pixel_label_ = label("pixelLabel", 130);
  selection_label_ = label("selectionLabel", 260);
  pixel_label_->setText("Pixel -");
}

void MainWindow::ConnectView() {
  view_->OnViewChange = [this](TObject*, int) { ShowZoomAndOrigin(); };
  view_->OnSelectionChange = [this](TObject*) { ShowSelection(); };
  view_->OnMouseMove = [this](TObject*, TShiftState, int x, int y) { ShowPixel(x, y); };
  view_->OnMouseDown = [this](TObject*, TMouseButton b, TShiftState, int x, int y) {
    if (wand_mode_ && b == mbLeft) WandSelect(view_->XScr2Bmp(x), view_->YScr2Bmp(y));
  };
}

void MainWindow::SetWandMode(bool on) {
  wand_mode_ = on;
  // The wand takes the left button: the view's own modes step aside.
  if (on) view_->SetMouseInteract({});
  SyncFromView();
}

void MainWindow::WandSelect(int x, int y, int tolerance) {
  TBitmap* b = view_->GetBitmap();
  if (x < 0 || y < 0 || x >= b->Width() || y >= b->Height()) return;
  TBitmap mask;
  _MakeMagicWandBitmap(b, &mask, x, y, tolerance);
  std::vector<TPoint> pts = MaskOutline(&mask);
  view_->DeSelect();
  const TKVSelectionBase base = view_->GetSelectionBase();
  view_->SetSelectionBase(kvsbBitmap);
  if (pts.size() == 4 && _IsRectangle(pts.data(), 4) && pts[2].x - pts[0].x > 1 && pts[2].y - pts[0].y > 1) {
    // A rectangular region: the view's rectangle selection is inclusive.
    view_->Select(pts[0].x, pts[0].y, pts[2].x - 1, pts[2].y - 1);
  } else if (pts.size() >= 3) {
    view_->LockPaint();
    for (const TPoint& p : pts) view_->AddSelPoint(p.x, p.y);
    view_->UnLockPaint();
    view_->ShowSelectionEx(true);
  }
  view_->SetSelectionBase(base);
  view_->DoSelectionChange();
  ShowSelection();
}

bool MainWindow::RunOp(const QString& op) {
  LeaveAnnotation();
  TKorvaneProc* p = view_->Proc();
  const std::map<QString, std::function<void()>> ops = {
      {"undo", [p] { p->Undo(); }},
      {"cut", [p] { p->SelCutToClip(); }},
      {"copy", [p] { p->SelCopyToClip(); }},
      {"paste", [p] { p->PasteFromClipboard(); }},
      {"pastesel", [p] { p->SelPasteFromClipStretch(); }},
      {"crop", [p] { p->CropSel(); }},
      {"clear", [p] { p->ClearSel(); }},
      {"clearall", [p] { p->Clear(); }},
      {"deselect", [this] { view_->DeSelect(); }},
      {"negative", [p] { p->Negative(); }},
      {"gray", [p] { p->ConvertToGray(); }},
      {"contrast", [p] { p->Contrast(5); }},
      {"hue", [p] { p->HSVvar(60, 0, 0); }},
      {"saturate", [p] { p->HSLvar(0, 30, 0); }},
      {"lighten", [p] { p->HSLvar(0, 0, 15); }},
      {"threshold",
       [p] {
         p->Threshold(CreateRGB(127, 127, 127), CreateRGB(127, 127, 127), CreateRGB(0, 0, 0),
                      CreateRGB(255, 255, 255));
       }},
      {"bw", [p] { p->ConvertToBWOrdered(); }},
      {"bwthreshold", [p] { p->ConvertToBWThreshold(); }},
      {"rgb24", [p] { p->ConvertTo24Bit(); }},
      {"blur", [p] { p->ApplyFilterPreset(fpBlur); }},
      {"edge", [p] { p->ApplyFilterPreset(fpEdge); }},
      {"emboss", [p] { p->ApplyFilterPreset(fpEmboss); }},
      {"highpass", [p] { p->ApplyFilterPreset(fpHighPass1); }},
      {"lowpass", [p] { p->ApplyFilterPreset(LowPass1); }},
      {"rotate90", [p] { p->Rotate(90, false); }},
      {"rotate270", [p] { p->Rotate(-90, false); }},
      {"rotate30", [p] { p->Rotate(30, true); }},
      {"fliph", [p] { p->Flip(fdHorizontal); }},
      {"flipv", [p] { p->Flip(fdVertical); }},
      {"half",
       [p] {
         if (TBitmap* b = p->GetBitmap()) p->Resample(std::max(1, b->Width() / 2), -1, rfLanczos3);
       }},
      {"autoequalize", [p] { p->HistAutoEqualize(); }},
      {"equalize", [p] { p->HistEqualize(CreateRGB(64, 64, 64), CreateRGB(192, 192, 192)); }},
      {"wave", [p] { p->Wave(8, 40, 0, true); }},
      {"lens",
       [p] {
         if (TBitmap* b = p->GetBitmap())
           p->Lens(b->Width() / 2, b->Height() / 2, b->Width() / 3, b->Height() / 3, 2.5);
       }},
      {"bump",
       [p] {
         if (TBitmap* b = p->GetBitmap())
           p->BumpMapping(b->Width() / 3, b->Height() / 3, b->Width() / 2, b->Height() / 2, 60,
                          CreateRGB(255, 255, 255));
       }},
  };
  int x, y;
  if (auto it = ops.find(op); it != ops.end())
    it->second();
  else if (ParseWand(op, x, y))
    WandSelect(x, y);
  else if (ParseColors(op, x))
    p->ConvertTo(x);
  else
    return false;
  SyncFromView();
  return true;
}

void MainWindow::ZoomStep(bool in) {
  int z = view_->GetZoom();
  int next = in ? std::min(MouseZoomIn(z), kMaxZoom) : MouseZoomOut(z);
  // The mouse steps end at 2 %: below that "out" would zoom in.
  if (in ? next <= z : next >= z) return;
  // Zoom about the centre of the view so that what is in the middle stays there.
  view_->ZoomAt(view_->ClientWidth() / 2, view_->ClientHeight() / 2, next);
  SyncFromView();
}

void MainWindow::ToggleMouseItem(TKVMouseInteractItems item, bool on) {
  if (on) wand_mode_ = false;
  TKVMouseInteract s = view_->GetMouseInteract();
  if (on)
    s.Include(item);
  else
    s.Exclude(item);
  view_->SetMouseInteract(s);
  SyncFromView();
}

void MainWindow::SetBackgroundColor(const QColor& c) {
  view_->SetBackGround(RGB(uint8_t(c.red()), uint8_t(c.green()), uint8_t(c.blue())));
}

void MainWindow::SyncFromView() {
  for (auto& [a, f] : filter_actions_) a->setChecked(view_->GetZoomFilter() == f);
  for (auto& [a, b] : background_actions_) a->setChecked(view_->GetBackgroundStyle() == b);
  for (auto& [a, s] : scroll_actions_) a->setChecked(view_->GetScrollBars() == s);
  TKVMouseInteract modes = view_->GetMouseInteract();
  for (auto& [a, m] : mouse_actions_) a->setChecked(modes.Contains(m));
  wand_->setChecked(wand_mode_);
  for (auto& [a, key] : image_actions_) {
    if (key == "undo") a->setEnabled(view_->GetCanUndo());
    if (key == "cut" || key == "crop" || key == "pastesel") a->setEnabled(view_->Selected());
  }
  center_->setChecked(view_->GetCenter());
  double_buffer_->setChecked(view_->GetDoubleBuffer());
  delay_filter_->setChecked(view_->GetDelayZoomFilter());
  ShowZoomAndOrigin();
  ShowSelection();
}

void MainWindow::ShowZoomAndOrigin() {
  if (!zoom_label_) return;
  int z = view_->GetZoom();
  zoom_label_->setText(QString("Zoom %1%").arg(z));
  zoom_in_->setEnabled(z < kMaxZoom);
  zoom_out_->setEnabled(MouseZoomOut(z) < z);
  origin_label_->setText(QString("Origin %1, %2").arg(view_->GetViewX()).arg(view_->GetViewY()));
}

void MainWindow::ShowPixel(int clientX, int clientY) {
  if (!pixel_label_) return;
  TBitmap* b = view_->GetBitmap();
  int bx = view_->XScr2Bmp(clientX), by = view_->YScr2Bmp(clientY);
  // Outside the image (the background around a centred or small picture)
  // there is no pixel to report.
  bool inside = clientX >= view_->GetOffsetX() && clientX < view_->GetOffsetX() + view_->GetExtentX() &&
                clientY >= view_->GetOffsetY() && clientY < view_->GetOffsetY() + view_->GetExtentY() &&
                bx >= 0 && by >= 0 && bx < b->Width() && by < b->Height();
  pixel_label_->setText(inside ? QString("Pixel %1, %2").arg(bx).arg(by) : QString("Pixel -"));
}

void MainWindow::ShowSelection() {
  if (!selection_label_) return;
  bool sel = view_->Selected() && view_->GetPolySelCount() >= 2;
  zoom_selection_->setEnabled(sel);
  deselect_->setEnabled(view_->Selected());
  if (!sel) {
    selection_label_->setText("No selection");
    return;
  }
  int x1 = view_->GetSelX1(), y1 = view_->GetSelY1(), x2 = view_->GetSelX2(), y2 = view_->GetSelY2();
  selection_label_->setText(QString("Selection %1, %2 - %3, %4 (%5 x %6)")
                                .arg(x1)
                                .arg(y1)
                                .arg(x2)
                                .arg(y2)
                                .arg(x2 - x1 + 1)
                                .arg(y2 - y1 + 1));
}

bool MainWindow::OpenFile(const QString& name, int index, QString& error) {
  LeaveAnnotation();
  TKorvaneIO* io = view_->IO();
  TIOParamsVals* p = io->Params();
  p->TIFF_ImageIndex = p->GIF_ImageIndex = p->ICO_ImageIndex = p->CUR_ImageIndex = index;
  const std::string path = name.toStdString();
  const QString ext = QFileInfo(name).suffix().toLower();
  try {
    // The multi-image loads answer how many images the file holds.
    if (ext == "gif")
      image_count_ = io->LoadFromFileGif(path);
    else if (ext == "tif" || ext == "tiff")
      image_count_ = io->LoadFromFileTIFF(path);
    else
      io->LoadFromFile(path), image_count_ = 1;
  } catch (const std::exception& e) {
    error = QString("%1: %2").arg(name, e.what());
    return false;
  }
  if (p->FileType == ioUnknown) {
    error = name + ": not a file type the demo reads";
    return false;
  }
  image_count_ = std::max(image_count_, 1);
  file_ = name;
  image_index_ = std::clamp(index, 0, image_count_ - 1);
  view_->DeSelect();
  view_->ClearUndo();
  ShowFileState();
  SyncFromView();
  return true;
}

bool MainWindow::SaveFileAs(const QString& name, QString& error) {
  try {
    view_->SaveToFile(name.toStdString());
  } catch (const std::exception& e) {
    error = QString("%1: %2").arg(name, e.what());
    return false;
  }
  file_ = name;
  image_count_ = 1;
  image_index_ = 0;
  ShowFileState();
  return true;
}

void MainWindow::ShowFileState() {
  QString title = "Korvane demo";
  if (!file_.isEmpty()) {
    title = QFileInfo(file_).fileName() + " - " + QString::fromStdString(view_->IOParams()->GetFileTypeStr());
    if (image_count_ > 1) title += QString(" - image %1 of %2").arg(image_index_ + 1).arg(image_count_);
    title += " - Korvane demo";
  }
  setWindowTitle(title);
  choose_image_->setEnabled(image_count_ > 1);
}

bool MainWindow::ApplyOptions(const DemoOptions& o, QString* error) {
  SetLanguage(o.language);
  bool opened = true;
  if (!o.open.isEmpty()) {
    QString why;
    opened = OpenFile(o.open, o.index, why);
    if (!opened && error) *error = why;
  }
  if (o.panel && !panel_->isVisible()) {
    panel_->show();
    QCoreApplication::processEvents();  // the view's final size, for fitting
  }
  if (o.center) view_->SetCenter(true);
  if (o.hasFilter) view_->SetZoomFilter(o.filter);
  if (o.hasBackground) view_->SetBackgroundStyle(o.background);
  if (o.fit)
    view_->Fit();
  else if (o.zoom > 0)
    view_->SetZoom(o.zoom);
  if (o.hasOrigin) {
    // Picture pixels to zoomed pixels; the view clamps to what it can show.
    int64_t x = int64_t(o.originX) * view_->GetZoom() / 100, y = int64_t(o.originY) * view_->GetZoom() / 100;
    view_->SetViewXY(int(x), int(y));
  }
  if (o.hasSelection) {
    // The command line gives picture pixels, whatever the zoom.
    TKVSelectionBase base = view_->GetSelectionBase();
    view_->SetSelectionBase(kvsbBitmap);
    view_->Select(o.selX1, o.selY1, o.selX2, o.selY2);
    view_->SetSelectionBase(base);
  }
  for (const QString& op : o.process) RunOp(op);
  SyncFromView();
  return opened;
}

QImage MainWindow::Render() {
  // Settle pending layout and resize events, then run the view's pending
  // paint so that the grab shows the current picture and selection outline.
  QCoreApplication::processEvents();
  view_->FlushPaint();
  return grab().toImage();
}

namespace {

// Runs the open or save dialog over the window with a file selected, grabs it
// once its preview is loaded, and cancels it.
QImage RenderDialog(MainWindow& w, const DemoOptions& opts, QString& error) {
  QTemporaryDir tmp;
  QString file = opts.open.isEmpty() ? QString() : QFileInfo(opts.open).absoluteFilePath();
  if (file.isEmpty()) {
    file = tmp.filePath("sample.png");
    QString why;
    if (!w.SaveFileAs(file, why)) {
      error = why;
      return {};
    }
  }
  std::unique_ptr<TOpenKorvaneDialog> dlg;
  if (opts.dialog == "save") {
    auto save = std::make_unique<TSaveKorvaneDialog>();
    save->SetAttachedKorvaneIO(w.IO());
    save->Title = "Save image as";
    SelectFilterOf(*save, QFileInfo(file).suffix());
    dlg = std::move(save);
  } else {
    dlg = std::make_unique<TOpenKorvaneDialog>();
    dlg->Title = "Open image";
  }
  dlg->MsgLanguage = w.Language();
  dlg->ParentWidget = &w;
  dlg->SetInitialDir(QFileInfo(file).absolutePath().toStdString());
  QImage img;
  TOpenKorvaneDialog* d = dlg.get();
  d->OnShow = [&img, d, file](TObject*) {
    QTimer::singleShot(0, [&img, d, file] {
      QFileDialog* fd = d->Dialog();
      fd->setAttribute(Qt::WA_DontShowOnScreen);
      fd->resize(860, 520);
      fd->selectFile(file);
      d->DoSelectionChange();
      QCoreApplication::processEvents();
      d->KorvaneView->FlushPaint();
      img = fd->grab().toImage();
      fd->reject();
    });
  };
  d->Execute();
  if (img.isNull()) error = "the dialog could not be rendered";
  return img;
}

}  // namespace

bool SaveScreenshot(const DemoOptions& opts, QString& error) {
  if (opts.camera) return SaveCameraScreenshot(opts.screenshot, error);
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.resize(kScreenshotWidth, kScreenshotHeight);
  w.show();
  QCoreApplication::processEvents();
  w.View()->SetScrollBars(opts.scrollBars ? ssBoth : ssNone);
  if (!w.ApplyOptions(opts, &error)) return false;
  QString why;
  QImage img = opts.dialog.isEmpty() ? w.Render() : RenderDialog(w, opts, why);
  if (!why.isEmpty()) {
    error = why;
    return false;
  }
  if (img.isNull()) {
    error = "the window could not be rendered";
    return false;
  }
  if (!img.save(opts.screenshot, "PNG")) {
    error = "cannot write " + opts.screenshot;
    return false;
  }
  return true;
}

}  // namespace korvane::demo
