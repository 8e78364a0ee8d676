// TWAIN acquisition against the scripted source manager of plugin/: source
// list and selection, capability reading and negotiation, memory and native
// transfers of every depth, single and multi-page feeder runs, the user's
// cancel, hostile strips and DIBs, strips that cannot be copied, a silent
// source, raising handlers, and the connection closed back to state 1 after
// every call.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "korvane/acquire/twain.h"
#include "korvane/acquire/twain_caps.h"
#include "korvane/acquire/twain_session.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/io/kvio.h"
#include "tests/acquire/plugin/fake_dsm.h"
#include "tests/test_support.h"

using namespace korvane;

namespace {

// The fake's control functions, from the same library the TWAIN layer loads.
struct FakeApi {
  void* lib = nullptr;
  void (*Reset)() = nullptr;
  void (*AddSource)(const FakeSourceSpec*) = nullptr;
  FakeLog* (*Log)() = nullptr;
  unsigned (*Pixel)(int, int, int, int) = nullptr;
  FakeApi() {
    lib = dlopen(KV_FAKE_DSM, RTLD_NOW | RTLD_LOCAL);
    if (!lib) return;
    Reset = reinterpret_cast<void (*)()>(dlsym(lib, "FakeDSM_Reset"));
    AddSource = reinterpret_cast<void (*)(const FakeSourceSpec*)>(dlsym(lib, "FakeDSM_AddSource"));
    Log = reinterpret_cast<FakeLog* (*)()>(dlsym(lib, "FakeDSM_Log"));
    Pixel = reinterpret_cast<unsigned (*)(int, int, int, int)>(dlsym(lib, "FakeDSM_Pixel"));
  }
};
FakeApi& Fake() {
  static FakeApi api;
  return api;
}

FakeSourceSpec Spec(const char* name, int bpp = 24) {
  FakeSourceSpec s;
  std::memset(&s, 0, sizeof s);
  std::strncpy(s.name, name, 33);
  std::strncpy(s.manufacturer, "Fake Co", 33);
  s.width = 37;
  s.height = 50;
  s.bpp = bpp;
  s.pages = 1;
  s.stripRows = 7;
  s.useCallback = 1;
  return s;
}

// Pixel of a 1- or 24-bit bitmap as 0xRRGGBB.
unsigned PixelOf(TBitmap& b, int x, int y) {
  if (b.PixelFormat() == pf1bit) return (b.Scanline(y)[x / 8] & (0x80 >> (x % 8))) ? 0xFFFFFF : 0;
  return test::Pixel24(b, x, y);
}

// Number of pixels that differ from the fake's page.
int Mismatches(TBitmap& b, int bpp, int page) {
  int bad = 0;
  for (int y = 0; y < b.Height(); ++y)
    for (int x = 0; x < b.Width(); ++x) bad += PixelOf(b, x, y) != Fake().Pixel(bpp, page, x, y);
  return bad;
}

class FakeTwain : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Fake().lib) GTEST_SKIP() << "fake source manager not loadable: " << KV_FAKE_DSM;
    setenv("KORVANE_TWAIN_DSM", KV_FAKE_DSM, 1);
    Fake().Reset();
  }
  void TearDown() override { unsetenv("KORVANE_TWAIN_DSM"); }
  FakeLog& Log() { return *Fake().Log(); }
  void Add(const FakeSourceSpec& s) { Fake().AddSource(&s); }

  // Every connection opened was closed, in order, and the layer ended at 1.
  void ExpectClosed() {
    EXPECT_EQ(KVTW_LastCallInfo().FinalState, 1);
    EXPECT_EQ(Log().openDSM, Log().closeDSM);
    EXPECT_EQ(Log().openDS, Log().closeDS);
    EXPECT_EQ(Log().enable, Log().disable);
    EXPECT_EQ(Log().errors, 0);
  }

  bool Acquire(TBitmap& bmp, TKVTWainParams& tp, bool multi = false, const TKVTWMultiCallBack& cb = {}) {
    TProgressRec pr;
    bool aborting = false;
    pr.Aborting = &aborting;
    pr.OnProgress = [this](TObject*, int per) { progress.push_back(per); };
    return KVTW_Acquire(nullptr, &bmp, multi, pr, &out, &tp, cb);
  }

  TIOParamsVals out;
  std::vector<int> progress;
};

}  // namespace

