#include "korvane/io/kvio.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <utility>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/safe_save.h"
#include "korvane/foundations/kvutils.h"
#include "korvane/io/codecs/bmp/bmp_codec.h"
#include "korvane/io/codecs/gif/gif_codec.h"
#include "korvane/io/codecs/gif/gif_lzw.h"
#include "korvane/io/codecs/jpeg/jpeg_codec.h"
#include "korvane/io/codecs/pcx/pcx_codec.h"
#include "korvane/io/codecs/png/png_codec.h"
#include "korvane/io/codecs/tiff/tiff_codec.h"
#include "korvane/io/codecs/tiff/tiff_lzw.h"
#include "korvane/io/codecs/unsupported.h"
#include "korvane/io/file_ext.h"
#include "korvane/io/metafile/metafile.h"
#include "korvane/pixels/transforms.h"
#include "korvane/view/kvview.h"

namespace korvane {

namespace {

// How a load reports a codec's failure.
enum class Wrap {
  Any,           // any exception becomes the message
  Invalid,       // only EInvalidGraphic becomes the message
  AppendAny,     // any exception: its text, " : ", the message
  AppendInvalid  // only EInvalidGraphic: its text, " : ", the message
};

template <typename F>
auto Guarded(Wrap wrap, const char* msg, F&& f) -> decltype(f()) {
  try {
    return f();
  } catch (const EUnsupportedImage& e) {
    // Data the reader understands but has no decoder for: the reason stays.
    throw EInvalidGraphic(std::string(e.what()) + " : " + msg);
  } catch (const EInvalidGraphic& e) {
    if (wrap == Wrap::AppendAny || wrap == Wrap::AppendInvalid)
      throw EInvalidGraphic(std::string(e.what()) + " : " + msg);
    throw EInvalidGraphic(msg);
  } catch (const std::exception& e) {
    if (wrap == Wrap::Invalid || wrap == Wrap::AppendInvalid) throw;
    if (wrap == Wrap::AppendAny) throw EInvalidGraphic(std::string(e.what()) + " : " + msg);
    throw EInvalidGraphic(msg);
  }
}

// Up to n bytes from the start of buf, stopping at the first zero byte.
std::string TextAt(const uint8_t* buf, size_t avail, size_t at, size_t n) {
  std::string s;
  for (size_t i = at; i < at + n && i < avail && buf[i] != 0; ++i) s += char(buf[i]);
  return s;
}

// The stream header: signature, four zero bytes, little-endian data length.
void WriteStreamHeader(TStream* s, const char* sig, uint32_t length) {
  uint8_t h[kIOStreamHeaderSize] = {};
  std::memcpy(h, sig, 4);
  for (int i = 0; i < 4; ++i) h[8 + i] = uint8_t(length >> (8 * i));
  s->WriteBuffer(h, kIOStreamHeaderSize);
}
uint32_t HeaderLength(const uint8_t* h) {
  return uint32_t(h[8]) | uint32_t(h[9]) << 8 | uint32_t(h[10]) << 16 | uint32_t(h[11]) << 24;
}

// File saves go through the library's one safe path: the new file is
// written beside the old one and put in place only when the writer finished
// without an error and the save was not aborted.
template <typename W>
void SaveFile(const std::string& name, const bool* aborting, W&& write) {
  KVSafeSave(name, std::forward<W>(write), aborting);
}

}  // namespace

TKorvaneIO::TKorvaneIO(TComponent* AOwner) : TComponent(AOwner) { InitScreenGlobals(); }

TKorvaneIO::~TKorvaneIO() { BeginDestroy(); }

// --- Attachment

void TKorvaneIO::SetAttachedKorvane(TKVView* v) {
  // Without a view there is no target at all.
  if (v)
    target_.AttachView(v);
  else
    target_.Clear();
}

void TKorvaneIO::SetTImage(TImage* c) { target_.AttachImage(c); }

void TKorvaneIO::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove) target_.Removed(AComponent);
}

bool TKorvaneIO::IOParamsViewDPI(int32_t& DpiX, int32_t& DpiY) {
  TKVView* v = target_.View();
  if (!v) return false;
  DpiX = v->GetDPIX();
  DpiY = v->GetDPIY();
  return true;
}

void TKorvaneIO::Update() { target_.Refresh(); }

