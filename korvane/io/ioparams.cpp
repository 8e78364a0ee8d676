#include "korvane/io/ioparams.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/safe_save.h"

namespace korvane {

TGIFLZWDecompFunc DefGIF_LZWDECOMPFUNC = nullptr;
TGIFLZWCompFunc DefGIF_LZWCOMPFUNC = nullptr;
TTIFFLZWDecompFunc DefTIFF_LZWDECOMPFUNC = nullptr;
TTIFFLZWCompFunc DefTIFF_LZWCOMPFUNC = nullptr;

namespace {

// Version written by SaveToStream; LoadFromStream reads 0 and 1.
constexpr int32_t kParamsVersion = 1;

// Little-endian writer into a byte buffer; the record is written in one go.
class RecordWriter {
 public:
  void I32(int32_t v) {
    uint32_t u = uint32_t(v);
    uint8_t b[4] = {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
    buf_.insert(buf_.end(), b, b + 4);
  }
  void U8(uint8_t v) { buf_.push_back(v); }
  void Bool(bool v) { buf_.push_back(v ? 1 : 0); }
  void RGB(const TRGB& c) { Bytes(&c, 3); }
  void Bytes(const void* p, size_t n) {
    const uint8_t* b = static_cast<const uint8_t*>(p);
    buf_.insert(buf_.end(), b, b + n);
  }
  void Str(const std::string& s) {
    I32(int32_t(s.size()));
    Bytes(s.data(), s.size());
  }
  const std::vector<uint8_t>& Data() const { return buf_; }

 private:
  std::vector<uint8_t> buf_;
};

// Reader over an untrusted stream. Every call reads one whole field or, when
// the stream ends inside it, leaves the target alone and makes every later
// call fail too, so a load stops at the first damaged field.
class RecordReader {
 public:
  explicit RecordReader(TStream* s) : s_(s) {}
  bool Ok() const { return ok_; }
  void Fail() { ok_ = false; }

  bool Bytes(void* p, int64_t n) {
    if (!ok_) return false;
    if (s_->Read(p, n) != n) ok_ = false;
    return ok_;
  }
  bool I32(int32_t& v) {
    uint8_t b[4];
    if (!Bytes(b, 4)) return false;
    v = int32_t(uint32_t(b[0]) | (uint32_t(b[1]) << 8) | (uint32_t(b[2]) << 16) | (uint32_t(b[3]) << 24));
    return true;
  }
  template <typename E>
  bool Enum(E& v) {
    uint8_t b;
    if (!Bytes(&b, 1)) return false;
    v = static_cast<E>(b);
    return true;
  }
  bool Bool(bool& v) {
    uint8_t b;
    if (!Bytes(&b, 1)) return false;
    v = b != 0;
    return true;
  }
  bool RGB(TRGB& c) {
    uint8_t b[3];
    if (!Bytes(b, 3)) return false;
    c = TRGB{b[0], b[1], b[2]};
    return true;
  }
  // A length-prefixed string. A negative length reads as empty, like the
  // shared string helper. The text grows chunk by chunk as the stream
  // delivers it, so a hostile length costs no more memory than the data that
  // is really there.
  bool Str(std::string& v) {
    int32_t n;
    if (!I32(n)) return false;
    std::string t;
    int64_t left = n > 0 ? n : 0;
    while (left > 0) {
      int64_t chunk = std::min<int64_t>(left, kChunk);
      size_t at = t.size();
      t.resize(at + size_t(chunk));
      if (!Bytes(t.data() + at, chunk)) return false;
      left -= chunk;
    }
    v = std::move(t);
    return true;
  }
  // count entries of 3 bytes, read in chunks for the same reason.
  bool Palette(std::vector<TRGB>& pal, int32_t count) {
    pal.clear();
    int64_t left = count;
    while (left > 0) {
      int64_t chunk = std::min<int64_t>(left, kChunk / 3);
      size_t at = pal.size();
      pal.resize(at + size_t(chunk));
      if (!Bytes(pal.data() + at, chunk * 3)) return false;
      left -= chunk;
    }
    return true;
  }

