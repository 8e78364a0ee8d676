// Access to the parameters record by field name, for tools and tests that
// name fields in text (the command-line tool's --set, reference manifests).
#include <charconv>
#include <functional>
#include <string_view>

#include "korvane/io/ioparams.h"

namespace korvane {
namespace {

bool ParseInt(std::string_view s, int32_t& out) {
  if (s.empty()) return false;
  auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool ParseBool(std::string_view s, bool& out) {
  if (s == "true" || s == "1") return out = true, true;
  if (s == "false" || s == "0") return out = false, true;
  return false;
}

std::string ColorText(const TRGB& c) {
  return std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b);
}

bool ParseColor(std::string_view s, TRGB& out) {
  int32_t v[3];
  for (int i = 0; i < 3; ++i) {
    size_t comma = i < 2 ? s.find(',') : s.size();
    if (comma == std::string_view::npos) return false;
    if (!ParseInt(s.substr(0, comma), v[i]) || v[i] < 0 || v[i] > 255) return false;
    s.remove_prefix(i < 2 ? comma + 1 : comma);
  }
  out = TRGB{uint8_t(v[2]), uint8_t(v[1]), uint8_t(v[0])};
  return true;
}

// Enumerator names of each enumeration, in ordinal order.
using Names = std::vector<std::string_view>;
const Names kFileType = {"ioUnknown", "ioTIFF", "ioGIF", "ioJPEG", "ioPCX", "ioBMP",
                         "ioICO",     "ioCUR",  "ioPNG", "ioWMF",  "ioEMF"};
const Names kTIFFCompression = {"ioTIFF_UNCOMPRESSED", "ioTIFF_CCITT1D", "ioTIFF_G3FAX1D",
                                "ioTIFF_G3FAX2D",      "ioTIFF_G4FAX",   "ioTIFF_LZW",
                                "ioTIFF_OLDJPEG",      "ioTIFF_JPEG",    "ioTIFF_PACKBITS"};
const Names kTIFFPhotomet = {"ioTIFF_WHITEISZERO", "ioTIFF_BLACKISZERO", "ioTIFF_RGB",   "ioTIFF_RGBPALETTE",
                             "ioTIFF_TRANSPMASK",  "ioTIFF_CMYK",        "ioTIFF_YCBCR", "ioTIFF_CIELAB"};
const Names kJPEGColorspace = {"ioJPEG_RGB", "ioJPEG_GRAYLEV", "ioJPEG_YCbCr", "ioJPEG_CMYK", "ioJPEG_YCbCrK"};
const Names kJPEGDct = {"ioJPEG_ISLOW", "ioJPEG_IFAST", "ioJPEG_FLOAT"};
const Names kJPEGScale = {"ioJPEG_AUTOCALC", "ioJPEG_FULLSIZE", "ioJPEG_HALF", "ioJPEG_QUARTER", "ioJPEG_EIGHTH"};
const Names kBMPVersion = {"ioBMP_BM", "ioBMP_BM3", "ioBMP_BMOS2V1", "ioBMP_BMOS2V2"};
const Names kBMPCompression = {"ioBMP_UNCOMPRESSED", "ioBMP_RLE"};
const Names kPCXCompression = {"ioPCX_UNCOMPRESSED", "ioPCX_RLE"};
const Names kPNGFilter = {"ioPNG_FILTER_NONE", "ioPNG_FILTER_SUB", "ioPNG_FILTER_PAETH"};

struct Field {
  std::string_view name;
  std::function<std::string(const TIOParamsVals&)> get;
  std::function<bool(TIOParamsVals&, std::string_view)> set;
};

Field IntField(std::string_view name, int32_t TIOParamsVals::*m) {
  return {name, [m](const TIOParamsVals& p) { return std::to_string(p.*m); },
          [m](TIOParamsVals& p, std::string_view s) {
            int32_t v;
            return ParseInt(s, v) ? (p.*m = v, true) : false;
          }};
}

Field BoolField(std::string_view name, bool TIOParamsVals::*m) {
  return {name, [m](const TIOParamsVals& p) { return std::string(p.*m ? "true" : "false"); },
          [m](TIOParamsVals& p, std::string_view s) {
            bool v;
            return ParseBool(s, v) ? (p.*m = v, true) : false;
          }};
}

Field StringField(std::string_view name, std::string TIOParamsVals::*m) {
  return {name, [m](const TIOParamsVals& p) { return p.*m; },
          [m](TIOParamsVals& p, std::string_view s) { return p.*m = std::string(s), true; }};
}

Field ColorField(std::string_view name, TRGB TIOParamsVals::*m) {
  return {name, [m](const TIOParamsVals& p) { return ColorText(p.*m); },
          [m](TIOParamsVals& p, std::string_view s) { return ParseColor(s, p.*m); }};
}

// Enumerations are stored in one byte; a value read from a stream may name no
// enumerator and then reads back as its ordinal.
template <typename E>
Field EnumField(std::string_view name, E TIOParamsVals::*m, const Names& names) {
  return {name,
          [m, &names](const TIOParamsVals& p) {
            size_t v = size_t(p.*m);
            return v < names.size() ? std::string(names[v]) : std::to_string(v);
          },
          [m, &names](TIOParamsVals& p, std::string_view s) {
            for (size_t i = 0; i < names.size(); ++i)
              if (names[i] == s) return p.*m = E(i), true;
            int32_t v;
            if (!ParseInt(s, v) || v < 0 || size_t(v) >= names.size()) return false;
            return p.*m = E(v), true;
          }};
}

const std::vector<Field>& Fields() {
  using P = TIOParamsVals;
  static const std::vector<Field> fields = {
      IntField("BitsPerSample", &P::BitsPerSample),
      IntField("SamplesPerPixel", &P::SamplesPerPixel),
      IntField("Width", &P::Width),
      IntField("Height", &P::Height),
      IntField("DpiX", &P::DpiX),
      IntField("DpiY", &P::DpiY),
      EnumField("FileType", &P::FileType, kFileType),
      IntField("Orientation", &P::Orientation),
      StringField("FileName", &P::FileName),
      {"ColorMapCount", [](const P& p) { return std::to_string(p.ColorMapCount); },
       [](P&, std::string_view) { return false; }},  // follows the palette
      EnumField("TIFF_Compression", &P::TIFF_Compression, kTIFFCompression),
      IntField("TIFF_ImageIndex", &P::TIFF_ImageIndex),
      EnumField("TIFF_PhotometInterpret", &P::TIFF_PhotometInterpret, kTIFFPhotomet),
      IntField("TIFF_PlanarConf", &P::TIFF_PlanarConf),
      IntField("TIFF_XPos", &P::TIFF_XPos),
      IntField("TIFF_YPos", &P::TIFF_YPos),
      StringField("TIFF_DocumentName", &P::TIFF_DocumentName),
      StringField("TIFF_ImageDescription", &P::TIFF_ImageDescription),
      StringField("TIFF_PageName", &P::TIFF_PageName),
      IntField("TIFF_PageNumber", &P::TIFF_PageNumber),
      IntField("TIFF_PageCount", &P::TIFF_PageCount),
      StringField("GIF_Version", &P::GIF_Version),
      IntField("GIF_ImageIndex", &P::GIF_ImageIndex),
      IntField("GIF_XPos", &P::GIF_XPos),
      IntField("GIF_YPos", &P::GIF_YPos),
      IntField("GIF_DelayTime", &P::GIF_DelayTime),
      BoolField("GIF_FlagTranspColor", &P::GIF_FlagTranspColor),
      ColorField("GIF_TranspColor", &P::GIF_TranspColor),
      BoolField("GIF_Interlaced", &P::GIF_Interlaced),
      IntField("GIF_WinWidth", &P::GIF_WinWidth),
      IntField("GIF_WinHeight", &P::GIF_WinHeight),
      ColorField("GIF_Background", &P::GIF_Background),
      IntField("GIF_Ratio", &P::GIF_Ratio),
      IntField("GIF_Disposal", &P::GIF_Disposal),
      IntField("GIF_LoopCount", &P::GIF_LoopCount),
      EnumField("JPEG_ColorSpace", &P::JPEG_ColorSpace, kJPEGColorspace),
      IntField("JPEG_Quality", &P::JPEG_Quality),
      EnumField("JPEG_DCTMethod", &P::JPEG_DCTMethod, kJPEGDct),
      BoolField("JPEG_OptimalHuffman", &P::JPEG_OptimalHuffman),
      IntField("JPEG_Smooth", &P::JPEG_Smooth),
      BoolField("JPEG_Progressive", &P::JPEG_Progressive),
      EnumField("JPEG_Scale", &P::JPEG_Scale, kJPEGScale),
      IntField("PCX_Version", &P::PCX_Version),
      EnumField("PCX_Compression", &P::PCX_Compression, kPCXCompression),
      EnumField("BMP_Version", &P::BMP_Version, kBMPVersion),
      EnumField("BMP_Compression", &P::BMP_Compression, kBMPCompression),
      IntField("ICO_ImageIndex", &P::ICO_ImageIndex),
      IntField("CUR_ImageIndex", &P::CUR_ImageIndex),
      IntField("CUR_XHotSpot", &P::CUR_XHotSpot),
      IntField("CUR_YHotSpot", &P::CUR_YHotSpot),
      BoolField("PNG_Interlaced", &P::PNG_Interlaced),
      ColorField("PNG_Background", &P::PNG_Background),
      EnumField("PNG_Filter", &P::PNG_Filter, kPNGFilter),
      IntField("PNG_Compression", &P::PNG_Compression),
  };
  return fields;
}

const Field* FindField(std::string_view name) {
  for (const Field& f : Fields())
    if (f.name == name) return &f;
  return nullptr;
}

}  // namespace

const std::vector<std::string>& TIOParamsVals::FieldNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> n;
    for (const Field& f : Fields()) n.emplace_back(f.name);
    return n;
  }();
  return names;
}

bool TIOParamsVals::GetField(const std::string& name, std::string& value) const {
  const Field* f = FindField(name);
  if (!f) return false;
  value = f->get(*this);
  return true;
}

bool TIOParamsVals::SetField(const std::string& name, const std::string& value) {
  const Field* f = FindField(name);
  return f && f->set(*this, value);
}

}  // namespace korvane
