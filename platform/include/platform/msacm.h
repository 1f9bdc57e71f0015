// The compression manager the sound converter is written against: streams that turn
// compressed wave data (MPEG audio, IMA and Microsoft ADPCM, A-law, mu-law) into
// 16-bit PCM, piece by piece, with their records and constants.
#pragma once

#include <cstddef>

#include "platform/pcm_format.h"
#include "platform/win32.h"

using MMRESULT = UINT;

struct HACMDRIVER__;
using HACMDRIVER = HACMDRIVER__*;
struct HACMSTREAM__;
using HACMSTREAM = HACMSTREAM__*;
struct HACMOBJ__;
using HACMOBJ = HACMOBJ__*;

// Results: 0 is success, anything else a failure.
constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;

// Compressed format tags.
constexpr WORD WAVE_FORMAT_ADPCM = 0x0002;
constexpr WORD WAVE_FORMAT_ALAW = 0x0006;
constexpr WORD WAVE_FORMAT_MULAW = 0x0007;
constexpr WORD WAVE_FORMAT_IMA_ADPCM = 0x0011;
constexpr WORD WAVE_FORMAT_MPEG = 0x0050;
constexpr WORD WAVE_FORMAT_MPEGLAYER3 = 0x0055;

// Flags.
constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;
constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;
constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;
constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;
constexpr UINT ACM_METRIC_MAX_SIZE_FORMAT = 50;

// One piece of a conversion. The stream fills in the two Used counts.
struct ACMSTREAMHEADER {
  DWORD cbStruct;
  DWORD fdwStatus;
  DWORD_PTR dwUser;
  BYTE* pbSrc;
  DWORD cbSrcLength;
  DWORD cbSrcLengthUsed;
  DWORD_PTR dwSrcUser;
  BYTE* pbDst;
  DWORD cbDstLength;
  DWORD cbDstLengthUsed;
  DWORD_PTR dwDstUser;
  DWORD dwReservedDriver[10];
};
// What callers write into cbStruct: the record's stored size on the home platform
// (32-bit), not sizeof here. The streams accept exactly this value.
constexpr DWORD ACMSTREAMHEADER_CBSTRUCT = 84;

#pragma pack(push, 1)
// MPEG audio layer III (also used for layers I and II: the frames say which).
struct MPEGLAYER3WAVEFORMAT {
  WAVEFORMATEX wfx;  // cbSize MPEGLAYER3_WFX_EXTRA_BYTES
  WORD wID;
  DWORD fdwFlags;
  WORD nBlockSize;
  WORD nFramesPerBlock;
  WORD nCodecDelay;
};

// IMA ADPCM: 4 bits a sample, blocks of nBlockAlign bytes.
struct IMAADPCMWAVEFORMAT {
  WAVEFORMATEX wfx;  // cbSize 2
  WORD wSamplesPerBlock;
};

// Microsoft ADPCM: 4 bits a sample, a predictor from a table of coefficient pairs.
struct ADPCMCOEFSET {
  std::int16_t iCoef1;
  std::int16_t iCoef2;
};
struct ADPCMWAVEFORMAT {
  WAVEFORMATEX wfx;  // cbSize 4 + 4 * wNumCoef
  WORD wSamplesPerBlock;
  WORD wNumCoef;
  ADPCMCOEFSET aCoef[1];  // wNumCoef of them
};
#pragma pack(pop)
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30, "MPEGLAYER3WAVEFORMAT is 30 packed bytes");
static_assert(sizeof(IMAADPCMWAVEFORMAT) == 20, "IMAADPCMWAVEFORMAT is 20 packed bytes");

constexpr DWORD MPEGLAYER3WAVEFORMAT_BYTES = 30;
constexpr WORD MPEGLAYER3_WFX_EXTRA_BYTES = 12;
constexpr WORD MPEGLAYER3_ID_UNKNOWN = 0;
constexpr WORD MPEGLAYER3_ID_MPEG = 1;
constexpr WORD MPEGLAYER3_ID_CONSTANTFRAMESIZE = 2;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_ISO = 0;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_ON = 1;
constexpr DWORD MPEGLAYER3_FLAG_PADDING_OFF = 2;

// The stand-in decodes ADPCM blocks of at most this many bytes: the converter hands
// over pieces of 2048 bytes, and a larger block would never fit into one.
constexpr DWORD ACM_MAX_ADPCM_BLOCK_BYTES = 2048;

// A source format is read as a WAVEFORMATEX followed by cbSize extra bytes, which the
// caller must really hold. The driver argument must be null (any driver).
MMRESULT acmFormatSuggest(HACMDRIVER driver, WAVEFORMATEX* source, WAVEFORMATEX* destination,
                          DWORD destinationBytes, DWORD flags);
MMRESULT acmStreamOpen(HACMSTREAM* stream, HACMDRIVER driver, WAVEFORMATEX* source, WAVEFORMATEX* destination,
                       void* filter, DWORD_PTR callback, DWORD_PTR instance, DWORD flags);
MMRESULT acmStreamClose(HACMSTREAM stream, DWORD flags);
MMRESULT acmStreamSize(HACMSTREAM stream, DWORD inputBytes, DWORD* outputBytes, DWORD flags);
MMRESULT acmStreamPrepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmStreamConvert(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmStreamUnprepareHeader(HACMSTREAM stream, ACMSTREAMHEADER* header, DWORD flags);
MMRESULT acmMetrics(HACMOBJ object, UINT metric, void* value);
