// The demo's picture history: the states before each change, for Undo and
// Redo over many steps. Bounded by a number of steps and by the bytes its
// copies take; the oldest states go first. The processing component's own
// single undo snapshot is left alone.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>

#include "korvane/foundations/host/graphics.h"

namespace korvane::demo {

class ImageHistory {
 public:
  static constexpr size_t kDefaultSteps = 50;
  static constexpr int64_t kDefaultBytes = int64_t(1) << 30;  // 1 GiB

  explicit ImageHistory(size_t maxSteps = kDefaultSteps, int64_t maxBytes = kDefaultBytes);

  // Records `before`, the picture as it was before a change, and forgets
  // what could be redone. The oldest states are dropped while there are more
  // than the steps allowed or the copies pass the byte bound (the newest
  // state is always kept).
  void Push(const TBitmap& before);
  // Makes `current` the previous state and keeps what it was for Redo; false
  // (and `current` unchanged) when there is nothing to undo.
  bool Undo(TBitmap& current);
  // The reverse of Undo.
  bool Redo(TBitmap& current);
  void Clear();

  bool CanUndo() const { return !undo_.empty(); }
  bool CanRedo() const { return !redo_.empty(); }
  size_t UndoSteps() const { return undo_.size(); }
  size_t RedoSteps() const { return redo_.size(); }
  // Bytes held by the copies of both directions.
  int64_t Bytes() const { return bytes_; }

  // The pixel memory of a bitmap (rows padded as the bitmap stores them).
  static int64_t BytesOf(const TBitmap& b);

 private:
  using State = std::unique_ptr<TBitmap>;
  static State Copy(const TBitmap& b);
  void Trim();

  size_t max_steps_;
  int64_t max_bytes_;
  std::deque<State> undo_;  // oldest first
  std::deque<State> redo_;  // next to redo last
  int64_t bytes_ = 0;
};

}  // namespace korvane::demo
