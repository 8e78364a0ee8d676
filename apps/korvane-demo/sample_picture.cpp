// The demo's sample picture: six panels drawn for judging zoom and the zoom
// filters.
#include <QPainter>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "apps/korvane-demo/mainwindow.h"
#include "korvane/foundations/host/graphics.h"

namespace korvane::demo {

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

}  // namespace korvane::demo
