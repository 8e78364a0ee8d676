#include "korvane/acquire/sane_dsm.h"

#include <dlfcn.h>
#include <execinfo.h>

#include <QApplication>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "korvane/acquire/twain_caps.h"
#include "korvane/acquire/twain_dialog.h"

namespace korvane {

namespace {

// ---------------------------------------------------------------------------
// The SANE 1.0 interface, declared here: libsane is opened at run time.

using SANE_Word = int;
using SANE_Int = int;
using SANE_Bool = int;
using SANE_Status = int;
using SANE_Handle = void*;
constexpr SANE_Status SANE_STATUS_GOOD = 0;
constexpr SANE_Status SANE_STATUS_CANCELLED = 2;
constexpr SANE_Status SANE_STATUS_INVAL = 4;
constexpr SANE_Status SANE_STATUS_EOF = 5;
constexpr SANE_Status SANE_STATUS_NO_DOCS = 7;
enum { SANE_TYPE_BOOL, SANE_TYPE_INT, SANE_TYPE_FIXED, SANE_TYPE_STRING, SANE_TYPE_BUTTON, SANE_TYPE_GROUP };
enum { SANE_UNIT_NONE, SANE_UNIT_PIXEL, SANE_UNIT_BIT, SANE_UNIT_MM, SANE_UNIT_DPI };
enum { SANE_CONSTRAINT_NONE, SANE_CONSTRAINT_RANGE, SANE_CONSTRAINT_WORD_LIST, SANE_CONSTRAINT_STRING_LIST };
enum { SANE_ACTION_GET_VALUE, SANE_ACTION_SET_VALUE };
enum { SANE_FRAME_GRAY, SANE_FRAME_RGB, SANE_FRAME_RED, SANE_FRAME_GREEN, SANE_FRAME_BLUE };
constexpr SANE_Int SANE_CAP_INACTIVE = 1 << 5;

struct SANE_Device {
  const char* name;
  const char* vendor;
  const char* model;
  const char* type;
};
struct SANE_Range {
  SANE_Word min, max, quant;
};
struct SANE_Option_Descriptor {
  const char* name;
  const char* title;
  const char* desc;
  int type;
  int unit;
  SANE_Int size;
  SANE_Int cap;
  int constraint_type;
  union {
    const char* const* string_list;
    const SANE_Word* word_list;
    const SANE_Range* range;
  } constraint;
};
struct SANE_Parameters {
  int format;
  SANE_Bool last_frame;
  SANE_Int bytes_per_line;
  SANE_Int pixels_per_line;
  SANE_Int lines;
  SANE_Int depth;
};

struct TSaneLib {
  void* lib = nullptr;
  SANE_Status (*init)(SANE_Int*, void*) = nullptr;
  void (*exit)() = nullptr;
  SANE_Status (*get_devices)(const SANE_Device***, SANE_Bool) = nullptr;
  SANE_Status (*open)(const char*, SANE_Handle*) = nullptr;
  void (*close)(SANE_Handle) = nullptr;
  const SANE_Option_Descriptor* (*get_option_descriptor)(SANE_Handle, SANE_Int) = nullptr;
  SANE_Status (*control_option)(SANE_Handle, SANE_Int, int, void*, SANE_Int*) = nullptr;
  SANE_Status (*get_parameters)(SANE_Handle, SANE_Parameters*) = nullptr;
  SANE_Status (*start)(SANE_Handle) = nullptr;
  SANE_Status (*read)(SANE_Handle, unsigned char*, SANE_Int, SANE_Int*) = nullptr;
  void (*cancel)(SANE_Handle) = nullptr;

  bool Load() {
    // Backends read in threads that run with asynchronous cancellation, and
    // a scan's end cancels its reader. The first thread exit in a process
    // loads the unwinder under the dynamic loader's lock: a reader cancelled
    // inside that load dies holding the lock, and the next dlclose (or the
    // process exit) waits for it forever. One backtrace loads the unwinder
    // now, so no reader has to.
    void* frame;
    backtrace(&frame, 1);
    for (const char* name : {"libsane.so.1", "libsane.so"})
      if ((lib = dlopen(name, RTLD_NOW | RTLD_LOCAL))) break;
    if (!lib) return false;
    auto sym = [&](auto& f, const char* n) {
      f = reinterpret_cast<std::remove_reference_t<decltype(f)>>(dlsym(lib, n));
    };
    sym(init, "sane_init");
    sym(exit, "sane_exit");
    sym(get_devices, "sane_get_devices");
    sym(open, "sane_open");
    sym(close, "sane_close");
    sym(get_option_descriptor, "sane_get_option_descriptor");
    sym(control_option, "sane_control_option");
    sym(get_parameters, "sane_get_parameters");
    sym(start, "sane_start");
    sym(read, "sane_read");
    sym(cancel, "sane_cancel");
    if (init && exit && get_devices && open && close && get_option_descriptor && control_option &&
        get_parameters && start && read && cancel && init(nullptr, nullptr) == SANE_STATUS_GOOD)
      return true;
    Unload(false);
    return false;
  }
  // sane_exit; the library itself stays loaded for the rest of the process
  // (backends loaded by it may keep threads or handlers that a dlclose would
  // pull from under them), and the next Load finds it again.
  void Unload(bool initialised = true) {
    if (initialised && exit) exit();
    *this = TSaneLib{};
  }
};

constexpr double kMMPerInch = 25.4;
constexpr SANE_Word kFixedOne = 1 << 16;

double FromFixed(SANE_Word w) { return double(w) / kFixedOne; }

bool SameText(const char* a, const char* b) {
  if (!a || !b) return false;
  for (; *a && *b; ++a, ++b)
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b)))
      return false;
  return *a == *b;
}
bool ContainsText(const char* hay, const char* needle) {
  if (!hay) return false;
  std::string h(hay), n(needle);
  for (char& c : h) c = char(std::tolower(static_cast<unsigned char>(c)));
  for (char& c : n) c = char(std::tolower(static_cast<unsigned char>(c)));
  return h.find(n) != std::string::npos;
}

struct TDevice {
  std::string name, vendor, model;
};

