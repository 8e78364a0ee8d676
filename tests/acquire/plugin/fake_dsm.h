// A scripted TWAIN source manager for the acquisition tests, built as a
// shared library and loaded through KORVANE_TWAIN_DSM. The tests open the
// same library to script its sources and read what the application did.
#pragma once

extern "C" {

struct FakeSourceSpec {
  char name[34];
  char manufacturer[34];
  int width, height, bpp;  // bpp 1, 8 or 24 (4 and 16 gray, 48 RGB: strips only)
  int pages;               // pages in the feeder (at least 1)
  int stripRows;           // rows per memory strip
  int useCallback;         // notify through the registered callback, else MSG_PROCESSEVENT
  int refuseMemory;        // ICAP_XFERMECH = TWSX_MEMORY refused
  int noXScaling, noIndicators;
  int cancelInUI;  // with its interface shown, the user cancels
  int failOpen, failEnable;
  int xferResult;           // 0 done, 1 TWRC_FAILURE, 2 TWRC_CANCEL on the first strip / native transfer
  int badStrips;            // strips report offsets, sizes and row lengths beyond image and buffer
  int badDib;               // the native DIB claims more rows than it holds
  int stripCompression;     // memory strips (and the image info) carry this compression
  int refuseNoCompression;  // ICAP_COMPRESSION = TWCP_NONE refused
  int silent;               // once enabled, it never says anything
};

struct FakeLog {
  int openDSM, closeDSM, openDS, closeDS, enable, disable, endXfer, reset;
  int processEvents, pagesDone, errors, showUI;
  int pixelTypeCon, pixelTypeSent, pixelTypeItems[8], pixelTypeCount;  // last ICAP_PIXELTYPE set
  int bitDepth, chunky, xferMech, compression, units;
  int xresCon;
  double xresSent, xresMin, xresMax;
  int feeder, indicators;  // -1 unset
  int layoutSets;
  double frame[4];
};

void FakeDSM_Reset();
void FakeDSM_AddSource(const FakeSourceSpec* spec);
FakeLog* FakeDSM_Log();
// The pixel the fake's sources put at (x, y) of page p, as 0xRRGGBB (a gray
// level in all three for 8-bit sources, 0 or 0xFFFFFF for 1-bit ones).
unsigned FakeDSM_Pixel(int bpp, int page, int x, int y);
}
