// Fuzz target for what a TWAIN source hands the application: capability
// containers of any kind and size (read as integer and double lists and as a
// current value) and memory-transfer strips with any offsets, sizes and row
// lengths, copied into 1- and 24-bit bitmaps. Nothing may be read or written
// outside the container block, the strip buffer or the bitmap.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "korvane/acquire/twain_caps.h"
#include "korvane/acquire/twain_session.h"

using namespace korvane;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const uint8_t mode = data[0];
  data += 1, size -= 1;
  if (mode & 1) {
    // A container: one kind byte, then the block the source would allocate.
    static const TW_UINT16 kinds[] = {TWON_ARRAY, TWON_ENUMERATION, TWON_ONEVALUE, TWON_RANGE, 0x42};
    TTWainMemory mem;
    auto* block = static_cast<uint8_t*>(mem.Alloc(size - 1));
    if (!block) return 0;
    std::memcpy(block, data + 1, size - 1);
    TW_CAPABILITY cap{ICAP_XRESOLUTION, kinds[data[0] % 5], block};
    TKVIntegerList il;
    TKVDoubleList dl;
    double v = 0;
    ReadIntegerContainer(mem, cap, il);
    ReadDoubleContainer(mem, cap, dl);
    ReadCurrentValue(mem, cap, v);
    mem.Free(block);
    return int(il.Count() + dl.Count()) & 0;
  }
  // A strip: bitmap size and depth, the transfer record, then the strip.
  if (size < 3 + sizeof(TW_IMAGEMEMXFER)) return 0;
  const int w = 1 + data[0] % 64, h = 1 + data[1] % 64;
  const int bpp = data[2] % 3 == 0 ? 1 : data[2] % 3 == 1 ? 8 : 24;
  TW_IMAGEMEMXFER x;
  std::memcpy(&x, data + 3, sizeof x);
  const uint8_t* strip = data + 3 + sizeof x;
  const size_t len = size - 3 - sizeof x;
  // The strip in a block of its own size, so overreads show.
  auto* mem = static_cast<uint8_t*>(std::malloc(len ? len : 1));
  if (len) std::memcpy(mem, strip, len);
  TBitmap bmp;
  bmp.Allocate(w, h, bpp == 1 ? pf1bit : pf24bit);
  CopyTWainStrip(&bmp, bpp, x, mem, len);
  std::free(mem);
  return 0;
}
