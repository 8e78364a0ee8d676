// Helpers of the JPEG and PNG codec tests: decoding a file or a byte block,
// PPM dumps for the peer comparisons, and running the Pillow checker.
#pragma once
#include <string>
#include <vector>

#include "korvane/foundations/host/graphics.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/io/ioparams.h"

namespace korvane::test {

enum class Codec { Jpeg, Png };

// Reads with the codec's reader from a memory copy of the bytes.
void DecodeBytes(Codec c, const std::vector<uint8_t>& bytes, TBitmap& bmp, TIOParamsVals& p,
                 bool paramsOnly = false);
std::vector<uint8_t> FileBytes(const std::string& path);
// Encodes into a byte block.
std::vector<uint8_t> EncodeBytes(Codec c, TBitmap& bmp, TIOParamsVals& p);

// Writes a 1- or 24-bit bitmap as a binary P6 PPM (1-bit: bit 1 white).
void WritePPM(TBitmap& bmp, const std::string& path);
void WriteBytes(const std::vector<uint8_t>& b, const std::string& path);

// A Python interpreter that can import PIL and numpy, or "" when none.
std::string PillowPython();
// Runs tests/codec_jpng/pillow_check.py with the arguments; returns its
// output, exit status in status.
std::string RunPillowCheck(const std::string& args, int& status);

// A fresh scratch folder below the system temporary folder.
std::string ScratchDir(const std::string& name);

}  // namespace korvane::test
