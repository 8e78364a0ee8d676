#include "tests/test_support.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

namespace korvane::test {

std::string SharedDir() {
  const char* env = std::getenv("KORVANE_SHARED_DIR");
  std::string dir = env ? env : KORVANE_SHARED_DIR;
  return std::filesystem::is_directory(dir) ? dir : std::string();
}

std::string SharedFile(const std::string& rel) {
  std::string dir = SharedDir();
  if (dir.empty()) return {};
  std::string p = dir + "/" + rel;
  return std::filesystem::exists(p) ? p : std::string();
}

std::string PythonWith(const std::string& modules) {
  static std::map<std::string, std::string> found;
  auto it = found.find(modules);
  if (it != found.end()) return it->second;
  std::string py;
  for (const char* cand : {"/usr/bin/python3", "python3"}) {
    std::string cmd = std::string(cand) + " -c 'import " + modules + "' >/dev/null 2>&1";
    if (std::system(cmd.c_str()) == 0) {
      py = cand;
      break;
    }
  }
  return found[modules] = py;
}

void FillPattern24(TBitmap& bmp, int w, int h, unsigned seed) {
  bmp.SetPixelFormat(pf24bit);
  bmp.SetSize(w, h);
  unsigned s = seed * 2654435761u + 12345u;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bmp.Scanline(y);
    for (int x = 0; x < w * 3; ++x) {
      s = s * 1103515245u + 12345u;
      row[x] = uint8_t(s >> 16);
    }
  }
}

unsigned Pixel24(TBitmap& bmp, int x, int y) {
  const uint8_t* p = bmp.Scanline(y) + 3 * x;
  return (unsigned(p[2]) << 16) | (unsigned(p[1]) << 8) | p[0];
}

bool SamePixels(TBitmap& a, TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat()) return false;
  int bits = a.BitsPerPixel();
  size_t full = size_t(a.Width()) * bits / 8;
  int rest = int(size_t(a.Width()) * bits % 8);
  for (int y = 0; y < a.Height(); ++y) {
    const uint8_t* ra = a.Scanline(y);
    const uint8_t* rb = b.Scanline(y);
    if (std::memcmp(ra, rb, full) != 0) return false;
    if (rest) {
      uint8_t mask = uint8_t(0xFF00 >> rest);
      if ((ra[full] & mask) != (rb[full] & mask)) return false;
    }
  }
  return true;
}

ProcessRun RunProcess(const QString& program, const QStringList& args, const QStringList& env) {
  QProcess p;
  QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
  e.insert("QT_QPA_PLATFORM", "offscreen");
  for (const QString& kv : env) e.insert(kv.section('=', 0, 0), kv.section('=', 1));
  p.setProcessEnvironment(e);
  p.start(program, args);
  ProcessRun r;
  if (!p.waitForFinished(120000)) {
    p.kill();
    p.waitForFinished();
    return r;
  }
  r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = p.readAllStandardOutput().toStdString();
  r.err = p.readAllStandardError().toStdString();
  return r;
}

}  // namespace korvane::test