TEST(TwainContainers, Fix32ConversionsRoundAndSplit) {
  const TW_FIX32 f = FloatToFix32(300.25);
  EXPECT_EQ(f.Whole, 300);
  EXPECT_EQ(f.Frac, 0x4000);
  EXPECT_DOUBLE_EQ(Fix32ToFloat(f), 300.25);
  const TW_FIX32 n = FloatToFix32(-1.5);  // trunc(-98304 + 0.5) = -98303
  EXPECT_EQ(n.Whole, -2);
  EXPECT_EQ(n.Frac, 0x8001);
  EXPECT_EQ(Fix32FromBits(Fix32Bits(f)).Whole, 300);
  EXPECT_EQ(FloatToFix32(1e9).Whole, 32767);  // saturates
}

TEST(TwainContainers, ListsRoundTripThroughEveryContainer) {
  TTWainMemory mem;
  TKVDoubleList d;
  d.Add(75), d.Add(150), d.Add(300.5);
  d.SetCurrentValue(150);
  TW_CAPABILITY c{ICAP_XRESOLUTION, TWON_ENUMERATION, MakeDoubleEnumeration(mem, d)};
  TKVDoubleList back;
  ASSERT_TRUE(ReadDoubleContainer(mem, c, back));
  ASSERT_EQ(back.Count(), 3);
  EXPECT_DOUBLE_EQ(back.GetItem(2), 300.5);
  EXPECT_DOUBLE_EQ(back.CurrentValue(), 150);
  mem.Free(c.hContainer);

  d.SetRangeMin(50), d.SetRangeMax(1200), d.SetRangeStep(0.5);
  c = TW_CAPABILITY{ICAP_XRESOLUTION, TWON_RANGE, MakeDoubleRange(mem, d)};
  ASSERT_TRUE(ReadDoubleContainer(mem, c, back));
  EXPECT_EQ(back.Count(), 0);
  EXPECT_DOUBLE_EQ(back.RangeMax(), 1200);
  EXPECT_DOUBLE_EQ(back.RangeStep(), 0.5);
  EXPECT_DOUBLE_EQ(back.CurrentValue(), 150);
  mem.Free(c.hContainer);

  TKVIntegerList il;
  il.Add(0), il.Add(1), il.Add(7);
  il.SetCurrentValue(7);
  c = TW_CAPABILITY{ICAP_PIXELTYPE, TWON_ENUMERATION, MakeIntegerEnumeration(mem, il, 2)};
  TKVIntegerList ib;
  ASSERT_TRUE(ReadIntegerContainer(mem, c, ib));
  EXPECT_EQ(ib.GetItem(2), 2);  // above the maximum: sent as it
  EXPECT_EQ(ib.CurrentValue(), 2);
  mem.Free(c.hContainer);

  c = TW_CAPABILITY{CAP_INDICATORS, TWON_ONEVALUE, MakeOneValue(mem, TWTY_BOOL, 0xFFFF)};
  double v = 0;
  ASSERT_TRUE(ReadCurrentValue(mem, c, v));
  EXPECT_EQ(v, 65535);
  c.ConType = 42;  // unknown container kind
  EXPECT_FALSE(ReadIntegerContainer(mem, c, ib));
  mem.Free(c.hContainer);
}

TEST(TwainContainers, CountsBeyondTheBlockAreRefused) {
  TTWainMemory mem;
  // An enumeration claiming 1000 items in a block holding two.
  TW_ENUMERATION e{TWTY_UINT16, 1000, 0, 0};
  auto* p = static_cast<uint8_t*>(mem.Alloc(sizeof e + 4));
  std::memcpy(p, &e, sizeof e);
  TW_CAPABILITY c{ICAP_PIXELTYPE, TWON_ENUMERATION, p};
  TKVIntegerList l;
  EXPECT_FALSE(ReadIntegerContainer(mem, c, l));
  EXPECT_EQ(l.Count(), 0);
  // A current index past the items gives the items and no current value.
  e.NumItems = 2;
  e.CurrentIndex = 9;
  std::memcpy(p, &e, sizeof e);
  EXPECT_TRUE(ReadIntegerContainer(mem, c, l));
  EXPECT_EQ(l.Count(), 2);
  EXPECT_EQ(l.Changed() & kvlChangedCurrent, 0);
  mem.Free(p);
}

