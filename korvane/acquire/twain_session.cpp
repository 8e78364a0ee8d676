#include "korvane/acquire/twain_session.h"

#include <dlfcn.h>

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <cmath>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif
#include <cstdlib>
#include <cstring>

#include "korvane/acquire/sane_dsm.h"
#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/proc/kvproc.h"

namespace korvane {

namespace {

// The connection being acquired through, for the callback a source calls.
// Connections never overlap: each runs on the calling thread to its end.
TTWainSession* g_active = nullptr;
TKVTWainCallInfo g_last;

// Largest memory-transfer buffer allocated, whatever a source prefers.
constexpr uint32_t kMaxStripBuffer = 64u << 20;
// Memory-transfer buffer when a source names no usable size.
constexpr uint32_t kDefaultStripBuffer = 64u << 10;

TW_UINT16 AppCallback(TW_IDENTITY*, TW_IDENTITY*, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
  if (!g_active) return TWRC_FAILURE;
  if (msg == MSG_XFERREADY || msg == MSG_CLOSEDSREQ || msg == MSG_CLOSEDSOK) {
    g_active->PostedMessage = msg;
    // Wake the loop's wait; it handles the message.
    if (auto* d = QAbstractEventDispatcher::instance()) d->wakeUp();
  }
  return TWRC_SUCCESS;
}

// Offers every event of the application to the source while it is enabled;
// the events the source claims are not dispatched.
class TSourceEventFilter : public QObject {
 public:
  explicit TSourceEventFilter(TTWainSession* s) : s_(s) {}
  bool eventFilter(QObject*, QEvent* e) override {
    // Someone is using the application (perhaps the source's own window):
    // the wait for the source starts again.
    switch (e->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::KeyPress:
      case QEvent::Wheel:
        s_->Touch();
        break;
      default:
        break;
    }
    if (busy_ || s_->State < 5) return false;
    busy_ = true;
    TW_EVENT ev{e, MSG_NULL};
    const TW_UINT16 rc = s_->Call(&s_->SourceId, DG_CONTROL, DAT_EVENT, MSG_PROCESSEVENT, &ev);
    busy_ = false;
    if (rc != TWRC_DSEVENT) return false;
    if (ev.TWMessage == MSG_XFERREADY || ev.TWMessage == MSG_CLOSEDSREQ || ev.TWMessage == MSG_CLOSEDSOK)
      s_->PostedMessage = ev.TWMessage;
    return true;
  }

 private:
  TTWainSession* s_;
  bool busy_ = false;
};

void InitAppIdentity(TW_IDENTITY& id) {
  std::memset(&id, 0, sizeof id);
  id.Version.MajorNum = 1;
  id.Version.MinorNum = 0;
  id.Version.Language = TWLG_USA;
  id.Version.Country = TWCY_USA;
  SetTWStr(id.Version.Info, "Korvane 0.1");
  id.ProtocolMajor = 1;
  id.ProtocolMinor = 6;
  id.SupportedGroups = DG_CONTROL | DG_IMAGE;
  SetTWStr(id.Manufacturer, "Korvane");
  SetTWStr(id.ProductFamily, "Korvane image components");
  SetTWStr(id.ProductName, "Korvane");
}

bool HaveWidgets() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

// n RGB pixels to BGR.
void SwapRBPlain(const uint8_t* src, uint8_t* dst, int64_t n) {
  for (int64_t x = 0; x < n; ++x, src += 3, dst += 3) {
    dst[0] = src[2];
    dst[1] = src[1];
    dst[2] = src[0];
  }
}

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per shuffle: 16 bytes are loaded and stored, of which the
// last 4 belong to the next pixels and are written again by the next step,
// so the loop stops while 16 bytes still lie ahead in both rows.
__attribute__((target("ssse3"))) void SwapRBSSSE3(const uint8_t* src, uint8_t* dst, int64_t n) {
  const __m128i shuffle = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
  int64_t x = 0;
  for (; x + 6 <= n; x += 4, src += 12, dst += 12)
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst),
                     _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)), shuffle));
  SwapRBPlain(src, dst, n - x);
}
#endif

void SwapRB(const uint8_t* src, uint8_t* dst, int64_t n) {
#if defined(__x86_64__) || defined(__i386__)
  static const bool ssse3 = __builtin_cpu_supports("ssse3");
  if (ssse3) return SwapRBSSSE3(src, dst, n);
#endif
  SwapRBPlain(src, dst, n);
}

}  // namespace

// ---------------------------------------------------------------------------
// Strip copy