void TKorvaneIO::Clear() {
  TBitmap* b = GetBitmap();
  if (!b || b->Empty()) return;
  TCanvas* c = b->Canvas();
  c->Brush()->SetStyle(bsSolid);
  c->Brush()->SetColor(GetBackground());
  c->FillRect(Rect(0, 0, b->Width(), b->Height()));
  c->EndPaint();
}

TColor TKorvaneIO::GetBackground() const {
  return target_.View() ? target_.View()->GetBackground() : background_;
}

void TKorvaneIO::SetBackground(TColor c) {
  if (TKVView* v = target_.View())
    v->SetBackGround(c);
  else
    background_ = c;
}

void TKorvaneIO::AssignParams(TObject* Source) {
  if (auto* io = dynamic_cast<TKorvaneIO*>(Source))
    params_.Assign(&io->params_);
  else if (auto* p = dynamic_cast<TIOParamsVals*>(Source))
    params_.Assign(p);
}

void TKorvaneIO::SetPreviewFont(const TFont* f) {
  if (f) preview_font_.Assign(*f);
}

// --- Operation frame

TProgressRec TKorvaneIO::MakeProgress() {
  TProgressRec p;
  p.OnProgress = OnProgress;
  p.Sender = this;
  p.Aborting = &Aborting;
  return p;
}

TBitmap* TKorvaneIO::Begin() {
  Aborting = false;
  return GetBitmap();
}

void TKorvaneIO::Loaded(TIOFileType type, const std::string& name, bool dpiToView) {
  params_.FileType = type;
  params_.FileName = name;
  // Only JPEG and TIFF readers know an orientation.
  if (type != ioJPEG && type != ioTIFF)
    params_.Orientation = 1;
  else if (AutoOrient && !Aborting)
    _Orient(GetBitmap(), params_.Orientation);
  if (TKVView* v = target_.View(); v && dpiToView) v->SetDPI(params_.DpiX, params_.DpiY);
  Update();
}

void TKorvaneIO::ApplyGifBackground() {
  SetBackground(TRGB2TColor(params_.GIF_FlagTranspColor ? params_.GIF_TranspColor : params_.GIF_Background));
}

TBitmap* TKorvaneIO::BeginSave() {
  TBitmap* b = Begin();
  if (b && b->PixelFormat() != pf24bit && b->PixelFormat() != pf1bit) b->SetPixelFormat(pf24bit);
  return b;
}

// --- BMP, ICO, CUR

void TKorvaneIO::LoadFromFileBMP(const std::string& name) {
  TBitmap* b = Begin();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  Guarded(Wrap::Any, "unrecognized BMP", [&] {
    TFileStream f(name, fmOpenRead);
    BMPReadStream(&f, b, 0, params_, pr, false);
  });
  Loaded(ioBMP, name, true);
}

void TKorvaneIO::LoadFromStreamBMP(TStream* stream) {
  TBitmap* b = Begin();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  Guarded(Wrap::Invalid, "unrecognized BMP stream", [&] { BMPReadStream(stream, b, 0, params_, pr, false); });
  Loaded(ioBMP, "", false);
}

void TKorvaneIO::LoadFromFileICO(const std::string& name) {
  TBitmap* b = Begin();
  if (!b) return;
  Guarded(Wrap::Any, "unrecognized ICO", [&] {
    TFileStream f(name, fmOpenRead);
    ICOReadStream(&f, b, params_, false);
  });
  Loaded(ioICO, name, true);
}

void TKorvaneIO::LoadFromStreamICO(TStream* stream) {
  TBitmap* b = Begin();
  if (!b) return;
  Guarded(Wrap::Invalid, "unrecognized ICO stream", [&] { ICOReadStream(stream, b, params_, false); });
  Loaded(ioICO, "", false);
}

void TKorvaneIO::LoadFromFileCUR(const std::string& name) {
  TBitmap* b = Begin();
  if (!b) return;
  Guarded(Wrap::Any, "unrecognized CUR", [&] {
    TFileStream f(name, fmOpenRead);
    CURReadStream(&f, b, params_, false);
  });
  Loaded(ioCUR, name, true);
}

