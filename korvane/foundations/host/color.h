/// \file
/// TColor, the host's 32-bit color: red in bits 0-7, green 8-15, blue 16-23.
/// A top byte of 0x80 names a system color, resolved by ColorToRGB.
#pragma once
#include <cstdint>

#include "korvane/foundations/host/export.h"

class QColor;

namespace korvane {

/// A color: 0x00BBGGRR for RGB values, 0x800000nn for system color nn, or clNone / clDefault.
using TColor = uint32_t;

constexpr TColor clBlack = 0x000000;  ///< Black.
constexpr TColor clMaroon = 0x000080;  ///< Dark red (128, 0, 0).
constexpr TColor clGreen = 0x008000;  ///< Dark green (0, 128, 0).
constexpr TColor clOlive = 0x008080;  ///< Olive (128, 128, 0).
constexpr TColor clNavy = 0x800000;  ///< Navy blue (0, 0, 128).
constexpr TColor clPurple = 0x800080;  ///< Purple (128, 0, 128).
constexpr TColor clTeal = 0x808000;  ///< Teal (0, 128, 128).
constexpr TColor clGray = 0x808080;  ///< Mid gray (128, 128, 128).
constexpr TColor clSilver = 0xC0C0C0;  ///< Light gray (192, 192, 192).
constexpr TColor clRed = 0x0000FF;  ///< Pure red.
constexpr TColor clLime = 0x00FF00;  ///< Pure green.
constexpr TColor clYellow = 0x00FFFF;  ///< Yellow (red plus green).
constexpr TColor clBlue = 0xFF0000;  ///< Pure blue.
constexpr TColor clFuchsia = 0xFF00FF;  ///< Magenta (red plus blue).
constexpr TColor clAqua = 0xFFFF00;  ///< Cyan (green plus blue).
constexpr TColor clWhite = 0xFFFFFF;  ///< White.
constexpr TColor clNone = 0x1FFFFFFF;  ///< No color ("transparent" or "not set"); ColorToRGB gives black.
constexpr TColor clDefault = 0x20000000;  ///< The owner's default color; ColorToRGB gives black.

/// System colors: 0x80000000 plus the window system's color index.
constexpr TColor clScrollBar = 0x80000000;  ///< Scroll bar; always the classic light gray.
constexpr TColor clBackground = 0x80000001;  ///< Desktop background; always the classic black.
constexpr TColor clActiveCaption = 0x80000002;  ///< Active window caption; always the classic dark blue.
constexpr TColor clInactiveCaption = 0x80000003;  ///< Inactive window caption; always the classic gray.
constexpr TColor clMenu = 0x80000004;  ///< Menu background; the palette's button color.
constexpr TColor clWindow = 0x80000005;  ///< Window and edit-box background; the palette's base color.
constexpr TColor clWindowFrame = 0x80000006;  ///< Window frame; always the classic black.
constexpr TColor clMenuText = 0x80000007;  ///< Menu text; the palette's text color.
constexpr TColor clWindowText = 0x80000008;  ///< Text in windows; the palette's text color.
constexpr TColor clCaptionText = 0x80000009;  ///< Caption text; always the classic white.
constexpr TColor clActiveBorder = 0x8000000A;  ///< Active window border; the palette's button color.
constexpr TColor clInactiveBorder = 0x8000000B;  ///< Inactive window border; the palette's button color.
constexpr TColor clAppWorkSpace = 0x8000000C;  ///< Workspace behind child windows; always the classic gray.
constexpr TColor clHighlight = 0x8000000D;  ///< Selection background; the palette's highlight color.
constexpr TColor clHighlightText = 0x8000000E;  ///< Selected text; the palette's highlighted-text color.
constexpr TColor clBtnFace = 0x8000000F;  ///< Button face and dialog background; the palette's button color.
constexpr TColor clBtnShadow = 0x80000010;  ///< Button shadow edge; the palette's mid color.
constexpr TColor clGrayText = 0x80000011;  ///< Disabled text; the disabled group's text color.
constexpr TColor clBtnText = 0x80000012;  ///< Button text; the palette's button-text color.
constexpr TColor clInactiveCaptionText = 0x80000013;  ///< Inactive caption text; always classic light gray.
constexpr TColor clBtnHighlight = 0x80000014;  ///< Button highlight edge; the palette's light color.
constexpr TColor cl3DDkShadow = 0x80000015;  ///< Dark 3D shadow; the palette's shadow color.
constexpr TColor cl3DLight = 0x80000016;  ///< Light 3D edge; the palette's button color.
constexpr TColor clInfoText = 0x80000017;  ///< Tooltip text; the palette's tooltip-text color.
constexpr TColor clInfoBk = 0x80000018;  ///< Tooltip background; the palette's tooltip-base color.

/// True when the top byte of `c` is 0x80, i.e. it names a system color rather than an RGB value.
constexpr bool IsSystemColor(TColor c) { return (c >> 24) == 0x80; }

/// The RGB value of a color: system colors are looked up in the application's
/// palette (fixed classic values without a running application); clNone and
/// clDefault give black; other values keep their low 24 bits.
KORVANE_EXPORT TColor ColorToRGB(TColor c);

/// A color as Qt's, through ColorToRGB (opaque).
KORVANE_EXPORT QColor ColorToQColor(TColor c);
/// A Qt color as an RGB TColor (its alpha dropped).
KORVANE_EXPORT TColor QColorToColor(const QColor& c);

/// The red component (bits 0-7) of an RGB color; apply ColorToRGB first for system colors.
constexpr uint8_t GetRValue(TColor c) { return uint8_t(c); }
/// The green component (bits 8-15) of an RGB color.
constexpr uint8_t GetGValue(TColor c) { return uint8_t(c >> 8); }
/// The blue component (bits 16-23) of an RGB color.
constexpr uint8_t GetBValue(TColor c) { return uint8_t(c >> 16); }
/// Packs red, green and blue (0-255 each) into a TColor with a zero top byte.
constexpr TColor RGB(uint8_t r, uint8_t g, uint8_t b) {
  return TColor(r) | (TColor(g) << 8) | (TColor(b) << 16);
}

}  // namespace korvane
