// Sound buffers: the wrappers, the buffers of a handle, their volume, and silence.
#include "sound/sound_buffers.h"

#include <cmath>
#include <cstring>

#include "gamelib/core.h"
#include "sound/sound_handles.h"
#include "sound/sound_pcm_format.h"
#include "sound/sound_state.h"

namespace gamelib {
namespace {

IDirectSound* Device() { return GetSoundSystemState().directSound; }

DSBUFFERDESC Description(DWORD flags, DWORD bytes, WAVEFORMATEX* format) {
  DSBUFFERDESC description;
  std::memset(&description, 0, sizeof(description));
  description.dwSize = DSBUFFERDESC_DWSIZE;
  description.dwFlags = flags;
  description.dwBufferBytes = bytes;
  description.lpwfxFormat = format;
  return description;
}

}  // namespace

// ---- Wrappers ----------------------------------------------------------------------

int CreateSoundBufferWrapper(SoundBufferWrapper* wrapper, const DSBUFFERDESC* description) {
  if (wrapper == nullptr || wrapper->valid != 0 || Device() == nullptr) return -1;
  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(Device()->CreateSoundBuffer(description, &buffer, nullptr)) || buffer == nullptr) return -1;
  wrapper->buffer = buffer;
  wrapper->valid = 1;
  return 0;
}

int DuplicateSoundBufferWrapper(SoundBufferWrapper* wrapper, const SoundBufferWrapper* source) {
  if (wrapper == nullptr || wrapper->valid != 0 || source == nullptr || source->valid == 0 ||
      Device() == nullptr) {
    return -1;
  }
  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(Device()->DuplicateSoundBuffer(source->buffer, &buffer)) || buffer == nullptr) return -1;
  wrapper->buffer = buffer;
  wrapper->valid = 1;
  return 0;
}

int ReleaseSoundBufferWrapper(SoundBufferWrapper* wrapper) {
  if (wrapper == nullptr || wrapper->valid == 0) return -1;
  wrapper->buffer->Release();
  wrapper->buffer = nullptr;
  wrapper->valid = 0;
  return 0;
}

int PlaySoundBufferWrapper(SoundBufferWrapper* wrapper, int loop) {
  if (wrapper == nullptr || wrapper->valid == 0) return -1;
  // A refused play is reported: the handle-level play turns it into -1.
  if (FAILED(wrapper->buffer->Play(0, 0, loop != 0 ? DSBPLAY_LOOPING : 0))) return -1;
  return 0;
}

int StopSoundBufferWrapper(SoundBufferWrapper* wrapper) {
  if (wrapper == nullptr || wrapper->valid == 0) return -1;
  wrapper->buffer->Stop();
  return 0;
}

int GetSoundBufferWrapperStatus(const SoundBufferWrapper* wrapper, DWORD* status) {
  if (wrapper == nullptr || wrapper->valid == 0 || status == nullptr) return -1;
  if (FAILED(wrapper->buffer->GetStatus(status))) return -1;
  return 0;
}

int LockSoundBufferWrapper(SoundBufferWrapper* wrapper, DWORD offset, DWORD bytes, void** part1,
                           DWORD* bytes1, void** part2, DWORD* bytes2) {
  if (wrapper == nullptr || wrapper->valid == 0) return -1;
  if (FAILED(wrapper->buffer->Lock(offset, bytes, part1, bytes1, part2, bytes2, 0))) return -1;
  return 0;
}

int UnlockSoundBufferWrapper(SoundBufferWrapper* wrapper, void* part1, DWORD bytes1, void* part2,
                             DWORD bytes2) {
  if (wrapper == nullptr || wrapper->valid == 0) return -1;
  if (FAILED(wrapper->buffer->Unlock(part1, bytes1, part2, bytes2))) return -1;
  return 0;
}

int SetSoundBufferWrapperVolume(SoundBufferWrapper* wrapper, LONG volume) {
  if (wrapper == nullptr || wrapper->valid == 0) return -1;
  wrapper->buffer->SetVolume(volume);
  return 0;
}

int SetSoundBufferWrapperPosition(SoundBufferWrapper* wrapper, DWORD offset) {
  if (wrapper == nullptr || wrapper->valid == 0) return -1;
  // A refused position is reported, not passed off as done.
  if (FAILED(wrapper->buffer->SetCurrentPosition(offset))) return -1;
  return 0;
}

// ---- Buffers of a handle -------------------------------------------------------------

