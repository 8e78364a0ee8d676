// The built-in source manager over SANE's own `test` backend (libsane1): the
// devices as sources, scans in every mode at 75 and 300 DPI compared with
// what scanimage gets from the same device, feeder pages through the
// multi-page callback, the two dialogs driven headless, and acquisitions that
// end early (a raising progress handler, a source window left open past the
// time limit) followed by one that works. SANE reads a
// private configuration (SANE_CONFIG_DIR) that enables only the test
// backend; the tests skip when libsane or the backend is missing.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>

#include "korvane/acquire/sane_dsm.h"
#include "korvane/acquire/twain.h"
#include "korvane/acquire/twain_dialog.h"
#include "korvane/foundations/host/graphics.h"
#include "korvane/io/kvio.h"
#include "korvane/multi/kvmio.h"
#include "korvane/view/kvview.h"
#include "tests/acquire/sane_support.h"
#include "tests/test_support.h"

using namespace korvane;
using korvane::test::HaveLibSane;
using korvane::test::SaneConfigDir;
namespace fs = std::filesystem;

namespace {

// A PNM file as scanimage writes it (P4, P5, P6), 0 = black in all.
struct Pnm {
  int type = 0, width = 0, height = 0;
  std::vector<uint8_t> data;
  size_t Row() const { return type == 4 ? size_t(width + 7) / 8 : size_t(width) * (type == 6 ? 3 : 1); }
  unsigned Pixel(int x, int y) const {
    const uint8_t* r = data.data() + size_t(y) * Row();
    if (type == 4) return (r[x / 8] & (0x80 >> (x % 8))) ? 0 : 0xFFFFFF;  // 1 is black
    if (type == 5) return r[x] * 0x010101u;
    return unsigned(r[x * 3]) << 16 | unsigned(r[x * 3 + 1]) << 8 | r[x * 3 + 2];
  }
};

// Runs scanimage on the same device and settings; false when it is missing
// or fails.
bool ScanImage(const std::string& args, Pnm& out) {
  const std::string file = SaneConfigDir() + "/scanimage.pnm";
  const std::string cmd = "SANE_CONFIG_DIR='" + SaneConfigDir() + "' scanimage --format=pnm " + args +
                          " > '" + file + "' 2>/dev/null";
  if (std::system(cmd.c_str()) != 0) return false;
  std::ifstream f(file, std::ios::binary);
  std::string magic;
  f >> magic;
  if (magic.size() != 2 || magic[0] != 'P') return false;
  out.type = magic[1] - '0';
  auto next = [&] {
    f >> std::ws;
    while (f.peek() == '#') f.ignore(1 << 20, '\n'), f >> std::ws;
    int v = 0;
    f >> v;
    return v;
  };
  out.width = next();
  out.height = next();
  if (out.type != 4) next();
  f.get();
  out.data.resize(out.Row() * size_t(out.height));
  f.read(reinterpret_cast<char*>(out.data.data()), std::streamsize(out.data.size()));
  return bool(f);
}

unsigned PixelOf(TBitmap& b, int x, int y) {
  if (b.PixelFormat() == pf1bit) return (b.Scanline(y)[x / 8] & (0x80 >> (x % 8))) ? 0xFFFFFF : 0;
  return test::Pixel24(b, x, y);
}

class SaneTwain : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HaveLibSane()) GTEST_SKIP() << "libsane1 is not installed (scripts/install-deps.sh installs it)";
    setenv("SANE_CONFIG_DIR", SaneConfigDir().c_str(), 1);
    setenv("KORVANE_TWAIN_DSM", "sane", 1);
    tp = std::make_unique<TKVTWainParams>();
    if (tp->GetSourceCount() == 0) GTEST_SKIP() << "SANE's test backend is not installed (libsane1)";
  }
  void TearDown() override { unsetenv("KORVANE_TWAIN_DSM"); }

  // Scan area from the top left corner, in inches, at dpi.
  void Configure(int pixelType, int dpi, double w, double h) {
    tp->SetVisibleDialog(false);
    tp->GetPixelType()->SetCurrentValue(pixelType);
    tp->GetXResolution()->SetCurrentValue(dpi);
    tp->GetYResolution()->SetCurrentValue(dpi);
    tp->SetAcquireFrame(0, 0);
    tp->SetAcquireFrame(1, 0);
    tp->SetAcquireFrame(2, w);
    tp->SetAcquireFrame(3, h);
  }
  bool Acquire(TBitmap& bmp, bool multi = false, const TKVTWMultiCallBack& cb = {}) {
    bool aborting = false;
    TProgressRec pr;
    pr.Aborting = &aborting;
    return KVTW_Acquire(nullptr, &bmp, multi, pr, &out, tp.get(), cb);
  }

  std::unique_ptr<TKVTWainParams> tp;
  TIOParamsVals out;
};

