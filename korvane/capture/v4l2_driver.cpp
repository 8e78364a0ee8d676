#include "korvane/capture/v4l2_driver.h"

#include <fcntl.h>
#include <libv4l2.h>
#include <linux/videodev2.h>
#include <poll.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <cerrno>
#include <cstring>

#include "korvane/pixels/video/yuvconv.h"

namespace korvane {

namespace {

struct TCodeMap {
  const char* code;
  uint32_t pix;
};
// Codes V4L2 has a format for. IYU1, IYU2, cyuv, Y211 and CLJR have none.
const TCodeMap kCodeMap[] = {
    {"RGB ", V4L2_PIX_FMT_BGR24},  {"UYVY", V4L2_PIX_FMT_UYVY},   {"UYNV", V4L2_PIX_FMT_UYVY},
    {"YUY2", V4L2_PIX_FMT_YUYV},   {"YUNV", V4L2_PIX_FMT_YUYV},   {"YVYU", V4L2_PIX_FMT_YVYU},
    {"Y41P", V4L2_PIX_FMT_Y41P},   {"YVU9", V4L2_PIX_FMT_YVU410}, {"YV12", V4L2_PIX_FMT_YVU420},
    {"I420", V4L2_PIX_FMT_YUV420}, {"IYUV", V4L2_PIX_FMT_YUV420}};

int Xioctl(int fd, unsigned long req, void* arg) {
  int r;
  do r = v4l2_ioctl(fd, req, arg);
  while (r == -1 && errno == EINTR);
  return r;
}

std::string Cstr(const uint8_t* s, size_t n) {
  return std::string(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), n));
}

// Opens a device with libv4l2 and checks that it captures video; -1 when not.
int OpenCaptureDevice(const std::string& path, v4l2_capability& cap) {
  const int fd = v4l2_open(path.c_str(), O_RDWR | O_NONBLOCK);
  if (fd < 0) return -1;
  std::memset(&cap, 0, sizeof cap);
  if (Xioctl(fd, VIDIOC_QUERYCAP, &cap) == 0) {
    const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    if (caps & V4L2_CAP_VIDEO_CAPTURE) return fd;
  }
  v4l2_close(fd);
  return -1;
}

class TKVV4L2Driver : public TKVCaptureDriver {
 public:
  TKVV4L2Driver(std::string path, const v4l2_capability& cap) : path_(std::move(path)) {
    name_ = Cstr(cap.card, sizeof cap.card);
    version_ = std::to_string((cap.version >> 16) & 0xFF) + "." + std::to_string((cap.version >> 8) & 0xFF) +
               "." + std::to_string(cap.version & 0xFF);
    driver_ = Cstr(cap.driver, sizeof cap.driver);
    bus_ = Cstr(cap.bus_info, sizeof cap.bus_info);
  }
  ~TKVV4L2Driver() override { Disconnect(); }

  std::string Name() const override { return name_; }
  std::string Version() const override { return version_; }
  bool Connect() override {
    if (fd_ >= 0) return true;
    v4l2_capability cap;
    fd_ = OpenCaptureDevice(path_, cap);
    return fd_ >= 0;
  }
  void Disconnect() override {
    if (fd_ >= 0) v4l2_close(fd_);
    fd_ = -1;
  }
  bool Connected() const override { return fd_ >= 0; }
  TCapDriverCaps Caps() const override {
    TCapDriverCaps c;
    c.fHasDlgVideoSource = 1;
    c.fHasDlgVideoFormat = 1;
    c.fHasDlgVideoDisplay = 1;
    c.fCaptureInitialized = fd_ >= 0;
    return c;
  }

