// TKorvaneIO's scanner acquisition: one image from the selected TWAIN source
// into the target bitmap.
#include "korvane/acquire/twain.h"
#include "korvane/io/kvio.h"
#include "korvane/view/kvview.h"

namespace korvane {

TKVTWainParams* TKorvaneIO::TWainParams() {
  if (!twain_params_) twain_params_.reset(new TKVTWainParams(this));
  return twain_params_.get();
}

bool TKorvaneIO::Acquire() {
  TBitmap* b = Begin();
  if (!b) return false;
  HWND window = KVFindHandle(this);
  TProgressRec pr = MakeProgress();
  // The view shows whatever the bitmap became, also when the acquisition
  // raised (a source that stopped answering, a handler's exception).
  struct Finish {
    TKorvaneIO* io;
    HWND window;
    ~Finish() {
      if (window) window->activateWindow(), window->setFocus();
      io->Update();
    }
  } finish{this, window};
  const bool ok = KVTW_Acquire(window, b, false, pr, &params_, TWainParams());
  if (ok && target_.View()) target_.View()->SetDPI(params_.DpiX, params_.DpiY);
  return ok;
}

bool TKorvaneIO::SelectAcquireSource() {
  std::string name;
  if (!KVTW_SelectImageSource(KVFindHandle(this), name)) return false;
  TWainParams()->SelectSourceByName(name);
  return true;
}

}  // namespace korvane