void CopyTWainStrip(TBitmap* bmp, int bpp, const TW_IMAGEMEMXFER& s, const uint8_t* mem, size_t length) {
  if (!bmp || !mem || bmp->Empty()) return;
  const int64_t W = bmp->Width(), H = bmp->Height();
  const int64_t x0 = s.XOffset, y0 = s.YOffset, cols = s.Columns, rows = s.Rows;
  const size_t bpr = s.BytesPerRow;
  if (x0 >= W || y0 >= H) return;
  const int64_t ncols = std::min(cols, W - x0);
  const int64_t nrows = std::min(rows, H - y0);
  if (bpp == 24 && bmp->PixelFormat() == pf24bit) {
    for (int64_t r = 0; r < nrows; ++r) {
      const size_t at = size_t(r) * bpr;
      if (at >= length) break;
      const int64_t n = std::min<int64_t>(ncols, int64_t((length - at) / 3));
      SwapRB(mem + at, bmp->Scanline(int(y0 + r)) + x0 * 3, n);
    }
  } else if (bpp == 8 && bmp->PixelFormat() == pf24bit) {
    for (int64_t r = 0; r < nrows; ++r) {
      const size_t at = size_t(r) * bpr;
      if (at >= length) break;
      const int64_t n = std::min<int64_t>(ncols, int64_t(length - at));
      const uint8_t* src = mem + at;
      uint8_t* dst = bmp->Scanline(int(y0 + r)) + x0 * 3;
      for (int64_t x = 0; x < n; ++x, dst += 3) dst[0] = dst[1] = dst[2] = src[x];
    }
  } else if (bpp == 1 && bmp->PixelFormat() == pf1bit) {
    for (int64_t r = 0; r < nrows; ++r) {
      const size_t at = size_t(r) * bpr;
      if (at >= length) break;
      const int64_t n = std::min<int64_t>(ncols, int64_t(length - at) * 8);
      const uint8_t* src = mem + at;
      uint8_t* dst = bmp->Scanline(int(y0 + r));
      for (int64_t x = 0; x < n; ++x) {
        const int64_t bx = x0 + x;
        const uint8_t mask = uint8_t(0x80 >> (bx & 7));
        if (src[x >> 3] & (0x80 >> (x & 7)))
          dst[bx >> 3] |= mask;
        else
          dst[bx >> 3] &= uint8_t(~mask);
      }
    }
  }
}

// ---------------------------------------------------------------------------
// States

TTWainSession::TTWainSession(TKVTWainParams* params) : Params(params) { InitAppIdentity(AppId); }

TTWainSession::~TTWainSession() {
  CloseAll();
  if (g_active == this) g_active = nullptr;
}

void TTWainSession::UseWindow(HWND window) {
  Parent = window;
  if (!Parent && HaveWidgets()) {
    proxy_ = std::make_unique<QWidget>(nullptr, Qt::Popup);
    proxy_->setWindowTitle("Acquire Proxy");
    proxy_->setAttribute(Qt::WA_DontShowOnScreen);
    Parent = proxy_.get();
  }
}

TW_UINT16 TTWainSession::Call(TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  ReturnCode = Entry ? Entry(&AppId, dest, dg, dat, msg, data) : TWRC_FAILURE;
  return ReturnCode;
}

TW_UINT16 TTWainSession::ConditionCode(TW_IDENTITY* dest) {
  TW_STATUS st{TWCC_BUMMER, 0};
  if (Entry) Entry(&AppId, dest, DG_CONTROL, DAT_STATUS, MSG_GET, &st);
  return st.ConditionCode;
}

bool TTWainSession::LoadManager() {
  if (State > 1) return true;
  const char* env = std::getenv("KORVANE_TWAIN_DSM");
  bool builtin = false;
  void* lib = nullptr;
  if (env && *env) {
    if (std::strcmp(env, "sane") == 0)
      builtin = true;
    else
      lib = dlopen(env, RTLD_NOW | RTLD_LOCAL);
    if (!lib && !builtin) return false;
  } else {
    for (const char* name : {"libtwaindsm.so", "libtwaindsm.so.2"})
      if ((lib = dlopen(name, RTLD_NOW | RTLD_LOCAL))) break;
    builtin = !lib;
  }
  if (builtin) {
    Entry = SaneDSM_Entry;
  } else {
    Entry = reinterpret_cast<DSMENTRYPROC>(dlsym(lib, "DSM_Entry"));
    if (!Entry) {
      dlclose(lib);
      return false;
    }
  }
  Library = lib;
  Builtin = builtin;
  State = 2;
  return true;
}

void TTWainSession::UnloadManager() {
  if (State != 2) return;
  if (Library) dlclose(Library);
  Library = nullptr;
  Entry = nullptr;
  mem_ = TTWainMemory{};
  State = 1;
}

