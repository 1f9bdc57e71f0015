// Ogg Vorbis through vorbisfile, which reads the library's own stream through the
// four callbacks below. The data source is the converter's copy of the stream.
#include <climits>
#include <cstring>

#include "sound/convert_kinds.h"
#include "sound/sound_state.h"

namespace gamelib {

namespace {

// A run of holes (lost pages) longer than this ends the data rather than reading on.
constexpr int kMaxOggHolesPerBlock = 32;

std::size_t OggReadCallback(void* buffer, std::size_t size, std::size_t count, void* source) {
  auto* s = static_cast<StreamAccessRecord*>(source);
  // vorbisfile takes the result as a count; an error must read as nothing.
  if (s == nullptr || s->functions.Read == nullptr || size == 0) return 0;
  std::size_t bytes = s->functions.Read(buffer, size, count, s->handle);
  return bytes / size;
}

int OggSeekCallback(void* source, ogg_int64_t offset, int whence) {
  auto* s = static_cast<StreamAccessRecord*>(source);
  if (s == nullptr || s->functions.Seek == nullptr) return -1;
  if (offset > INT32_MAX || offset < INT32_MIN) return -1;
  return s->functions.Seek(s->handle, offset, whence) == 0 ? 0 : -1;
}

int OggCloseCallback(void*) { return 0; }  // the stream belongs to the converter's owner

long OggTellCallback(void* source) {
  auto* s = static_cast<StreamAccessRecord*>(source);
  if (s == nullptr || s->functions.Tell == nullptr) return -1;
  return static_cast<long>(s->functions.Tell(s->handle));
}

// Open decoders, so that tests can see that every one is cleared.
int g_liveOggDecoders = 0;

constexpr ov_callbacks kOggCallbacks = {OggReadCallback, OggSeekCallback, OggCloseCallback, OggTellCallback};

std::int64_t OggTotalSamples(SoundConvertRecord* c) {
  if (c->ogg.oggOpen != 1) return 0;
  ogg_int64_t total = ov_pcm_total(&c->ogg.oggFile, -1);
  return total < 0 ? 0 : total;
}

void CloseOgg(SoundConvertRecord* c) {
  ov_clear(&c->ogg.oggFile);
  c->ogg.oggOpen = 0;
  --g_liveOggDecoders;
}

// Bytes of the decoded length.
int GetOggSoundConvertTotalBytes(SoundConvertRecord* c) {
  return static_cast<int>(c->pcmFormat.nChannels * c->ogg.oggBytesPerSample * OggTotalSamples(c));
}

}  // namespace

int LiveOggDecoders() { return g_liveOggDecoders; }

int SetupOggSoundConvert(SoundConvertRecord* c) {
  c->ogg.oggOpen = 0;
  c->ogg.oggExhausted = 0;
  c->ogg.oggSeekFailed = 0;
  if (ov_open_callbacks(&c->sourceStream, &c->ogg.oggFile, nullptr, 0, kOggCallbacks) != 0) return -1;
  c->ogg.oggOpen = 1;
  ++g_liveOggDecoders;

  vorbis_info* info = ov_info(&c->ogg.oggFile, -1);
  ogg_int64_t total = ov_pcm_total(&c->ogg.oggFile, -1);
  if (info == nullptr || total < 0) {
    CloseOgg(c);
    return -1;
  }
  // 2 from sound start-up on; anything but 1 (before start-up, say) counts as 2.
  int bytesPerSample = GetSoundSystemState().OggSampleBytesSetting == 1 ? 1 : 2;
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = static_cast<WORD>(info->channels);
  format.nSamplesPerSec = static_cast<DWORD>(info->rate);
  format.nBlockAlign = static_cast<WORD>(info->channels * bytesPerSample);
  format.wBitsPerSample = static_cast<WORD>(bytesPerSample * 8);
  format.nAvgBytesPerSec = static_cast<DWORD>(format.nBlockAlign) * format.nSamplesPerSec;
  format.cbSize = 0;
  // The whole-conversion size (one second of room included) must stay allocatable.
  if (info->channels < 1 || info->channels > 2 || info->rate < 100 || info->rate > 200000 ||
      !ValidSoundPcmFormat(format) || total > kMaxPcmBytes ||
      (total + 44100) * info->channels * bytesPerSample > kMaxPcmBytes) {
    CloseOgg(c);
    return -1;
  }
  // Opening a chained file can leave the decoder in its last link; start at the top.
  if (ov_pcm_tell(&c->ogg.oggFile) != 0 && ov_pcm_seek(&c->ogg.oggFile, 0) != 0) {
    CloseOgg(c);
    return -1;
  }

  c->ogg.oggBytesPerSample = bytesPerSample;
  std::memset(&c->pcmFormat, 0, sizeof c->pcmFormat);
  std::memcpy(&c->pcmFormat, &format, kWaveFormatBytes);
  c->blockBytes = 4096;
  c->dataChunkBytes = GetOggSoundConvertTotalBytes(c);
  return 0;
}

namespace {

// The stream stands at its end (vorbisfile measured it when it opened the stream).
bool SourceAtEnd(SoundConvertRecord* c) {
  const std::int64_t at = ConvertStreamTell(c);
  return at >= 0 && at >= c->ogg.oggFile.end;
}

int ConvertOggSoundBlock(SoundConvertRecord* c) {
  if (c->ogg.oggExhausted == 1) return -1;
  if (c->ogg.oggOpen != 1) return kConvertFailed;  // not opened again yet
  const int bytesPerSample = c->ogg.oggBytesPerSample;
  for (int holes = 0; holes <= kMaxOggHolesPerBlock; ++holes) {
    int bitstream = 0;
    long got = ov_read(&c->ogg.oggFile, reinterpret_cast<char*>(c->blockBuffer), c->blockBytes, 0,
                       bytesPerSample, bytesPerSample != 1, &bitstream);
    if (got == OV_HOLE) continue;
    // Nothing read before the stream's end is a read that failed: the data is still there,
    // and vorbisfile reads on from where it was.
    if (got == 0 || got == OV_EREAD) return SourceAtEnd(c) ? -1 : kConvertFailed;
    if (got < 0) return -1;
    // A later link of another format would come out misaligned: end there.
    vorbis_info* info = ov_info(&c->ogg.oggFile, bitstream);
    if (info == nullptr || info->channels != c->pcmFormat.nChannels ||
        info->rate != static_cast<long>(c->pcmFormat.nSamplesPerSec))
      return -1;
    got -= got % c->pcmFormat.nBlockAlign;
    if (got <= 0 || got > c->blockBytes) return -1;
    c->blockLeft = static_cast<std::int32_t>(got);
    return 0;
  }
  return -1;
}

bool ReopenOgg(SoundConvertRecord* c) {
  if (c->ogg.oggOpen == 1) CloseOgg(c);
  if (ConvertStreamSeek(c, 0, kStreamSeekSet) != 0 ||
      ov_open_callbacks(&c->sourceStream, &c->ogg.oggFile, nullptr, 0, kOggCallbacks) != 0)
    return false;
  c->ogg.oggOpen = 1;
  ++g_liveOggDecoders;
  return true;
}

int SetOggSoundConvertPosition(SoundConvertRecord* c, int sample) {
  // vorbisfile does not always take a seek again after one that failed: the decoder is
  // opened afresh first.
  bool failed = c->ogg.oggSeekFailed == 1 && !ReopenOgg(c);
  if (!failed && c->ogg.oggOpen == 1) {
    // At or past the end there is nothing to decode, and vorbisfile is not asked: a
    // seek to the very end of a chained file whose last link is broken leaves its
    // page state corrupt, and the next read then overruns.
    bool inside = sample >= 0 && sample < OggTotalSamples(c);
    c->ogg.oggExhausted = inside ? 0 : 1;
    if (inside && ov_pcm_seek(&c->ogg.oggFile, sample) != 0) failed = true;
  }
  // A seek that failed is made again before anything more is read.
  c->ogg.oggSeekFailed = failed ? 1 : 0;
  c->blockLeft = c->blockOffset = 0;
  std::int64_t position = std::int64_t{c->pcmFormat.nBlockAlign} * sample;
  c->outputPosition = static_cast<std::int32_t>(position < 0           ? 0
                                                : position > INT32_MAX ? INT32_MAX
                                                                       : position);
  return failed ? kConvertFailed : 0;
}

int TerminateOggSoundConvert(SoundConvertRecord* c) {
  if (c->ogg.oggOpen == 1) CloseOgg(c);
  return 0;
}

int GetOggSoundConvertDestSize(SoundConvertRecord* c) {
  return static_cast<int>(c->pcmFormat.nChannels * (OggTotalSamples(c) + 44100) * c->ogg.oggBytesPerSample);
}

// The decoded length, counted at the set-up.
std::int64_t GetOggSoundConvertPcmBytes(const SoundConvertRecord* c) { return c->dataChunkBytes; }

}  // namespace

const SoundConvertOps kOggConvertOps = {kSoundConvertOgg,
                                        ConvertOggSoundBlock,
                                        SetOggSoundConvertPosition,
                                        TerminateOggSoundConvert,
                                        GetOggSoundConvertDestSize,
                                        GetOggSoundConvertPcmBytes,
                                        nullptr};

}  // namespace gamelib
