/// \file
/// The padlock of the "Lock preview" buttons, drawn so that no image file is
/// needed.
#pragma once
#include <QIcon>

#include "korvane/foundations/host/export.h"

namespace korvane {

KORVANE_EXPORT QIcon PadlockIcon();

}  // namespace korvane