int CreateSoundBuffers(const WAVEFORMATEX* format, std::uint32_t dataBytes, int kind, int bufferCount,
                       int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr || format == nullptr) return -1;
  if (kind != kSoundKindMemory && kind != kSoundKindStream) return -1;
  // Buffers are made once per record.
  for (const SoundBufferWrapper& wrapper : record->buffers) {
    if (wrapper.valid) return -1;
  }
  WAVEFORMATEX pcm = *format;
  // Only a buffer that passed the device's own format gate may end the process when
  // it is refused; bad data is an ordinary failure.
  std::uint64_t bytes = kind == kSoundKindMemory ? std::uint64_t{dataBytes}
                                                 : std::uint64_t{pcm.nAvgBytesPerSec} * kStreamRingSeconds;
  if (!ValidSoundPcmBuffer(pcm, bytes)) return -1;

  if (kind == kSoundKindMemory) {
    int count = bufferCount < 0 ? 0 : bufferCount;
    if (count > kSoundBuffersPerHandle) count = kSoundBuffersPerHandle;
    int made = 0;
    for (; made < count; ++made) {
      if (made == 0) {
        DSBUFFERDESC description = Description(kMemorySoundBufferFlags, static_cast<DWORD>(bytes), &pcm);
        if (CreateSoundBufferWrapper(&record->buffers[0], &description) != 0) {
          description.dwFlags = kMemorySoundBufferFallbackFlags;
          if (CreateSoundBufferWrapper(&record->buffers[0], &description) != 0) {
            // The record holds nothing yet, so the shutdown this runs finds it consistent.
            ExitWithError("DirectSoundBuffer の作成に失敗しました");
          }
        }
      } else if (DuplicateSoundBufferWrapper(&record->buffers[made], &record->buffers[0]) != 0) {
        break;
      }
    }
    record->bufferCount = made;
  } else {
    DSBUFFERDESC description = Description(kStreamRingFlags, static_cast<DWORD>(bytes), &pcm);
    if (CreateSoundBufferWrapper(&record->buffers[0], &description) != 0) {
      ExitWithError("ストリーム風サウンドバッファの作成に失敗しました");
    }
    record->bufferCount = 1;
  }
  record->soundKind = kind;
  if (kind == kSoundKindStream) {
    AddLinkedListNode(&GetSoundSystemState().SoundStreamList, &record->streamListNode, handle, record);
  }
  return 0;
}

void WriteSilenceToBuffer(const SoundHandleRecord* record, StreamFillCursor* cursor, std::uint32_t bytes) {
  if (record == nullptr || cursor == nullptr) return;
  // 8-bit PCM is unsigned: its silence is the middle value (127, as the library writes it).
  const int silence = record->format.wBitsPerSample == 8 ? 127 : 0;
  while (bytes > 0) {
    if (cursor->part1Left != 0 && cursor->part1 != nullptr) {
      DWORD n = bytes < cursor->part1Left ? bytes : cursor->part1Left;
      std::memset(cursor->part1 + cursor->part1Done, silence, n);
      cursor->part1Done += n;
      cursor->part1Left -= n;
      bytes -= n;
    } else if (cursor->part2Left != 0 && cursor->part2 != nullptr) {
      DWORD n = bytes < cursor->part2Left ? bytes : cursor->part2Left;
      std::memset(cursor->part2 + cursor->part2Done, silence, n);
      cursor->part2Done += n;
      cursor->part2Left -= n;
      bytes -= n;
    } else {
      break;
    }
  }
}

void ReleaseSoundBuffers(SoundHandleRecord* record) {
  for (SoundBufferWrapper& wrapper : record->buffers) {
    if (wrapper.valid) ReleaseSoundBufferWrapper(&wrapper);
  }
}

// ---- Volume ----------------------------------------------------------------------------

LONG SoundVolumeToHundredthsDb(int volume) {
  if (volume > 255) volume = 255;
  if (volume <= 0) return DSBVOLUME_MIN;
  double value = 1000.0 * std::log10(volume / 255.0);  // truncated toward zero below
  LONG hundredths = static_cast<LONG>(value);
  return hundredths < DSBVOLUME_MIN ? DSBVOLUME_MIN : hundredths;
}

void SetSoundBuffersVolume(SoundHandleRecord* record, LONG volume) {
  int used = UsedSoundBuffers(*record);
  for (int i = 0; i < used; ++i) SetSoundBufferWrapperVolume(&record->buffers[i], volume);
}

}  // namespace gamelib