void TKorvaneIO::LoadFromStreamCUR(TStream* stream) {
  TBitmap* b = Begin();
  if (!b) return;
  Guarded(Wrap::Invalid, "unrecognized CUR stream", [&] { CURReadStream(stream, b, params_, false); });
  Loaded(ioCUR, "", false);
}

// --- GIF

int32_t TKorvaneIO::LoadFromFileGif(const std::string& name) {
  TBitmap* b = Begin();
  if (!b) return 0;
  TProgressRec pr = MakeProgress();
  int32_t count = 0;
  Guarded(Wrap::AppendAny, "unrecognized GIF", [&] { ReadGif(name, b, count, params_, pr); });
  ApplyGifBackground();
  Loaded(ioGIF, name, true);
  return count;
}

int32_t TKorvaneIO::LoadFromStreamGif(TStream* stream) {
  TBitmap* b = Begin();
  if (!b) return 0;
  TProgressRec pr = MakeProgress();
  int32_t count = 0;
  Guarded(Wrap::AppendInvalid, "unrecognized GIF stream",
          [&] { ReadGifStream(stream, b, count, params_, pr, false); });
  ApplyGifBackground();
  Loaded(ioGIF, "", false);
  return count;
}

// --- JPEG

void TKorvaneIO::LoadFromFileJpeg(const std::string& name) {
  TBitmap* b = Begin();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  TFileStream f(name, fmOpenRead);
  Guarded(Wrap::Invalid, "unrecognized JPEG", [&] { ReadJPegStream(&f, b, params_, false, pr); });
  Loaded(ioJPEG, name, true);
}

void TKorvaneIO::LoadFromStreamJpeg(TStream* stream) {
  TBitmap* b = Begin();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  Guarded(Wrap::Any, "unrecognized JPEG stream", [&] {
    const int64_t start = stream->Position();
    uint8_t h[kIOStreamHeaderSize];
    const bool headed =
        stream->Read(h, kIOStreamHeaderSize) == kIOStreamHeaderSize && std::memcmp(h, "JFIF", 4) == 0;
    if (!headed) {
      stream->SetPosition(start);
      ReadJPegStream(stream, b, params_, false, pr);
      return;
    }
    ReadJPegStream(stream, b, params_, false, pr);
    stream->SetPosition(std::min(start + kIOStreamHeaderSize + int64_t(HeaderLength(h)), stream->Size()));
  });
  Loaded(ioJPEG, "", true);
}

// --- PCX

void TKorvaneIO::LoadFromFilePCX(const std::string& name) {
  TBitmap* b = Begin();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  Guarded(Wrap::Any, "unrecognized PCX", [&] {
    TFileStream f(name, fmOpenRead);
    ReadPcxStream(&f, b, params_, false, pr, 0);
  });
  Loaded(ioPCX, name, true);
}

void TKorvaneIO::LoadFromStreamPCX(TStream* stream) {
  TBitmap* b = Begin();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  Guarded(Wrap::Invalid, "unrecognized PCX stream", [&] {
    if (!StreamHeaders) {
      ReadPcxStream(stream, b, params_, false, pr, 0);
      return;
    }
    const int64_t start = stream->Position();
    uint8_t h[kIOStreamHeaderSize];
    if (stream->Read(h, kIOStreamHeaderSize) != kIOStreamHeaderSize || std::memcmp(h, "PCX", 3) != 0)
      throw EInvalidGraphic("unrecognized PCX stream");
    if (h[3] == '2') {
      const int64_t length = HeaderLength(h);
      ReadPcxStream(stream, b, params_, false, pr, length);
      stream->SetPosition(std::min(start + kIOStreamHeaderSize + length, stream->Size()));
    } else {
      // The older 4-byte header: the data run to the end of the stream.
      stream->SetPosition(start + 4);
      ReadPcxStream(stream, b, params_, false, pr, 0);
    }
  });
  Loaded(ioPCX, "", true);
}

// --- PNG

void TKorvaneIO::LoadFromFilePNG(const std::string& name) {
  TBitmap* b = Begin();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  params_.PNG_Background = TColor2TRGB(GetBackground());
  TFileStream f(name, fmOpenRead);
  Guarded(Wrap::Invalid, "unrecognized PNG", [&] { ReadPNGStream(&f, b, params_, false, pr); });
  SetBackground(TRGB2TColor(params_.PNG_Background));
  Loaded(ioPNG, name, true);
}