// A page read from the device, in the layout TWAIN transfers: rows of
// BytesPerRow bytes from the top, 1-bit rows with 0 black, 8-bit gray,
// 24-bit RGB.
struct TPage {
  int width = 0, height = 0, bpp = 0;
  double xres = 0, yres = 0;
  size_t rowBytes = 0;
  std::vector<uint8_t> data;  // the whole page, unless streamed
  int nextRow = 0;
  // Streamed pages are read from the device strip by strip, straight into
  // the application's buffer: 8-bit gray or RGB and 1-bit gray whose SANE
  // rows are already the transfer rows.
  bool stream = false;
  bool invert = false;  // 1-bit: SANE's 1 is black
  bool ended = false;   // the device ended the frame (or failed)
  bool failed = false;  // ... with an error: the page is not delivered
};

// The open source: its SANE handle, what the application negotiated, and the
// transfer in progress.
struct TSource {
  TW_IDENTITY id{};
  TW_IDENTITY app{};
  SANE_Handle h = nullptr;
  TWAINCALLBACKPROC callback = nullptr;
  TW_UINT16 queued = MSG_NULL;  // for MSG_PROCESSEVENT without a callback
  bool enabled = false;
  std::unique_ptr<TSourceUIDialog> ui;

  // Negotiated values.
  double xres = 0, yres = 0;  // 0: the device's own
  int pixelType = -1;         // -1: the device's own
  bool feeder = false;
  bool indicators = true;
  bool memory = false;
  bool frameSet = false;
  double frame[4] = {0, 0, 0, 0};  // inches

  // Transfers.
  std::unique_ptr<TPage> page;  // the page being transferred
  std::unique_ptr<TPage> next;  // the feeder's next page, read ahead
  bool scanning = false;        // sane_start called, sane_cancel not yet
  bool started = false;         // a transfer of the current page has begun
  double lastXRes = 0, lastYRes = 0;
};

struct TManager {
  bool open = false;
  TSaneLib sane;
  // The devices as last listed. Listing asks every backend to probe its
  // buses and the network, which can take seconds, so a connection lists
  // only when the application enumerates or asks for the default source;
  // a source opened by name is opened directly. The list is kept between
  // connections for the names it gives to sources opened that way.
  std::vector<TDevice> devices;
  bool listed = false;  // listed in this connection
  size_t enumNext = 0;
  std::unique_ptr<TSource> source;
  TW_UINT16 condition = TWCC_SUCCESS;
  TW_UINT32 nextAppId = 1;
};
TManager g;

TW_UINT16 Fail(TW_UINT16 cc) {
  g.condition = cc;
  return TWRC_FAILURE;
}

void FillIdentity(TW_IDENTITY& id, size_t i, const TDevice& d) {
  std::memset(&id, 0, sizeof id);
  id.Id = TW_UINT32(1000 + i);
  id.Version.MajorNum = 1;
  id.Version.Language = TWLG_USA;
  id.Version.Country = TWCY_USA;
  SetTWStr(id.Version.Info, "SANE");
  id.ProtocolMajor = 1;
  id.ProtocolMinor = 9;
  id.SupportedGroups = DG_CONTROL | DG_IMAGE;
  SetTWStr(id.Manufacturer, d.vendor.c_str());
  SetTWStr(id.ProductFamily, d.model.c_str());
  SetTWStr(id.ProductName, d.name.c_str());
}

void FillIdentity(TW_IDENTITY& id, size_t i) { FillIdentity(id, i, g.devices[i]); }

void ListDevices() {
  if (g.listed) return;
  g.listed = true;
  g.devices.clear();
  const SANE_Device** list = nullptr;
  if (g.sane.lib && g.sane.get_devices(&list, 0) == SANE_STATUS_GOOD && list)
    for (int i = 0; list[i] && i < 1024; ++i)
      if (list[i]->name)
        g.devices.push_back(TDevice{list[i]->name, list[i]->vendor ? list[i]->vendor : "",
                                    list[i]->model ? list[i]->model : ""});
}

// ---------------------------------------------------------------------------
// SANE options

int FindOption(SANE_Handle h, const char* name) {
  for (int i = 1; i < 1024; ++i) {
    const SANE_Option_Descriptor* d = g.sane.get_option_descriptor(h, i);
    if (!d) break;
    if (d->name && std::strcmp(d->name, name) == 0) return i;
  }
  return -1;
}

const SANE_Option_Descriptor* Option(SANE_Handle h, const char* name, int* index = nullptr) {
  const int i = FindOption(h, name);
  if (index) *index = i;
  if (i < 0) return nullptr;
  const SANE_Option_Descriptor* d = g.sane.get_option_descriptor(h, i);
  return d && !(d->cap & SANE_CAP_INACTIVE) ? d : nullptr;
}

bool GetNumber(SANE_Handle h, const char* name, double& v) {
  int i;
  const SANE_Option_Descriptor* d = Option(h, name, &i);
  if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || d->size < int(sizeof(SANE_Word)))
    return false;
  std::vector<SANE_Word> buf(size_t(d->size) / sizeof(SANE_Word) + 1);
  if (g.sane.control_option(h, i, SANE_ACTION_GET_VALUE, buf.data(), nullptr) != SANE_STATUS_GOOD)
    return false;
  v = d->type == SANE_TYPE_FIXED ? FromFixed(buf[0]) : double(buf[0]);
  return true;
}

// Sets a number option; round -1 rounds down, 1 up, 0 to nearest.
bool SetNumber(SANE_Handle h, const char* name, double v, int round = 0) {
  int i;
  const SANE_Option_Descriptor* d = Option(h, name, &i);
  if (!d || (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED)) return false;
  const double scaled = d->type == SANE_TYPE_FIXED ? v * kFixedOne : v;
  SANE_Word w = SANE_Word(round < 0   ? std::floor(scaled)
                          : round > 0 ? std::ceil(scaled)
                                      : std::round(scaled));
  return g.sane.control_option(h, i, SANE_ACTION_SET_VALUE, &w, nullptr) == SANE_STATUS_GOOD;
}

std::string GetString(SANE_Handle h, const char* name) {
  int i;
  const SANE_Option_Descriptor* d = Option(h, name, &i);
  if (!d || d->type != SANE_TYPE_STRING || d->size <= 0) return "";
  std::vector<char> buf(size_t(d->size) + 1, 0);
  if (g.sane.control_option(h, i, SANE_ACTION_GET_VALUE, buf.data(), nullptr) != SANE_STATUS_GOOD) return "";
  return std::string(buf.data());
}

bool SetString(SANE_Handle h, const char* name, const char* value) {
  int i;
  const SANE_Option_Descriptor* d = Option(h, name, &i);
  if (!d || d->type != SANE_TYPE_STRING || d->size <= 0) return false;
  std::vector<char> buf(size_t(d->size) + 1, 0);
  std::strncpy(buf.data(), value, size_t(d->size) - 1);
  return g.sane.control_option(h, i, SANE_ACTION_SET_VALUE, buf.data(), nullptr) == SANE_STATUS_GOOD;
}

