// The demo's Image menu: undo and the clipboard, color adjustments and depth
// conversions, filters, transforms and effects with fixed settings, the
// processing previews, and the magic wand's selection.
#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include "apps/korvane-demo/mainwindow.h"
#include "apps/korvane-demo/menu_tables.h"
#include "apps/korvane-demo/more_ops.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/pixels/bitmap_procs.h"

namespace korvane::demo {

void MainWindow::BuildImageMenu() {
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

  QMenu* image = menuBar()->addMenu("&Image");
  for (auto& [a, key] : image_actions_) {
    image->addAction(a);
    if (key == "redo" || key == "pastesel") image->addSeparator();
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
  connect(previews, &QAction::triggered, this, [this] {
    Modify([this] { view_->DoPreviews({peAll}); });
    SyncFromView();
  });
  image->addAction(previews);
  AddMoreOperations(image, this);
}

bool MainWindow::RunOp(const QString& op) {
  LeaveAnnotation();
  TKorvaneProc* p = view_->Proc();
  const std::map<QString, std::function<void()>> ops = {
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
  if (op == "undo")
    UndoPicture();
  else if (op == "redo")
    RedoPicture();
  else if (op == "copy" || op == "deselect")
    ops.at(op)();
  else if (auto it = ops.find(op); it != ops.end())
    Modify(it->second);
  else if (ParseWand(op, x, y))
    WandSelect(x, y);
  else if (ParseColors(op, x))
    Modify([p, x] { p->ConvertTo(x); });
  else
    return false;
  SyncFromView();
  return true;
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

}  // namespace korvane::demo