void TKorvaneIO::LoadFromStreamPNG(TStream* stream) {
  TBitmap* b = Begin();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  Guarded(Wrap::AppendInvalid, "unrecognized PNG stream",
          [&] { ReadPNGStream(stream, b, params_, false, pr); });
  SetBackground(TRGB2TColor(params_.PNG_Background));
  Loaded(ioPNG, "", true);
}

// --- TIFF

int32_t TKorvaneIO::LoadFromFileTIFF(const std::string& name) {
  TBitmap* b = Begin();
  if (!b) return 0;
  TProgressRec pr = MakeProgress();
  int32_t count = 0;
  TFileStream f(name, fmOpenRead);
  params_.PNG_Background = TColor2TRGB(GetBackground());  // under TIFF alpha too
  Guarded(Wrap::AppendInvalid, "unrecognized TIFF",
          [&] { TIFFReadStream(b, &f, count, false, pr, &params_); });
  Loaded(ioTIFF, name, true);
  return count;
}

int32_t TKorvaneIO::LoadFromStreamTIFF(TStream* stream) {
  TBitmap* b = Begin();
  if (!b) return 0;
  TProgressRec pr = MakeProgress();
  int32_t count = 0;
  int64_t end = -1;
  if (StreamHeaders) {
    uint8_t h[kIOStreamHeaderSize];
    if (stream->Read(h, kIOStreamHeaderSize) != kIOStreamHeaderSize || std::memcmp(h, "TIFF", 4) != 0)
      throw EInvalidGraphic("unrecognized TIFF stream");
    end = std::min(stream->Position() + int64_t(HeaderLength(h)), stream->Size());
  }
  params_.PNG_Background = TColor2TRGB(GetBackground());
  Guarded(Wrap::AppendInvalid, "unrecognized TIFF stream",
          [&] { TIFFReadStream(b, stream, count, false, pr, &params_); });
  if (end >= 0) stream->SetPosition(end);
  Loaded(ioTIFF, "", true);
  return count;
}

// --- By extension

void TKorvaneIO::LoadFromFile(const std::string& name) {
  if (!GetBitmap()) return;
  const std::string e = LowerExt(name);
  if (e == ".jpg" || e == ".jpeg")
    LoadFromFileJpeg(name);
  else if (e == ".png")
    LoadFromFilePNG(name);
  else if (e == ".tif" || e == ".tiff")
    LoadFromFileTIFF(name);
  else if (e == ".pcx")
    LoadFromFilePCX(name);
  else if (e == ".gif")
    LoadFromFileGif(name);
  else if (e == ".wmf" || e == ".emf")
    ImportMetafile(name, -1, -1);
  else if (e == ".bmp")
    LoadFromFileBMP(name);
  else if (e == ".cur")
    LoadFromFileCUR(name);
  else if (e == ".ico")
    LoadFromFileICO(name);
  else {
    params_.FileName.clear();
    params_.FileType = ioUnknown;
  }
}

void TKorvaneIO::SaveToFile(const std::string& name) {
  const std::string e = LowerExt(name);
  if (e == ".jpg" || e == ".jpeg")
    SaveToFileJpeg(name);
  else if (e == ".pcx")
    SaveToFilePCX(name);
  else if (e == ".gif")
    SaveToFileGif(name);
  else if (e == ".tif" || e == ".tiff")
    SaveToFileTIFF(name);
  else if (e == ".png")
    SaveToFilePNG(name);
  else
    SaveToFileBMP(name);
}

// --- Saving

void TKorvaneIO::SaveWithHeader(TStream* stream, const char* signature, bool headerWhenAborted,
                                void (*writer)(TStream*, TBitmap*, TIOParamsVals&, TProgressRec&)) {
  TBitmap* b = BeginSave();
  if (!b) return;
  TProgressRec pr = MakeProgress();
  if (!StreamHeaders) {
    writer(stream, b, params_, pr);
    return;
  }
  const int64_t start = stream->Position();
  WriteStreamHeader(stream, "\0\0\0\0", 0);
  writer(stream, b, params_, pr);
  const int64_t end = stream->Position();
  if (Aborting && !headerWhenAborted) return;
  const int64_t length = end - start - kIOStreamHeaderSize;
  if (length > int64_t(UINT32_MAX)) throw EInvalidGraphic("image too large for a stream header");
  stream->SetPosition(start);
  WriteStreamHeader(stream, signature, uint32_t(length));
  stream->SetPosition(end);
}

