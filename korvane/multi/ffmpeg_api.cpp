#include "korvane/multi/ffmpeg_api.h"

#include <dlfcn.h>

#include <mutex>
#include <string>

#include "korvane/foundations/host/exceptions.h"

#define KV_STR2(x) #x
#define KV_STR(x) KV_STR2(x)

namespace korvane {

namespace {

struct Loaded {
  TFFmpegApi api;
  std::string error;  // why the libraries could not be used, or empty
};

Loaded Load() {
  Loaded l;
  // Dependencies first; each stays loaded for the life of the process.
  const char* names[] = {"libavutil.so." KV_STR(LIBAVUTIL_VERSION_MAJOR),
                         "libswscale.so." KV_STR(LIBSWSCALE_VERSION_MAJOR),
                         "libavcodec.so." KV_STR(LIBAVCODEC_VERSION_MAJOR),
                         "libavformat.so." KV_STR(LIBAVFORMAT_VERSION_MAJOR)};
  void* handles[4] = {};
  for (int i = 0; i < 4; ++i) {
    handles[i] = dlopen(names[i], RTLD_NOW | RTLD_LOCAL);
    if (!handles[i]) {
      const char* why = dlerror();
      l.error = std::string("AVI files need FFmpeg's ") + names[i] + (why ? std::string(": ") + why : "");
      return l;
    }
  }
  auto find = [&](const char* name) -> void* {
    for (void* h : handles)
      if (void* f = dlsym(h, name)) return f;
    if (l.error.empty()) l.error = std::string("AVI files need FFmpeg's function ") + name;
    return nullptr;
  };
#define KV_FFMPEG_FIND(name) l.api.name = reinterpret_cast<decltype(l.api.name)>(find(#name));
  KV_FFMPEG_FUNCTIONS(KV_FFMPEG_FIND)
#undef KV_FFMPEG_FIND
  return l;
}

}  // namespace

const TFFmpegApi& FF() {
  static const Loaded loaded = Load();  // thread-safe, once
  if (!loaded.error.empty()) throw EInvalidGraphic(loaded.error);
  return loaded.api;
}

}  // namespace korvane
