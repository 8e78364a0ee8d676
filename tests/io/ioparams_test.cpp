// The I/O parameters record: defaults from the owner, deep copies, the
// persisted form (versions 0 and 1, unknown versions, damaged streams) and
// the file type descriptions.
#include "korvane/io/ioparams.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/graphics.h"

using namespace korvane;

namespace {

// Stand-in coders: only their addresses matter.
void GifDecA(TStream*, int32_t, int32_t, bool, uint8_t*) {}
void GifCompA(TStream*, int32_t, int32_t, bool, const uint8_t*, int32_t) {}
uint8_t* TiffDecA(const uint8_t*, int32_t, int32_t, void*&) { return nullptr; }
void TiffCompA(const uint8_t*, int32_t, TStream*, void*&) {}
void GifDecB(TStream*, int32_t, int32_t, bool, uint8_t*) {}
uint8_t* TiffDecB(const uint8_t*, int32_t, int32_t, void*&) { return nullptr; }

class FakeOwner : public TIOParamsOwner {
 public:
  TBitmap* bitmap = nullptr;
  bool has_view = false;
  int dpi = 0;
  TBitmap* IOParamsBitmap() override { return bitmap; }
  bool IOParamsViewDPI(int32_t& x, int32_t& y) override {
    if (!has_view) return false;
    x = y = dpi;
    return true;
  }
};

// Sets every persisted field to a value that differs from its default.
void FillDistinct(TIOParamsVals& p) {
  p.FileName = "some/file.tif";
  p.FileType = ioTIFF;
  p.BitsPerSample = 4;
  p.SamplesPerPixel = 1;
  p.Width = 1234;
  p.Height = -5;
  p.DpiX = 300;
  p.DpiY = 72;
  TRGB* pal = p.AllocColorMap(16);
  for (int i = 0; i < 16; ++i) pal[i] = TRGB{uint8_t(i), uint8_t(i * 3), uint8_t(255 - i)};
  p.TIFF_Compression = ioTIFF_PACKBITS;
  p.TIFF_ImageIndex = 3;
  p.TIFF_PhotometInterpret = ioTIFF_CIELAB;
  p.TIFF_PlanarConf = 2;
  p.TIFF_XPos = 11;
  p.TIFF_YPos = 12;
  p.TIFF_DocumentName = "doc";
  p.TIFF_ImageDescription = std::string("with\0zero", 9);
  p.TIFF_PageName = "page";
  p.TIFF_PageNumber = 7;
  p.TIFF_PageCount = 9;
  p.GIF_Version = "GIF87a";
  p.GIF_ImageIndex = 2;
  p.GIF_XPos = 21;
  p.GIF_YPos = 22;
  p.GIF_DelayTime = 40;
  p.GIF_FlagTranspColor = true;
  p.GIF_TranspColor = TRGB{1, 2, 3};
  p.GIF_Interlaced = true;
  p.GIF_WinWidth = 640;
  p.GIF_WinHeight = 480;
  p.GIF_Background = TRGB{4, 5, 6};
  p.GIF_Ratio = 49;
  p.JPEG_ColorSpace = ioJPEG_CMYK;
  p.JPEG_Quality = 93;
  p.JPEG_DCTMethod = ioJPEG_FLOAT;
  p.JPEG_OptimalHuffman = true;
  p.JPEG_Smooth = 17;
  p.JPEG_Progressive = true;
  p.JPEG_Scale = ioJPEG_QUARTER;
  p.PCX_Version = 3;
  p.PCX_Compression = ioPCX_UNCOMPRESSED;
  p.BMP_Version = ioBMP_BMOS2V2;
  p.BMP_Compression = ioBMP_RLE;
  p.ICO_ImageIndex = 5;
  p.CUR_ImageIndex = 6;
  p.CUR_XHotSpot = 8;
  p.CUR_YHotSpot = 10;
  p.PNG_Interlaced = true;
  p.PNG_Background = TRGB{7, 8, 9};
  p.PNG_Filter = ioPNG_FILTER_PAETH;
  p.PNG_Compression = 9;
}

bool SamePalette(const TIOParamsVals& a, const TIOParamsVals& b) {
  if (a.ColorMapCount != b.ColorMapCount || (a.ColorMap == nullptr) != (b.ColorMap == nullptr)) return false;
  return a.ColorMapCount == 0 || std::memcmp(a.ColorMap, b.ColorMap, size_t(a.ColorMapCount) * 3) == 0;
}

// Every persisted field, compared one by one so a failure names the field.
void ExpectSamePersisted(const TIOParamsVals& a, const TIOParamsVals& b) {
#define KV_SAME(f) EXPECT_EQ(a.f, b.f) << #f
  KV_SAME(FileName);
  KV_SAME(FileType);
  KV_SAME(BitsPerSample);
  KV_SAME(SamplesPerPixel);
  KV_SAME(Width);
  KV_SAME(Height);
  KV_SAME(DpiX);
  KV_SAME(DpiY);
  KV_SAME(TIFF_Compression);
  KV_SAME(TIFF_ImageIndex);
  KV_SAME(TIFF_PhotometInterpret);
  KV_SAME(TIFF_PlanarConf);
  KV_SAME(TIFF_XPos);
  KV_SAME(TIFF_YPos);
  KV_SAME(TIFF_DocumentName);
  KV_SAME(TIFF_ImageDescription);
  KV_SAME(TIFF_PageName);
  KV_SAME(TIFF_PageNumber);
  KV_SAME(TIFF_PageCount);
  KV_SAME(GIF_Version);
  KV_SAME(GIF_ImageIndex);
  KV_SAME(GIF_XPos);
  KV_SAME(GIF_YPos);
  KV_SAME(GIF_DelayTime);
  KV_SAME(GIF_FlagTranspColor);
  KV_SAME(GIF_TranspColor);
  KV_SAME(GIF_Interlaced);
  KV_SAME(GIF_WinWidth);
  KV_SAME(GIF_WinHeight);
  KV_SAME(GIF_Background);
  KV_SAME(GIF_Ratio);
  KV_SAME(JPEG_ColorSpace);
  KV_SAME(JPEG_Quality);
  KV_SAME(JPEG_DCTMethod);
  KV_SAME(JPEG_OptimalHuffman);
  KV_SAME(JPEG_Smooth);
  KV_SAME(JPEG_Progressive);
  KV_SAME(JPEG_Scale);
  KV_SAME(PCX_Version);
  KV_SAME(PCX_Compression);
  KV_SAME(BMP_Version);
  KV_SAME(BMP_Compression);
  KV_SAME(ICO_ImageIndex);
  KV_SAME(CUR_ImageIndex);
  KV_SAME(CUR_XHotSpot);
  KV_SAME(CUR_YHotSpot);
  KV_SAME(PNG_Interlaced);
  KV_SAME(PNG_Background);
  KV_SAME(PNG_Filter);
  KV_SAME(PNG_Compression);
#undef KV_SAME
  EXPECT_TRUE(SamePalette(a, b));
}

std::vector<uint8_t> Saved(const TIOParamsVals& p) {
  TMemoryStream s;
  p.SaveToStream(&s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.Size());
}

void LoadBytes(TIOParamsVals& p, const std::vector<uint8_t>& bytes) {
  TMemoryStream s;
  s.SetData(bytes.data(), bytes.size());
  p.LoadFromStream(&s);
}

void PutI32(std::vector<uint8_t>& v, size_t at, int32_t x) {
  for (int i = 0; i < 4; ++i) v[at + i] = uint8_t(uint32_t(x) >> (8 * i));
}

// The persisted form ends with 32 bytes after JPEG_Scale: PCX_Version (4),
// three enumerations (3), the icon and cursor words (16) and the PNG fields
// (9). Those offsets turn a version-1 stream into a version-0 one.
constexpr size_t kAfterJpegScale = 32;
constexpr size_t kIconWordsFromEnd = 9 + 16;

// Offset of the palette count in a stream whose FileName is name.
size_t PaletteCountOffset(const std::string& name) { return 4 + 4 + name.size() + 1 + 24; }

struct HookGuard {
  ~HookGuard() {
    DefGIF_LZWDECOMPFUNC = nullptr;
    DefGIF_LZWCOMPFUNC = nullptr;
    DefTIFF_LZWDECOMPFUNC = nullptr;
    DefTIFF_LZWCOMPFUNC = nullptr;
  }
};

}  // namespace

