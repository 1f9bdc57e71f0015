// The compression-manager kind: compressed RIFF WAVE and MP3. Both trials read the
// whole compressed data into memory and decode it piece by piece; a loop decoder
// creeps along beside the main one and stops a little before the loop point, so that
// a jump back to the loop point resumes from it instead of from the file's start.
// Every size here comes from the file and is checked in 64 bits before it is used.
#include "sound/convert_acm.h"

#include <algorithm>
#include <cstring>

#include "platform/msacm.h"
#include "sound/convert_kinds.h"

namespace gamelib {
namespace {

// kbit/s by [version][layer][bitrate index] (ISO/IEC 11172-3 and 13818-3).
constexpr std::uint32_t kMp3Bitrates[2][3][15] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
constexpr std::uint32_t kMp3SampleRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};

constexpr std::int64_t kId3v1Bytes = 128;
constexpr std::int64_t kId3v2HeaderBytes = 10;

int TerminateAcmConvert(SoundConvertRecord* c);

HACMSTREAM AsStream(void* stream) { return static_cast<HACMSTREAM>(stream); }

void CloseDecoder(void** stream) {
  if (*stream != nullptr) {
    acmStreamClose(AsStream(*stream), 0);
    *stream = nullptr;
  }
}

// A new decoder from the source format to pcmFormat; null when the manager refuses.
void* OpenDecoder(SoundConvertRecord* c) {
  HACMSTREAM stream = nullptr;
  if (acmStreamOpen(&stream, nullptr, c->acm.acmSourceFormat, &c->pcmFormat, nullptr, 0, 0,
                    ACM_STREAMOPENF_NONREALTIME) != MMSYSERR_NOERROR)
    return nullptr;
  return stream;
}

struct PieceResult {
  bool prepared = false;
  bool converted = false;  // the manager did the conversion (it may be asked again)
  std::int32_t sourceUsed = 0;
  std::int32_t produced = 0;
};

// One piece through one decoder. The counts the manager reports are kept inside the
// piece, whatever it says.
PieceResult ConvertPiece(void* stream, const std::uint8_t* source, std::int32_t sourceBytes,
                         std::uint8_t* destination, std::int32_t destinationBytes) {
  PieceResult result;
  if (stream == nullptr || sourceBytes <= 0 || destinationBytes <= 0) return result;
  ACMSTREAMHEADER header;
  std::memset(&header, 0, sizeof header);
  header.cbStruct = ACMSTREAMHEADER_CBSTRUCT;
  header.pbSrc = const_cast<BYTE*>(source);
  header.cbSrcLength = static_cast<DWORD>(sourceBytes);
  header.pbDst = destination;
  header.cbDstLength = static_cast<DWORD>(destinationBytes);
  if (acmStreamPrepareHeader(AsStream(stream), &header, 0) != MMSYSERR_NOERROR) return result;
  result.prepared = true;
  MMRESULT converted = acmStreamConvert(AsStream(stream), &header, ACM_STREAMCONVERTF_BLOCKALIGN);
  acmStreamUnprepareHeader(AsStream(stream), &header, 0);
  if (converted == MMSYSERR_NOERROR) {
    result.converted = true;
    result.sourceUsed =
        static_cast<std::int32_t>(std::min<DWORD>(header.cbSrcLengthUsed, header.cbSrcLength));
    result.produced = static_cast<std::int32_t>(std::min<DWORD>(header.cbDstLengthUsed, header.cbDstLength));
  }
  return result;
}

// The stream's bytes through a small window, for the byte-by-byte frame scan.
class ScanReader {
 public:
  explicit ScanReader(SoundConvertRecord* c) : c_(c) {}
  // The byte at `position`, or -1 past the stream's end (or when it cannot be read).
  int At(std::int64_t position) {
    if (position < start_ || position >= start_ + filled_) {
      start_ = position;
      filled_ = 0;
      if (ConvertStreamSeek(c_, position, kStreamSeekSet) != 0) return -1;
      filled_ = ConvertStreamRead(c_, window_, sizeof window_);
      if (filled_ <= 0) return -1;
    }
    return window_[position - start_];
  }

