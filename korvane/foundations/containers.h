/// \file
/// Small containers shared by several components: an integer hash set (counting
/// distinct colors), a growable byte buffer (the GIF LZW coder's output) and
/// typed value lists with change flags (TWAIN capability values and ranges).
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "korvane/foundations/host/export.h"
#include "korvane/foundations/host/object.h"
#include "korvane/foundations/host/streams.h"

namespace korvane {

/// A set of 32-bit keys in 2^bits buckets chosen by the key's low bits. A
/// bucket holds one key inline or a chain of two or more nodes.
class KORVANE_EXPORT THash1 : public TObject {
 public:
  /// bits is clamped to 0..24 (at most 16M buckets).
  explicit THash1(int bits);
  THash1(const THash1&) = delete;
  THash1& operator=(const THash1&) = delete;

  /// The bucket of a key: its low Bits() bits.
  int HashFunc(int32_t key) const { return int(uint32_t(key) & uint32_t(nbuckets_ - 1)); }
  /// Adds the key; true when it was not present before.
  bool Insert(int32_t key);
  /// True when the key was inserted before.
  bool KeyPresent(int32_t key) const;
  /// Number of distinct keys inserted.
  int Count() const { return count_; }
  /// Number of key bits that choose the bucket, 0..24.
  int Bits() const { return bits_; }
  /// Number of buckets, 2 to the power Bits().
  int BucketCount() const { return nbuckets_; }

 private:
  enum : uint8_t { kEmpty = 0, kInline = 1, kChain = 2 };
  /// A chain node: the key and the index of the next node (-1 at the end).
  struct Node {
    int32_t key;
    int32_t next;
  };
  int32_t NewNode(int32_t key);

  int bits_;
  int nbuckets_;
  /// Per bucket: the key itself (kInline) or the index of the first node of
  /// its chain in nodes_ (kChain).
  std::unique_ptr<uint32_t[]> slots_;
  std::unique_ptr<uint8_t[]> states_;
  std::vector<Node> nodes_;
  int count_ = 0;
};

/// A growable byte buffer. Capacity grows to the requested size plus a block of
/// 4096 bytes, and shrinks the same way when the size falls more than a block
/// below it. Bytes added by growing read as 0.
class KORVANE_EXPORT TKVByteArray : public TObject {
 public:
  /// Bytes of spare capacity kept beyond the size when the buffer reallocates.
  static constexpr int kBlock = 4096;

  TKVByteArray();
  TKVByteArray(const TKVByteArray&) = delete;
  TKVByteArray& operator=(const TKVByteArray&) = delete;

  /// Appends one byte, growing the capacity when it is full.
  void AddByte(uint8_t b);
  /// Size 0 and a fresh block of kBlock bytes.
  void Clear();
  /// A negative size counts as 0. Raises std::bad_alloc for sizes that cannot
  /// be held.
  void SetSize(int n);
  /// Reads up to n bytes from the stream onto the end and returns how many
  /// arrived; the size grows only by that count. The buffer grows with the
  /// data actually read, so a huge n on a short stream allocates no more than
  /// the stream delivers.
  int AppendFromStream(TStream* stream, int n);

  /// The bytes; valid until the next change of size or capacity.
  uint8_t* Data() { return data_.get(); }
  /// The bytes, read-only; valid until the next change of size or capacity.
  const uint8_t* Data() const { return data_.get(); }
  /// Number of bytes in use.
  int Size() const { return size_; }
  /// Number of bytes allocated, at least Size().
  int Capacity() const { return capacity_; }

 private:
  void Reallocate(int64_t capacity, int keep);

  std::unique_ptr<uint8_t[]> data_;
  int size_ = 0;
  int capacity_ = 0;
};

/// Change flags of the value lists.
enum : uint8_t {
  kvlChangedItems = 1,    ///< an item was added, removed or set
  kvlChangedRange = 2,    ///< a range bound or the step was set
  kvlChangedCurrent = 4,  ///< the current value was set
};

/// The base of the typed value lists: count items of ItemSize bytes each in one
/// contiguous block of exactly count * ItemSize bytes, and change flags.
/// Indexes outside the list are ignored by setters; getters answer nullptr.
/// Item pointers are valid until the next change of the list.
class KORVANE_EXPORT TKVList : public TObject {
 public:
  TKVList() = default;
  ~TKVList() override = default;
  TKVList(const TKVList&) = delete;
  TKVList& operator=(const TKVList&) = delete;

  /// Resizes to n items (n < 0 counts as 0), keeping the first ones; new items
  /// are zero.
  virtual void SetCount(int n);
  /// Removes item i; ignored outside the list.
  virtual void Delete(int i);
  /// No items, no storage, no change flags.
  virtual void Clear();
  /// Copies count, item size, change flags and items.
  virtual void Assign(const TKVList& other);

  /// Inserts before item i: at the end when i >= count, at the front when i < 0.
  void InsertItem(int i, const void* item);
  /// First index whose item bytes equal the given ones, -1 when none.
  int IndexOfItem(const void* item) const;
  /// Appends and returns the new index.
  int AddItem(const void* item);
  /// Address of item i, nullptr outside the list.
  void* BaseGetItem(int i);
  /// Read-only address of item i, nullptr outside the list.
  const void* BaseGetItem(int i) const;
  /// Copies the item in; ignored outside the list.
  void BaseSetItem(int i, const void* item);

