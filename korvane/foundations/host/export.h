/// \file
/// KORVANE_EXPORT marks what the shared library exports: every class and free
/// function or variable that an installed header declares. The shared library
/// is built with hidden visibility, so anything without the mark stays inside
/// it. KORVANE_SHARED is set for the library and its users when it is built
/// shared; in the static build the mark is empty.
#pragma once

#if defined(KORVANE_SHARED)
#define KORVANE_EXPORT __attribute__((visibility("default")))
#else
#define KORVANE_EXPORT
#endif