TEST(IOParamsDefaults, WithoutOwnerSizeAndResolutionAreZeroAndFormatsTakeTheirDefaults) {
  TIOParamsVals p;
  EXPECT_EQ(p.Width, 0);
  EXPECT_EQ(p.Height, 0);
  EXPECT_EQ(p.DpiX, 0);
  EXPECT_EQ(p.DpiY, 0);
  EXPECT_EQ(p.BitsPerSample, 8);
  EXPECT_EQ(p.SamplesPerPixel, 3);
  EXPECT_EQ(p.GIF_Version, "GIF89a");
  EXPECT_EQ(p.TIFF_PhotometInterpret, ioTIFF_RGB);
  EXPECT_EQ(p.TIFF_PlanarConf, 1);
  EXPECT_EQ(p.JPEG_ColorSpace, ioJPEG_YCbCr);
  EXPECT_EQ(p.JPEG_Quality, 50);
  EXPECT_EQ(p.JPEG_Scale, ioJPEG_FULLSIZE);
  EXPECT_EQ(p.PCX_Version, 5);
  EXPECT_EQ(p.PCX_Compression, ioPCX_RLE);
  EXPECT_EQ(p.BMP_Version, ioBMP_BM3);
  EXPECT_EQ(p.PNG_Compression, 5);
  EXPECT_EQ(p.ColorMap, nullptr);
  EXPECT_EQ(p.ColorMapCount, 0);
  EXPECT_EQ(p.GIF_LZWDecompFunc, nullptr);
  EXPECT_EQ(p.TIFF_LZWDecompFunc, nullptr);
}

