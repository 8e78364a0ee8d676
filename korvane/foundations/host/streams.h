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

enum TSeekOrigin { soBeginning, soCurrent, soEnd };

class KORVANE_EXPORT TStream : public TObject {
 public:
  /// Moves up to count bytes; returns the count moved (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  /// Returns the new position.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  /// Raise EReadError / EWriteError when fewer than count bytes move.
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);

  int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(int64_t p) { Seek(p, soBeginning); }
  virtual int64_t Size();
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
  TMemoryStream(const TMemoryStream& other);
  TMemoryStream(TMemoryStream&& other) noexcept;
  TMemoryStream& operator=(TMemoryStream other) noexcept;
  ~TMemoryStream() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return int64_t(size_); }
  void SetSize(int64_t n) override;
  void Clear();
  uint8_t* Memory() { return mem_; }
  const uint8_t* Memory() const { return mem_; }
  void LoadFromStream(TStream* s);
  void SaveToStream(TStream* s);
  void LoadFromFile(const std::string& name);
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

enum TFileMode { fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreate };

/// A stream over a file: read-only, read-write (an existing file) or create
/// (truncating). Raises EFOpenError / EFCreateError when the file cannot be
/// opened.
class KORVANE_EXPORT TFileStream : public TStream {
 public:
  TFileStream(const std::string& name, TFileMode mode);
  ~TFileStream() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t n) override;
  const std::string& FileName() const { return name_; }
  /// Pushes every written byte to the disk (the C library's buffer, then the
  /// kernel's). Raises EWriteError when the data did not reach it, as on a
  /// full disk.
  void Flush();

 private:
  std::FILE* f_ = nullptr;
  std::string name_;
  bool last_write_ = false;
};

/// Counts bytes without storing them (measuring an encoder's output size).
/// Position and size are 64-bit so that outputs past 2 GiB measure correctly.
class KORVANE_EXPORT TNulStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  void SetSize(int64_t n) override { size_ = n; }

 private:
  int64_t pos_ = 0;
  int64_t size_ = 0;
};

enum TCompressionLevel { clNoCompression, clFastest, clDefaultLevel, clMaxCompression };

/// Writes deflated (zlib-wrapped) data to the destination stream; finished on
/// destruction or Finish.
class KORVANE_EXPORT TCompressionStream : public TStream {
 public:
  TCompressionStream(TCompressionLevel level, TStream* dest);
  ~TCompressionStream() override;
  int64_t Read(void*, int64_t) override;
  int64_t Write(const void* buffer, int64_t count) override;
  /// Only Seek(0, soCurrent) (the count of bytes taken in) is allowed.
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void Finish();

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

/// Reads inflated data from a zlib-wrapped source stream. Raises EZlibError on
/// corrupt data. Forward seeks read and discard; Seek(0, soBeginning) restarts.
class KORVANE_EXPORT TDecompressionStream : public TStream {
 public:
  explicit TDecompressionStream(TStream* source);
  ~TDecompressionStream() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace korvane