// Clicks a button of the first visible top-level dialog with the object
// name once it shows up (the dialogs run inside the acquisition's loop).
void ClickWhenShown(const char* dialog, const char* button, int row = -1) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [=] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->objectName() != dialog || !w->isVisible()) continue;
      if (row >= 0)
        if (auto* list = w->findChild<QListWidget*>()) list->setCurrentRow(row);
      for (QPushButton* b : w->findChildren<QPushButton*>())
        if (b->objectName() == button || b->text() == button) {
          timer->stop();
          timer->deleteLater();
          b->click();
          return;
        }
    }
  });
  timer->start(10);
}

}  // namespace

TEST_F(SaneTwain, DevicesAreSourcesNamedAfterTheDevice) {
  ASSERT_EQ(tp->GetSourceCount(), 2);
  EXPECT_EQ(tp->GetSourceName(0), "test:0");
  EXPECT_EQ(tp->GetSourceName(1), "test:1");
  const TW_IDENTITY* id = tp->GetSourceIdentity(1);
  ASSERT_NE(id, nullptr);
  EXPECT_EQ(TWStr(id->Manufacturer), "Noname");
  EXPECT_EQ(TWStr(id->ProductFamily), "frontend-tester");
  EXPECT_TRUE(tp->SelectSourceByName("TEST:1"));
  EXPECT_EQ(tp->GetSelectedSource(), 1);
  // The options came through as capabilities.
  EXPECT_DOUBLE_EQ(tp->GetXResolution()->RangeMax(), 1200);
  EXPECT_EQ(tp->GetPixelType()->Count(), 3);
  EXPECT_NEAR(tp->GetPhysicalWidth(), 200 / 25.4, 1e-3);
  EXPECT_TRUE(KVTW_LastCallInfo().BuiltinManager);

  // The manager opens a named source without listing the devices again
  // (the name and model come from the last list), a missing one is no
  // source, and no name is the first device.
  TW_IDENTITY app{}, parent{};
  auto dsm = [&](TW_UINT16 dat, TW_UINT16 msg, void* data) {
    return SaneDSM_Entry(&app, nullptr, DG_CONTROL, dat, msg, data);
  };
  ASSERT_EQ(dsm(DAT_PARENT, MSG_OPENDSM, &parent), TWRC_SUCCESS);
  TW_IDENTITY src{};
  SetTWStr(src.ProductName, "test:1");
  ASSERT_EQ(dsm(DAT_IDENTITY, MSG_OPENDS, &src), TWRC_SUCCESS);
  EXPECT_EQ(TWStr(src.ProductName), "test:1");
  EXPECT_EQ(TWStr(src.Manufacturer), "Noname");
  EXPECT_EQ(dsm(DAT_IDENTITY, MSG_CLOSEDS, &src), TWRC_SUCCESS);
  TW_IDENTITY missing{};
  SetTWStr(missing.ProductName, "test:7");
  EXPECT_EQ(dsm(DAT_IDENTITY, MSG_OPENDS, &missing), TWRC_FAILURE);
  TW_STATUS st{};
  ASSERT_EQ(dsm(DAT_STATUS, MSG_GET, &st), TWRC_SUCCESS);
  EXPECT_EQ(st.ConditionCode, TWCC_NODS);
  TW_IDENTITY first{};
  ASSERT_EQ(dsm(DAT_IDENTITY, MSG_OPENDS, &first), TWRC_SUCCESS);
  EXPECT_EQ(TWStr(first.ProductName), "test:0");
  EXPECT_EQ(dsm(DAT_IDENTITY, MSG_CLOSEDS, &first), TWRC_SUCCESS);
  EXPECT_EQ(dsm(DAT_PARENT, MSG_CLOSEDSM, &parent), TWRC_SUCCESS);
}

