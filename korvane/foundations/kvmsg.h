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

/// "Preview": the preview button and the file dialogs' preview check box.
extern KORVANE_EXPORT const TKVMsg KVMSG_PREVIEW;
/// "Source": label over the source image of the preview forms.
extern KORVANE_EXPORT const TKVMsg KVMSG_SOURCE;
/// "Result": label over the processed image of the preview forms.
extern KORVANE_EXPORT const TKVMsg KVMSG_RESULT;
/// "OK": the preview forms' accept button.
extern KORVANE_EXPORT const TKVMsg KVMSG_OK;
/// "Cancel": the reject button of the preview forms and the file dialogs.
extern KORVANE_EXPORT const TKVMsg KVMSG_CANCEL;
/// "Lock preview": hint of the padlock button that previews on every change.
extern KORVANE_EXPORT const TKVMsg KVMSG_LOCKPREVIEW;
/// "Copy Result to Source": hint of the processing form's copy button.
extern KORVANE_EXPORT const TKVMsg KVMSG_COPYRESULTTOSOURCE;
/// "Contrast": page and slider of the processing form.
extern KORVANE_EXPORT const TKVMsg KVMSG_CONTRAST;
/// "Brightness": slider on the contrast page.
extern KORVANE_EXPORT const TKVMsg KVMSG_BRIGHTNESS;
/// "Hue": slider on the HSV and HSL pages.
extern KORVANE_EXPORT const TKVMsg KVMSG_HUE;
/// "Saturation": slider on the HSV and HSL pages.
extern KORVANE_EXPORT const TKVMsg KVMSG_SATURATION;
/// "Value": slider on the HSV page.
extern KORVANE_EXPORT const TKVMsg KVMSG_VALUE;
/// "Base color": label of the color the HSV page starts from.
extern KORVANE_EXPORT const TKVMsg KVMSG_BASECOLOR;
/// "New color": label of the color the HSV page produces.
extern KORVANE_EXPORT const TKVMsg KVMSG_NEWCOLOR;
/// "Luminosity": slider on the HSL page.
extern KORVANE_EXPORT const TKVMsg KVMSG_LUMINOSITY;
/// "Red": slider on the RGB page and histogram channel.
extern KORVANE_EXPORT const TKVMsg KVMSG_RED;
/// "Green": slider on the RGB page and histogram channel.
extern KORVANE_EXPORT const TKVMsg KVMSG_GREEN;
/// "Blue": slider on the RGB page and histogram channel.
extern KORVANE_EXPORT const TKVMsg KVMSG_BLUE;
/// "User filter": page of the 3 x 3 convolution filter.
extern KORVANE_EXPORT const TKVMsg KVMSG_USERFILTER;
/// "Filter values": group of the user filter's nine values.
extern KORVANE_EXPORT const TKVMsg KVMSG_FILTERVALUES;
/// "Presets": group of the user filter's preset list.
extern KORVANE_EXPORT const TKVMsg KVMSG_PRESETS;
/// "Divisor": label of the user filter's divisor.
extern KORVANE_EXPORT const TKVMsg KVMSG_DIVISOR;
/// "Load": button that reads a user filter from a file.
extern KORVANE_EXPORT const TKVMsg KVMSG_LOAD;
/// "Save": user filter button, and accept button and title of save dialogs.
extern KORVANE_EXPORT const TKVMsg KVMSG_SAVE;
/// "Equalization": page and label of histogram equalization.
extern KORVANE_EXPORT const TKVMsg KVMSG_EQUALIZATION;
/// "Threshold": label of the equalization thresholds.
extern KORVANE_EXPORT const TKVMsg KVMSG_THRESHOLD;
/// "Equalize": button that equalizes the histogram.
extern KORVANE_EXPORT const TKVMsg KVMSG_EQUALIZE;
/// "Histogram": group that draws the histogram.
extern KORVANE_EXPORT const TKVMsg KVMSG_HISTOGRAM;
/// "Gray": histogram channel.
extern KORVANE_EXPORT const TKVMsg KVMSG_GRAY;
/// "Light": first half of the bump map's light color label.
extern KORVANE_EXPORT const TKVMsg KVMSG_LIGHT;
/// "Left": kept in the table; no dialog of the library shows it.
extern KORVANE_EXPORT const TKVMsg KVMSG_LEFT;
/// "Top": kept in the table; no dialog of the library shows it.
extern KORVANE_EXPORT const TKVMsg KVMSG_TOP;
/// "Width": slider on the bump map and lens pages.
extern KORVANE_EXPORT const TKVMsg KVMSG_WIDTH;
/// "Height": slider on the bump map and lens pages.
extern KORVANE_EXPORT const TKVMsg KVMSG_HEIGHT;
/// "Color": second half of the bump map's light color label.
extern KORVANE_EXPORT const TKVMsg KVMSG_COLOR;
/// "Source image quantity": bump map slider, in percent.
extern KORVANE_EXPORT const TKVMsg KVMSG_SOURCEIMAGEQUANTITY;
/// "Lens": page of the lens effect.
extern KORVANE_EXPORT const TKVMsg KVMSG_LENS;
/// "Refraction": slider on the lens page.
extern KORVANE_EXPORT const TKVMsg KVMSG_REFRACTION;
/// "Parameters Preview": caption of the save-parameters form.
extern KORVANE_EXPORT const TKVMsg KVMSG_PARAMETERSPREVIEW;
/// "Quality": JPEG quality label.
extern KORVANE_EXPORT const TKVMsg KVMSG_QUALITY;
/// "DCT method": JPEG DCT method label.
extern KORVANE_EXPORT const TKVMsg KVMSG_DCTMETHOD;
/// "Smoothing factor": JPEG smoothing label.
extern KORVANE_EXPORT const TKVMsg KVMSG_SMOOTHINGFACTOR;
/// "Gray scale": kept in the table; no dialog of the library shows it.
extern KORVANE_EXPORT const TKVMsg KVMSG_GRAYSCALE;
/// "Optimal Huffman": JPEG check box.
extern KORVANE_EXPORT const TKVMsg KVMSG_OPTIMALHUFFMAN;
/// "Original size": label of the source size in bytes.
extern KORVANE_EXPORT const TKVMsg KVMSG_ORIGINALSIZE;
/// "Compressed size": label of the encoded size in bytes.
extern KORVANE_EXPORT const TKVMsg KVMSG_COMPRESSEDSIZE;
/// "Advanced": GIF and PNG group title and the file dialog's button.
extern KORVANE_EXPORT const TKVMsg KVMSG_ADVANCED;
/// "Progressive": JPEG check box.
extern KORVANE_EXPORT const TKVMsg KVMSG_PROGRESSIVE;
/// "Compression": TIFF, BMP, PCX and PNG label.
extern KORVANE_EXPORT const TKVMsg KVMSG_COMPRESSION;
/// "Image index": TIFF and GIF label of the image index to write.
extern KORVANE_EXPORT const TKVMsg KVMSG_IMAGEINDEX;
/// "Photometric": JPEG and TIFF color space label.
extern KORVANE_EXPORT const TKVMsg KVMSG_PHOTOMETRIC;
/// "Scanned document info": TIFF group title.
extern KORVANE_EXPORT const TKVMsg KVMSG_SCANNDEDDOCUMENTINFO;
/// "Name": TIFF document name label.
extern KORVANE_EXPORT const TKVMsg KVMSG_NAME;
/// "Description": TIFF image description label.
extern KORVANE_EXPORT const TKVMsg KVMSG_DESCRIPTION;
/// "Page name": TIFF page name label.
extern KORVANE_EXPORT const TKVMsg KVMSG_PAGENAME;
/// "Page number": TIFF page number label.
extern KORVANE_EXPORT const TKVMsg KVMSG_PAGENUMBER;
/// "of": between the TIFF page number and page count.
extern KORVANE_EXPORT const TKVMsg KVMSG_OF;
/// "Horiz. Position (inch)": TIFF label.
extern KORVANE_EXPORT const TKVMsg KVMSG_HORIZPOSITIONINCH;
/// "Vert. Position (inch)": TIFF label.
extern KORVANE_EXPORT const TKVMsg KVMSG_VERTPOSITIONINCH;
/// "Colors": color count label of the save forms and file dialogs.
extern KORVANE_EXPORT const TKVMsg KVMSG_COLORS;
/// "Transparent": GIF check box.
extern KORVANE_EXPORT const TKVMsg KVMSG_TRANSPARENT;
/// "Transparent color": hint of the GIF transparent color box.
extern KORVANE_EXPORT const TKVMsg KVMSG_TRANSPARENTCOLOR;
/// "Interlaced": GIF and PNG check box.
extern KORVANE_EXPORT const TKVMsg KVMSG_INTERLACED;
/// "Background": GIF and PNG background color label.
extern KORVANE_EXPORT const TKVMsg KVMSG_BACKGROUND;
/// "Horiz. Position": GIF frame label and bump map and lens slider.
extern KORVANE_EXPORT const TKVMsg KVMSG_HORIZPOSITION;
/// "Vert. Position": GIF frame label and bump map and lens slider.
extern KORVANE_EXPORT const TKVMsg KVMSG_VERTPOSITION;
/// "Delay time": GIF frame delay label.
extern KORVANE_EXPORT const TKVMsg KVMSG_DELAYTIME;
/// "Filter": PNG row filter label.
extern KORVANE_EXPORT const TKVMsg KVMSG_FILTER;
/// "Wave": page of the wave effect.
extern KORVANE_EXPORT const TKVMsg KVMSG_WAVE;
/// "Amplitude": slider on the wave page.
extern KORVANE_EXPORT const TKVMsg KVMSG_AMPLITUDE;
/// "Wave length": slider on the wave page.
extern KORVANE_EXPORT const TKVMsg KVMSG_WAVELENGTH;
/// "Phase": slider on the wave page, in degrees.
extern KORVANE_EXPORT const TKVMsg KVMSG_PHASE;
/// "Reflective": wave page check box.
extern KORVANE_EXPORT const TKVMsg KVMSG_REFLECTIVE;
/// Unit after a size in bytes.
extern KORVANE_EXPORT const TKVMsg KVMSG_BYTES;

