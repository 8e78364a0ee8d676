/// \file
/// The resolution readers give a file that states none.
#pragma once

#include "korvane/foundations/host/export.h"

namespace korvane {

/// The screen resolution noted when the first view or I/O component was made
/// (gSystemDPIX/Y), else the screen's. Readers running on worker threads (the
/// multi-image view's decoders, the command line's parallel jobs) thus never
/// ask Qt's screen, which belongs to the interface thread.
KORVANE_EXPORT int SystemDpiX();
/// The vertical counterpart of SystemDpiX: gSystemDPIY when noted, else the
/// screen's vertical resolution, in dots per inch.
KORVANE_EXPORT int SystemDpiY();

}  // namespace korvane