namespace {
void WriteTIFFNew(TStream* s, TBitmap* b, TIOParamsVals& p, TProgressRec& pr) {
  TIFFWriteStream(s, false, b, p, pr);
}
}  // namespace

void TKorvaneIO::SaveToStreamJpeg(TStream* stream) { SaveWithHeader(stream, "JFIF", true, WriteJPegStream); }
void TKorvaneIO::SaveToStreamPCX(TStream* stream) { SaveWithHeader(stream, "PCX2", false, WritePcxStream); }
void TKorvaneIO::SaveToStreamTIFF(TStream* stream) { SaveWithHeader(stream, "TIFF", true, WriteTIFFNew); }

void TKorvaneIO::SaveToStreamBMP(TStream* stream) {
  if (TBitmap* b = BeginSave()) {
    TProgressRec pr = MakeProgress();
    BMPWriteStream(stream, b, params_, pr);
  }
}
void TKorvaneIO::SaveToStreamGif(TStream* stream) {
  if (TBitmap* b = BeginSave()) {
    TProgressRec pr = MakeProgress();
    WriteGifStream(stream, b, params_, pr);
  }
}
void TKorvaneIO::SaveToStreamPNG(TStream* stream) {
  if (TBitmap* b = BeginSave()) {
    TProgressRec pr = MakeProgress();
    WritePNGStream(stream, b, params_, pr);
  }
}

#define KV_FILE_SAVE(Method, Writer)                                           \
  void TKorvaneIO::Method(const std::string& name) {                           \
    TBitmap* b = BeginSave();                                                  \
    if (!b) return;                                                            \
    TProgressRec pr = MakeProgress();                                          \
    SaveFile(name, &Aborting, [&](TStream* s) { Writer(s, b, params_, pr); }); \
  }
KV_FILE_SAVE(SaveToFileBMP, BMPWriteStream)
KV_FILE_SAVE(SaveToFileGif, WriteGifStream)
KV_FILE_SAVE(SaveToFileJpeg, WriteJPegStream)
KV_FILE_SAVE(SaveToFilePCX, WritePcxStream)
KV_FILE_SAVE(SaveToFilePNG, WritePNGStream)
KV_FILE_SAVE(SaveToFileTIFF, WriteTIFFNew)
#undef KV_FILE_SAVE

// --- Detection

TIOFileType TKorvaneIO::FindStreamFormat(TStream* stream) {
  if (!stream) return ioUnknown;
  int64_t pos = 0, n = 0;
  uint8_t buf[16] = {};
  size_t got = 0;
  try {
    pos = stream->Position();
    n = stream->Size() - pos;
    got = size_t(std::max<int64_t>(0, stream->Read(buf, sizeof buf)));
    stream->SetPosition(pos);
  } catch (const std::exception&) {
    return ioUnknown;
  }
  auto at = [&](size_t i) -> int { return i < got ? buf[i] : -1; };
  // A JPEG starts with the start-of-image marker and another marker; the
  // first is JFIF in the classic files and Exif (or anything) in others.
  if (n > 12 && at(0) == 0xFF && at(1) == 0xD8 && at(2) == 0xFF) return ioJPEG;
  if (n > 12 && TextAt(buf, got, 0, 5) == "JFIF") return ioJPEG;
  if (n > 13 && at(0) == 'G' && at(1) == 'I' && at(2) == 'F') return ioGIF;
  if (n > 12 && TextAt(buf, got, 0, 5) == "PCX2") return ioPCX;
  if (n > 4 && TextAt(buf, got, 0, 4) == "PCX") return ioPCX;
  if (n > 14 && at(0) == 'B' && at(1) == 'M') return ioBMP;
  if (n > 128 && at(0) == 0x0A && at(1) >= 0 && at(1) <= 5) return ioPCX;
  if (n > 12 && TextAt(buf, got, 0, 5) == "TIFF") return ioTIFF;
  if (n > 8 && ((at(0) == 'I' && at(1) == 'I') || (at(0) == 'M' && at(1) == 'M'))) return ioTIFF;
  try {
    if (n > 8 && IsPNGStream(stream)) return ioPNG;
    stream->SetPosition(pos);
    if (ICOTryStream(stream)) return ioICO;
    stream->SetPosition(pos);
    if (CURTryStream(stream)) return ioCUR;
    stream->SetPosition(pos);
  } catch (const std::exception&) {
    try {
      stream->SetPosition(pos);
    } catch (const std::exception&) {
    }
  }
  return ioUnknown;
}