std::vector<std::string> StringChoices(SANE_Handle h, const char* name) {
  std::vector<std::string> out;
  const SANE_Option_Descriptor* d = Option(h, name);
  if (d && d->type == SANE_TYPE_STRING && d->constraint_type == SANE_CONSTRAINT_STRING_LIST)
    for (const char* const* s = d->constraint.string_list; s && *s && out.size() < 256; ++s)
      out.push_back(*s);
  return out;
}

std::vector<double> WordChoices(SANE_Handle h, const char* name) {
  std::vector<double> out;
  const SANE_Option_Descriptor* d = Option(h, name);
  if (d && d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
    const int n = std::clamp(d->constraint.word_list[0], 0, 1024);
    for (int i = 1; i <= n; ++i) {
      const SANE_Word w = d->constraint.word_list[i];
      out.push_back(d->type == SANE_TYPE_FIXED ? FromFixed(w) : double(w));
    }
  }
  return out;
}

// Modes by the pixel type they give.
const char* kLineartModes[] = {"Lineart", "Binary", "Halftone", "Black & White"};
std::string ModeFor(SANE_Handle h, int pixelType) {
  const std::vector<std::string> modes = StringChoices(h, "mode");
  auto find = [&](const char* m) {
    for (const std::string& s : modes)
      if (SameText(s.c_str(), m)) return s;
    return std::string();
  };
  if (pixelType == TWPT_RGB) return find("Color");
  if (pixelType == TWPT_GRAY) return find("Gray");
  for (const char* m : kLineartModes)
    if (std::string s = find(m); !s.empty()) return s;
  return find("Gray");  // line art as gray at depth 1
}

bool HasDepth(SANE_Handle h, int depth) {
  for (double d : WordChoices(h, "depth"))
    if (int(d) == depth) return true;
  return false;
}

// The pixel types the device offers.
std::vector<int> PixelTypes(SANE_Handle h) {
  std::vector<int> out;
  const std::string bw = ModeFor(h, TWPT_BW);
  if (!bw.empty() && (!SameText(bw.c_str(), "Gray") || HasDepth(h, 1))) out.push_back(TWPT_BW);
  if (!ModeFor(h, TWPT_GRAY).empty()) out.push_back(TWPT_GRAY);
  if (!ModeFor(h, TWPT_RGB).empty()) out.push_back(TWPT_RGB);
  if (out.empty()) out.push_back(TWPT_GRAY);
  return out;
}

int CurrentPixelType(SANE_Handle h) {
  const std::string mode = GetString(h, "mode");
  double depth = 8;
  GetNumber(h, "depth", depth);
  if (ContainsText(mode.c_str(), "color")) return TWPT_RGB;
  for (const char* m : kLineartModes)
    if (SameText(mode.c_str(), m)) return TWPT_BW;
  return depth == 1 ? TWPT_BW : TWPT_GRAY;
}

std::string FeederChoice(SANE_Handle h) {
  for (const std::string& s : StringChoices(h, "source"))
    if (ContainsText(s.c_str(), "feeder") || ContainsText(s.c_str(), "adf")) return s;
  return "";
}
std::string FlatbedChoice(SANE_Handle h) {
  const std::vector<std::string> all = StringChoices(h, "source");
  for (const std::string& s : all)
    if (!ContainsText(s.c_str(), "feeder") && !ContainsText(s.c_str(), "adf")) return s;
  return "";
}

// Puts the negotiated values into the device's options.
void ApplySettings(TSource& s) {
  SANE_Handle h = s.h;
  if (s.pixelType >= 0) {
    const std::string mode = ModeFor(h, s.pixelType);
    if (!mode.empty()) SetString(h, "mode", mode.c_str());
    if (s.pixelType == TWPT_BW && SameText(mode.c_str(), "Gray"))
      SetNumber(h, "depth", 1);
    else if (HasDepth(h, 8))
      SetNumber(h, "depth", 8);
  }
  if (s.xres > 0) {
    if (!SetNumber(h, "x-resolution", s.xres)) SetNumber(h, "resolution", s.xres);
  }
  if (s.yres > 0) SetNumber(h, "y-resolution", s.yres);
  const std::string src = s.feeder ? FeederChoice(h) : FlatbedChoice(h);
  if (!src.empty()) SetString(h, "source", src.c_str());
  if (s.frameSet) {
    const SANE_Option_Descriptor* d = Option(h, "tl-x");
    const bool pixels = d && d->unit == SANE_UNIT_PIXEL;
    double res = 0;
    if (pixels) GetNumber(h, "resolution", res);
    auto conv = [&](double inches) { return pixels ? inches * res : inches * kMMPerInch; };
    // The bottom right first, so the top left never passes it. Rounding
    // outwards keeps a whole inch from losing its last pixel to the fixed
    // point step.
    SetNumber(h, "br-x", conv(s.frame[2]), 1);
    SetNumber(h, "br-y", conv(s.frame[3]), 1);
    SetNumber(h, "tl-x", conv(s.frame[0]), -1);
    SetNumber(h, "tl-y", conv(s.frame[1]), -1);
  }
}

// ---------------------------------------------------------------------------
// Reading pages

// Largest page read (bytes of SANE data).
constexpr size_t kMaxPageBytes = size_t(1) << 31;

