// KVV files: round trips of a full layer, older versions written byte by
// byte, and hostile streams.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/kvio.h"
#include "tests/test_support.h"
#include "tests/vect/vect_support.h"

using namespace korvane;
using namespace korvane::vtest;

namespace {

// Little-endian bytes built field by field.
struct Bytes {
  std::vector<uint8_t> d;
  Bytes& raw(const void* p, size_t n) {
    d.insert(d.end(), (const uint8_t*)p, (const uint8_t*)p + n);
    return *this;
  }
  Bytes& i32(int32_t v) { return raw(&v, 4); }
  Bytes& u8(uint8_t v) { return raw(&v, 1); }
  Bytes& f64(double v) { return raw(&v, 8); }
  Bytes& str(const std::string& s) { return i32(int32_t(s.size())).raw(s.data(), s.size()); }
  Bytes& add(const Bytes& o) { return raw(o.d.data(), o.d.size()); }
};

Bytes Deflate(const Bytes& in) {
  uLongf n = compressBound(in.d.size());
  Bytes out;
  out.d.resize(n);
  compress(out.d.data(), &n, in.d.data(), in.d.size());
  out.d.resize(n);
  return out;
}

// A record of versions 1 and 2: the 96-byte image of the object.
Bytes Rec12(TKVVObjectKind kind, int x1, int y1, int x2, int y2, int childCount = 0, uint32_t fontPtr = 0,
            uint8_t align = 0) {
  uint8_t r[96] = {};
  auto put = [&](int off, int32_t v) { std::memcpy(r + off, &v, 4); };
  put(0, x1), put(4, y1), put(8, x2), put(12, y2);
  r[16] = kind;
  put(20, -3);
  put(24, childCount);
  put(28, childCount ? 0x1234 : 0);  // a stale pointer: ignored
  r[32] = kvsNONE, r[33] = kvsOUTARROW;
  put(36, 12), put(40, 24);
  put(44, 0x0000FF);  // red pen
  r[48] = psSolid;
  put(52, 2);
  put(56, 0x00FF00);
  r[60] = bsClear;
  double a = 0.5, b = 2.5;
  std::memcpy(r + 64, &a, 8);
  std::memcpy(r + 72, &b, 8);
  put(80, kind == kvkBITMAP ? 1 : -1);  // bitmaps use slot 1
  put(84, kind == kvkTEXT ? 0x5678 : 0);
  put(88, int32_t(fontPtr));
  r[92] = align;
  return Bytes().raw(r, 96);
}

TLogFont SomeFont() {
  TLogFont lf;
  lf.lfHeight = -15;
  lf.lfEscapement = 300;
  lf.lfWeight = 700;
  lf.lfItalic = 1;
  std::strcpy(lf.lfFaceName, "DejaVu Sans");
  return lf;
}

void Load(TKorvaneVect& v, const Bytes& b) {
  TMemoryStream m;
  m.SetData(b.d.data(), b.d.size());
  v.LoadFromStreamKVV(&m);
}

// Every kind, a frame inside a frame, two objects sharing a bitmap, another
// bitmap, texts with and without a font.
void BuildLayer(TKorvaneVect& v) {
  TBitmap b1, b2;
  test::FillPattern24(b1, 12, 9, 3);
  test::FillPattern24(b2, 5, 7, 4);
  int line = AddKind(v, kvkLINE, 80, 10, 10, 60);  // right to left
  v.SetObjBeginShape(line, kvsINARROW);
  v.SetObjEndShape(line, kvsOUTARROW);
  v.SetObjShapeWidth(line, 14);
  v.SetObjPenColor(line, clYellow);
  v.SetObjName(line, "line");
  v.SetObjID(line, 42);
  int box = AddKind(v, kvkBOX, 5, 5, 40, 30);
  v.SetObjBrushStyle(box, bsSolid);
  v.SetObjBrushColor(box, clNavy);
  v.SetObjPenStyle(box, psDash);
  v.SetObjStyle(box, TKVVStyle{kvvsSelectable, kvvsVisible});
  TKVVObject f;
  f.Kind = kvkFRAME;
  f.x2 = f.y2 = 150;
  f.Name = "outer";
  int outer = v.AddVObject(TKorvaneVect::kRoot, f);
  f.Name = "inner";
  int inner = v.AddVObject(outer, f);
  TKVVObject o;
  o.Kind = kvkELLIPSE;
  o.x1 = 60, o.y1 = 60, o.x2 = 100, o.y2 = 90;
  o.PenColor = clLime;
  v.AddVObject(inner, o);
  o.Kind = kvkARC;
  o.AngleStart = 0.25, o.AngleEnd = 4.0;
  o.PenColor = clAqua;
  v.AddVObject(outer, o);
  o.Kind = kvkBITMAP;
  o.x1 = 100, o.y1 = 5, o.x2 = 123, o.y2 = 22;
  int bm1 = v.AddVObject(inner, o);
  v.SetObjBitmap(bm1, &b1);
  o.x1 = 130, o.y1 = 5, o.x2 = 141, o.y2 = 13;
  int bm2 = v.AddVObject(TKorvaneVect::kRoot, o);
  v.SetObjBitmap(bm2, &b1);
  o.y1 = 40, o.y2 = 60;
  int bm3 = v.AddVObject(TKorvaneVect::kRoot, o);
  v.SetObjBitmap(bm3, &b2);
  o.Kind = kvkTEXT;
  o.x1 = 10, o.y1 = 100, o.x2 = 150, o.y2 = 130;
  o.Text = "Korvane";
  o.TextAlign = taCenter;
  o.Font = SomeFont();
  o.PenColor = clWhite;
  v.AddVObject(TKorvaneVect::kRoot, o);
  o.Text = "plain";
  o.Font.reset();
  o.TextAlign = taRightJustify;
  o.y1 = 130, o.y2 = 150;
  v.AddVObject(inner, o);
}

}  // namespace

