// Test controls of the compression manager stand-in (included by platform/sim.h).
// sim::Reset() puts every one of them back to its default. Each acm* call can be
// failed by its own name through sim::FailCall ("acmFormatSuggest", "acmStreamOpen",
// "acmStreamPrepareHeader", "acmStreamConvert", "acmStreamUnprepareHeader",
// "acmStreamSize", "acmStreamClose", "acmMetrics").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/msacm.h"

namespace sim {

// Whether the stand-in decodes a format tag (all it knows are on after Reset). A tag
// switched off is refused by acmFormatSuggest and acmStreamOpen like an unknown one.
void SetAcmFormatEnabled(WORD tag, bool enabled);

// What acmMetrics (ACM_METRIC_MAX_SIZE_FORMAT) reports: a size in bytes (default 50),
// or -1 for a call that succeeds but writes nothing.
void SetAcmMaxFormatSize(std::int64_t bytes);

// One call into an open stream (or of acmStreamOpen / acmStreamClose), in order.
// inputPosition is the source bytes the stream had consumed since it was opened,
// before this call: a conversion at input position 0 decodes from the data's start.
struct AcmCall {
  std::string op;            // "acmStreamOpen", "acmStreamConvert", "acmStreamClose", ...
  std::uint64_t stream = 0;  // unique per opened stream, never reused
  std::uint64_t inputPosition = 0;
  DWORD srcLength = 0, srcUsed = 0, dstLength = 0, dstUsed = 0;
  std::uint64_t units = 0;  // frames or blocks this conversion decoded
  MMRESULT result = 0;
};
// At most 65536 calls are kept.
std::vector<AcmCall> AcmCalls();
void ClearAcmCalls();

// MPEG frames and ADPCM / G.711 blocks decoded by every stream since Reset.
std::uint64_t AcmDecodedUnits();

// Streams open now (also part of LiveObjects()).
int LiveAcmStreams();

}  // namespace sim