// Starts a scan and reads one whole page (every frame of it); null when the
// device has no page (feeder empty), fails or is cancelled. The condition
// code says which.
std::unique_ptr<TPage> ReadPage(TSource& s) {
  SANE_Handle h = s.h;
  // Options are read before the scan starts: devices refuse them while busy.
  double res = 0;
  GetNumber(h, "resolution", res);
  double xres = res, yres = res;
  GetNumber(h, "x-resolution", xres);
  GetNumber(h, "y-resolution", yres);
  // A feeder's next page starts without a cancel: a device still busy keeps
  // the resolution of the page before.
  if (xres <= 0) xres = s.lastXRes;
  if (yres <= 0) yres = s.lastYRes;
  s.lastXRes = xres;
  s.lastYRes = yres;
  SANE_Status st = g.sane.start(h);
  s.scanning = true;
  if (st != SANE_STATUS_GOOD) {
    g.condition = st == SANE_STATUS_NO_DOCS ? TWCC_BUMMER : TWCC_OPERATIONERROR;
    return nullptr;
  }

  auto page = std::make_unique<TPage>();
  page->xres = xres;
  page->yres = yres;
  SANE_Parameters first{};
  if (g.sane.get_parameters(h, &first) == SANE_STATUS_GOOD && first.lines > 0 && first.pixels_per_line > 0 &&
      first.last_frame && (first.format == SANE_FRAME_RGB || first.format == SANE_FRAME_GRAY) &&
      (first.depth == 8 || (first.depth == 1 && first.format == SANE_FRAME_GRAY))) {
    const int bpp = first.depth == 1 ? 1 : first.format == SANE_FRAME_RGB ? 24 : 8;
    const size_t row = (size_t(first.pixels_per_line) * size_t(bpp) + 7) / 8;
    if (size_t(first.bytes_per_line) == row && row * size_t(first.lines) <= kMaxPageBytes) {
      page->width = first.pixels_per_line;
      page->height = first.lines;
      page->bpp = bpp;
      page->rowBytes = row;
      page->stream = true;
      page->invert = bpp == 1;
      return page;
    }
  }
  std::vector<uint8_t> raw;     // the frame as SANE sends it
  std::vector<uint8_t> planes;  // three-pass colour, interleaved here
  int width = 0, lines = 0, depth = 0, format = SANE_FRAME_GRAY;
  size_t bpl = 0;
  for (int frame = 0; frame < 3; ++frame) {
    SANE_Parameters p{};
    if (frame > 0 && g.sane.start(h) != SANE_STATUS_GOOD) return nullptr;
    if (g.sane.get_parameters(h, &p) != SANE_STATUS_GOOD || p.pixels_per_line <= 0 || p.bytes_per_line <= 0)
      return nullptr;
    raw.clear();
    if (p.lines > 0) {
      if (size_t(p.bytes_per_line) * size_t(p.lines) > kMaxPageBytes) return nullptr;
      raw.reserve(size_t(p.bytes_per_line) * size_t(p.lines));
    }
    std::vector<uint8_t> chunk(256 * 1024);
    for (;;) {
      SANE_Int n = 0;
      st = g.sane.read(h, chunk.data(), SANE_Int(chunk.size()), &n);
      if (st == SANE_STATUS_EOF) break;
      if (st != SANE_STATUS_GOOD) {
        g.condition = st == SANE_STATUS_CANCELLED ? TWCC_SUCCESS : TWCC_OPERATIONERROR;
        return nullptr;
      }
      if (n > 0)
        raw.insert(raw.end(), chunk.begin(), chunk.begin() + std::min<size_t>(size_t(n), chunk.size()));
      if (raw.size() > kMaxPageBytes) return nullptr;
    }
    width = p.pixels_per_line;
    bpl = size_t(p.bytes_per_line);
    lines = int(raw.size() / bpl);
    if (p.lines > 0) lines = std::min(lines, p.lines);
    depth = p.depth;
    format = p.format;
    if (format == SANE_FRAME_RED || format == SANE_FRAME_GREEN || format == SANE_FRAME_BLUE) {
      // One plane of three: each becomes a channel of 8-bit RGB.
      if (depth != 8 || lines <= 0) return nullptr;
      if (planes.empty()) planes.assign(size_t(width) * 3 * size_t(lines), 0);
      const int c = format - SANE_FRAME_RED;
      const int rows = std::min(lines, int(planes.size() / (size_t(width) * 3)));
      for (int y = 0; y < rows; ++y)
        for (int x = 0; x < width; ++x) planes[(size_t(y) * width + x) * 3 + c] = raw[size_t(y) * bpl + x];
      if (p.last_frame) {
        page->width = width;
        page->height = int(planes.size() / (size_t(width) * 3));
        page->bpp = 24;
        page->rowBytes = size_t(width) * 3;
        page->data = std::move(planes);
        break;
      }
      continue;
    }
    // Single-frame gray or RGB: converted to the transfer layout.
    if (lines <= 0) return nullptr;
    const bool rgb = format == SANE_FRAME_RGB;
    page->width = width;
    page->height = lines;
    if (depth == 1 && !rgb) {
      // SANE line art has 1 for black; TWAIN's default has 0 for black.
      page->bpp = 1;
      page->rowBytes = (size_t(width) + 7) / 8;
      page->data.resize(page->rowBytes * size_t(lines));
      for (int y = 0; y < lines; ++y)
        for (size_t i = 0; i < page->rowBytes && i < bpl; ++i)
          page->data[size_t(y) * page->rowBytes + i] = uint8_t(~raw[size_t(y) * bpl + i]);
    } else {
      const int spp = rgb ? 3 : 1;
      page->bpp = 8 * spp;
      page->rowBytes = size_t(width) * spp;
      const size_t samples = page->rowBytes;
      if (depth == 8 && bpl == samples) {
        raw.resize(samples * size_t(lines));
        page->data = std::move(raw);
      } else {
        page->data.resize(samples * size_t(lines));
        for (int y = 0; y < lines; ++y) {
          const uint8_t* src = raw.data() + size_t(y) * bpl;
          uint8_t* dst = page->data.data() + size_t(y) * samples;
          for (size_t i = 0; i < samples; ++i) {
            if (depth == 16 && (i + 1) * 2 <= bpl) {
              uint16_t v;
              std::memcpy(&v, src + i * 2, 2);
              dst[i] = uint8_t(v >> 8);
            } else if (depth == 1 && i / 8 < bpl) {
              dst[i] = (src[i / 8] & (0x80 >> (i & 7))) ? 255 : 0;
            } else if (depth == 8 && i < bpl) {
              dst[i] = src[i];
            }
          }
        }
      }
    }
    break;
  }
  if (page->width <= 0 || page->height <= 0) return nullptr;
  return page;
}

// Reads the next `bytes` of a streamed page into dst. What the device does
// not deliver after an early end of the frame stays zero: black in gray and
// colour, white in line art once inverted. An error (a jam, an I/O failure,
// a cancel at the device) marks the page failed, as a whole-page read fails.
void ReadStream(TSource& s, TPage& p, uint8_t* dst, size_t bytes) {
  size_t got = 0;
  while (got < bytes && s.scanning && !p.ended) {
    SANE_Int n = 0;
    const size_t want = std::min<size_t>(bytes - got, size_t(1) << 30);
    const SANE_Status st = g.sane.read(s.h, dst + got, SANE_Int(want), &n);
    if (st != SANE_STATUS_GOOD) {
      if (st != SANE_STATUS_EOF) {
        p.failed = true;
        g.condition = st == SANE_STATUS_CANCELLED ? TWCC_SUCCESS : TWCC_OPERATIONERROR;
      }
      p.ended = true;
      break;
    }
    got += std::min<size_t>(size_t(std::max(n, 0)), want);
  }
  std::memset(dst + got, 0, bytes - got);
  if (p.invert)
    for (size_t i = 0; i < bytes; ++i) dst[i] = uint8_t(~dst[i]);
}

