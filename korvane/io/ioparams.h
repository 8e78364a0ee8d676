/// \file
/// The I/O parameters record: what every codec reports after a load and reads
/// before a save, its enumerations, the LZW coder hook types and the
/// library-wide hooks that seed each record.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/object.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

class TBitmap;

/// Enumerations persisted as one byte each; values read from a stream are kept
/// as read, so code that switches on them must allow unnamed values.
enum TIOFileType : uint8_t {
  ioUnknown,
  ioTIFF,
  ioGIF,
  ioJPEG,
  ioPCX,
  ioBMP,
  ioICO,
  ioCUR,
  ioPNG,
  ioWMF,
  ioEMF
};
/// TIFF Compression 1, 2, 3 (1-D), 3 (2-D), 4, 5, 6, 7, 32773.
enum TIOTIFFCompression : uint8_t {
  ioTIFF_UNCOMPRESSED,
  ioTIFF_CCITT1D,
  ioTIFF_G3FAX1D,
  ioTIFF_G3FAX2D,
  ioTIFF_G4FAX,
  ioTIFF_LZW,
  ioTIFF_OLDJPEG,
  ioTIFF_JPEG,
  ioTIFF_PACKBITS
};
/// TIFF PhotometricInterpretation 0, 1, 2, 3, 4, 5, 6, 8.
enum TIOTIFFPhotometInterpret : uint8_t {
  ioTIFF_WHITEISZERO,
  ioTIFF_BLACKISZERO,
  ioTIFF_RGB,
  ioTIFF_RGBPALETTE,
  ioTIFF_TRANSPMASK,
  ioTIFF_CMYK,
  ioTIFF_YCBCR,
  ioTIFF_CIELAB
};
enum TIOJPEGColorspace : uint8_t { ioJPEG_RGB, ioJPEG_GRAYLEV, ioJPEG_YCbCr, ioJPEG_CMYK, ioJPEG_YCbCrK };
enum TIOJPEGDctMethod : uint8_t { ioJPEG_ISLOW, ioJPEG_IFAST, ioJPEG_FLOAT };
enum TIOJPEGScale : uint8_t { ioJPEG_AUTOCALC, ioJPEG_FULLSIZE, ioJPEG_HALF, ioJPEG_QUARTER, ioJPEG_EIGHTH };
enum TIOBMPVersion : uint8_t { ioBMP_BM, ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2 };
enum TIOBMPCompression : uint8_t { ioBMP_UNCOMPRESSED, ioBMP_RLE };
enum TIOPCXCompression : uint8_t { ioPCX_UNCOMPRESSED, ioPCX_RLE };
enum TIOPNGFilter : uint8_t { ioPNG_FILTER_NONE, ioPNG_FILTER_SUB, ioPNG_FILTER_PAETH };

/// GIF LZW decoder: called with the stream on the minimum-code-size byte of one
/// image; consumes the code-size byte and every data sub-block up to and
/// including the terminator, and fills Buffer (Width x Height indices, rows from
/// the top, display order, interlacing undone when Interlaced).
using TGIFLZWDecompFunc = void (*)(TStream* Stream, int32_t Height, int32_t Width, bool Interlaced,
                                   uint8_t* Buffer);
/// GIF LZW encoder: writes the code-size byte, the data sub-blocks and the
/// terminator for Width x Height indices (rows from the top; taken in GIF
/// interlaced order when Interlaced).
using TGIFLZWCompFunc = void (*)(TStream* Stream, int32_t Height, int32_t Width, bool Interlaced,
                                 const uint8_t* Data, int32_t BitsPerPixel);
/// TIFF LZW decoder, called once per row of a strip. The first call (State
/// empty) gets the whole compressed strip, DataSize bytes at Data, and creates
/// its state there; the decoder never reads past those bytes. Every call
/// returns the next Count decoded bytes (malformed or exhausted data leave the
/// rest of a row zero). A call with Data null releases the state.
using TTIFFLZWDecompFunc = uint8_t* (*)(const uint8_t* Data, int32_t DataSize, int32_t Count, void*& State);
/// TIFF LZW encoder: the first call (State empty) starts a code stream; each
/// call encodes Count more bytes and writes finished bytes to Stream; a call
/// with Data null ends the code stream and releases the state.
using TTIFFLZWCompFunc = void (*)(const uint8_t* Data, int32_t Count, TStream* Stream, void*& State);