TEST(TwainStrips, CopiesClipToBitmapAndBuffer) {
  TBitmap bmp;
  bmp.Allocate(10, 4, pf24bit);
  std::vector<uint8_t> mem(64, 0x11);
  TW_IMAGEMEMXFER x{};
  x.BytesPerRow = 30, x.Columns = 1000, x.Rows = 1000, x.XOffset = 8, x.YOffset = 2;
  CopyTWainStrip(&bmp, 24, x, mem.data(), mem.size());
  EXPECT_EQ(test::Pixel24(bmp, 9, 3), 0x111111u);  // written inside
  EXPECT_EQ(test::Pixel24(bmp, 7, 3), 0u);         // left of XOffset untouched
  x.XOffset = 0xFFFFFFF0u;                         // far outside: nothing
  CopyTWainStrip(&bmp, 24, x, mem.data(), mem.size());
  // A row length beyond the buffer stops at the buffer's end.
  TBitmap bw;
  bw.Allocate(64, 8, pf1bit);
  x = TW_IMAGEMEMXFER{};
  x.BytesPerRow = 1u << 30, x.Columns = 64, x.Rows = 8;
  std::vector<uint8_t> bits(3, 0xFF);
  CopyTWainStrip(&bw, 1, x, bits.data(), bits.size());
  EXPECT_EQ(bw.Scanline(0)[2], 0xFF);
  EXPECT_EQ(bw.Scanline(0)[3], 0);
  EXPECT_EQ(bw.Scanline(1)[0], 0);
}

TEST_F(FakeTwain, NoManagerMeansNoSourcesAndNoImage) {
  for (const char* path : {"/nonexistent/libtwaindsm.so", KV_NO_ENTRY_DSM}) {
    setenv("KORVANE_TWAIN_DSM", path, 1);
    TKVTWainParams tp;
    EXPECT_EQ(tp.GetSourceCount(), 0) << path;
    TBitmap bmp;
    EXPECT_FALSE(Acquire(bmp, tp)) << path;
    EXPECT_EQ(KVTW_LastCallInfo().FinalState, 1);
    std::string name = "kept";
    EXPECT_FALSE(KVTW_SelectImageSource(nullptr, name));
    EXPECT_EQ(name, "kept");
    EXPECT_EQ(Log().openDSM, 0);
  }
}

TEST_F(FakeTwain, SourcesAreListedAndChosenByNamePrefix) {
  Add(Spec("Acme Flatbed"));
  Add(Spec("HP ScanJet 5"));
  Add(Spec("hp OfficeJet"));
  TKVTWainParams tp;
  ASSERT_EQ(tp.GetSourceCount(), 3);
  EXPECT_EQ(tp.GetSourceName(1), "HP ScanJet 5");
  EXPECT_EQ(tp.GetSourceName(3), "");
  EXPECT_EQ(tp.GetSourceIdentity(-1), nullptr);
  EXPECT_TRUE(tp.SelectSourceByName("hp"));
  EXPECT_EQ(tp.GetSelectedSource(), 1);
  EXPECT_TRUE(tp.SelectSourceByName("HP OFFICE"));
  EXPECT_EQ(tp.GetSelectedSource(), 2);
  EXPECT_FALSE(tp.SelectSourceByName("HP OfficeJet Pro"));
  EXPECT_EQ(tp.GetSelectedSource(), 2);
  std::string chosen;
  EXPECT_TRUE(KVTW_SelectImageSource(nullptr, chosen));
  EXPECT_EQ(chosen, "HP ScanJet 5");
  ExpectClosed();
}

