// What every fuzz target reads its input with: bytes and little-endian dwords that run
// out as zeros, and an abort that libFuzzer reports as a crash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

// Names the check that failed, so that a finding says which invariant broke.
inline void Check(bool ok, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
  if (ok) return;
  std::fprintf(stderr, "check failed: %s:%d\n", file, line);
  std::abort();
}

struct ByteReader {
  const std::uint8_t* data;
  std::size_t size;
  std::uint8_t Byte() {
    if (size == 0) return 0;
    --size;
    return *data++;
  }
  std::uint32_t Dword() {
    std::uint32_t v = 0;
    for (int k = 0; k < 4; ++k) v |= std::uint32_t{Byte()} << (8 * k);
    return v;
  }
};

}  // namespace fuzz