/// Library-wide coders that each record takes in SetDefaultParams. Empty when
/// the library starts; an application installs coders before it creates its
/// I/O components (or sets a record's fields directly).
extern KORVANE_EXPORT TGIFLZWDecompFunc DefGIF_LZWDECOMPFUNC;
extern KORVANE_EXPORT TGIFLZWCompFunc DefGIF_LZWCOMPFUNC;
extern KORVANE_EXPORT TTIFFLZWDecompFunc DefTIFF_LZWDECOMPFUNC;
extern KORVANE_EXPORT TTIFFLZWCompFunc DefTIFF_LZWCOMPFUNC;

/// What a parameters record asks of the component that owns it when it applies
/// its defaults. The I/O component implements it.
class KORVANE_EXPORT TIOParamsOwner {
 public:
  virtual ~TIOParamsOwner() = default;
  /// The target bitmap, or nullptr when there is none.
  virtual TBitmap* IOParamsBitmap() = 0;
  /// The attached view's resolution; false (arguments untouched) without a view.
  virtual bool IOParamsViewDPI(int32_t& DpiX, int32_t& DpiY) = 0;
};

/// Highest palette size a persisted record may declare; larger (or negative)
/// counts mark the stream as damaged.
constexpr int32_t kIOMaxColorMapCount = 65536;

/// The record through which codecs report what they found in a file and learn
/// how to write one. ColorMap is either null with ColorMapCount 0, or a block of
/// exactly ColorMapCount entries owned by the record (use the ColorMap helpers
/// to replace it).
class KORVANE_EXPORT TIOParamsVals : public TObject {
 public:
  explicit TIOParamsVals(TIOParamsOwner* owner = nullptr);
  ~TIOParamsVals() override;
  TIOParamsVals(const TIOParamsVals&) = delete;
  TIOParamsVals& operator=(const TIOParamsVals&) = delete;

  TIOParamsOwner* Owner() const { return owner_; }

  /// Frees the palette, clears FileName and FileType, takes size and
  /// resolution from the owner when it can supply them, and resets every
  /// format field, the hooks taking the current library-wide coders.
  void SetDefaultParams();
  /// Copies every field but the owner; the palette is copied deeply.
  void Assign(const TIOParamsVals* source);

  /// The persisted form (version 1 written; versions 0 and 1 read). A load
  /// keeps what it read up to the first short or damaged field and leaves the
  /// rest; an unknown version changes nothing.
  void SaveToStream(TStream* stream) const;
  void LoadFromStream(TStream* stream);
  void SaveToFile(const std::string& name) const;
  void LoadFromFile(const std::string& name);

  /// The format's name with a suffix describing its options, or "" for
  /// ioUnknown (and for values that name no format).
  std::string GetFileTypeStr() const;

  /// The published fields by name, as text: numbers in decimal, Booleans as
  /// "true"/"false", enumerations by enumerator name ("ioTIFF_G4FAX"), colors
  /// as "R,G,B" (red first), strings as they are. The palette itself and the
  /// coder hooks are not fields. SetField accepts the same forms (enumerations
  /// also by ordinal) and answers false, changing nothing, for an unknown name
  /// or a value of the wrong form.
  static const std::vector<std::string>& FieldNames();
  bool GetField(const std::string& name, std::string& value) const;
  bool SetField(const std::string& name, const std::string& value);

  /// Palette helpers that keep the ColorMap invariant.
  void FreeColorMap();
  /// Replaces the palette with count zeroed entries (none when count <= 0) and
  /// returns the new block.
  TRGB* AllocColorMap(int32_t count);
  /// Replaces the palette with a copy of count entries from src.
  void SetColorMap(const TRGB* src, int32_t count);

