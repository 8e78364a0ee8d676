// Captions and labels of the library's dialogs in six languages, and the
// lookup that picks one by TMsgLanguage (msSystem follows the default locale).
#pragma once
#include <array>
#include <span>
#include <string>
#include <string_view>

#include "korvane/foundations/kvdefs.h"

namespace korvane {

// One message: its text in English, Italian, German, Spanish, French and
// Portuguese, in that order, as UTF-8.
using TKVMsg = std::array<std::string_view, 6>;

extern const TKVMsg KVMSG_PREVIEW;
extern const TKVMsg KVMSG_SOURCE;
extern const TKVMsg KVMSG_RESULT;
extern const TKVMsg KVMSG_OK;
extern const TKVMsg KVMSG_CANCEL;
extern const TKVMsg KVMSG_LOCKPREVIEW;
extern const TKVMsg KVMSG_COPYRESULTTOSOURCE;
extern const TKVMsg KVMSG_CONTRAST;
extern const TKVMsg KVMSG_BRIGHTNESS;
extern const TKVMsg KVMSG_HUE;
extern const TKVMsg KVMSG_SATURATION;
extern const TKVMsg KVMSG_VALUE;
extern const TKVMsg KVMSG_BASECOLOR;
extern const TKVMsg KVMSG_NEWCOLOR;
extern const TKVMsg KVMSG_LUMINOSITY;
extern const TKVMsg KVMSG_RED;
extern const TKVMsg KVMSG_GREEN;
extern const TKVMsg KVMSG_BLUE;
extern const TKVMsg KVMSG_USERFILTER;
extern const TKVMsg KVMSG_FILTERVALUES;
extern const TKVMsg KVMSG_PRESETS;
extern const TKVMsg KVMSG_DIVISOR;
extern const TKVMsg KVMSG_LOAD;
extern const TKVMsg KVMSG_SAVE;
extern const TKVMsg KVMSG_EQUALIZATION;
extern const TKVMsg KVMSG_THRESHOLD;
extern const TKVMsg KVMSG_EQUALIZE;
extern const TKVMsg KVMSG_HISTOGRAM;
extern const TKVMsg KVMSG_GRAY;
extern const TKVMsg KVMSG_LIGHT;
extern const TKVMsg KVMSG_LEFT;
extern const TKVMsg KVMSG_TOP;
extern const TKVMsg KVMSG_WIDTH;
extern const TKVMsg KVMSG_HEIGHT;
extern const TKVMsg KVMSG_COLOR;
extern const TKVMsg KVMSG_SOURCEIMAGEQUANTITY;
extern const TKVMsg KVMSG_LENS;
extern const TKVMsg KVMSG_REFRACTION;
extern const TKVMsg KVMSG_PARAMETERSPREVIEW;
extern const TKVMsg KVMSG_QUALITY;
extern const TKVMsg KVMSG_DCTMETHOD;
extern const TKVMsg KVMSG_SMOOTHINGFACTOR;
extern const TKVMsg KVMSG_GRAYSCALE;
extern const TKVMsg KVMSG_OPTIMALHUFFMAN;
extern const TKVMsg KVMSG_ORIGINALSIZE;
extern const TKVMsg KVMSG_COMPRESSEDSIZE;
extern const TKVMsg KVMSG_ADVANCED;
extern const TKVMsg KVMSG_PROGRESSIVE;
extern const TKVMsg KVMSG_COMPRESSION;
extern const TKVMsg KVMSG_IMAGEINDEX;
extern const TKVMsg KVMSG_PHOTOMETRIC;
extern const TKVMsg KVMSG_SCANNDEDDOCUMENTINFO;
extern const TKVMsg KVMSG_NAME;
extern const TKVMsg KVMSG_DESCRIPTION;
extern const TKVMsg KVMSG_PAGENAME;
extern const TKVMsg KVMSG_PAGENUMBER;
extern const TKVMsg KVMSG_OF;
extern const TKVMsg KVMSG_HORIZPOSITIONINCH;
extern const TKVMsg KVMSG_VERTPOSITIONINCH;
extern const TKVMsg KVMSG_COLORS;
extern const TKVMsg KVMSG_TRANSPARENT;
extern const TKVMsg KVMSG_TRANSPARENTCOLOR;
extern const TKVMsg KVMSG_INTERLACED;
extern const TKVMsg KVMSG_BACKGROUND;
extern const TKVMsg KVMSG_HORIZPOSITION;
extern const TKVMsg KVMSG_VERTPOSITION;
extern const TKVMsg KVMSG_DELAYTIME;
extern const TKVMsg KVMSG_FILTER;
extern const TKVMsg KVMSG_WAVE;
extern const TKVMsg KVMSG_AMPLITUDE;
extern const TKVMsg KVMSG_WAVELENGTH;
extern const TKVMsg KVMSG_PHASE;
extern const TKVMsg KVMSG_REFLECTIVE;
// Unit after a size in bytes.
extern const TKVMsg KVMSG_BYTES;

// Texts of the processing preview form beyond the table above: its caption,
// the bump map page and the filter presets.
extern const TKVMsg KVMSG_PREVIEWS;
extern const TKVMsg KVMSG_BUMPMAP;
extern const TKVMsg KVMSG_NONE;
extern const TKVMsg KVMSG_BLUR;
extern const TKVMsg KVMSG_EDGES;
extern const TKVMsg KVMSG_EMBOSS;
extern const TKVMsg KVMSG_HIGHPASS;
extern const TKVMsg KVMSG_LOWPASS;

// The file dialogs' own labels, and the filter-file dialog of the
// processing preview form with its two error messages.
extern const TKVMsg KVMSG_OPEN;
extern const TKVMsg KVMSG_LOOKIN;
extern const TKVMsg KVMSG_FILENAME;
extern const TKVMsg KVMSG_FILESOFTYPE;
extern const TKVMsg KVMSG_FILTERFILES;
extern const TKVMsg KVMSG_ALLFILES;
extern const TKVMsg KVMSG_UNRECOGNIZEDFILTER;
extern const TKVMsg KVMSG_CANNOTWRITE;

// Every message, in declaration order.
std::span<const TKVMsg* const> KVMsgTable();

// The text of msg in lang. msSystem picks the language of the default locale
// (GetSystemPrimaryLanguage): German, Spanish, French, Italian and Portuguese
// have their own texts, every other language gets English. A value outside
// TMsgLanguage also gets English.
std::string kvmsg(const TKVMsg& msg, TMsgLanguage lang);

// Windows-style primary language identifier of the default QLocale (which
// follows the system unless the application set another default): English 9,
// German 7, Spanish 10, French 12, Italian 16, Dutch 19, Portuguese 22, and so
// on; 0 (neutral) for a language without an identifier here.
int GetSystemPrimaryLanguage();

// Index into a TKVMsg for a primary language identifier: 7 -> 2, 10 -> 3,
// 12 -> 4, 16 -> 1, 22 -> 5, anything else 0 (English).
int KVMsgIndexOfPrimaryLanguage(int primary);

}  // namespace korvane
