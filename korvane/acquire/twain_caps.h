/// \file
/// Capability containers: building the containers an application sends with
/// MSG_SET and reading the ones a source answers to MSG_GET, over the handle
/// functions of the open source manager. Containers from a source are hostile
/// data: item counts and indexes are checked against the bytes the handle
/// holds.
#pragma once
#include <cstddef>
#include <cstdint>

#include "korvane/acquire/twain_types.h"
#include "korvane/foundations/containers.h"
#include "korvane/foundations/host/export.h"

namespace korvane {

/// The handle functions of a source manager: its DAT_ENTRYPOINT functions
/// when it offers them, otherwise malloc/free with a handle being the address
/// of its memory.
struct KORVANE_EXPORT TTWainMemory {
  DSM_MEMALLOCATE alloc = nullptr;  ///< the manager's allocation function; null means calloc
  DSM_MEMFREE free = nullptr;       ///< the manager's release function; null means std::free
  DSM_MEMLOCK lock = nullptr;       ///< the manager's lock function; null means the handle is the address
  DSM_MEMUNLOCK unlock = nullptr;   ///< the manager's unlock function; null means nothing to do

  /// A zeroed block, null when out of memory.
  TW_HANDLE Alloc(size_t bytes) const;
  /// Releases a block; a null handle is ignored.
  void Free(TW_HANDLE h) const;
  /// Address of a block's memory until Unlock; null for a null handle.
  uint8_t* Lock(TW_HANDLE h) const;
  /// Ends a Lock; nothing for a null handle or a malloc block.
  void Unlock(TW_HANDLE h) const;
  /// Bytes known to be readable behind a handle a source handed over: the
  /// allocation's size for malloc blocks, Limit for a manager's own blocks
  /// (whose size cannot be asked).
  size_t Size(TW_HANDLE h, size_t limit) const;
};

/// Largest item count read from a container.
constexpr uint32_t kMaxCapItems = 4096;

/// Bytes of one item of a container item type; 0 for types lists do not hold.
KORVANE_EXPORT size_t TWItemSize(TW_UINT16 type);

/// Containers for MSG_SET (null when out of memory). The caller frees them.
KORVANE_EXPORT TW_HANDLE MakeOneValue(const TTWainMemory& mem, TW_UINT16 itemType, TW_UINT32 item);
/// Items as TWTY_UINT16; CurrentIndex the position of the current value (0
/// when it is not among the items). Values above maxValue are sent as it.
KORVANE_EXPORT TW_HANDLE MakeIntegerEnumeration(const TTWainMemory& mem, const TKVIntegerList& list,
                                                int32_t maxValue = 0xFFFF);
/// Items as TWTY_FIX32; CurrentIndex the position of the current value (0 when it is not among the items).
KORVANE_EXPORT TW_HANDLE MakeDoubleEnumeration(const TTWainMemory& mem, const TKVDoubleList& list);
/// A TWTY_FIX32 range of the list's minimum, maximum and step, with the current value as both default
/// and current value.
KORVANE_EXPORT TW_HANDLE MakeDoubleRange(const TTWainMemory& mem, const TKVDoubleList& list);

/// Fills a list from a container: arrays give items, enumerations items and
/// the current value (the item at CurrentIndex), one-values one item that is
/// also current, ranges the range and the current value. False (the list
/// cleared) for other containers or damaged data.
KORVANE_EXPORT bool ReadIntegerContainer(const TTWainMemory& mem, const TW_CAPABILITY& cap,
                                         TKVIntegerList& list);
/// The same for a list of doubles; FIX32 items are converted, integer items kept as they are.
KORVANE_EXPORT bool ReadDoubleContainer(const TTWainMemory& mem, const TW_CAPABILITY& cap,
                                        TKVDoubleList& list);
/// The current value of any container as a double (FIX32 items converted).
KORVANE_EXPORT bool ReadCurrentValue(const TTWainMemory& mem, const TW_CAPABILITY& cap, double& value);

}  // namespace korvane
