// The compression manager's calls: format suggestion, streams and their headers,
// sizes and metrics, over the decoders of acm_*.cpp; and its test controls.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "acm_internal.h"
#include "platform/hooks.h"
#include "platform/sim.h"

namespace platform::acm {
namespace {

constexpr std::size_t kMaxCalls = 65536;
constexpr std::int64_t kDefaultMaxFormatSize = 50;  // Microsoft ADPCM with its seven pairs
constexpr DWORD kKnownConvertFlags =
    ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
constexpr DWORD kKnownSuggestFlags = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                                     ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;

struct Stream {
  std::uint64_t id = 0;
  SourceFormat source;
  WAVEFORMATEX pcm{};
  std::unique_ptr<Decoder> decoder;
  std::uint64_t inputPosition = 0;
};

struct State {
  std::mutex mutex;
  std::map<HACMSTREAM, std::unique_ptr<Stream>> streams;
  std::set<WORD> disabled;
  std::int64_t maxFormatSize = kDefaultMaxFormatSize;
  std::vector<sim::AcmCall> calls;
  std::uint64_t nextId = 1;
  std::uint64_t decodedUnits = 0;
};

State& Global() {
  static auto* state = new State;  // outlives static destruction, like the base
  return *state;
}

void Record(State& s, sim::AcmCall call) {
  if (s.calls.size() < kMaxCalls) s.calls.push_back(std::move(call));
}

Stream* FindLocked(State& s, HACMSTREAM handle) {
  auto it = s.streams.find(handle);
  return it == s.streams.end() ? nullptr : it->second.get();
}

// The caller's source format: 18 bytes and cbSize more, which it must hold.
bool ReadSource(const WAVEFORMATEX* source, SourceFormat* out) {
  if (source == nullptr) return false;
  std::memcpy(&out->wfx, source, WAVEFORMATEX_BYTES);
  const BYTE* extra = reinterpret_cast<const BYTE*>(source) + WAVEFORMATEX_BYTES;
  out->extra.assign(extra, extra + out->wfx.cbSize);
  return true;
}

// The codec that decodes this source, or null (unknown, switched off, or refused).
const Codec* CodecFor(State& s, const SourceFormat& source) {
  const Codec* codec = FindCodec(source.wfx.wFormatTag);
  if (codec == nullptr || s.disabled.count(source.wfx.wFormatTag) != 0) return nullptr;
  if (!PlainPcmShape(source.wfx) || !codec->accepts(source)) return nullptr;
  return codec;
}

WAVEFORMATEX ProposedPcm(const WAVEFORMATEX& source) {
  WAVEFORMATEX pcm{};
  pcm.wFormatTag = WAVE_FORMAT_PCM;
  pcm.nChannels = source.nChannels;
  pcm.nSamplesPerSec = source.nSamplesPerSec;
  pcm.wBitsPerSample = 16;
  pcm.nBlockAlign = static_cast<WORD>(source.nChannels * 2);
  pcm.nAvgBytesPerSec = pcm.nBlockAlign * source.nSamplesPerSec;
  pcm.cbSize = 0;
  return pcm;
}

bool HeaderShapeOk(const ACMSTREAMHEADER* header) {
  return header != nullptr && header->cbStruct == ACMSTREAMHEADER_CBSTRUCT;
}

void ResetAcm() {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  // Streams a test left open stay open (and counted), so the leak shows.
  s.disabled.clear();
  s.maxFormatSize = kDefaultMaxFormatSize;
  s.calls.clear();
  s.decodedUnits = 0;
}

int LiveStreams() {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  return static_cast<int>(s.streams.size());
}

}  // namespace

bool PlainPcmShape(const WAVEFORMATEX& f) {
  return (f.nChannels == 1 || f.nChannels == 2) && f.nSamplesPerSec >= DSBFREQUENCY_MIN &&
         f.nSamplesPerSec <= DSBFREQUENCY_MAX;
}

const Codec* FindCodec(WORD tag) {
  static const Codec mpeg{&AcceptsMpeg, &CreateMpegDecoder};
  static const Codec ima{&AcceptsImaAdpcm, &CreateImaAdpcmDecoder};
  static const Codec ms{&AcceptsMsAdpcm, &CreateMsAdpcmDecoder};
  static const Codec g711{&AcceptsG711, &CreateG711Decoder};
  switch (tag) {
    case WAVE_FORMAT_MPEG:
    case WAVE_FORMAT_MPEGLAYER3:
      return &mpeg;
    case WAVE_FORMAT_IMA_ADPCM:
      return &ima;
    case WAVE_FORMAT_ADPCM:
      return &ms;
    case WAVE_FORMAT_ALAW:
    case WAVE_FORMAT_MULAW:
      return &g711;
    default:
      return nullptr;
  }
}

}  // namespace platform::acm

namespace platform {
void RegisterAcm() {
  OnReset(&acm::ResetAcm);
  AddLiveObjectCounter(&acm::LiveStreams);
}
}  // namespace platform

