#include "apps/korvane-demo/image_history.h"

#include <algorithm>

namespace korvane::demo {

ImageHistory::ImageHistory(size_t maxSteps, int64_t maxBytes)
    : max_steps_(std::max<size_t>(maxSteps, 1)), max_bytes_(maxBytes) {}

int64_t ImageHistory::BytesOf(const TBitmap& b) {
  if (b.Width() <= 0 || b.Height() <= 0) return 0;
  const int64_t row = (int64_t(b.Width()) * b.BitsPerPixel() + 31) / 32 * 4;
  return row * b.Height();
}

ImageHistory::State ImageHistory::Copy(const TBitmap& b) {
  auto s = std::make_unique<TBitmap>();
  s->Assign(&b);
  return s;
}

void ImageHistory::Push(const TBitmap& before) {
  for (const State& s : redo_) bytes_ -= BytesOf(*s);
  redo_.clear();
  undo_.push_back(Copy(before));
  bytes_ += BytesOf(*undo_.back());
  Trim();
}

void ImageHistory::Trim() {
  while (undo_.size() > 1 && (undo_.size() > max_steps_ || bytes_ > max_bytes_)) {
    bytes_ -= BytesOf(*undo_.front());
    undo_.pop_front();
  }
}

bool ImageHistory::Undo(TBitmap& current) {
  if (undo_.empty()) return false;
  redo_.push_back(Copy(current));
  bytes_ += BytesOf(*redo_.back());
  State s = std::move(undo_.back());
  undo_.pop_back();
  bytes_ -= BytesOf(*s);
  current.Assign(s.get());
  return true;
}

bool ImageHistory::Redo(TBitmap& current) {
  if (redo_.empty()) return false;
  undo_.push_back(Copy(current));
  bytes_ += BytesOf(*undo_.back());
  State s = std::move(redo_.back());
  redo_.pop_back();
  bytes_ -= BytesOf(*s);
  current.Assign(s.get());
  Trim();
  return true;
}

void ImageHistory::Clear() {
  undo_.clear();
  redo_.clear();
  bytes_ = 0;
}

}  // namespace korvane::demo
