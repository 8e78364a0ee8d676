// TKorvaneProc: data hidden in the pixels of the whole working bitmap.
#include "korvane/proc/kvproc.h"

namespace korvane {

int TKorvaneProc::WriteHiddenData(const void* Buffer, int Length) {
  TBitmap* b = GetBitmap();
  if (!b || b->PixelFormat() != pf24bit) return 0;
  if (auto_undo_) SaveUndo();
  const int n = _WriteHiddenData(b, Buffer, Length);
  Update();
  return n;
}

int TKorvaneProc::WriteHiddenText(const std::string& Text) {
  return WriteHiddenData(Text.data(), int(std::min<size_t>(Text.size(), INT32_MAX)));
}

int TKorvaneProc::ReadHiddenData(void* Buffer, int Max) { return _ReadHiddenData(GetBitmap(), Buffer, Max); }

std::string TKorvaneProc::ReadHiddenText() {
  const int n = _ReadHiddenData(GetBitmap(), nullptr, 0);
  std::string s(size_t(n), '\0');
  if (n > 0) _ReadHiddenData(GetBitmap(), s.data(), n);
  return s;
}

int TKorvaneProc::GetHiddenDataSpace() { return _GetHiddenDataSpace(GetBitmap()); }

}  // namespace korvane