using platform::ShouldFail;
using namespace platform::acm;

MMRESULT acmFormatSuggest(HACMDRIVER driver, WAVEFORMATEX* source, WAVEFORMATEX* destination,
                          DWORD destinationBytes, DWORD flags) {
  if (ShouldFail("acmFormatSuggest")) return MMSYSERR_ERROR;
  if (driver != nullptr) return MMSYSERR_INVALHANDLE;
  if (source == nullptr || destination == nullptr || destinationBytes < 16) return MMSYSERR_INVALPARAM;
  if ((flags & ~kKnownSuggestFlags) != 0) return MMSYSERR_INVALFLAG;
  SourceFormat format;
  ReadSource(source, &format);
  State& s = Global();
  std::lock_guard lock(s.mutex);
  if (CodecFor(s, format) == nullptr) return ACMERR_NOTPOSSIBLE;
  WAVEFORMATEX pcm = ProposedPcm(format.wfx);
  // What the caller fixed must be what this proposes.
  if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && destination->wFormatTag != WAVE_FORMAT_PCM)
    return ACMERR_NOTPOSSIBLE;
  if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) && destination->nChannels != pcm.nChannels)
    return ACMERR_NOTPOSSIBLE;
  if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && destination->nSamplesPerSec != pcm.nSamplesPerSec)
    return ACMERR_NOTPOSSIBLE;
  if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && destination->wBitsPerSample != pcm.wBitsPerSample)
    return ACMERR_NOTPOSSIBLE;
  std::memcpy(destination, &pcm, std::min<DWORD>(destinationBytes, WAVEFORMATEX_BYTES));
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, WAVEFORMATEX* source, WAVEFORMATEX* destination,
                       void* filter, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
  const bool query = (flags & ACM_STREAMOPENF_QUERY) != 0;
  if (stream != nullptr && !query) *stream = nullptr;
  if (ShouldFail("acmStreamOpen")) return MMSYSERR_ERROR;
  if (driver != nullptr) return MMSYSERR_INVALHANDLE;
  if (source == nullptr || destination == nullptr || (stream == nullptr && !query))
    return MMSYSERR_INVALPARAM;
  // Only plain non-real-time conversion: no filter, no callback, no asynchronous mode.
  if (filter != nullptr || callback != 0 || (flags & ACM_STREAMOPENF_ASYNC)) return MMSYSERR_NOTSUPPORTED;
  if ((flags & ~(ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_NONREALTIME)) != 0) return MMSYSERR_INVALFLAG;
  (void)instance;

  auto opened = std::make_unique<Stream>();
  ReadSource(source, &opened->source);
  State& s = Global();
  std::unique_lock lock(s.mutex);
  const Codec* codec = CodecFor(s, opened->source);
  if (codec == nullptr) return ACMERR_NOTPOSSIBLE;
  WAVEFORMATEX pcm = ProposedPcm(opened->source.wfx);
  // The destination is the PCM this proposes; its cbSize is not read (PCM has none).
  if (std::memcmp(destination, &pcm, WAVEFORMATEX_BYTES - 2) != 0) return ACMERR_NOTPOSSIBLE;
  if (query) return MMSYSERR_NOERROR;

  opened->pcm = pcm;
  lock.unlock();
  opened->decoder = codec->create(opened->source);
  if (opened->decoder == nullptr) return MMSYSERR_NOMEM;
  lock.lock();
  opened->id = s.nextId++;
  auto handle = reinterpret_cast<HACMSTREAM>(opened.get());
  sim::AcmCall call;
  call.op = "acmStreamOpen";
  call.stream = opened->id;
  Record(s, call);
  s.streams.emplace(handle, std::move(opened));
  *stream = handle;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags) {
  if (ShouldFail("acmStreamClose")) return MMSYSERR_ERROR;
  State& s = Global();
  std::unique_ptr<Stream> closing;
  {
    std::lock_guard lock(s.mutex);
    auto it = s.streams.find(stream);
    if (it == s.streams.end()) return MMSYSERR_INVALHANDLE;
    if (flags != 0) return MMSYSERR_INVALFLAG;
    sim::AcmCall call;
    call.op = "acmStreamClose";
    call.stream = it->second->id;
    call.inputPosition = it->second->inputPosition;
    Record(s, call);
    closing = std::move(it->second);
    s.streams.erase(it);
  }
  return MMSYSERR_NOERROR;  // the decoder goes with `closing`, outside the lock
}

