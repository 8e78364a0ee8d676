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
/// JPEG color space: what a load found in the file, what a save writes (YCbCr for values beyond).
enum TIOJPEGColorspace : uint8_t { ioJPEG_RGB, ioJPEG_GRAYLEV, ioJPEG_YCbCr, ioJPEG_CMYK, ioJPEG_YCbCrK };
/// libjpeg DCT method for loads and saves: exact integer, fast integer or floating point.
enum TIOJPEGDctMethod : uint8_t { ioJPEG_ISLOW, ioJPEG_IFAST, ioJPEG_FLOAT };
/// Size a JPEG loads at: the scale nearest Width x Height (see JPegAutoScaleDenom), or full, 1/2, 1/4, 1/8.
enum TIOJPEGScale : uint8_t { ioJPEG_AUTOCALC, ioJPEG_FULLSIZE, ioJPEG_HALF, ioJPEG_QUARTER, ioJPEG_EIGHTH };
/// BMP header kind: ioBMP_BM3 the 40-byte Windows header, ioBMP_BMOS2V1 the 12-byte OS/2 1.x one,
/// ioBMP_BMOS2V2 the 64-byte OS/2 2.x one, ioBMP_BM any other size (saved with 40 bytes).
enum TIOBMPVersion : uint8_t { ioBMP_BM, ioBMP_BM3, ioBMP_BMOS2V1, ioBMP_BMOS2V2 };
/// BMP pixel data stored plain or run-length encoded (RLE4 or RLE8 by depth).
enum TIOBMPCompression : uint8_t { ioBMP_UNCOMPRESSED, ioBMP_RLE };
/// PCX pixel data stored plain or run-length encoded.
enum TIOPCXCompression : uint8_t { ioPCX_UNCOMPRESSED, ioPCX_RLE };
/// PNG row filter a save uses for every row: none, Sub or Paeth.
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
/// The GIF encoder new records take.
extern KORVANE_EXPORT TGIFLZWCompFunc DefGIF_LZWCOMPFUNC;
/// The TIFF decoder new records take.
extern KORVANE_EXPORT TTIFFLZWDecompFunc DefTIFF_LZWDECOMPFUNC;
/// The TIFF encoder new records take.
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
  /// A record with its defaults applied (see SetDefaultParams); owner, when given, must outlive it.
  /// The destructor frees the palette.
  explicit TIOParamsVals(TIOParamsOwner* owner = nullptr);
  ~TIOParamsVals() override;
  TIOParamsVals(const TIOParamsVals&) = delete;
  TIOParamsVals& operator=(const TIOParamsVals&) = delete;

  /// The component that supplies size and resolution defaults, or null.
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
  /// Reads a record written by SaveToStream from the stream's position.
  void LoadFromStream(TStream* stream);
  /// Writes the record as the file name (replaced only when the write succeeds).
  void SaveToFile(const std::string& name) const;
  /// Reads the record from the file name; a file that cannot be opened raises.
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
  /// The field name as text into value; false, value untouched, for an unknown name.
  bool GetField(const std::string& name, std::string& value) const;
  /// Sets the field name from its text form (see FieldNames); ColorMapCount is read-only and answers false.
  bool SetField(const std::string& name, const std::string& value);

  /// Palette helpers that keep the ColorMap invariant.
  void FreeColorMap();
  /// Replaces the palette with count zeroed entries (none when count <= 0) and
  /// returns the new block.
  TRGB* AllocColorMap(int32_t count);
  /// Replaces the palette with a copy of count entries from src.
  void SetColorMap(const TRGB* src, int32_t count);

  /// Bits per sample: a load gives the file's, a save picks its depth from it and SamplesPerPixel
  /// (1 and 4 bits, 8-bit palette, else 24-bit color where the format allows). 8 by default.
  int32_t BitsPerSample = 0;
  /// Samples per pixel as the file stores them (1 gray or palette, 3 RGB, 4 CMYK); 3 by default.
  int32_t SamplesPerPixel = 0;
  /// Image width in pixels: a load gives the file's; defaults take the target's. A JPEG load with
  /// ioJPEG_AUTOCALC reads Width x Height as the size wanted.
  int32_t Width = 0;
  /// Image height in pixels, as Width.
  int32_t Height = 0;
  /// Horizontal resolution in dots per inch: a load gives the file's (the screen's when it has
  /// none), a save stores it; defaults take the attached view's.
  int32_t DpiX = 0;
  /// Vertical resolution in dots per inch, as DpiX.
  int32_t DpiY = 0;
  /// Format of the last load or parameters read (ioUnknown after a failed detection or an
  /// unknown extension). Saves leave it.
  TIOFileType FileType = ioUnknown;
  /// How the stored picture is turned (Exif and TIFF orientation, 1..8; 1 is
  /// upright). Readers of JPEG and TIFF set it from the file, the others leave
  /// 1. Not part of the persisted record.
  int32_t Orientation = 1;

  /// TIFF compression a load found (ioTIFF_UNCOMPRESSED also for Deflate) and a save uses; the fax
  /// kinds apply to 1-bit pages only, the JPEG kinds save uncompressed, so does LZW without an encoder.
  TIOTIFFCompression TIFF_Compression = ioTIFF_UNCOMPRESSED;
  /// Page a TIFF load reads and an insert puts the new page at (0 is the first).
  int32_t TIFF_ImageIndex = 0;
  /// The page's photometric interpretation as loaded; saves take the kind from the depth, except
  /// that ioTIFF_CMYK writes a 24-bit page as CMYK. ioTIFF_RGB by default.
  TIOTIFFPhotometInterpret TIFF_PhotometInterpret = ioTIFF_WHITEISZERO;
  /// The page's planar configuration as loaded: 1 chunky (the default), 2 planar; saves write chunky.
  int32_t TIFF_PlanarConf = 0;
  /// Horizontal page position in whole inches (XPosition), loaded and saved.
  int32_t TIFF_XPos = 0;
  /// Vertical page position in whole inches (YPosition), loaded and saved.
  int32_t TIFF_YPos = 0;
  /// DocumentName text of the page, loaded and saved.
  std::string TIFF_DocumentName;
  /// ImageDescription text of the page, loaded and saved.
  std::string TIFF_ImageDescription;
  /// PageName text of the page, loaded and saved.
  std::string TIFF_PageName;
  /// PageNumber tag's page number (from 0); saved, with TIFF_PageCount, when either is not 0.
  int32_t TIFF_PageNumber = 0;
  /// PageNumber tag's page total (0: unknown).
  int32_t TIFF_PageCount = 0;
  /// TIFF LZW decoder of this record; null falls back on DefTIFF_LZWDECOMPFUNC.
  TTIFFLZWDecompFunc TIFF_LZWDecompFunc = nullptr;
  /// TIFF LZW encoder of this record; null falls back on DefTIFF_LZWCOMPFUNC.
  TTIFFLZWCompFunc TIFF_LZWCompFunc = nullptr;

  /// The GIF signature ("GIF87a" or "GIF89a") a load found; a save writes it when it starts with
  /// "GIF", else "GIF89a" (the default).
  std::string GIF_Version;
  /// Frame a GIF load reads and an insert puts the new frame at (0 is the first).
  int32_t GIF_ImageIndex = 0;
  /// Left edge of the frame on the logical screen, in pixels.
  int32_t GIF_XPos = 0;
  /// Top edge of the frame on the logical screen, in pixels.
  int32_t GIF_YPos = 0;
  /// Time the frame stays before the next, in hundredths of a second.
  int32_t GIF_DelayTime = 0;
  /// True when the frame has a transparent color (GIF_TranspColor).
  bool GIF_FlagTranspColor = false;
  /// The frame's transparent color; with the flag set, a save keeps a palette entry for it.
  TRGB GIF_TranspColor{0, 0, 0};
  /// True for a frame stored in interlaced row order.
  bool GIF_Interlaced = false;
  /// Logical screen width a load found; the animation writers and InsertToFileGif make the screen at
  /// least this wide.
  int32_t GIF_WinWidth = 0;
  /// Logical screen height, as GIF_WinWidth.
  int32_t GIF_WinHeight = 0;
  /// The logical screen's background color; a save keeps a palette entry for it.
  TRGB GIF_Background{0, 0, 0};
  /// The pixel aspect ratio byte of the screen descriptor as loaded (0: none); saves write 0.
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
  /// GIF LZW decoder of this record; null falls back on DefGIF_LZWDECOMPFUNC.
  TGIFLZWDecompFunc GIF_LZWDecompFunc = nullptr;
  /// GIF LZW encoder of this record; null falls back on DefGIF_LZWCOMPFUNC.
  TGIFLZWCompFunc GIF_LZWCompFunc = nullptr;

  /// The JPEG's color space as loaded, and the one a save writes (ioJPEG_YCbCr by default).
  TIOJPEGColorspace JPEG_ColorSpace = ioJPEG_RGB;
  /// Save quality, 1..100 (values outside are clamped); 50 by default. Loads leave it.
  int32_t JPEG_Quality = 0;
  /// DCT method of JPEG loads and saves (ioJPEG_ISLOW by default).
  TIOJPEGDctMethod JPEG_DCTMethod = ioJPEG_ISLOW;
  /// When true, a save computes optimal Huffman tables (smaller file, slower).
  bool JPEG_OptimalHuffman = false;
  /// Smoothing a save applies, 0 (none) to 100.
  int32_t JPEG_Smooth = 0;
  /// True for a progressive JPEG: what a load found and what a save writes.
  bool JPEG_Progressive = false;
  /// Size a JPEG load decodes at (ioJPEG_FULLSIZE by default).
  TIOJPEGScale JPEG_Scale = ioJPEG_AUTOCALC;

  /// Version byte of the PCX header, loaded and saved (5 by default).
  int32_t PCX_Version = 0;
  /// PCX save compression (ioPCX_RLE by default); loads leave it.
  TIOPCXCompression PCX_Compression = ioPCX_UNCOMPRESSED;
  /// BMP header kind a load found and a save writes (ioBMP_BM3 by default).
  TIOBMPVersion BMP_Version = ioBMP_BM;
  /// BMP compression a load found; a save run-length encodes 4- and 8-bit images with ioBMP_RLE.
  TIOBMPCompression BMP_Compression = ioBMP_UNCOMPRESSED;
  /// Image of an icon file a load reads (0 is the first).
  int32_t ICO_ImageIndex = 0;
  /// Image of a cursor file a load reads (0 is the first).
  int32_t CUR_ImageIndex = 0;
  /// Horizontal hot spot of the cursor image a load read, in pixels.
  int32_t CUR_XHotSpot = 0;
  /// Vertical hot spot of the cursor image a load read, in pixels.
  int32_t CUR_YHotSpot = 0;
  /// True for an Adam7-interlaced PNG: what a load found and what a save writes.
  bool PNG_Interlaced = false;
  /// Color alpha is flattened onto when loading PNG (and TIFF) images, replaced by the file's bKGD
  /// color when it has one; a save writes it as bKGD.
  TRGB PNG_Background{0, 0, 0};
  /// Row filter of PNG saves (ioPNG_FILTER_NONE by default).
  TIOPNGFilter PNG_Filter = ioPNG_FILTER_NONE;
  /// Deflate level of PNG saves, 0 (none) to 9 (smallest); 5 by default.
  int32_t PNG_Compression = 0;

  /// The file last loaded or read for parameters; empty after a stream load.
  std::string FileName;
  /// The palette, ColorMapCount entries owned by the record: loads of palette images fill it, palette
  /// saves store the palette they made; null when there is none.
  TRGB* ColorMap = nullptr;
  /// Number of entries in ColorMap (0 without a palette).
  int32_t ColorMapCount = 0;

 private:
  TIOParamsOwner* owner_ = nullptr;
};

}  // namespace korvane