/// Texts of the processing preview form beyond the table above: its caption,
/// the bump map page and the filter presets.
extern KORVANE_EXPORT const TKVMsg KVMSG_PREVIEWS;
/// "Bump map": page of the bump map effect.
extern KORVANE_EXPORT const TKVMsg KVMSG_BUMPMAP;
/// "None": first entry of the user filter presets.
extern KORVANE_EXPORT const TKVMsg KVMSG_NONE;
/// "Blur": user filter preset.
extern KORVANE_EXPORT const TKVMsg KVMSG_BLUR;
/// "Edges": user filter preset.
extern KORVANE_EXPORT const TKVMsg KVMSG_EDGES;
/// "Emboss": user filter preset.
extern KORVANE_EXPORT const TKVMsg KVMSG_EMBOSS;
/// "High Pass": name of the three high-pass presets.
extern KORVANE_EXPORT const TKVMsg KVMSG_HIGHPASS;
/// "Low Pass": name of the two low-pass presets.
extern KORVANE_EXPORT const TKVMsg KVMSG_LOWPASS;

/// The file dialogs' own labels, and the filter-file dialog of the
/// processing preview form with its two error messages.
extern KORVANE_EXPORT const TKVMsg KVMSG_OPEN;
/// "Look in:": file dialog folder label.
extern KORVANE_EXPORT const TKVMsg KVMSG_LOOKIN;
/// "File name:": file dialog name label.
extern KORVANE_EXPORT const TKVMsg KVMSG_FILENAME;
/// "Files of type:": file dialog filter label.
extern KORVANE_EXPORT const TKVMsg KVMSG_FILESOFTYPE;
/// "Filter files": name filter of user filter files (`*.flt`).
extern KORVANE_EXPORT const TKVMsg KVMSG_FILTERFILES;
/// "All files": name filter that shows every file.
extern KORVANE_EXPORT const TKVMsg KVMSG_ALLFILES;
/// "unrecognized filter": error when a filter file cannot be read.
extern KORVANE_EXPORT const TKVMsg KVMSG_UNRECOGNIZEDFILTER;
/// "cannot write": error, followed by the file name, when saving a filter fails.
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
