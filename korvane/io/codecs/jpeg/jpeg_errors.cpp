#include "korvane/io/codecs/jpeg/jpeg_errors.h"

#include <jerror.h>

namespace korvane {

namespace {

constexpr int kMaxScans = 1000;

void ErrorExit(j_common_ptr cinfo) {
  auto* e = reinterpret_cast<TJpegErrorMgr*>(cinfo->err);
  e->code = cinfo->err->msg_code;
  longjmp(e->jump, 1);
}
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char* buffer) { buffer[0] = 0; }
void ResetErrorMgr(j_common_ptr cinfo) {
  cinfo->err->msg_code = 0;
  cinfo->err->num_warnings = 0;
}

}  // namespace

void KVInitJpegErrors(TJpegErrorMgr& e) {
  jpeg_std_error(&e.pub);
  e.pub.error_exit = ErrorExit;
  e.pub.emit_message = EmitMessage;
  e.pub.output_message = OutputMessage;
  e.pub.format_message = FormatMessage;
  e.pub.reset_error_mgr = ResetErrorMgr;
  e.code = 0;
}

void KVJpegScanLimit(j_common_ptr cinfo) {
  if (cinfo->is_decompressor && reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxScans)
    ERREXIT(cinfo, JERR_BAD_PROGRESSION);
}

}  // namespace korvane