 private:
  SoundConvertRecord* c_;
  std::int64_t start_ = 0;
  std::int64_t filled_ = 0;
  unsigned char window_[4096];
};

// Reads the compressed data [position, position + bytes) into acmSourceData, seeks
// back to its start, opens both decoders and the loop buffer. The source format and
// pcmFormat are set.
int StartDecoders(SoundConvertRecord* c, std::int64_t position, std::int64_t bytes, std::int64_t blockBytes) {
  SoundConvertAcmState& a = c->acm;
  if (bytes <= 0 || bytes > kMaxSoundFileBytes || blockBytes <= 0 || blockBytes > kMaxPcmBytes) return -1;
  c->dataChunkPosition = static_cast<std::int32_t>(position);
  c->dataChunkBytes = static_cast<std::int32_t>(bytes);
  a.acmSourceBytes = c->dataChunkBytes;
  a.acmSourceData = GAMELIB_ALLOC(static_cast<std::size_t>(bytes));
  if (a.acmSourceData == nullptr) return -1;
  if (ConvertStreamSeek(c, position, kStreamSeekSet) != 0 ||
      !ConvertStreamReadExact(c, a.acmSourceData, bytes))
    return -1;
  ConvertStreamSeek(c, position, kStreamSeekSet);
  a.acmSourceUsed = 0;
  a.acmStream = OpenDecoder(c);
  if (a.acmStream == nullptr) return -1;
  a.acmLoopStream = OpenDecoder(c);
  if (a.acmLoopStream == nullptr) return -1;
  c->blockBytes = static_cast<std::int32_t>(blockBytes);
  a.acmLoopBuffer = GAMELIB_ALLOC(static_cast<std::size_t>(blockBytes));
  if (a.acmLoopBuffer == nullptr) return -1;
  return 0;
}

// pcmFormat: what the manager proposes for the source, which must be a PCM format the
// sound device takes.
int SuggestPcm(SoundConvertRecord* c) {
  std::memset(&c->pcmFormat, 0, sizeof c->pcmFormat);
  c->pcmFormat.wFormatTag = WAVE_FORMAT_PCM;
  if (acmFormatSuggest(nullptr, c->acm.acmSourceFormat, &c->pcmFormat, kWaveFormatBytes,
                       ACM_FORMATSUGGESTF_WFORMATTAG) != MMSYSERR_NOERROR)
    return -1;
  return ValidSoundPcmFormat(c->pcmFormat) ? 0 : -1;
}

// A failed trial releases what it made; the kind state is left cleared.
int FailTrial(SoundConvertRecord* c) {
  TerminateAcmConvert(c);
  return -1;
}

void ClearAcmState(SoundConvertRecord* c, std::int32_t knownSamples) {
  std::memset(&c->acm, 0, sizeof c->acm);
  c->acm.acmKnownSamples = knownSamples;
}

void MoveInsideBlock(SoundConvertRecord* c, std::int64_t target) {
  std::int32_t d = static_cast<std::int32_t>(target - c->outputPosition);
  c->outputPosition += d;
  c->blockOffset += d;
  c->blockLeft -= d;
}

// The loop decoder's step of a block conversion. Nothing here can end the main data.
void AdvanceLoopDecoder(SoundConvertRecord* c) {
  SoundConvertAcmState& a = c->acm;
  const std::int64_t loopPoint = std::max(c->loopPointBytes, 0);
  if (a.acmLoopBytes == loopPoint) return;
  if (a.acmLoopBytes > loopPoint) {
    // The point moved back behind it: start again from the data's start.
    CloseDecoder(&a.acmLoopStream);
    a.acmLoopStream = OpenDecoder(c);
    a.acmLoopBytes = a.acmLoopSourceUsed = 0;
  }
  if (a.acmLoopStream == nullptr || a.acmLoopSourceUsed >= a.acmSourceBytes) return;
  if (a.acmLoopBytes >= loopPoint - kAcmLoopLeadBytes) return;
  const std::int32_t sourceBytes = std::min(kAcmPieceBytes, a.acmSourceBytes - a.acmLoopSourceUsed);
  const std::int32_t room =
      static_cast<std::int32_t>(std::min<std::int64_t>(c->blockBytes, loopPoint - a.acmLoopBytes));
  PieceResult piece =
      ConvertPiece(a.acmLoopStream, static_cast<const std::uint8_t*>(a.acmSourceData) + a.acmLoopSourceUsed,
                   sourceBytes, static_cast<std::uint8_t*>(a.acmLoopBuffer), room);
  if (!piece.prepared || !piece.converted) return;  // tried again on the next block
  a.acmLoopBytes += piece.produced;
  a.acmLoopSourceUsed += piece.sourceUsed;
  // A piece that neither uses source nor gives PCM never will: the rest is not
  // decodable, so the loop decoder stays where it is.
  if (piece.sourceUsed == 0 && piece.produced == 0) a.acmLoopSourceUsed = a.acmSourceBytes;
}

}  // namespace

