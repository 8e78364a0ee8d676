#include "korvane/foundations/host/streams.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/prefault.h"
#include "korvane/foundations/host/safe_save.h"

namespace korvane {

// ---------------------------------------------------------------------------
// TStream

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || (count > 0 && Read(buffer, count) != count)) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count > 0 && Write(buffer, count) != count)) throw EWriteError();
}

int64_t TStream::Size() {
  int64_t pos = Seek(0, soCurrent);
  int64_t end = Seek(0, soEnd);
  Seek(pos, soBeginning);
  return end;
}

void TStream::SetSize(int64_t) { throw EStreamError("Stream size cannot be changed"); }

int64_t TStream::CopyFrom(TStream* src, int64_t count) {
  if (count == 0) {
    src->SetPosition(0);
    count = src->Size();
  }
  std::vector<uint8_t> buf(size_t(std::min<int64_t>(count, 1 << 16)));
  int64_t left = count;
  while (left > 0) {
    int64_t n = std::min<int64_t>(left, int64_t(buf.size()));
    src->ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    left -= n;
  }
  return count;
}

// ---------------------------------------------------------------------------
// TMemoryStream

TMemoryStream::TMemoryStream(const TMemoryStream& other) : TStream(other) {
  SetData(other.mem_, other.size_);
  pos_ = other.pos_;
}

TMemoryStream::TMemoryStream(TMemoryStream&& other) noexcept
    : mem_(other.mem_), size_(other.size_), cap_(other.cap_), pos_(other.pos_) {
  other.mem_ = nullptr;
  other.size_ = other.cap_ = 0;
  other.pos_ = 0;
}

TMemoryStream& TMemoryStream::operator=(TMemoryStream other) noexcept {
  std::swap(mem_, other.mem_);
  std::swap(size_, other.size_);
  std::swap(cap_, other.cap_);
  std::swap(pos_, other.pos_);
  return *this;
}

TMemoryStream::~TMemoryStream() { std::free(mem_); }

void TMemoryStream::Reserve(size_t n) {
  if (n <= cap_) return;
  const size_t cap = std::max({n, cap_ + cap_ / 2, size_t(256)});
  void* p = std::realloc(mem_, cap);
  if (!p) throw std::bad_alloc();
  mem_ = static_cast<uint8_t*>(p);
  // The new pages of a large block mapped at once, not a fault a page.
  if (cap > cap_) KVPrefault(mem_ + cap_, cap - cap_);
  cap_ = cap;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= int64_t(size_)) return 0;
  int64_t n = std::min<int64_t>(count, int64_t(size_) - pos_);
  std::memcpy(buffer, mem_ + pos_, size_t(n));
  pos_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  const size_t end = size_t(pos_ + count);
  Reserve(end);
  // A position past the end leaves a gap of zeros, as SetSize would.
  if (size_t(pos_) > size_) std::memset(mem_ + size_, 0, size_t(pos_) - size_);
  std::memcpy(mem_ + pos_, buffer, size_t(count));
  size_ = std::max(size_, end);
  pos_ += count;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? pos_ : int64_t(size_);
  int64_t p = base + offset;
  pos_ = p < 0 ? 0 : p;
  return pos_;
}

void TMemoryStream::SetSize(int64_t n) {
  if (n < 0) n = 0;
  Reserve(size_t(n));
  if (size_t(n) > size_) std::memset(mem_ + size_, 0, size_t(n) - size_);
  size_ = size_t(n);
  if (pos_ > n) pos_ = n;
}

void TMemoryStream::Clear() {
  std::free(mem_);
  mem_ = nullptr;
  size_ = cap_ = 0;
  pos_ = 0;
}

void TMemoryStream::SetData(const void* p, size_t n) {
  if (n > cap_) {  // a new block: p may lie in the old one
    TMemoryStream fresh;
    fresh.Reserve(n);
    std::memcpy(fresh.mem_, p, n);
    fresh.size_ = n;
    *this = std::move(fresh);
  } else if (n) {
    std::memmove(mem_, p, n);
  }
  size_ = n;
  pos_ = 0;
}

void TMemoryStream::LoadFromStream(TStream* s) {
  s->SetPosition(0);
  int64_t n = s->Size();
  size_ = 0;
  Reserve(size_t(n));
  if (n) s->ReadBuffer(mem_, n);
  size_ = size_t(n);
  pos_ = 0;
}

void TMemoryStream::SaveToStream(TStream* s) {
  if (size_) s->WriteBuffer(mem_, int64_t(size_));
}

