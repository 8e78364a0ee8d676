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
  // A hostile length must not allocate beyond what the stream can supply.
  if (int64_t(n) > stream->Remaining()) throw EReadError();
  text.resize(size_t(n));
  stream->ReadBuffer(text.data(), n);
}

}  // namespace korvane
