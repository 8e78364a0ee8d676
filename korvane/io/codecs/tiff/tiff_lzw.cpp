#include "korvane/io/codecs/tiff/tiff_lzw.h"

#include <algorithm>
#include <cstring>
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
  uint16_t prefix[kMaxCodes];
  uint8_t suffix[kMaxCodes];
  uint8_t first[kMaxCodes];
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
    for (int i = 0; i < 256; ++i) {
      prefix[i] = 0;
      suffix[i] = uint8_t(i);
      first[i] = uint8_t(i);
      length[i] = 1;
    }
  }

  // Next code, or -1 when the data end before it.
  int Code() {
    if (bitPos + width > size * 8) return -1;
    const int64_t byte = bitPos >> 3;
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

  void Reset() {
    width = 9;
    next = kFirstFree;
    prev = -1;
  }

  // Writes the string of code at out[have...] (room is assured by the caller).
  void Emit(int code) {
    const int len = length[code];
    uint8_t* p = out.data() + have + len - 1;
    while (code >= 256) {
      *p-- = suffix[code];
      code = prefix[code];
    }
    *p = uint8_t(code);
    have += len;
  }

  void Add(int pre, uint8_t byte) {
    if (next >= kMaxCodes) return;
    prefix[next] = uint16_t(pre);
    suffix[next] = byte;
    first[next] = first[pre];
    length[next] = uint16_t(length[pre] + 1);
    ++next;
    const int early = compat ? 0 : 1;
    width = next >= 2048 - early ? 12 : next >= 1024 - early ? 11 : next >= 512 - early ? 10 : 9;
  }

  // Decodes until at least count bytes are held or the stream ends.
  void Fill(int64_t count) {
    while (have < count && !ended) {
      const int code = Code();
      if (code < 0 || code == kEoi) {
        ended = true;
        break;
      }
      if (code == kClear) {
        Reset();
        continue;
      }
      if (prev < 0) {
        // First code after a clear (or of the strip): a literal.
        if (code >= 256) {
          ended = true;
          break;
        }
        out[have++] = uint8_t(code);
        prev = code;
        continue;
      }
      if (code < next) {
        Emit(code);
        Add(prev, first[code]);
      } else if (code == next && next < kMaxCodes) {
        Add(prev, first[prev]);
        Emit(code);
      } else {
        ended = true;  // past the table
        break;
      }
      prev = code;
    }
  }
};

struct LzwEncoder {
  static constexpr int kHashSize = 5003;
  int32_t codes[kHashSize];  // key prefix + byte * 4096, -1 when empty
  uint16_t values[kHashSize];
  int width = 9;
  int next = kFirstFree;
  int prefix = -1;
  uint32_t acc = 0;  // pending bits, right-aligned
  int accBits = 0;
  std::vector<uint8_t> buf;

  LzwEncoder() {
    buf.reserve(4096 + 8);
    ClearTable();
  }
  void ClearTable() {
    std::fill(codes, codes + kHashSize, -1);
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
    for (; i < n; ++i) {
      const uint8_t c = p[i];
      const int32_t key = (int32_t(c) << 12) | prefix;
      int h = (int(c) << 4) ^ prefix;  // first probe
      if (h >= kHashSize) h %= kHashSize;
      const int step = h == 0 ? 1 : kHashSize - h;
      bool found = false;
      while (codes[h] != -1) {
        if (codes[h] == key) {
          prefix = values[h];
          found = true;
          break;
        }
        h -= step;
        if (h < 0) h += kHashSize;
      }
      if (found) continue;
      const int newCode = next;
      const bool add = next < kMaxCodes - 2;
      EmitPrefix(s);
      if (add && next != kFirstFree) {
        codes[h] = key;
        values[h] = uint16_t(newCode);
      }
      prefix = c;
    }
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
  const size_t need = size_t(Count) + kMaxCodes + 1;
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