TEST(VectKVV, FullLayerRoundTripGivesTheSameObjectsAndPicture) {
  auto a = MakeVect(160, 160, 160, 160);
  BuildLayer(*a);
  a->SetScale(2.5);
  TMemoryStream m;
  m.Write("pre", 3);  // embedded after other data
  a->SaveToStreamKVV(&m);
  EXPECT_EQ(std::memcmp(m.Memory() + 3, "KVV4", 4), 0);
  int32_t len;
  std::memcpy(&len, m.Memory() + 7, 4);
  EXPECT_EQ(len, m.Size() - 3);

  auto b = MakeVect(160, 160, 160, 160);
  m.SetPosition(3);
  b->LoadFromStreamKVV(&m);
  EXPECT_TRUE(SameLayer(*a, *b));
  EXPECT_EQ(b->ObjectsCount(), a->ObjectsCount());
  EXPECT_DOUBLE_EQ(b->GetScale(), 2.5);
  // The shared bitmap is one slot with two users again.
  int shared = 0;
  for (int i = 0; i < b->BitmapSlotCount(); ++i) shared += b->BitmapRefCount(i) == 2;
  EXPECT_EQ(shared, 1);
  TBitmap pa, pb;
  Render(*a, pa);
  Render(*b, pb);
  EXPECT_TRUE(test::SamePixels(pa, pb));
  EXPECT_GT(CountColor(pb, 0xFFFFFF), 20);  // the texts were drawn
}

TEST(VectKVV, EmptyLayerKeepsTheTemplateBitmapOutOfTheFile) {
  auto a = MakeVect(50, 50, 50, 50);
  TMemoryStream m;
  a->SaveToStreamKVV(&m);
  // Header, one slot (the template's icon, written as empty), then a zlib
  // stream holding only the count 0.
  ASSERT_GE(m.Size(), 24);
  int32_t nslots, refs;
  std::memcpy(&nslots, m.Memory() + 16, 4);
  std::memcpy(&refs, m.Memory() + 20, 4);
  EXPECT_EQ(nslots, 1);
  EXPECT_EQ(refs, 0);
  uint8_t out[8];
  uLongf n = sizeof out;
  ASSERT_EQ(uncompress(out, &n, m.Memory() + 24, uLong(m.Size() - 24)), Z_OK);
  EXPECT_EQ(n, 4u);
  EXPECT_EQ(out[0] | out[1] | out[2] | out[3], 0);

  auto b = MakeVect(50, 50, 50, 50);
  TBitmap icon;
  icon.Assign(b->GetObjBitmap(TKorvaneVect::kTemplate));
  m.SetPosition(0);
  b->LoadFromStreamKVV(&m);
  EXPECT_EQ(b->ObjectsCount(), 0);
  ASSERT_NE(b->GetObjBitmap(TKorvaneVect::kTemplate), nullptr);
  EXPECT_TRUE(test::SamePixels(*b->GetObjBitmap(TKorvaneVect::kTemplate), icon));
}

