#include "korvane/capture/synthetic_driver.h"

#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>
#include <chrono>
#include <cstring>

#include "korvane/pixels/video/yuvconv.h"

namespace korvane {

namespace {

// 75% color bars in video-range YUV: white, yellow, cyan, green, magenta,
// red, blue, black.
constexpr uint8_t kBars[8][3] = {{180, 128, 128}, {162, 44, 142}, {131, 156, 44}, {112, 72, 58},
                                 {84, 184, 198},  {65, 100, 212}, {35, 212, 114}, {16, 128, 128}};

int64_t NowMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

bool BottomUp(uint32_t c) {
  // Uncompressed rows are stored from the bottom; of the YUV codes, cyuv and
  // Y41P are too.
  return c == TBitmapInfoHeader::kRGB || c == MakeFourCC('c', 'y', 'u', 'v') ||
         c == MakeFourCC('Y', '4', '1', 'P');
}

}  // namespace

std::vector<std::string> TKVSyntheticOptions::AllTableFormats() {
  std::vector<std::string> v;
  for (const auto& e : VideoFormatTable) v.push_back(e.Code);
  return v;
}

void TKVSyntheticDriver::PatternYUV(int w, int h, int f, int x, int y, int& Y, int& U, int& V) {
  const int bx = x / 8, nbx = Period(w);
  const int barRows = ((h * 3 / 4) / 8) * 8;
  if (y < barRows) {
    const int bar = int(((bx + f) % nbx) * 8 / nbx);
    Y = kBars[bar][0], U = kBars[bar][1], V = kBars[bar][2];
    return;
  }
  // The box: 4 x 4 blocks, starting one block below the bars.
  const int boxX = f % nbx, boxY = barRows / 8 + 1;
  const int by = y / 8;
  const bool inBox = bx >= boxX && bx < boxX + 4 && by >= boxY && by < boxY + 4;
  Y = inBox ? 235 : 40, U = 128, V = 128;
}

TRGB TKVSyntheticDriver::PatternRGB(int w, int h, int f, int x, int y) {
  int Y, U, V;
  PatternYUV(w, h, f, x, y, Y, U, V);
  TRGB p;
  YUV2RGB(Y, U, V, p);
  return p;
}

TKVSyntheticDriver::TKVSyntheticDriver(const TKVSyntheticOptions& o) : opt_(o) {
  opt_.Width = std::clamp(opt_.Width, 1, 8192);
  opt_.Height = std::clamp(opt_.Height, 1, 8192);
  fmt_.biWidth = opt_.Width;
  fmt_.biHeight = opt_.Height;
  fmt_.biPlanes = 1;
  // Starts in the first accepted format of the table, else 32-bit RGB.
  std::string first;
  for (const auto& e : VideoFormatTable)
    for (const auto& a : opt_.Accepted)
      if (first.empty() && a == e.Code) first = a;
  if (first.empty()) {
    fmt_.biBitCount = 32;
    fmt_.biCompression = TBitmapInfoHeader::kRGB;
  } else {
    fmt_.biBitCount = uint16_t(VideoFormatTable[VideoFormatIndex(first)].Bits);
    fmt_.biCompression = StringToFourCC(first);
  }
  fmt_.biSizeImage = uint32_t(FrameBytes(fmt_));
}

bool TKVSyntheticDriver::Connect() {
  if (!opt_.Connectable) return false;
  connected_ = true;
  frame_ = 0;
  start_ms_ = NowMs();
  return true;
}

TCapDriverCaps TKVSyntheticDriver::Caps() const {
  TCapDriverCaps c;
  c.fHasDlgVideoSource = 1;
  c.fHasDlgVideoFormat = 1;
  c.fCaptureInitialized = connected_ ? 1 : 0;
  return c;
}

std::vector<uint8_t> TKVSyntheticDriver::GetFormat() const {
  std::vector<uint8_t> v(sizeof fmt_);
  std::memcpy(v.data(), &fmt_, sizeof fmt_);
  return v;
}

bool TKVSyntheticDriver::SetFormat(const TBitmapInfoHeader& h) {
  const std::string code = FourCCToString(h.biCompression);
  const int i = VideoFormatIndex(code);
  if (i < 0 || h.biBitCount != VideoFormatTable[i].Bits) return false;
  if (std::find(opt_.Accepted.begin(), opt_.Accepted.end(), code) == opt_.Accepted.end()) return false;
  if (h.biWidth < 1 || h.biWidth > 8192 || h.biHeight < 1 || h.biHeight > 8192) return false;
  fmt_ = TBitmapInfoHeader{};
  fmt_.biWidth = h.biWidth;
  fmt_.biHeight = h.biHeight;
  fmt_.biBitCount = h.biBitCount;
  fmt_.biCompression = h.biCompression;
  fmt_.biSizeImage = uint32_t(FrameBytes(fmt_));
  opt_.Width = h.biWidth;
  opt_.Height = h.biHeight;
  return true;
}

bool TKVSyntheticDriver::ReadFrame(std::vector<uint8_t>& Data, int WaitMs) {
  if (!connected_) return false;
  // At a frame rate the camera's clock numbers the frames: a read returns
  // the newest one, or nothing when it was delivered already. A wait takes
  // the next one at once.
  int next = frame_;
  if (opt_.FrameRate > 0) {
    const int64_t due = (NowMs() - start_ms_) * opt_.FrameRate / 1000;
    if (due >= frame_)
      next = int(std::min<int64_t>(due, INT32_MAX - 1));
    else if (WaitMs <= 0)
      return false;
  }
  RenderFrame(next, Data);
  frame_ = next + 1;
  return true;
}

void TKVSyntheticDriver::RenderFrame(int f, std::vector<uint8_t>& Data) const {
  const int w = fmt_.biWidth, h = fmt_.biHeight;
  const uint32_t c = fmt_.biCompression;
  Data.assign(FrameBytes(fmt_), 0);
  uint8_t* out = Data.data();
  // One image row of samples at a time; the pattern repeats every 8 rows.
  std::vector<uint8_t> Ys(size_t(w) + 8), Us(size_t(w) + 8), Vs(size_t(w) + 8);
  std::vector<TRGB> rgb(size_t(w) + 8);
  auto fillRow = [&](int y) {
    for (int x = 0; x < w; x += 8) {
      int Y, U, V;
      PatternYUV(w, h, f, x, y, Y, U, V);
      TRGB p;
      YUV2RGB(Y, U, V, p);
      for (int i = x; i < x + 8; ++i)
        Ys[size_t(i)] = uint8_t(Y), Us[size_t(i)] = uint8_t(U), Vs[size_t(i)] = uint8_t(V),
        rgb[size_t(i)] = p;
    }
    // Samples past the width repeat the last pixel (steps that round up).
    for (int i = w; i < w + 8; ++i)
      Ys[size_t(i)] = Ys[size_t(w - 1)], Us[size_t(i)] = Us[size_t(w - 1)], Vs[size_t(i)] = Vs[size_t(w - 1)];
  };
  const bool planar = c == MakeFourCC('I', '4', '2', '0') || c == MakeFourCC('I', 'Y', 'U', 'V') ||
                      c == MakeFourCC('Y', 'V', '1', '2') || c == MakeFourCC('Y', 'V', 'U', '9');
  if (planar) {
    const int s = c == MakeFourCC('Y', 'V', 'U', '9') ? 4 : 2;
    const int cw = w / s, ch = h / s;
    uint8_t* yp = out;
    uint8_t* p1 = out + size_t(w) * h;
    uint8_t* p2 = p1 + size_t(cw) * ch;
    const bool uFirst = c == MakeFourCC('I', '4', '2', '0') || c == MakeFourCC('I', 'Y', 'U', 'V');
    uint8_t* up = uFirst ? p1 : p2;
    uint8_t* vp = uFirst ? p2 : p1;
    for (int y = 0; y < h; ++y) {
      if (y % 8 == 0) fillRow(y);
      std::memcpy(yp + size_t(y) * w, Ys.data(), size_t(w));
      if (y % s == 0 && y / s < ch)
        for (int cx = 0; cx < cw; ++cx) {
          up[size_t(y / s) * cw + cx] = Us[size_t(cx * s)];
          vp[size_t(y / s) * cw + cx] = Vs[size_t(cx * s)];
        }
    }
    return;
  }
  // Packed formats: rows follow each other, each a whole number of steps.
  const size_t rowBytes = size_t(FrameBytes(fmt_) / size_t(h));
  for (int y = 0; y < h; ++y) {
    if (y % 8 == 0) fillRow(y);
    uint8_t* r = out + size_t(BottomUp(c) ? h - 1 - y : y) * rowBytes;
    const uint8_t *Y = Ys.data(), *U = Us.data(), *V = Vs.data();
    if (c == TBitmapInfoHeader::kRGB) {
      const int bpp = fmt_.biBitCount / 8;
      for (int x = 0; x < w; ++x, r += bpp)
        r[0] = rgb[size_t(x)].b, r[1] = rgb[size_t(x)].g, r[2] = rgb[size_t(x)].r;
    } else if (c == MakeFourCC('I', 'Y', 'U', '1')) {
      for (int x = 0; x < w; x += 4, r += 6)
        r[0] = U[x], r[1] = Y[x], r[2] = Y[x + 1], r[3] = V[x], r[4] = Y[x + 2], r[5] = Y[x + 3];
    } else if (c == MakeFourCC('I', 'Y', 'U', '2')) {
      for (int x = 0; x < w; ++x, r += 3) r[0] = U[x], r[1] = Y[x], r[2] = V[x];
    } else if (c == MakeFourCC('U', 'Y', 'V', 'Y') || c == MakeFourCC('U', 'Y', 'N', 'V') ||
               c == MakeFourCC('c', 'y', 'u', 'v')) {
      for (int x = 0; x < w; x += 2, r += 4) r[0] = U[x], r[1] = Y[x], r[2] = V[x], r[3] = Y[x + 1];
    } else if (c == MakeFourCC('Y', 'U', 'Y', '2') || c == MakeFourCC('Y', 'U', 'N', 'V')) {
      for (int x = 0; x < w; x += 2, r += 4) r[0] = Y[x], r[1] = U[x], r[2] = Y[x + 1], r[3] = V[x];
    } else if (c == MakeFourCC('Y', 'V', 'Y', 'U')) {
      for (int x = 0; x < w; x += 2, r += 4) r[0] = Y[x], r[1] = V[x], r[2] = Y[x + 1], r[3] = U[x];
    } else if (c == MakeFourCC('Y', '4', '1', 'P')) {
      for (int x = 0; x < w; x += 8, r += 12) {
        r[0] = U[x], r[1] = Y[x], r[2] = V[x], r[3] = Y[x + 1];
        r[4] = U[x + 4], r[5] = Y[x + 2], r[6] = V[x + 4], r[7] = Y[x + 3];
        r[8] = Y[x + 4], r[9] = Y[x + 5], r[10] = Y[x + 6], r[11] = Y[x + 7];
      }
    } else if (c == MakeFourCC('Y', '2', '1', '1')) {
      for (int x = 0; x < w; x += 4, r += 4) r[0] = Y[x], r[1] = U[x], r[2] = Y[x + 2], r[3] = V[x];
    } else if (c == MakeFourCC('C', 'L', 'J', 'R')) {
      for (int x = 0; x < w; x += 4, r += 4) {
        const uint32_t word = uint32_t(V[x] >> 2) | (uint32_t(U[x] >> 2) << 6) | (uint32_t(Y[x] >> 3) << 12) |
                              (uint32_t(Y[x + 1] >> 3) << 17) | (uint32_t(Y[x + 2] >> 3) << 22) |
                              (uint32_t(Y[x + 3] >> 3) << 27);
        r[0] = uint8_t(word), r[1] = uint8_t(word >> 8), r[2] = uint8_t(word >> 16),
        r[3] = uint8_t(word >> 24);
      }
    }
  }
}

bool TKVSyntheticDriver::DialogVideoSource(QWidget* parent) {
  QDialog dlg(parent);
  dlg.setWindowTitle("Video source");
  auto* form = new QFormLayout(&dlg);
  auto* rate = new QSpinBox(&dlg);
  rate->setRange(0, 240);
  rate->setSpecialValueText("unlimited");
  rate->setValue(opt_.FrameRate);
  form->addRow("Frames per second", rate);
  auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  QObject::connect(bb, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(bb, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  form->addRow(bb);
  if (dlg.exec() != QDialog::Accepted) return false;
  opt_.FrameRate = rate->value();
  return true;
}

bool TKVSyntheticDriver::DialogVideoFormat(QWidget* parent) {
  QDialog dlg(parent);
  dlg.setWindowTitle("Video format");
  auto* form = new QFormLayout(&dlg);
  auto* codes = new QComboBox(&dlg);
  for (const auto& a : opt_.Accepted) codes->addItem(QString::fromStdString(a));
  codes->setCurrentText(QString::fromStdString(FourCCToString(fmt_.biCompression)));
  auto* sizes = new QComboBox(&dlg);
  const QSize known[] = {{160, 120}, {320, 240}, {640, 480}, {800, 600}, {1280, 720}, {1920, 1080}};
  for (const QSize& s : known) sizes->addItem(QString("%1 x %2").arg(s.width()).arg(s.height()), s);
  const int cur = sizes->findData(QSize(fmt_.biWidth, fmt_.biHeight));
  if (cur >= 0) sizes->setCurrentIndex(cur);
  form->addRow("Pixel format", codes);
  form->addRow("Size", sizes);
  auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  QObject::connect(bb, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(bb, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  form->addRow(bb);
  if (dlg.exec() != QDialog::Accepted) return false;
  const QSize s = sizes->currentData().toSize();
  TBitmapInfoHeader h = fmt_;
  h.biWidth = s.width();
  h.biHeight = s.height();
  const std::string code = codes->currentText().toStdString();
  if (VideoFormatIndex(code) >= 0) {
    h.biCompression = StringToFourCC(code);
    h.biBitCount = uint16_t(VideoFormatTable[VideoFormatIndex(code)].Bits);
    return SetFormat(h);
  }
  // Outside the table (nothing accepted): only the size changes.
  fmt_.biWidth = h.biWidth;
  fmt_.biHeight = h.biHeight;
  fmt_.biSizeImage = uint32_t(FrameBytes(fmt_));
  return true;
}

int KVRegisterSyntheticCaptureDriver(const TKVSyntheticOptions& o, int index) {
  return KVRegisterCaptureDriver([o] { return std::make_unique<TKVSyntheticDriver>(o); }, index);
}

}  // namespace korvane