  int32_t BitsPerSample = 0;
  int32_t SamplesPerPixel = 0;
  int32_t Width = 0;
  int32_t Height = 0;
  int32_t DpiX = 0;
  int32_t DpiY = 0;
  TIOFileType FileType = ioUnknown;
  /// How the stored picture is turned (Exif and TIFF orientation, 1..8; 1 is
  /// upright). Readers of JPEG and TIFF set it from the file, the others leave
  /// 1. Not part of the persisted record.
  int32_t Orientation = 1;

  TIOTIFFCompression TIFF_Compression = ioTIFF_UNCOMPRESSED;
  int32_t TIFF_ImageIndex = 0;
  TIOTIFFPhotometInterpret TIFF_PhotometInterpret = ioTIFF_WHITEISZERO;
  int32_t TIFF_PlanarConf = 0;
  int32_t TIFF_XPos = 0;
  int32_t TIFF_YPos = 0;
  std::string TIFF_DocumentName;
  std::string TIFF_ImageDescription;
  std::string TIFF_PageName;
  int32_t TIFF_PageNumber = 0;
  int32_t TIFF_PageCount = 0;
  TTIFFLZWDecompFunc TIFF_LZWDecompFunc = nullptr;
  TTIFFLZWCompFunc TIFF_LZWCompFunc = nullptr;

  std::string GIF_Version;
  int32_t GIF_ImageIndex = 0;
  int32_t GIF_XPos = 0;
  int32_t GIF_YPos = 0;
  int32_t GIF_DelayTime = 0;
  bool GIF_FlagTranspColor = false;
  TRGB GIF_TranspColor{0, 0, 0};
  bool GIF_Interlaced = false;
  int32_t GIF_WinWidth = 0;
  int32_t GIF_WinHeight = 0;
  TRGB GIF_Background{0, 0, 0};
  int32_t GIF_Ratio = 0;
  /// What happens to a frame's area before the next frame is drawn (the
  /// graphic control's disposal method: 0 unspecified, 1 leave, 2 restore to
  /// the background, 3 restore the previous picture). Reads set it; writes
  /// use it (2 in a new record). Not part of the persisted record.
  int32_t GIF_Disposal = 2;
  /// Times an animation repeats (0: for ever), from its looping extension;
  /// -1 when the file has none. A multi-frame save writes the extension when
  /// the first frame's record has 0 or more. Not part of the persisted record.
  int32_t GIF_LoopCount = -1;
  TGIFLZWDecompFunc GIF_LZWDecompFunc = nullptr;
  TGIFLZWCompFunc GIF_LZWCompFunc = nullptr;

  TIOJPEGColorspace JPEG_ColorSpace = ioJPEG_RGB;
  int32_t JPEG_Quality = 0;
  TIOJPEGDctMethod JPEG_DCTMethod = ioJPEG_ISLOW;
  bool JPEG_OptimalHuffman = false;
  int32_t JPEG_Smooth = 0;
  bool JPEG_Progressive = false;
  TIOJPEGScale JPEG_Scale = ioJPEG_AUTOCALC;

  int32_t PCX_Version = 0;
  TIOPCXCompression PCX_Compression = ioPCX_UNCOMPRESSED;
  TIOBMPVersion BMP_Version = ioBMP_BM;
  TIOBMPCompression BMP_Compression = ioBMP_UNCOMPRESSED;
  int32_t ICO_ImageIndex = 0;
  int32_t CUR_ImageIndex = 0;
  int32_t CUR_XHotSpot = 0;
  int32_t CUR_YHotSpot = 0;
  bool PNG_Interlaced = false;
  TRGB PNG_Background{0, 0, 0};
  TIOPNGFilter PNG_Filter = ioPNG_FILTER_NONE;
  int32_t PNG_Compression = 0;

  std::string FileName;
  TRGB* ColorMap = nullptr;
  int32_t ColorMapCount = 0;

 private:
  TIOParamsOwner* owner_ = nullptr;
};

}  // namespace korvane