bool TTWainSession::OpenManager() {
  if (State != 2) return State > 2;
  if (Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_OPENDSM, &Parent) != TWRC_SUCCESS) return false;
  State = 3;
  // A manager that offers its memory functions owns the handles passed
  // around; without them a handle is malloc'd memory.
  TW_ENTRYPOINT ep{};
  ep.Size = sizeof ep;
  if (Call(nullptr, DG_CONTROL, DAT_ENTRYPOINT, MSG_GET, &ep) == TWRC_SUCCESS && ep.DSM_MemAllocate &&
      ep.DSM_MemFree && ep.DSM_MemLock && ep.DSM_MemUnlock)
    mem_ = TTWainMemory{ep.DSM_MemAllocate, ep.DSM_MemFree, ep.DSM_MemLock, ep.DSM_MemUnlock};
  ReturnCode = TWRC_SUCCESS;
  return true;
}

void TTWainSession::CloseManager() {
  if (State != 3) return;
  Call(nullptr, DG_CONTROL, DAT_PARENT, MSG_CLOSEDSM, &Parent);
  State = 2;
}

bool TTWainSession::Start() {
  if (LoadManager() && OpenManager()) return true;
  CloseAll();
  return false;
}

bool TTWainSession::OpenSource() {
  if (State != 3) return State > 3;
  std::memset(&SourceId, 0, sizeof SourceId);
  std::string name;
  if (Params && Params->selected_ >= 0 && Params->selected_ < Params->sources_.Count())
    name = TWStr(static_cast<const TW_IDENTITY*>(Params->sources_.GetItem(Params->selected_))->ProductName);
  // The built-in manager opens a source by its name without a list, and
  // listing can take seconds (every backend probes its buses and the
  // network). Only a name it does not know is looked up in the list; a
  // source that is there but fails to open would fail again.
  bool open = false;
  if (!name.empty() && Builtin) {
    SetTWStr(SourceId.ProductName, name.c_str());
    open = Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &SourceId) == TWRC_SUCCESS;
    if (!open) {
      Condition = ConditionCode(nullptr);
      if (Condition != TWCC_NODS) return false;
      std::memset(&SourceId, 0, sizeof SourceId);
    }
  }
  if (!open && !name.empty()) {
    TW_IDENTITY id{};
    for (TW_UINT16 msg = MSG_GETFIRST;; msg = MSG_GETNEXT) {
      if (Call(nullptr, DG_CONTROL, DAT_IDENTITY, msg, &id) != TWRC_SUCCESS) break;
      if (TWStr(id.ProductName) == name) {
        SourceId = id;
        break;
      }
    }
  }
  if (!open && Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_OPENDS, &SourceId) != TWRC_SUCCESS) {
    Condition = ConditionCode(nullptr);
    return false;
  }
  State = 4;
  g_active = this;
  PostedMessage = 0;
  // Sources that notify through a callback (as Linux sources do) get ours;
  // the others answer through MSG_PROCESSEVENT.
  TW_CALLBACK cb{reinterpret_cast<TW_MEMREF>(&AppCallback), 0, 0};
  Call(&SourceId, DG_CONTROL, DAT_CALLBACK, MSG_REGISTER_CALLBACK, &cb);
  ReturnCode = TWRC_SUCCESS;
  return true;
}

void TTWainSession::CloseSource() {
  if (State != 4) return;
  Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_CLOSEDS, &SourceId);
  State = 3;
  if (g_active == this) g_active = nullptr;
}

bool TTWainSession::EnableSource() {
  if (State != 4) return false;
  UI.ShowUI = UI.ModalUI = HideUI ? 0 : 1;
  UI.hParent = Parent;
  if (Call(&SourceId, DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS, &UI) == TWRC_FAILURE) {
    Condition = ConditionCode(&SourceId);
    return false;
  }
  State = 5;
  return true;
}

void TTWainSession::EndTransfer() {
  if (State != 6 && State != 7) return;
  TW_PENDINGXFERS px{0, 0};
  if (Call(&SourceId, DG_CONTROL, DAT_PENDINGXFERS, MSG_ENDXFER, &px) == TWRC_SUCCESS) {
    Pending = TW_INT16(px.Count);
    State = px.Count ? 6 : 5;
  } else {
    // A source that cannot end the transfer gets its pending images reset.
    State = 6;
    Pending = 0;
    TW_PENDINGXFERS rs{0, 0};
    Call(&SourceId, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &rs);
    State = 5;
  }
}

void TTWainSession::DisableSource() {
  if (State == 7) EndTransfer();
  if (State == 6) {
    TW_PENDINGXFERS px{0, 0};
    Call(&SourceId, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px);
    Pending = 0;
    State = 5;
  }
  if (State == 5) {
    Call(&SourceId, DG_CONTROL, DAT_USERINTERFACE, MSG_DISABLEDS, &UI);
    State = 4;
  }
}

void TTWainSession::CloseAll() {
  DisableSource();
  CloseSource();
  CloseManager();
  UnloadManager();
}

// ---------------------------------------------------------------------------
// Capabilities

bool TTWainSession::GetCap(TW_UINT16 cap, TW_CAPABILITY& out) {
  out = TW_CAPABILITY{cap, TWON_DONTCARE16, nullptr};
  if (State < 4) return false;
  if (Call(&SourceId, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &out) == TWRC_SUCCESS && out.hContainer)
    return true;
  FreeContainer(out);
  return false;
}

