// korvane info: what a file holds, from its parameters alone (nothing is
// decoded but what the format needs to count its frames or pages).
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <fstream>

#include "apps/korvane/tool.h"
#include "korvane/io/codecs/jpeg/jpeg_codec.h"
#include "korvane/io/metafile/metafile.h"
#include "korvane/view/kvview.h"

namespace korvane::cli {
namespace {

// The prefix of the parameter fields that belong to a format.
const char* FieldPrefix(TIOFileType t) {
  switch (t) {
    case ioTIFF:
      return "TIFF_";
    case ioGIF:
      return "GIF_";
    case ioJPEG:
      return "JPEG_";
    case ioPCX:
      return "PCX_";
    case ioBMP:
      return "BMP_";
    case ioICO:
      return "ICO_";
    case ioCUR:
      return "CUR_";
    case ioPNG:
      return "PNG_";
    default:
      return nullptr;
  }
}

// Images in an icon or cursor directory: the count word of its 6-byte
// header; -1 when the header cannot be read.
int IconDirectoryCount(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  unsigned char h[6];
  if (!f.read(reinterpret_cast<char*>(h), 6)) return -1;
  return h[4] | (h[5] << 8);
}

// The quality estimated from a JPEG file's tables; 0 when unknown.
int DefaultJpegQualityEstimate(const std::string& name) {
  try {
    TFileStream f(name, fmOpenRead);
    return JPegEstimateQuality(&f);
  } catch (const std::exception&) {
    return 0;
  }
}

// Content detection does not know metafiles: they are read here by their
// extension, giving the parameters their import would give. False when that
// fails too.
bool ParamsByExtension(const std::string& name, TIOParamsVals& p) {
  const size_t dot = name.rfind('.');
  std::string ext = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char& ch : ext) ch = char(std::tolower(static_cast<unsigned char>(ch)));
  try {
    if (ext == "wmf" || ext == "emf") {
      TMetafile mf;
      mf.LoadFromFile(name);
      p.FileType = mf.Enhanced() ? ioEMF : ioWMF;
      // Imported one pixel smaller than the picture each way.
      p.Width = mf.Width() - 1;
      p.Height = mf.Height() - 1;
      p.BitsPerSample = 8;
      p.SamplesPerPixel = 3;
      p.DpiX = gSystemDPIX;
      p.DpiY = gSystemDPIY;
      p.FreeColorMap();
    } else {
      return false;
    }
  } catch (const std::exception&) {
    return false;
  }
  p.FileName = name;
  return true;
}

void Describe(const std::string& name, int index) {
  if (access(name.c_str(), R_OK) != 0) throw std::runtime_error(name + ": cannot open the file");
  TBitmap bmp;
  TKorvaneIO io;
  io.SetAttachedBitmap(&bmp);
  TIOParamsVals* p = io.Params();
  if (index >= 0) p->TIFF_ImageIndex = p->GIF_ImageIndex = p->ICO_ImageIndex = p->CUR_ImageIndex = index;
  io.ParamsFromFile(name);
  if (p->FileType == ioUnknown && !ParamsByExtension(name, *p))
    throw std::runtime_error(name + ": unrecognized or damaged image file");

  std::printf("Type: %s\n", p->GetFileTypeStr().c_str());
  std::printf("Size: %d x %d\n", p->Width, p->Height);
  std::printf("BitsPerSample: %d\n", p->BitsPerSample);
  std::printf("SamplesPerPixel: %d\n", p->SamplesPerPixel);
  std::printf("DPI: %d x %d\n", p->DpiX, p->DpiY);
  switch (p->FileType) {
    case ioGIF:
      std::printf("Frames: %d\n", EnumGifIm(name));
      break;
    case ioTIFF:
      std::printf("Pages: %d\n", EnumTIFFIm(name));
      break;
    case ioICO:
    case ioCUR:
      if (int n = IconDirectoryCount(name); n >= 0) std::printf("Images: %d\n", n);
      break;
    case ioJPEG:
      // The quality setting is not stored in the file; its tables tell it.
      if (const int q = DefaultJpegQualityEstimate(name); q > 0) std::printf("Estimated quality: %d\n", q);
      break;
    default:
      break;
  }
  // How the stored picture is turned (1: upright); only JPEG and TIFF say.
  if (p->FileType == ioJPEG || p->FileType == ioTIFF) std::printf("Orientation: %d\n", p->Orientation);
  // The common fields not shown above, then the format's own.
  const char* prefix = FieldPrefix(p->FileType);
  for (const std::string& field : TIOParamsVals::FieldNames()) {
    // JPEG_Quality is a save setting the file does not hold (see the
    // estimate above).
    const bool shown =
        (field == "FileType" || field == "ColorMapCount" || (prefix && field.rfind(prefix, 0) == 0)) &&
        !(p->FileType == ioJPEG && field == "JPEG_Quality");
    std::string value;
    if (shown && p->GetField(field, value)) std::printf("%s: %s\n", field.c_str(), value.c_str());
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& args) {
  std::vector<std::string> files;
  int index = -1;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(InfoUsage().c_str(), stdout);
      return 0;
    }
    if (a == "--fields") {
      for (const std::string& f : TIOParamsVals::FieldNames()) std::printf("%s\n", f.c_str());
      return 0;
    }
    if (a == "--index") {
      index = ParseInt(OptionArg(args, i), "--index", 0, 1 << 20);
    } else if (a.size() > 1 && a[0] == '-') {
      throw UsageError("info: unknown option " + a);
    } else {
      files.push_back(a);
    }
  }
  if (files.empty()) throw UsageError("info needs at least one file");

  // Every file is described; the status tells whether any failed.
  int status = 0;
  for (size_t k = 0; k < files.size(); ++k) {
    if (files.size() > 1) std::printf("%sFile: %s\n", k ? "\n" : "", files[k].c_str());
    std::fflush(stdout);
    try {
      if (!DescribeAVI(files[k], index)) Describe(files[k], index);
    } catch (const std::exception& e) {
      std::fflush(stdout);
      std::fprintf(stderr, "korvane: %s\n", e.what());
      status = kExitFailure;
    }
  }
  return status;
}

}  // namespace korvane::cli
