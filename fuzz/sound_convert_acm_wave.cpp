// RIFF WAVE files through the converter: PCM goes to its own reader, every other
// format tag to the compression manager (ADPCM, G.711, MPEG frames in a WAVE).
#include "convert_fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4 || std::memcmp(data, "RIFF", 4) != 0) return 0;
  return convert_fuzz::Run(data, size);
}
