/// \file
/// Mapping the pages of a large block before it is written.
#pragma once
#include <cstddef>

#include "korvane/foundations/host/export.h"

namespace korvane {

/// Maps the pages of [p, p + n) in one system call when the range is 1 MiB or
/// more. A block written front to back otherwise takes a page fault every 4
/// KB, which costs more than the writing itself on some machines (virtual
/// ones most of all). Smaller ranges, and systems without the call, are left
/// to fault as usual.
KORVANE_EXPORT void KVPrefault(void* p, size_t n);

}  // namespace korvane
