#include "tests/fixture_manifest.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <fstream>

#include "tests/test_support.h"

namespace korvane::test {
namespace {

std::string JsonText(const QJsonValue& v) {
  if (v.isBool()) return v.toBool() ? "true" : "false";
  if (v.isDouble()) return std::to_string(v.toInteger());
  if (v.isString()) return v.toString().toStdString();
  if (v.isArray()) {  // a color, red first
    std::string s;
    for (const QJsonValue& e : v.toArray()) s += (s.empty() ? "" : ",") + std::to_string(e.toInteger());
    return s;
  }
  return {};
}

}  // namespace

std::string FixtureCase::Name() const {
  std::string n = file + (index ? "_" + std::to_string(index) : "");
  for (char& ch : n)
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return n;
}

namespace {

// Where the library departs from the conventions the references follow
// (see the fixtures' README): two-colour images whose palette is not black
// and white load as 24-bit in their own colours (reference black is the
// darker entry, white the lighter; PCX rows as stored), and narrow samples
// scale to the full range instead of being shifted.
struct Recolour {
  const char* file;
  int index;
  uint8_t black[3], white[3];  // red, green, blue
};
const Recolour kRecolour[] = {
    {"gif/1x1_im.gif", 0, {0, 0, 0}, {0, 200, 100}},
    {"gif/2colors_60x40_im.gif", 0, {10, 40, 160}, {255, 255, 200}},
    {"gif/anim_offsets_local_maps_gifbuild.gif", 2, {0, 90, 0}, {250, 250, 250}},
    {"png/palette1_33x20_pillow.png", 0, {20, 40, 160}, {250, 210, 0}},
    {"pcx/1bit_color_palette_61x40_ppmtopcx.pcx", 0, {10, 20, 120}, {250, 220, 40}},
};

const Recolour* RecolourOf(const FixtureCase& c) {
  for (const Recolour& r : kRecolour)
    if (c.file == r.file && c.index == r.index) return &r;
  return nullptr;
}

std::string Param(const FixtureCase& c, const std::string& name) {
  for (const auto& [n, v] : c.params)
    if (n == name) return v;
  return {};
}

// n-bit channel v << (8 - n) as the reference holds it, to round(c x 255 /
// (2^n - 1)) as the library gives it.
uint8_t FullRange(uint8_t shifted, int bits) {
  const int c = shifted >> (8 - bits), max = (1 << bits) - 1;
  return uint8_t((c * 255 + max / 2) / max);
}

}  // namespace

bool ReadReference(const FixtureCase& c, int& w, int& h, std::vector<uint8_t>& rgb) {
  if (!ReadPPM(c.reference, w, h, rgb)) return false;
  if (const Recolour* r = RecolourOf(c)) {
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
      const uint8_t* to = rgb[i] ? r->white : r->black;
      std::copy(to, to + 3, rgb.begin() + int64_t(i));
    }
  } else if (c.format == "bmp" && Param(c, "BitsPerSample") == "5") {
    // 16-bit BMP: 5-bit red and blue, green 5 bits (5-5-5) or 6 (5-6-5).
    const int greenBits = c.file.find("565") != std::string::npos ? 6 : 5;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
      rgb[i] = FullRange(rgb[i], 5);
      rgb[i + 1] = FullRange(rgb[i + 1], greenBits);
      rgb[i + 2] = FullRange(rgb[i + 2], 5);
    }
  } else if (c.format == "tif" && Param(c, "BitsPerSample") == "4" &&
             Param(c, "TIFF_PhotometInterpret") != "ioTIFF_RGBPALETTE") {
    const bool whiteIsZero = Param(c, "TIFF_PhotometInterpret") == "ioTIFF_WHITEISZERO";
    for (uint8_t& v : rgb) v = whiteIsZero ? uint8_t(255 - FullRange(uint8_t(255 - v), 4)) : FullRange(v, 4);
  }
  return true;
}