TEST_F(FakeTwain, CapabilitiesAreReadWithTheirFallbacks) {
  FakeSourceSpec s = Spec("Plain");
  s.noXScaling = s.noIndicators = 1;
  Add(s);
  TKVTWainParams tp;
  EXPECT_DOUBLE_EQ(tp.GetXResolution()->RangeMax(), 600);
  EXPECT_DOUBLE_EQ(tp.GetXResolution()->CurrentValue(), 100);
  ASSERT_EQ(tp.GetXScaling()->Count(), 1);
  EXPECT_DOUBLE_EQ(tp.GetXScaling()->GetItem(0), 1.0);
  ASSERT_EQ(tp.GetYScaling()->Count(), 3);  // this one the source has
  EXPECT_DOUBLE_EQ(tp.GetYScaling()->GetItem(0), 0.5);
  EXPECT_TRUE(tp.GetIndicators());
  EXPECT_EQ(tp.GetPixelType()->CurrentValue(), 2);
  EXPECT_EQ(tp.GetOrientation()->Count(), 2);
  EXPECT_NEAR(tp.GetGamma(), 1.8, 1e-4);
  EXPECT_DOUBLE_EQ(tp.GetPhysicalHeight(), 11.75);
  EXPECT_DOUBLE_EQ(tp.GetAcquireFrame(2), 8.5);
  // Values read from the source are not changes to send back.
  EXPECT_EQ(tp.GetXResolution()->Changed(), 0);
  EXPECT_EQ(tp.GetPixelType()->Changed(), 0);
  ExpectClosed();

  TKVTWainParams copy;
  copy.Assign(&tp);
  EXPECT_EQ(copy.GetSourceName(0), "Plain");
  EXPECT_EQ(copy.GetYScaling()->Count(), 3);
  copy.SetDefaultParams();
  EXPECT_DOUBLE_EQ(copy.GetAcquireFrame(2), 8.5);  // read again on use
}

TEST_F(FakeTwain, OnlyChangesAreSentAndPixelTypesAboveRGBSentAsRGB) {
  Add(Spec("Scanner"));
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  tp.GetPixelType()->SetCurrentValue(3);
  tp.GetXResolution()->SetCurrentValue(300);
  tp.SetFeederEnabled(true);
  tp.SetAcquireFrame(0, 0.5);
  tp.SetAcquireFrame(3, 2.25);
  TBitmap bmp;
  ASSERT_TRUE(Acquire(bmp, tp));
  EXPECT_EQ(Log().pixelTypeCon, TWON_ONEVALUE);
  EXPECT_EQ(Log().pixelTypeSent, 2);
  EXPECT_EQ(Log().bitDepth, 24);
  EXPECT_EQ(Log().chunky, TWPC_CHUNKY);
  EXPECT_EQ(Log().compression, TWCP_NONE);
  EXPECT_EQ(Log().units, TWUN_INCHES);
  EXPECT_EQ(Log().xferMech, TWSX_MEMORY);
  EXPECT_EQ(Log().xresCon, TWON_ONEVALUE);
  EXPECT_DOUBLE_EQ(Log().xresSent, 300);
  EXPECT_EQ(Log().feeder, 1);
  EXPECT_EQ(Log().indicators, 0);  // as read from the source
  EXPECT_EQ(Log().layoutSets, 1);
  EXPECT_DOUBLE_EQ(Log().frame[0], 0.5);
  EXPECT_DOUBLE_EQ(Log().frame[3], 2.25);
  EXPECT_EQ(Log().showUI, 0);

  // Items changed: an enumeration whose items above 2 are lowered too; a
  // changed range goes as a range.
  Fake().Reset();
  Add(Spec("Scanner"));
  TKVTWainParams tp2;
  tp2.SetVisibleDialog(false);
  TKVIntegerList* pt = tp2.GetPixelType();
  pt->Clear();
  pt->Add(1), pt->Add(5);
  pt->SetCurrentValue(1);
  tp2.GetXResolution()->SetRangeMax(400);
  ASSERT_TRUE(Acquire(bmp, tp2));
  EXPECT_EQ(Log().pixelTypeCon, TWON_ENUMERATION);
  ASSERT_EQ(Log().pixelTypeCount, 2);
  EXPECT_EQ(Log().pixelTypeItems[1], 2);
  EXPECT_EQ(Log().pixelTypeSent, 1);
  EXPECT_EQ(Log().bitDepth, 8);
  EXPECT_EQ(Log().xresCon, TWON_RANGE);
  EXPECT_DOUBLE_EQ(Log().xresMax, 400);
  ExpectClosed();
}