int ParseMp3FrameHeader(const std::uint8_t header[4], Mp3FrameRecord* frame) {
  if (header == nullptr || frame == nullptr) return -1;
  if (header[0] != 0xFF || (header[1] & 0xF0) != 0xF0) return -2;
  const int versionBit = (header[1] >> 3) & 1;
  const int layerBits = (header[1] >> 1) & 3;
  const int bitrateIndex = header[2] >> 4;
  const int rateIndex = (header[2] >> 2) & 3;
  if (layerBits == 0 || bitrateIndex == 15 || rateIndex == 3) return -1;

  Mp3FrameRecord f{};
  f.layer = static_cast<std::uint8_t>(3 - layerBits);
  f.version = static_cast<std::uint8_t>(versionBit ? 0 : 1);
  f.bitrateIndex = static_cast<std::uint8_t>(bitrateIndex);
  f.rateIndex = static_cast<std::uint8_t>(rateIndex);
  f.padding = static_cast<std::uint8_t>((header[2] >> 1) & 1);
  f.channels = static_cast<std::uint8_t>(((header[3] >> 6) & 3) == 3 ? 1 : 2);
  f.sampleRate = kMp3SampleRates[f.version][f.rateIndex];
  f.bitrate = kMp3Bitrates[f.version][f.layer][f.bitrateIndex];
  if (f.layer == 0) {
    f.frameBytes = (12000 * f.bitrate / f.sampleRate + f.padding) * 4;
    f.samplesPerFrame = 384;
  } else if (f.layer == 2 && f.version == 1) {
    f.frameBytes = 72000 * f.bitrate / f.sampleRate + f.padding;
    f.samplesPerFrame = 576;
  } else {
    f.frameBytes = 144000 * f.bitrate / f.sampleRate + f.padding;
    f.samplesPerFrame = 1152;
  }
  *frame = f;
  return 0;
}

