/// \file
/// Captions and labels of the library's dialogs in six languages, and the
/// lookup that picks one by TMsgLanguage (msSystem follows the default locale).
#pragma once
#include <array>
#include <span>
#include <string>
#include <string_view>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/kvdefs.h"

namespace korvane {

/// One message: its text in English, Italian, German, Spanish, French and
/// Portuguese, in that order, as UTF-8.
using TKVMsg = std::array<std::string_view, 6>;

extern KORVANE_EXPORT const TKVMsg KVMSG_PREVIEW;
extern KORVANE_EXPORT const TKVMsg KVMSG_SOURCE;
extern KORVANE_EXPORT const TKVMsg KVMSG_RESULT;
extern KORVANE_EXPORT const TKVMsg KVMSG_OK;
extern KORVANE_EXPORT const TKVMsg KVMSG_CANCEL;
extern KORVANE_EXPORT const TKVMsg KVMSG_LOCKPREVIEW;
extern KORVANE_EXPORT const TKVMsg KVMSG_COPYRESULTTOSOURCE;
extern KORVANE_EXPORT const TKVMsg KVMSG_CONTRAST;
extern KORVANE_EXPORT const TKVMsg KVMSG_BRIGHTNESS;
extern KORVANE_EXPORT const TKVMsg KVMSG_HUE;
extern KORVANE_EXPORT const TKVMsg KVMSG_SATURATION;
extern KORVANE_EXPORT const TKVMsg KVMSG_VALUE;
extern KORVANE_EXPORT const TKVMsg KVMSG_BASECOLOR;
extern KORVANE_EXPORT const TKVMsg KVMSG_NEWCOLOR;
extern KORVANE_EXPORT const TKVMsg KVMSG_LUMINOSITY;
extern KORVANE_EXPORT const TKVMsg KVMSG_RED;
extern KORVANE_EXPORT const TKVMsg KVMSG_GREEN;
extern KORVANE_EXPORT const TKVMsg KVMSG_BLUE;
extern KORVANE_EXPORT const TKVMsg KVMSG_USERFILTER;
extern KORVANE_EXPORT const TKVMsg KVMSG_FILTERVALUES;
extern KORVANE_EXPORT const TKVMsg KVMSG_PRESETS;
extern KORVANE_EXPORT const TKVMsg KVMSG_DIVISOR;
extern KORVANE_EXPORT const TKVMsg KVMSG_LOAD;
extern KORVANE_EXPORT const TKVMsg KVMSG_SAVE;
extern KORVANE_EXPORT const TKVMsg KVMSG_EQUALIZATION;
extern KORVANE_EXPORT const TKVMsg KVMSG_THRESHOLD;
extern KORVANE_EXPORT const TKVMsg KVMSG_EQUALIZE;
extern KORVANE_EXPORT const TKVMsg KVMSG_HISTOGRAM;
extern KORVANE_EXPORT const TKVMsg KVMSG_GRAY;
extern KORVANE_EXPORT const TKVMsg KVMSG_LIGHT;
extern KORVANE_EXPORT const TKVMsg KVMSG_LEFT;
extern KORVANE_EXPORT const TKVMsg KVMSG_TOP;
extern KORVANE_EXPORT const TKVMsg KVMSG_WIDTH;
extern KORVANE_EXPORT const TKVMsg KVMSG_HEIGHT;
extern KORVANE_EXPORT const TKVMsg KVMSG_COLOR;
extern KORVANE_EXPORT const TKVMsg KVMSG_SOURCEIMAGEQUANTITY;
extern KORVANE_EXPORT const TKVMsg KVMSG_LENS;
extern KORVANE_EXPORT const TKVMsg KVMSG_REFRACTION;
extern KORVANE_EXPORT const TKVMsg KVMSG_PARAMETERSPREVIEW;
extern KORVANE_EXPORT const TKVMsg KVMSG_QUALITY;
extern KORVANE_EXPORT const TKVMsg KVMSG_DCTMETHOD;
extern KORVANE_EXPORT const TKVMsg KVMSG_SMOOTHINGFACTOR;
extern KORVANE_EXPORT const TKVMsg KVMSG_GRAYSCALE;
extern KORVANE_EXPORT const TKVMsg KVMSG_OPTIMALHUFFMAN;
extern KORVANE_EXPORT const TKVMsg KVMSG_ORIGINALSIZE;
extern KORVANE_EXPORT const TKVMsg KVMSG_COMPRESSEDSIZE;
extern KORVANE_EXPORT const TKVMsg KVMSG_ADVANCED;
extern KORVANE_EXPORT const TKVMsg KVMSG_PROGRESSIVE;
extern KORVANE_EXPORT const TKVMsg KVMSG_COMPRESSION;
extern KORVANE_EXPORT const TKVMsg KVMSG_IMAGEINDEX;
extern KORVANE_EXPORT const TKVMsg KVMSG_PHOTOMETRIC;
extern KORVANE_EXPORT const TKVMsg KVMSG_SCANNDEDDOCUMENTINFO;
extern KORVANE_EXPORT const TKVMsg KVMSG_NAME;
extern KORVANE_EXPORT const TKVMsg KVMSG_DESCRIPTION;
extern KORVANE_EXPORT const TKVMsg KVMSG_PAGENAME;
extern KORVANE_EXPORT const TKVMsg KVMSG_PAGENUMBER;
extern KORVANE_EXPORT const TKVMsg KVMSG_OF;
extern KORVANE_EXPORT const TKVMsg KVMSG_HORIZPOSITIONINCH;
extern KORVANE_EXPORT const TKVMsg KVMSG_VERTPOSITIONINCH;
extern KORVANE_EXPORT const TKVMsg KVMSG_COLORS;
extern KORVANE_EXPORT const TKVMsg KVMSG_TRANSPARENT;
extern KORVANE_EXPORT const TKVMsg KVMSG_TRANSPARENTCOLOR;
extern KORVANE_EXPORT const TKVMsg KVMSG_INTERLACED;
extern KORVANE_EXPORT const TKVMsg KVMSG_BACKGROUND;
extern KORVANE_EXPORT const TKVMsg KVMSG_HORIZPOSITION;
extern KORVANE_EXPORT const TKVMsg KVMSG_VERTPOSITION;
extern KORVANE_EXPORT const TKVMsg KVMSG_DELAYTIME;
extern KORVANE_EXPORT const TKVMsg KVMSG_FILTER;
extern KORVANE_EXPORT const TKVMsg KVMSG_WAVE;
extern KORVANE_EXPORT const TKVMsg KVMSG_AMPLITUDE;
extern KORVANE_EXPORT const TKVMsg KVMSG_WAVELENGTH;
extern KORVANE_EXPORT const TKVMsg KVMSG_PHASE;
extern KORVANE_EXPORT const TKVMsg KVMSG_REFLECTIVE;
/// Unit after a size in bytes.
extern KORVANE_EXPORT const TKVMsg KVMSG_BYTES;

/// Texts of the processing preview form beyond the table above: its caption,
/// the bump map page and the filter presets.
extern KORVANE_EXPORT const TKVMsg KVMSG_PREVIEWS;
extern KORVANE_EXPORT const TKVMsg KVMSG_BUMPMAP;
extern KORVANE_EXPORT const TKVMsg KVMSG_NONE;
extern KORVANE_EXPORT const TKVMsg KVMSG_BLUR;
extern KORVANE_EXPORT const TKVMsg KVMSG_EDGES;
extern KORVANE_EXPORT const TKVMsg KVMSG_EMBOSS;
extern KORVANE_EXPORT const TKVMsg KVMSG_HIGHPASS;
extern KORVANE_EXPORT const TKVMsg KVMSG_LOWPASS;

/// The file dialogs' own labels, and the filter-file dialog of the
/// processing preview form with its two error messages.
extern KORVANE_EXPORT const TKVMsg KVMSG_OPEN;
extern KORVANE_EXPORT const TKVMsg KVMSG_LOOKIN;
extern KORVANE_EXPORT const TKVMsg KVMSG_FILENAME;
extern KORVANE_EXPORT const TKVMsg KVMSG_FILESOFTYPE;
extern KORVANE_EXPORT const TKVMsg KVMSG_FILTERFILES;
extern KORVANE_EXPORT const TKVMsg KVMSG_ALLFILES;
extern KORVANE_EXPORT const TKVMsg KVMSG_UNRECOGNIZEDFILTER;
extern KORVANE_EXPORT const TKVMsg KVMSG_CANNOTWRITE;

/// Every message, in declaration order.
KORVANE_EXPORT std::span<const TKVMsg* const> KVMsgTable();

/// The text of msg in lang. msSystem picks the language of the default locale
/// (GetSystemPrimaryLanguage): German, Spanish, French, Italian and Portuguese
/// have their own texts, every other language gets English. A value outside
/// TMsgLanguage also gets English.
KORVANE_EXPORT std::string kvmsg(const TKVMsg& msg, TMsgLanguage lang);

/// Windows-style primary language identifier of the default QLocale (which
/// follows the system unless the application set another default): English 9,
/// German 7, Spanish 10, French 12, Italian 16, Dutch 19, Portuguese 22, and so
/// on; 0 (neutral) for a language without an identifier here.
KORVANE_EXPORT int GetSystemPrimaryLanguage();

/// Index into a TKVMsg for a primary language identifier: 7 -> 2, 10 -> 3,
/// 12 -> 4, 16 -> 1, 22 -> 5, anything else 0 (English).
KORVANE_EXPORT int KVMsgIndexOfPrimaryLanguage(int primary);

}  // namespace korvane