TEST(IOParamsDefaults, OwnerSuppliesBitmapSizeAndViewResolution) {
  TBitmap bmp(640, 480);
  FakeOwner owner;
  owner.bitmap = &bmp;
  owner.has_view = true;
  owner.dpi = 96;
  TIOParamsVals p(&owner);
  EXPECT_EQ(p.Width, 640);
  EXPECT_EQ(p.Height, 480);
  EXPECT_EQ(p.DpiX, 96);
  EXPECT_EQ(p.DpiY, 96);

  // Without a view the resolution keeps its value; without a bitmap the size.
  owner.has_view = false;
  bmp.SetSize(10, 20);
  p.DpiX = 33;
  p.SetDefaultParams();
  EXPECT_EQ(p.Width, 10);
  EXPECT_EQ(p.Height, 20);
  EXPECT_EQ(p.DpiX, 33);
  owner.bitmap = nullptr;
  p.Width = 77;
  p.SetDefaultParams();
  EXPECT_EQ(p.Width, 77);
}

TEST(IOParamsDefaults, ResetFreesThePaletteAndTakesTheCurrentLibraryHooks) {
  HookGuard guard;
  TIOParamsVals p;
  FillDistinct(p);
  DefGIF_LZWDECOMPFUNC = GifDecA;
  DefGIF_LZWCOMPFUNC = GifCompA;
  DefTIFF_LZWDECOMPFUNC = TiffDecA;
  DefTIFF_LZWCOMPFUNC = TiffCompA;
  EXPECT_EQ(p.GIF_LZWDecompFunc, nullptr) << "a record takes the hooks only when reset";
  p.SetDefaultParams();
  EXPECT_EQ(p.ColorMap, nullptr);
  EXPECT_EQ(p.ColorMapCount, 0);
  EXPECT_EQ(p.FileName, "");
  EXPECT_EQ(p.FileType, ioUnknown);
  EXPECT_EQ(p.TIFF_DocumentName, "");
  EXPECT_EQ(p.GIF_LZWDecompFunc, GifDecA);
  EXPECT_EQ(p.GIF_LZWCompFunc, GifCompA);
  EXPECT_EQ(p.TIFF_LZWDecompFunc, TiffDecA);
  EXPECT_EQ(p.TIFF_LZWCompFunc, TiffCompA);
}

