// TKorvaneMIO's scanner acquisition: every page the selected TWAIN source
// delivers becomes an image of the attached multi-image view.
#include <algorithm>

#include "korvane/acquire/twain.h"
#include "korvane/multi/kvmio.h"

namespace korvane {

TKVTWainParams* TKorvaneMIO::TWainParams() {
  if (!twain_params_) twain_params_.reset(new TKVTWainParams(this));
  return twain_params_.get();
}

bool TKorvaneMIO::Acquire() {
  Aborting = false;
  if (!view_) return false;
  HWND window = KVFindHandle(this);
  TProgressRec pr = MakeProgress();
  int index = std::max(view_->GetSelectedItem(), 0);
  // The pages inserted so far are shown, also when the acquisition raised.
  struct Finish {
    TKorvaneMIO* mio;
    HWND window;
    ~Finish() {
      if (window) window->activateWindow(), window->setFocus();
      mio->Update();
    }
  } finish{this, window};
  // Each page is inserted at the acquisition index (the view's list change
  // inserts its record), the layer fills that record, and the view keeps a
  // copy of the page.
  const bool ok = KVTW_Acquire(window, nullptr, true, pr, nullptr, TWainParams(),
                               [&](TBitmap* page, TIOParamsVals*& params) {
                                 if (!view_) return;
                                 view_->InsertImage(index);
                                 params = GetParams(index);
                                 view_->SetImage(index, page);
                                 view_->SetImageDelayTime(index, 100);
                                 ++index;
                               });
  return ok;
}

bool TKorvaneMIO::SelectAcquireSource() {
  std::string name;
  if (!KVTW_SelectImageSource(KVFindHandle(this), name)) return false;
  TWainParams()->SelectSourceByName(name);
  return true;
}

}  // namespace korvane