 private:
  static constexpr int64_t kChunk = 1 << 16;
  TStream* s_;
  bool ok_ = true;
};

}  // namespace

TIOParamsVals::TIOParamsVals(TIOParamsOwner* owner) : owner_(owner) { SetDefaultParams(); }

TIOParamsVals::~TIOParamsVals() { FreeColorMap(); }

void TIOParamsVals::FreeColorMap() {
  delete[] ColorMap;
  ColorMap = nullptr;
  ColorMapCount = 0;
}

TRGB* TIOParamsVals::AllocColorMap(int32_t count) {
  FreeColorMap();
  if (count > 0) {
    ColorMap = new TRGB[size_t(count)]();
    ColorMapCount = count;
  }
  return ColorMap;
}

void TIOParamsVals::SetColorMap(const TRGB* src, int32_t count) {
  if (src && src == ColorMap) return;  // already ours
  TRGB* dst = AllocColorMap(src ? count : 0);
  if (dst) std::memcpy(dst, src, size_t(count) * sizeof(TRGB));
}

void TIOParamsVals::SetDefaultParams() {
  FreeColorMap();
  FileName.clear();
  FileType = ioUnknown;
  BitsPerSample = 8;
  SamplesPerPixel = 3;
  if (owner_) {
    if (TBitmap* bmp = owner_->IOParamsBitmap()) {
      Width = bmp->Width();
      Height = bmp->Height();
    }
    owner_->IOParamsViewDPI(DpiX, DpiY);
  }
  Orientation = 1;
  TIFF_Compression = ioTIFF_UNCOMPRESSED;
  TIFF_ImageIndex = 0;
  TIFF_PhotometInterpret = ioTIFF_RGB;
  TIFF_PlanarConf = 1;
  TIFF_XPos = 0;
  TIFF_YPos = 0;
  TIFF_DocumentName.clear();
  TIFF_ImageDescription.clear();
  TIFF_PageName.clear();
  TIFF_PageNumber = 0;
  TIFF_PageCount = 0;
  TIFF_LZWDecompFunc = DefTIFF_LZWDECOMPFUNC;
  TIFF_LZWCompFunc = DefTIFF_LZWCOMPFUNC;
  GIF_Version = "GIF89a";
  GIF_ImageIndex = 0;
  GIF_XPos = 0;
  GIF_YPos = 0;
  GIF_DelayTime = 0;
  GIF_FlagTranspColor = false;
  GIF_TranspColor = TRGB{0, 0, 0};
  GIF_Interlaced = false;
  GIF_WinWidth = 0;
  GIF_WinHeight = 0;
  GIF_Background = TRGB{0, 0, 0};
  GIF_Ratio = 0;
  GIF_Disposal = 2;
  GIF_LoopCount = -1;
  GIF_LZWDecompFunc = DefGIF_LZWDECOMPFUNC;
  GIF_LZWCompFunc = DefGIF_LZWCOMPFUNC;
  JPEG_ColorSpace = ioJPEG_YCbCr;
  JPEG_Quality = 50;
  JPEG_DCTMethod = ioJPEG_ISLOW;
  JPEG_OptimalHuffman = false;
  JPEG_Smooth = 0;
  JPEG_Progressive = false;
  JPEG_Scale = ioJPEG_FULLSIZE;
  PCX_Version = 5;
  PCX_Compression = ioPCX_RLE;
  BMP_Version = ioBMP_BM3;
  BMP_Compression = ioBMP_UNCOMPRESSED;
  ICO_ImageIndex = 0;
  CUR_ImageIndex = 0;
  CUR_XHotSpot = 0;
  CUR_YHotSpot = 0;
  PNG_Interlaced = false;
  PNG_Background = TRGB{0, 0, 0};
  PNG_Filter = ioPNG_FILTER_NONE;
  PNG_Compression = 5;
}

void TIOParamsVals::Assign(const TIOParamsVals* s) {
  if (!s || s == this) return;
  BitsPerSample = s->BitsPerSample;
  SamplesPerPixel = s->SamplesPerPixel;
  Width = s->Width;
  Height = s->Height;
  DpiX = s->DpiX;
  DpiY = s->DpiY;
  FileType = s->FileType;
  Orientation = s->Orientation;
  TIFF_Compression = s->TIFF_Compression;
  TIFF_ImageIndex = s->TIFF_ImageIndex;
  TIFF_PhotometInterpret = s->TIFF_PhotometInterpret;
  TIFF_PlanarConf = s->TIFF_PlanarConf;
  TIFF_XPos = s->TIFF_XPos;
  TIFF_YPos = s->TIFF_YPos;
  TIFF_DocumentName = s->TIFF_DocumentName;
  TIFF_ImageDescription = s->TIFF_ImageDescription;
  TIFF_PageName = s->TIFF_PageName;
  TIFF_PageNumber = s->TIFF_PageNumber;
  TIFF_PageCount = s->TIFF_PageCount;
  TIFF_LZWDecompFunc = s->TIFF_LZWDecompFunc;
  TIFF_LZWCompFunc = s->TIFF_LZWCompFunc;
  GIF_Version = s->GIF_Version;
  GIF_ImageIndex = s->GIF_ImageIndex;
  GIF_XPos = s->GIF_XPos;
  GIF_YPos = s->GIF_YPos;
  GIF_DelayTime = s->GIF_DelayTime;
  GIF_FlagTranspColor = s->GIF_FlagTranspColor;
  GIF_TranspColor = s->GIF_TranspColor;
  GIF_Interlaced = s->GIF_Interlaced;
  GIF_WinWidth = s->GIF_WinWidth;
  GIF_WinHeight = s->GIF_WinHeight;
  GIF_Background = s->GIF_Background;
  GIF_Ratio = s->GIF_Ratio;
  GIF_Disposal = s->GIF_Disposal;
  GIF_LoopCount = s->GIF_LoopCount;
  GIF_LZWDecompFunc = s->GIF_LZWDecompFunc;
  GIF_LZWCompFunc = s->GIF_LZWCompFunc;
  JPEG_ColorSpace = s->JPEG_ColorSpace;
  JPEG_Quality = s->JPEG_Quality;
  JPEG_DCTMethod = s->JPEG_DCTMethod;
  JPEG_OptimalHuffman = s->JPEG_OptimalHuffman;
  JPEG_Smooth = s->JPEG_Smooth;
  JPEG_Progressive = s->JPEG_Progressive;
  JPEG_Scale = s->JPEG_Scale;
  PCX_Version = s->PCX_Version;
  PCX_Compression = s->PCX_Compression;
  BMP_Version = s->BMP_Version;
  BMP_Compression = s->BMP_Compression;
  ICO_ImageIndex = s->ICO_ImageIndex;
  CUR_ImageIndex = s->CUR_ImageIndex;
  CUR_XHotSpot = s->CUR_XHotSpot;
  CUR_YHotSpot = s->CUR_YHotSpot;
  PNG_Interlaced = s->PNG_Interlaced;
  PNG_Background = s->PNG_Background;
  PNG_Filter = s->PNG_Filter;
  PNG_Compression = s->PNG_Compression;
  FileName = s->FileName;
  SetColorMap(s->ColorMap, s->ColorMap ? s->ColorMapCount : 0);
}

void TIOParamsVals::SaveToStream(TStream* stream) const {
  RecordWriter w;
  w.I32(kParamsVersion);
  w.Str(FileName);
  w.U8(FileType);
  w.I32(BitsPerSample);
  w.I32(SamplesPerPixel);
  w.I32(Width);
  w.I32(Height);
  w.I32(DpiX);
  w.I32(DpiY);
  // A count without a block (which the invariant rules out) is written as no
  // palette rather than as entries the reader would take from later fields.
  int32_t count = ColorMap && ColorMapCount > 0 ? ColorMapCount : 0;
  w.I32(count);
  if (count > 0) w.Bytes(ColorMap, size_t(count) * sizeof(TRGB));
  w.U8(TIFF_Compression);
  w.I32(TIFF_ImageIndex);
  w.U8(TIFF_PhotometInterpret);
  w.I32(TIFF_PlanarConf);
  w.I32(TIFF_XPos);
  w.I32(TIFF_YPos);
  w.Str(TIFF_DocumentName);
  w.Str(TIFF_ImageDescription);
  w.Str(TIFF_PageName);
  w.I32(TIFF_PageNumber);
  w.I32(TIFF_PageCount);
  w.Str(GIF_Version);
  w.I32(GIF_ImageIndex);
  w.I32(GIF_XPos);
  w.I32(GIF_YPos);
  w.I32(GIF_DelayTime);
  w.Bool(GIF_FlagTranspColor);
  w.RGB(GIF_TranspColor);
  w.Bool(GIF_Interlaced);
  w.I32(GIF_WinWidth);
  w.I32(GIF_WinHeight);
  w.RGB(GIF_Background);
  w.I32(GIF_Ratio);
  w.U8(JPEG_ColorSpace);
  w.I32(JPEG_Quality);
  w.U8(JPEG_DCTMethod);
  w.Bool(JPEG_OptimalHuffman);
  w.I32(JPEG_Smooth);
  w.Bool(JPEG_Progressive);
  w.U8(JPEG_Scale);
  w.I32(PCX_Version);
  w.U8(PCX_Compression);
  w.U8(BMP_Version);
  w.U8(BMP_Compression);
  w.I32(ICO_ImageIndex);
  w.I32(CUR_ImageIndex);
  w.I32(CUR_XHotSpot);
  w.I32(CUR_YHotSpot);
  w.Bool(PNG_Interlaced);
  w.RGB(PNG_Background);
  w.U8(PNG_Filter);
  w.I32(PNG_Compression);
  stream->WriteBuffer(w.Data().data(), int64_t(w.Data().size()));
}

void TIOParamsVals::LoadFromStream(TStream* stream) {
  RecordReader r(stream);
  int32_t version;
  if (!r.I32(version) || (version != 0 && version != 1)) return;
  r.Str(FileName);
  r.Enum(FileType);
  r.I32(BitsPerSample);
  r.I32(SamplesPerPixel);
  r.I32(Width);
  r.I32(Height);
  r.I32(DpiX);
  r.I32(DpiY);

  // The palette: a count outside 0..kIOMaxColorMapCount cannot come from a
  // record and ends the load; entries are read before the old palette is
  // replaced, so a stream that ends inside them keeps it.
  int32_t count;
  if (r.I32(count)) {
    if (count < 0 || count > kIOMaxColorMapCount) {
      r.Fail();
    } else {
      std::vector<TRGB> pal;
      if (r.Palette(pal, count)) SetColorMap(pal.data(), count);
    }
  }

  r.Enum(TIFF_Compression);
  r.I32(TIFF_ImageIndex);
  r.Enum(TIFF_PhotometInterpret);
  r.I32(TIFF_PlanarConf);
  r.I32(TIFF_XPos);
  r.I32(TIFF_YPos);
  r.Str(TIFF_DocumentName);
  r.Str(TIFF_ImageDescription);
  r.Str(TIFF_PageName);
  r.I32(TIFF_PageNumber);
  r.I32(TIFF_PageCount);
  r.Str(GIF_Version);
  r.I32(GIF_ImageIndex);
  r.I32(GIF_XPos);
  r.I32(GIF_YPos);
  r.I32(GIF_DelayTime);
  r.Bool(GIF_FlagTranspColor);
  r.RGB(GIF_TranspColor);
  r.Bool(GIF_Interlaced);
  r.I32(GIF_WinWidth);
  r.I32(GIF_WinHeight);
  r.RGB(GIF_Background);
  r.I32(GIF_Ratio);
  r.Enum(JPEG_ColorSpace);
  r.I32(JPEG_Quality);
  r.Enum(JPEG_DCTMethod);
  r.Bool(JPEG_OptimalHuffman);
  r.I32(JPEG_Smooth);
  r.Bool(JPEG_Progressive);
  if (version >= 1) r.Enum(JPEG_Scale);
  r.I32(PCX_Version);
  r.Enum(PCX_Compression);
  r.Enum(BMP_Version);
  r.Enum(BMP_Compression);
  if (version >= 1) {
    r.I32(ICO_ImageIndex);
    r.I32(CUR_ImageIndex);
    r.I32(CUR_XHotSpot);
    r.I32(CUR_YHotSpot);
  } else {
    // Version 0 kept four unused words here; the icon and cursor fields it
    // did not have start from 0.
    uint8_t unused[16];
    if (r.Bytes(unused, 16)) ICO_ImageIndex = CUR_ImageIndex = CUR_XHotSpot = CUR_YHotSpot = 0;
  }
  r.Bool(PNG_Interlaced);
  r.RGB(PNG_Background);
  r.Enum(PNG_Filter);
  r.I32(PNG_Compression);
}

void TIOParamsVals::SaveToFile(const std::string& name) const {
  KVSafeSave(name, [this](TStream* f) { SaveToStream(f); });
}

void TIOParamsVals::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  LoadFromStream(&f);
}

std::string TIOParamsVals::GetFileTypeStr() const {
  // Picks a suffix by enumerator, nothing for values outside the table.
  auto pick = [](auto value, std::initializer_list<const char*> names) -> std::string {
    size_t i = size_t(value);
    return i < names.size() ? std::string(names.begin()[i]) : std::string();
  };
  switch (FileType) {
    case ioTIFF:
      return "TIFF Bitmap (TIF)" +
             pick(TIFF_Compression, {" Uncompressed", " Huffman", " Group 3 Fax", " Group 3 Fax 2D",
                                     " Group 4 Fax", " LZW", " Jpeg v.5", " Jpeg", " PackBits RLE"});
    case ioGIF:
      return std::string("CompuServe Bitmap (GIF)") + (GIF_Interlaced ? " Interlaced" : "");
    case ioJPEG:
      return "JPEG Bitmap (JPG)" + pick(JPEG_ColorSpace, {"", " Gray level", " YCbCr", " CMYK", " YCbCrK"});
    case ioPCX:
      return std::string("PaintBrush (PCX)") + (PCX_Compression == ioPCX_UNCOMPRESSED ? " Uncompressed" : "");
    case ioBMP:
      return "Windows Bitmap (BMP)" + pick(BMP_Version, {" ver.1", " ver.3", " OS/2 v.1", " OS/2 v.2"});
    case ioICO:
      return "Windows Icon (ICO)";
    case ioCUR:
      return "Windows Cursor (CUR)";
    case ioPNG:
      return std::string("Portable Network Graphics (PNG)") + (PNG_Interlaced ? " Interlaced" : "");
    case ioWMF:
      return "Windows Metafile (WMF)";
    case ioEMF:
      return "Enhanced Windows Metafile (EMF)";
    default:
      return std::string();
  }
}

}  // namespace korvane
