/// \file
/// libjpeg's error handling as the JPEG and TIFF codecs use it.
///
/// libjpeg reports fatal errors through error_exit, which must not return.
/// The manager below jumps back to the setjmp of the guarded call that entered
/// the library; the frames in between are the library's (C) and these
/// callbacks, which hold no objects with destructors at that point. Warnings
/// and trace messages are dropped.
#pragma once
#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "korvane/foundations/host/export.h"

namespace korvane {

struct TJpegErrorMgr {
  jpeg_error_mgr pub;  ///< first: the library sees only this part
  jmp_buf jump;
  int code;  ///< the library's message code of the last fatal error
};

/// Installs the callbacks; point cinfo.err at &e.pub.
KORVANE_EXPORT void KVInitJpegErrors(TJpegErrorMgr& e);

/// A progress monitor that ends a stream after too many scans: a hostile
/// progressive file can make every scan a full pass over the image, and real
/// encoders write at most a few dozen.
KORVANE_EXPORT void KVJpegScanLimit(j_common_ptr cinfo);

}  // namespace korvane
