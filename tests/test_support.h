// Helpers shared by the test suites: where the shared corpus lives, and small
// bitmap builders and comparers.
#pragma once
#include <QStringList>
#include <string>

#include "korvane/foundations/host/graphics.h"

namespace korvane::test {

// Folder holding fixtures/ and suites/ (KORVANE_SHARED_DIR, overridable by the
// environment variable of the same name). Empty when it does not exist.
std::string SharedDir();

// Full path of a file below the shared folder, or "" when it is absent.
std::string SharedFile(const std::string& rel);

// A Python interpreter that imports the given modules ("PIL" or "PIL,
// numpy"), preferring the system's /usr/bin/python3 where Debian's packages
// live; "" when there is none. Probed once per module list.
std::string PythonWith(const std::string& modules);

// A 24-bit bitmap filled with a deterministic pattern of the given seed.
void FillPattern24(TBitmap& bmp, int w, int h, unsigned seed);

// Pixel of a 24-bit bitmap as 0xRRGGBB.
unsigned Pixel24(TBitmap& bmp, int x, int y);

// True when the two bitmaps have the same size, format and pixel bytes (the
// row padding is ignored).
bool SamePixels(TBitmap& a, TBitmap& b);

// A program's exit code and output; code -1 when it crashed or did not end
// within two minutes (then it is killed).
struct ProcessRun {
  int code = -1;
  std::string out, err;
};
// Runs a program headless with the caller's environment plus env
// ("NAME=VALUE" each).
ProcessRun RunProcess(const QString& program, const QStringList& args, const QStringList& env = {});

}  // namespace korvane::test

// Skips the current test with a message when the shared corpus file is absent.
#define KORVANE_REQUIRE_SHARED(path_var, rel)              \
  std::string path_var = ::korvane::test::SharedFile(rel); \
  if (path_var.empty()) GTEST_SKIP() << "shared corpus file missing: " << rel
