#include "tests/codec_jpng/jpng_support.h"
#include "tests/test_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "korvane/foundations/kvdefs.h"
#include "korvane/io/codecs/jpeg/jpeg_codec.h"
#include "korvane/io/codecs/png/png_codec.h"

namespace korvane::test {

void DecodeBytes(Codec c, const std::vector<uint8_t>& bytes, TBitmap& bmp, TIOParamsVals& p,
                 bool paramsOnly) {
  TMemoryStream s;
  s.SetData(bytes.data(), bytes.size());
  bool abort = false;
  TProgressRec pr;
  pr.Aborting = &abort;
  if (c == Codec::Jpeg)
    ReadJPegStream(&s, &bmp, p, paramsOnly, pr);
  else
    ReadPNGStream(&s, &bmp, p, paramsOnly, pr);
}

std::vector<uint8_t> FileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> EncodeBytes(Codec c, TBitmap& bmp, TIOParamsVals& p) {
  TMemoryStream s;
  bool abort = false;
  TProgressRec pr;
  pr.Aborting = &abort;
  if (c == Codec::Jpeg)
    WriteJPegStream(&s, &bmp, p, pr);
  else
    WritePNGStream(&s, &bmp, p, pr);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

void WritePPM(TBitmap& bmp, const std::string& path) {
  std::ofstream f(path, std::ios::binary);
  f << "P6\n" << bmp.Width() << " " << bmp.Height() << "\n255\n";
  std::vector<uint8_t> row(size_t(bmp.Width()) * 3);
  for (int y = 0; y < bmp.Height(); ++y) {
    const uint8_t* s = bmp.Scanline(y);
    for (int x = 0; x < bmp.Width(); ++x) {
      uint8_t* d = &row[size_t(x) * 3];
      if (bmp.PixelFormat() == pf1bit) {
        d[0] = d[1] = d[2] = (s[x >> 3] >> (7 - (x & 7)) & 1) ? 255 : 0;
      } else {
        d[0] = s[3 * x + 2];
        d[1] = s[3 * x + 1];
        d[2] = s[3 * x];
      }
    }
    f.write(reinterpret_cast<const char*>(row.data()), std::streamsize(row.size()));
  }
}

void WriteBytes(const std::vector<uint8_t>& b, const std::string& path) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

std::string PillowPython() { return test::PythonWith("PIL, numpy"); }

std::string RunPillowCheck(const std::string& args, int& status) {
  // The checker sits beside this source file, in the tests folder that
  // KORVANE_SHARED_DIR ("<tests>/../../shared") is given relative to.
  std::string tests = KORVANE_SHARED_DIR;
  const std::string tail = "/../../shared";
  if (tests.size() > tail.size() && tests.compare(tests.size() - tail.size(), tail.size(), tail) == 0)
    tests.resize(tests.size() - tail.size());
  const std::string script = tests + "/codec_jpng/pillow_check.py";
  std::string cmd = PillowPython() + " " + script + " " + args + " 2>&1";
  std::string out;
  status = -1;
  if (FILE* f = popen(cmd.c_str(), "r")) {
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    status = pclose(f);
  }
  return out;
}

std::string ScratchDir(const std::string& name) {
  auto dir =
      std::filesystem::temp_directory_path() / ("korvane_jpng_" + name + "_" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir.string();
}

}  // namespace korvane::test
