// The AVI file layer over libavformat and libavcodec.
#include "korvane/multi/avi_file.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <exception>
#include <utility>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/winsys.h"
#include "korvane/io/codecs/jpeg/jpeg_errors.h"
#include "korvane/pixels/video/yuvconv.h"
#include "korvane/proc/kvproc.h"

#include "korvane/multi/ffmpeg_api.h"

namespace korvane {

namespace {

// FFmpeg logs to standard error by default; the library stays quiet and
// reports through its exceptions.
void QuietFFmpeg() {
  static bool done = false;
  if (!done) {
    FF().av_log_set_level(AV_LOG_QUIET);
    done = true;
  }
}

void PutHeader(uint8_t* p, int w, int h, int bits, uint32_t comp, uint32_t imageSize) {
  TBitmapInfoHeader hdr;
  hdr.biWidth = w;
  hdr.biHeight = h;
  hdr.biBitCount = uint16_t(bits);
  hdr.biCompression = comp;
  hdr.biSizeImage = imageSize;
  std::memcpy(p, &hdr, sizeof hdr);
}

// The decoders still report JPEG-range YUV as formats of their own; swscale
// takes them as the plain format with a full-range source, and a cached
// context given one of them is built anew on every call, which costs more
// than the conversion itself. The plain format, and whether the range is full.
AVPixelFormat PlainFormat(const AVFrame* f, bool& fullRange) {
  fullRange = f->color_range == AVCOL_RANGE_JPEG;
  switch (AVPixelFormat(f->format)) {
    case AV_PIX_FMT_YUVJ420P:
      fullRange = true;
      return AV_PIX_FMT_YUV420P;
    case AV_PIX_FMT_YUVJ422P:
      fullRange = true;
      return AV_PIX_FMT_YUV422P;
    case AV_PIX_FMT_YUVJ444P:
      fullRange = true;
      return AV_PIX_FMT_YUV444P;
    case AV_PIX_FMT_YUVJ440P:
      fullRange = true;
      return AV_PIX_FMT_YUV440P;
    case AV_PIX_FMT_YUVJ411P:
      fullRange = true;
      return AV_PIX_FMT_YUV411P;
    default:
      return AVPixelFormat(f->format);
  }
}

}  // namespace

int64_t KVAVIFramePixelLimit(uint64_t dataBytes) {
  const uint64_t byData = dataBytes > uint64_t(kAVIMaxPixels / kAVIPixelsPerByte)
                              ? uint64_t(kAVIMaxPixels)
                              : dataBytes * uint64_t(kAVIPixelsPerByte);
  return std::min(kAVIMaxPixels, std::max(kAVIFreePixels, int64_t(byData)));
}

int KVAVIDelayMs(int64_t scale, int64_t rate) {
  if (rate <= 0 || scale <= 0) return 0;
  // Exact in integers: 1000 * scale fits in 64 bits for any 32-bit scale,
  // and a hostile header cannot push the result outside int.
  if (scale > INT64_MAX / 1000) return INT32_MAX;
  return int(std::min<int64_t>(scale * 1000 / rate, INT32_MAX));
}

// ---------------------------------------------------------------------------
// Encoders

std::vector<TKVAVIEncoder> KVAVIEncoders() {
  QuietFFmpeg();
  std::vector<TKVAVIEncoder> out = {{"rawvideo", "Uncompressed DIB"}};
  std::vector<TKVAVIEncoder> rest;
  const AVOutputFormat* ofmt = FF().av_guess_format("avi", nullptr, nullptr);
  bool mjpeg = false, ffv1 = false;
  void* it = nullptr;
  while (const AVCodec* c = FF().av_codec_iterate(&it)) {
    if (!FF().av_codec_is_encoder(c) || c->type != AVMEDIA_TYPE_VIDEO || c->id == AV_CODEC_ID_RAWVIDEO) continue;
    if (c->capabilities & AV_CODEC_CAP_EXPERIMENTAL) continue;
    if (!ofmt || FF().avformat_query_codec(ofmt, c->id, FF_COMPLIANCE_NORMAL) != 1) continue;
    std::string name = c->name;
    if (name == "mjpeg")
      mjpeg = true;
    else if (name == "ffv1")
      ffv1 = true;
    else
      rest.push_back({name, c->long_name ? c->long_name : name});
  }
  if (mjpeg) out.push_back({"mjpeg", "Motion JPEG"});
  if (ffv1) out.push_back({"ffv1", "FFV1 lossless"});
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

// ---------------------------------------------------------------------------
// Reader

namespace {

// Motion JPEG frames are whole JPEG pictures. libjpeg decodes one straight to
// 24-bit rows in a single pass, where the general route decodes to planes and
// converts them after: a fifth of the time of a load. Chroma is repeated, not
// interpolated, as the converter's nearest-sample scaling does. A frame it
// cannot take (another size, as the fields of an interlaced frame have, a
// colour model without a BGR conversion, bad data) goes the general route.
class MJpegFrames {
 public:
  MJpegFrames() {
    KVInitJpegErrors(err_);
    cinfo_.err = &err_.pub;
    progress_.progress_monitor = KVJpegScanLimit;
    ok_ = Create(this);
  }
  ~MJpegFrames() {
    if (ok_) jpeg_destroy_decompress(&cinfo_);
  }
  MJpegFrames(const MJpegFrames&) = delete;
  MJpegFrames& operator=(const MJpegFrames&) = delete;

  // Reads the frame's header; true when it is a w x h picture this class
  // decodes. Read (or Abort) must follow a true answer.
  bool Begin(const uint8_t* data, size_t n, int w, int h) {
    if (!ok_ || !n) return false;
    if (!Header(this, data, n)) return Abort();
    if (int(cinfo_.image_width) != w || int(cinfo_.image_height) != h || cinfo_.data_precision != 8)
      return Abort();
    return true;
  }
  // Decodes the frame begun into rows from first, stride bytes apart.
  bool Read(uint8_t* first, ptrdiff_t stride) { return Rows(this, first, stride) || Abort(); }
  bool Abort() {
    if (ok_) jpeg_abort_decompress(&cinfo_);
    return false;
  }

 private:
  // Guarded calls: each sets the jump point for the library's fatal errors
  // and holds nothing with a destructor.
  static bool Create(MJpegFrames* m) {
    if (setjmp(m->err_.jump)) return false;
    jpeg_create_decompress(&m->cinfo_);
    m->cinfo_.progress = &m->progress_;
    return true;
  }
  static bool Header(MJpegFrames* m, const uint8_t* data, size_t n) {
    if (setjmp(m->err_.jump)) return false;
    jpeg_mem_src(&m->cinfo_, data, static_cast<unsigned long>(n));
    if (jpeg_read_header(&m->cinfo_, TRUE) != JPEG_HEADER_OK) return false;
    // A progressive frame keeps its coefficients: 2 bytes a sample, three
    // planes, with room for padding; the size was checked against the file.
    m->cinfo_.mem->max_memory_to_use =
        long(std::min<uint64_t>(uint64_t(m->cinfo_.image_width + 64) * (m->cinfo_.image_height + 64) * 8 + (16 << 20),
                                uint64_t(1) << 31));
    m->cinfo_.out_color_space = JCS_EXT_BGR;
    m->cinfo_.do_fancy_upsampling = FALSE;
    m->cinfo_.dct_method = JDCT_ISLOW;
    return true;
  }
  static bool Rows(MJpegFrames* m, uint8_t* first, ptrdiff_t stride) {
    if (setjmp(m->err_.jump)) return false;
    j_decompress_ptr c = &m->cinfo_;
    if (!jpeg_start_decompress(c) || c->output_components != 3) return false;
    JSAMPROW rows[16];
    while (c->output_scanline < c->output_height) {
      const JDIMENSION n = std::min<JDIMENSION>(16, c->output_height - c->output_scanline);
      for (JDIMENSION k = 0; k < n; ++k) rows[k] = first + ptrdiff_t(c->output_scanline + k) * stride;
      if (jpeg_read_scanlines(c, rows, n) == 0) return false;
    }
    jpeg_finish_decompress(c);
    return true;
  }

  jpeg_decompress_struct cinfo_{};
  TJpegErrorMgr err_;
  jpeg_progress_mgr progress_{};
  bool ok_ = false;
};

}  // namespace

struct TKVAVIReader::Impl {
  // Motion JPEG frames go through libjpeg first.
  std::unique_ptr<MJpegFrames> mjpeg;
  AVFormatContext* fmt = nullptr;
  AVCodecContext* dec = nullptr;
  // The converter to 24-bit rows, kept while the frames' format stays.
  SwsContext* sws = nullptr;
  AVPixelFormat swsFormat = AV_PIX_FMT_NONE;
  bool swsFullRange = false;
  AVPacket* pkt = nullptr;
  AVFrame* frame = nullptr;
  int stream = -1;
  // Frames handed on as DIBs: the header to put in front of each packet.
  bool asDIB = false;
  std::vector<uint8_t> header;
  size_t frameBytes = 0;  // a complete uncompressed frame
  bool draining = false;
  // Reading from memory.
  AVIOContext* io = nullptr;
  const uint8_t* mem = nullptr;
  size_t memSize = 0, memPos = 0;

  // The converter for frame f (of the stream's size), or null.
  SwsContext* Converter(const AVFrame* f) {
    bool full = false;
    const AVPixelFormat fmt = PlainFormat(f, full);
    if (sws && fmt == swsFormat && full == swsFullRange) return sws;
    FF().sws_freeContext(sws);
    sws = FF().sws_getContext(f->width, f->height, fmt, f->width, f->height, AV_PIX_FMT_BGR24, SWS_POINT, nullptr,
                         nullptr, nullptr);
    swsFormat = fmt;
    swsFullRange = full;
    const AVPixFmtDescriptor* desc = FF().av_pix_fmt_desc_get(fmt);
    if (sws && full && desc && !(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
      int *inv = nullptr, *table = nullptr;
      int srcRange = 0, dstRange = 0, brightness = 0, contrast = 0, saturation = 0;
      if (FF().sws_getColorspaceDetails(sws, &inv, &srcRange, &table, &dstRange, &brightness, &contrast,
                                   &saturation) >= 0)
        FF().sws_setColorspaceDetails(sws, inv, 1, table, dstRange, brightness, contrast, saturation);
    }
    return sws;
  }

  static int ReadMem(void* opaque, uint8_t* buf, int n) {
    Impl* d = static_cast<Impl*>(opaque);
    size_t left = d->memSize - d->memPos;
    if (left == 0) return AVERROR_EOF;
    size_t k = std::min(left, size_t(n));
    std::memcpy(buf, d->mem + d->memPos, k);
    d->memPos += k;
    return int(k);
  }
  static int64_t SeekMem(void* opaque, int64_t off, int whence) {
    Impl* d = static_cast<Impl*>(opaque);
    if (whence == AVSEEK_SIZE) return int64_t(d->memSize);
    int64_t base = (whence & 3) == SEEK_CUR   ? int64_t(d->memPos)
                   : (whence & 3) == SEEK_END ? int64_t(d->memSize)
                                              : 0;
    int64_t p = base + off;
    if (p < 0 || p > int64_t(d->memSize)) return AVERROR(EINVAL);
    d->memPos = size_t(p);
    return p;
  }

  ~Impl() {
    FF().sws_freeContext(sws);
    FF().av_frame_free(&frame);
    FF().av_packet_free(&pkt);
    FF().avcodec_free_context(&dec);
    FF().avformat_close_input(&fmt);
    if (io) {
      FF().av_freep(&io->buffer);
      FF().avio_context_free(&io);
    }
  }
};

TKVAVIReader::TKVAVIReader(const std::string& name) : d_(std::make_unique<Impl>()) { Open(name.c_str()); }

TKVAVIReader::TKVAVIReader(const uint8_t* data, size_t size) : d_(std::make_unique<Impl>()) {
  d_->mem = data;
  d_->memSize = size;
  const int bufSize = 4096;
  uint8_t* buf = static_cast<uint8_t*>(FF().av_malloc(bufSize));
  if (buf) d_->io = FF().avio_alloc_context(buf, bufSize, 0, d_.get(), &Impl::ReadMem, nullptr, &Impl::SeekMem);
  if (!d_->io) {
    FF().av_free(buf);
    throw EInvalidGraphic("unable to open AVI file");
  }
  d_->fmt = FF().avformat_alloc_context();
  if (!d_->fmt) throw EInvalidGraphic("unable to open AVI file");
  d_->fmt->pb = d_->io;
  d_->fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  Open(nullptr);
}

void TKVAVIReader::Open(const char* name) {
  QuietFFmpeg();
  const AVInputFormat* avi = FF().av_find_input_format("avi");
  // On failure avformat_open_input frees the context (not a custom I/O).
  if (!avi || FF().avformat_open_input(&d_->fmt, name ? name : "", avi, nullptr) < 0)
    throw EInvalidGraphic("unable to open AVI file");
  int s = -1;
  for (unsigned i = 0; i < d_->fmt->nb_streams; ++i)
    if (d_->fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
      s = int(i);
      break;
    }
  if (s < 0) throw EInvalidGraphic("unable to open AVI stream");
  d_->stream = s;
  AVStream* st = d_->fmt->streams[s];
  AVCodecParameters* par = st->codecpar;
  width_ = par->width;
  height_ = par->height;
  // The frame size is checked against the data before anything of that size
  // is allocated: a few bytes must not stand for a frame of hundreds of
  // megabytes.
  const int64_t dataBytes = d_->mem ? int64_t(d_->memSize) : (d_->fmt->pb ? FF().avio_size(d_->fmt->pb) : -1);
  const int64_t limit = dataBytes >= 0 ? KVAVIFramePixelLimit(uint64_t(dataBytes)) : kAVIMaxPixels;
  if (width_ <= 0 || height_ <= 0 || int64_t(width_) * height_ > limit)
    throw EInvalidGraphic("unable to open AVI stream");
  length_ = std::max<int64_t>(st->nb_frames, 0);
  // The demuxer keeps the header's scale and rate as the time base.
  scale_ = st->time_base.num;
  rate_ = st->time_base.den;
  d_->pkt = FF().av_packet_alloc();
  d_->frame = FF().av_frame_alloc();
  if (!d_->pkt || !d_->frame) throw EInvalidGraphic("unable to open AVI stream");

  const uint32_t tag = par->codec_tag;
  const int bits = par->bits_per_coded_sample;
  if (par->codec_id == AV_CODEC_ID_RAWVIDEO && tag == 0 && (bits == 24 || bits == 32)) {
    // Uncompressed DIB rows; the demuxer marks bottom-up frames.
    bool bottomUp =
        par->extradata_size >= 9 && std::memcmp(par->extradata + par->extradata_size - 9, "BottomUp", 9) == 0;
    size_t row = (size_t(width_) * bits / 8 + 3) & ~size_t(3);
    d_->frameBytes = row * size_t(height_);
    d_->header.resize(sizeof(TBitmapInfoHeader));
    PutHeader(d_->header.data(), width_, bottomUp ? height_ : -height_, bits, 0, uint32_t(d_->frameBytes));
    d_->asDIB = true;
  } else if (par->codec_id == AV_CODEC_ID_RAWVIDEO && tag != 0 && FindYUVConverter(tag)) {
    d_->frameBytes = YUVFrameSize(tag, width_, height_);
    d_->header.resize(sizeof(TBitmapInfoHeader));
    PutHeader(d_->header.data(), width_, height_, bits > 0 ? bits : 16, tag, uint32_t(d_->frameBytes));
    d_->asDIB = true;
  } else {
    const AVCodec* codec = FF().avcodec_find_decoder(par->codec_id);
    if (!codec) throw EInvalidGraphic("unable to open AVI stream");
    d_->dec = FF().avcodec_alloc_context3(codec);
    if (!d_->dec || FF().avcodec_parameters_to_context(d_->dec, par) < 0)
      throw EInvalidGraphic("unable to open AVI stream");
    d_->dec->thread_count = 1;
    // A packet that claims a larger picture than the stream's is refused by
    // the decoder before it allocates it (such frames are skipped anyway).
    // The margin covers the decoders' own alignment of rows and macroblocks.
    d_->dec->max_pixels = (int64_t(width_ + 63) / 64 * 64 + 64) * (int64_t(height_) + 64);
    if (FF().avcodec_open2(d_->dec, codec, nullptr) < 0) throw EInvalidGraphic("unable to open AVI stream");
    if (par->codec_id == AV_CODEC_ID_MJPEG) d_->mjpeg = std::make_unique<MJpegFrames>();
  }
}

TKVAVIReader::~TKVAVIReader() = default;

int TKVAVIReader::DelayMs() const { return KVAVIDelayMs(scale_, rate_); }

bool TKVAVIReader::NextFrame(TBitmap* bmp, int& BitCount) { return Next(bmp, nullptr, BitCount); }

bool TKVAVIReader::NextFrameDIB(HGLOBAL& Dib, int& BitCount) {
  Dib = nullptr;
  TBitmap scratch;
  if (!Next(&scratch, &Dib, BitCount)) return false;
  if (!Dib) Dib = BitmapToPackedDIB(&scratch);
  return Dib != nullptr;
}

// Where a decoded frame goes: a new packed DIB (bottom-up rows, written from
// the last) when dib is given, else bmp. first and stride address its rows
// top to bottom; block is the DIB, locked.
struct TKVAVIReader::Target {
  uint8_t* first = nullptr;
  ptrdiff_t stride = 0;
  HGLOBAL block = nullptr;
};

TKVAVIReader::Target TKVAVIReader::MakeTarget(TBitmap* bmp, HGLOBAL* dib) const {
  Target t;
  if (dib) {
    const int row = (width_ * 3 + 3) & ~3;
    t.block = GlobalAlloc(GMEM_MOVEABLE, PackedDIBSize(width_, height_, 24));
    uint8_t* p = t.block ? static_cast<uint8_t*>(GlobalLock(t.block)) : nullptr;
    if (!p) {
      if (t.block) GlobalFree(t.block);
      return Target{};
    }
    PutHeader(p, width_, height_, 24, 0, uint32_t(size_t(row) * height_));
    t.first = p + sizeof(TBitmapInfoHeader) + size_t(row) * (height_ - 1);
    t.stride = -row;
  } else {
    bmp->Allocate(width_, height_, pf24bit);
    t.first = bmp->Scanline(0);
    t.stride = height_ > 1 ? bmp->Scanline(1) - bmp->Scanline(0) : ((width_ * 3 + 3) & ~3);
  }
  return t;
}

// Hands a filled target over: the DIB, unlocked, to the caller.
bool TKVAVIReader::Deliver(const Target& t, HGLOBAL* dib, int& BitCount) {
  if (t.block) {
    GlobalUnlock(t.block);
    *dib = t.block;
  }
  BitCount = 24;
  return true;
}

bool TKVAVIReader::Next(TBitmap* bmp, HGLOBAL* dib, int& BitCount) {
  for (;;) {
    if (d_->dec) {
      // A frame the decoder already holds comes first.
      int r = FF().avcodec_receive_frame(d_->dec, d_->frame);
      if (r == 0) {
        AVFrame* f = d_->frame;
        if (f->width != width_ || f->height != height_ || f->format < 0) {
          FF().av_frame_unref(f);
          ++skipped_;
          continue;
        }
        SwsContext* sws = d_->Converter(f);
        if (!sws) {
          FF().av_frame_unref(f);
          ++skipped_;
          continue;
        }
        const Target t = MakeTarget(bmp, dib);
        if (!t.first) {
          FF().av_frame_unref(f);
          throw EInvalidGraphic("unable to open AVI stream");
        }
        uint8_t* dst[4] = {t.first, nullptr, nullptr, nullptr};
        int stride[4] = {int(t.stride), 0, 0, 0};
        FF().sws_scale(sws, f->data, f->linesize, 0, f->height, dst, stride);
        FF().av_frame_unref(f);
        return Deliver(t, dib, BitCount);
      }
      if (r == AVERROR_EOF) return false;
      if (d_->draining) return false;
    }
    int r = FF().av_read_frame(d_->fmt, d_->pkt);
    if (r < 0) {
      if (!d_->dec) return false;
      d_->draining = true;
      FF().avcodec_send_packet(d_->dec, nullptr);
      continue;
    }
    if (d_->pkt->stream_index != d_->stream || d_->pkt->size <= 0) {
      FF().av_packet_unref(d_->pkt);
      continue;
    }
    if (d_->asDIB) {
      // Short frames are skipped rather than shown half empty.
      bool ok = size_t(d_->pkt->size) >= d_->frameBytes;
      if (ok) {
        try {
          _CopyDIB2Bitmap(d_->header.data(), d_->header.size(), bmp, d_->pkt->data, size_t(d_->pkt->size));
          TBitmapInfoHeader h;
          std::memcpy(&h, d_->header.data(), sizeof h);
          BitCount = h.biBitCount;
        } catch (const EInvalidGraphic&) {
          ok = false;
        }
      }
      FF().av_packet_unref(d_->pkt);
      if (ok) return true;
      ++skipped_;
      continue;
    }
    if (d_->mjpeg && d_->mjpeg->Begin(d_->pkt->data, size_t(d_->pkt->size), width_, height_)) {
      const Target t = MakeTarget(bmp, dib);
      if (t.first && d_->mjpeg->Read(t.first, t.stride)) {
        FF().av_packet_unref(d_->pkt);
        return Deliver(t, dib, BitCount);
      }
      d_->mjpeg->Abort();
      if (t.block) {
        GlobalUnlock(t.block);
        GlobalFree(t.block);
      }
    }
    if (FF().avcodec_send_packet(d_->dec, d_->pkt) < 0) ++skipped_;
    FF().av_packet_unref(d_->pkt);
  }
}

// ---------------------------------------------------------------------------
// Writer

struct TKVAVIWriter::Impl {
  AVFormatContext* fmt = nullptr;
  AVStream* st = nullptr;
  AVCodecContext* enc = nullptr;  // none for uncompressed rows
  SwsContext* sws = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* pkt = nullptr;
  int width = 0, height = 0, rate = 1;
  int64_t pts = 0;
  bool headerWritten = false;
  bool closed = false;
  // Output through a TStream instead of a file FFmpeg opens: the stream,
  // where the file starts in it, and what the stream raised (FFmpeg only
  // sees a failed write).
  TStream* out = nullptr;
  int64_t outBase = 0;
  std::exception_ptr outError;

  // Raises when FFmpeg reported a failure (ret < 0) or its output failed (a
  // full disk): the stream's own exception when it raised one.
  void Check(int ret, const char* message = "unable to write AVI file") {
    if (outError) std::rethrow_exception(std::exchange(outError, nullptr));
    if (ret < 0 || (fmt && fmt->pb && fmt->pb->error < 0)) throw EInvalidGraphic(message);
  }
  void Drain() {
    while (FF().avcodec_receive_packet(enc, pkt) == 0) {
      FF().av_packet_rescale_ts(pkt, enc->time_base, st->time_base);
      pkt->stream_index = st->index;
      Check(FF().av_interleaved_write_frame(fmt, pkt));
    }
  }
  static int WriteOut(void* opaque, uint8_t* buf, int size) {
    Impl* d = static_cast<Impl*>(opaque);
    try {
      if (d->out->Write(buf, size) == size) return size;
      d->outError = std::make_exception_ptr(EWriteError());
    } catch (...) {
      d->outError = std::current_exception();
    }
    return AVERROR(EIO);
  }
  static int64_t SeekOut(void* opaque, int64_t offset, int whence) {
    Impl* d = static_cast<Impl*>(opaque);
    try {
      switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE:
          return d->out->Size() - d->outBase;
        case SEEK_SET:
          return d->out->Seek(d->outBase + offset, soBeginning) - d->outBase;
        case SEEK_CUR:
          return d->out->Seek(offset, soCurrent) - d->outBase;
        case SEEK_END:
          return d->out->Seek(offset, soEnd) - d->outBase;
        default:
          return AVERROR(EINVAL);
      }
    } catch (...) {
      d->outError = std::current_exception();
      return AVERROR(EIO);
    }
  }
  ~Impl() {
    FF().sws_freeContext(sws);
    FF().av_frame_free(&frame);
    FF().av_packet_free(&pkt);
    FF().avcodec_free_context(&enc);
    if (fmt) {
      if (fmt->pb && out) {
        FF().av_freep(&fmt->pb->buffer);
        FF().avio_context_free(&fmt->pb);
      } else if (fmt->pb) {
        FF().avio_closep(&fmt->pb);
      }
      FF().avformat_free_context(fmt);
    }
  }
};

TKVAVIWriter::TKVAVIWriter(const std::string& name, int width, int height, int rate,
                           const TKVAVICompressOptions& opts)
    : d_(std::make_unique<Impl>()) {
  Open(name, nullptr, width, height, rate, opts);
}

TKVAVIWriter::TKVAVIWriter(TStream* stream, int width, int height, int rate,
                           const TKVAVICompressOptions& opts)
    : d_(std::make_unique<Impl>()) {
  if (!stream) throw EInvalidGraphic("unable to create AVI file");
  d_->out = stream;
  d_->outBase = stream->Position();
  Open(std::string(), stream, width, height, rate, opts);
}

void TKVAVIWriter::Open(const std::string& name, TStream* stream, int width, int height, int rate,
                        const TKVAVICompressOptions& opts) {
  QuietFFmpeg();
  auto fail = [] { throw EInvalidGraphic("unable to create AVI file"); };
  if (width <= 0 || height <= 0 || rate <= 0) fail();
  d_->width = width;
  d_->height = height;
  d_->rate = rate;
  if (FF().avformat_alloc_output_context2(&d_->fmt, nullptr, "avi", stream ? nullptr : name.c_str()) < 0 ||
      !d_->fmt)
    fail();
  d_->st = FF().avformat_new_stream(d_->fmt, nullptr);
  d_->pkt = FF().av_packet_alloc();
  if (!d_->st || !d_->pkt) fail();
  d_->st->time_base = AVRational{1, rate};
  d_->st->avg_frame_rate = AVRational{rate, 1};
  AVCodecParameters* par = d_->st->codecpar;
  const std::string enc = opts.Encoder.empty() ? "rawvideo" : opts.Encoder;
  if (enc == "rawvideo") {
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_RAWVIDEO;
    par->codec_tag = 0;
    par->format = AV_PIX_FMT_BGR24;
    par->bits_per_coded_sample = 24;
    par->width = width;
    par->height = height;
    // The DIB's own bottom-up rows, with a positive height in the header.
    FF().av_opt_set_int(d_->fmt->priv_data, "flipped_raw_rgb", 1, 0);
  } else {
    const AVCodec* codec = FF().avcodec_find_encoder_by_name(enc.c_str());
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO) fail();
    d_->enc = FF().avcodec_alloc_context3(codec);
    if (!d_->enc) fail();
    AVCodecContext* c = d_->enc;
    c->width = width;
    c->height = height;
    c->time_base = AVRational{1, rate};
    c->framerate = AVRational{rate, 1};
    c->thread_count = 1;
    c->gop_size = 1;
    AVPixelFormat want = AV_PIX_FMT_YUV420P;
    if (codec->id == AV_CODEC_ID_MJPEG) want = AV_PIX_FMT_YUVJ420P;
    if (codec->id == AV_CODEC_ID_FFV1) want = AV_PIX_FMT_0RGB32;
    if (codec->pix_fmts) {
      bool found = false;
      for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) found |= *p == want;
      if (!found) want = codec->pix_fmts[0];
    }
    c->pix_fmt = want;
    if (codec->id == AV_CODEC_ID_MJPEG) {
      // Quality 100 .. 1 maps to the quantiser scale 1 .. 31.
      int q = std::clamp(opts.Quality, 1, 100);
      int qscale = 1 + (100 - q) * 30 / 99;
      c->flags |= AV_CODEC_FLAG_QSCALE;
      c->global_quality = FF_QP2LAMBDA * qscale;
      c->color_range = AVCOL_RANGE_JPEG;
    }
    if (d_->fmt->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (FF().avcodec_open2(c, codec, nullptr) < 0) fail();
    if (FF().avcodec_parameters_from_context(par, c) < 0) fail();
    d_->frame = FF().av_frame_alloc();
    if (!d_->frame) fail();
    d_->frame->format = c->pix_fmt;
    d_->frame->width = width;
    d_->frame->height = height;
    if (FF().av_frame_get_buffer(d_->frame, 0) < 0) fail();
    d_->sws = FF().sws_getContext(width, height, AV_PIX_FMT_BGR24, width, height, c->pix_fmt, SWS_BICUBIC, nullptr,
                             nullptr, nullptr);
    if (!d_->sws) fail();
  }
  if (stream) {
    constexpr int kBufferSize = 1 << 16;
    uint8_t* buf = static_cast<uint8_t*>(FF().av_malloc(kBufferSize));
    if (!buf) fail();
    d_->fmt->pb = FF().avio_alloc_context(buf, kBufferSize, 1, d_.get(), nullptr, &Impl::WriteOut, &Impl::SeekOut);
    if (!d_->fmt->pb) {
      FF().av_free(buf);
      fail();
    }
    d_->fmt->flags |= AVFMT_FLAG_CUSTOM_IO;
  } else if (FF().avio_open(&d_->fmt->pb, name.c_str(), AVIO_FLAG_WRITE) < 0) {
    fail();
  }
  d_->Check(FF().avformat_write_header(d_->fmt, nullptr), "unable to create AVI file");
  d_->headerWritten = true;
}

TKVAVIWriter::~TKVAVIWriter() {
  try {
    Close();
  } catch (...) {
  }
}

void TKVAVIWriter::WriteDIB(const uint8_t* dib, size_t size) {
  if (d_->closed) return;
  TBitmap bmp;
  const TDIBInfo info = ParsePackedDIB(dib, size);
  const bool straight = info.BitCount == 24 && !info.TopDown && info.Compression == 0 &&
                        info.Width == d_->width && info.Height == d_->height;
  if (!d_->enc && straight) {
    // Uncompressed: the stored rows as they are.
    if (FF().av_new_packet(d_->pkt, int(info.ImageBytes)) < 0) throw EInvalidGraphic("unable to create AVI file");
    std::memcpy(d_->pkt->data, dib + info.HeaderBytes, info.ImageBytes);
  } else {
    PackedDIBToBitmap(dib, size, &bmp);
    if (bmp.PixelFormat() != pf24bit) bmp.SetPixelFormat(pf24bit);
    if (bmp.Width() != d_->width || bmp.Height() != d_->height)
      throw EInvalidGraphic("unable to create AVI file");
    const int stride = int(d_->height > 1 ? bmp.Scanline(1) - bmp.Scanline(0) : ((d_->width * 3 + 3) & ~3));
    if (!d_->enc) {
      // Bottom-up rows padded to 4 bytes.
      const int row = (d_->width * 3 + 3) & ~3;
      if (FF().av_new_packet(d_->pkt, row * d_->height) < 0) throw EInvalidGraphic("unable to create AVI file");
      std::memset(d_->pkt->data, 0, size_t(row) * d_->height);
      for (int y = 0; y < d_->height; ++y)
        std::memcpy(d_->pkt->data + size_t(row) * (d_->height - 1 - y), bmp.Scanline(y),
                    size_t(d_->width) * 3);
    } else {
      if (FF().av_frame_make_writable(d_->frame) < 0) throw EInvalidGraphic("unable to create AVI file");
      const uint8_t* src[4] = {bmp.Scanline(0), nullptr, nullptr, nullptr};
      int srcStride[4] = {stride, 0, 0, 0};
      FF().sws_scale(d_->sws, src, srcStride, 0, d_->height, d_->frame->data, d_->frame->linesize);
      d_->frame->pts = d_->pts++;
      if (FF().avcodec_send_frame(d_->enc, d_->frame) < 0) throw EInvalidGraphic("unable to create AVI file");
      d_->Drain();
      return;
    }
  }
  d_->pkt->pts = d_->pkt->dts = d_->pts++;
  d_->pkt->duration = 1;
  d_->pkt->flags |= AV_PKT_FLAG_KEY;
  d_->pkt->stream_index = d_->st->index;
  FF().av_packet_rescale_ts(d_->pkt, AVRational{1, d_->rate}, d_->st->time_base);
  d_->Check(FF().av_interleaved_write_frame(d_->fmt, d_->pkt));
}

void TKVAVIWriter::SkipFrames(int64_t n) {
  // The muxer stores the gap before the next packet as empty chunks; it
  // refuses gaps above 60,000.
  if (n > 0) d_->pts += std::min<int64_t>(n, 60000);
}

void TKVAVIWriter::Close() {
  if (d_->closed) return;
  d_->closed = true;
  if (d_->enc) {
    FF().avcodec_send_frame(d_->enc, nullptr);
    d_->Drain();
  }
  int ret = 0;
  if (d_->headerWritten) ret = FF().av_write_trailer(d_->fmt);
  if (d_->fmt && d_->fmt->pb) {
    FF().avio_flush(d_->fmt->pb);
    d_->Check(ret);
    if (!d_->out) {
      ret = FF().avio_closep(&d_->fmt->pb);
      d_->Check(ret);
    }
  }
}

}  // namespace korvane
