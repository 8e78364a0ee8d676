// The scripted source manager of fake_dsm.h. It checks the order of the
// application's calls (a call out of sequence counts as an error) and
// records what was negotiated.
#include "tests/acquire/plugin/fake_dsm.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "korvane/acquire/twain_types.h"

using namespace korvane;

namespace {

struct Source {
  FakeSourceSpec spec;
  TW_IDENTITY id;
};

struct State {
  std::vector<Source> sources;
  FakeLog log;
  bool dsmOpen = false;
  int open = -1;  // index of the open source
  bool enabled = false;
  bool showUI = false;
  bool memory = false;
  TWAINCALLBACKPROC callback = nullptr;
  TW_IDENTITY app{};
  TW_UINT16 queued = 0;
  int page = 0;     // pages transferred or being transferred
  int nextRow = 0;  // memory transfer: next row of the current page
  bool inXfer = false;
  size_t enumAt = 0;
  TW_UINT16 cc = 0;
} g;

TW_FIX32 Fix(double x) {
  const int32_t v = int32_t(x * 65536.0 + 0.5);
  return TW_FIX32{TW_INT16(v >> 16), TW_UINT16(v & 0xFFFF)};
}
double Unfix(TW_FIX32 f) { return f.Whole + f.Frac / 65536.0; }

TW_UINT16 Fail(TW_UINT16 cc) {
  g.cc = cc;
  return TWRC_FAILURE;
}
void Error() { ++g.log.errors; }

const FakeSourceSpec& Spec() { return g.sources[size_t(g.open)].spec; }

int PixelTypeOf(int bpp) { return bpp == 24 || bpp == 48 ? 2 : bpp == 1 ? 0 : 1; }

size_t RowBytes() {
  // Rows carry 3 bytes of padding, so a reader must follow BytesPerRow.
  return (size_t(Spec().width) * Spec().bpp + 7) / 8 + 3;
}

void Notify(TW_UINT16 msg) {
  if (Spec().useCallback && g.callback)
    g.callback(&g.sources[size_t(g.open)].id, &g.app, DG_CONTROL, DAT_NULL, msg, nullptr);
  else
    g.queued = msg;
}

// The source's packed value for pixel x of row y: 0xRRGGBB, a level, a bit.
unsigned Raw(int bpp, int page, int x, int y) {
  const unsigned r = unsigned(x * 7 + y + page * 40) & 255, gg = unsigned(x + y * 5) & 255,
                 b = unsigned((x * 3) ^ y) & 255;
  if (bpp == 24) return r << 16 | gg << 8 | b;
  if (bpp == 8) return (r + gg) & 255;
  return unsigned((x / 3 + y / 2 + page) & 1);
}

// One row in TWAIN memory layout: RGB, gray, bits with 1 white.
void FillRow(uint8_t* dst, int y) {
  const FakeSourceSpec& s = Spec();
  for (int x = 0; x < s.width; ++x) {
    const unsigned v = Raw(s.bpp, g.page, x, y);
    if (s.bpp == 24) {
      dst[x * 3] = uint8_t(v >> 16), dst[x * 3 + 1] = uint8_t(v >> 8), dst[x * 3 + 2] = uint8_t(v);
    } else if (s.bpp == 8) {
      dst[x] = uint8_t(v);
    } else if (v) {
      dst[x / 8] |= uint8_t(0x80 >> (x % 8));
    }
  }
}

// The one value of any container the application sent, and its items.
bool SentValues(const TW_CAPABILITY& c, double& cur, std::vector<double>& items, double& mn, double& mx) {
  const uint8_t* p = static_cast<const uint8_t*>(c.hContainer);
  if (!p) return false;
  TW_UINT16 type;
  std::memcpy(&type, p, 2);
  auto item = [&](const uint8_t* q) -> double {
    if (type == TWTY_FIX32) {
      TW_FIX32 f;
      std::memcpy(&f, q, 4);
      return Unfix(f);
    }
    if (type == TWTY_UINT16 || type == TWTY_BOOL) {
      TW_UINT16 v;
      std::memcpy(&v, q, 2);
      return v;
    }
    Error();  // the application sends only these types
    return 0;
  };
  const size_t is = type == TWTY_FIX32 ? 4 : 2;
  if (c.ConType == TWON_ONEVALUE) {
    cur = item(p + 2);
    items.assign(1, cur);
    return true;
  }
  if (c.ConType == TWON_ENUMERATION) {
    TW_ENUMERATION e;
    std::memcpy(&e, p, sizeof e);
    for (TW_UINT32 i = 0; i < e.NumItems; ++i) items.push_back(item(p + sizeof e + i * is));
    cur = e.CurrentIndex < items.size() ? items[e.CurrentIndex] : -1;
    return true;
  }
  if (c.ConType == TWON_RANGE) {
    TW_RANGE r;
    std::memcpy(&r, p, sizeof r);
    mn = item(p + offsetof(TW_RANGE, MinValue));
    mx = item(p + offsetof(TW_RANGE, MaxValue));
    cur = item(p + offsetof(TW_RANGE, CurrentValue));
    return true;
  }
  return false;
}

template <typename T>
TW_HANDLE Box(const T& h, const void* items = nullptr, size_t n = 0) {
  auto* p = static_cast<uint8_t*>(std::calloc(1, sizeof(T) + n));
  std::memcpy(p, &h, sizeof(T));
  if (n) std::memcpy(p + sizeof(T), items, n);
  return p;
}
TW_HANDLE One(TW_UINT16 type, TW_UINT32 v) { return Box(TW_ONEVALUE{type, v}); }
TW_UINT32 FixBits(double x) {
  const TW_FIX32 f = Fix(x);
  return TW_UINT32(TW_UINT16(f.Whole)) | TW_UINT32(f.Frac) << 16;
}

TW_UINT16 Capability(TW_UINT16 msg, TW_CAPABILITY& c) {
  const FakeSourceSpec& s = Spec();
  if (msg == MSG_GET) {
    TW_HANDLE h = nullptr;
    TW_UINT16 con = TWON_ONEVALUE;
    switch (c.Cap) {
      case ICAP_COMPRESSION:
      case ICAP_UNITS:
        h = One(TWTY_UINT16, 0);
        break;
      case ICAP_PIXELTYPE: {
        const TW_UINT16 items[3] = {0, 1, 2};
        h = Box(TW_ENUMERATION{TWTY_UINT16, 3, TW_UINT32(PixelTypeOf(s.bpp)), 0}, items, 6);
        con = TWON_ENUMERATION;
        break;
      }
      case ICAP_XRESOLUTION:
      case ICAP_YRESOLUTION:
        h = Box(TW_RANGE{TWTY_FIX32, FixBits(50), FixBits(600), FixBits(1), FixBits(100), FixBits(100)});
        con = TWON_RANGE;
        break;
      case ICAP_XSCALING:
      case ICAP_YSCALING: {
        if (s.noXScaling && c.Cap == ICAP_XSCALING) return Fail(TWCC_CAPUNSUPPORTED);
        const TW_FIX32 items[3] = {Fix(0.5), Fix(1.0), Fix(2.0)};
        h = Box(TW_ENUMERATION{TWTY_FIX32, 3, 1, 1}, items, 12);
        con = TWON_ENUMERATION;
        break;
      }
      case ICAP_ORIENTATION: {
        const TW_UINT16 items[2] = {0, 2};
        h = Box(TW_ARRAY{TWTY_UINT16, 2}, items, 4);
        con = TWON_ARRAY;
        break;
      }
      case ICAP_GAMMA:
        h = One(TWTY_FIX32, FixBits(1.8));
        break;
      case ICAP_PHYSICALWIDTH:
        h = One(TWTY_FIX32, FixBits(8.5));
        break;
      case ICAP_PHYSICALHEIGHT:
        h = One(TWTY_FIX32, FixBits(11.75));
        break;
      case CAP_FEEDERENABLED:
        h = One(TWTY_BOOL, s.pages > 1 ? 1 : 0);
        break;
      case CAP_INDICATORS:
        if (s.noIndicators) return Fail(TWCC_CAPUNSUPPORTED);
        h = One(TWTY_BOOL, 0);
        break;
      default:
        return Fail(TWCC_CAPUNSUPPORTED);
    }
    c.ConType = con;
    c.hContainer = h;
    return TWRC_SUCCESS;
  }
  if (msg != MSG_SET) return Fail(TWCC_BADPROTOCOL);
  if (g.enabled) Error();
  double cur = -1, mn = 0, mx = 0;
  std::vector<double> items;
  if (!SentValues(c, cur, items, mn, mx)) {
    Error();
    return Fail(TWCC_BADVALUE);
  }
  FakeLog& l = g.log;
  switch (c.Cap) {
    case ICAP_COMPRESSION:
      if (cur == TWCP_NONE && s.refuseNoCompression) return Fail(TWCC_BADVALUE);
      l.compression = int(cur);
      return TWRC_SUCCESS;
    case ICAP_UNITS:
      l.units = int(cur);
      return TWRC_SUCCESS;
    case ICAP_PIXELTYPE:
      l.pixelTypeCon = c.ConType;
      l.pixelTypeSent = int(cur);
      l.pixelTypeCount = int(items.size());
      for (size_t i = 0; i < items.size() && i < 8; ++i) l.pixelTypeItems[i] = int(items[i]);
      return TWRC_SUCCESS;
    case ICAP_BITDEPTH:
      l.bitDepth = int(cur);
      return TWRC_SUCCESS;
    case ICAP_PLANARCHUNKY:
      l.chunky = int(cur);
      return TWRC_SUCCESS;
    case ICAP_XFERMECH:
      if (cur == TWSX_MEMORY && s.refuseMemory) return Fail(TWCC_BADVALUE);
      l.xferMech = int(cur);
      g.memory = cur == TWSX_MEMORY;
      return TWRC_SUCCESS;
    case ICAP_XRESOLUTION:
      l.xresCon = c.ConType;
      l.xresSent = cur;
      l.xresMin = mn;
      l.xresMax = mx;
      return TWRC_SUCCESS;
    case CAP_FEEDERENABLED:
      l.feeder = cur != 0;
      return TWRC_SUCCESS;
    case CAP_INDICATORS:
      if (s.noIndicators) return Fail(TWCC_CAPUNSUPPORTED);
      l.indicators = cur != 0;
      return TWRC_SUCCESS;
    default:
      return TWRC_SUCCESS;
  }
}

TW_UINT16 MemXfer(TW_IMAGEMEMXFER& x) {
  const FakeSourceSpec& s = Spec();
  if (!g.enabled || g.page >= s.pages) {
    Error();
    return Fail(TWCC_SEQERROR);
  }
  if (s.xferResult == 1) return Fail(TWCC_OPERATIONERROR);
  if (s.xferResult == 2) return TWRC_CANCEL;
  g.inXfer = true;
  const size_t rb = RowBytes();
  if (x.Memory.Flags != (TWMF_APPOWNS | TWMF_HANDLE) || !x.Memory.TheMem) Error();
  const int rows = std::min(s.stripRows, s.height - g.nextRow);
  if (size_t(rows) * rb > x.Memory.Length) {
    Error();
    return Fail(TWCC_BADVALUE);
  }
  auto* mem = static_cast<uint8_t*>(x.Memory.TheMem);
  std::memset(mem, 0, x.Memory.Length);
  for (int r = 0; r < rows; ++r) FillRow(mem + size_t(r) * rb, g.nextRow + r);
  x.Compression = TW_UINT16(s.stripCompression);
  x.BytesPerRow = TW_UINT32(rb);
  x.Columns = TW_UINT32(s.width);
  x.Rows = TW_UINT32(rows);
  x.XOffset = 0;
  x.YOffset = TW_UINT32(g.nextRow);
  x.BytesWritten = TW_UINT32(rows * rb);
  if (s.badStrips) {
    x.XOffset = TW_UINT32(s.width - 2);
    x.Columns = TW_UINT32(s.width + 100);
    x.Rows = TW_UINT32(rows + 50);
    x.BytesPerRow = 1u << 30;
    x.YOffset = TW_UINT32(g.nextRow + (g.nextRow ? 3 : 0));
  }
  g.nextRow += rows;
  if (g.nextRow >= s.height) {
    ++g.log.pagesDone;
    return TWRC_XFERDONE;
  }
  return TWRC_SUCCESS;
}

TW_UINT16 NativeXfer(TW_HANDLE* out) {
  const FakeSourceSpec& s = Spec();
  if (!g.enabled || g.page >= s.pages) {
    Error();
    return Fail(TWCC_SEQERROR);
  }
  if (s.xferResult == 1) return Fail(TWCC_OPERATIONERROR);
  if (s.xferResult == 2) return TWRC_CANCEL;
  const int colors = s.bpp == 24 ? 0 : 1 << s.bpp;
  const size_t stride = ((size_t(s.width) * s.bpp + 31) / 32) * 4;
  const size_t head = 40 + size_t(colors) * 4;
  const size_t size = head + stride * size_t(s.height);
  auto* dib = static_cast<uint8_t*>(std::calloc(1, size));
  const int32_t hdr[3] = {40, s.width, s.badDib ? s.height * 4 : s.height};
  std::memcpy(dib, hdr, 12);
  dib[12] = 1;
  dib[14] = uint8_t(s.bpp);
  std::memcpy(dib + 32, &colors, 4);
  for (int i = 0; i < colors; ++i) {
    const uint8_t l = uint8_t(colors == 2 ? i * 255 : i);
    dib[40 + i * 4] = dib[41 + i * 4] = dib[42 + i * 4] = l;
  }
  std::vector<uint8_t> row(RowBytes());
  for (int y = 0; y < s.height; ++y) {
    std::fill(row.begin(), row.end(), 0);
    FillRow(row.data(), y);
    uint8_t* d = dib + head + size_t(s.height - 1 - y) * stride;
    if (s.bpp == 24)
      for (int x = 0; x < s.width; ++x)
        d[x * 3] = row[x * 3 + 2], d[x * 3 + 1] = row[x * 3 + 1], d[x * 3 + 2] = row[x * 3];
    else
      std::memcpy(d, row.data(), stride < row.size() ? stride : row.size() - 3);
  }
  *out = dib;
  g.inXfer = true;
  ++g.log.pagesDone;
  return TWRC_XFERDONE;
}

TW_UINT16 SourceCall(TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  const FakeSourceSpec& s = Spec();
  FakeLog& l = g.log;
  if (dg == DG_CONTROL && dat == DAT_CALLBACK && msg == MSG_REGISTER_CALLBACK) {
    if (!s.useCallback) return Fail(TWCC_BADPROTOCOL);
    g.callback = reinterpret_cast<TWAINCALLBACKPROC>(static_cast<TW_CALLBACK*>(data)->CallBackProc);
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_CAPABILITY) return Capability(msg, *static_cast<TW_CAPABILITY*>(data));
  if (dg == DG_CONTROL && dat == DAT_STATUS) {
    *static_cast<TW_STATUS*>(data) = TW_STATUS{g.cc, 0};
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_ENABLEDS) {
    if (g.enabled) Error();
    if (s.failEnable) return Fail(TWCC_OPERATIONERROR);
    ++l.enable;
    g.enabled = true;
    g.page = g.nextRow = 0;
    g.showUI = static_cast<TW_USERINTERFACE*>(data)->ShowUI != 0;
    l.showUI = g.showUI;
    if (!s.silent) Notify(g.showUI && s.cancelInUI ? MSG_CLOSEDSREQ : MSG_XFERREADY);
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_USERINTERFACE && msg == MSG_DISABLEDS) {
    if (!g.enabled || g.inXfer) Error();
    ++l.disable;
    g.enabled = false;
    g.queued = 0;
    return TWRC_SUCCESS;
  }
  if (dg == DG_CONTROL && dat == DAT_EVENT && msg == MSG_PROCESSEVENT) {
    ++l.processEvents;
    auto* ev = static_cast<TW_EVENT*>(data);
    ev->TWMessage = g.queued;
    g.queued = 0;
    return ev->TWMessage ? TWRC_DSEVENT : TWRC_NOTDSEVENT;
  }
  if (dg == DG_CONTROL && dat == DAT_PENDINGXFERS) {
    auto* px = static_cast<TW_PENDINGXFERS*>(data);
    if (!g.enabled) Error();
    if (msg == MSG_ENDXFER) {
      ++l.endXfer;
      ++g.page;
      g.nextRow = 0;
      g.inXfer = false;
      px->Count = TW_UINT16(g.page < s.pages ? s.pages - g.page : 0);
      if (!px->Count && g.showUI) Notify(MSG_CLOSEDSREQ);
      return TWRC_SUCCESS;
    }
    if (msg == MSG_RESET) {
      ++l.reset;
      g.page = s.pages;
      g.inXfer = false;
      px->Count = 0;
      return TWRC_SUCCESS;
    }
  }
  if (dg == DG_CONTROL && dat == DAT_SETUPMEMXFER && msg == MSG_GET) {
    const TW_UINT32 n = TW_UINT32(RowBytes() * size_t(s.stripRows));
    *static_cast<TW_SETUPMEMXFER*>(data) = TW_SETUPMEMXFER{TW_UINT32(RowBytes()), n, n};
    return TWRC_SUCCESS;
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEINFO && msg == MSG_GET) {
    if (!g.enabled || g.page >= s.pages) Error();
    auto* info = static_cast<TW_IMAGEINFO*>(data);
    std::memset(info, 0, sizeof *info);
    info->XResolution = Fix(150);
    info->YResolution = Fix(199.6);
    info->ImageWidth = s.width;
    info->ImageLength = s.height;
    info->SamplesPerPixel = PixelTypeOf(s.bpp) == 2 ? 3 : 1;
    info->BitsPerPixel = TW_INT16(s.bpp);
    info->PixelType = TW_INT16(PixelTypeOf(s.bpp));
    info->Compression = TW_UINT16(g.memory ? s.stripCompression : TWCP_NONE);
    return TWRC_SUCCESS;
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGELAYOUT) {
    auto* lay = static_cast<TW_IMAGELAYOUT*>(data);
    if (msg == MSG_GET) {
      std::memset(lay, 0, sizeof *lay);
      lay->Frame = TW_FRAME{Fix(0), Fix(0), Fix(8.5), Fix(11.75)};
      return TWRC_SUCCESS;
    }
    if (msg == MSG_SET) {
      if (lay->DocumentNumber || lay->PageNumber || lay->FrameNumber) Error();
      ++l.layoutSets;
      l.frame[0] = Unfix(lay->Frame.Left), l.frame[1] = Unfix(lay->Frame.Top);
      l.frame[2] = Unfix(lay->Frame.Right), l.frame[3] = Unfix(lay->Frame.Bottom);
      return TWRC_SUCCESS;
    }
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGEMEMXFER && msg == MSG_GET) {
    if (!g.memory) Error();
    return MemXfer(*static_cast<TW_IMAGEMEMXFER*>(data));
  }
  if (dg == DG_IMAGE && dat == DAT_IMAGENATIVEXFER && msg == MSG_GET) {
    if (g.memory) Error();
    return NativeXfer(static_cast<TW_HANDLE*>(data));
  }
  return Fail(TWCC_BADPROTOCOL);
}

}  // namespace