TEST(VectKVV, VersionOneAndTwoFilesWrittenByHandLoad) {
  // Version 1: integer scale 2, a frame with a box and a text with a font.
  TLogFont lf = SomeFont();
  Bytes v1;
  v1.raw("KVV1", 4).i32(0).i32(2).i32(0);
  v1.i32(2);
  v1.add(Rec12(kvkFRAME, 0, 0, 99, 99, 2));
  v1.add(Rec12(kvkBOX, 30, 40, 10, 20));
  v1.add(Rec12(kvkTEXT, 1, 2, 60, 22, 0, 0xABCD, taCenter)).str("hello").raw(&lf, sizeof lf);
  v1.add(Rec12(kvkLINE, 50, 50, 5, 5));
  auto v = MakeVect(100, 100, 100, 100);
  Load(*v, v1);
  EXPECT_DOUBLE_EQ(v->GetScale(), 2.0);
  EXPECT_EQ(v->ObjectsCount(), 4);
  auto* root = v->GetObj(TKorvaneVect::kRoot);
  ASSERT_EQ(root->Children.size(), 2u);
  auto* frame = v->GetObj(root->Children[0]);
  ASSERT_EQ(frame->Kind, kvkFRAME);
  ASSERT_EQ(frame->Children.size(), 2u);
  auto* box = v->GetObj(frame->Children[0]);
  EXPECT_EQ(Rect(box->x1, box->y1, box->x2, box->y2), Rect(10, 20, 30, 40));
  EXPECT_EQ(box->PenColor, 0x0000FFu);
  EXPECT_EQ(box->PenWidth, 2);
  EXPECT_EQ(box->Style.Mask(), 15u);
  auto* text = v->GetObj(frame->Children[1]);
  EXPECT_EQ(text->Text, "hello");
  EXPECT_EQ(text->TextAlign, taCenter);
  ASSERT_TRUE(text->Font.has_value());
  EXPECT_EQ(std::memcmp(&*text->Font, &lf, sizeof lf), 0);
  auto* line = v->GetObj(root->Children[1]);
  EXPECT_EQ(Rect(line->x1, line->y1, line->x2, line->y2), Rect(50, 50, 5, 5));
  EXPECT_EQ(line->EndShape, kvsOUTARROW);
  EXPECT_EQ(line->ShapeHeight, 24);

  // Version 2: f64 scale, a BMP bitmap used by two objects, text without font.
  TBitmap pic;
  test::FillPattern24(pic, 7, 5, 9);
  TMemoryStream bmp;
  TKorvaneIO io;
  io.StreamHeaders = false;
  io.SetAttachedBitmap(&pic);
  io.SaveToStreamBMP(&bmp);
  Bytes v2;
  v2.raw("KVV2", 4).i32(0).f64(0.75).i32(2).i32(0).i32(2).raw(bmp.Memory(), size_t(bmp.Size()));
  v2.i32(3);
  v2.add(Rec12(kvkBITMAP, 0, 0, 6, 4)).add(Rec12(kvkBITMAP, 10, 0, 16, 4));
  v2.add(Rec12(kvkTEXT, 0, 10, 50, 30)).str("no font");
  Load(*v, v2);
  EXPECT_DOUBLE_EQ(v->GetScale(), 0.75);
  ASSERT_EQ(v->ObjectsCount(), 3);
  // Both objects share slot 1; the file's empty slot 0 takes the template's
  // icon back.
  EXPECT_EQ(v->GetObj(TKorvaneVect::kTemplate)->BitmapIdx, 0);
  EXPECT_EQ(v->GetObj(0)->BitmapIdx, 1);
  EXPECT_EQ(v->GetObj(1)->BitmapIdx, 1);
  EXPECT_EQ(v->BitmapRefCount(1), 2);
  EXPECT_EQ(v->GetObjText(2), "no font");
  EXPECT_FALSE(v->GetObj(2)->Font.has_value());
  ASSERT_NE(v->GetBitmap(1), nullptr);
  EXPECT_TRUE(test::SamePixels(*v->GetBitmap(1), pic));
}

