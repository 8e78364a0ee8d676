// Builders and pixel probes shared by the vector layer's tests.
#pragma once
#include <QPoint>
#include <initializer_list>
#include <memory>
#include <utility>

#include "korvane/vect/kvvect.h"

namespace korvane::vtest {

// A vector view with a client area of exactly cw x ch over a black bw x bh
// 24-bit bitmap.
std::unique_ptr<TKorvaneVect> MakeVect(int cw, int ch, int bw, int bh);

// Adds an object of a kind with a white solid pen and a clear brush.
int AddKind(TKorvaneVect& v, TKVVObjectKind kind, int x1, int y1, int x2, int y2);

// The view painted (picture and objects) into a 24-bit bitmap of its client
// size.
void Render(TKorvaneVect& v, TBitmap& out);

// Pixels of a color (0xRRGGBB) in a 24-bit bitmap, their bounding box, and
// whether one lies within r pixels of (x, y).
int CountColor(TBitmap& b, unsigned rgb);
TRect InkBounds(TBitmap& b, unsigned rgb);
bool InkNear(TBitmap& b, int x, int y, unsigned rgb, int r);

// Widget position of a client point.
QPoint W(TKorvaneVect& v, int x, int y);

// Press at a client point, move through the others (with the modifiers held)
// and release at the last one.
void Drag(TKorvaneVect& v, std::pair<int, int> from, std::initializer_list<std::pair<int, int>> path,
          Qt::KeyboardModifiers mods = Qt::NoModifier);

// True when the two layers hold the same objects in the same tree order
// (indices may differ) with the same bitmaps; the failing field is reported.
::testing::AssertionResult SameLayer(TKorvaneVect& a, TKorvaneVect& b);

}  // namespace korvane::vtest