int SetupWaveAcmConvert(SoundConvertRecord* c) {
  ClearAcmState(c, -1);
  std::int64_t length = ConvertStreamLength(c);
  if (length < 12 || length > kMaxSoundFileBytes) return -1;

  std::int64_t fmtBytes = 0;
  std::int64_t fmtPosition = 0;
  if (ReadWaveFmtHeader(c, length, &fmtBytes, &fmtPosition) != 0) return -1;
  auto* format = static_cast<WAVEFORMATEX*>(
      GAMELIB_ALLOC_ZEROED(static_cast<std::size_t>(std::max<std::int64_t>(fmtBytes, kWaveFormatBytes))));
  if (format == nullptr) return -1;
  c->acm.acmSourceFormat = format;
  if (!ConvertStreamReadExact(c, format, fmtBytes)) return FailTrial(c);
  if (fmtBytes == 16) {
    format->cbSize = 0;
    if (format->wFormatTag == WAVE_FORMAT_PCM) {
      if (format->nChannels == 0) return FailTrial(c);
      format->wBitsPerSample = static_cast<WORD>(format->nBlockAlign / format->nChannels * 8);
    }
  } else {
    // The manager reads cbSize extra bytes: never more than the body holds.
    format->cbSize = static_cast<WORD>(std::min<std::int64_t>(format->cbSize, fmtBytes - kWaveFormatBytes));
  }

  std::int64_t position = 0;
  std::int64_t dataBytes = 0;
  if (FindWaveDataChunk(c, fmtPosition + fmtBytes, length, &position, &dataBytes) != 0) return FailTrial(c);

  c->fmtChunkPosition = static_cast<std::int32_t>(fmtPosition);
  c->fmtChunkBytes = static_cast<std::int32_t>(fmtBytes);
  if (SuggestPcm(c) != 0) return FailTrial(c);
  if (StartDecoders(c, position, dataBytes, c->pcmFormat.nAvgBytesPerSec) != 0) return FailTrial(c);
  // The PCM length is what the manager says it is, asked once: a file whose length cannot
  // be known is not taken.
  DWORD reported = 0;
  if (acmStreamSize(AsStream(c->acm.acmStream), static_cast<DWORD>(c->dataChunkBytes), &reported,
                    ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR)
    return FailTrial(c);
  c->acm.acmStreamPcmBytes = reported;
  return 0;
}

int SetupMp3AcmConvert(SoundConvertRecord* c) {
  ClearAcmState(c, 0);
  const std::int64_t length = ConvertStreamLength(c);
  if (length < 4 || length > kMaxSoundFileBytes) return -1;
  if (ConvertStreamSeek(c, 0, kStreamSeekSet) != 0) return -1;

  // ID3v2 at the start: its size is four 7-bit bytes, most significant first.
  std::int64_t skip = 0;
  unsigned char id3[kId3v2HeaderBytes];
  if (ConvertStreamReadExact(c, id3, 3) && std::memcmp(id3, "ID3", 3) == 0) {
    if (!ConvertStreamReadExact(c, id3 + 3, kId3v2HeaderBytes - 3)) return -1;
    std::int64_t size = 0;
    for (int i = 6; i < 10; ++i) size = size << 7 | (id3[i] & 0x7F);
    skip = size + kId3v2HeaderBytes;
    if (id3[3] == 4 && (id3[5] & 0x10)) skip += kId3v2HeaderBytes;  // footer
  }
  // ID3v1 at the end; a file of 128 bytes or less has no room for audio beside it.
  std::int64_t tail = length;
  if (length > kId3v1Bytes) {
    unsigned char tag[3];
    tail = 0;
    if (ConvertStreamSeek(c, length - kId3v1Bytes, kStreamSeekSet) == 0 &&
        ConvertStreamReadExact(c, tag, 3) && std::memcmp(tag, "TAG", 3) == 0)
      tail = kId3v1Bytes;
  }
  const std::int64_t regionEnd = length - tail;

  // Frame scan: byte by byte up to a sync, then from frame to frame. Only frames that
  // start inside the audio region count, and every frame moves the scan on by at
  // least four bytes, so it always ends.
  ScanReader reader(c);
  Mp3FrameRecord first{};
  bool found = false;
  std::int64_t dataStart = -1;
  std::int64_t lastNext = -1;
  std::int64_t knownSamples = 0;
  for (std::int64_t pos = skip; pos < regionEnd;) {
    int b0 = reader.At(pos);
    if (b0 < 0) break;
    if (b0 != 0xFF) {
      ++pos;
      continue;
    }
    int b1 = reader.At(pos + 1);
    if (b1 < 0) break;
    if ((b1 & 0xF0) != 0xF0) {
      pos += 2;  // the second byte is consumed either way
      continue;
    }
    int b2 = reader.At(pos + 2);
    int b3 = b2 < 0 ? -1 : reader.At(pos + 3);
    if (b3 < 0) break;
    const std::uint8_t bytes[4] = {0xFF, static_cast<std::uint8_t>(b1), static_cast<std::uint8_t>(b2),
                                   static_cast<std::uint8_t>(b3)};
    Mp3FrameRecord frame;
    if (ParseMp3FrameHeader(bytes, &frame) < 0) return -1;
    // Free format (bitrate index 0) has no length here: the scan could not move on.
    if (frame.frameBytes < 4) return -1;
    if (!found) {
      found = true;
      first = frame;
      dataStart = pos;
    }
    knownSamples += frame.samplesPerFrame;
    lastNext = pos + frame.frameBytes;
    pos = lastNext;
  }
  if (!found) return -1;
  const std::int64_t dataEnd = std::min(lastNext, regionEnd);
  if (dataEnd <= dataStart) return -1;

  // The MPEG wave format of the first frame, in a block of the size the manager asks
  // for (never less than the 30 bytes written).
  DWORD reported = 0;
  acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &reported);
  const std::int64_t formatBytes = std::clamp<std::int64_t>(reported, kMp3FormatMinBytes, kMp3FormatMaxBytes);
  auto* mp3 = static_cast<MPEGLAYER3WAVEFORMAT*>(GAMELIB_ALLOC_ZEROED(static_cast<std::size_t>(formatBytes)));
  if (mp3 == nullptr) return -1;
  c->acm.acmSourceFormat = &mp3->wfx;
  mp3->wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
  mp3->wfx.nChannels = first.channels;
  mp3->wfx.nSamplesPerSec = first.sampleRate;
  mp3->wfx.nAvgBytesPerSec = first.bitrate * 1000 / 8;
  mp3->wfx.nBlockAlign = 1;
  mp3->wfx.wBitsPerSample = 0;
  mp3->wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
  mp3->wID = MPEGLAYER3_ID_MPEG;
  mp3->fdwFlags = first.padding ? MPEGLAYER3_FLAG_PADDING_ON : MPEGLAYER3_FLAG_PADDING_ISO;
  mp3->nBlockSize = static_cast<WORD>(first.frameBytes);
  mp3->nFramesPerBlock = 1;
  mp3->nCodecDelay = kMp3CodecDelay;

  c->acm.acmKnownSamples = static_cast<std::int32_t>(std::min<std::int64_t>(knownSamples, INT32_MAX));
  if (SuggestPcm(c) != 0) return FailTrial(c);
  const std::int64_t blockBytes = std::int64_t{4} * c->pcmFormat.nAvgBytesPerSec / 3;
  if (StartDecoders(c, dataStart, dataEnd - dataStart, blockBytes) != 0) return FailTrial(c);
  return 0;
}

