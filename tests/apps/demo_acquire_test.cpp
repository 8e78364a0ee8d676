// The demo's File > Acquire over SANE's test backend: the scan lands in the
// view; without sources the status bar says no image arrived.
#include <gtest/gtest.h>

#ifdef KORVANE_DEMO_WINDOW

#include <QAction>
#include <QStatusBar>

#include "apps/korvane-demo/mainwindow.h"
#include "korvane/acquire/twain.h"
#include "korvane/view/kvview.h"
#include "tests/acquire/sane_support.h"

using namespace korvane;
using namespace korvane::demo;

TEST(DemoAcquire, ScanLandsInTheViewOrTheStatusBarSaysWhy) {
  if (!test::HaveLibSane()) GTEST_SKIP() << "libsane1 is not installed";
  setenv("SANE_CONFIG_DIR", test::SaneConfigDir().c_str(), 1);
  setenv("KORVANE_TWAIN_DSM", "sane", 1);
  MainWindow w;
  w.setAttribute(Qt::WA_DontShowOnScreen);
  w.show();
  TKVTWainParams* tp = w.IO()->TWainParams();
  if (tp->GetSourceCount() == 0) GTEST_SKIP() << "SANE's test backend is not installed";
  tp->SetVisibleDialog(false);
  tp->GetXResolution()->SetCurrentValue(40);
  tp->GetYResolution()->SetCurrentValue(40);
  for (int i = 0; i < 4; ++i) tp->SetAcquireFrame(i, i == 2 ? 3 : i == 3 ? 2 : 0);
  auto* acquire = w.findChild<QAction*>("acquire");
  ASSERT_NE(acquire, nullptr);
  acquire->trigger();
  TBitmap* b = w.IO()->GetAttachedKorvane()->GetBitmap();
  EXPECT_EQ(b->Width(), 120);
  EXPECT_EQ(b->Height(), 80);
  EXPECT_EQ(w.windowTitle(), "Scanned image - Korvane demo");

  setenv("KORVANE_TWAIN_DSM", "/nonexistent/libtwaindsm.so", 1);
  tp->SetDefaultParams();
  acquire->trigger();
  EXPECT_EQ(w.statusBar()->currentMessage(), "No image was acquired");
  EXPECT_EQ(b->Width(), 120);
  unsetenv("KORVANE_TWAIN_DSM");
}

KORVANE_SANE_LEAK_SUPPRESSIONS()

#endif  // KORVANE_DEMO_WINDOW