std::vector<FixtureCase> FixtureCases(const std::string& format) {
  std::vector<FixtureCase> out;
  std::string manifest = SharedFile("fixtures/manifest.json");
  if (manifest.empty()) return out;
  QFile f(QString::fromStdString(manifest));
  if (!f.open(QIODevice::ReadOnly)) return out;
  const QJsonArray cases = QJsonDocument::fromJson(f.readAll()).array();
  const std::string dir = SharedDir() + "/fixtures/";
  for (const QJsonValue& cv : cases) {
    QJsonObject o = cv.toObject();
    FixtureCase c;
    c.format = o["format"].toString().toStdString();
    if (!format.empty() && c.format != format) continue;
    c.file = o["file"].toString().toStdString();
    c.path = dir + c.file;
    c.codec = o["codec"].toString().toStdString();
    if (o["reference"].isString()) c.reference = dir + o["reference"].toString().toStdString();
    c.tolerance = o["tolerance"].toInt();
    QJsonObject e = o["expect"].toObject();
    for (auto it = e.begin(); it != e.end(); ++it) {
      std::string k = it.key().toStdString();
      if (k == "width")
        c.width = it->toInt();
      else if (k == "height")
        c.height = it->toInt();
      else if (k == "pixel_format")
        c.pixelFormat = it->toInt();
      else if (k == "index")
        c.index = it->toInt();
      else if (k == "frames")
        c.frames = it->toInt();
      else if (k == "error")
        c.error = it->toBool();
      else if (k == "no_crash")
        c.noCrash = it->toBool();
      else {
        std::string dummy;
        TIOParamsVals probe;
        if (probe.GetField(k, dummy)) c.params.emplace_back(k, JsonText(*it));
      }
    }
    if (RecolourOf(c)) c.pixelFormat = 24;
    out.push_back(std::move(c));
  }
  return out;
}

bool ReadPPM(const std::string& path, int& w, int& h, std::vector<uint8_t>& rgb) {
  std::ifstream in(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  if (!(in >> magic >> w >> h >> maxval) || magic != "P6" || maxval != 255 || w <= 0 || h <= 0) return false;
  in.get();  // the single whitespace before the samples
  rgb.resize(size_t(w) * h * 3);
  return bool(in.read(reinterpret_cast<char*>(rgb.data()), std::streamsize(rgb.size())));
}

int MaxDiff(TBitmap& bmp, int w, int h, const std::vector<uint8_t>& rgb) {
  if (bmp.Width() != w || bmp.Height() != h) return -1;
  bool mono = bmp.PixelFormat() == pf1bit;
  if (!mono && bmp.PixelFormat() != pf24bit) return -1;
  int worst = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = bmp.Scanline(y);
    const uint8_t* ref = rgb.data() + size_t(y) * w * 3;
    for (int x = 0; x < w; ++x, ref += 3) {
      int r, g, b;
      if (mono) {
        r = g = b = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
      } else {
        b = row[3 * x], g = row[3 * x + 1], r = row[3 * x + 2];
      }
      worst = std::max({worst, std::abs(r - ref[0]), std::abs(g - ref[1]), std::abs(b - ref[2])});
    }
  }
  return worst;
}

std::string BitmapMismatch(const FixtureCase& c, TBitmap& bmp) {
  if (c.pixelFormat >= 0 && bmp.PixelFormat() != (c.pixelFormat == 1 ? pf1bit : pf24bit))
    return "pixel format " + std::to_string(bmp.BitsPerPixel()) + ", want " + std::to_string(c.pixelFormat);
  if (c.reference.empty()) return {};
  int w, h;
  std::vector<uint8_t> rgb;
  if (!ReadReference(c, w, h, rgb)) return "unreadable reference " + c.reference;
  const int diff = MaxDiff(bmp, w, h, rgb);
  if (diff < 0)
    return "size " + std::to_string(bmp.Width()) + "x" + std::to_string(bmp.Height()) + ", want " +
           std::to_string(w) + "x" + std::to_string(h);
  if (diff > c.tolerance) return "pixels differ by " + std::to_string(diff);
  return {};
}

std::string ParamMismatches(const FixtureCase& c, const TIOParamsVals& p) {
  std::string out;
  for (const auto& [name, want] : c.params) {
    std::string got;
    p.GetField(name, got);
    if (got != want) out += name + ": got \"" + got + "\", want \"" + want + "\"\n";
  }
  return out;
}

}  // namespace korvane::test
