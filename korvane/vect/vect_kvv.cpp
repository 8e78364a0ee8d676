// The KVV vector file: version 4 written, versions 1 to 4 read. Bitmaps are
// embedded as PNG (3, 4) or BMP (1, 2); the object records of versions 3 and
// 4 are one zlib stream.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/safe_save.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/kvio.h"
#include "korvane/vect/kvvect.h"

namespace korvane {

namespace {

constexpr const char* kBadKVV = "unrecognized KVV stream";
// A name or text longer than this is not a vector layer.
constexpr int32_t kMaxString = 16 << 20;
// Objects a load may create at most, whatever the data claim.
constexpr int64_t kMaxObjects = 1 << 22;
// The smallest object record of versions 3 and 4 (a box without a name).
constexpr int64_t kMinRecord = 39;
// Frames nested deeper than this are refused: drawing, hit testing and
// removal walk the tree recursively.
constexpr size_t kMaxDepth = 256;
// Deflate expands at most about 1032 to 1.
constexpr int64_t kMaxInflate = 1032;

void PutI32(TStream* s, int32_t v) { s->WriteBuffer(&v, 4); }
void PutU8(TStream* s, uint8_t v) { s->WriteBuffer(&v, 1); }
void PutF64(TStream* s, double v) { s->WriteBuffer(&v, 8); }
void PutStr(TStream* s, const std::string& t) {
  PutI32(s, int32_t(t.size()));
  if (!t.empty()) s->WriteBuffer(t.data(), int64_t(t.size()));
}

int32_t GetI32(TStream* s) {
  int32_t v;
  s->ReadBuffer(&v, 4);
  return v;
}
uint8_t GetU8(TStream* s) {
  uint8_t v;
  s->ReadBuffer(&v, 1);
  return v;
}
double GetF64(TStream* s) {
  double v;
  s->ReadBuffer(&v, 8);
  return v;
}
// A counted string read in chunks, so a huge declared length costs no more
// memory than the data really hold.
std::string GetStr(TStream* s, int32_t n) {
  if (n < 0 || n > kMaxString) throw EInvalidGraphic(kBadKVV);
  std::string t;
  char buf[4096];
  while (n > 0) {
    const int32_t k = std::min<int32_t>(n, sizeof buf);
    s->ReadBuffer(buf, k);
    t.append(buf, size_t(k));
    n -= k;
  }
  return t;
}

template <typename E>
E Checked(uint8_t v, E last) {
  if (v > uint8_t(last)) throw EInvalidGraphic(kBadKVV);
  return E(v);
}

// Little-endian fields of a 96-byte record of versions 1 and 2.
int32_t At32(const uint8_t* r, int off) {
  int32_t v;
  std::memcpy(&v, r + off, 4);
  return v;
}
double At64(const uint8_t* r, int off) {
  double v;
  std::memcpy(&v, r + off, 8);
  return v;
}

TLogFont GetLogFont(TStream* s) {
  TLogFont lf;
  s->ReadBuffer(&lf, sizeof lf);
  lf.lfFaceName[sizeof lf.lfFaceName - 1] = 0;
  return lf;
}

}  // namespace

// ---------------------------------------------------------------------------
// Save

void TKorvaneVect::SaveObj(TStream* s, int idx) {
  if (idx < 0) return;
  PKVVObject o = GetObj(idx);
  if (!o) return;
  PutI32(s, o->x1);
  PutI32(s, o->y1);
  PutI32(s, o->x2);
  PutI32(s, o->y2);
  PutU8(s, o->Kind);
  PutStr(s, o->Name);
  PutI32(s, o->ID);
  PutI32(s, int32_t(o->PenColor));
  PutU8(s, uint8_t(o->PenStyle));
  PutI32(s, o->PenWidth);
  PutI32(s, int32_t(o->BrushColor));
  PutU8(s, uint8_t(o->BrushStyle));
  PutU8(s, uint8_t(o->Style.Mask() & 15));
  switch (o->Kind) {
    case kvkFRAME: {
      const std::vector<int32_t> kids = o->Children;
      PutI32(s, int32_t(kids.size()));
      for (int c : kids) SaveObj(s, c);
      break;
    }
    case kvkLINE:
      PutU8(s, o->BeginShape);
      PutU8(s, o->EndShape);
      PutI32(s, o->ShapeWidth);
      PutI32(s, o->ShapeHeight);
      break;
    case kvkARC:
      PutF64(s, o->AngleStart);
      PutF64(s, o->AngleEnd);
      break;
    case kvkBITMAP:
      PutI32(s, o->BitmapIdx);
      break;
    case kvkTEXT:
      PutU8(s, o->TextAlign);
      PutStr(s, o->Text);
      PutU8(s, o->Font ? 1 : 0);
      if (o->Font) s->WriteBuffer(&*o->Font, sizeof(TLogFont));
      break;
    default:
      break;
  }
}

void TKorvaneVect::SaveToStreamKVV(TStream* s) {
  PackBMP();
  const int64_t p0 = s->Position();
  s->WriteBuffer("KVV4", 4);
  PutI32(s, 0);
  PutF64(s, scale_);
  PutI32(s, int32_t(bitmaps_.size()));
  for (int i = 0; i < int(bitmaps_.size()); ++i) {
    const int refs = bitmaps_[i].RefCount - (i == templ_.BitmapIdx ? 1 : 0);
    PutI32(s, refs);
    if (refs <= 0) continue;
    TBitmap* b = bitmaps_[i].Bitmap.get();
    // The writer converts other formats in place; the table keeps its own.
    TBitmap copy;
    if (b->PixelFormat() != pf24bit && b->PixelFormat() != pf1bit) {
      copy.Assign(b);
      b = &copy;
    }
    TKorvaneIO io;
    io.StreamHeaders = false;
    io.SetAttachedBitmap(b);
    io.SaveToStreamPNG(s);
  }
  {
    // The records are gathered first and deflated in one piece: a deflate
    // call per four-byte field costs more than the whole encoding.
    TMemoryStream records;
    const std::vector<int32_t> top = root_.Children;
    PutI32(&records, int32_t(top.size()));
    for (int c : top) SaveObj(&records, c);
    TCompressionStream z(clDefaultLevel, s);
    z.WriteBuffer(records.Memory(), records.Size());
    z.Finish();
  }
  const int64_t end = s->Position();
  s->SetPosition(p0 + 4);
  PutI32(s, int32_t(std::min<int64_t>(end - p0, INT32_MAX)));
  s->SetPosition(end);
}

void TKorvaneVect::SaveToFileKVV(const std::string& name) {
  KVSafeSave(name, [this](TStream* f) { SaveToStreamKVV(f); });
}

// ---------------------------------------------------------------------------
// Load

void TKorvaneVect::LoadFromFileKVV(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  LoadFromStreamKVV(&f);
}

void TKorvaneVect::LoadFromStreamKVV(TStream* s) {
  const bool share = share_bitmaps_;
  share_bitmaps_ = true;
  std::unique_ptr<TBitmap> kept;
  if (TBitmap* tb = GetBitmap(templ_.BitmapIdx)) {
    kept = std::make_unique<TBitmap>();
    kept->Assign(tb);
    AttachBitmap(templ_, nullptr);
  }
  // Whatever happens, the template gets its bitmap back and the sharing
  // switch its value; objects read before an error stay.
  auto restore = [&] {
    share_bitmaps_ = true;
    if (kept) AttachBitmap(templ_, kept.get());
    share_bitmaps_ = share;
    Update();
  };
  try {
    LoadKVV(s);
  } catch (const EInvalidGraphic&) {
    restore();
    throw;
  } catch (const std::exception&) {
    // Short reads, corrupt deflate data and unreadable embedded images.
    restore();
    throw EInvalidGraphic(kBadKVV);
  }
  restore();
}

void TKorvaneVect::LoadKVV(TStream* s) {
  RemoveAllObjects();
  char sig[4];
  if (s->Read(sig, 4) != 4 || std::memcmp(sig, "KVV", 3) != 0 || sig[3] < '1' || sig[3] > '4')
    throw EInvalidGraphic(kBadKVV);
  const int version = sig[3] - '0';
  GetI32(s);
  const double scale = version == 1 ? double(GetI32(s)) : GetF64(s);
  scale_ = std::isfinite(scale) && scale > 0 ? scale : 1.0;
  CalcCoef();
  const int32_t nbmp = GetI32(s);
  // Every slot takes at least its four-byte reference count.
  if (nbmp < 0 || nbmp > s->Remaining() / 4) throw EInvalidGraphic(kBadKVV);
  std::vector<TKVVBitmap> table(static_cast<size_t>(nbmp));
  for (auto& slot : table) {
    if (GetI32(s) <= 0) continue;
    slot.Bitmap = std::make_unique<TBitmap>();
    TKorvaneIO io;
    io.StreamHeaders = false;
    io.SetAttachedBitmap(slot.Bitmap.get());
    try {
      if (version <= 2) {
        // The reader may stop before the end of the image's data (unused
        // palette entries, row padding): the file header says where it ends.
        const int64_t start = s->Position();
        uint8_t fh[6] = {};
        s->Read(fh, 6);
        s->SetPosition(start);
        const int64_t size =
            int64_t(fh[2]) | int64_t(fh[3]) << 8 | int64_t(fh[4]) << 16 | int64_t(fh[5]) << 24;
        io.LoadFromStreamBMP(s);
        if (size >= 14 && size <= s->Size() - start) s->SetPosition(start + size);
      } else {
        io.LoadFromStreamPNG(s);
      }
    } catch (const std::exception&) {
      throw EInvalidGraphic(kBadKVV);
    }
  }
  bitmaps_ = std::move(table);

  std::unique_ptr<TDecompressionStream> z;
  TStream* in = s;
  int64_t budget;
  if (version >= 3) {
    budget = s->Remaining() * kMaxInflate / kMinRecord + 1;
    z = std::make_unique<TDecompressionStream>(s);
    in = z.get();
  } else {
    budget = s->Remaining() / kMinRecord + 1;
  }
  budget = std::min(budget, kMaxObjects);

  // Frames are read with an explicit stack of (frame, children still to
  // read): nesting depth costs no call stack.
  struct Level {
    int parent;
    int64_t left;
  };
  std::vector<Level> stack;
  const int32_t count = GetI32(in);
  if (count < 0) throw EInvalidGraphic(kBadKVV);
  stack.push_back({kRoot, count});
  while (!stack.empty()) {
    if (stack.back().left == 0) {
      stack.pop_back();
      continue;
    }
    --stack.back().left;
    if (budget-- <= 0) throw EInvalidGraphic(kBadKVV);
    TKVVObject r;
    int32_t children = 0;
    if (version >= 3) {
      r.x1 = GetI32(in);
      r.y1 = GetI32(in);
      r.x2 = GetI32(in);
      r.y2 = GetI32(in);
      r.Kind = Checked(GetU8(in), kvkTEXT);
      r.Name = GetStr(in, GetI32(in));
      r.ID = GetI32(in);
      r.PenColor = TColor(GetI32(in));
      r.PenStyle = Checked(GetU8(in), psInsideFrame);
      r.PenWidth = GetI32(in);
      r.BrushColor = TColor(GetI32(in));
      r.BrushStyle = Checked(GetU8(in), bsDiagCross);
      r.Style = TKVVStyle::FromMask(GetU8(in) & 15);
      switch (r.Kind) {
        case kvkFRAME:
          children = GetI32(in);
          break;
        case kvkLINE:
          r.BeginShape = Checked(GetU8(in), kvsOUTARROW);
          r.EndShape = Checked(GetU8(in), kvsOUTARROW);
          r.ShapeWidth = GetI32(in);
          r.ShapeHeight = GetI32(in);
          break;
        case kvkARC:
          r.AngleStart = GetF64(in);
          r.AngleEnd = GetF64(in);
          break;
        case kvkBITMAP:
          r.BitmapIdx = GetI32(in);
          break;
        case kvkTEXT:
          if (version == 4) r.TextAlign = Checked(GetU8(in), taCenter);
          r.Text = GetStr(in, GetI32(in));
          if (GetU8(in) == 1) r.Font = GetLogFont(in);
          break;
        default:
          break;
      }
    } else {
      uint8_t raw[96];
      in->ReadBuffer(raw, sizeof raw);
      r.x1 = At32(raw, 0);
      r.y1 = At32(raw, 4);
      r.x2 = At32(raw, 8);
      r.y2 = At32(raw, 12);
      r.Kind = Checked(raw[16], kvkTEXT);
      children = At32(raw, 24);
      r.BeginShape = Checked(raw[32], kvsOUTARROW);
      r.EndShape = Checked(raw[33], kvsOUTARROW);
      r.ShapeWidth = At32(raw, 36);
      r.ShapeHeight = At32(raw, 40);
      r.PenColor = TColor(At32(raw, 44));
      r.PenStyle = Checked(raw[48], psInsideFrame);
      r.PenWidth = At32(raw, 52);
      r.BrushColor = TColor(At32(raw, 56));
      r.BrushStyle = Checked(raw[60], bsDiagCross);
      r.AngleStart = At64(raw, 64);
      r.AngleEnd = At64(raw, 72);
      r.BitmapIdx = At32(raw, 80);
      r.TextAlign = Checked(raw[92], taCenter);
      if (r.Kind == kvkTEXT) {
        r.Text = GetStr(in, GetI32(in));
        if (At32(raw, 88) != 0) r.Font = GetLogFont(in);
      }
    }
    if (r.Kind != kvkFRAME) children = 0;
    const int idx = AddVObject(stack.back().parent, r);
    if (children > 0) {
      if (stack.size() >= kMaxDepth) throw EInvalidGraphic(kBadKVV);
      stack.push_back({idx, children});
    }
  }
}

}  // namespace korvane
