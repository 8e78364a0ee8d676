// Writes the seed corpus of metafile_fuzzer: a few small WMF and EMF files
// covering each record family, made with the tests' record builder.
//   g++ -std=c++20 -I. fuzz/metafile_seeds.cpp -o /tmp/metafile_seeds
//   /tmp/metafile_seeds fuzz/corpus/metafile_fuzzer
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/io_metafile/metafile_builder.h"

using namespace korvane::test;

namespace {

void Write(const std::string& dir, const std::string& name, const Bytes& b) {
  std::ofstream f(dir + "/" + name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Bytes Utf16(const std::string& s) {
  Bytes b;
  for (char c : s) Put16(b, uint8_t(c));
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s folder\n", argv[0]);
    return 2;
  }
  const std::string dir = argv[1];
  const Bytes dib = PackedDib24(2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0x808080});

  WmfWriter shapes;
  shapes.Pen(0, 2, 0x0000FF);
  shapes.Brush(2, 0xFF0000, 3);
  shapes.Select(0);
  shapes.Select(1);
  shapes.Rectangle(5, 5, 40, 30);
  shapes.Ellipse(50, 5, 95, 30);
  shapes.Poly(0x0324, {10, 40, 40, 45, 20, 70});
  shapes.Poly(0x0325, {50, 40, 90, 40, 60, 60});
  shapes.MoveTo(5, 95);
  shapes.LineTo(95, 75);
  shapes.Rec(0x0817, {20, 0, 20, 40, 40, 40, 0, 0});
  shapes.Rec(0x081A, {60, 80, 80, 100, 100, 100, 60, 60});
  shapes.Rec(0x0830, {60, 80, 80, 100, 100, 100, 60, 60});
  shapes.Rec(0x061C, {10, 10, 95, 45, 55, 5});
  shapes.Rec(0x0538, {2, 3, 3, 0, 0, 10, 0, 0, 10, 20, 20, 30, 20, 20, 30});
  shapes.Delete(0);
  Write(dir, "wmf_shapes.wmf", shapes.Placeable(0, 0, 100, 100, 96));

  WmfWriter text;
  text.MapMode(8);
  text.WindowExt(200, 200);
  text.ViewportExt(100, 100);
  text.Rec(0x02FB, {-20, 0, 450, 0, 700, 0x0101, 0, 0, 0}, {'A', 'r', 'i', 'a', 'l', 0});
  text.Select(0);
  text.Rec(0x0209, {0x00FF, 0});
  text.Rec(0x012E, {24});
  text.Rec(0x0521, {5, 'H' | 'e' << 8, 'l' | 'l' << 8, 'o', 40, 10});
  text.Rec(0x0A32, {80, 10, 3, 6, 0, 60, 100, 100}, {'a', 'b', 'c'});
  text.Rec(0x001E, {});
  text.Rec(0x0416, {50, 50, 0, 0});
  text.Rec(0x0415, {30, 30, 10, 10});
  text.Rectangle(0, 0, 100, 100);
  text.Rec(0x0127, {-1});
  text.Rec(0x041F, {0xFFFF, 0, 5, 5});
  Write(dir, "wmf_text.wmf", text.Bare());

  WmfWriter blits;
  blits.WindowExt(64, 64);
  blits.Rec(0x0F43, {0x0020, 0x00CC, 0, 2, 2, 0, 0, 20, 40, 10, 10}, dib);
  blits.Rec(0x0940, {0x0020, 0x00CC, 0, 0, 2, 2, 30, 30}, dib);
  blits.Rec(0x0B41, {0x0020, 0x00CC, 2, 2, 0, 0, -10, 10, 50, 50}, dib);
  blits.Rec(0x0142, {5, 0}, dib);
  blits.Select(0);
  blits.Rec(0x061D, {0x0021, 0x00F0, 10, 10, 0, 0});
  blits.Rec(0x0940, {0x0009, 0x0055, 0, 0, 0, 8, 8, 4, 4});
  Write(dir, "wmf_blits.wmf", blits.Bare());

  EmfWriter emf;
  emf.Select(0x80000004);
  emf.Select(0x80000008);
  emf.Rectangle(5, 5, 30, 30);
  emf.Pen(1, 0, 2, 0x0000FF);
  emf.Brush(2, 2, 0xFF0000, 4);
  emf.Select(1);
  emf.Select(2);
  emf.Ellipse(40, 5, 90, 30);
  emf.Rec(44, {5, 40, 40, 80, 10, 10});
  emf.Rec(47, {50, 40, 90, 80, 90, 60, 70, 40});
  emf.Poly16(87, {10, 50, 50, 60, 90, 50});
  emf.Poly16(86, {10, 80, 20, 90, 5, 95});
  emf.Poly16(88, {0, 0, 10, 20, 30, 40});
  emf.Rec(27, {1, 1});
  emf.Rec(54, {60, 90});
  emf.Rec(15, {3, 3, 0x00FF00});
  emf.Rec(24, {0xFF0000});
  emf.Rec(84, {0, 0, 0, 0, 1, 0, 0, 10, 70, 2, 76, 2, 0, 60, 40, 80, 0}, Utf16("Hi"));
  emf.Delete(1);
  Write(dir, "emf_shapes.emf", emf.Build(0, 0, 990, 990, 1000, 1000, 100, 100));

  EmfWriter map;
  map.Rec(17, {8});
  map.Rec(9, {100, 100});
  map.Rec(11, {200, 100});
  map.Rec(10, {-10, 0});
  map.Rec(33, {});
  map.Rec(35, {0x3F3504F3, 0x3F3504F3, int64_t(0xBF3504F3), 0x3F3504F3, 0, 0});  // 45 degrees
  map.Rectangle(0, 10, 20, 40);
  map.Rec(34, {-1});
  map.Rec(17, {2});
  map.Ellipse(60, -20, 90, -80);
  Bytes font(96, 0);
  font[0] = 0xEC;  // height -20
  font[1] = 0xFF;
  font[2] = 0xFF;
  font[3] = 0xFF;
  map.Rec(82, {3}, font);
  map.Select(3);
  map.Rec(84, {0, 0, 0, 0, 1, 0, 0, 10, 70, 2, 76, 0, 0, 0, 0, 0, 0}, Utf16("Ok"));
  Bytes tail(dib.begin(), dib.end());
  map.Rec(81, {0, 0, 0, 0, 10, 10, 0, 0, 2, 2, 80, 40, 120, 16, 0, 0x00CC0020, 40, 20}, tail);
  Write(dir, "emf_map.emf", map.Build(0, 0, 990, 990, 1000, 1000, 100, 100));

  // Paths: Bezier, line and arc figures continued from the position, both
  // arc directions, arcs, chords and pies in a path, and a clip path.
  EmfWriter path;
  path.Pen(1, 0, 2, 0x0000FF);
  path.Select(1);
  path.Rec(59, {});
  path.Rec(27, {10, 50});
  path.Poly16(88, {20, 10, 40, 90, 50, 50});
  path.Rec(5, {0, 0, 0, 0, 3, 60, 10, 80, 90, 90, 50});  // POLYBEZIERTO
  path.Poly16(89, {90, 90, 10, 90});
  path.Rec(55, {10, 10, 90, 90, 90, 50, 50, 10});  // ARCTO
  path.Rec(57, {2});
  path.Rec(46, {20, 20, 80, 80, 80, 50, 50, 20});  // CHORD
  path.Rec(57, {1});
  path.Rec(47, {30, 30, 70, 70, 70, 50, 50, 30});  // PIE
  path.Rec(61, {});
  path.Rec(60, {});
  path.Rec(63, {0, 0, 0, 0});  // STROKEANDFILLPATH
  path.Rec(33, {});
  path.Rec(59, {});
  path.Ellipse(0, 0, 60, 60);
  path.Rec(60, {});
  path.Rec(67, {1});  // SELECTCLIPPATH, RGN_AND
  path.Rec(59, {});
  path.Rectangle(40, 40, 100, 100);
  path.Rec(60, {});
  path.Rec(67, {3});  // RGN_XOR
  path.Rectangle(0, 0, 100, 100);
  path.Rec(34, {-1});
  path.Rec(45, {-100000, -100000, 100000, 100000, 0, 0, 0, 0});  // a whole ellipse, far out
  Write(dir, "emf_paths.emf", path.Build(0, 0, 990, 990, 1000, 1000, 100, 100));
  return 0;
}