  std::vector<uint8_t> GetFormat() const override {
    TBitmapInfoHeader h;
    v4l2_format f;
    if (Query(f)) {
      h.biWidth = int32_t(f.fmt.pix.width);
      h.biHeight = int32_t(f.fmt.pix.height);
      std::string code;
      for (const auto& m : kCodeMap)
        if (m.pix == f.fmt.pix.pixelformat && code.empty()) code = m.code;
      if (!code.empty()) {
        h.biCompression = StringToFourCC(code);
        h.biBitCount = uint16_t(VideoFormatTable[VideoFormatIndex(code)].Bits);
      } else {
        // A camera format outside the table: described by its own code.
        h.biCompression = f.fmt.pix.pixelformat;
        h.biBitCount = uint16_t(f.fmt.pix.width ? f.fmt.pix.bytesperline * 8 / f.fmt.pix.width : 0);
      }
      h.biSizeImage = uint32_t(FrameBytes(h));
    }
    std::vector<uint8_t> v(sizeof h);
    std::memcpy(v.data(), &h, sizeof h);
    return v;
  }

  bool SetFormat(const TBitmapInfoHeader& h) override {
    const uint32_t pix = V4L2PixelFormatOf(FourCCToString(h.biCompression));
    if (fd_ < 0 || !pix || h.biWidth <= 0 || h.biHeight <= 0) return false;
    v4l2_format f;
    std::memset(&f, 0, sizeof f);
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    f.fmt.pix.width = uint32_t(h.biWidth);
    f.fmt.pix.height = uint32_t(h.biHeight);
    f.fmt.pix.pixelformat = pix;
    f.fmt.pix.field = V4L2_FIELD_ANY;
    if (Xioctl(fd_, VIDIOC_S_FMT, &f) != 0) return false;
    return f.fmt.pix.pixelformat == pix;
  }

  bool ReadFrame(std::vector<uint8_t>& Data, int WaitMs) override {
    if (fd_ < 0) return false;
    v4l2_format f;
    if (!Query(f) || f.fmt.pix.sizeimage == 0 || f.fmt.pix.sizeimage > (1u << 28)) return false;
    if (WaitMs > 0 && !V4L2WaitReadable(fd_, WaitMs)) return false;
    raw_.resize(f.fmt.pix.sizeimage);
    const ssize_t n = v4l2_read(fd_, raw_.data(), raw_.size());
    if (n <= 0) return false;
    // Rows become tight and, for the codes stored from the bottom, reversed.
    const std::vector<uint8_t> fv = GetFormat();
    TBitmapInfoHeader h;
    std::memcpy(&h, fv.data(), sizeof h);
    const size_t need = FrameBytes(h);
    const uint32_t c = h.biCompression;
    const bool planar = c == MakeFourCC('I', '4', '2', '0') || c == MakeFourCC('I', 'Y', 'U', 'V') ||
                        c == MakeFourCC('Y', 'V', '1', '2') || c == MakeFourCC('Y', 'V', 'U', '9');
    Data.assign(need, 0);
    if (planar || need == 0 || h.biHeight <= 0) {
      std::memcpy(Data.data(), raw_.data(), std::min(need, size_t(n)));
      return true;
    }
    const size_t rows = size_t(h.biHeight), outRow = need / rows, inRow = f.fmt.pix.bytesperline;
    const bool flip = c == TBitmapInfoHeader::kRGB || c == MakeFourCC('Y', '4', '1', 'P');
    for (size_t y = 0; y < rows && (y + 1) * inRow <= size_t(n); ++y)
      std::memcpy(Data.data() + (flip ? rows - 1 - y : y) * outRow, raw_.data() + y * inRow,
                  std::min(inRow, outRow));
    return true;
  }

  bool DialogVideoSource(QWidget* parent) override;
  bool DialogVideoFormat(QWidget* parent) override;
  bool DialogVideoDisplay(QWidget* parent) override;

 private:
  bool Query(v4l2_format& f) const {
    if (fd_ < 0) return false;
    std::memset(&f, 0, sizeof f);
    f.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    return Xioctl(fd_, VIDIOC_G_FMT, &f) == 0;
  }
  std::string path_, name_, version_, driver_, bus_;
  int fd_ = -1;
  std::vector<uint8_t> raw_;
};