TEST(IOParamsAssign, CopiesEveryFieldAndAnIndependentPalette) {
  TBitmap bmp(5, 5);
  FakeOwner owner;
  owner.bitmap = &bmp;
  TIOParamsVals copy(&owner);
  {
    TIOParamsVals src;
    FillDistinct(src);
    TRGB* pal = src.AllocColorMap(256);
    for (int i = 0; i < 256; ++i) pal[i] = TRGB{uint8_t(i), uint8_t(255 - i), uint8_t(i ^ 0x55)};
    src.GIF_LZWDecompFunc = GifDecB;
    src.TIFF_LZWDecompFunc = TiffDecB;
    copy.Assign(&src);
    ExpectSamePersisted(copy, src);
    EXPECT_NE(copy.ColorMap, src.ColorMap);
    EXPECT_EQ(copy.GIF_LZWDecompFunc, GifDecB);
    EXPECT_EQ(copy.TIFF_LZWDecompFunc, TiffDecB);
    src.ColorMap[0] = TRGB{9, 9, 9};
  }  // the source and its palette are gone
  ASSERT_EQ(copy.ColorMapCount, 256);
  for (int i = 0; i < 256; ++i)
    ASSERT_EQ(copy.ColorMap[i], (TRGB{uint8_t(i), uint8_t(255 - i), uint8_t(i ^ 0x55)}));
  EXPECT_EQ(copy.Owner(), &owner) << "the owner is never copied";

  // A source without a palette frees the copy's.
  TIOParamsVals empty;
  copy.Assign(&empty);
  EXPECT_EQ(copy.ColorMap, nullptr);
  EXPECT_EQ(copy.ColorMapCount, 0);
}

TEST(IOParamsPersist, RoundTripKeepsEveryFieldAndLeavesTheReadersHooks) {
  TIOParamsVals src;
  FillDistinct(src);
  src.GIF_LZWDecompFunc = GifDecA;
  TIOParamsVals dst;
  dst.GIF_LZWDecompFunc = GifDecB;
  dst.TIFF_LZWDecompFunc = TiffDecB;
  dst.AllocColorMap(3);
  LoadBytes(dst, Saved(src));
  ExpectSamePersisted(dst, src);
  EXPECT_EQ(dst.GIF_LZWDecompFunc, GifDecB);
  EXPECT_EQ(dst.TIFF_LZWDecompFunc, TiffDecB);
}

TEST(IOParamsPersist, FileRoundTripAndMissingFile) {
  auto path = std::filesystem::temp_directory_path() / "korvane_ioparams_test.kvp";
  TIOParamsVals src;
  FillDistinct(src);
  src.SaveToFile(path.string());
  TIOParamsVals dst;
  dst.LoadFromFile(path.string());
  ExpectSamePersisted(dst, src);
  std::filesystem::remove(path);
  EXPECT_THROW(dst.LoadFromFile(path.string()), EFOpenError);
}

TEST(IOParamsPersist, VersionZeroHasNoScaleByteAndZeroesTheIconFields) {
  TIOParamsVals src;
  FillDistinct(src);
  std::vector<uint8_t> v = Saved(src);
  PutI32(v, 0, 0);
  // Unused words in place of the icon fields, and no JPEG_Scale byte.
  for (size_t i = 0; i < 16; ++i) v[v.size() - kIconWordsFromEnd + i] = 0xEE;
  v.erase(v.end() - kAfterJpegScale - 1);

  TIOParamsVals dst;
  dst.JPEG_Scale = ioJPEG_EIGHTH;
  dst.ICO_ImageIndex = dst.CUR_ImageIndex = dst.CUR_XHotSpot = dst.CUR_YHotSpot = 99;
  LoadBytes(dst, v);
  EXPECT_EQ(dst.JPEG_Scale, ioJPEG_EIGHTH) << "absent from version 0";
  EXPECT_EQ(dst.ICO_ImageIndex, 0);
  EXPECT_EQ(dst.CUR_ImageIndex, 0);
  EXPECT_EQ(dst.CUR_XHotSpot, 0);
  EXPECT_EQ(dst.CUR_YHotSpot, 0);
  // Everything after the shorter section still lines up.
  EXPECT_EQ(dst.PCX_Version, src.PCX_Version);
  EXPECT_EQ(dst.BMP_Compression, src.BMP_Compression);
  EXPECT_EQ(dst.PNG_Background, src.PNG_Background);
  EXPECT_EQ(dst.PNG_Compression, src.PNG_Compression);
  EXPECT_EQ(dst.GIF_Version, src.GIF_Version);
  EXPECT_TRUE(SamePalette(dst, src));
}

