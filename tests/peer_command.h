// Running the peer programs the interoperability tests compare with.
#pragma once
#include <cstdio>
#include <string>

namespace korvane::test {

// Output of a shell command (stderr included), or "" when it cannot run.
inline std::string RunCommand(const std::string& cmd) {
  std::string out;
  FILE* f = popen((cmd + " 2>&1").c_str(), "r");
  if (!f) return out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
  pclose(f);
  return out;
}

inline bool OnPath(const std::string& prog) {
  return RunCommand("command -v " + prog + " >/dev/null && echo yes").find("yes") != std::string::npos;
}

}  // namespace korvane::test