QDialogButtonBox* AddButtons(QDialog& dlg, QFormLayout* form) {
  auto* bb = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dlg);
  QObject::connect(bb, &QDialogButtonBox::accepted, &dlg, &QDialog::accept);
  QObject::connect(bb, &QDialogButtonBox::rejected, &dlg, &QDialog::reject);
  form->addRow(bb);
  return bb;
}

// The device's controls: a spin box per integer, a check box per boolean and
// a list per menu; the values are set when the dialog is accepted.
bool TKVV4L2Driver::DialogVideoSource(QWidget* parent) {
  if (fd_ < 0) return false;
  QDialog dlg(parent);
  dlg.setWindowTitle(QString::fromStdString("Video source: " + name_));
  auto* form = new QFormLayout(&dlg);
  struct TEdit {
    uint32_t id;
    QWidget* w;
    int type;
  };
  std::vector<TEdit> edits;
  v4l2_queryctrl q;
  std::memset(&q, 0, sizeof q);
  q.id = V4L2_CTRL_FLAG_NEXT_CTRL;
  for (int guard = 0; guard < 1024 && Xioctl(fd_, VIDIOC_QUERYCTRL, &q) == 0; ++guard) {
    const uint32_t id = q.id;
    if (!(q.flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY))) {
      v4l2_control ctl{id, q.default_value};
      Xioctl(fd_, VIDIOC_G_CTRL, &ctl);
      const QString label = QString::fromStdString(Cstr(q.name, sizeof q.name));
      if (q.type == V4L2_CTRL_TYPE_INTEGER) {
        auto* s = new QSpinBox(&dlg);
        s->setRange(q.minimum, q.maximum);
        s->setSingleStep(std::max(1, q.step));
        s->setValue(ctl.value);
        form->addRow(label, s);
        edits.push_back({id, s, int(q.type)});
      } else if (q.type == V4L2_CTRL_TYPE_BOOLEAN) {
        auto* c = new QCheckBox(&dlg);
        c->setChecked(ctl.value != 0);
        form->addRow(label, c);
        edits.push_back({id, c, int(q.type)});
      } else if (q.type == V4L2_CTRL_TYPE_MENU) {
        auto* c = new QComboBox(&dlg);
        for (int i = q.minimum; i <= q.maximum && i - q.minimum < 64; ++i) {
          v4l2_querymenu m;
          std::memset(&m, 0, sizeof m);
          m.id = id;
          m.index = uint32_t(i);
          if (Xioctl(fd_, VIDIOC_QUERYMENU, &m) == 0)
            c->addItem(QString::fromStdString(Cstr(m.name, sizeof m.name)), i);
        }
        c->setCurrentIndex(c->findData(ctl.value));
        form->addRow(label, c);
        edits.push_back({id, c, int(q.type)});
      }
    }
    q.id = id | V4L2_CTRL_FLAG_NEXT_CTRL;
  }
  if (edits.empty()) form->addRow(new QLabel("The device has no adjustable controls.", &dlg));
  AddButtons(dlg, form);
  if (dlg.exec() != QDialog::Accepted) return false;
  for (const TEdit& e : edits) {
    v4l2_control ctl{e.id, 0};
    if (e.type == V4L2_CTRL_TYPE_INTEGER)
      ctl.value = static_cast<QSpinBox*>(e.w)->value();
    else if (e.type == V4L2_CTRL_TYPE_BOOLEAN)
      ctl.value = static_cast<QCheckBox*>(e.w)->isChecked();
    else
      ctl.value = static_cast<QComboBox*>(e.w)->currentData().toInt();
    Xioctl(fd_, VIDIOC_S_CTRL, &ctl);
  }
  return true;
}

