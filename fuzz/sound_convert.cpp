// The sound converter on arbitrary bytes through a memory stream: set-up, the whole
// conversion, and the block path in random piece sizes with random seeks. The piece
// sizes and seeks come from a hash of the input, so seed files stay whole files.
// Any crash, overrun, endless output, broken invariant or leaked block is a finding.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "core/memory.h"
#include "gamelib/core.h"
#include "sound/sound_convert.h"
#include "convert_fuzz_support.h"

namespace {

using convert_fuzz::Check;
using convert_fuzz::CheckInvariants;
using convert_fuzz::CheckWholeConversion;
using convert_fuzz::Source;

void WholeConversion(const std::uint8_t* data, std::size_t size) {
  Source s(data, size);
  if (s.stream.handle == 0 || gamelib::SetupSoundConvert(&s.stream, s.converter) != 0) return;
  const gamelib::SoundConvertRecord* c = s.converter;
  Check(c->initialised == 1);
  // PCM and Ogg count PCM bytes here; the compression manager's kind counts its source.
  Check(c->dataChunkBytes >= 0);
  if (c->convertKind != gamelib::kSoundConvertAcm) Check(c->dataChunkBytes % c->pcmFormat.nBlockAlign == 0);
  CheckWholeConversion(s.converter);
}

void BlockConversion(const std::uint8_t* data, std::size_t size) {
  Source s(data, size);
  if (s.stream.handle == 0 || gamelib::SetupSoundConvert(&s.stream, s.converter) != 0) return;
  gamelib::SoundConvertRecord* c = s.converter;
  const std::int64_t promised = gamelib::GetSoundConvertDestSize(c);
  const int align = c->pcmFormat.nBlockAlign;
  const int frames = static_cast<int>(promised / align);

  std::uint64_t hash = 1469598103934665603ull;
  for (std::size_t i = 0; i < size; i += 1 + size / 4096) hash = (hash ^ data[i]) * 1099511628211ull;
  std::mt19937_64 random(hash ^ size);

  std::vector<std::uint8_t> piece(70000);
  std::int64_t sinceSeek = 0;
  for (int step = 0; step < 200; ++step) {
    if (random() % 8 == 0) {
      // Seeks inside, at the edges of and outside the data.
      Check(gamelib::SetSoundConvertPosition(c, convert_fuzz::SeekTarget(frames, random)) >= 0);
      sinceSeek = 0;
      CheckInvariants(c);
      continue;
    }
    int want = static_cast<int>(random() % (random() % 2 ? 64 : piece.size()));
    int got = gamelib::ConvertSoundBlock(c, piece.data(), want);
    Check(got >= 0 && got <= want);
    CheckInvariants(c);
    sinceSeek += got;
    // Never more output from one position than the whole sound holds.
    Check(sinceSeek <= promised);
    if (got == 0 && want > 0) Check(c->endReached == 1);
  }
}

}  // namespace

// vorbisfile 1.3.7 loses memory when it fails to open a chained file whose later link
// has broken headers (its open fails and nothing is left for the caller to free). Our
// own side, that every opened decoder is cleared, is checked by counting instead.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbis\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Big inputs only slow the search down.
  if (size > (std::size_t{1} << 22)) return 0;
  gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  WholeConversion(data, size);
  BlockConversion(data, size);
  gamelib::MemoryUsage after = gamelib::GetMemoryUsage();
  Check(after.blocks == before.blocks && after.bytes == before.bytes);
  Check(gamelib::LiveOggDecoders() == 0);
  return 0;
}
