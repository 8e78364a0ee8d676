/// \file
/// Replacing a file without ever losing it. Every save that writes a file goes
/// through TSafeFileSave: the new contents go to a side file in the target's
/// folder, which is flushed to disk, given the replaced file's permission bits
/// and renamed over the target only when the writer finished. A writer that
/// raises, a save that is aborted, or a failure to flush leaves the target
/// exactly as it was (and no side file behind).
#pragma once
#include <functional>
#include <memory>
#include <string>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/streams.h"

namespace korvane {

/// One replacement of a file through a side file: write to Stream(), then Commit() or let it go.
class KORVANE_EXPORT TSafeFileSave {
 public:
  /// Creates the side file next to `name`. When `name` is a symbolic link the
  /// file it points at is the one replaced; the link stays. Raises
  /// EFCreateError when the folder cannot take a new file.
  explicit TSafeFileSave(const std::string& name);
  /// Removes the side file unless Commit succeeded.
  ~TSafeFileSave();
  TSafeFileSave(const TSafeFileSave&) = delete;
  TSafeFileSave& operator=(const TSafeFileSave&) = delete;

  /// The stream over the side file (read-write, positioned at 0).
  TStream* Stream() { return stream_.get(); }
  /// The file that Commit replaces (the link's target for a link).
  const std::string& Target() const { return target_; }
  /// Flushes the side file to disk, gives it the permission bits of the file it
  /// replaces, and renames it over the target. Raises EWriteError when the data
  /// cannot be flushed (a full disk) and EFCreateError when the rename fails;
  /// the target is then untouched.
  void Commit();
  /// Drops the side file now; the target stays as it was.
  void Discard();

 private:
  std::string target_, side_;
  std::unique_ptr<TFileStream> stream_;
  bool done_ = false;
};

/// Writes `name` through a side file: calls write(stream) and commits unless it
/// raised (the exception passes on) or `*aborting` is true afterwards. Returns
/// true when the file was replaced.
KORVANE_EXPORT bool KVSafeSave(const std::string& name, const std::function<void(TStream*)>& write,
                               const bool* aborting = nullptr);

}  // namespace korvane