struct ScanCase {
  int pixelType;
  int dpi;
  bool buffered;
};
class SaneScan : public SaneTwain, public ::testing::WithParamInterface<ScanCase> {};

TEST_P(SaneScan, HasTheAreasSizeTheModesDepthAndTheDevicesPixels) {
  const ScanCase c = GetParam();
  Configure(c.pixelType, c.dpi, 2.0, 1.0);
  tp->SetBufferedTransfer(c.buffered);
  TBitmap bmp;
  ASSERT_TRUE(Acquire(bmp));
  EXPECT_EQ(KVTW_LastCallInfo().FinalState, 1);
  ASSERT_EQ(bmp.Width(), 2 * c.dpi);
  ASSERT_EQ(bmp.Height(), c.dpi);
  EXPECT_EQ(out.DpiX, c.dpi);
  EXPECT_EQ(out.DpiY, c.dpi);
  EXPECT_EQ(bmp.PixelFormat(), c.pixelType == TWPT_BW ? pf1bit : pf24bit);
  EXPECT_EQ(out.BitsPerSample, c.pixelType == TWPT_BW ? 1 : 8);
  EXPECT_EQ(out.SamplesPerPixel, c.pixelType == TWPT_RGB ? 3 : 1);
  // The colour pattern: pure blue ramps (red and blue not swapped), and the
  // gray frame of the pattern.
  if (c.pixelType == TWPT_RGB) {
    int blue = 0, red = 0;
    for (int y = 0; y < bmp.Height(); ++y)
      for (int x = 0; x < bmp.Width(); ++x) {
        const unsigned p = PixelOf(bmp, x, y);
        blue += (p & 0xFFFF00) == 0 && (p & 0xFF) > 200;
        red += (p & 0x00FFFF) == 0 && (p >> 16) > 200;
      }
    EXPECT_GT(blue, 0);
    EXPECT_GT(red, 0);
    EXPECT_EQ(PixelOf(bmp, 0, 0), 0x555555u);
  }
  const char* mode = c.pixelType == TWPT_RGB ? "Color" : "Gray";
  const std::string args = std::string("-d test:0 --mode ") + mode + " --depth " +
                           (c.pixelType == TWPT_BW ? "1" : "8") + " --resolution " + std::to_string(c.dpi) +
                           " -l 0 -t 0 -x 50.801 -y 25.401";
  Pnm ref;
  if (!ScanImage(args, ref)) GTEST_SKIP() << "scanimage (sane-utils) is not available to compare with";
  ASSERT_EQ(ref.width, bmp.Width());
  ASSERT_EQ(ref.height, bmp.Height());
  int bad = 0;
  for (int y = 0; y < bmp.Height(); ++y)
    for (int x = 0; x < bmp.Width(); ++x) bad += PixelOf(bmp, x, y) != ref.Pixel(x, y);
  EXPECT_EQ(bad, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, SaneScan,
                         ::testing::Values(ScanCase{TWPT_BW, 75, true}, ScanCase{TWPT_BW, 300, true},
                                           ScanCase{TWPT_GRAY, 75, true}, ScanCase{TWPT_GRAY, 300, true},
                                           ScanCase{TWPT_RGB, 75, true}, ScanCase{TWPT_RGB, 300, true},
                                           ScanCase{TWPT_BW, 75, false}, ScanCase{TWPT_GRAY, 75, false},
                                           ScanCase{TWPT_RGB, 75, false}));

TEST_F(SaneTwain, FeederDeliversEveryPageThroughTheCallback) {
  Configure(TWPT_RGB, 50, 1.0, 0.5);
  tp->SetFeederEnabled(true);
  int pages = 0;
  bool sized = true;
  TBitmap unused;
  ASSERT_TRUE(Acquire(unused, true, [&](TBitmap* b, TIOParamsVals*&) {
    ++pages;
    sized = sized && b->Width() == 50 && b->Height() == 25;
  }));
  EXPECT_EQ(pages, 10);  // the test backend's feeder holds ten
  EXPECT_TRUE(sized);
  EXPECT_EQ(KVTW_LastCallInfo().FinalState, 1);
  // Single-image mode takes one page and resets the others.
  TBitmap one;
  ASSERT_TRUE(Acquire(one));
  EXPECT_EQ(one.Width(), 50);
}

TEST_F(SaneTwain, MultiImageAcquireInsertsEveryFeederPage) {
  Configure(TWPT_RGB, 50, 1.0, 0.5);
  TKorvaneMView view(nullptr);
  view.resize(300, 200);
  TKorvaneMIO mio;
  mio.SetAttachedMView(&view);
  mio.TWainParams()->Assign(tp.get());
  mio.TWainParams()->SetFeederEnabled(true);
  view.InsertImage(0);
  TBitmap first(7, 5);
  view.SetImage(0, &first);
  ASSERT_TRUE(mio.Acquire());
  // The ten pages go in front of the selected image, in order, 100 ms each.
  ASSERT_EQ(view.GetImageCount(), 11);
  EXPECT_EQ(mio.GetParamsCount(), 11);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(view.GetImageDelayTime(i), 100);
    EXPECT_EQ(mio.GetParams(i)->Width, 50) << i;
  }
  EXPECT_EQ(view.GetImageWidth(10), 7);
}

