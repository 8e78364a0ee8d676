#include "korvane/io/codecs/tiff/tiff_lzw.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

namespace korvane {

namespace {

constexpr int kClear = 256, kEoi = 257, kFirstFree = 258, kMaxCodes = 4096;

struct LzwDecoder {
  const uint8_t* data = nullptr;
  int64_t size = 0;
  int64_t bitPos = 0;
  bool ended = false;
  int width = 9;
  int next = kFirstFree;
  int prev = -1;
  // Each table string is kept whole in an arena (a new entry copies its
  // prefix string and adds a byte), so emitting a code is one copy.
  // Sixteen spare bytes past the used part let short strings move as one
  // fixed-size copy.
  std::unique_ptr<uint8_t[]> arena;
  size_t arenaUsed = 0, arenaCap = 0;
  uint32_t start[kMaxCodes];
  uint16_t length[kMaxCodes];
  std::vector<uint8_t> out;  // decoded bytes not yet returned start at 0
  int64_t have = 0;          // decoded bytes held in out
  int64_t handed = 0;        // bytes returned by the last call
  // Strips of early writers pack codes least significant bit first and widen
  // without the early change; they start with the bytes 0x00 0x01 (a clear
  // code so packed), which no current strip can.
  bool compat = false;

  LzwDecoder(const uint8_t* d, int64_t n) : data(d), size(std::max<int64_t>(n, 0)) {
    compat = size >= 2 && data[0] == 0 && (data[1] & 1);
    arenaCap = 1 << 16;
    arena = std::make_unique<uint8_t[]>(arenaCap + 16);
    arenaUsed = 256;
    for (int i = 0; i < 256; ++i) {
      arena[size_t(i)] = uint8_t(i);
      start[i] = uint32_t(i);
      length[i] = 1;
    }
  }

  // Next code, or -1 when the data end before it.
  int Code() {
    if (bitPos + width > size * 8) return -1;
    const int64_t byte = bitPos >> 3;
    if (!compat && byte + 4 <= size) {
      uint32_t w;
      std::memcpy(&w, data + byte, 4);
      w = __builtin_bswap32(w);
      const int shift = 32 - int(bitPos & 7) - width;
      bitPos += width;
      return int((w >> shift) & ((1u << width) - 1));
    }
    if (compat) {
      uint32_t w = data[byte];
      if (byte + 1 < size) w |= uint32_t(data[byte + 1]) << 8;
      if (byte + 2 < size) w |= uint32_t(data[byte + 2]) << 16;
      const int shift = int(bitPos & 7);
      bitPos += width;
      return int((w >> shift) & ((1u << width) - 1));
    }
    uint32_t w = uint32_t(data[byte]) << 16;
    if (byte + 1 < size) w |= uint32_t(data[byte + 1]) << 8;
    if (byte + 2 < size) w |= data[byte + 2];
    const int shift = 24 - int(bitPos & 7) - width;
    bitPos += width;
    return int((w >> shift) & ((1u << width) - 1));
  }

  // Decodes until at least count bytes are held or the stream ends. The
  // state lives in locals while decoding: byte stores could otherwise alias
  // every member and force it back to memory.
  void Fill(int64_t count) {
    int64_t bp = bitPos, hv = have;
    int w = width, nx = next, pv = prev;
    size_t used = arenaUsed;
    uint8_t* o = out.data();
    uint8_t* ar = arena.get();
    const uint8_t* d = data;
    const int64_t sz = size, bits = size * 8;
    const int early = compat ? 0 : 1;
    while (hv < count && !ended) {
      if (bp + w > bits) {
        ended = true;
        break;
      }
      const int64_t byte = bp >> 3;
      int code;
      if (!compat && byte + 4 <= sz) {
        uint32_t x;
        std::memcpy(&x, d + byte, 4);
        code = int((__builtin_bswap32(x) >> (32 - int(bp & 7) - w)) & ((1u << w) - 1));
        bp += w;
      } else {
        bitPos = bp;
        width = w;
        code = Code();
        bp = bitPos;
      }
      if (code == kEoi) {
        ended = true;
        break;
      }
      if (code == kClear) {
        w = 9, nx = kFirstFree, pv = -1, used = 256;
        continue;
      }
      if (pv < 0) {
        // First code after a clear (or of the strip): a literal.
        if (code >= 256) {
          ended = true;
          break;
        }
        o[hv++] = uint8_t(code);
        pv = code;
        continue;
      }
      const bool known = code < nx;
      if (!known && !(code == nx && nx < kMaxCodes)) {
        ended = true;  // past the table
        break;
      }
      if (nx < kMaxCodes) {
        // New entry: the previous string and the first byte of this one.
        const uint8_t first = known ? ar[start[code]] : ar[start[pv]];
        const size_t plen = length[pv];
        if (used + plen + 1 > arenaCap) {
          arenaUsed = used;
          ar = Grow(used + plen + 1);
        }
        const uint8_t* from = ar + start[pv];
        if (plen <= 16) {
          // Loaded whole before the store, so the spare bytes read past the
          // string may overlap where it goes.
          uint8_t tmp[16];
          std::memcpy(tmp, from, 16);
          std::memcpy(ar + used, tmp, 16);
        } else {
          std::memmove(ar + used, from, plen);
        }
        ar[used + plen] = first;
        start[nx] = uint32_t(used);
        length[nx] = uint16_t(plen + 1);
        used += plen + 1;
        ++nx;
        w = nx >= 2048 - early ? 12 : nx >= 1024 - early ? 11 : nx >= 512 - early ? 10 : 9;
      }
      const int len = length[code];
      const uint8_t* src = ar + start[code];
      if (len <= 16)
        std::memcpy(o + hv, src, 16);
      else
        std::memcpy(o + hv, src, size_t(len));
      hv += len;
      pv = code;
    }
    bitPos = bp, have = hv, width = w, next = nx, prev = pv, arenaUsed = used;
  }