TIOFileType TKorvaneIO::FindFileFormat(const std::string& name) {
  try {
    TFileStream f(name, fmOpenRead);
    return FindStreamFormat(&f);
  } catch (const std::exception&) {
    return ioUnknown;
  }
}

void TKorvaneIO::ParamsFromStream(TStream* stream) {
  const TIOFileType type = FindStreamFormat(stream);
  params_.FileType = type;
  if (type == ioUnknown) return;
  TBitmap* b = GetBitmap();
  TBitmap scratch;
  if (!b) b = &scratch;
  int64_t pos = 0;
  try {
    pos = stream->Position();
    // Data written by the stream saves start with their 12-byte header (or
    // the older 4-byte PCX one): the image follows it.
    uint8_t h[kIOStreamHeaderSize] = {};
    const int64_t got = stream->Read(h, kIOStreamHeaderSize);
    int64_t skip = 0, pcxLength = 0;
    if (got == kIOStreamHeaderSize && std::memcmp(h, "PCX2", 5) == 0) pcxLength = HeaderLength(h);
    if (got == kIOStreamHeaderSize &&
        (std::memcmp(h, "JFIF", 5) == 0 || std::memcmp(h, "PCX2", 5) == 0 || std::memcmp(h, "TIFF", 5) == 0))
      skip = kIOStreamHeaderSize;
    else if (got >= 4 && std::memcmp(h, "PCX", 4) == 0)
      skip = 4;
    stream->SetPosition(pos + skip);
    int32_t count = 0;
    switch (type) {
      case ioJPEG:
        ReadJPegStream(stream, b, params_, true, nullpr);
        break;
      case ioGIF:
        ReadGifStream(stream, b, count, params_, nullpr, true);
        break;
      case ioPCX:
        // Behind a "PCX2" header the image (and the palette at its end) is
        // the header's length, not the rest of the stream.
        ReadPcxStream(stream, b, params_, true, nullpr, pcxLength);
        break;
      case ioBMP:
        BMPReadStream(stream, b, 0, params_, nullpr, true);
        break;
      case ioTIFF:
        TIFFReadStream(b, stream, count, true, nullpr, &params_);
        break;
      case ioPNG:
        ReadPNGStream(stream, b, params_, true, nullpr);
        break;
      case ioICO:
        ICOReadStream(stream, b, params_, true);
        break;
      case ioCUR:
        CURReadStream(stream, b, params_, true);
        break;
      default:
        break;
    }
  } catch (const std::exception&) {
    params_.FileType = ioUnknown;
  }
  try {
    stream->SetPosition(pos);
  } catch (const std::exception&) {
  }
}

void TKorvaneIO::ParamsFromFile(const std::string& name) {
  try {
    TFileStream f(name, fmOpenRead);
    ParamsFromStream(&f);
  } catch (const std::exception&) {
    params_.FileType = ioUnknown;
  }
  params_.FileName = name;
}

// --- Metafiles

void TKorvaneIO::ImportMetafile(const std::string& name, int width, int height) {
  ImportMetafile(name, width, height, GetBackground());
}

