#include "korvane/foundations/strpersist.h"

#include "korvane/foundations/host/exceptions.h"

namespace korvane {

void SaveStringToStream(TStream* stream, const std::string& text) {
  int32_t n = int32_t(text.size());
  uint8_t le[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
  stream->WriteBuffer(le, 4);
  if (n) stream->WriteBuffer(text.data(), n);
}

void LoadStringFromStream(TStream* stream, std::string& text) {
  uint8_t le[4];
  stream->ReadBuffer(le, 4);
  int32_t n = int32_t(uint32_t(le[0]) | (uint32_t(le[1]) << 8) | (uint32_t(le[2]) << 16) | (uint32_t(le[3]) << 24));
  if (n <= 0) {
    text.clear();
    return;
  }
  // A hostile length must not allocate beyond what the stream supplies. Not
  // every stream knows its size (a decompression stream does not), so the
  // text grows chunk by chunk as the bytes arrive; a short read raises.
  constexpr int32_t kChunk = 1 << 16;
  text.clear();
  for (int32_t done = 0; done < n;) {
    const int32_t step = n - done < kChunk ? n - done : kChunk;
    text.resize(size_t(done) + size_t(step));
    stream->ReadBuffer(text.data() + done, step);
    done += step;
  }
}

}  // namespace korvane