// A streamed page read to its end into its own buffer (for a native
// transfer).
void ReadRest(TSource& s, TPage& p) {
  if (!p.stream) return;
  p.data.assign(p.rowBytes * size_t(p.height), 0);
  const size_t at = p.rowBytes * size_t(p.nextRow);
  ReadStream(s, p, p.data.data() + at, p.data.size() - at);
  p.stream = false;
}

// Reads what the device still sends of the current frame, up to its end, so
// that the next page can start.
void Drain(TSource& s) {
  std::vector<uint8_t> chunk(64 * 1024);
  for (int guard = 0; guard < (1 << 20) && s.scanning; ++guard) {
    SANE_Int n = 0;
    if (g.sane.read(s.h, chunk.data(), SANE_Int(chunk.size()), &n) != SANE_STATUS_GOOD) break;
  }
}

void EndScan(TSource& s) {
  if (s.scanning) g.sane.cancel(s.h);
  s.scanning = false;
  s.page.reset();
  s.next.reset();
  s.started = false;
}

// ---------------------------------------------------------------------------
// Capabilities

template <typename T>
TW_HANDLE Container(const T& header, const void* items = nullptr, size_t bytes = 0) {
  auto* p = static_cast<uint8_t*>(std::calloc(1, sizeof(T) + bytes));
  if (!p) return nullptr;
  std::memcpy(p, &header, sizeof(T));
  if (bytes) std::memcpy(p + sizeof(T), items, bytes);
  return p;
}

TW_HANDLE OneValue(TW_UINT16 type, TW_UINT32 item) {
  TW_ONEVALUE v{type, 0};
  std::memcpy(&v.Item, &item, TWItemSize(type));
  return Container(v);
}

TW_HANDLE UInt16Enum(const std::vector<int>& items, int current) {
  std::vector<TW_UINT16> v(items.begin(), items.end());
  const auto at = std::find(items.begin(), items.end(), current);
  TW_ENUMERATION e{TWTY_UINT16, TW_UINT32(v.size()), TW_UINT32(at == items.end() ? 0 : at - items.begin()),
                   0};
  return Container(e, v.data(), v.size() * 2);
}

// The resolutions of the device as a range or an enumeration of FIX32.
TW_HANDLE Resolutions(SANE_Handle h, double current, TW_UINT16& con) {
  const SANE_Option_Descriptor* d = Option(h, "resolution");
  if (!d) return nullptr;
  if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
    const SANE_Range& r = *d->constraint.range;
    auto f = [&](SANE_Word w) {
      return Fix32Bits(FloatToFix32(d->type == SANE_TYPE_FIXED ? FromFixed(w) : w));
    };
    const TW_UINT32 cur = Fix32Bits(FloatToFix32(current));
    con = TWON_RANGE;
    return Container(TW_RANGE{TWTY_FIX32, f(r.min), f(r.max), f(r.quant ? r.quant : 1), cur, cur});
  }
  std::vector<double> list = WordChoices(h, "resolution");
  if (list.empty()) list.push_back(current);
  std::vector<TW_FIX32> items;
  size_t at = 0;
  for (size_t i = 0; i < list.size(); ++i) {
    items.push_back(FloatToFix32(list[i]));
    if (list[i] == current) at = i;
  }
  TW_ENUMERATION e{TWTY_FIX32, TW_UINT32(items.size()), TW_UINT32(at), 0};
  con = TWON_ENUMERATION;
  return Container(e, items.data(), items.size() * 4);
}

// The value an application sent: the current value of any container.
bool SentValue(const TW_CAPABILITY& cap, double& v) {
  static const TTWainMemory mem;
  return ReadCurrentValue(mem, cap, v);
}

TW_UINT16 GetCapability(TSource& s, TW_CAPABILITY& cap) {
  SANE_Handle h = s.h;
  TW_HANDLE c = nullptr;
  TW_UINT16 con = TWON_ONEVALUE;
  double v = 0;
  switch (cap.Cap) {
    case ICAP_COMPRESSION:
    case ICAP_UNITS:
    case ICAP_PLANARCHUNKY:
      c = OneValue(TWTY_UINT16, 0);
      break;
    case ICAP_XFERMECH:
      c = UInt16Enum({TWSX_NATIVE, TWSX_MEMORY}, s.memory ? TWSX_MEMORY : TWSX_NATIVE);
      con = TWON_ENUMERATION;
      break;
    case ICAP_PIXELTYPE:
      c = UInt16Enum(PixelTypes(h), s.pixelType >= 0 ? s.pixelType : CurrentPixelType(h));
      con = TWON_ENUMERATION;
      break;
    case ICAP_BITDEPTH: {
      const int pt = s.pixelType >= 0 ? s.pixelType : CurrentPixelType(h);
      c = OneValue(TWTY_UINT16, pt == TWPT_RGB ? 24 : pt == TWPT_GRAY ? 8 : 1);
      break;
    }
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION: {
      double cur = 0;
      GetNumber(h, "resolution", cur);
      const double mine = cap.Cap == ICAP_XRESOLUTION ? s.xres : s.yres;
      c = Resolutions(h, mine > 0 ? mine : cur, con);
      break;
    }
    case ICAP_PHYSICALWIDTH:
    case ICAP_PHYSICALHEIGHT: {
      const SANE_Option_Descriptor* d = Option(h, cap.Cap == ICAP_PHYSICALWIDTH ? "br-x" : "br-y");
      if (d && d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range &&
          d->unit == SANE_UNIT_MM) {
        const SANE_Word m = d->constraint.range->max;
        v = (d->type == SANE_TYPE_FIXED ? FromFixed(m) : m) / kMMPerInch;
        c = OneValue(TWTY_FIX32, Fix32Bits(FloatToFix32(v)));
      }
      break;
    }
    case CAP_FEEDERENABLED:
      if (!FeederChoice(h).empty()) c = OneValue(TWTY_BOOL, s.feeder ? 1 : 0);
      break;
    case CAP_INDICATORS:
      c = OneValue(TWTY_BOOL, s.indicators ? 1 : 0);
      break;
    default:
      break;
  }
  if (!c) return Fail(TWCC_CAPUNSUPPORTED);
  cap.ConType = con;
  cap.hContainer = c;
  return TWRC_SUCCESS;
}