// Every depth through memory strips and through native DIBs, and both ways a
// source notifies (callback or MSG_PROCESSEVENT).
struct TransferCase {
  int bpp;
  bool buffered;
  bool callback;
};
class FakeTransfer : public FakeTwain, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(FakeTransfer, DeliversTheSourcesPixels) {
  const TransferCase c = GetParam();
  FakeSourceSpec s = Spec("Scanner", c.bpp);
  s.useCallback = c.callback;
  Add(s);
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  tp.SetBufferedTransfer(c.buffered);
  TBitmap bmp;
  ASSERT_TRUE(Acquire(bmp, tp));
  ASSERT_EQ(bmp.Width(), 37);
  ASSERT_EQ(bmp.Height(), 50);
  EXPECT_EQ(bmp.PixelFormat(), c.bpp == 1 ? pf1bit : pf24bit);
  EXPECT_EQ(Mismatches(bmp, c.bpp, 0), 0);
  EXPECT_EQ(out.Width, 37);
  EXPECT_EQ(out.DpiX, 150);
  EXPECT_EQ(out.DpiY, 200);
  EXPECT_EQ(out.SamplesPerPixel, c.bpp == 24 ? 3 : 1);
  EXPECT_EQ(out.BitsPerSample, c.bpp == 24 ? 8 : c.bpp);
  if (c.buffered) {
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 100);
    for (size_t i = 1; i < progress.size(); ++i) EXPECT_GE(progress[i], progress[i - 1]);
  }
  if (!c.callback) {
    EXPECT_GT(Log().processEvents, 0);
  }
  ExpectClosed();
}

INSTANTIATE_TEST_SUITE_P(Depths, FakeTransfer,
                         ::testing::Values(TransferCase{24, true, true}, TransferCase{8, true, true},
                                           TransferCase{1, true, true}, TransferCase{24, false, true},
                                           TransferCase{8, false, true}, TransferCase{1, false, true},
                                           TransferCase{24, true, false}));

TEST_F(FakeTwain, SourceRefusingMemoryIsAcquiredNatively) {
  FakeSourceSpec s = Spec("Scanner");
  s.refuseMemory = 1;
  Add(s);
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  ASSERT_TRUE(tp.GetBufferedTransfer());
  TBitmap bmp;
  ASSERT_TRUE(Acquire(bmp, tp));
  EXPECT_EQ(Log().xferMech, -1);  // never accepted
  EXPECT_EQ(Mismatches(bmp, 24, 0), 0);
  EXPECT_TRUE(progress.empty());
  ExpectClosed();
}

TEST_F(FakeTwain, SingleImageModeTakesTheFirstFeederPageAndResetsTheRest) {
  FakeSourceSpec s = Spec("Feeder");
  s.pages = 3;
  Add(s);
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  TBitmap bmp;
  ASSERT_TRUE(Acquire(bmp, tp));
  EXPECT_EQ(Log().pagesDone, 1);
  EXPECT_EQ(Log().endXfer, 1);
  EXPECT_EQ(Log().reset, 1);
  EXPECT_EQ(Mismatches(bmp, 24, 0), 0);
  ExpectClosed();
}

TEST_F(FakeTwain, MultiPageModeHandsEveryPageToTheCallback) {
  FakeSourceSpec s = Spec("Feeder", 8);
  s.pages = 3;
  Add(s);
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  std::vector<std::unique_ptr<TBitmap>> pages;
  std::vector<std::unique_ptr<TIOParamsVals>> recs;
  auto cb = [&](TBitmap* b, TIOParamsVals*& p) {
    pages.push_back(std::make_unique<TBitmap>());
    pages.back()->Assign(b);
    recs.push_back(std::make_unique<TIOParamsVals>());
    p = recs.back().get();
  };
  TBitmap unused;
  ASSERT_TRUE(Acquire(unused, tp, true, cb));
  ASSERT_EQ(pages.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(Mismatches(*pages[size_t(i)], 8, i), 0) << "page " << i;
    EXPECT_EQ(recs[size_t(i)]->Height, 50);
    EXPECT_EQ(recs[size_t(i)]->BitsPerSample, 8);
  }
  EXPECT_TRUE(unused.Empty());
  EXPECT_EQ(Log().reset, 0);
  ExpectClosed();
}

