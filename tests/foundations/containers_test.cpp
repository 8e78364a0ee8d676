// Hash set, byte buffer and value lists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <set>
#include <typeinfo>

#include "korvane/foundations/containers.h"

using namespace korvane;

// ---------------------------------------------------------------------------
// THash1

TEST(Hash1, KeysSharingABucketChain) {
  THash1 h(12);
  EXPECT_FALSE(h.KeyPresent(5));  // empty bucket
  EXPECT_TRUE(h.Insert(5));
  EXPECT_TRUE(h.Insert(4101));  // 4101 = 4096 + 5: same bucket
  EXPECT_FALSE(h.Insert(5));
  EXPECT_EQ(h.Count(), 2);
  EXPECT_EQ(h.HashFunc(5), 5);
  EXPECT_EQ(h.HashFunc(4101), 5);
  // Longer chains: every key found, a fresh key in the same bucket is not.
  EXPECT_TRUE(h.Insert(8197));
  EXPECT_TRUE(h.Insert(12293));
  for (int k : {5, 4101, 8197, 12293}) {
    EXPECT_TRUE(h.KeyPresent(k)) << k;
    EXPECT_FALSE(h.Insert(k)) << k;
  }
  EXPECT_FALSE(h.KeyPresent(16389));
  EXPECT_EQ(h.Count(), 4);
  EXPECT_EQ(h.HashFunc(-1), 4095);  // negative keys hash by their low bits too
}

TEST(Hash1, AgreesWithAReferenceSet) {
  for (int bits : {0, 3, 10}) {
    THash1 h(bits);
    std::set<int32_t> ref;
    std::mt19937 rng(uint32_t(bits) + 7);
    for (int i = 0; i < 3000; ++i) {
      int32_t k = int32_t(rng() % 2000) - 1000;
      ASSERT_EQ(h.Insert(k), ref.insert(k).second) << "bits " << bits << " key " << k;
    }
    EXPECT_EQ(h.Count(), int(ref.size()));
    for (int32_t k = -1100; k < 1100; ++k) ASSERT_EQ(h.KeyPresent(k), ref.count(k) == 1) << k;
  }
}

TEST(Hash1, BucketBitsAreClamped) {
  EXPECT_EQ(THash1(-4).BucketCount(), 1);
  THash1 one(0);
  EXPECT_TRUE(one.Insert(INT32_MIN));
  EXPECT_TRUE(one.Insert(INT32_MAX));
  EXPECT_TRUE(one.KeyPresent(INT32_MIN));
}

// ---------------------------------------------------------------------------
// TKVByteArray

TEST(ByteArray, CapacityGrowsToRequestPlusABlock) {
  TKVByteArray a;
  EXPECT_EQ(a.Size(), 0);
  EXPECT_EQ(a.Capacity(), 4096);
  for (int i = 0; i < 4096; ++i) a.AddByte(uint8_t(i * 7));
  EXPECT_EQ(a.Capacity(), 4096);
  a.AddByte(0xAB);
  EXPECT_EQ(a.Size(), 4097);
  EXPECT_EQ(a.Capacity(), 8193);
  for (int i = 0; i < 4096; ++i) ASSERT_EQ(a.Data()[i], uint8_t(i * 7)) << i;
  EXPECT_EQ(a.Data()[4096], 0xAB);
}

TEST(ByteArray, ShrinksOnlyMoreThanABlockBelowCapacity) {
  TKVByteArray a;
  a.SetSize(10000);
  EXPECT_EQ(a.Capacity(), 14096);
  a.Data()[9998] = 42;
  a.SetSize(10000);  // not below capacity - block: kept
  EXPECT_EQ(a.Capacity(), 14096);
  a.SetSize(9999);
  EXPECT_EQ(a.Capacity(), 14095);
  EXPECT_EQ(a.Data()[9998], 42);
  a.SetSize(5);
  a.SetSize(20);  // regrown bytes read as zero, not as the old contents
  for (int i = 5; i < 20; ++i) EXPECT_EQ(a.Data()[i], 0) << i;
  a.SetSize(-3);
  EXPECT_EQ(a.Size(), 0);
  a.Clear();
  EXPECT_EQ(a.Size(), 0);
  EXPECT_EQ(a.Capacity(), 4096);
}

TEST(ByteArray, AppendFromStreamCountsOnlyBytesRead) {
  TMemoryStream s;
  const char text[] = "0123456789";
  s.SetData(text, 10);
  TKVByteArray a;
  a.AddByte('x');
  EXPECT_EQ(a.AppendFromStream(&s, 4), 4);
  EXPECT_EQ(a.AppendFromStream(&s, 100), 6);  // short stream
  EXPECT_EQ(a.Size(), 11);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(a.Data()), 11), "x0123456789");
  EXPECT_EQ(a.AppendFromStream(&s, 5), 0);
  EXPECT_EQ(a.AppendFromStream(&s, -5), 0);
  EXPECT_EQ(a.Size(), 11);
}

