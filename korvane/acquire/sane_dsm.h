/// \file
/// Korvane's built-in TWAIN source manager: every SANE device is a source.
/// libsane is opened with dlopen when the manager opens (no libsane: no
/// sources) and closed with it. A source's ProductName is the SANE device
/// name ("test:0"), its Manufacturer and ProductFamily the device's vendor and
/// model. The devices are listed only for an enumeration, the selection
/// dialog or the default source (listing makes every backend probe its buses
/// and the network); a source named in MSG_OPENDS is opened directly.
/// Capabilities map onto SANE options: resolution, mode and depth
/// (pixel type and bit depth), the scan area (image layout frame, inches to
/// millimetres), and a source option naming a document feeder
/// (CAP_FEEDERENABLED, one pending transfer per page the feeder still has).
/// A page is read whole when its transfer starts and handed out as memory
/// strips or as a packed DIB. One source is open at a time.
#pragma once
#include "korvane/acquire/twain_types.h"
#include "korvane/foundations/host/export.h"

namespace korvane {

KORVANE_EXPORT TW_UINT16 SaneDSM_Entry(TW_IDENTITY* pOrigin, TW_IDENTITY* pDest, TW_UINT32 DG, TW_UINT16 DAT,
                                       TW_UINT16 MSG, TW_MEMREF pData);

}  // namespace korvane
