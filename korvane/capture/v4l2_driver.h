/// \file
/// The V4L2 capture driver over libv4l2: driver index i is the camera
/// /dev/video<i>. Name and version come from VIDIOC_QUERYCAP; the table's
/// codes map to V4L2 pixel formats, and "RGB " is asked of libv4l2, which
/// converts to it from whatever the camera offers.
#pragma once
#include <memory>
#include <string>

#include "korvane/capture/capture_driver.h"
#include "korvane/foundations/host/export.h"

namespace korvane {

/// The V4L2 pixel format of a table code, 0 when V4L2 has none.
KORVANE_EXPORT uint32_t V4L2PixelFormatOf(const std::string& code);

/// Waits up to ms milliseconds for fd to have data to read; true when it has.
/// Any descriptor number works.
KORVANE_EXPORT bool V4L2WaitReadable(int fd, int ms);

/// A driver for /dev/video<index> when that device opens and captures video;
/// null otherwise.
KORVANE_EXPORT std::unique_ptr<TKVCaptureDriver> CreateV4L2Driver(int index);
/// The same for any device path (tests point it at nodes that are not cameras).
KORVANE_EXPORT std::unique_ptr<TKVCaptureDriver> CreateV4L2DriverForPath(const std::string& path);

}  // namespace korvane