TEST(ByteArray, HugeRequestOnShortStreamAllocatesLittle) {
  TMemoryStream s;
  s.SetData("abc", 3);
  TKVByteArray a;
  EXPECT_EQ(a.AppendFromStream(&s, INT32_MAX - 10), 3);
  EXPECT_EQ(a.Size(), 3);
  EXPECT_LE(a.Capacity(), (1 << 20) + 2 * 4096);
}

TEST(ByteArray, AppendSpanningSeveralChunks) {
  std::vector<uint8_t> src(3 * (1 << 20) + 123);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint8_t(i * 31 + (i >> 11));
  TMemoryStream s;
  s.SetData(src.data(), src.size());
  TKVByteArray a;
  ASSERT_EQ(a.AppendFromStream(&s, int(src.size())), int(src.size()));
  ASSERT_EQ(a.Size(), int(src.size()));
  EXPECT_EQ(std::memcmp(a.Data(), src.data(), src.size()), 0);
}

// ---------------------------------------------------------------------------
// Value lists

static std::vector<int32_t> Items(const TKVIntegerList& l) {
  std::vector<int32_t> v;
  for (int i = 0; i < l.Count(); ++i) v.push_back(l.GetItem(i));
  return v;
}

TEST(ValueList, InsertDeleteAndIndex) {
  TKVIntegerList l;
  EXPECT_EQ(l.ItemSize(), 4);
  EXPECT_EQ(l.Add(10), 0);
  EXPECT_EQ(l.Add(20), 1);
  l.Insert(1, 15);   // middle
  l.Insert(0, 5);    // front
  l.Insert(4, 25);   // at count: appended
  l.Insert(99, 30);  // past the end: appended
  l.Insert(-7, 1);   // negative: front
  EXPECT_EQ(Items(l), (std::vector<int32_t>{1, 5, 10, 15, 20, 25, 30}));
  EXPECT_EQ(l.IndexOf(15), 3);
  EXPECT_EQ(l.IndexOf(99), -1);
  l.Add(15);
  EXPECT_EQ(l.IndexOf(15), 3);  // the first match
  l.Delete(0);
  l.Delete(-1);
  l.Delete(l.Count());
  EXPECT_EQ(Items(l), (std::vector<int32_t>{5, 10, 15, 20, 25, 30, 15}));
  l.SetCount(2);
  EXPECT_EQ(Items(l), (std::vector<int32_t>{5, 10}));
  l.SetCount(4);  // new items are zero
  EXPECT_EQ(Items(l), (std::vector<int32_t>{5, 10, 0, 0}));
}

