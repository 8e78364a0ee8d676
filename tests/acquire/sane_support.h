// SANE's test backend for the acquisition suites: a private configuration
// that enables only it, and whether libsane is there at all.
#pragma once
#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace korvane::test {

// A folder with dll.conf naming only the test backend, and test.conf: two
// devices, the colour pattern, unquantised geometry.
inline std::string SaneConfigDir() {
  static std::string dir = [] {
    std::filesystem::path d =
        std::filesystem::temp_directory_path() / ("kv_sane_" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    std::ofstream(d / "dll.conf") << "test\n";
    std::ofstream(d / "test.conf") << "number_of_devices 2\nmode Gray\ndepth 8\nhand-scanner false\n"
                                      "three-pass false\nthree-pass-order RGB\nresolution_min 1.0\n"
                                      "resolution_max 1200.0\nresolution_quant 1.0\nresolution 50.0\n"
                                      "test-picture \"Color pattern\"\ninvert-endianess false\n"
                                      "read-limit false\nread-limit-size 1\nread-delay false\n"
                                      "read-delay-duration 1000\nread-status-code \"Default\"\n"
                                      "fuzzy-parameters false\nppl-loss 0\nnon-blocking false\n"
                                      "select-fd false\nenable-test-options false\ngeometry_min 0.0\n"
                                      "geometry_max 200.0\ngeometry_quant 0.0\ntl_x 0.0\ntl_y 0.0\n"
                                      "br_x 80.0\nbr_y 100.0\n";
    return d.string();
  }();
  return dir;
}

inline bool HaveLibSane() {
  static const bool have = [] {
    void* h = dlopen("libsane.so.1", RTLD_NOW | RTLD_LOCAL);
    if (h) dlclose(h);
    // The test backend keeps a few strings from its start to the end of the
    // process; pinned in memory, the leak checker can tell whose they are
    // (KORVANE_SANE_LEAK_SUPPRESSIONS).
    for (const char* dir : {"/usr/lib/x86_64-linux-gnu/sane", "/usr/lib/aarch64-linux-gnu/sane",
                            "/usr/lib/sane", "/usr/lib64/sane"})
      dlopen((std::string(dir) + "/libsane-test.so.1").c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
    return h != nullptr;
  }();
  return have;
}

}  // namespace korvane::test

// libsane and its test backend keep a few configuration strings from
// sane_init until the process ends; they are not this library's. Expanded
// once per test program that scans.
#define KORVANE_SANE_LEAK_SUPPRESSIONS()                                            \
  extern "C" const char* __lsan_default_suppressions() {                            \
    return "leak:sane_init\nleak:sane_get_devices\nleak:sane_open\nleak:libsane\n"; \
  }