void TKorvaneIO::ImportMetafile(const std::string& name, int width, int height, TColor paper) {
  TBitmap* b = Begin();
  if (!b || width == 0 || height == 0) return;
  Guarded(Wrap::Any, "unrecognized WMF or EMF", [&] {
    TMetafile mf;
    mf.LoadFromFile(name);
    const int64_t mw = mf.Width(), mh = mf.Height();
    int64_t w = width, h = height;
    if (w < 0 && h < 0) {
      w = mw;
      h = mh;
    } else if (w < 0) {
      if (mh <= 0) throw EInvalidGraphic("empty metafile");
      w = h * mw / mh;
    } else if (h < 0) {
      if (mw <= 0) throw EInvalidGraphic("empty metafile");
      h = w * mh / mw;
    }
    // The bitmap is one pixel smaller than the picture in each direction.
    const int64_t bw = w - 1, bh = h - 1;
    if (bw <= 0 || bh <= 0 || bw * bh > kMaxMetafilePixels)
      throw EInvalidGraphic("metafile size out of range");
    b->Allocate(int(bw), int(bh), pf24bit);
    params_.FileName = name;
    params_.FileType = mf.Enhanced() ? ioEMF : ioWMF;
    params_.BitsPerSample = 8;
    params_.SamplesPerPixel = 3;
    params_.Width = int32_t(bw);
    params_.Height = int32_t(bh);
    params_.DpiX = gSystemDPIX;
    params_.DpiY = gSystemDPIY;
    params_.FreeColorMap();
    if (TKVView* v = target_.View()) v->SetDPI(params_.DpiX, params_.DpiY);
    TCanvas* c = b->Canvas();
    c->Brush()->SetStyle(bsSolid);
    c->Brush()->SetColor(paper);
    c->FillRect(Rect(0, 0, b->Width(), b->Height()));
    mf.Draw(c, Rect(0, 0, int(w), int(h)));
    c->EndPaint();
  });
  Update();
}

// --- Multi-image files

// The multi-image edits work on a copy of the file in memory; the file is
// replaced (through the safe path) only when the whole edit succeeded and was
// not aborted.
int32_t TKorvaneIO::InsertToFileGif(const std::string& name) {
  TBitmap* b = BeginSave();
  if (!b) return 0;
  TProgressRec pr = MakeProgress();
  return Guarded(Wrap::Any, "unrecognized GIF", [&] {
    params_.GIF_WinWidth = std::max(params_.GIF_WinWidth, b->Width() + params_.GIF_XPos);
    params_.GIF_WinHeight = std::max(params_.GIF_WinHeight, b->Height() + params_.GIF_YPos);
    TMemoryStream m;
    m.LoadFromFile(name);
    const int32_t count = _InsertGifImStream(&m, b, params_, pr);
    if (Aborting) return count;
    m.SetPosition(0);
    _GifMakeAnimateStream(&m, 0, params_.GIF_WinWidth, params_.GIF_WinHeight);
    SaveFile(name, &Aborting, [&](TStream* s) { m.SaveToStream(s); });
    return count;
  });
}

int32_t TKorvaneIO::InsertToFileTIFF(const std::string& name) {
  TBitmap* b = BeginSave();
  if (!b) return 0;
  TProgressRec pr = MakeProgress();
  TMemoryStream m;
  m.LoadFromFile(name);
  const int32_t count = TIFFWriteStream(&m, true, b, params_, pr);
  SaveFile(name, &Aborting, [&](TStream* s) { m.SaveToStream(s); });
  return count;
}

int32_t DeleteGifIm(const std::string& name, int32_t index) {
  return Guarded(Wrap::Any, "unrecognized GIF", [&] { return _DeleteGifIm(name, index, true); });
}

int32_t EnumGifIm(const std::string& name) {
  try {
    return _DeleteGifIm(name, -1, false);
  } catch (const std::exception&) {
    return 0;
  }
}

bool CheckAniGif(const std::string& name) {
  try {
    return _CheckGifAnimate(name);
  } catch (const std::exception&) {
    return false;
  }
}

int32_t DeleteTIFFIm(const std::string& name, int32_t index) {
  TMemoryStream m;
  m.LoadFromFile(name);
  const int32_t pages = _DeleteTIFFImStream(&m, index);
  if (index >= 0 && index < pages) SaveFile(name, nullptr, [&](TStream* s) { m.SaveToStream(s); });
  return pages;
}

int32_t EnumTIFFIm(const std::string& name) {
  try {
    TFileStream f(name, fmOpenRead);
    return _EnumTIFFImStream(&f);
  } catch (const std::exception&) {
    return 0;
  }
}

void InstallKorvaneLZWCoders() {
  DefGIF_LZWDECOMPFUNC = GIFLZWDecompress;
  DefGIF_LZWCOMPFUNC = GIFLZWCompress;
  DefTIFF_LZWDECOMPFUNC = TIFFLZWDecompress;
  DefTIFF_LZWCOMPFUNC = TIFFLZWCompress;
}

}  // namespace korvane
