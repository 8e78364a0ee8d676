#include "korvane/acquire/twain_caps.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace korvane {

// ---------------------------------------------------------------------------
// TW_FIX32 and identity strings

TW_FIX32 FloatToFix32(double x) {
  // trunc(x * 65536 + 0.5), saturated to the 16.16 range.
  double v = std::trunc(x * 65536.0 + 0.5);
  if (!(v >= -2147483648.0)) v = -2147483648.0;
  if (v > 2147483647.0) v = 2147483647.0;
  const int32_t i = int32_t(v);
  return TW_FIX32{TW_INT16(i >> 16), TW_UINT16(uint32_t(i) & 0xFFFF)};
}

double Fix32ToFloat(TW_FIX32 f) { return double(f.Whole) + double(f.Frac) / 65536.0; }

TW_UINT32 Fix32Bits(TW_FIX32 f) { return TW_UINT32(TW_UINT16(f.Whole)) | (TW_UINT32(f.Frac) << 16); }

TW_FIX32 Fix32FromBits(TW_UINT32 bits) { return TW_FIX32{TW_INT16(TW_UINT16(bits)), TW_UINT16(bits >> 16)}; }

std::string TWStr(const TW_STR32& s) {
  size_t n = 0;
  while (n < 33 && s[n]) ++n;
  return std::string(s, n);
}

void SetTWStr(TW_STR32& s, const char* text) {
  std::memset(s, 0, sizeof(TW_STR32));
  if (text) std::strncpy(s, text, 33);
}

// ---------------------------------------------------------------------------
// Handles

TW_HANDLE TTWainMemory::Alloc(size_t bytes) const {
  if (bytes == 0 || bytes > 0xFFFFFFFFu) return nullptr;
  if (alloc) {
    TW_HANDLE h = alloc(TW_UINT32(bytes));
    if (h) {
      if (uint8_t* p = Lock(h)) std::memset(p, 0, bytes), Unlock(h);
    }
    return h;
  }
  return std::calloc(1, bytes);
}

void TTWainMemory::Free(TW_HANDLE h) const {
  if (!h) return;
  if (free)
    free(h);
  else
    std::free(h);
}

uint8_t* TTWainMemory::Lock(TW_HANDLE h) const {
  if (!h) return nullptr;
  return static_cast<uint8_t*>(lock ? lock(h) : h);
}

void TTWainMemory::Unlock(TW_HANDLE h) const {
  if (h && unlock) unlock(h);
}

size_t TTWainMemory::Size(TW_HANDLE h, size_t limit) const {
  if (!h) return 0;
  if (alloc) return limit;
  return malloc_usable_size(h);
}

// ---------------------------------------------------------------------------
// Items

size_t TWItemSize(TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
    case TWTY_UINT8:
      return 1;
    case TWTY_INT16:
    case TWTY_UINT16:
    case TWTY_BOOL:
      return 2;
    case TWTY_INT32:
    case TWTY_UINT32:
    case TWTY_FIX32:
      return 4;
    default:
      return 0;
  }
}

namespace {

// The value of one item of the given type stored at p.
double ItemValue(const uint8_t* p, TW_UINT16 type) {
  switch (type) {
    case TWTY_INT8:
      return int8_t(p[0]);
    case TWTY_UINT8:
      return p[0];
    case TWTY_INT16: {
      int16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case TWTY_UINT16:
    case TWTY_BOOL: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v;
    }
    case TWTY_INT32: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case TWTY_UINT32: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
    case TWTY_FIX32: {
      TW_FIX32 f;
      std::memcpy(&f, p, 4);
      return Fix32ToFloat(f);
    }
    default:
      return 0;
  }
}

// What a container says, whatever its kind.
struct TDecoded {
  std::vector<double> items;
  bool hasCurrent = false;
  double current = 0;
  bool hasRange = false;
  double min = 0, max = 0, step = 0;
};

bool Decode(const TTWainMemory& mem, const TW_CAPABILITY& cap, TDecoded& d) {
  if (!cap.hContainer) return false;
  // A manager's own blocks cannot be measured: trust them up to the largest
  // container a list is read from.
  const size_t limit = sizeof(TW_ENUMERATION) + size_t(kMaxCapItems) * 4;
  const size_t size = mem.Size(cap.hContainer, limit);
  const uint8_t* p = mem.Lock(cap.hContainer);
  if (!p) return false;
  bool ok = false;
  auto items = [&](size_t header, TW_UINT16 type, TW_UINT32 n) {
    const size_t is = TWItemSize(type);
    if (!is || n > kMaxCapItems || header + size_t(n) * is > size) return false;
    for (TW_UINT32 i = 0; i < n; ++i) d.items.push_back(ItemValue(p + header + i * is, type));
    return true;
  };
  switch (cap.ConType) {
    case TWON_ONEVALUE:
      if (size >= sizeof(TW_ONEVALUE)) {
        TW_ONEVALUE v;
        std::memcpy(&v, p, sizeof v);
        if (TWItemSize(v.ItemType)) {
          d.current = ItemValue(p + offsetof(TW_ONEVALUE, Item), v.ItemType);
          d.items.push_back(d.current);
          d.hasCurrent = ok = true;
        }
      }
      break;
    case TWON_ARRAY:
      if (size >= sizeof(TW_ARRAY)) {
        TW_ARRAY a;
        std::memcpy(&a, p, sizeof a);
        ok = items(sizeof(TW_ARRAY), a.ItemType, a.NumItems);
      }
      break;
    case TWON_ENUMERATION:
      if (size >= sizeof(TW_ENUMERATION)) {
        TW_ENUMERATION e;
        std::memcpy(&e, p, sizeof e);
        ok = items(sizeof(TW_ENUMERATION), e.ItemType, e.NumItems);
        if (ok && e.CurrentIndex < d.items.size()) {
          d.current = d.items[e.CurrentIndex];
          d.hasCurrent = true;
        }
      }
      break;
    case TWON_RANGE:
      if (size >= sizeof(TW_RANGE)) {
        TW_RANGE r;
        std::memcpy(&r, p, sizeof r);
        if (TWItemSize(r.ItemType)) {
          auto field = [&](size_t off) { return ItemValue(p + off, r.ItemType); };
          d.min = field(offsetof(TW_RANGE, MinValue));
          d.max = field(offsetof(TW_RANGE, MaxValue));
          d.step = field(offsetof(TW_RANGE, StepSize));
          d.current = field(offsetof(TW_RANGE, CurrentValue));
          d.hasRange = d.hasCurrent = ok = true;
        }
      }
      break;
    default:
      break;
  }
  mem.Unlock(cap.hContainer);
  return ok;
}

int32_t ToInt(double v) {
  if (!(v >= -2147483648.0)) return INT32_MIN;
  if (v > 2147483647.0) return INT32_MAX;
  return int32_t(std::lround(v));
}

template <typename T>
TW_HANDLE MakeContainer(const TTWainMemory& mem, const T& header, const void* items, size_t itemBytes) {
  TW_HANDLE h = mem.Alloc(sizeof(T) + itemBytes);
  uint8_t* p = mem.Lock(h);
  if (!p) {
    mem.Free(h);
    return nullptr;
  }
  std::memcpy(p, &header, sizeof(T));
  if (itemBytes) std::memcpy(p + sizeof(T), items, itemBytes);
  mem.Unlock(h);
  return h;
}

}  // namespace