TEST(ValueList, OutOfRangeIndexesTouchNothing) {
  TKVIntegerList l;
  l.Add(7);
  l.SetChanged(0);
  for (int i : {-1, 1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(l.BaseGetItem(i), nullptr) << i;
    EXPECT_EQ(l.GetItem(i), 0) << i;
    l.SetItem(i, 99);
  }
  EXPECT_EQ(Items(l), (std::vector<int32_t>{7}));
  EXPECT_EQ(l.Changed(), 0);
  TKVIntegerList empty;
  EXPECT_EQ(empty.BaseGetItem(0), nullptr);
  EXPECT_EQ(empty.IndexOf(0), -1);
}

TEST(ValueList, AddingAnItemOfTheListItself) {
  TKVIntegerList l;
  for (int i = 0; i < 4; ++i) l.Add(i + 1);
  // The pointer addresses the list's storage, which the add reallocates.
  l.AddItem(l.BaseGetItem(0));
  l.InsertItem(0, l.BaseGetItem(3));
  EXPECT_EQ(Items(l), (std::vector<int32_t>{4, 1, 2, 3, 4, 1}));
}

struct FlagCase {
  const char* what;
  std::function<void(TKVIntegerList&)> op;
  uint8_t flags;
};
class ValueListFlags : public ::testing::TestWithParam<FlagCase> {};

TEST_P(ValueListFlags, OperationSetsItsBit) {
  TKVIntegerList l;
  l.Add(1);
  l.Add(2);
  l.SetChanged(0);
  GetParam().op(l);
  EXPECT_EQ(l.Changed(), GetParam().flags) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ValueListFlags,
    ::testing::Values(FlagCase{"add", [](TKVIntegerList& l) { l.Add(3); }, kvlChangedItems},
                      FlagCase{"insert", [](TKVIntegerList& l) { l.Insert(0, 3); }, kvlChangedItems},
                      FlagCase{"delete", [](TKVIntegerList& l) { l.Delete(1); }, kvlChangedItems},
                      FlagCase{"delete outside", [](TKVIntegerList& l) { l.Delete(2); }, 0},
                      FlagCase{"set item", [](TKVIntegerList& l) { l.SetItem(0, 9); }, kvlChangedItems},
                      FlagCase{"set count", [](TKVIntegerList& l) { l.SetCount(5); }, kvlChangedItems},
                      FlagCase{"index of", [](TKVIntegerList& l) { l.IndexOf(2); }, 0},
                      FlagCase{"range min", [](TKVIntegerList& l) { l.SetRangeMin(1); }, kvlChangedRange},
                      FlagCase{"range max", [](TKVIntegerList& l) { l.SetRangeMax(1); }, kvlChangedRange},
                      FlagCase{"step", [](TKVIntegerList& l) { l.SetRangeStep(1); }, kvlChangedRange},
                      FlagCase{"current", [](TKVIntegerList& l) { l.SetCurrentValue(1); }, kvlChangedCurrent},
                      FlagCase{"clear",
                               [](TKVIntegerList& l) {
                                 l.SetCurrentValue(1);
                                 l.Clear();
                               },
                               0}));

TEST(ValueList, ClearResetsRangeAndKeepsItemSize) {
  TKVIntegerList l;
  l.Add(3);
  l.SetRangeMin(-5);
  l.SetRangeMax(5);
  l.SetRangeStep(2);
  l.SetCurrentValue(1);
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.ItemSize(), 4);
  EXPECT_EQ(l.Changed(), 0);
  EXPECT_EQ(l.RangeMin() | l.RangeMax() | l.RangeStep() | l.CurrentValue(), 0);
  TKVDoubleList d;
  d.Add(1.5);
  d.Clear();
  EXPECT_EQ(d.ItemSize(), 8);
  EXPECT_EQ(d.Add(2.5), 0);
  EXPECT_EQ(d.GetItem(0), 2.5);
}

TEST(ValueList, AssignCopiesItemsRangeAndFlags) {
  TKVDoubleList a;
  a.Add(0.5);
  a.Add(-2.25);
  a.SetRangeMin(-1);
  a.SetRangeMax(1);
  a.SetRangeStep(0.125);
  a.SetCurrentValue(0.75);
  TKVDoubleList b;
  b.Add(9);
  b.Assign(a);
  EXPECT_EQ(b.Count(), 2);
  EXPECT_EQ(b.GetItem(1), -2.25);
  EXPECT_EQ(b.RangeStep(), 0.125);
  EXPECT_EQ(b.CurrentValue(), 0.75);
  EXPECT_EQ(b.Changed(), a.Changed());
  a.SetItem(0, 7);  // deep copy
  EXPECT_EQ(b.GetItem(0), 0.5);
}

TEST(ValueList, AssignBetweenKindsIsRefused) {
  // An 8-byte item read through a 4-byte list (or the other way) would read
  // outside the storage: the assignment raises and leaves the list as it was.
  TKVIntegerList i;
  i.Add(4);
  TKVDoubleList d;
  d.Add(1.0);
  EXPECT_THROW(d.Assign(i), std::bad_cast);
  EXPECT_EQ(d.ItemSize(), 8);
  EXPECT_EQ(d.GetItem(0), 1.0);
  EXPECT_THROW(i.Assign(d), std::bad_cast);
  TKVRecordList r(12);
  EXPECT_THROW(r.Assign(d), std::bad_cast);
  TKVRecordList r8(8);
  r8.Assign(d);  // same item size: the bytes are taken as they are
  EXPECT_EQ(r8.Count(), 1);
}

TEST(ValueList, DoubleIndexComparesBytes) {
  TKVDoubleList d;
  d.Add(0.0);
  d.Add(std::nan(""));
  EXPECT_EQ(d.IndexOf(std::nan("")), 1);
  EXPECT_EQ(d.IndexOf(-0.0), -1);
}

TEST(ValueList, RecordsPassThroughByPointer) {
  struct Rec {
    int32_t a;
    char name[12];
  };
  TKVRecordList l(sizeof(Rec));
  Rec r1{1, "one"}, r2{2, "two"}, r3{3, "three"};
  l.Add(&r1);
  l.Add(&r3);
  l.Insert(1, &r2);
  ASSERT_EQ(l.Count(), 3);
  EXPECT_STREQ(static_cast<const Rec*>(l.GetItem(1))->name, "two");
  EXPECT_EQ(l.IndexOf(&r3), 2);
  l.Clear();
  EXPECT_EQ(l.ItemSize(), int(sizeof(Rec)));
  EXPECT_EQ(TKVRecordList(0).RecordSize(), 1);
}