void TTWainSession::FreeContainer(TW_CAPABILITY& cap) {
  mem_.Free(cap.hContainer);
  cap.hContainer = nullptr;
}

bool TTWainSession::SetCap(TW_UINT16 cap, TW_UINT16 conType, TW_HANDLE container) {
  if (!container) return false;
  TW_CAPABILITY c{cap, conType, container};
  const bool ok = Call(&SourceId, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &c) == TWRC_SUCCESS;
  mem_.Free(container);
  return ok;
}

bool TTWainSession::SetOneValue(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 item) {
  return SetCap(cap, TWON_ONEVALUE, MakeOneValue(mem_, itemType, item));
}

bool TTWainSession::SendDoubleList(TW_UINT16 cap, const TKVDoubleList& list) {
  const uint8_t ch = list.Changed();
  if (ch & kvlChangedItems) return SetCap(cap, TWON_ENUMERATION, MakeDoubleEnumeration(mem_, list));
  if (ch & kvlChangedRange) return SetCap(cap, TWON_RANGE, MakeDoubleRange(mem_, list));
  if (ch & kvlChangedCurrent)
    return SetOneValue(cap, TWTY_FIX32, Fix32Bits(FloatToFix32(list.CurrentValue())));
  return true;
}

bool TTWainSession::SendIntegerList(TW_UINT16 cap, const TKVIntegerList& list, int32_t maxValue) {
  const uint8_t ch = list.Changed();
  if (ch & kvlChangedItems)
    return SetCap(cap, TWON_ENUMERATION, MakeIntegerEnumeration(mem_, list, maxValue));
  if (ch & kvlChangedCurrent)
    return SetOneValue(cap, TWTY_UINT16, TW_UINT32(std::min(list.CurrentValue(), maxValue)));
  return true;
}

bool TTWainSession::SetCompressionNone() {
  // The frame and the resolutions are given in inches.
  SetOneValue(ICAP_UNITS, TWTY_UINT16, TWUN_INCHES);
  TW_CAPABILITY c;
  if (!GetCap(ICAP_COMPRESSION, c)) return true;
  FreeContainer(c);
  return SetOneValue(ICAP_COMPRESSION, TWTY_UINT16, TWCP_NONE);
}

void TTWainSession::Negotiate() {
  TKVTWainParams& p = *Params;
  // Memory strips are copied only uncompressed: a source that keeps its
  // compression is acquired natively.
  bool ok = SetCompressionNone();
  ok = SendDoubleList(ICAP_XRESOLUTION, p.xres_) && ok;
  ok = SendDoubleList(ICAP_YRESOLUTION, p.yres_) && ok;
  ok = SendDoubleList(ICAP_XSCALING, p.xscale_) && ok;
  ok = SendDoubleList(ICAP_YSCALING, p.yscale_) && ok;
  // Pixel types above RGB are sent as RGB.
  const bool ptOk = SendIntegerList(ICAP_PIXELTYPE, p.pixel_type_, TWPT_RGB);
  ok = ptOk && ok;
  if (ptOk) {
    const int32_t pt = std::min(p.pixel_type_.CurrentValue(), int32_t(TWPT_RGB));
    if (pt == TWPT_GRAY) {
      ok = SetOneValue(ICAP_BITDEPTH, TWTY_UINT16, 8) && ok;
    } else if (pt == TWPT_RGB) {
      ok = SetOneValue(ICAP_BITDEPTH, TWTY_UINT16, 24) && ok;
      ok = SetOneValue(ICAP_PLANARCHUNKY, TWTY_UINT16, TWPC_CHUNKY) && ok;
    }
  }
  Buffered = ok && p.buffered_ && SetOneValue(ICAP_XFERMECH, TWTY_UINT16, TWSX_MEMORY);
  SetOneValue(CAP_FEEDERENABLED, TWTY_BOOL, p.feeder_enabled_ ? 0xFFFF : 0);
  SendIntegerList(ICAP_ORIENTATION, p.orientation_, 0xFFFF);
  SetOneValue(CAP_INDICATORS, TWTY_BOOL, p.indicators_ ? 0xFFFF : 0);
  // An empty frame would ask for a scan of nothing: the source keeps its own.
  if (p.frame_[2] > p.frame_[0] && p.frame_[3] > p.frame_[1]) {
    TW_IMAGELAYOUT lay;
    std::memset(&lay, 0, sizeof lay);
    lay.Frame = TW_FRAME{FloatToFix32(p.frame_[0]), FloatToFix32(p.frame_[1]), FloatToFix32(p.frame_[2]),
                         FloatToFix32(p.frame_[3])};
    Call(&SourceId, DG_IMAGE, DAT_IMAGELAYOUT, MSG_SET, &lay);
  }
}

