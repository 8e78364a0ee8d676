#include "korvane/foundations/host/prefault.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

namespace korvane {

void KVPrefault(void* p, size_t n) {
#ifdef MADV_POPULATE_WRITE
  if (!p || n < (size_t(1) << 20)) return;
  static const uintptr_t page = uintptr_t(sysconf(_SC_PAGESIZE));
  // Whole pages inside the range only: the ones at its ends may hold other
  // data, which populating leaves as it is anyway.
  const uintptr_t from = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  const uintptr_t to = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), size_t(to - from), MADV_POPULATE_WRITE);
#else
  (void)p, (void)n;
#endif
}

}  // namespace korvane
