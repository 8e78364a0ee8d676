// The least a scan to a BMP file can cost: SANE's test device read straight
// into the file, with no TWAIN layer, no bitmap and no library, but saved as
// Korvane saves (a side file, fsync, rename, fsync of the folder).
// compare_scan.sh builds it three times: linking nothing but libsane, with a
// QCoreApplication, and linked with Qt Gui and Widgets as well (used for
// nothing), which tells what merely starting a program on Qt costs.
//   scan_floor OUT.bmp
// Reads SANE_CONFIG_DIR as scanimage does; the device is test:0, colour,
// 8 bits, 300 DPI, 200 x 200 mm, as the script asks of both programs.
#include <fcntl.h>
#include <sane/sane.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>
#ifdef FLOOR_QT
#include <QCoreApplication>
#endif

namespace {

int Option(SANE_Handle h, const char* name) {
  for (int i = 1;; ++i) {
    const SANE_Option_Descriptor* d = sane_get_option_descriptor(h, i);
    if (!d) return -1;
    if (d->name && std::strcmp(d->name, name) == 0) return i;
  }
}

bool Set(SANE_Handle h, const char* name, void* value) {
  const int i = Option(h, name);
  return i > 0 && sane_control_option(h, i, SANE_ACTION_SET_VALUE, value, nullptr) == SANE_STATUS_GOOD;
}

int Fail(const char* what) {
  std::fprintf(stderr, "scan_floor: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef FLOOR_QT
  QCoreApplication app(argc, argv);
#endif
  if (argc != 2) return Fail("usage: scan_floor OUT.bmp");
  const std::string out = argv[1], side = out + ".part";
  const size_t slash = out.find_last_of('/');
  const std::string folder = slash == std::string::npos ? "." : out.substr(0, slash + 1);
  if (sane_init(nullptr, nullptr) != SANE_STATUS_GOOD) return Fail("sane_init");
  SANE_Handle h;
  if (sane_open("test:0", &h) != SANE_STATUS_GOOD) return Fail("no test:0");
  char mode[] = "Color";
  SANE_Word depth = 8, dpi = SANE_FIX(300), edge = SANE_FIX(200);
  if (!Set(h, "mode", mode) || !Set(h, "depth", &depth) || !Set(h, "resolution", &dpi) ||
      !Set(h, "br-x", &edge) || !Set(h, "br-y", &edge))
    return Fail("options");
  if (sane_start(h) != SANE_STATUS_GOOD) return Fail("sane_start");
  SANE_Parameters p;
  if (sane_get_parameters(h, &p) != SANE_STATUS_GOOD || p.format != SANE_FRAME_RGB || p.lines <= 0)
    return Fail("parameters");
  const int W = p.pixels_per_line, H = p.lines;
  const size_t row = (size_t(W) * 3 + 3) & ~size_t(3), in = size_t(p.bytes_per_line);
  const int fd = open(side.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return Fail("cannot create the file");
  uint8_t head[54] = {'B', 'M'};
  auto put = [&](int at, uint32_t v) { std::memcpy(head + at, &v, 4); };
  put(2, uint32_t(54 + row * H)), put(10, 54), put(14, 40), put(18, uint32_t(W)), put(22, uint32_t(H));
  head[26] = 1, head[28] = 24, put(34, uint32_t(row * H));
  bool ok = pwrite(fd, head, 54, 0) == 54;
  // Strips of 128 rows, turned to blue-green-red and written bottom up.
  constexpr int kStrip = 128;
  std::vector<uint8_t> strip(in * kStrip), block(row * kStrip);
  for (int y = 0; ok && y < H; y += kStrip) {
    const int rows = std::min(kStrip, H - y);
    size_t got = 0;
    while (got < in * rows) {
      SANE_Int n = 0;
      if (sane_read(h, strip.data() + got, SANE_Int(in * rows - got), &n) != SANE_STATUS_GOOD) break;
      got += size_t(n);
    }
    ok = got == in * rows;
    for (int r = 0; r < rows; ++r) {
      const uint8_t* s = strip.data() + in * r;
      uint8_t* d = block.data() + row * (rows - 1 - r);
      for (int x = 0; x < W; ++x)
        d[3 * x] = s[3 * x + 2], d[3 * x + 1] = s[3 * x + 1], d[3 * x + 2] = s[3 * x];
    }
    const size_t bytes = row * rows;
    ok = ok && pwrite(fd, block.data(), bytes, off_t(54 + row * (H - y - rows))) == ssize_t(bytes);
  }
  sane_cancel(h);
  sane_close(h);
  sane_exit();
  ok = ok && fsync(fd) == 0;
  close(fd);
  if (!ok || std::rename(side.c_str(), out.c_str()) != 0) {
    unlink(side.c_str());
    return Fail("the scan or the file failed");
  }
  const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (dir >= 0) fsync(dir), close(dir);
  return 0;
}