TEST_F(FakeTwain, CancelInTheSourcesDialogEndsWithNoImage) {
  FakeSourceSpec s = Spec("Scanner");
  s.cancelInUI = 1;
  Add(s);
  TKVTWainParams tp;  // dialog visible by default
  TBitmap bmp;
  EXPECT_FALSE(Acquire(bmp, tp));
  EXPECT_TRUE(bmp.Empty());
  EXPECT_EQ(Log().showUI, 1);
  EXPECT_EQ(Log().pagesDone, 0);
  ExpectClosed();
}

TEST_F(FakeTwain, AbortFromTheProgressEventEndsTheConnection) {
  Add(Spec("Scanner"));
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  TBitmap bmp;
  TProgressRec pr;
  bool aborting = false;
  pr.Aborting = &aborting;
  pr.OnProgress = [&](TObject*, int per) { aborting = per > 20; };
  EXPECT_FALSE(KVTW_Acquire(nullptr, &bmp, false, pr, &out, &tp));
  EXPECT_EQ(Log().pagesDone, 0);
  ExpectClosed();
}

// Failures at every step close what was opened and report no image.
enum Failure { kFailOpen, kFailEnable, kXferFailure, kXferCancel, kNativeFailure, kBadDib };
class FakeFailure : public FakeTwain, public ::testing::WithParamInterface<Failure> {};

TEST_P(FakeFailure, EndsInStateOneWithNoImage) {
  FakeSourceSpec s = Spec("Scanner");
  s.pages = 2;
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  switch (GetParam()) {
    case kFailOpen:
      s.failOpen = 1;
      break;
    case kFailEnable:
      s.failEnable = 1;
      break;
    case kXferFailure:
      s.xferResult = 1;
      break;
    case kXferCancel:
      s.xferResult = 2;
      break;
    case kNativeFailure:
      s.xferResult = 1, tp.SetBufferedTransfer(false);
      break;
    case kBadDib:
      s.badDib = 1, tp.SetBufferedTransfer(false);
      break;
  }
  Add(s);
  TBitmap bmp;
  EXPECT_FALSE(Acquire(bmp, tp));
  ExpectClosed();
  if (GetParam() == kFailOpen || GetParam() == kFailEnable) {
    EXPECT_EQ(KVTW_LastCallInfo().ConditionCode, TWCC_OPERATIONERROR);
  }
  // Multi-page mode stops at the failed page as well.
  Fake().Reset();
  Add(s);
  int calls = 0;
  TBitmap unused;
  EXPECT_FALSE(Acquire(unused, tp, true, [&](TBitmap*, TIOParamsVals*&) { ++calls; }));
  EXPECT_LE(calls, 1);
  ExpectClosed();
}

INSTANTIATE_TEST_SUITE_P(Steps, FakeFailure,
                         ::testing::Values(kFailOpen, kFailEnable, kXferFailure, kXferCancel, kNativeFailure,
                                           kBadDib));

TEST_F(FakeTwain, HostileStripsStayInsideBitmapAndBuffer) {
  FakeSourceSpec s = Spec("Scanner");
  s.badStrips = 1;
  Add(s);
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  TBitmap bmp;
  Acquire(bmp, tp);  // the sanitizers watch the copies
  EXPECT_EQ(bmp.Width(), 37);
  for (int p : progress) EXPECT_LE(p, 100);
  ExpectClosed();
}

TEST_F(FakeTwain, KorvaneIOAcquiresIntoItsTarget) {
  Add(Spec("Scanner"));
  TKorvaneIO io;
  TBitmap bmp;
  io.SetAttachedBitmap(&bmp);
  io.TWainParams()->SetVisibleDialog(false);
  ASSERT_TRUE(io.Acquire());
  EXPECT_EQ(Mismatches(bmp, 24, 0), 0);
  EXPECT_EQ(io.Params()->DpiY, 200);
  EXPECT_FALSE(io.SelectAcquireSource());  // the fake offers a choice only among two or more
  Add(Spec("Other"));
  io.TWainParams()->SetDefaultParams();
  EXPECT_TRUE(io.SelectAcquireSource());
  EXPECT_EQ(io.TWainParams()->GetSelectedSource(), 1);
  ExpectClosed();
}