TW_UINT16 SetCapability(TSource& s, const TW_CAPABILITY& cap) {
  double v = 0;
  if (!SentValue(cap, v)) return Fail(TWCC_BADVALUE);
  SANE_Handle h = s.h;
  switch (cap.Cap) {
    case ICAP_COMPRESSION:
    case ICAP_UNITS:
    case ICAP_PLANARCHUNKY:
      return v == 0 ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    case ICAP_XFERMECH:
      if (v != TWSX_NATIVE && v != TWSX_MEMORY) return Fail(TWCC_BADVALUE);
      s.memory = v == TWSX_MEMORY;
      return TWRC_SUCCESS;
    case ICAP_PIXELTYPE: {
      const std::vector<int> types = PixelTypes(h);
      if (std::find(types.begin(), types.end(), int(v)) == types.end()) return Fail(TWCC_BADVALUE);
      s.pixelType = int(v);
      return TWRC_SUCCESS;
    }
    case ICAP_BITDEPTH: {
      const int pt = s.pixelType >= 0 ? s.pixelType : CurrentPixelType(h);
      return int(v) == (pt == TWPT_RGB ? 24 : pt == TWPT_GRAY ? 8 : 1) ? TWRC_SUCCESS : Fail(TWCC_BADVALUE);
    }
    case ICAP_XRESOLUTION:
    case ICAP_YRESOLUTION:
      if (!(v > 0 && v <= 100000)) return Fail(TWCC_BADVALUE);
      (cap.Cap == ICAP_XRESOLUTION ? s.xres : s.yres) = v;
      return TWRC_SUCCESS;
    case CAP_FEEDERENABLED:
      if (v != 0 && FeederChoice(h).empty()) return Fail(TWCC_BADVALUE);
      s.feeder = v != 0;
      return TWRC_SUCCESS;
    case CAP_INDICATORS:
      s.indicators = v != 0;
      return TWRC_SUCCESS;
    default:
      return Fail(TWCC_CAPUNSUPPORTED);
  }
}

// ---------------------------------------------------------------------------
// The source's messages to the application

void Notify(TSource& s, TW_UINT16 msg) {
  if (s.callback)
    s.callback(&s.id, &s.app, DG_CONTROL, DAT_NULL, msg, nullptr);
  else
    s.queued = msg;
}

TW_UINT16 Enable(TSource& s, const TW_USERINTERFACE& ui) {
  if (s.enabled) return Fail(TWCC_SEQERROR);
  s.enabled = true;
  s.queued = MSG_NULL;
  if (ui.ShowUI && qobject_cast<QApplication*>(QCoreApplication::instance())) {
    s.ui = std::make_unique<TSourceUIDialog>(
        TWStr(s.id.ProductName), [&s] { Notify(s, MSG_XFERREADY); }, [&s] { Notify(s, MSG_CLOSEDSREQ); });
    s.ui->show();
    return TWRC_SUCCESS;
  }
  Notify(s, MSG_XFERREADY);
  // Asked to hide a user interface it would show otherwise, a source says
  // so; this one has nothing more to show.
  return TWRC_SUCCESS;
}

void Disable(TSource& s) {
  EndScan(s);
  s.ui.reset();
  s.enabled = false;
  s.queued = MSG_NULL;
}

// Makes sure the current page has been read.
bool EnsurePage(TSource& s) {
  if (s.page) return true;
  if (s.next) {
    s.page = std::move(s.next);
    return true;
  }
  ApplySettings(s);
  s.page = ReadPage(s);
  return s.page != nullptr;
}

TW_UINT16 ImageInfo(TSource& s, TW_IMAGEINFO& info) {
  if (!EnsurePage(s)) return TWRC_FAILURE;
  const TPage& p = *s.page;
  std::memset(&info, 0, sizeof info);
  info.XResolution = FloatToFix32(p.xres);
  info.YResolution = FloatToFix32(p.yres);
  info.ImageWidth = p.width;
  info.ImageLength = p.height;
  info.SamplesPerPixel = p.bpp == 24 ? 3 : 1;
  for (int i = 0; i < info.SamplesPerPixel; ++i) info.BitsPerSample[i] = p.bpp == 1 ? 1 : 8;
  info.BitsPerPixel = TW_INT16(p.bpp);
  info.PixelType = p.bpp == 24 ? TWPT_RGB : p.bpp == 8 ? TWPT_GRAY : TWPT_BW;
  info.Compression = TWCP_NONE;
  return TWRC_SUCCESS;
}

TW_UINT16 MemoryStrip(TSource& s, TW_IMAGEMEMXFER& x) {
  if (!EnsurePage(s)) return TWRC_FAILURE;
  TPage& p = *s.page;
  s.started = true;
  uint8_t* dst = static_cast<uint8_t*>(x.Memory.TheMem);
  if (!dst || p.rowBytes == 0) return Fail(TWCC_BADVALUE);
  const size_t fit = x.Memory.Length / p.rowBytes;
  if (fit == 0) return Fail(TWCC_BADVALUE);
  const int rows = int(std::min<size_t>(fit, size_t(p.height - p.nextRow)));
  if (p.stream) {
    ReadStream(s, p, dst, size_t(rows) * p.rowBytes);
    if (p.failed) return TWRC_FAILURE;
  } else {
    std::memcpy(dst, p.data.data() + size_t(p.nextRow) * p.rowBytes, size_t(rows) * p.rowBytes);
  }
  x.Compression = TWCP_NONE;
  x.BytesPerRow = TW_UINT32(p.rowBytes);
  x.Columns = TW_UINT32(p.width);
  x.Rows = TW_UINT32(rows);
  x.XOffset = 0;
  x.YOffset = TW_UINT32(p.nextRow);
  x.BytesWritten = TW_UINT32(size_t(rows) * p.rowBytes);
  p.nextRow += rows;
  return p.nextRow >= p.height ? TWRC_XFERDONE : TWRC_SUCCESS;
}