// ---------------------------------------------------------------------------
// Containers sent

TW_HANDLE MakeOneValue(const TTWainMemory& mem, TW_UINT16 itemType, TW_UINT32 item) {
  TW_ONEVALUE v{itemType, 0};
  // The item sits at the start of the 32-bit field whatever its size.
  const size_t n = TWItemSize(itemType) ? TWItemSize(itemType) : 4;
  std::memcpy(&v.Item, &item, n);
  return MakeContainer(mem, v, nullptr, 0);
}

TW_HANDLE MakeIntegerEnumeration(const TTWainMemory& mem, const TKVIntegerList& list, int32_t maxValue) {
  std::vector<TW_UINT16> items;
  for (int i = 0; i < list.Count(); ++i) items.push_back(TW_UINT16(std::min(list.GetItem(i), maxValue)));
  const int cur = list.IndexOf(list.CurrentValue());
  TW_ENUMERATION e{TWTY_UINT16, TW_UINT32(items.size()), TW_UINT32(cur < 0 ? 0 : cur), 0};
  return MakeContainer(mem, e, items.data(), items.size() * 2);
}

TW_HANDLE MakeDoubleEnumeration(const TTWainMemory& mem, const TKVDoubleList& list) {
  std::vector<TW_FIX32> items;
  for (int i = 0; i < list.Count(); ++i) items.push_back(FloatToFix32(list.GetItem(i)));
  const int cur = list.IndexOf(list.CurrentValue());
  TW_ENUMERATION e{TWTY_FIX32, TW_UINT32(items.size()), TW_UINT32(cur < 0 ? 0 : cur), 0};
  return MakeContainer(mem, e, items.data(), items.size() * 4);
}

TW_HANDLE MakeDoubleRange(const TTWainMemory& mem, const TKVDoubleList& list) {
  TW_RANGE r{TWTY_FIX32,
             Fix32Bits(FloatToFix32(list.RangeMin())),
             Fix32Bits(FloatToFix32(list.RangeMax())),
             Fix32Bits(FloatToFix32(list.RangeStep())),
             Fix32Bits(FloatToFix32(list.CurrentValue())),
             Fix32Bits(FloatToFix32(list.CurrentValue()))};
  return MakeContainer(mem, r, nullptr, 0);
}

// ---------------------------------------------------------------------------
// Containers read

bool ReadIntegerContainer(const TTWainMemory& mem, const TW_CAPABILITY& cap, TKVIntegerList& list) {
  list.Clear();
  TDecoded d;
  if (!Decode(mem, cap, d)) return false;
  for (double v : d.items) list.Add(ToInt(v));
  if (d.hasRange) {
    list.SetRangeMin(ToInt(d.min));
    list.SetRangeMax(ToInt(d.max));
    list.SetRangeStep(ToInt(d.step));
  }
  if (d.hasCurrent) list.SetCurrentValue(ToInt(d.current));
  return true;
}

bool ReadDoubleContainer(const TTWainMemory& mem, const TW_CAPABILITY& cap, TKVDoubleList& list) {
  list.Clear();
  TDecoded d;
  if (!Decode(mem, cap, d)) return false;
  for (double v : d.items) list.Add(v);
  if (d.hasRange) {
    list.SetRangeMin(d.min);
    list.SetRangeMax(d.max);
    list.SetRangeStep(d.step);
  }
  if (d.hasCurrent) list.SetCurrentValue(d.current);
  return true;
}

bool ReadCurrentValue(const TTWainMemory& mem, const TW_CAPABILITY& cap, double& value) {
  TDecoded d;
  if (!Decode(mem, cap, d) || !d.hasCurrent) return false;
  value = d.current;
  return true;
}

}  // namespace korvane