void TTWainSession::ReadCapabilities(bool keepChanges) {
  TKVTWainParams& p = *Params;
  TW_CAPABILITY c;
  auto readDoubles = [&](TW_UINT16 cap, TKVDoubleList& list, bool unitOnFailure) {
    const bool ok = GetCap(cap, c) && ReadDoubleContainer(mem_, c, list);
    FreeContainer(c);
    if (!ok) {
      list.Clear();
      if (unitOnFailure) list.Add(1.0), list.SetCurrentValue(1.0);
    }
  };
  auto readValue = [&](TW_UINT16 cap, double fallback) {
    double v = fallback;
    if (GetCap(cap, c) && !ReadCurrentValue(mem_, c, v)) v = fallback;
    FreeContainer(c);
    return v;
  };
  readDoubles(ICAP_XRESOLUTION, p.xres_, false);
  readDoubles(ICAP_YRESOLUTION, p.yres_, false);
  readDoubles(ICAP_XSCALING, p.xscale_, true);
  readDoubles(ICAP_YSCALING, p.yscale_, true);
  if (!(GetCap(ICAP_PIXELTYPE, c) && ReadIntegerContainer(mem_, c, p.pixel_type_))) p.pixel_type_.Clear();
  FreeContainer(c);
  p.gamma_ = readValue(ICAP_GAMMA, 2.2);
  p.physical_height_ = readValue(ICAP_PHYSICALHEIGHT, 0);
  p.physical_width_ = readValue(ICAP_PHYSICALWIDTH, 0);
  p.feeder_enabled_ = readValue(CAP_FEEDERENABLED, 0) != 0;
  if (!(GetCap(ICAP_ORIENTATION, c) && ReadIntegerContainer(mem_, c, p.orientation_))) {
    p.orientation_.Clear();
    p.orientation_.Add(0);
  }
  FreeContainer(c);
  p.indicators_ = readValue(CAP_INDICATORS, 1) != 0;
  TW_IMAGELAYOUT lay;
  std::memset(&lay, 0, sizeof lay);
  if (State >= 4 && Call(&SourceId, DG_IMAGE, DAT_IMAGELAYOUT, MSG_GET, &lay) == TWRC_SUCCESS) {
    p.frame_[0] = Fix32ToFloat(lay.Frame.Left);
    p.frame_[1] = Fix32ToFloat(lay.Frame.Top);
    p.frame_[2] = Fix32ToFloat(lay.Frame.Right);
    p.frame_[3] = Fix32ToFloat(lay.Frame.Bottom);
  }
  if (!keepChanges)
    for (TKVList* l : {static_cast<TKVList*>(&p.xres_), static_cast<TKVList*>(&p.yres_),
                       static_cast<TKVList*>(&p.xscale_), static_cast<TKVList*>(&p.yscale_),
                       static_cast<TKVList*>(&p.pixel_type_), static_cast<TKVList*>(&p.orientation_)})
      l->SetChanged(0);
}

// ---------------------------------------------------------------------------
// Sources

bool TTWainSession::UserSelect(TW_IDENTITY& chosen) {
  std::memset(&chosen, 0, sizeof chosen);
  return State >= 3 && Call(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_USERSELECT, &chosen) == TWRC_SUCCESS;
}

void TTWainSession::ListSources(TKVRecordList* list) {
  if (State < 3) return;
  TW_IDENTITY id;
  std::memset(&id, 0, sizeof id);
  // A manager that never ends its list stops at a generous count.
  for (int n = 0; n < 4096; ++n) {
    if (Call(nullptr, DG_CONTROL, DAT_IDENTITY, n ? MSG_GETNEXT : MSG_GETFIRST, &id) != TWRC_SUCCESS) break;
    list->Add(&id);
  }
}

// ---------------------------------------------------------------------------
// The event loop and the transfers

void TTWainSession::Touch() { waitStart_ = QDeadlineTimer::current().deadline(); }

void TTWainSession::RunLoop() {
  QWidget* parent = Parent != proxy_.get() ? Parent : nullptr;
  if (parent) parent->setEnabled(false);
  // Whatever ends the loop, a handler's exception included, the window is
  // enabled again (the event filter and the timer go with their owners).
  struct Enable {
    QWidget* w;
    ~Enable() {
      if (w) w->setEnabled(true);
    }
  } enable{parent};
  std::unique_ptr<TSourceEventFilter> filter;
  std::unique_ptr<QTimer> tick;
  if (QCoreApplication::instance()) {
    filter = std::make_unique<TSourceEventFilter>(this);
    QCoreApplication::instance()->installEventFilter(filter.get());
    // Sources that answer only through MSG_PROCESSEVENT need events to come
    // by while nothing else happens.
    tick = std::make_unique<QTimer>();
    tick->start(20);
  }
  std::unique_ptr<QEventLoop> loop;
  if (filter) loop = std::make_unique<QEventLoop>();
  const int64_t limit = Params ? Params->GetTimeLimit() : 0;
  Touch();
  while (State > 4 && !Done && !(Progress && AbortRequested(*Progress))) {
    if (PostedMessage) {
      const TW_UINT16 msg = PostedMessage;
      PostedMessage = 0;
      HandleMessage(msg);
      Touch();
      continue;
    }
    // Without an application nothing else can arrive.
    if (!loop) break;
    if (limit > 0 && QDeadlineTimer::current().deadline() - waitStart_ >= limit)
      throw ETWainError("TWAIN source did not answer");
    loop->processEvents(QEventLoop::WaitForMoreEvents);
  }
}