void TMemoryStream::LoadFromFile(const std::string& name) {
  TFileStream f(name, fmOpenRead);
  LoadFromStream(&f);
}

void TMemoryStream::SaveToFile(const std::string& name) {
  KVSafeSave(name, [this](TStream* f) { SaveToStream(f); });
}

// ---------------------------------------------------------------------------
// TFileStream

TFileStream::TFileStream(const std::string& name, TFileMode mode) : name_(name) {
  const char* m = mode == fmCreate ? "w+b" : mode == fmOpenRead ? "rb" : "r+b";
  f_ = std::fopen(name.c_str(), m);
  if (!f_) {
    std::string why = std::strerror(errno);
    if (mode == fmCreate) throw EFCreateError("Cannot create file \"" + name + "\". " + why);
    throw EFOpenError("Cannot open file \"" + name + "\". " + why);
  }
  // fopen accepts a folder for reading; it is not a file to read from.
  struct stat st;
  if (fstat(fileno(f_), &st) == 0 && S_ISDIR(st.st_mode)) {
    std::fclose(f_);
    f_ = nullptr;
    throw EFOpenError("Cannot open file \"" + name + "\". Is a directory");
  }
  // Codecs write headers and packets a few bytes at a time: a larger buffer
  // than the C library's 4 KB makes far fewer system calls. The C library
  // ignores the size unless it is given the buffer itself.
  constexpr size_t kBufferSize = size_t(1) << 16;
  buf_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
  std::setvbuf(f_, buf_.get(), _IOFBF, kBufferSize);
}

TFileStream::~TFileStream() {
  if (f_) std::fclose(f_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (last_write_) std::fflush(f_), last_write_ = false;
  // A stream belongs to one thread at a time: no lock a call.
  return int64_t(fread_unlocked(buffer, 1, size_t(count), f_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  last_write_ = true;
  return int64_t(fwrite_unlocked(buffer, 1, size_t(count), f_));
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset == 0 && origin == soCurrent) return int64_t(ftello(f_));
  int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  if (fseeko(f_, off_t(offset), whence) != 0) return int64_t(ftello(f_));
  return int64_t(ftello(f_));
}

void TFileStream::Flush() {
  const bool failed = std::fflush(f_) != 0 || std::ferror(f_) != 0 || fsync(fileno(f_)) != 0;
  last_write_ = false;
  if (failed) throw EWriteError("Cannot write file \"" + name_ + "\". " + std::strerror(errno));
}

void TFileStream::SetSize(int64_t n) {
  std::fflush(f_);
  if (ftruncate(fileno(f_), off_t(n)) != 0) throw EWriteError("Cannot set file size");
  if (Position() > n) Seek(n, soBeginning);
}

// ---------------------------------------------------------------------------
// TNulStream

int64_t TNulStream::Read(void*, int64_t count) {
  pos_ += count;
  if (pos_ > size_) size_ = pos_;
  return count;
}

int64_t TNulStream::Write(const void*, int64_t count) {
  pos_ += count;
  if (pos_ > size_) size_ = pos_;
  return count;
}

int64_t TNulStream::Seek(int64_t offset, TSeekOrigin origin) {
  switch (origin) {
    case soBeginning:
      pos_ = offset;
      break;
    case soCurrent:
      pos_ += offset;
      break;
    case soEnd:
      pos_ = size_;
      return pos_;
  }
  if (pos_ > size_) size_ = pos_;
  return pos_;
}

// ---------------------------------------------------------------------------
// Deflate streams

namespace {
constexpr size_t kZBuf = 1 << 16;
}

struct TCompressionStream::Impl {
  z_stream z{};
  TStream* dest = nullptr;
  std::vector<uint8_t> out = std::vector<uint8_t>(kZBuf);
  int64_t taken = 0;
  bool finished = false;

  void Drain(int flush) {
    do {
      z.next_out = out.data();
      z.avail_out = uInt(out.size());
      int r = deflate(&z, flush);
      if (r == Z_STREAM_ERROR) throw EZlibError("deflate error");
      size_t have = out.size() - z.avail_out;
      if (have) dest->WriteBuffer(out.data(), int64_t(have));
    } while (z.avail_out == 0);
  }
};

TCompressionStream::TCompressionStream(TCompressionLevel level, TStream* dest) : d_(new Impl) {
  d_->dest = dest;
  int lv = level == clNoCompression    ? 0
           : level == clFastest        ? 1
           : level == clMaxCompression ? 9
                                       : Z_DEFAULT_COMPRESSION;
  if (deflateInit(&d_->z, lv) != Z_OK) throw EZlibError("deflate init error");
}

TCompressionStream::~TCompressionStream() {
  try {
    Finish();
  } catch (...) {
    // A destructor cannot report a failed final write; Finish() can.
  }
  deflateEnd(&d_->z);
}

void TCompressionStream::Finish() {
  if (d_->finished) return;
  d_->finished = true;
  d_->z.next_in = nullptr;
  d_->z.avail_in = 0;
  int r;
  do {
    d_->z.next_out = d_->out.data();
    d_->z.avail_out = uInt(d_->out.size());
    r = deflate(&d_->z, Z_FINISH);
    if (r == Z_STREAM_ERROR) throw EZlibError("deflate error");
    size_t have = d_->out.size() - d_->z.avail_out;
    if (have) d_->dest->WriteBuffer(d_->out.data(), int64_t(have));
  } while (r != Z_STREAM_END);
}

int64_t TCompressionStream::Read(void*, int64_t) { throw EZlibError("Invalid stream operation"); }

int64_t TCompressionStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (d_->finished) throw EZlibError("Write after finish");
  const uint8_t* p = static_cast<const uint8_t*>(buffer);
  int64_t left = count;
  while (left > 0) {
    uInt n = uInt(std::min<int64_t>(left, 1 << 30));
    d_->z.next_in = const_cast<Bytef*>(p);
    d_->z.avail_in = n;
    d_->Drain(Z_NO_FLUSH);
    p += n;
    left -= n;
  }
  d_->taken += count;
  return count;
}

int64_t TCompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (offset == 0 && origin == soCurrent) return d_->taken;
  throw EZlibError("Invalid stream operation");
}