// Memory transfers the layer cannot copy never come back as a blank page: a
// source that will not send uncompressed strips is acquired natively, and
// one that agrees and then sends compressed, 4-, 16- or 48-bit strips ends
// the acquisition with an error, in both modes, with no page handed over.
TEST_F(FakeTwain, StripsThatCannotBeCopiedAreAvoidedOrRaise) {
  FakeSourceSpec packer = Spec("Packer");
  packer.stripCompression = TWCP_PACKBITS;
  packer.refuseNoCompression = 1;
  Add(packer);
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  TBitmap bmp;
  ASSERT_TRUE(Acquire(bmp, tp));
  EXPECT_EQ(Log().xferMech, -1);  // memory transfer never asked for
  EXPECT_EQ(Mismatches(bmp, 24, 0), 0);
  ExpectClosed();

  struct Odd {
    int bpp, compression;
  };
  for (const Odd o : {Odd{24, TWCP_PACKBITS}, Odd{4, TWCP_NONE}, Odd{16, TWCP_NONE}, Odd{48, TWCP_NONE}}) {
    SCOPED_TRACE(o.bpp);
    FakeSourceSpec s = Spec("Odd", o.bpp);
    s.stripCompression = o.compression;
    s.pages = 2;
    for (const bool multi : {false, true}) {
      Fake().Reset();
      Add(s);
      TKVTWainParams tq;
      tq.SetVisibleDialog(false);
      TBitmap single;
      int pages = 0;
      try {
        Acquire(single, tq, multi, [&](TBitmap*, TIOParamsVals*&) { ++pages; });
        ADD_FAILURE() << "a page that could not be copied was reported as acquired";
      } catch (const ETWainError& e) {
        EXPECT_STREQ(e.what(), "TWAIN image format not supported");
      }
      EXPECT_EQ(pages, 0);
      ExpectClosed();
    }
  }
}

// A source that never says anything ends at the time limit, closed down to
// state 1, whichever way it would have notified.
TEST_F(FakeTwain, SilentSourceEndsAtTheTimeLimit) {
  for (const int callback : {1, 0}) {
    Fake().Reset();
    FakeSourceSpec s = Spec("Mute");
    s.silent = 1;
    s.useCallback = callback;
    Add(s);
    TKVTWainParams tp;
    tp.SetVisibleDialog(false);
    EXPECT_EQ(tp.GetTimeLimit(), TKVTWainParams::kDefaultTimeLimit);
    tp.SetTimeLimit(300);
    TBitmap bmp;
    QElapsedTimer clock;
    clock.start();
    try {
      Acquire(bmp, tp);
      ADD_FAILURE() << "the wait for a silent source did not end with an error";
    } catch (const ETWainError& e) {
      EXPECT_STREQ(e.what(), "TWAIN source did not answer");
    }
    EXPECT_GE(clock.elapsed(), 300);
    EXPECT_LT(clock.elapsed(), 10000);
    EXPECT_TRUE(bmp.Empty());
    ExpectClosed();
  }
}

// A page callback or a progress handler that raises: the exception reaches
// the caller, the parent window is enabled again, the memory the transfer
// held is released and the connection ends at state 1.
TEST_F(FakeTwain, RaisingHandlersLeaveTheWindowEnabled) {
  FakeSourceSpec s = Spec("Feeder", 8);
  s.pages = 3;
  Add(s);
  QWidget parent;
  TKVTWainParams tp;
  tp.SetVisibleDialog(false);
  bool aborting = false;
  TProgressRec pr;
  pr.Aborting = &aborting;
  EXPECT_THROW(KVTW_Acquire(&parent, nullptr, true, pr, nullptr, &tp,
                            [](TBitmap*, TIOParamsVals*&) { throw std::runtime_error("disk full"); }),
               std::runtime_error);
  EXPECT_TRUE(parent.isEnabled());
  ExpectClosed();

  Fake().Reset();
  Add(s);
  pr.OnProgress = [](TObject*, int per) {
    if (per > 30) throw std::runtime_error("stop");
  };
  TBitmap bmp;
  EXPECT_THROW(KVTW_Acquire(&parent, &bmp, false, pr, &out, &tp), std::runtime_error);
  EXPECT_TRUE(parent.isEnabled());
  ExpectClosed();
}
