// The demo's annotation mode: an Annotate menu over the window's vector view
// for inserting lines with arrows, boxes, ellipses, text and the picture as
// a stamp; selecting, moving and resizing them; measuring lengths and areas
// in a chosen unit with a scale taken from a known length; saving and opening
// KVV layers, importing DXF drawings, and burning the objects into the
// picture.
#pragma once
#include <QMainWindow>
#include <QString>
#include <functional>

#include "korvane/vect/kvvect.h"

namespace korvane::demo {

// What the window does around the layer: show it (before a mode is set),
// take the layer's picture after objects were burned into it, and go back to
// the picture.
struct AnnotateHooks {
  std::function<void()> enter;
  std::function<void()> burned;
  std::function<void()> leave;
};

// Adds the Annotate menu to the window's menu bar; its actions work on v.
void BuildAnnotateMenu(QMainWindow* window, TKorvaneVect* v, const AnnotateHooks& hooks = {});

// The template settings each insertion mode uses (red outlines, filled arrow
// heads, the word "Text"), applied when the mode is chosen.
void PrepareInsertion(TKorvaneVect* v, TKVMouseInteractVtItems mode);

// Makes a copy of the picture, at most 160 pixels on its longer side, the
// template's bitmap for stamps.
void TakeStampFromPicture(TKorvaneVect* v);

}  // namespace korvane::demo