TEST(VectKVV, VersionThreeTextIsLeftJustified) {
  Bytes objs;
  objs.i32(1);
  objs.i32(1).i32(2).i32(40).i32(20).u8(kvkTEXT).str("t3").i32(5).i32(0xFF).u8(psSolid).i32(1);
  objs.i32(0).u8(bsClear).u8(9).str("three").u8(0);
  Bytes f;
  f.raw("KVV3", 4).i32(0).f64(1).i32(0).add(Deflate(objs));
  auto v = MakeVect(50, 50, 50, 50);
  Load(*v, f);
  ASSERT_EQ(v->ObjectsCount(), 1);
  EXPECT_EQ(v->GetObjName(0), "t3");
  EXPECT_EQ(v->GetObjID(0), 5);
  EXPECT_EQ(v->GetObjText(0), "three");
  EXPECT_EQ(v->GetObjTextAlign(0), taLeftJustify);
  EXPECT_EQ(v->GetObjStyle(0).Mask(), 9u);
}

namespace {

struct Hostile {
  const char* name;
  Bytes data;
  int objectsLeft;  // objects a partial load keeps
};

Bytes V4(const Bytes& objs, int32_t nslots = 0) {
  Bytes b;
  b.raw("KVV4", 4).i32(0).f64(1).i32(nslots);
  return b.add(Deflate(objs));
}

Bytes Frame4(int32_t children) {
  Bytes b;
  return b.i32(0)
      .i32(0)
      .i32(10)
      .i32(10)
      .u8(kvkFRAME)
      .str("")
      .i32(0)
      .i32(0)
      .u8(0)
      .i32(1)
      .i32(0)
      .u8(1)
      .u8(15)
      .i32(children);
}

std::vector<Hostile> HostileCases() {
  std::vector<Hostile> v;
  v.push_back({"bad signature", Bytes().raw("KVV5", 4).i32(0).f64(1).i32(0), 0});
  v.push_back({"slot count of two billion", Bytes().raw("KVV4", 4).i32(0).f64(1).i32(0x7FFFFFFF), 0});
  v.push_back({"negative slot count", Bytes().raw("KVV4", 4).i32(0).f64(1).i32(-5), 0});
  v.push_back(
      {"millions of objects, no records", Bytes().raw("KVV2", 4).i32(0).f64(1).i32(0).i32(3000000), 0});
  {
    Bytes objs;
    objs.i32(1).add(Frame4(1000000000)).add(Frame4(0));
    v.push_back({"frame children past the data", V4(objs), 2});
  }
  {
    Bytes full = V4(Bytes().i32(1).add(Frame4(0)));
    full.d.resize(full.d.size() - 6);
    v.push_back({"truncated zlib data", full, 0});
  }
  {
    Bytes objs;
    objs.i32(1).i32(0).i32(0).i32(1).i32(1).u8(kvkBOX).i32(0x7FFFFFF0);
    v.push_back({"name of 2 GB", V4(objs), 0});
  }
  {
    Bytes objs;
    objs.i32(1).i32(0).i32(0).i32(1).i32(1).u8(99);
    v.push_back({"unknown kind", V4(objs), 0});
  }
  {
    Bytes objs;
    objs.i32(1);
    for (int i = 0; i < 5000; ++i) objs.add(Frame4(1));
    v.push_back({"frames nested 5000 deep", V4(objs), 256});
  }
  {
    Bytes b;
    b.raw("KVV4", 4).i32(0).f64(1).i32(1).i32(1).raw("\x89PNG\r\n\x1a\n", 8);
    v.push_back({"broken embedded PNG", b, 0});
  }
  v.push_back({"empty", Bytes(), 0});
  return v;
}

}  // namespace

TEST(VectKVV, HostileStreamsRaiseOrLoadPartly) {
  for (const Hostile& h : HostileCases()) {
    SCOPED_TRACE(h.name);
    auto v = MakeVect(50, 50, 50, 50);
    AddKind(*v, kvkBOX, 1, 1, 5, 5);  // removed by any load
    try {
      Load(*v, h.data);
      ADD_FAILURE() << "no error";
    } catch (const EInvalidGraphic& e) {
      EXPECT_STREQ(e.what(), "unrecognized KVV stream");
    }
    EXPECT_EQ(v->ObjectsCount(), h.objectsLeft);
    EXPECT_NE(v->GetObjBitmap(TKorvaneVect::kTemplate), nullptr);
    EXPECT_TRUE(v->GetShareBitmaps());
    TBitmap shot;
    Render(*v, shot);  // what was loaded still draws
  }
}