// The camera's own formats and their discrete frame sizes.
bool TKVV4L2Driver::DialogVideoFormat(QWidget* parent) {
  if (fd_ < 0) return false;
  QDialog dlg(parent);
  dlg.setWindowTitle(QString::fromStdString("Video format: " + name_));
  auto* form = new QFormLayout(&dlg);
  auto* formats = new QComboBox(&dlg);
  auto* sizes = new QComboBox(&dlg);
  v4l2_fmtdesc d;
  for (uint32_t i = 0; i < 64; ++i) {
    std::memset(&d, 0, sizeof d);
    d.index = i;
    d.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (Xioctl(fd_, VIDIOC_ENUM_FMT, &d) != 0) break;
    formats->addItem(QString::fromStdString(Cstr(d.description, sizeof d.description)), d.pixelformat);
  }
  auto fillSizes = [this, formats, sizes] {
    sizes->clear();
    v4l2_frmsizeenum s;
    for (uint32_t i = 0; i < 64; ++i) {
      std::memset(&s, 0, sizeof s);
      s.index = i;
      s.pixel_format = formats->currentData().toUInt();
      if (Xioctl(fd_, VIDIOC_ENUM_FRAMESIZES, &s) != 0 || s.type != V4L2_FRMSIZE_TYPE_DISCRETE) break;
      sizes->addItem(QString("%1 x %2").arg(s.discrete.width).arg(s.discrete.height),
                     QSize(int(s.discrete.width), int(s.discrete.height)));
    }
  };
  QObject::connect(formats, &QComboBox::currentIndexChanged, &dlg, fillSizes);
  fillSizes();
  form->addRow("Camera format", formats);
  form->addRow("Size", sizes);
  AddButtons(dlg, form);
  if (dlg.exec() != QDialog::Accepted || formats->count() == 0) return false;
  v4l2_format f;
  if (!Query(f)) return false;
  f.fmt.pix.pixelformat = formats->currentData().toUInt();
  if (sizes->count() > 0) {
    const QSize s = sizes->currentData().toSize();
    f.fmt.pix.width = uint32_t(s.width());
    f.fmt.pix.height = uint32_t(s.height());
  }
  return Xioctl(fd_, VIDIOC_S_FMT, &f) == 0;
}

bool TKVV4L2Driver::DialogVideoDisplay(QWidget* parent) {
  QDialog dlg(parent);
  dlg.setWindowTitle("Video display");
  auto* form = new QFormLayout(&dlg);
  form->addRow("Device", new QLabel(QString::fromStdString(path_), &dlg));
  form->addRow("Camera", new QLabel(QString::fromStdString(name_), &dlg));
  form->addRow("Driver", new QLabel(QString::fromStdString(driver_ + " " + version_), &dlg));
  form->addRow("Bus", new QLabel(QString::fromStdString(bus_), &dlg));
  AddButtons(dlg, form);
  return dlg.exec() == QDialog::Accepted;
}

}  // namespace

bool V4L2WaitReadable(int fd, int ms) {
  // poll, not select: fd_set has room for descriptors below 1024 only.
  pollfd p{fd, POLLIN, 0};
  int r;
  do r = ::poll(&p, 1, ms);
  while (r < 0 && errno == EINTR);
  return r > 0 && (p.revents & POLLIN);
}

uint32_t V4L2PixelFormatOf(const std::string& code) {
  for (const auto& m : kCodeMap)
    if (code == m.code) return m.pix;
  return 0;
}

std::unique_ptr<TKVCaptureDriver> CreateV4L2DriverForPath(const std::string& path) {
  v4l2_capability cap;
  const int fd = OpenCaptureDevice(path, cap);
  if (fd < 0) return nullptr;
  v4l2_close(fd);
  return std::make_unique<TKVV4L2Driver>(path, cap);
}

std::unique_ptr<TKVCaptureDriver> CreateV4L2Driver(int index) {
  if (index < 0 || index >= kCaptureDriverCount) return nullptr;
  return CreateV4L2DriverForPath("/dev/video" + std::to_string(index));
}

}  // namespace korvane
