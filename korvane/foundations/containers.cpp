#include "korvane/foundations/containers.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <typeinfo>

namespace korvane {

// ---------------------------------------------------------------------------
// THash1

THash1::THash1(int bits)
    : bits_(std::clamp(bits, 0, 24)),
      nbuckets_(1 << bits_),
      slots_(new uint32_t[size_t(nbuckets_)]),
      states_(new uint8_t[size_t(nbuckets_)]()) {}

int32_t THash1::NewNode(int32_t key) {
  if (nodes_.size() >= size_t(INT32_MAX)) throw std::bad_alloc();
  nodes_.push_back(Node{key, -1});
  return int32_t(nodes_.size() - 1);
}

bool THash1::Insert(int32_t key) {
  const int b = HashFunc(key);
  switch (states_[b]) {
    case kEmpty:
      slots_[b] = uint32_t(key);
      states_[b] = kInline;
      break;
    case kInline: {
      const int32_t stored = int32_t(slots_[b]);
      if (stored == key) return false;
      // Two keys: the bucket becomes a chain, the stored key first.
      const int32_t first = NewNode(stored);
      const int32_t second = NewNode(key);
      nodes_[size_t(first)].next = second;
      slots_[b] = uint32_t(first);
      states_[b] = kChain;
      break;
    }
    default: {
      int32_t i = int32_t(slots_[b]);
      for (;;) {
        if (nodes_[size_t(i)].key == key) return false;
        if (nodes_[size_t(i)].next < 0) break;
        i = nodes_[size_t(i)].next;
      }
      const int32_t n = NewNode(key);
      nodes_[size_t(i)].next = n;
      break;
    }
  }
  ++count_;
  return true;
}

bool THash1::KeyPresent(int32_t key) const {
  const int b = HashFunc(key);
  switch (states_[b]) {
    case kEmpty: return false;
    case kInline: return int32_t(slots_[b]) == key;
    default:
      for (int32_t i = int32_t(slots_[b]); i >= 0; i = nodes_[size_t(i)].next)
        if (nodes_[size_t(i)].key == key) return true;
      return false;
  }
}

// ---------------------------------------------------------------------------
// TKVByteArray

TKVByteArray::TKVByteArray() { Reallocate(kBlock, 0); }

void TKVByteArray::Reallocate(int64_t capacity, int keep) {
  if (capacity > INT_MAX) throw std::bad_alloc();
  std::unique_ptr<uint8_t[]> block(new uint8_t[size_t(capacity)]);
  if (keep > 0) std::memcpy(block.get(), data_.get(), size_t(keep));
  data_ = std::move(block);
  capacity_ = int(capacity);
}

void TKVByteArray::SetSize(int n) {
  if (n < 0) n = 0;
  if (n > size_) {
    if (capacity_ < n) Reallocate(int64_t(n) + kBlock, size_);
    std::memset(data_.get() + size_, 0, size_t(n - size_));
  } else if (n < capacity_ - kBlock) {
    // Give back memory when the size falls more than a block below capacity.
    Reallocate(int64_t(n) + kBlock, n);
  }
  size_ = n;
}

void TKVByteArray::AddByte(uint8_t b) {
  SetSize(size_ + 1);
  data_[size_t(size_ - 1)] = b;
}

void TKVByteArray::Clear() {
  data_.reset();
  capacity_ = 0;
  size_ = 0;
  Reallocate(kBlock, 0);
}

int TKVByteArray::AppendFromStream(TStream* stream, int n) {
  if (!stream || n <= 0) return 0;
  if (int64_t(size_) + n > INT_MAX) throw std::bad_alloc();
  // Read in chunks of at most 1 MiB so that the buffer follows the data that
  // really arrives; capacity doubles when a chunk does not fit, but never
  // beyond the request plus a block.
  constexpr int kChunk = 1 << 20;
  const int64_t target = int64_t(size_) + n;
  int total = 0;
  while (total < n) {
    const int want = std::min(n - total, kChunk);
    if (int64_t(size_) + want > capacity_) {
      int64_t cap = std::max<int64_t>(int64_t(size_) + want + kBlock, int64_t(capacity_) * 2);
      Reallocate(std::min<int64_t>(cap, target + kBlock), size_);
    }
    const int64_t got = stream->Read(data_.get() + size_, want);
    if (got <= 0) break;
    size_ += int(got);
    total += int(got);
    if (got < want) break;
  }
  return total;
}

// ---------------------------------------------------------------------------
// TKVList

void TKVList::SetCount(int n) {
  if (n < 0) n = 0;
  items_.resize(size_t(n) * size_t(itemsize_));  // new items are zero
  count_ = n;
  changed_ |= kvlChangedItems;
}

void TKVList::Delete(int i) {
  if (i < 0 || i >= count_) return;
  const size_t sz = size_t(itemsize_);
  items_.erase(items_.begin() + ptrdiff_t(size_t(i) * sz), items_.begin() + ptrdiff_t(size_t(i + 1) * sz));
  --count_;
  changed_ |= kvlChangedItems;
}

void TKVList::Clear() {
  items_.clear();
  items_.shrink_to_fit();
  count_ = 0;
  changed_ = 0;
}

void TKVList::Assign(const TKVList& other) {
  if (&other == this) return;
  items_ = other.items_;
  count_ = other.count_;
  itemsize_ = other.itemsize_;
  changed_ = other.changed_;
}

void TKVList::InsertItem(int i, const void* item) {
  if (i >= count_) {
    AddItem(item);
    return;
  }
  if (i < 0) i = 0;
  const size_t sz = size_t(itemsize_);
  const uint8_t* p = static_cast<const uint8_t*>(item);
  // Copy first: the item may point into this list's own storage.
  std::vector<uint8_t> copy(p, p + sz);
  items_.insert(items_.begin() + ptrdiff_t(size_t(i) * sz), copy.begin(), copy.end());
  ++count_;
  changed_ |= kvlChangedItems;
}

int TKVList::IndexOfItem(const void* item) const {
  const size_t sz = size_t(itemsize_);
  for (int i = 0; i < count_; ++i)
    if (std::memcmp(items_.data() + size_t(i) * sz, item, sz) == 0) return i;
  return -1;
}

int TKVList::AddItem(const void* item) {
  // Copy first: the item may point into this list's own storage.
  std::vector<uint8_t> copy(static_cast<const uint8_t*>(item), static_cast<const uint8_t*>(item) + itemsize_);
  SetCount(count_ + 1);
  std::memcpy(items_.data() + size_t(count_ - 1) * size_t(itemsize_), copy.data(), copy.size());
  return count_ - 1;
}

void* TKVList::BaseGetItem(int i) {
  if (i < 0 || i >= count_) return nullptr;
  return items_.data() + size_t(i) * size_t(itemsize_);
}

const void* TKVList::BaseGetItem(int i) const {
  if (i < 0 || i >= count_) return nullptr;
  return items_.data() + size_t(i) * size_t(itemsize_);
}

void TKVList::BaseSetItem(int i, const void* item) {
  if (i < 0 || i >= count_) return;
  std::memmove(items_.data() + size_t(i) * size_t(itemsize_), item, size_t(itemsize_));
  changed_ |= kvlChangedItems;
}

// ---------------------------------------------------------------------------
// Typed lists

TKVIntegerList::TKVIntegerList() { itemsize_ = sizeof(int32_t); }

void TKVIntegerList::Clear() {
  TKVList::Clear();
  itemsize_ = sizeof(int32_t);
  rangemin_ = rangemax_ = rangestep_ = current_ = 0;
}

void TKVIntegerList::Assign(const TKVList& other) {
  const auto& o = dynamic_cast<const TKVIntegerList&>(other);
  TKVList::Assign(o);
  rangemin_ = o.rangemin_;
  rangemax_ = o.rangemax_;
  rangestep_ = o.rangestep_;
  current_ = o.current_;
}

int32_t TKVIntegerList::GetItem(int i) const {
  int32_t v = 0;
  if (const void* p = BaseGetItem(i)) std::memcpy(&v, p, sizeof v);
  return v;
}

void TKVIntegerList::SetRangeMin(int32_t v) { rangemin_ = v, changed_ |= kvlChangedRange; }
void TKVIntegerList::SetRangeMax(int32_t v) { rangemax_ = v, changed_ |= kvlChangedRange; }
void TKVIntegerList::SetRangeStep(int32_t v) { rangestep_ = v, changed_ |= kvlChangedRange; }
void TKVIntegerList::SetCurrentValue(int32_t v) { current_ = v, changed_ |= kvlChangedCurrent; }

TKVDoubleList::TKVDoubleList() { itemsize_ = sizeof(double); }

void TKVDoubleList::Clear() {
  TKVList::Clear();
  itemsize_ = sizeof(double);
  rangemin_ = rangemax_ = rangestep_ = current_ = 0;
}

void TKVDoubleList::Assign(const TKVList& other) {
  const auto& o = dynamic_cast<const TKVDoubleList&>(other);
  TKVList::Assign(o);
  rangemin_ = o.rangemin_;
  rangemax_ = o.rangemax_;
  rangestep_ = o.rangestep_;
  current_ = o.current_;
}

double TKVDoubleList::GetItem(int i) const {
  double v = 0;
  if (const void* p = BaseGetItem(i)) std::memcpy(&v, p, sizeof v);
  return v;
}

void TKVDoubleList::SetRangeMin(double v) { rangemin_ = v, changed_ |= kvlChangedRange; }
void TKVDoubleList::SetRangeMax(double v) { rangemax_ = v, changed_ |= kvlChangedRange; }
void TKVDoubleList::SetRangeStep(double v) { rangestep_ = v, changed_ |= kvlChangedRange; }
void TKVDoubleList::SetCurrentValue(double v) { current_ = v, changed_ |= kvlChangedCurrent; }

TKVRecordList::TKVRecordList(int recordsize) : recordsize_(std::max(recordsize, 1)) {
  itemsize_ = recordsize_;
}

void TKVRecordList::Clear() {
  TKVList::Clear();
  itemsize_ = recordsize_;
}

void TKVRecordList::Assign(const TKVList& other) {
  // Items of another size would make record pointers address too few or too
  // many bytes.
  if (other.ItemSize() != recordsize_) throw std::bad_cast();
  TKVList::Assign(other);
}

}  // namespace korvane
