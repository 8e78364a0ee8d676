// The padlock of the "Lock preview" buttons, drawn so that no image file is
// needed.
#pragma once
#include <QIcon>

namespace korvane {

QIcon PadlockIcon();

}  // namespace korvane
