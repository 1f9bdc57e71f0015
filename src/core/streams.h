// Internal pieces of the stream layer shared by its files.
#pragma once

#include <cstdint>

#include "gamelib/core.h"

namespace gamelib {

// The table the library starts with: the platform's own file calls, read access.
const FileFunctionTable& DefaultFileFunctions();

// New position for a seek of `offset` from `origin` on a stream at `position` of
// `size` bytes: -1 when refused (bad origin, before the start, overflow); positions
// past the end are clamped to the end.
std::int64_t ResolveSeek(std::uint64_t position, std::uint64_t size, std::int64_t offset, int origin);

}  // namespace gamelib
