// DXF import: LINE, CIRCLE and ARC entities of an AutoCAD drawing exchange
// file become objects, scaled so that the drawing's extent fits the bitmap
// with the y axis pointing down.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <string_view>

#include "korvane/foundations/host/streams.h"
#include "korvane/vect/kvvect.h"

namespace korvane {

namespace {

std::string_view Trim(std::string_view v) {
  while (!v.empty() && (v.front() == ' ' || v.front() == '\t')) v.remove_prefix(1);
  while (!v.empty() && (v.back() == ' ' || v.back() == '\t' || v.back() == '\r')) v.remove_suffix(1);
  return v;
}

// Numbers are read with '.' as the decimal separator whatever the locale:
// from_chars never consults it.
bool ParseDouble(std::string_view v, double& d) {
  v = Trim(v);
  if (!v.empty() && v.front() == '+') v.remove_prefix(1);
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
  return ec == std::errc() && p == v.data() + v.size() && std::isfinite(d);
}

int ParseCode(std::string_view v) {
  v = Trim(v);
  int c = -1;
  auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), c);
  return ec == std::errc() && p == v.data() + v.size() ? c : -1;
}

// Group code / value pairs of DXF text, two lines at a time.
class TDXFPairs {
 public:
  TDXFPairs(const char* data, size_t size) : text_(data, size) {}
  // The next pair; false at the end of the text (a code without a value
  // line ends the text too).
  bool Next() {
    if (pushed_) {
      pushed_ = false;
      return true;
    }
    std::string_view c;
    if (!Line(c) || !Line(value)) return false;
    code = ParseCode(c);
    return true;
  }
  // Makes the next Next() give the current pair again.
  void PushBack() { pushed_ = true; }
  int code = -1;
  std::string_view value;

 private:
  bool Line(std::string_view& out) {
    if (pos_ >= text_.size()) return false;
    size_t e = text_.find('\n', pos_);
    if (e == std::string_view::npos) e = text_.size();
    out = Trim(text_.substr(pos_, e - pos_));
    pos_ = e + 1;
    return true;
  }
  std::string_view text_;
  size_t pos_ = 0;
  bool pushed_ = false;
};

// The pairs of one entity or header variable, up to (not including) the next
// code 0, or 9 as well for header variables. The first value of each code
// counts.
std::map<int, double> Collect(TDXFPairs& in, bool header) {
  std::map<int, double> m;
  while (in.Next()) {
    if (in.code == 0 || (header && in.code == 9)) {
      in.PushBack();
      break;
    }
    double d;
    if (in.code >= 10 && in.code <= 59 && !m.count(in.code) && ParseDouble(in.value, d)) m[in.code] = d;
  }
  return m;
}

int32_t Sat(double v) { return KVTrunc(v); }

}  // namespace

void TKorvaneVect::ImportDXF(const std::string& name) {
  TMemoryStream m;
  m.LoadFromFile(name);
  ImportDXFText(reinterpret_cast<const char*>(m.Memory()), size_t(m.Size()));
}

void TKorvaneVect::ImportDXFText(const char* data, size_t size) {
  TKVVObject t = templ_;
  t.BeginShape = t.EndShape = kvsNONE;
  t.ShapeWidth = 10;
  t.ShapeHeight = 20;
  t.PenWidth = 1;
  TBitmap* b = GetFBitmap();
  const int W = b ? b->Width() : 0, H = b ? b->Height() : 0;
  double s = 1, minX = 0, minY = 0;
  int yo = 0;
  static const char* const kSections[] = {"HEADER", "CLASSES", "TABLES", "BLOCKS", "ENTITIES", "OBJECTS"};
  int section = 0;
  auto X = [&](double x) { return Sat((x - minX) * s); };
  auto Y = [&](double y) { return KVSat(int64_t(H) - Sat((y - minY) * s) - yo); };

  TDXFPairs in(data, size);
  while (in.Next()) {
    if (in.code == 0 && in.value == "SECTION") {
      if (!in.Next()) break;
      section = 0;
      if (in.code == 2)
        for (int i = 0; i < 6; ++i)
          if (in.value == kSections[i]) section = i + 1;
      continue;
    }
    if (section == 1 && in.code == 9 && (in.value == "$EXTMIN" || in.value == "$EXTMAX")) {
      const bool isMin = in.value == "$EXTMIN";
      auto m = Collect(in, true);
      if (!m.count(10) || !m.count(20)) continue;
      if (isMin) {
        minX = m[10], minY = m[20];
        continue;
      }
      const double ex = m[10] - minX + 1, ey = m[20] - minY + 1;
      const double sc = std::min(H / ey, W / ex);
      // An empty or inverted extent (writers put +1e20 / -1e20 in drawings
      // whose extent was never computed) is no extent: the drawing maps one
      // unit to a pixel from the origin, as without $EXTMAX.
      if (ex <= 0 || ey <= 0 || !std::isfinite(sc) || sc <= 0) {
        s = 1, yo = 0, minX = minY = 0;
      } else {
        s = sc;
        yo = KVSat(int64_t(H) - Sat((m[20] - minY) * s));
      }
      continue;
    }
    if (section != 5 || in.code != 0) continue;
    const bool line = in.value == "LINE", circle = in.value == "CIRCLE", arc = in.value == "ARC";
    if (!line && !circle && !arc) continue;
    auto m = Collect(in, false);
    TKVVObject o = t;
    if (line) {
      if (!m.count(10) || !m.count(20) || !m.count(11) || !m.count(21)) continue;
      o.Kind = kvkLINE;
      o.x1 = X(m[10]), o.y1 = Y(m[20]);
      o.x2 = X(m[11]), o.y2 = Y(m[21]);
    } else {
      if (!m.count(10) || !m.count(20) || !m.count(40)) continue;
      const double cx = m[10], cy = m[20], r = m[40];
      o.Kind = circle ? kvkELLIPSE : kvkARC;
      o.x1 = X(cx - r), o.x2 = X(cx + r);
      if (circle) {
        o.y1 = Y(cy - r), o.y2 = Y(cy + r);
      } else {
        o.y1 = Y(cy + r), o.y2 = Y(cy - r);
        o.AngleStart = 2 * M_PI - (m.count(50) ? m[50] : 0) * M_PI / 180;
        o.AngleEnd = 2 * M_PI - (m.count(51) ? m[51] : 0) * M_PI / 180;
      }
    }
    AddVObject(kRoot, o);
  }
  Update();
}

}  // namespace korvane
