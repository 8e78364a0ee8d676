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
      if (k == "width") c.width = it->toInt();
      else if (k == "height") c.height = it->toInt();
      else if (k == "pixel_format") c.pixelFormat = it->toInt();
      else if (k == "index") c.index = it->toInt();
      else if (k == "frames") c.frames = it->toInt();
      else if (k == "error") c.error = it->toBool();
      else if (k == "no_crash") c.noCrash = it->toBool();
      else {
        std::string dummy;
        TIOParamsVals probe;
        if (probe.GetField(k, dummy)) c.params.emplace_back(k, JsonText(*it));
      }
    }
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
  if (!ReadPPM(c.reference, w, h, rgb)) return "unreadable reference " + c.reference;
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