namespace {

int ConvertAcmBlock(SoundConvertRecord* c) {
  SoundConvertAcmState& a = c->acm;
  AdvanceLoopDecoder(c);

  // Output stops where the library's 32-bit positions would no longer hold it.
  if (c->outputPosition >= kMaxPcmBytes) return -1;
  // A decoder that could not be opened again at a restart is opened now.
  if (a.acmStream == nullptr) a.acmStream = OpenDecoder(c);
  if (a.acmStream == nullptr) return kConvertFailed;
  for (;;) {
    if (a.acmSourceUsed >= a.acmSourceBytes) return -1;
    const std::int32_t sourceBytes = std::min(kAcmPieceBytes, a.acmSourceBytes - a.acmSourceUsed);
    PieceResult piece =
        ConvertPiece(a.acmStream, static_cast<const std::uint8_t*>(a.acmSourceData) + a.acmSourceUsed,
                     sourceBytes, c->blockBuffer, c->blockBytes);
    if (!piece.prepared) return -1;
    if (!piece.converted) return kConvertFailed;
    c->blockLeft = piece.produced;
    a.acmSourceUsed += piece.sourceUsed;
    if (c->blockLeft > 0) return 0;
    // Source used without PCM (junk between frames, a tag inside the data): go on
    // with the next piece; the source strictly advances, so this ends.
    if (piece.sourceUsed == 0) {
      a.acmSourceUsed = a.acmSourceBytes;
      return -1;
    }
  }
}

int SetAcmConvertPosition(SoundConvertRecord* c, int sample) {
  SoundConvertAcmState& a = c->acm;
  const std::int64_t target = std::int64_t{c->pcmFormat.nBlockAlign} * std::max(sample, 0);
  if (target >= c->outputPosition) {
    if (target <= std::int64_t{c->outputPosition} + c->blockLeft) {
      MoveInsideBlock(c, target);
      return 0;
    }
  } else if (target < a.acmLoopBytes || a.acmLoopStream == nullptr) {
    // Restart the main decoder from the data's start.
    CloseDecoder(&a.acmStream);
    a.acmStream = OpenDecoder(c);
    ConvertStreamSeek(c, c->dataChunkPosition, kStreamSeekSet);
    a.acmSourceUsed = 0;
    c->blockLeft = c->blockOffset = c->outputPosition = 0;
  } else {
    // The loop decoder stands at or before the target: it becomes the main decoder,
    // and a fresh loop decoder starts from the data's start.
    std::swap(a.acmStream, a.acmLoopStream);
    a.acmSourceUsed = a.acmLoopSourceUsed;
    c->outputPosition = a.acmLoopBytes;
    c->blockLeft = c->blockOffset = 0;
    CloseDecoder(&a.acmLoopStream);
    a.acmLoopStream = OpenDecoder(c);
    a.acmLoopSourceUsed = a.acmLoopBytes = 0;
  }
  while (std::int64_t{c->outputPosition} + c->blockLeft < target) {
    c->outputPosition += c->blockLeft;
    c->blockLeft = c->blockOffset = 0;
    const int refill = ConvertAcmBlock(c);
    if (refill == kConvertFailed) return kConvertFailed;  // made again from here
    if (refill == -1) {
      c->blockLeft = 0;
      c->endReached = 1;
      return 0;
    }
  }
  MoveInsideBlock(c, target);
  return 0;
}

int TerminateAcmConvert(SoundConvertRecord* c) {
  SoundConvertAcmState& a = c->acm;
  if (a.acmSourceFormat != nullptr) FreeMemory(a.acmSourceFormat);
  if (a.acmLoopBuffer != nullptr) FreeMemory(a.acmLoopBuffer);
  CloseDecoder(&a.acmStream);
  CloseDecoder(&a.acmLoopStream);
  if (a.acmSourceData != nullptr) FreeMemory(a.acmSourceData);
  a.acmSourceFormat = nullptr;
  a.acmLoopBuffer = nullptr;
  a.acmSourceData = nullptr;
  return 0;
}

// The MP3 trial counts the frames' samples; the compressed WAVE trial asks the manager.
int GetAcmConvertDestBytes(const SoundConvertRecord* c) {
  const SoundConvertAcmState& a = c->acm;
  std::int64_t size = 0;
  if (a.acmKnownSamples != -1) {
    size = std::int64_t{c->pcmFormat.nBlockAlign} * a.acmKnownSamples;
  } else {
    size = a.acmStreamPcmBytes;
  }
  // More than memory may hold: no whole conversion (streams still play it).
  return size < 0 || size > kMaxPcmBytes ? 0 : static_cast<int>(size);
}

int GetAcmConvertDestSize(SoundConvertRecord* c) { return GetAcmConvertDestBytes(c); }

// The data chunk counts source bytes here: the PCM length is the output size.
std::int64_t GetAcmConvertPcmBytes(const SoundConvertRecord* c) { return GetAcmConvertDestBytes(c); }

}  // namespace

const SoundConvertOps kAcmConvertOps = {
    kSoundConvertAcm,      ConvertAcmBlock, SetAcmConvertPosition, TerminateAcmConvert, GetAcmConvertDestSize,
    GetAcmConvertPcmBytes, nullptr};

}  // namespace gamelib