// The page as a packed DIB: 40-byte header, a gray or black/white table,
// rows bottom-up padded to 4 bytes, 24-bit rows blue first.
TW_UINT16 NativeImage(TSource& s, TW_HANDLE* out) {
  if (!out) return Fail(TWCC_BADVALUE);
  if (!EnsurePage(s)) return TWRC_FAILURE;
  TPage& p = *s.page;
  s.started = true;
  ReadRest(s, p);
  if (p.failed) return TWRC_FAILURE;
  const int colors = p.bpp == 1 ? 2 : p.bpp == 8 ? 256 : 0;
  const size_t stride = ((size_t(p.width) * p.bpp + 31) / 32) * 4;
  const size_t head = 40 + size_t(colors) * 4;
  auto* dib = static_cast<uint8_t*>(std::calloc(1, head + stride * size_t(p.height)));
  if (!dib) return Fail(TWCC_LOWMEMORY);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(dib + at, &v, 4); };
  put32(0, 40);
  put32(4, uint32_t(p.width));
  put32(8, uint32_t(p.height));
  dib[12] = 1;
  dib[14] = uint8_t(p.bpp);
  put32(20, uint32_t(stride * size_t(p.height)));
  const uint32_t ppm = uint32_t(std::lround(p.xres / 0.0254));
  put32(24, ppm);
  put32(28, uint32_t(std::lround(p.yres / 0.0254)));
  put32(32, uint32_t(colors));
  for (int i = 0; i < colors; ++i) {
    const uint8_t l = uint8_t(colors == 2 ? i * 255 : i);
    dib[40 + i * 4] = dib[41 + i * 4] = dib[42 + i * 4] = l;
  }
  for (int y = 0; y < p.height; ++y) {
    const uint8_t* src = p.data.data() + size_t(y) * p.rowBytes;
    uint8_t* dst = dib + head + size_t(p.height - 1 - y) * stride;
    if (p.bpp == 24)
      for (int x = 0; x < p.width; ++x)
        dst[x * 3] = src[x * 3 + 2], dst[x * 3 + 1] = src[x * 3 + 1], dst[x * 3 + 2] = src[x * 3];
    else
      std::memcpy(dst, src, p.rowBytes);
  }
  p.nextRow = p.height;
  *out = dib;
  return TWRC_XFERDONE;
}

TW_UINT16 EndTransfer(TSource& s, TW_PENDINGXFERS& px) {
  if (s.page && s.page->stream && s.scanning) {
    // A page transferred to its last row ends at the device's end of frame;
    // one left unfinished is cancelled with the scan.
    if (s.page->nextRow >= s.page->height) {
      if (!s.page->ended) Drain(s);
    } else {
      g.sane.cancel(s.h);
      s.scanning = false;
    }
  }
  s.page.reset();
  s.started = false;
  px.Count = 0;
  px.EOJ = 0;
  if (s.feeder && !s.next) {
    // The feeder's next page, read now so the count is known.
    s.next = ReadPage(s);
    if (!s.next) {
      if (s.scanning) g.sane.cancel(s.h);
      s.scanning = false;
    }
  } else if (!s.next) {
    if (s.scanning) g.sane.cancel(s.h);
    s.scanning = false;
  }
  px.Count = s.next ? 1 : 0;
  // The last page transferred: a source with its window open asks to close.
  if (!px.Count && s.ui) Notify(s, MSG_CLOSEDSREQ);
  return TWRC_SUCCESS;
}

// ---------------------------------------------------------------------------
// The manager

TW_UINT16 OpenManager(TW_IDENTITY* app) {
  if (g.open) return Fail(TWCC_SEQERROR);
  g.open = true;
  g.listed = false;
  g.enumNext = 0;
  if (app && app->Id == 0) app->Id = g.nextAppId++;
  // Without libsane the manager works and has no sources.
  g.sane.Load();
  return TWRC_SUCCESS;
}

void CloseSource() {
  if (!g.source) return;
  Disable(*g.source);
  if (g.source->h) g.sane.close(g.source->h);
  g.source.reset();
}

TW_UINT16 CloseManager() {
  if (!g.open) return Fail(TWCC_SEQERROR);
  CloseSource();
  if (g.sane.lib) g.sane.Unload();
  g.open = false;
  return TWRC_SUCCESS;
}

TW_UINT16 OpenSource(TW_IDENTITY* app, TW_IDENTITY* id) {
  if (!id) return Fail(TWCC_BADVALUE);
  if (g.source) return Fail(TWCC_OPERATIONERROR);
  if (!g.sane.lib) return Fail(TWCC_NODS);
  // A named source is opened as SANE names it; no name is the first device.
  TDevice device{TWStr(id->ProductName), "", ""};
  size_t i = 0;
  if (device.name.empty()) {
    ListDevices();
    if (g.devices.empty()) return Fail(TWCC_NODS);
    device = g.devices[0];
  } else {
    while (i < g.devices.size() && g.devices[i].name != device.name) ++i;
    if (i < g.devices.size()) device = g.devices[i];
  }
  auto s = std::make_unique<TSource>();
  const SANE_Status st = g.sane.open(device.name.c_str(), &s->h);
  if (st != SANE_STATUS_GOOD || !s->h) {
    // SANE answers an unknown device name with "invalid argument".
    return Fail(st == SANE_STATUS_INVAL ? TWCC_NODS : TWCC_OPERATIONERROR);
  }
  FillIdentity(s->id, i, device);
  if (app) s->app = *app;
  *id = s->id;
  g.source = std::move(s);
  return TWRC_SUCCESS;
}

TW_UINT16 UserSelect(TW_IDENTITY* id) {
  if (!id) return Fail(TWCC_BADVALUE);
  ListDevices();
  if (g.devices.empty()) return Fail(TWCC_NODS);
  if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return Fail(TWCC_BUMMER);
  std::vector<std::string> lines;
  int current = 0;
  const std::string want = TWStr(id->ProductName);
  for (size_t i = 0; i < g.devices.size(); ++i) {
    const TDevice& d = g.devices[i];
    lines.push_back(d.name + " - " + d.vendor + " " + d.model);
    if (d.name == want) current = int(i);
  }
  const int chosen = RunSourceSelectDialog(nullptr, lines, current);
  if (chosen < 0 || chosen >= int(g.devices.size())) return TWRC_CANCEL;
  FillIdentity(*id, size_t(chosen));
  return TWRC_SUCCESS;
}

