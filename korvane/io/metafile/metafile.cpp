#include "korvane/io/metafile/metafile.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/io/metafile/meta_player.h"
#include "korvane/view/kvview.h"

namespace korvane {

namespace {

const char kBadMetafile[] = "unrecognized WMF or EMF";

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableBytes = 22;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr size_t kEmfHeaderMin = 88;
// The header's second extension ends with the device size in micrometres.
constexpr uint32_t kEmfHeaderMicrometresEnd = 108;

int ScreenDpiX() {
  InitScreenGlobals();
  return gSystemDPIX > 0 ? gSystemDPIX : 96;
}
int ScreenDpiY() {
  InitScreenGlobals();
  return gSystemDPIY > 0 ? gSystemDPIY : 96;
}

// Sizes are kept well inside int so that callers can add and multiply.
int SizeFrom(double v) {
  if (!std::isfinite(v)) return 0;
  return int(std::clamp(std::lround(std::abs(v)), 0L, long(1) << 24));
}

// True for the 18-byte WMF header at pos: type 1 (memory) or 2 (disk), a
// header of 9 words, version 1.0 or 3.0.
bool WmfHeaderAt(const std::vector<uint8_t>& d, size_t pos) {
  if (pos > d.size() || d.size() - pos < 18) return false;
  const metafile::TRecordView h{d.data() + pos, d.size() - pos};
  const uint16_t type = h.U16(0), words = h.U16(2), version = h.U16(4);
  return (type == 1 || type == 2) && words == 9 && (version == 0x0100 || version == 0x0300);
}

}  // namespace

void TMetafile::Clear() {
  data_.clear();
  enhanced_ = false;
  width_ = height_ = 0;
  logical_ = TRect{};
}

void TMetafile::LoadFromStream(TStream* stream) {
  Clear();
  const int64_t left = stream ? stream->Remaining() : 0;
  if (left <= 0 || left > kMaxMetafileBytes) throw EInvalidGraphic(kBadMetafile);
  std::vector<uint8_t> bytes(static_cast<size_t>(left));
  try {
    stream->ReadBuffer(bytes.data(), left);
  } catch (const EStreamError&) {
    throw EInvalidGraphic(kBadMetafile);
  }
  const metafile::TRecordView v{bytes.data(), bytes.size()};
  int width = 0, height = 0;
  bool enhanced = false;
  TRect logical;
  if (v.U32(0) == kPlaceableKey) {
    // Bounds in metafile units and the units per inch; the checksum is not
    // checked, as many writers get it wrong.
    const int l = v.S16(6), t = v.S16(8), r = v.S16(10), b = v.S16(12), inch = v.U16(14);
    if (inch == 0 || !WmfHeaderAt(bytes, kPlaceableBytes)) throw EInvalidGraphic(kBadMetafile);
    width = SizeFrom(double(r - l) * ScreenDpiX() / inch);
    height = SizeFrom(double(b - t) * ScreenDpiY() / inch);
    logical = Rect(l, t, r, b);
  } else if (WmfHeaderAt(bytes, 0)) {
    // A bare WMF is as large as the window it sets, its units taken as pixels.
    QRectF window;
    if (metafile::FindWmfWindow(bytes.data(), bytes.size(), 0, window)) {
      logical = Rect(int(window.left()), int(window.top()), int(window.right()), int(window.bottom()));
      width = SizeFrom(window.width());
      height = SizeFrom(window.height());
    }
  } else if (bytes.size() >= kEmfHeaderMin && v.U32(0) == 1 && v.U32(40) == kEmfSignature &&
             v.U32(4) >= kEmfHeaderMin && v.U32(4) <= bytes.size()) {
    // The frame is inclusive, in hundredths of a millimetre: one more pixel
    // than the distance between its edges.
    enhanced = true;
    const double fw = double(v.S32(32)) - v.S32(24), fh = double(v.S32(36)) - v.S32(28);
    width = SizeFrom(fw * ScreenDpiX() / 2540) + 1;
    height = SizeFrom(fh * ScreenDpiY() / 2540) + 1;
    logical = Rect(v.S32(8), v.S32(12), v.S32(16), v.S32(20));
  } else {
    throw EInvalidGraphic(kBadMetafile);
  }
  data_ = std::move(bytes);
  enhanced_ = enhanced;
  width_ = width;
  height_ = height;
  logical_ = logical;
}

void TMetafile::LoadFromFile(const std::string& name) {
  TFileStream fs(name, fmOpenRead);
  LoadFromStream(&fs);
}

void TMetafile::SaveToStream(TStream* stream) const {
  if (!data_.empty()) stream->WriteBuffer(data_.data(), int64_t(data_.size()));
}

void TMetafile::Draw(TCanvas* canvas, const TRect& dest) const {
  if (!canvas || data_.empty() || dest.Width() == 0 || dest.Height() == 0) return;
  const metafile::TRecordView v{data_.data(), data_.size()};
  metafile::TMetaFrame frame;
  if (enhanced_) {
    // The recording device's pixels are the reference space; the frame,
    // converted to them, is what fills dest. A header without a usable device
    // size falls back to the bounds of what was drawn.
    double devW = v.S32(72), devH = v.S32(76), mmW = v.S32(80), mmH = v.S32(84);
    // A header long enough to hold the device size in micrometres gives it
    // exactly: writers that size the device as the picture round the
    // millimetres to whole ones, which scales the picture by up to a few percent.
    if (v.U32(4) >= kEmfHeaderMicrometresEnd && v.S32(100) > 0 && v.S32(104) > 0) {
      mmW = v.S32(100) / 1000.0;
      mmH = v.S32(104) / 1000.0;
    }
    const double fl = v.S32(24), ft = v.S32(28), fr = v.S32(32), fb = v.S32(36);
    if (devW > 0 && devH > 0 && mmW > 0 && mmH > 0 && fr > fl && fb > ft) {
      const double kx = devW / (mmW * 100), ky = devH / (mmH * 100);
      frame.picture = QRectF(QPointF(fl * kx, ft * ky), QPointF(fr * kx + 1, fb * ky + 1));
      frame.unitsPerInchX = devW * 25.4 / mmW;
      frame.unitsPerInchY = devH * 25.4 / mmH;
    } else {
      frame.picture = QRectF(QPointF(logical_.Left, logical_.Top), QPointF(double(logical_.Right) + 1,
                                                                           double(logical_.Bottom) + 1));
      frame.unitsPerInchX = ScreenDpiX();
      frame.unitsPerInchY = ScreenDpiY();
    }
    if (frame.picture.width() <= 0 || frame.picture.height() <= 0) return;
    metafile::TMetaPlayer player(canvas, dest, frame);
    metafile::PlayEmf(data_.data(), data_.size(), player);
    return;
  }
  const bool placeable = v.U32(0) == kPlaceableKey;
  frame.picture = QRectF(QPointF(logical_.Left, logical_.Top), QPointF(logical_.Right, logical_.Bottom));
  frame.unitsPerInchX = placeable ? v.U16(14) : ScreenDpiX();
  frame.unitsPerInchY = placeable ? v.U16(14) : ScreenDpiY();
  frame.wmfDefaults = true;
  if (frame.picture.width() == 0 || frame.picture.height() == 0) return;
  metafile::TMetaPlayer player(canvas, dest, frame);
  metafile::PlayWmf(data_.data(), data_.size(), placeable ? kPlaceableBytes : 0, player);
}

}  // namespace korvane