MMRESULT acmStreamSize(HACMSTREAM stream, DWORD inputBytes, DWORD* outputBytes, DWORD flags) {
  if (ShouldFail("acmStreamSize")) return MMSYSERR_ERROR;
  State& s = Global();
  std::lock_guard lock(s.mutex);
  Stream* st = FindLocked(s, stream);
  if (st == nullptr) return MMSYSERR_INVALHANDLE;
  if (outputBytes == nullptr) return MMSYSERR_INVALPARAM;
  std::uint64_t size;
  if (flags == ACM_STREAMSIZEF_SOURCE) {
    size = st->decoder->MaxOutputBytes(inputBytes);
  } else if (flags == ACM_STREAMSIZEF_DESTINATION) {
    size = st->decoder->MaxInputBytes(inputBytes);
  } else {
    return MMSYSERR_INVALFLAG;
  }
  // A size that does not fit the answer is not a size this can convert in one go.
  if (size > 0xFFFFFFFFu) return ACMERR_NOTPOSSIBLE;
  *outputBytes = static_cast<DWORD>(size);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags) {
  if (ShouldFail("acmStreamPrepareHeader")) return MMSYSERR_ERROR;
  State& s = Global();
  std::lock_guard lock(s.mutex);
  if (FindLocked(s, stream) == nullptr) return MMSYSERR_INVALHANDLE;
  if (!HeaderShapeOk(header) || flags != 0) return MMSYSERR_INVALPARAM;
  if (header->pbSrc == nullptr || header->pbDst == nullptr || header->cbSrcLength == 0 ||
      header->cbDstLength == 0)
    return MMSYSERR_INVALPARAM;
  if (header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED) return ACMERR_BUSY;
  header->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
  header->cbSrcLengthUsed = 0;
  header->cbDstLengthUsed = 0;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags) {
  const bool fail = ShouldFail("acmStreamConvert");
  State& s = Global();
  std::lock_guard lock(s.mutex);
  Stream* st = FindLocked(s, stream);
  if (st == nullptr) return MMSYSERR_INVALHANDLE;
  if (!HeaderShapeOk(header)) return MMSYSERR_INVALPARAM;
  if ((flags & ~kKnownConvertFlags) != 0) return MMSYSERR_INVALFLAG;
  if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  header->cbSrcLengthUsed = 0;
  header->cbDstLengthUsed = 0;
  sim::AcmCall call;
  call.op = "acmStreamConvert";
  call.stream = st->id;
  call.inputPosition = st->inputPosition;
  call.srcLength = header->cbSrcLength;
  call.dstLength = header->cbDstLength;
  if (fail) {
    call.result = MMSYSERR_ERROR;
    Record(s, call);
    return MMSYSERR_ERROR;
  }
  ConvertResult r =
      st->decoder->Convert(header->pbSrc, header->cbSrcLength, header->pbDst, header->cbDstLength);
  header->cbSrcLengthUsed = std::min(r.srcUsed, header->cbSrcLength);
  header->cbDstLengthUsed = std::min(r.dstUsed, header->cbDstLength);
  header->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  st->inputPosition += header->cbSrcLengthUsed;
  s.decodedUnits += r.units;
  call.srcUsed = header->cbSrcLengthUsed;
  call.dstUsed = header->cbDstLengthUsed;
  call.units = r.units;
  Record(s, call);
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags) {
  if (ShouldFail("acmStreamUnprepareHeader")) return MMSYSERR_ERROR;
  State& s = Global();
  std::lock_guard lock(s.mutex);
  if (FindLocked(s, stream) == nullptr) return MMSYSERR_INVALHANDLE;
  if (!HeaderShapeOk(header) || flags != 0) return MMSYSERR_INVALPARAM;
  if (!(header->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)) return ACMERR_UNPREPARED;
  header->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmMetrics(HACMOBJ object, UINT metric, void* value) {
  if (ShouldFail("acmMetrics")) return MMSYSERR_ERROR;
  if (metric != ACM_METRIC_MAX_SIZE_FORMAT) return MMSYSERR_NOTSUPPORTED;
  if (object != nullptr) return MMSYSERR_INVALHANDLE;
  if (value == nullptr) return MMSYSERR_INVALPARAM;
  State& s = Global();
  std::lock_guard lock(s.mutex);
  if (s.maxFormatSize >= 0) {
    DWORD size = static_cast<DWORD>(std::min<std::int64_t>(s.maxFormatSize, 0xFFFFFFFF));
    std::memcpy(value, &size, sizeof size);
  }
  return MMSYSERR_NOERROR;
}

namespace sim {

void SetAcmFormatEnabled(WORD tag, bool enabled) {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  if (enabled) {
    s.disabled.erase(tag);
  } else {
    s.disabled.insert(tag);
  }
}

void SetAcmMaxFormatSize(std::int64_t bytes) {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  s.maxFormatSize = bytes < 0 ? -1 : bytes;
}

std::vector<AcmCall> AcmCalls() {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  return s.calls;
}

void ClearAcmCalls() {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  s.calls.clear();
}

std::uint64_t AcmDecodedUnits() {
  State& s = Global();
  std::lock_guard lock(s.mutex);
  return s.decodedUnits;
}

int LiveAcmStreams() { return LiveStreams(); }

}  // namespace sim