extern "C" {

void FakeDSM_Reset() {
  g = State{};
  g.log.feeder = g.log.indicators = -1;
  g.log.pixelTypeSent = g.log.bitDepth = g.log.chunky = g.log.xferMech = g.log.compression = g.log.units = -1;
}

void FakeDSM_AddSource(const FakeSourceSpec* spec) {
  Source s{*spec, {}};
  s.id.Id = TW_UINT32(100 + g.sources.size());
  std::memcpy(s.id.ProductName, spec->name, 34);
  std::memcpy(s.id.Manufacturer, spec->manufacturer, 34);
  s.id.ProductName[33] = s.id.Manufacturer[33] = 0;
  g.sources.push_back(s);
}

FakeLog* FakeDSM_Log() { return &g.log; }

unsigned FakeDSM_Pixel(int bpp, int page, int x, int y) {
  const unsigned v = Raw(bpp, page, x, y);
  if (bpp == 24) return v;
  if (bpp == 8) return v << 16 | v << 8 | v;
  return v ? 0xFFFFFF : 0;
}

TW_UINT16 DSM_Entry(TW_IDENTITY* origin, TW_IDENTITY* dest, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg,
                    TW_MEMREF data) {
  FakeLog& l = g.log;
  if (!origin) Error();
  if (dest) {
    if (!g.dsmOpen || g.open < 0 || dest->Id != g.sources[size_t(g.open)].id.Id) {
      Error();
      return Fail(TWCC_BADDEST);
    }
    return SourceCall(dg, dat, msg, data);
  }
  if (dg != DG_CONTROL) return Fail(TWCC_BADPROTOCOL);
  if (dat == DAT_PARENT && msg == MSG_OPENDSM) {
    if (g.dsmOpen) Error();
    g.dsmOpen = true;
    ++l.openDSM;
    origin->Id = 7;
    return TWRC_SUCCESS;
  }
  if (dat == DAT_PARENT && msg == MSG_CLOSEDSM) {
    if (!g.dsmOpen || g.open >= 0) Error();
    g.dsmOpen = false;
    ++l.closeDSM;
    return TWRC_SUCCESS;
  }
  if (dat == DAT_STATUS && msg == MSG_GET) {
    *static_cast<TW_STATUS*>(data) = TW_STATUS{g.cc, 0};
    return TWRC_SUCCESS;
  }
  if (dat != DAT_IDENTITY) return Fail(TWCC_BADPROTOCOL);
  if (!g.dsmOpen) Error();
  auto* id = static_cast<TW_IDENTITY*>(data);
  switch (msg) {
    case MSG_GETFIRST:
    case MSG_GETNEXT:
      if (msg == MSG_GETFIRST) g.enumAt = 0;
      if (g.enumAt >= g.sources.size()) return TWRC_ENDOFLIST;
      *id = g.sources[g.enumAt++].id;
      return TWRC_SUCCESS;
    case MSG_USERSELECT:
      if (g.sources.size() < 2) return TWRC_CANCEL;
      *id = g.sources[1].id;
      return TWRC_SUCCESS;
    case MSG_OPENDS: {
      if (g.open >= 0) Error();
      int at = id->ProductName[0] ? -1 : 0;
      for (size_t i = 0; i < g.sources.size() && at < 0; ++i)
        if (std::strcmp(g.sources[i].id.ProductName, id->ProductName) == 0) at = int(i);
      if (at < 0 || size_t(at) >= g.sources.size()) return Fail(TWCC_NODS);
      if (g.sources[size_t(at)].spec.failOpen) return Fail(TWCC_OPERATIONERROR);
      g.open = at;
      g.memory = false;
      g.callback = nullptr;
      g.app = *origin;
      *id = g.sources[size_t(at)].id;
      ++l.openDS;
      return TWRC_SUCCESS;
    }
    case MSG_CLOSEDS:
      if (g.open < 0 || g.enabled) Error();
      g.open = -1;
      ++l.closeDS;
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_BADPROTOCOL);
  }
}
}
