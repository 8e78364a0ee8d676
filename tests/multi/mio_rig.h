// A multi-image view with the I/O component attached, for the multi tests.
#pragma once
#include <gtest/gtest.h>

#include <memory>

#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/multi/kvmview.h"
#include "tests/test_support.h"

namespace korvane::test {

struct Rig {
  Rig() {
    InstallKorvaneLZWCoders();
    view = std::make_unique<TKorvaneMView>(nullptr);
    view->SetBounds(0, 0, 300, 100);
    mio = std::make_unique<TKorvaneMIO>(nullptr);
    mio->SetAttachedMView(view.get());
  }
  // Appends n images of w x h, image i a pattern of seed base + i, shown
  // delay milliseconds each when delay is not negative.
  void Add(int n, int base, int w = 16, int h = 12, int delay = -1) {
    for (int i = 0; i < n; ++i) {
      TBitmap b;
      FillPattern24(b, w, h, unsigned(base + i));
      int idx = view->AppendImage();
      view->SetImage(idx, &b);
      if (delay >= 0) view->SetImageDelayTime(idx, delay);
    }
  }
  // The pixels of image idx, copied.
  void Pixels(int idx, TBitmap& out) {
    TBitmap* b = view->GetBitmap(idx);
    ASSERT_NE(b, nullptr);
    out.Assign(b);
    view->ReleaseBitmap(idx);
  }
  std::unique_ptr<TKorvaneMView> view;
  std::unique_ptr<TKorvaneMIO> mio;
};

}  // namespace korvane::test
