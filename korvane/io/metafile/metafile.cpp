// Interim: header parsing only, replaced by the player.
#include "korvane/io/metafile/metafile.h"

#include "korvane/foundations/host/exceptions.h"
#include "korvane/view/kvview.h"

namespace korvane {

void TMetafile::LoadFromStream(TStream* stream) {
  Clear();
  const int64_t n = stream->Size() - stream->Position();
  if (n < 40 || n > kMaxMetafileBytes) throw EInvalidGraphic("unrecognized WMF or EMF");
  std::vector<uint8_t> d(static_cast<size_t>(n));
  stream->ReadBuffer(d.data(), n);
  auto u16 = [&](size_t o) { return int(d[o] | d[o + 1] << 8); };
  auto s16 = [&](size_t o) { return int(int16_t(u16(o))); };
  auto u32 = [&](size_t o) { return uint32_t(u16(o)) | uint32_t(u16(o + 2)) << 16; };
  if (u32(0) == 0x9AC6CDD7u) {
    const int inch = u16(14);
    if (inch <= 0) throw EInvalidGraphic("unrecognized WMF or EMF");
    width_ = int((int64_t(s16(10)) - s16(6)) * gSystemDPIX / inch);
    height_ = int((int64_t(s16(12)) - s16(8)) * gSystemDPIY / inch);
  } else if (u32(0) == 1 && u32(40) == 0x464D4520u) {
    enhanced_ = true;
    const int32_t l = int32_t(u32(24)), t = int32_t(u32(28)), r = int32_t(u32(32)), b = int32_t(u32(36));
    width_ = int((int64_t(r) - l) * gSystemDPIX / 2540);
    height_ = int((int64_t(b) - t) * gSystemDPIY / 2540);
  } else {
    throw EInvalidGraphic("unrecognized WMF or EMF");
  }
  data_ = std::move(d);
}

void TMetafile::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  LoadFromStream(&f);
}

void TMetafile::SaveToStream(TStream* stream) const { stream->WriteBuffer(data_.data(), int64_t(data_.size())); }

void TMetafile::Clear() {
  data_.clear();
  enhanced_ = false;
  width_ = height_ = 0;
}

void TMetafile::Draw(TCanvas*, const TRect&) const {}

}  // namespace korvane