class IOParamsUnknownVersion : public ::testing::TestWithParam<int32_t> {};

TEST_P(IOParamsUnknownVersion, ChangesNothing) {
  TIOParamsVals src;
  FillDistinct(src);
  std::vector<uint8_t> v = Saved(src);
  PutI32(v, 0, GetParam());
  TIOParamsVals dst, before;
  dst.AllocColorMap(2)[1] = TRGB{1, 1, 1};
  before.Assign(&dst);
  LoadBytes(dst, v);
  ExpectSamePersisted(dst, before);
}

INSTANTIATE_TEST_SUITE_P(Versions, IOParamsUnknownVersion, ::testing::Values(2, 3, 255, -1, INT32_MIN));

// Every prefix of a stream: the fields it holds completely are read, the rest
// keep their values, and the palette is replaced only when all its entries
// are there.
TEST(IOParamsDamaged, EveryTruncationKeepsTheUnreadFields) {
  TIOParamsVals src;
  FillDistinct(src);
  const std::vector<uint8_t> full = Saved(src);
  const size_t count_at = PaletteCountOffset(src.FileName);
  const size_t palette_end = count_at + 4 + 16 * 3;
  const size_t width_end = 4 + 4 + src.FileName.size() + 1 + 12;
  for (size_t len = 0; len <= full.size(); ++len) {
    TIOParamsVals dst;
    dst.AllocColorMap(1)[0] = TRGB{42, 42, 42};
    LoadBytes(dst, std::vector<uint8_t>(full.begin(), full.begin() + len));
    SCOPED_TRACE(len);
    EXPECT_EQ(dst.Width, len >= width_end ? src.Width : 0);
    EXPECT_EQ(dst.FileName, len >= 8 + src.FileName.size() ? src.FileName : "");
    if (len >= palette_end) {
      EXPECT_TRUE(SamePalette(dst, src));
    } else {
      ASSERT_EQ(dst.ColorMapCount, 1);
      EXPECT_EQ(dst.ColorMap[0], (TRGB{42, 42, 42}));
    }
    EXPECT_EQ(dst.PNG_Compression, len == full.size() ? src.PNG_Compression : 5);
  }
}

struct HostileCount {
  const char* name;
  int32_t count;
};

class IOParamsHostilePalette : public ::testing::TestWithParam<HostileCount> {};

TEST_P(IOParamsHostilePalette, EndsTheLoadAndKeepsPaletteAndLaterFields) {
  TIOParamsVals src;
  FillDistinct(src);
  std::vector<uint8_t> v = Saved(src);
  PutI32(v, PaletteCountOffset(src.FileName), GetParam().count);
  TIOParamsVals dst;
  dst.AllocColorMap(2)[0] = TRGB{5, 6, 7};
  LoadBytes(dst, v);
  EXPECT_EQ(dst.Width, src.Width) << "fields before the palette are read";
  EXPECT_EQ(dst.FileName, src.FileName);
  ASSERT_EQ(dst.ColorMapCount, 2);
  EXPECT_EQ(dst.ColorMap[0], (TRGB{5, 6, 7}));
  EXPECT_EQ(dst.TIFF_Compression, ioTIFF_UNCOMPRESSED);
  EXPECT_EQ(dst.GIF_Version, "GIF89a");
  EXPECT_EQ(dst.PNG_Compression, 5);
}

