#include "korvane/capture/capture_driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "korvane/capture/synthetic_driver.h"
#include "korvane/capture/v4l2_driver.h"
#include "korvane/pixels/video/yuvconv.h"

namespace korvane {

const TKVVideoFormatEntry VideoFormatTable[kVideoFormatCount] = {
    {"RGB ", 24}, {"IYU1", 12}, {"IYU2", 24}, {"UYVY", 16}, {"UYNV", 16}, {"cyuv", 16},
    {"YUY2", 16}, {"YUNV", 16}, {"YVYU", 16}, {"Y41P", 12}, {"Y211", 8},  {"CLJR", 8},
    {"YVU9", 9},  {"YV12", 12}, {"I420", 12}, {"IYUV", 12}};

int VideoFormatIndex(const std::string& code) {
  for (int i = 0; i < kVideoFormatCount; ++i)
    if (code == VideoFormatTable[i].Code) return i;
  return -1;
}

std::string FourCCToString(uint32_t fourcc) {
  if (fourcc == TBitmapInfoHeader::kRGB) return "RGB ";
  std::string s(4, ' ');
  for (int i = 0; i < 4; ++i) s[size_t(i)] = char((fourcc >> (8 * i)) & 0xFF);
  return s;
}

uint32_t StringToFourCC(const std::string& code) {
  if (code == "RGB ") return TBitmapInfoHeader::kRGB;
  char c[4] = {' ', ' ', ' ', ' '};
  for (size_t i = 0; i < 4 && i < code.size(); ++i) c[i] = code[i];
  return MakeFourCC(c[0], c[1], c[2], c[3]);
}

size_t FrameBytes(const TBitmapInfoHeader& h) {
  const int64_t w = h.biWidth, ah = h.biHeight < 0 ? -int64_t(h.biHeight) : int64_t(h.biHeight);
  if (w <= 0 || ah <= 0 || w > kMaxDIBSide || ah > kMaxDIBSide) return 0;
  if (h.biCompression == TBitmapInfoHeader::kRGB || h.biCompression == TBitmapInfoHeader::kBitfields)
    return size_t(((w * h.biBitCount + 31) / 32) * 4 * ah);
  const size_t need = YUVFrameSize(h.biCompression, int(w), int(ah));
  const size_t plain = size_t(w * ah * h.biBitCount / 8);
  return std::max(need, plain);
}

namespace {

struct TDriverSlot {
  TKVCaptureDriverFactory factory;
};
TDriverSlot gSlots[kCaptureDriverCount];

bool DeviceNodeExists(int index) {
  struct stat st;
  const std::string path = "/dev/video" + std::to_string(index);
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int KVRegisterCaptureDriver(const TKVCaptureDriverFactory& factory, int index) {
  if (index < 0) {
    for (int i = 0; i < kCaptureDriverCount && index < 0; ++i)
      if (!gSlots[i].factory && !DeviceNodeExists(i)) index = i;
    if (index < 0) return -1;
  }
  if (index >= kCaptureDriverCount) return -1;
  gSlots[index].factory = factory;
  return index;
}

void KVUnregisterCaptureDriver(int index) {
  if (index >= 0 && index < kCaptureDriverCount) gSlots[index].factory = nullptr;
}

int KVRegisterTestCaptureFromEnv() {
  static int registered = -2;
  if (registered != -2) return registered;
  registered = -1;
  const char* v = std::getenv("KORVANE_TEST_CAPTURE");
  if (v && std::strcmp(v, "1") == 0) registered = KVRegisterSyntheticCaptureDriver();
  return registered;
}

std::unique_ptr<TKVCaptureDriver> KVCreateCaptureDriver(int index) {
  if (index < 0 || index >= kCaptureDriverCount) return nullptr;
  if (gSlots[index].factory) return gSlots[index].factory();
  return CreateV4L2Driver(index);
}

bool KVCapGetDriverDescription(int index, std::string& Name, std::string& Version) {
  auto d = KVCreateCaptureDriver(index);
  if (!d) return false;
  Name = d->Name().substr(0, 79);
  Version = d->Version().substr(0, 79);
  return true;
}

}  // namespace korvane
