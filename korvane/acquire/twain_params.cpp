#include <cctype>
#include <cstring>

#include "korvane/acquire/twain.h"
#include "korvane/io/kvio.h"

namespace korvane {

TKVTWainParams::TKVTWainParams(TComponent* Owner) : owner_(Owner) { SetDefaultParams(); }

TKVTWainParams::~TKVTWainParams() = default;

void TKVTWainParamsDelete::operator()(TKVTWainParams* p) const { delete p; }

void TKVTWainParams::SetDefaultParams() {
  visible_dialog_ = true;
  sources_.Clear();
  selected_ = 0;
  sources_filled_ = false;
  caps_filled_ = false;
  for (TKVDoubleList* l : {&xres_, &yres_, &xscale_, &yscale_}) l->Clear();
  pixel_type_.Clear();
  orientation_.Clear();
  gamma_ = 2.2;
  physical_height_ = physical_width_ = 0;
  feeder_enabled_ = false;
  indicators_ = true;
  for (double& f : frame_) f = 0;
  buffered_ = true;
  time_limit_ms_ = kDefaultTimeLimit;
}

void TKVTWainParams::Assign(const TKVTWainParams* s) {
  if (!s || s == this) return;
  visible_dialog_ = s->visible_dialog_;
  sources_.Assign(s->sources_);
  selected_ = s->selected_;
  sources_filled_ = s->sources_filled_;
  caps_filled_ = s->caps_filled_;
  xres_.Assign(s->xres_);
  yres_.Assign(s->yres_);
  xscale_.Assign(s->xscale_);
  yscale_.Assign(s->yscale_);
  pixel_type_.Assign(s->pixel_type_);
  gamma_ = s->gamma_;
  physical_height_ = s->physical_height_;
  physical_width_ = s->physical_width_;
  feeder_enabled_ = s->feeder_enabled_;
  orientation_.Assign(s->orientation_);
  indicators_ = s->indicators_;
  std::memcpy(frame_, s->frame_, sizeof frame_);
  buffered_ = s->buffered_;
  time_limit_ms_ = s->time_limit_ms_;
}

void TKVTWainParams::FillSourceListData() {
  if (sources_filled_) return;
  // Marked first: reading the capabilities below asks for the list again.
  sources_filled_ = true;
  sources_.Clear();
  KVTW_GetSourceList(&sources_);
  FillCapabilities();
}

void TKVTWainParams::FillCapabilities() {
  if (caps_filled_) return;
  caps_filled_ = true;
  KVTW_GetCapabilities(this, false);
}

void TKVTWainParams::Update() {
  KVTW_GetCapabilities(this, true);
  caps_filled_ = true;
}

std::string TKVTWainParams::GetSourceName(int i) {
  const TW_IDENTITY* id = GetSourceIdentity(i);
  return id ? TWStr(id->ProductName) : std::string();
}

int TKVTWainParams::GetSourceCount() {
  FillSourceListData();
  return sources_.Count();
}

const TW_IDENTITY* TKVTWainParams::GetSourceIdentity(int i) {
  FillSourceListData();
  return static_cast<const TW_IDENTITY*>(sources_.GetItem(i));
}

bool TKVTWainParams::SelectSourceByName(const std::string& Name) {
  const int n = GetSourceCount();
  for (int i = 0; i < n; ++i) {
    const std::string s = GetSourceName(i);
    if (s.size() < Name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < Name.size() && same; ++k)
      same =
          std::tolower(static_cast<unsigned char>(s[k])) == std::tolower(static_cast<unsigned char>(Name[k]));
    if (same) {
      SetSelectedSource(i);
      return true;
    }
  }
  return false;
}

void TKVTWainParams::SetSelectedSource(int i) {
  if (i == selected_) return;
  selected_ = i;
  caps_filled_ = false;
  FillCapabilities();
}

TKVDoubleList* TKVTWainParams::GetXResolution() { return FillCapabilities(), &xres_; }
TKVDoubleList* TKVTWainParams::GetYResolution() { return FillCapabilities(), &yres_; }
TKVDoubleList* TKVTWainParams::GetXScaling() { return FillCapabilities(), &xscale_; }
TKVDoubleList* TKVTWainParams::GetYScaling() { return FillCapabilities(), &yscale_; }
TKVIntegerList* TKVTWainParams::GetPixelType() { return FillCapabilities(), &pixel_type_; }
TKVIntegerList* TKVTWainParams::GetOrientation() { return FillCapabilities(), &orientation_; }
double TKVTWainParams::GetGamma() { return FillCapabilities(), gamma_; }
double TKVTWainParams::GetPhysicalHeight() { return FillCapabilities(), physical_height_; }
double TKVTWainParams::GetPhysicalWidth() { return FillCapabilities(), physical_width_; }
bool TKVTWainParams::GetFeederEnabled() { return FillCapabilities(), feeder_enabled_; }
bool TKVTWainParams::GetIndicators() { return FillCapabilities(), indicators_; }

double TKVTWainParams::GetAcquireFrame(int i) {
  FillCapabilities();
  return i >= 0 && i < 4 ? frame_[i] : 0;
}

void TKVTWainParams::SetAcquireFrame(int i, double v) {
  if (i >= 0 && i < 4) frame_[i] = v;
}

}  // namespace korvane
