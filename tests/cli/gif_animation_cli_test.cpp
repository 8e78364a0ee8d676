// An optimized animation made by Pillow (frames smaller than the screen,
// mixed disposal, a transparent color, a loop count) through korvane convert:
// the --frames all copy plays the same in Pillow, and --coalesce writes the
// frames Pillow composes.
#include <gtest/gtest.h>

#ifdef KORVANE_CLI

#include <QTemporaryDir>
#include <fstream>

#include "tests/test_support.h"

namespace {

int RunProgram(const QString& program, const QStringList& args, std::string& out) {
  const korvane::test::ProcessRun r = korvane::test::RunProcess(program, args);
  out = r.out + r.err;
  return r.code;
}

// Makes anim.gif and prints the sizes of its frames as Pillow stored them.
const char* kMake = R"PY(
import sys
from PIL import Image, ImageDraw
d = sys.argv[1]
W, H = 64, 48
pal = [0, 0, 0,  250, 250, 250,  200, 30, 30,  30, 200, 30,  30, 30, 200,  220, 200, 40,  0, 0, 0]
frames = []
for i in range(6):
    im = Image.new('P', (W, H), 1)
    im.putpalette(pal + [0] * (768 - len(pal)))
    g = ImageDraw.Draw(im)
    g.rectangle([4 + i * 6, 6, 20 + i * 6, 22], fill=2 + i % 4)
    g.ellipse([30, 20 + i * 3, 50, 36 + i * 3], fill=6)   # black, like the transparent entry 0
    if i % 2:
        g.rectangle([40, 2, 60, 10], fill=0)              # transparent
    frames.append(im)
frames[0].save(d + '/anim.gif', save_all=True, append_images=frames[1:], loop=3,
               duration=[40, 80, 120, 60, 100, 50], disposal=[1, 2, 3, 1, 2, 3], transparency=0)
im = Image.open(d + '/anim.gif')
for k in range(im.n_frames):
    im.seek(k)
    print(im.tile[0][1][2] - im.tile[0][1][0], im.tile[0][1][3] - im.tile[0][1][1])
)PY";

// Compares the frames Pillow composes from two files: same count, loop and
// durations; RGBA equal where the first is opaque (opaque only in the
// second too, unless lenient), and alpha equal everywhere unless lenient.
const char* kCompare = R"PY(
import sys
from PIL import Image
def frames(f):
    im = Image.open(f)
    out = []
    for k in range(im.n_frames):
        im.seek(k)
        out.append((im.convert('RGBA').tobytes(), im.info.get('duration')))
    return out, im.info.get('loop')
a, la = frames(sys.argv[1])
b, lb = frames(sys.argv[2])
lenient = sys.argv[3] == 'coalesced'
assert len(a) == len(b), (len(a), len(b))
if not lenient:
    assert la == lb, ('loop', la, lb)
for k, ((pa, da), (pb, db)) in enumerate(zip(a, b)):
    assert da == db, ('duration', k, da, db)
    bad = 0
    for i in range(0, len(pa), 4):
        if pa[i + 3] == 255:
            bad += pa[i:i + 4] != pb[i:i + 4]
        elif not lenient:
            bad += pa[i + 3] != pb[i + 3]
    assert bad == 0, ('frame', k, bad, 'pixels differ')
print('same')
)PY";

// Frame N of a file as Pillow composes it, against a picture korvane wrote
// (an RGB file): equal wherever Pillow's frame is opaque.
const char* kCompareOne = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.seek(int(sys.argv[3]))
a = im.convert('RGBA').tobytes()
b = Image.open(sys.argv[2]).convert('RGBA').tobytes()
bad = sum(a[i:i + 3] != b[i:i + 3] for i in range(0, len(a), 4) if a[i + 3] == 255)
assert bad == 0, (bad, 'pixels differ')
print('same')
)PY";

class GifAnimationCli : public ::testing::Test {
 protected:
  void SetUp() override {
    py_ = korvane::test::PythonWith("PIL");
    if (py_.empty()) GTEST_SKIP() << "Pillow (python3-pil) is not installed";
    ASSERT_TRUE(dir_.isValid());
    d_ = dir_.path();
    std::string out;
    ASSERT_EQ(Python(kMake, {d_}, out), 0) << out;
    // Pillow stores the changed parts only: some frames are smaller than
    // the screen, which is what this test is about.
    EXPECT_NE(out.find('\n'), std::string::npos);
    EXPECT_NE(out.substr(out.find('\n') + 1).find_first_not_of("\n"), std::string::npos);
    EXPECT_EQ(out.find("64 48\n64 48\n64 48\n64 48\n64 48\n64 48"), std::string::npos) << out;
  }
  int Python(const char* script, const QStringList& args, std::string& out) {
    const QString file = d_ + "/s" + QString::number(++scripts_) + ".py";
    std::ofstream(file.toStdString()) << script;
    return RunProgram(QString::fromStdString(py_), QStringList{file} + args, out);
  }
  int Tool(const QStringList& args, std::string& out) { return RunProgram(KORVANE_CLI, args, out); }
  std::string py_;
  QTemporaryDir dir_;
  QString d_;
  int scripts_ = 0;
};

TEST_F(GifAnimationCli, FramesAllCopyPlaysAsTheOriginal) {
  std::string out;
  ASSERT_EQ(Tool({"convert", d_ + "/anim.gif", d_ + "/copy.gif", "--frames", "all", "--quiet"}, out), 0) << out;
  ASSERT_EQ(Python(kCompare, {d_ + "/anim.gif", d_ + "/copy.gif", "exact"}, out), 0) << out;
  EXPECT_EQ(out, "same\n");
}

TEST_F(GifAnimationCli, CoalesceWritesComposedFrames) {
  std::string out;
  ASSERT_EQ(Tool({"convert", d_ + "/anim.gif", d_ + "/full.gif", "--frames", "all", "--coalesce", "--quiet"}, out),
            0)
      << out;
  ASSERT_EQ(Python(kCompare, {d_ + "/anim.gif", d_ + "/full.gif", "coalesced"}, out), 0) << out;
  for (const char* n : {"2", "5"}) {
    const QString png = d_ + "/frame" + n + ".png";
    ASSERT_EQ(Tool({"convert", d_ + "/anim.gif", png, "--index", n, "--coalesce", "--quiet"}, out), 0) << out;
    ASSERT_EQ(Python(kCompareOne, {d_ + "/anim.gif", png, n}, out), 0) << n << ": " << out;
  }
}

}  // namespace

#endif
