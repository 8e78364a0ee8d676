/// \file
/// The index error of list-like accessors.
#pragma once
#include <stdexcept>
#include <string>

#include "korvane/foundations/host/export.h"

namespace korvane {

/// An index outside a list ("List index out of bounds (-1)").
class KORVANE_EXPORT EListError : public std::runtime_error {
 public:
  /// The error for `index`, with the message "List index out of bounds (index)".
  explicit EListError(int index)
      : std::runtime_error("List index out of bounds (" + std::to_string(index) + ")") {}
  using std::runtime_error::runtime_error;
};

}  // namespace korvane
