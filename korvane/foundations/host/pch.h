/// \file
/// Precompiled header of the library target: the heavy Qt and standard headers.
#pragma once
#include <QtWidgets>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>