TEST_F(SaneTwain, SourceWindowScansOrCancels) {
  Configure(TWPT_GRAY, 50, 1.0, 1.0);
  tp->SetVisibleDialog(true);
  TBitmap bmp;
  ClickWhenShown(kSourceUIDialogName, "scan");
  ASSERT_TRUE(Acquire(bmp));
  EXPECT_EQ(bmp.Width(), 50);
  TBitmap none;
  ClickWhenShown(kSourceUIDialogName, "cancel");
  EXPECT_FALSE(Acquire(none));
  EXPECT_TRUE(none.Empty());
  EXPECT_EQ(KVTW_LastCallInfo().FinalState, 1);
}

TEST_F(SaneTwain, SelectionDialogListsTheDevices) {
  std::string name;
  ClickWhenShown(kSourceSelectDialogName, "Select", 1);
  ASSERT_TRUE(KVTW_SelectImageSource(nullptr, name));
  EXPECT_EQ(name, "test:1");
  ClickWhenShown(kSourceSelectDialogName, "Cancel");
  name = "kept";
  EXPECT_FALSE(KVTW_SelectImageSource(nullptr, name));
  EXPECT_EQ(name, "kept");
}

// The image component acquires for a view's window: a progress handler that
// raises in the middle of the page leaves that window enabled and the
// device ready for the next scan.
TEST_F(SaneTwain, RaisingProgressHandlerLeavesTheWindowEnabled) {
  Configure(TWPT_GRAY, 75, 2.0, 2.0);
  TKorvaneView view(nullptr);
  view.SetBounds(0, 0, 200, 150);
  TKorvaneIO io(&view);
  io.SetAttachedKorvane(&view);
  io.TWainParams()->Assign(tp.get());
  io.OnProgress = [](TObject*, int per) {
    if (per >= 40) throw std::runtime_error("no room for the page");
  };
  EXPECT_THROW(io.Acquire(), std::runtime_error);
  EXPECT_TRUE(view.isEnabled());
  EXPECT_EQ(KVTW_LastCallInfo().FinalState, 1);
  io.OnProgress = nullptr;
  ASSERT_TRUE(io.Acquire());
  EXPECT_EQ(view.GetBitmap()->Width(), 150);
}

// Nobody answers the source window: the time limit closes it and the
// connection with an error; the next acquisition works.
TEST_F(SaneTwain, SourceWindowLeftOpenEndsAtTheTimeLimit) {
  Configure(TWPT_GRAY, 50, 1.0, 1.0);
  tp->SetVisibleDialog(true);
  tp->SetTimeLimit(500);
  TBitmap bmp;
  EXPECT_THROW(Acquire(bmp), ETWainError);
  EXPECT_TRUE(bmp.Empty());
  EXPECT_EQ(KVTW_LastCallInfo().FinalState, 1);
  for (QWidget* w : QApplication::topLevelWidgets())
    EXPECT_FALSE(w->objectName() == kSourceUIDialogName && w->isVisible());
  ClickWhenShown(kSourceUIDialogName, "scan");
  ASSERT_TRUE(Acquire(bmp));
  EXPECT_EQ(bmp.Width(), 50);
}

KORVANE_SANE_LEAK_SUPPRESSIONS()