void TTWainSession::HandleMessage(TW_UINT16 msg) {
  if (msg == MSG_XFERREADY) {
    if (State != 5) return;
    State = 6;
    if (MultiPage)
      TransferMulti();
    else
      TransferSingle();
    if (DisableAfterFailure) DisableSource();
  } else if (msg == MSG_CLOSEDSREQ || msg == MSG_CLOSEDSOK) {
    DisableSource();
  }
}

void TTWainSession::Failed() {
  if (HideUI) DisableAfterFailure = true;
}

namespace {
bool Sizable(const TW_IMAGEINFO& info) {
  return info.ImageWidth > 0 && info.ImageLength > 0 &&
         int64_t(info.ImageWidth) * info.ImageLength <= kMaxDIBPixels;
}
}  // namespace

bool TTWainSession::SizeBitmap(TBitmap* bmp, const TW_IMAGEINFO& info) {
  if (!bmp || !Sizable(info)) return false;
  try {
    bmp->Allocate(info.ImageWidth, info.ImageLength, info.BitsPerPixel == 1 ? pf1bit : pf24bit);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

void TTWainSession::FillOutParams(TIOParamsVals* out, const TW_IMAGEINFO& info) {
  if (!out) return;
  if (info.BitsPerPixel >= 1 && info.BitsPerPixel <= 8) {
    out->BitsPerSample = info.BitsPerPixel;
    out->SamplesPerPixel = 1;
  } else if (info.BitsPerPixel == 24) {
    out->BitsPerSample = 8;
    out->SamplesPerPixel = 3;
  }
  out->DpiX = int32_t(std::lround(Fix32ToFloat(info.XResolution)));
  out->DpiY = int32_t(std::lround(Fix32ToFloat(info.YResolution)));
  out->Width = info.ImageWidth;
  out->Height = info.ImageLength;
  out->FreeColorMap();
}

void TTWainSession::TransferSingle() {
  TW_IMAGEINFO info;
  std::memset(&info, 0, sizeof info);
  if (Call(&SourceId, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS ||
      !(Sink ? Sizable(info) : SizeBitmap(Target, info))) {
    Failed();
  } else if (Sink) {
    SinkTransfer(info);
  } else {
    FillOutParams(OutParams, info);
    TransferImage(Target, info);
  }
  EndTransfer();
  // One image only: the other pages are discarded.
  if (State == 6) {
    TW_PENDINGXFERS px{0, 0};
    Call(&SourceId, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px);
    Pending = 0;
    State = 5;
  }
}

void TTWainSession::TransferMulti() {
  while (State == 6 && !(Progress && AbortRequested(*Progress))) {
    TW_IMAGEINFO info;
    std::memset(&info, 0, sizeof info);
    auto bmp = std::make_unique<TBitmap>();
    if (Call(&SourceId, DG_IMAGE, DAT_IMAGEINFO, MSG_GET, &info) != TWRC_SUCCESS ||
        !SizeBitmap(bmp.get(), info)) {
      Failed();
      EndTransfer();
      break;
    }
    const bool before = Done;
    Done = false;
    TransferImage(bmp.get(), info);
    const bool pageOk = Done;
    Done = before || pageOk;
    TIOParamsVals* rec = nullptr;
    if (Callback && *Callback) (*Callback)(bmp.get(), rec);
    bmp.reset();
    FillOutParams(rec, info);
    EndTransfer();
    // A failed or cancelled page ends the run: the pages after it are reset.
    if (!pageOk) break;
  }
  if (State == 6) {
    TW_PENDINGXFERS px{0, 0};
    Call(&SourceId, DG_CONTROL, DAT_PENDINGXFERS, MSG_RESET, &px);
    Pending = 0;
    State = 5;
  }
}

void TTWainSession::CheckCopyable(const TW_IMAGEINFO& info) {
  const bool depth = info.BitsPerPixel == 1 || info.BitsPerPixel == 8 || info.BitsPerPixel == 24;
  if (!depth || info.Compression != TWCP_NONE || (info.BitsPerPixel == 24 && info.Planar))
    throw ETWainError("TWAIN image format not supported");
}

void TTWainSession::TransferImage(TBitmap* bmp, const TW_IMAGEINFO& info) {
  if (Buffered)
    BufferedTransfer(bmp, info);
  else
    NativeTransfer(bmp);
}

void TTWainSession::BufferedTransfer(TBitmap* bmp, const TW_IMAGEINFO& info) {
  // A strip the copy cannot read would leave a blank page reported as
  // scanned: the acquisition ends with an error instead.
  CheckCopyable(info);
  TW_SETUPMEMXFER setup{0, 0, 0};
  if (Call(&SourceId, DG_CONTROL, DAT_SETUPMEMXFER, MSG_GET, &setup) != TWRC_SUCCESS) {
    Failed();
    return;
  }
  uint32_t len = setup.Preferred;
  if (len == 0)
    len = setup.MaxBufSize && setup.MaxBufSize != TWON_DONTCARE32 ? setup.MaxBufSize : kDefaultStripBuffer;
  len = std::min(len, kMaxStripBuffer);
  TW_HANDLE h = mem_.Alloc(len);
  if (!h) {
    Failed();
    return;
  }
  // The block goes back however the transfer ends (a progress handler may
  // raise).
  struct Release {
    TTWainMemory& m;
    TW_HANDLE h;
    ~Release() { m.Free(h); }
  } release{mem_, h};
  const int bpp = info.BitsPerPixel;
  const int64_t length = info.ImageLength;
  ReportProgress(*Progress, 0);
  // Bounds the strips a source may send, so one that never finishes ends.
  int64_t budget = length * 64 + 1024;
  while (budget-- > 0) {
    TW_IMAGEMEMXFER x;
    x.Compression = TWON_DONTCARE16_VALUE;
    x.BytesPerRow = x.Columns = x.Rows = x.XOffset = x.YOffset = x.BytesWritten = TWON_DONTCARE32;
    x.Memory = TW_MEMORY{TWMF_APPOWNS | TWMF_HANDLE, len, h};
    const TW_UINT16 rc = Call(&SourceId, DG_IMAGE, DAT_IMAGEMEMXFER, MSG_GET, &x);
    if (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE) {
      State = 7;
      if (x.Compression != TWCP_NONE && x.Compression != TWON_DONTCARE16_VALUE)
        throw ETWainError("TWAIN image format not supported");
      {
        const uint8_t* p = mem_.Lock(h);
        struct Unlock {
          TTWainMemory& m;
          TW_HANDLE h;
          ~Unlock() { m.Unlock(h); }
        } unlock{mem_, h};
        if (Sink)
          SinkStrip(info, x, p, len);
        else
          CopyTWainStrip(bmp, bpp, x, p, len);
      }
      const int64_t end = int64_t(x.YOffset) + int64_t(x.Rows);
      ReportProgress(*Progress, int(std::clamp<int64_t>(end * 100 / std::max<int64_t>(length, 1), 0, 100)));
      if (rc == TWRC_XFERDONE) {
        Done = true;
        break;
      }
      if (AbortRequested(*Progress)) break;
    } else if (rc == TWRC_FAILURE) {
      State = 6;
      Failed();
      break;
    } else if (rc == TWRC_CANCEL) {
      State = 7;
      Failed();
      break;
    }
  }
  if (budget < 0) Failed();
}

void TTWainSession::NativeTransfer(TBitmap* bmp) {
  TW_HANDLE h = nullptr;
  const TW_UINT16 rc = Call(&SourceId, DG_IMAGE, DAT_IMAGENATIVEXFER, MSG_GET, &h);
  if (rc == TWRC_XFERDONE) {
    State = 7;
    // The DIB is read as hostile data: a malformed one fails the transfer.
    const size_t limit = 40 + 1024 + (size_t(bmp->Width()) * 4 + 3) * size_t(bmp->Height());
    const uint8_t* p = mem_.Lock(h);
    try {
      if (!p) throw EInvalidGraphic("unrecognized DIB");
      _CopyDIB2Bitmap(p, mem_.Size(h, limit), bmp);
      Done = true;
    } catch (const std::exception&) {
      Failed();
    }
    mem_.Unlock(h);
  } else {
    State = rc == TWRC_CANCEL ? 7 : 6;
    Failed();
  }
  mem_.Free(h);
}

void TTWainSession::SinkTransfer(const TW_IMAGEINFO& info) {
  TIOParamsVals own;
  TIOParamsVals* rec = OutParams ? OutParams : &own;
  FillOutParams(rec, info);
  Sink->Begin(*rec);
  if (Buffered) {
    BufferedTransfer(nullptr, info);
    return;
  }
  TBitmap whole;
  if (!SizeBitmap(&whole, info)) {
    Failed();
    return;
  }
  NativeTransfer(&whole);
  if (Done) Sink->Rows(0, whole.Height(), whole);
}

void TTWainSession::SinkStrip(const TW_IMAGEINFO& info, const TW_IMAGEMEMXFER& x, const uint8_t* mem,
                              size_t length) {
  const int64_t W = info.ImageWidth, H = info.ImageLength;
  // Strips span the page unless tiles were negotiated, which they never are;
  // a narrower one would leave holes in rows already handed over.
  if (x.XOffset != 0 || x.Columns < uint64_t(W)) throw ETWainError("TWAIN image format not supported");
  if (!mem || x.YOffset >= uint64_t(H) || x.Rows == 0) return;
  const int rows = int(std::min<int64_t>(x.Rows, H - x.YOffset));
  const TPixelFormat pf = info.BitsPerPixel == 1 ? pf1bit : pf24bit;
  if (strip_.Width() != W || strip_.Height() < rows || strip_.PixelFormat() != pf)
    strip_.Allocate(int(W), rows, pf);
  // Rows the strip's memory does not cover are black, as on a whole page.
  if (uint64_t(x.BytesPerRow) * uint64_t(rows) > length)
    for (int r = 0; r < rows; ++r) std::memset(strip_.Scanline(r), 0, size_t(strip_.RowBytes()));
  TW_IMAGEMEMXFER at = x;
  at.YOffset = 0;
  CopyTWainStrip(&strip_, info.BitsPerPixel, at, mem, length);
  Sink->Rows(int(x.YOffset), rows, strip_);
}

// ---------------------------------------------------------------------------
// The calls

namespace {

void Record(const TTWainSession& s) {
  g_last = TKVTWainCallInfo{s.State, s.ReturnCode, s.Condition, s.Builtin};
}

}  // namespace

TKVTWainCallInfo KVTW_LastCallInfo() { return g_last; }

bool KVTW_SelectImageSource(HWND Window, std::string& Name) {
  bool chosen = false;
  {
    TTWainSession s(nullptr);
    s.UseWindow(Window);
    TW_IDENTITY id;
    if (s.Start() && s.UserSelect(id)) {
      Name = TWStr(id.ProductName);
      chosen = true;
    }
    s.CloseAll();
    Record(s);
  }
  return chosen;
}

void KVTW_GetSourceList(TKVRecordList* List) {
  if (!List) return;
  List->Clear();
  TTWainSession s(nullptr);
  s.UseWindow(nullptr);
  if (s.Start()) s.ListSources(List);
  s.CloseAll();
  Record(s);
}

namespace {

// One acquisition through a session set up by `prepare` (its targets).
bool RunAcquire(HWND Window, TProgressRec& Progress, TIOParamsVals* Params, TKVTWainParams* TWainParams,
                const std::function<void(TTWainSession&)>& prepare) {
  TKVTWainParams defaults;
  TKVTWainParams* tp = TWainParams ? TWainParams : &defaults;
  // The source list names the selected source; it is read before this
  // connection opens (reading it is a connection of its own).
  tp->FillSourceListData();
  TTWainSession s(tp);
  prepare(s);
  s.OutParams = Params;
  s.Progress = &Progress;
  s.HideUI = !tp->GetVisibleDialog();
  s.UseWindow(Window);
  // However the call ends (an error, a handler that raised), the connection
  // goes down to state 1 and is recorded before the caller hears of it.
  struct Closer {
    TTWainSession& s;
    ~Closer() {
      const uint16_t rc = s.ReturnCode, cc = s.Condition;
      s.CloseAll();
      s.ReturnCode = rc;
      s.Condition = cc;
      Record(s);
    }
  } closer{s};
  if (s.Start() && s.OpenSource()) {
    s.Negotiate();
    if (s.EnableSource()) s.RunLoop();
  }
  return s.Done;
}

}  // namespace

bool KVTW_Acquire(HWND Window, TBitmap* Bitmap, bool MultiPage, TProgressRec& Progress, TIOParamsVals* Params,
                  TKVTWainParams* TWainParams, const TKVTWMultiCallBack& Callback) {
  return RunAcquire(Window, Progress, Params, TWainParams, [&](TTWainSession& s) {
    s.MultiPage = MultiPage;
    s.Callback = &Callback;
    s.Target = Bitmap;
  });
}

bool KVTW_AcquireStrips(HWND Window, TKVTWainStripSink& Sink, TProgressRec& Progress, TIOParamsVals* Params,
                        TKVTWainParams* TWainParams) {
  return RunAcquire(Window, Progress, Params, TWainParams, [&](TTWainSession& s) { s.Sink = &Sink; });
}

bool KVTW_GetCapabilities(TKVTWainParams* TWainParams, bool Update) {
  if (!TWainParams) return false;
  TWainParams->FillSourceListData();
  TTWainSession s(TWainParams);
  s.UseWindow(nullptr);
  const bool open = s.Start() && s.OpenSource();
  if (open) {
    if (Update)
      s.Negotiate();
    else
      s.SetCompressionNone();
  }
  s.ReadCapabilities(Update);
  s.CloseAll();
  Record(s);
  return open;
}

}  // namespace korvane
