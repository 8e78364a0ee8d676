/// \file
/// FFmpeg, loaded when the first AVI file is opened or written.
///
/// Linking FFmpeg's libraries into every program that uses the library would
/// load them, and the hundred-odd libraries they bring, at every start: some
/// 90 ms of processor time before main, for programs that mostly never touch
/// a video. The AVI code calls FFmpeg through this table instead, filled from
/// the shared libraries of the major versions the library was built against.
#pragma once

#include "korvane/foundations/host/export.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace korvane {

#define KV_FFMPEG_FUNCTIONS(X)                                                                                \
  X(av_codec_is_encoder)                                                                                    \
  X(av_codec_iterate) X(av_find_input_format) X(av_frame_alloc) X(av_frame_free) X(av_frame_get_buffer)     \
  X(av_frame_make_writable) X(av_frame_unref) X(av_free) X(av_freep) X(av_guess_format)                     \
  X(av_interleaved_write_frame) X(av_log_set_level) X(av_malloc) X(av_new_packet) X(av_opt_set_int)         \
  X(av_packet_alloc) X(av_packet_free) X(av_packet_rescale_ts) X(av_packet_unref) X(av_pix_fmt_desc_get)    \
  X(av_read_frame) X(av_write_trailer) X(avcodec_alloc_context3) X(avcodec_find_decoder)                   \
  X(avcodec_find_encoder_by_name) X(avcodec_free_context) X(avcodec_open2) X(avcodec_parameters_from_context) \
  X(avcodec_parameters_to_context) X(avcodec_receive_frame) X(avcodec_receive_packet) X(avcodec_send_frame) \
  X(avcodec_send_packet) X(avformat_alloc_context) X(avformat_alloc_output_context2) X(avformat_close_input) \
  X(avformat_free_context) X(avformat_new_stream) X(avformat_open_input) X(avformat_query_codec)            \
  X(avformat_write_header) X(avio_alloc_context) X(avio_closep) X(avio_context_free) X(avio_flush)          \
  X(avio_open) X(avio_size) X(sws_freeContext) X(sws_getColorspaceDetails) X(sws_getContext) X(sws_scale)  \
  X(sws_setColorspaceDetails)

struct TFFmpegApi {
#define KV_FFMPEG_MEMBER(name) decltype(&::name) name = nullptr;
  KV_FFMPEG_FUNCTIONS(KV_FFMPEG_MEMBER)
#undef KV_FFMPEG_MEMBER
};

/// The functions, loaded on the first call. Raises EInvalidGraphic naming the
/// library when FFmpeg's libraries cannot be loaded or lack a function.
KORVANE_EXPORT const TFFmpegApi& FF();

}  // namespace korvane