  uint8_t* Grow(size_t need) {
    const size_t cap = std::max(arenaCap * 2, need);
    auto grown = std::make_unique<uint8_t[]>(cap + 16);
    std::memcpy(grown.get(), arena.get(), arenaUsed);
    arena = std::move(grown);
    arenaCap = cap;
    return arena.get();
  }
};

struct LzwEncoder {
  // Open addressing by a multiplicative hash, linear probing, at most half
  // full: probes stay short and within a cache line or two.
  // A slot holds generation << 20 | byte << 12 | prefix; a slot of another
  // generation is empty, so clearing the table is a new generation.
  static constexpr int kHashBits = 13, kHashSize = 1 << kHashBits;
  uint32_t codes[kHashSize];
  uint16_t values[kHashSize];
  uint32_t gen = 0;
  int width = 9;
  int next = kFirstFree;
  int prefix = -1;
  uint32_t acc = 0;  // pending bits, right-aligned
  int accBits = 0;
  std::vector<uint8_t> buf;

  LzwEncoder() {
    buf.reserve(4096 + 8);
    std::fill(codes, codes + kHashSize, 0u);
    ClearTable();
  }
  void ClearTable() {
    if (++gen == 4096) {  // generations wrap: empty the slots for real
      std::fill(codes, codes + kHashSize, 0u);
      gen = 1;
    }
    width = 9;
    next = kFirstFree;
  }
  void Put(int code, TStream* s) {
    acc = (acc << width) | uint32_t(code);
    accBits += width;
    while (accBits >= 8) {
      accBits -= 8;
      buf.push_back(uint8_t(acc >> accBits));
    }
    acc &= (1u << accBits) - 1;
    if (buf.size() >= 4096) Flush(s);
  }
  void Flush(TStream* s) {
    if (!buf.empty()) s->WriteBuffer(buf.data(), int64_t(buf.size()));
    buf.clear();
  }
  // Writes the current prefix and accounts for the entry the decoder adds
  // when it reads it (or clears the table when it is full).
  void EmitPrefix(TStream* s) {
    Put(prefix, s);
    if (next < kMaxCodes - 2) {
      ++next;
      if (next > (1 << width) - 1 && width < 12) ++width;
    } else {
      Put(kClear, s);
      ClearTable();
    }
  }
  void Encode(const uint8_t* p, int32_t n, TStream* s) {
    int32_t i = 0;
    if (prefix < 0 && n > 0) prefix = p[i++];
    // Locals, which the compiler keeps in registers across the writes.
    int pre = prefix;
    uint32_t g = gen << 20;
    for (; i < n; ++i) {
      const uint8_t c = p[i];
      const uint32_t key = g | uint32_t(c) << 12 | uint32_t(pre);
      int h = int(((uint32_t(c) << 12 | uint32_t(pre)) * 2654435761u) >> (32 - kHashBits));
      uint32_t slot;
      while ((slot = codes[h]) >> 20 == g >> 20 && slot != key) h = (h + 1) & (kHashSize - 1);
      if (slot == key) {
        pre = values[h];
        continue;
      }
      const int newCode = next;
      const bool add = next < kMaxCodes - 2;
      prefix = pre;
      EmitPrefix(s);
      g = gen << 20;
      if (add && next != kFirstFree) {
        codes[h] = key;
        values[h] = uint16_t(newCode);
      }
      pre = c;
    }
    prefix = pre;
  }
  void Finish(TStream* s) {
    if (prefix >= 0) EmitPrefix(s);
    Put(kEoi, s);
    if (accBits > 0) buf.push_back(uint8_t(acc << (8 - accBits)));
    accBits = 0;
    Flush(s);
  }
};

}  // namespace

uint8_t* TIFFLZWDecompress(const uint8_t* Data, int32_t DataSize, int32_t Count, void*& State) {
  auto* d = static_cast<LzwDecoder*>(State);
  if (!Data) {
    delete d;
    State = nullptr;
    return nullptr;
  }
  if (Count < 0) Count = 0;
  if (!d) {
    d = new LzwDecoder(Data, DataSize);
    State = d;
  }
  // Drop what the last call returned; keep the rest of the last string.
  if (d->handed > 0) {
    const int64_t keep = d->have - d->handed;
    if (keep > 0) std::memmove(d->out.data(), d->out.data() + d->handed, size_t(keep));
    d->have = std::max<int64_t>(keep, 0);
    d->handed = 0;
  }
  // Room for Count bytes plus the longest string one code can add.
  const size_t need = size_t(Count) + kMaxCodes + 16;
  if (d->out.size() < need) d->out.resize(need);
  d->Fill(Count);
  if (d->have < Count) {
    std::memset(d->out.data() + d->have, 0, size_t(Count - d->have));
    d->have = Count;
  }
  d->handed = Count;
  return d->out.data();
}

void TIFFLZWCompress(const uint8_t* Data, int32_t Count, TStream* Stream, void*& State) {
  auto* e = static_cast<LzwEncoder*>(State);
  if (!Data) {
    if (e) {
      e->Finish(Stream);
      delete e;
    }
    State = nullptr;
    return;
  }
  if (!e) {
    e = new LzwEncoder;
    State = e;
    e->Put(kClear, Stream);
  }
  e->Encode(Data, Count, Stream);
}

}  // namespace korvane
