/// \file
/// The stream family: an abstract TStream with checked buffer transfers,
/// memory and file streams, a counting stream, and deflate streams over zlib.
#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/object.h"

namespace korvane {

/// Where a Seek offset counts from: the start of the stream, the current position, or the end.
enum TSeekOrigin { soBeginning, soCurrent, soEnd };

/// A sequence of bytes with a position: the base of every source and destination of the codecs.
class KORVANE_EXPORT TStream : public TObject {
 public:
  /// Moves up to count bytes; returns the count moved (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  /// Moves up to count bytes from buffer to the position; returns the count written, which is
  /// short only when the destination cannot take more.
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  /// Returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  /// Raise EReadError / EWriteError when fewer than count bytes move.
  void ReadBuffer(void* buffer, int64_t count);
  /// Writes exactly count bytes or raises EWriteError (also for a negative count).
  void WriteBuffer(const void* buffer, int64_t count);

  /// The current position in bytes from the beginning.
  int64_t Position() { return Seek(0, soCurrent); }
  /// Moves to byte `p` from the beginning, as Seek(p, soBeginning).
  void SetPosition(int64_t p) { Seek(p, soBeginning); }
  /// The length in bytes; by default found by seeking to the end and back.
  virtual int64_t Size();
  /// Truncates or extends the stream; the default raises EStreamError ("Stream size cannot be
  /// changed").
  virtual void SetSize(int64_t n);
  /// Bytes left from the position to the end.
  int64_t Remaining() { return Size() - Position(); }

  /// Copies count bytes from src (count 0: all of src from its beginning).
  /// Returns the count copied.
  int64_t CopyFrom(TStream* src, int64_t count);
};

/// A stream over a growable block of memory.
class KORVANE_EXPORT TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;
  /// A stream with its own copy of other's bytes, at other's position.
  TMemoryStream(const TMemoryStream& other);
  /// Takes other's block and position; other is left empty at position 0.
  TMemoryStream(TMemoryStream&& other) noexcept;
  /// Takes over the block and position of `other` (copied or moved in); the old block is freed.
  TMemoryStream& operator=(TMemoryStream other) noexcept;
  /// Frees the block.
  ~TMemoryStream() override;
  /// Copies up to count bytes from the position; 0 at or past the end.
  int64_t Read(void* buffer, int64_t count) override;
  /// Writes all count bytes at the position, growing the block as needed; a position past the
  /// end first fills the gap with zeros. Raises std::bad_alloc when memory runs out.
  int64_t Write(const void* buffer, int64_t count) override;
  /// Moves anywhere from 0 up, also past the end; a negative result becomes 0.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  /// The number of bytes held.
  int64_t Size() override { return int64_t(size_); }
  /// Truncates or extends (with zeros) to n bytes, negative meaning 0; the position is pulled
  /// back to the new end when it lay beyond it.
  void SetSize(int64_t n) override;
  /// Frees the block: size and position 0.
  void Clear();
  /// The bytes held, Size() of them; may be null when empty. Writes may move the block.
  uint8_t* Memory() { return mem_; }
  /// The bytes held, read-only; may be null when empty.
  const uint8_t* Memory() const { return mem_; }
  /// Replaces the contents with the whole of `s`, read from its beginning; position 0.
  void LoadFromStream(TStream* s);
  /// Writes every byte held to `s` at its position; this stream's position is not used.
  void SaveToStream(TStream* s);
  /// Replaces the contents with the file's bytes; raises EFOpenError when it cannot be opened.
  void LoadFromFile(const std::string& name);
  /// Writes every byte held to the file through a side file (KVSafeSave), replacing it whole.
  void SaveToFile(const std::string& name);
  /// Replaces the contents with a copy of the bytes; position 0.
  void SetData(const void* p, size_t n);

 private:
  /// Room for n bytes at least. The block grows by realloc, which moves the
  /// pages of a large one instead of copying them, and bytes past the size
  /// are not cleared until SetSize exposes them.
  void Reserve(size_t n);

  uint8_t* mem_ = nullptr;
  size_t size_ = 0, cap_ = 0;
  int64_t pos_ = 0;
};

/// How TFileStream opens its file: read-only, write or read-write (both keep an existing file's
/// bytes and fail when there is none), or created anew (emptied when it exists).
enum TFileMode { fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreate };

/// A stream over a file: read-only, read-write (an existing file) or create
/// (truncating). Raises EFOpenError / EFCreateError when the file cannot be
/// opened.
class KORVANE_EXPORT TFileStream : public TStream {
 public:
  /// Opens `name` in `mode` at position 0 with a 64 KB buffer. Raises EFCreateError when fmCreate
  /// fails, EFOpenError otherwise (also when `name` is a folder).
  TFileStream(const std::string& name, TFileMode mode);
  /// Closes the file; buffered bytes are written but not forced to the disk (see Flush).
  ~TFileStream() override;
  /// Reads up to count bytes at the position; fewer at the end of the file.
  int64_t Read(void* buffer, int64_t count) override;
  /// Writes count bytes through the buffer; returns fewer when the file refuses them.
  int64_t Write(const void* buffer, int64_t count) override;
  /// Moves in the file; a failed seek (before the start) leaves the position and returns it.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  /// Truncates or extends the file to n bytes; raises EWriteError when that fails. The position
  /// is pulled back to the new end when it lay beyond it.
  void SetSize(int64_t n) override;
  /// The file name as passed to the constructor.
  const std::string& FileName() const { return name_; }
  /// Pushes every written byte to the disk (the C library's buffer, then the
  /// kernel's). Raises EWriteError when the data did not reach it, as on a
  /// full disk.
  void Flush();

 private:
  std::FILE* f_ = nullptr;
  std::unique_ptr<char[]> buf_;  // the C library's buffer; outlives f_
  std::string name_;
  bool last_write_ = false;
};

/// Counts bytes without storing them (measuring an encoder's output size).
/// Position and size are 64-bit so that outputs past 2 GiB measure correctly.
class KORVANE_EXPORT TNulStream : public TStream {
 public:
  /// Advances the position by count as if count bytes were read; the buffer is left untouched.
  int64_t Read(void* buffer, int64_t count) override;
  /// Counts count bytes as written at the position and returns count; the size grows to cover them.
  int64_t Write(const void* buffer, int64_t count) override;
  /// Moves the position, growing the size when it goes past the end; soEnd ignores the offset.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  /// The highest position reached so far (or the value set by SetSize).
  int64_t Size() override { return size_; }
  /// Sets the counted size; the position is left where it is.
  void SetSize(int64_t n) override { size_ = n; }

 private:
  int64_t pos_ = 0;
  int64_t size_ = 0;
};

/// The deflate level: none (stored), fastest (1), zlib's default (6), or best (9).
enum TCompressionLevel { clNoCompression, clFastest, clDefaultLevel, clMaxCompression };

/// Writes deflated (zlib-wrapped) data to the destination stream; finished on
/// destruction or Finish.
class KORVANE_EXPORT TCompressionStream : public TStream {
 public:
  /// Starts a zlib stream written to `dest` at its position; `dest` is not owned and must outlive
  /// this stream. Raises EZlibError when zlib cannot start.
  TCompressionStream(TCompressionLevel level, TStream* dest);
  /// Finishes the zlib stream (a failed final write is lost here; call Finish to see it).
  ~TCompressionStream() override;
  /// Always raises EZlibError: the stream is write-only.
  int64_t Read(void*, int64_t) override;
  /// Compresses count bytes, writing whatever output is ready to the destination; raises
  /// EZlibError after Finish and passes on the destination's EWriteError.
  int64_t Write(const void* buffer, int64_t count) override;
  /// Only Seek(0, soCurrent) (the count of bytes taken in) is allowed.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  /// Flushes the remaining output and the zlib trailer to the destination; later calls do
  /// nothing. Raises when the destination cannot take the bytes.
  void Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

/// Reads inflated data from a zlib-wrapped source stream. Raises EZlibError on
/// corrupt data. Forward seeks read and discard; Seek(0, soBeginning) restarts.
class KORVANE_EXPORT TDecompressionStream : public TStream {
 public:
  /// Inflates from `source` starting at its current position; `source` is not owned and must
  /// outlive this stream. Raises EZlibError when zlib cannot start.
  explicit TDecompressionStream(TStream* source);
  /// Releases the zlib state; the source is left where reading stopped.
  ~TDecompressionStream() override;
  /// Inflates up to count bytes; fewer only at the end of the compressed data, where the source is
  /// set back to the first byte after it. Raises EZlibError on corrupt or truncated data.
  int64_t Read(void* buffer, int64_t count) override;
  /// Always raises EZlibError: the stream is read-only.
  int64_t Write(const void*, int64_t) override;
  /// Seek(0, soBeginning) restarts from the source's starting position; other forward targets
  /// read and discard up to them (stopping at the end), backward ones and soEnd raise EZlibError.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace korvane
