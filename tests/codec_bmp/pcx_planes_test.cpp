// The palette PCX layouts of EGA-era programs (1 bit in 2 to 4 planes, 2 and
// 4 bits in one plane) against pictures drawn by Pillow: Pillow decodes the
// planar files itself, and for the one-plane files, which it cannot read,
// its source picture is the reference.
#include <gtest/gtest.h>

#include <fstream>

#include "korvane/io/codecs/checked_reader.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"
#include "tests/codec_bmp/codec_test_util.h"
#include "tests/codec_gif/gif_test_util.h"

namespace korvane {
namespace {

using namespace korvane::test;

// Draws a 16-colour picture with an odd width, packs it into each layout
// (run-length coded unless the name says raw) and writes next to each file
// the RGB bytes the reference gives.
const char* kMakeFiles = R"PY(
import struct
from PIL import ImageDraw
def picture(colours):
    im = Image.new('P', (61, 37))
    pal = []
    for i in range(colours):
        pal += [(i * 53 + 17) % 256, (i * 97 + 200) % 256, (i * 31) % 256]
    im.putpalette(pal + [0] * (768 - len(pal)))
    d = ImageDraw.Draw(im)
    for i in range(40):
        d.line([(i * 3 % 61, 0), (60 - i, 36)], fill=i % colours)
    d.ellipse([5, 5, 40, 30], fill=colours - 1)
    for x in range(61):
        im.putpixel((x, 36), x % colours)   # every index on the last row
    return im, pal
def rle(line):
    out, i = bytearray(), 0
    while i < len(line):
        v, n = line[i], 1
        while i + n < len(line) and n < 63 and line[i + n] == v:
            n += 1
        if n > 1 or v >= 192:
            out += bytes([192 | n, v])
        else:
            out.append(v)
        i += n
    return out
def save(name, bits, planes, raw):
    im, pal = picture(1 << (bits * planes))
    w, h = im.size
    bpl = (w * bits + 7) // 8
    bpl += bpl & 1
    hdr = bytearray(128)
    hdr[0:4] = bytes([10, 5, 0 if raw else 1, bits])
    hdr[4:16] = struct.pack('<6H', 0, 0, w - 1, h - 1, 75, 75)
    hdr[16:16 + len(pal)] = bytes(pal)
    hdr[65] = planes
    hdr[66:70] = struct.pack('<2H', bpl, 1)
    body = bytearray()
    px = im.load()
    for y in range(h):
        for p in range(planes):
            line = bytearray(bpl)
            for x in range(w):
                v = (px[x, y] >> p) & 1 if planes > 1 else px[x, y]
                shift = 8 - bits - (x * bits) % 8
                line[x * bits // 8] |= v << shift
            body += line if raw else rle(line)
    f = path + '/' + name + '.pcx'
    open(f, 'wb').write(hdr + body)
    ref = im.convert('RGB')
    # Pillow reads 1 bit in 2 or 4 planes, and every PCX as run-length coded
    if planes in (2, 4) and not raw:
        peer = Image.open(f).convert('RGB')
        assert peer.tobytes() == ref.tobytes(), name + ': Pillow reads another picture'
    open(f + '.rgb', 'wb').write(ref.tobytes())
    print(name)
save('ega16', 1, 4, False)
save('ega16_raw', 1, 4, True)
save('ega4', 1, 2, False)
save('ega8', 1, 3, False)
save('packed2', 2, 1, False)
save('packed4', 4, 1, False)
)PY";

TEST(PcxPlanes, PillowPicturesInEveryPaletteLayout) {
  TempDir dir;
  PillowResult r = RunPillow(kMakeFiles, dir.path);
  if (!r.available) GTEST_SKIP() << r.output;
  ASSERT_TRUE(r.ok) << r.output;
  struct Layout {
    const char* name;
    int bits, planes;
  };
  const Layout layouts[] = {{"ega16", 1, 4}, {"ega16_raw", 1, 4}, {"ega4", 1, 2},
                            {"ega8", 1, 3},  {"packed2", 2, 1},   {"packed4", 4, 1}};
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    const std::string f = dir.path + "/" + l.name + ".pcx";
    const std::string bytes = ReadText(f), ref = ReadText(f + ".rgb");
    TMemoryStream ms;
    ms.SetData(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    TBitmap bmp;
    TIOParamsVals p;
    LoadWith("pcx", ms, bmp, p, 0);
    EXPECT_EQ(p.BitsPerSample, l.bits);
    EXPECT_EQ(p.SamplesPerPixel, l.planes);
    EXPECT_EQ(p.ColorMapCount, 1 << (l.bits * l.planes));
    ASSERT_EQ(bmp.PixelFormat(), pf24bit);
    ASSERT_EQ(bmp.Width(), 61);
    ASSERT_EQ(bmp.Height(), 37);
    ASSERT_EQ(ref.size(), size_t(61 * 37 * 3));
    int bad = 0;
    for (int y = 0; y < 37; ++y)
      for (int x = 0; x < 61; ++x) {
        const uint8_t* q = reinterpret_cast<const uint8_t*>(ref.data()) + (size_t(y) * 61 + x) * 3;
        bad += Pixel24(bmp, x, y) != (unsigned(q[0]) << 16 | unsigned(q[1]) << 8 | q[2]);
      }
    EXPECT_EQ(bad, 0);
  }
}

// Planar data cut short, and planar layouts that stay refused: 8 bits in two
// planes, 1 bit in five.
TEST(PcxPlanes, ShortAndUnknownPlanarData) {
  auto file = [](int bpp, int planes, int enc, size_t data) {
    std::vector<uint8_t> h(128, 0);
    h[0] = 10, h[1] = 5, h[2] = uint8_t(enc), h[3] = uint8_t(bpp), h[65] = uint8_t(planes);
    PutLE16(&h[8], 15), PutLE16(&h[10], 3), PutLE16(&h[66], 2);
    h.resize(128 + data, 0x11);
    return h;
  };
  for (const auto& f : {file(1, 4, 0, 4 * 2 * 4 - 1), file(1, 4, 1, 5), file(8, 2, 1, 64), file(1, 5, 1, 64)}) {
    TMemoryStream ms;
    ms.SetData(f.data(), f.size());
    TBitmap bmp;
    TIOParamsVals p;
    EXPECT_EQ(ErrorOf([&] { LoadWith("pcx", ms, bmp, p, 0); }), "unrecognized PCX");
  }
}

}  // namespace
}  // namespace korvane
