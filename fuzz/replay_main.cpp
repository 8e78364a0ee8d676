// Replays saved fuzz inputs without libFuzzer: every file named on the command
// line, or found below a folder named there, is passed to the target once.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static int RunFile(const std::filesystem::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  return 1;
}

int main(int argc, char** argv) {
  int n = 0;
  for (int i = 1; i < argc; ++i) {
    std::filesystem::path p(argv[i]);
    if (std::filesystem::is_directory(p)) {
      for (auto& e : std::filesystem::recursive_directory_iterator(p))
        if (e.is_regular_file()) n += RunFile(e.path());
    } else if (std::filesystem::exists(p)) {
      n += RunFile(p);
    }
  }
  std::printf("replayed %d inputs\n", n);
  return 0;
}
