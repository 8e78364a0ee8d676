/// \file
/// The extension of a file name, lower-cased with its dot (".tiff"); "" when
/// the last path component has none.
#pragma once
#include <cctype>
#include <string>

namespace korvane {

/// The extension of name with its dot, ASCII letters lower-cased; "" when there is none.
inline std::string LowerExt(const std::string& name) {
  const size_t slash = name.find_last_of('/');
  const size_t dot = name.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string e = name.substr(dot);
  for (char& c : e) c = char(std::tolower(static_cast<unsigned char>(c)));
  return e;
}

}  // namespace korvane