  /// Number of items.
  int Count() const { return count_; }
  /// Bytes per item, set by the typed list.
  int ItemSize() const { return itemsize_; }
  /// The change flags (kvlChangedItems, kvlChangedRange, kvlChangedCurrent) set since they were last reset.
  uint8_t Changed() const { return changed_; }
  /// Replaces the change flags; 0 marks the list as unchanged.
  void SetChanged(uint8_t flags) { changed_ = flags; }

 protected:
  /// The items, back to back: exactly count_ * itemsize_ bytes.
  std::vector<uint8_t> items_;
  int count_ = 0;        ///< number of items
  int itemsize_ = 0;     ///< bytes per item
  uint8_t changed_ = 0;  ///< change flags, see Changed()
};

/// A list of signed 32-bit values with a range (minimum, maximum, step) and a
/// current value.
class KORVANE_EXPORT TKVIntegerList : public TKVList {
 public:
  TKVIntegerList();
  void Clear() override;
  /// Raises std::bad_cast unless other is a TKVIntegerList (the list is then
  /// unchanged).
  void Assign(const TKVList& other) override;

  /// Appends v and returns its index.
  int Add(int32_t v) { return AddItem(&v); }
  /// 0 outside the list.
  int32_t GetItem(int i) const;
  /// Replaces item i; ignored outside the list.
  void SetItem(int i, int32_t v) { BaseSetItem(i, &v); }
  /// Inserts v before item i (at the end when i >= Count(), at the front when i < 0).
  void Insert(int i, int32_t v) { InsertItem(i, &v); }
  /// First index holding v, -1 when none.
  int IndexOf(int32_t v) const { return IndexOfItem(&v); }

  /// Smallest value of the range; 0 until set.
  int32_t RangeMin() const { return rangemin_; }
  /// Largest value of the range; 0 until set.
  int32_t RangeMax() const { return rangemax_; }
  /// Step between values of the range; 0 until set.
  int32_t RangeStep() const { return rangestep_; }
  /// The current value; 0 until set.
  int32_t CurrentValue() const { return current_; }
  /// Sets the range minimum and the kvlChangedRange flag.
  void SetRangeMin(int32_t v);
  /// Sets the range maximum and the kvlChangedRange flag.
  void SetRangeMax(int32_t v);
  /// Sets the range step and the kvlChangedRange flag.
  void SetRangeStep(int32_t v);
  /// Sets the current value and the kvlChangedCurrent flag.
  void SetCurrentValue(int32_t v);

 private:
  int32_t rangemin_ = 0, rangemax_ = 0, rangestep_ = 0, current_ = 0;
};

/// A list of 64-bit floats with a range and a current value. IndexOf compares
/// the bytes of the values, so it finds a NaN and tells -0.0 from 0.0.
class KORVANE_EXPORT TKVDoubleList : public TKVList {
 public:
  TKVDoubleList();
  void Clear() override;
  /// Raises std::bad_cast unless other is a TKVDoubleList.
  void Assign(const TKVList& other) override;

  /// Appends v and returns its index.
  int Add(double v) { return AddItem(&v); }
  /// 0 outside the list.
  double GetItem(int i) const;
  /// Replaces item i; ignored outside the list.
  void SetItem(int i, double v) { BaseSetItem(i, &v); }
  /// Inserts v before item i (at the end when i >= Count(), at the front when i < 0).
  void Insert(int i, double v) { InsertItem(i, &v); }
  /// First index holding exactly the bytes of v, -1 when none.
  int IndexOf(double v) const { return IndexOfItem(&v); }

  /// Smallest value of the range; 0 until set.
  double RangeMin() const { return rangemin_; }
  /// Largest value of the range; 0 until set.
  double RangeMax() const { return rangemax_; }
  /// Step between values of the range; 0 until set.
  double RangeStep() const { return rangestep_; }
  /// The current value; 0 until set.
  double CurrentValue() const { return current_; }
  /// Sets the range minimum and the kvlChangedRange flag.
  void SetRangeMin(double v);
  /// Sets the range maximum and the kvlChangedRange flag.
  void SetRangeMax(double v);
  /// Sets the range step and the kvlChangedRange flag.
  void SetRangeStep(double v);
  /// Sets the current value and the kvlChangedCurrent flag.
  void SetCurrentValue(double v);

 private:
  double rangemin_ = 0, rangemax_ = 0, rangestep_ = 0, current_ = 0;
};

/// A list of fixed-size records passed by pointer; each record pointer given
/// to it must address RecordSize() readable bytes.
class KORVANE_EXPORT TKVRecordList : public TKVList {
 public:
  /// A record size below 1 counts as 1.
  explicit TKVRecordList(int recordsize);
  void Clear() override;
  /// Raises std::bad_cast unless other holds items of this list's record size
  /// (the list is then unchanged).
  void Assign(const TKVList& other) override;

  /// Appends a copy of the record and returns its index.
  int Add(const void* rec) { return AddItem(rec); }
  /// Address of record i, nullptr outside the list.
  void* GetItem(int i) { return BaseGetItem(i); }
  /// Read-only address of record i, nullptr outside the list.
  const void* GetItem(int i) const { return BaseGetItem(i); }
  /// Copies the record over record i; ignored outside the list.
  void SetItem(int i, const void* rec) { BaseSetItem(i, rec); }
  /// Inserts a copy before record i (at the end when i >= Count(), at the front when i < 0).
  void Insert(int i, const void* rec) { InsertItem(i, rec); }
  /// First index whose record bytes equal the given ones, -1 when none.
  int IndexOf(const void* rec) const { return IndexOfItem(rec); }
  /// Bytes per record, at least 1.
  int RecordSize() const { return recordsize_; }

 private:
  int recordsize_;
};

}  // namespace korvane