struct TDecompressionStream::Impl {
  z_stream z{};
  TStream* src = nullptr;
  int64_t start = 0;
  std::vector<uint8_t> in = std::vector<uint8_t>(kZBuf);
  int64_t produced = 0;
  bool ended = false;
};

TDecompressionStream::TDecompressionStream(TStream* source) : d_(new Impl) {
  d_->src = source;
  d_->start = source->Position();
  if (inflateInit(&d_->z) != Z_OK) throw EZlibError("inflate init error");
}

TDecompressionStream::~TDecompressionStream() { inflateEnd(&d_->z); }

int64_t TDecompressionStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || d_->ended) return 0;
  uint8_t* p = static_cast<uint8_t*>(buffer);
  int64_t done = 0;
  while (done < count && !d_->ended) {
    if (d_->z.avail_in == 0) {
      int64_t n = d_->src->Read(d_->in.data(), int64_t(d_->in.size()));
      if (n <= 0) throw EZlibError("Unexpected end of compressed data");
      d_->z.next_in = d_->in.data();
      d_->z.avail_in = uInt(n);
    }
    uInt want = uInt(std::min<int64_t>(count - done, 1 << 30));
    d_->z.next_out = p + done;
    d_->z.avail_out = want;
    int r = inflate(&d_->z, Z_NO_FLUSH);
    if (r == Z_STREAM_END) {
      d_->ended = true;
      // Give back what was read past the end of the compressed data.
      if (d_->z.avail_in) d_->src->Seek(-int64_t(d_->z.avail_in), soCurrent);
      d_->z.avail_in = 0;
    } else if (r != Z_OK && r != Z_BUF_ERROR) {
      throw EZlibError("Corrupt compressed data");
    }
    done += want - d_->z.avail_out;
  }
  d_->produced += done;
  return done;
}

int64_t TDecompressionStream::Write(const void*, int64_t) { throw EZlibError("Invalid stream operation"); }

int64_t TDecompressionStream::Seek(int64_t offset, TSeekOrigin origin) {
  if (origin == soBeginning && offset == 0) {
    inflateReset(&d_->z);
    d_->z.avail_in = 0;
    d_->src->SetPosition(d_->start);
    d_->produced = 0;
    d_->ended = false;
    return 0;
  }
  int64_t target = origin == soBeginning ? offset : origin == soCurrent ? d_->produced + offset : -1;
  if (target < d_->produced) throw EZlibError("Invalid stream operation");
  uint8_t buf[4096];
  while (d_->produced < target) {
    int64_t n = Read(buf, std::min<int64_t>(target - d_->produced, sizeof buf));
    if (n <= 0) break;
  }
  return d_->produced;
}

}  // namespace korvane
