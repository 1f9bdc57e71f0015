// Inside the compression manager stand-in: the decoders behind a stream. Each turns
// whole units (an MPEG frame, an ADPCM block, a G.711 sample frame) of the piece it is
// given into 16-bit PCM at the source's channels and rate, and never reads past the
// piece or writes past the room it is given.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/msacm.h"

namespace platform::acm {

// A source format as the caller gave it: the 18 bytes of WAVEFORMATEX and its cbSize
// extra bytes.
struct SourceFormat {
  WAVEFORMATEX wfx;
  std::vector<BYTE> extra;
};

struct ConvertResult {
  DWORD srcUsed = 0;
  DWORD dstUsed = 0;
  std::uint64_t units = 0;  // frames or blocks decoded
};

class Decoder {
 public:
  virtual ~Decoder() = default;
  // Whole units only: a unit that is not wholly in the source, or whose PCM does not
  // fit into the room left, stays for the next piece. Bytes that cannot start a unit
  // (junk between MPEG frames) are consumed without output.
  virtual ConvertResult Convert(const BYTE* src, DWORD srcBytes, BYTE* dst, DWORD dstBytes) = 0;
  // At least the PCM bytes that srcBytes of source can ever give.
  virtual std::uint64_t MaxOutputBytes(std::uint64_t srcBytes) const = 0;
  // At least the source bytes needed for dstBytes of PCM.
  virtual std::uint64_t MaxInputBytes(std::uint64_t dstBytes) const = 0;
};

// One family of formats: whether it decodes a source format, and a new decoder for
// one (null when it cannot, or out of memory).
struct Codec {
  bool (*accepts)(const SourceFormat& format);
  std::unique_ptr<Decoder> (*create)(const SourceFormat& format);
};

// The codec for a format tag, or null.
const Codec* FindCodec(WORD tag);

bool AcceptsMpeg(const SourceFormat& format);
std::unique_ptr<Decoder> CreateMpegDecoder(const SourceFormat& format);
bool AcceptsImaAdpcm(const SourceFormat& format);
std::unique_ptr<Decoder> CreateImaAdpcmDecoder(const SourceFormat& format);
bool AcceptsMsAdpcm(const SourceFormat& format);
std::unique_ptr<Decoder> CreateMsAdpcmDecoder(const SourceFormat& format);
bool AcceptsG711(const SourceFormat& format);
std::unique_ptr<Decoder> CreateG711Decoder(const SourceFormat& format);

// Channels and rate that every decoder can hand out as PCM.
bool PlainPcmShape(const WAVEFORMATEX& format);

}  // namespace platform::acm
