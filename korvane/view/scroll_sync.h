/// \file
/// The window scroll bar of a scrolling control kept in step with its view.
#pragma once
#include "korvane/foundations/host/controls.h"
#include "korvane/foundations/host/export.h"

namespace korvane {

/// Nothing when the control does not use the bar (enabled false). Otherwise,
/// with something to scroll (maxView, the largest view offset, at least 1),
/// sets the bar to the range 0 .. client + maxView - 1 with a page of client
/// at pos and shows it; with nothing to scroll hides it.
KORVANE_EXPORT void SyncScrollBar(TCustomControl* window, int bar, bool enabled, int maxView, int client,
                                  int pos);

}  // namespace korvane