TW_UINT16 SourceEntry(TSource& s, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF data) {
  if (!data && dat != DAT_NULL) return Fail(TWCC_BADVALUE);
  if (dg == DG_CONTROL) {
    switch (dat) {
      case DAT_CALLBACK:
        if (msg != MSG_REGISTER_CALLBACK) break;
        s.callback = reinterpret_cast<TWAINCALLBACKPROC>(static_cast<TW_CALLBACK*>(data)->CallBackProc);
        return TWRC_SUCCESS;
      case DAT_CAPABILITY: {
        auto& cap = *static_cast<TW_CAPABILITY*>(data);
        if (msg == MSG_GET || msg == MSG_GETCURRENT) return GetCapability(s, cap);
        if (msg == MSG_SET) return s.enabled ? Fail(TWCC_SEQERROR) : SetCapability(s, cap);
        break;
      }
      case DAT_USERINTERFACE:
        if (msg == MSG_ENABLEDS) return Enable(s, *static_cast<TW_USERINTERFACE*>(data));
        if (msg == MSG_DISABLEDS) {
          if (!s.enabled) return Fail(TWCC_SEQERROR);
          Disable(s);
          return TWRC_SUCCESS;
        }
        break;
      case DAT_EVENT:
        if (msg == MSG_PROCESSEVENT) {
          auto& ev = *static_cast<TW_EVENT*>(data);
          ev.TWMessage = s.queued;
          s.queued = MSG_NULL;
          return ev.TWMessage != MSG_NULL ? TWRC_DSEVENT : TWRC_NOTDSEVENT;
        }
        break;
      case DAT_SETUPMEMXFER:
        if (msg == MSG_GET) {
          auto& m = *static_cast<TW_SETUPMEMXFER*>(data);
          const size_t row = s.page ? s.page->rowBytes : 1;
          m.MinBufSize = TW_UINT32(row);
          m.MaxBufSize = TWON_DONTCARE32;
          m.Preferred = TW_UINT32(std::max<size_t>(row, (1u << 20) / row * row));
          return TWRC_SUCCESS;
        }
        break;
      case DAT_PENDINGXFERS:
        if (msg == MSG_ENDXFER) return EndTransfer(s, *static_cast<TW_PENDINGXFERS*>(data));
        if (msg == MSG_RESET) {
          EndScan(s);
          *static_cast<TW_PENDINGXFERS*>(data) = TW_PENDINGXFERS{0, 0};
          return TWRC_SUCCESS;
        }
        break;
      case DAT_STATUS:
        if (msg == MSG_GET) {
          *static_cast<TW_STATUS*>(data) = TW_STATUS{g.condition, 0};
          g.condition = TWCC_SUCCESS;
          return TWRC_SUCCESS;
        }
        break;
      default:
        break;
    }
  } else if (dg == DG_IMAGE) {
    switch (dat) {
      case DAT_IMAGEINFO:
        if (msg == MSG_GET) return ImageInfo(s, *static_cast<TW_IMAGEINFO*>(data));
        break;
      case DAT_IMAGELAYOUT: {
        auto& lay = *static_cast<TW_IMAGELAYOUT*>(data);
        if (msg == MSG_GET) {
          double f[4] = {0, 0, 0, 0};
          if (s.frameSet) {
            std::copy(s.frame, s.frame + 4, f);
          } else {
            const char* names[4] = {"tl-x", "tl-y", "br-x", "br-y"};
            for (int i = 0; i < 4; ++i)
              if (GetNumber(s.h, names[i], f[i])) f[i] /= kMMPerInch;
          }
          std::memset(&lay, 0, sizeof lay);
          lay.Frame =
              TW_FRAME{FloatToFix32(f[0]), FloatToFix32(f[1]), FloatToFix32(f[2]), FloatToFix32(f[3])};
          lay.DocumentNumber = lay.PageNumber = lay.FrameNumber = 1;
          return TWRC_SUCCESS;
        }
        if (msg == MSG_SET) {
          if (s.enabled) return Fail(TWCC_SEQERROR);
          const double f[4] = {Fix32ToFloat(lay.Frame.Left), Fix32ToFloat(lay.Frame.Top),
                               Fix32ToFloat(lay.Frame.Right), Fix32ToFloat(lay.Frame.Bottom)};
          if (!(f[2] > f[0] && f[3] > f[1] && f[0] >= 0 && f[1] >= 0)) return Fail(TWCC_BADVALUE);
          std::copy(f, f + 4, s.frame);
          s.frameSet = true;
          return TWRC_SUCCESS;
        }
        break;
      }
      case DAT_IMAGEMEMXFER:
        if (msg == MSG_GET) return MemoryStrip(s, *static_cast<TW_IMAGEMEMXFER*>(data));
        break;
      case DAT_IMAGENATIVEXFER:
        if (msg == MSG_GET) return NativeImage(s, static_cast<TW_HANDLE*>(data));
        break;
      default:
        break;
    }
  }
  return Fail(TWCC_BADPROTOCOL);
}

}  // namespace

TW_UINT16 SaneDSM_Entry(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT, TW_UINT16 MSG,
                        TW_MEMREF pData) {
  if (pDest) {
    if (!g.source || pDest->Id != g.source->id.Id) return Fail(TWCC_BADDEST);
    return SourceEntry(*g.source, DG, DAT, MSG, pData);
  }
  if (DG != DG_CONTROL) return Fail(TWCC_BADPROTOCOL);
  switch (DAT) {
    case DAT_PARENT:
      if (MSG == MSG_OPENDSM) return OpenManager(pOrigin);
      if (MSG == MSG_CLOSEDSM) return CloseManager();
      break;
    case DAT_STATUS:
      if (MSG == MSG_GET && pData) {
        *static_cast<TW_STATUS*>(pData) = TW_STATUS{g.condition, 0};
        g.condition = TWCC_SUCCESS;
        return TWRC_SUCCESS;
      }
      break;
    case DAT_IDENTITY: {
      if (!g.open) return Fail(TWCC_SEQERROR);
      auto* id = static_cast<TW_IDENTITY*>(pData);
      switch (MSG) {
        case MSG_GETFIRST:
        case MSG_GETNEXT:
          if (!id) return Fail(TWCC_BADVALUE);
          ListDevices();
          if (MSG == MSG_GETFIRST) g.enumNext = 0;
          if (g.enumNext >= g.devices.size()) return TWRC_ENDOFLIST;
          FillIdentity(*id, g.enumNext++);
          return TWRC_SUCCESS;
        case MSG_USERSELECT:
          return UserSelect(id);
        case MSG_OPENDS:
          return OpenSource(pOrigin, id);
        case MSG_CLOSEDS:
          if (!g.source) return Fail(TWCC_SEQERROR);
          CloseSource();
          return TWRC_SUCCESS;
        default:
          break;
      }
      break;
    }
    default:
      break;
  }
  return Fail(TWCC_BADPROTOCOL);
}

}  // namespace korvane