INSTANTIATE_TEST_SUITE_P(Counts, IOParamsHostilePalette,
                         ::testing::Values(HostileCount{"hundred_million", 100000000},
                                           HostileCount{"just_over_cap", kIOMaxColorMapCount + 1},
                                           HostileCount{"largest", INT32_MAX}, HostileCount{"minus_one", -1},
                                           HostileCount{"most_negative", INT32_MIN},
                                           HostileCount{"past_the_data", 5000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IOParamsDamaged, LargestAllowedPaletteLoads) {
  TIOParamsVals src;
  TRGB* pal = src.AllocColorMap(kIOMaxColorMapCount);
  for (int i = 0; i < kIOMaxColorMapCount; ++i) pal[i] = TRGB{uint8_t(i), uint8_t(i >> 8), 1};
  src.PNG_Compression = 8;
  TIOParamsVals dst;
  LoadBytes(dst, Saved(src));
  EXPECT_TRUE(SamePalette(dst, src));
  EXPECT_EQ(dst.PNG_Compression, 8);
}

TEST(IOParamsDamaged, HugeStringLengthStopsWithoutAllocatingIt) {
  TIOParamsVals src;
  FillDistinct(src);
  std::vector<uint8_t> v = Saved(src);
  PutI32(v, 4, INT32_MAX);  // FileName's length
  TIOParamsVals dst;
  dst.FileName = "kept";
  LoadBytes(dst, v);
  EXPECT_EQ(dst.FileName, "kept");
  EXPECT_EQ(dst.Width, 0);

  // A negative length reads as an empty text and the load goes on.
  v = Saved(src);
  PutI32(v, 4, -7);
  v.erase(v.begin() + 8, v.begin() + 8 + long(src.FileName.size()));
  LoadBytes(dst, v);
  EXPECT_EQ(dst.FileName, "");
  EXPECT_EQ(dst.PNG_Compression, src.PNG_Compression);
}

TEST(IOParamsDamaged, UnnamedEnumerationValuesAreKeptAndDescribedSafely) {
  TIOParamsVals src;
  src.FileType = ioBMP;
  std::vector<uint8_t> v = Saved(src);
  const size_t tiff_comp = PaletteCountOffset(src.FileName) + 4;
  v[8] = 200;         // FileType (empty FileName)
  v[tiff_comp] = 77;  // TIFF_Compression
  TIOParamsVals dst;
  LoadBytes(dst, v);
  EXPECT_EQ(int(dst.FileType), 200);
  EXPECT_EQ(int(dst.TIFF_Compression), 77);
  EXPECT_EQ(dst.GetFileTypeStr(), "");
  dst.FileType = ioTIFF;
  EXPECT_EQ(dst.GetFileTypeStr(), "TIFF Bitmap (TIF)");
}

struct TypeStrCase {
  TIOFileType type;
  void (*setup)(TIOParamsVals&);
  const char* expected;
};

class IOParamsFileTypeStr : public ::testing::TestWithParam<TypeStrCase> {};

TEST_P(IOParamsFileTypeStr, NameAndSuffix) {
  TIOParamsVals p;
  p.FileType = GetParam().type;
  if (GetParam().setup) GetParam().setup(p);
  EXPECT_EQ(p.GetFileTypeStr(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, IOParamsFileTypeStr,
    ::testing::Values(
        TypeStrCase{ioUnknown, nullptr, ""}, TypeStrCase{ioTIFF, nullptr, "TIFF Bitmap (TIF) Uncompressed"},
        TypeStrCase{ioTIFF, [](TIOParamsVals& p) { p.TIFF_Compression = ioTIFF_G3FAX2D; },
                    "TIFF Bitmap (TIF) Group 3 Fax 2D"},
        TypeStrCase{ioTIFF, [](TIOParamsVals& p) { p.TIFF_Compression = ioTIFF_OLDJPEG; },
                    "TIFF Bitmap (TIF) Jpeg v.5"},
        TypeStrCase{ioTIFF, [](TIOParamsVals& p) { p.TIFF_Compression = ioTIFF_PACKBITS; },
                    "TIFF Bitmap (TIF) PackBits RLE"},
        TypeStrCase{ioGIF, nullptr, "CompuServe Bitmap (GIF)"},
        TypeStrCase{ioGIF, [](TIOParamsVals& p) { p.GIF_Interlaced = true; },
                    "CompuServe Bitmap (GIF) Interlaced"},
        TypeStrCase{ioJPEG, [](TIOParamsVals& p) { p.JPEG_ColorSpace = ioJPEG_RGB; }, "JPEG Bitmap (JPG)"},
        TypeStrCase{ioJPEG, nullptr, "JPEG Bitmap (JPG) YCbCr"},
        TypeStrCase{ioJPEG, [](TIOParamsVals& p) { p.JPEG_ColorSpace = ioJPEG_GRAYLEV; },
                    "JPEG Bitmap (JPG) Gray level"},
        TypeStrCase{ioPCX, nullptr, "PaintBrush (PCX)"},
        TypeStrCase{ioPCX, [](TIOParamsVals& p) { p.PCX_Compression = ioPCX_UNCOMPRESSED; },
                    "PaintBrush (PCX) Uncompressed"},
        TypeStrCase{ioBMP, [](TIOParamsVals& p) { p.BMP_Version = ioBMP_BM; }, "Windows Bitmap (BMP) ver.1"},
        TypeStrCase{ioBMP, [](TIOParamsVals& p) { p.BMP_Version = ioBMP_BMOS2V1; },
                    "Windows Bitmap (BMP) OS/2 v.1"},
        TypeStrCase{ioICO, nullptr, "Windows Icon (ICO)"},
        TypeStrCase{ioCUR, nullptr, "Windows Cursor (CUR)"},
        TypeStrCase{ioPNG, [](TIOParamsVals& p) { p.PNG_Interlaced = true; },
                    "Portable Network Graphics (PNG) Interlaced"},
        TypeStrCase{ioWMF, nullptr, "Windows Metafile (WMF)"},
        TypeStrCase{ioEMF, nullptr, "Enhanced Windows Metafile (EMF)"}));

// Field access by name: every field reads back what was set in text, and bad
// names or values change nothing.
TEST(IOParamsFields, TextRoundTripAndRejects) {
  TIOParamsVals p;
  p.SetDefaultParams();
  for (const std::string& name : TIOParamsVals::FieldNames()) {
    std::string v;
    ASSERT_TRUE(p.GetField(name, v)) << name;
    if (name != "ColorMapCount") {
      EXPECT_TRUE(p.SetField(name, v)) << name << " = " << v;
    }
  }
  EXPECT_TRUE(p.SetField("TIFF_Compression", "ioTIFF_G4FAX"));
  EXPECT_EQ(p.TIFF_Compression, ioTIFF_G4FAX);
  EXPECT_TRUE(p.SetField("JPEG_Scale", "2"));
  EXPECT_EQ(p.JPEG_Scale, ioJPEG_HALF);
  EXPECT_TRUE(p.SetField("PNG_Background", "10,20,30"));
  EXPECT_EQ(p.PNG_Background, (TRGB{30, 20, 10}));
  EXPECT_TRUE(p.SetField("JPEG_Quality", "-5"));
  EXPECT_EQ(p.JPEG_Quality, -5);

  EXPECT_FALSE(p.SetField("JPEG_Quality", "9x"));
  EXPECT_FALSE(p.SetField("JPEG_Quality", "99999999999"));
  EXPECT_FALSE(p.SetField("TIFF_Compression", "9"));
  EXPECT_FALSE(p.SetField("PNG_Background", "1,2"));
  EXPECT_FALSE(p.SetField("PNG_Background", "1,2,256"));
  EXPECT_FALSE(p.SetField("GIF_Interlaced", "yes"));
  EXPECT_FALSE(p.SetField("NoSuchField", "1"));
  EXPECT_EQ(p.JPEG_Quality, -5);
  EXPECT_EQ(p.PNG_Background, (TRGB{30, 20, 10}));

  p.TIFF_Compression = TIOTIFFCompression(200);  // as a damaged stream may leave it
  std::string v;
  ASSERT_TRUE(p.GetField("TIFF_Compression", v));
  EXPECT_EQ(v, "200");
}
