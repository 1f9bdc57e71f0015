// The play position of a stream sound: bytes of PCM played, kept up with the ring's
// play cursor across repeats and files, and set back at a wrap (the loop point of an
// endless file, or the first file of a looping play). The setters choose where the
// next start plays from.
#include <climits>

#include "sound/sound_handles.h"
#include "sound/stream_sound.h"

namespace gamelib {
namespace {

// The stream sound whose ring is ready for it, or null.
SoundHandleRecord* PreparedOwner(int handle, SoundBufferWrapper** ring) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr || record->soundKind != kSoundKindStream) return nullptr;
  if (ClaimStreamSoundBuffer(handle, record, ring, 0) != 0 || !record->prepared) return nullptr;
  return record;
}

// The file that holds byte `position` of the stream (the files played once each, in
// order), and the offset into it; false past the last file.
bool FindStreamFile(const SoundHandleRecord& record, std::int64_t position, int* file, std::int64_t* offset) {
  for (int i = 0; i < record.fileCount && i < kStreamFilesPerHandle; ++i) {
    const std::int64_t length = GetSoundConvertPcmBytes(&record.files[i].converter);
    if (position < length) {
      *file = i;
      *offset = position;
      return true;
    }
    position -= length;
  }
  return false;
}

void StartAt(SoundHandleRecord* record, int file, std::int64_t filePosition) {
  record->currentFile = file;
  record->loopsDone = 0;
  record->wrapPending = 0;
  record->filePosition = static_cast<std::int32_t>(filePosition);
  record->prepared = 0;
}

}  // namespace

int UpdateStreamSoundPosition(int handle, int playCursor) {
  SoundBufferWrapper* ring = nullptr;
  SoundHandleRecord* record = PreparedOwner(handle, &ring);
  if (record == nullptr) return 0;
  std::int64_t play = playCursor;
  if (playCursor == -1) {
    DWORD cursor = 0;
    // A cursor that cannot be read leaves the position as it was.
    if (!ring->valid || FAILED(ring->buffer->GetCurrentPosition(&cursor, nullptr))) return 0;
    play = cursor;
  }
  const std::int64_t last = record->lastPlayCursor;
  if (play == last) return 0;
  // Until the ring is first filled it holds nothing of the sound: what it plays is not counted.
  if (record->writeCursor == kStreamUnfilledWriteCursor) {
    record->lastPlayCursor = static_cast<std::int32_t>(play);
    return 0;
  }
  const std::int64_t ringBytes = record->ringBytes;
  const std::int64_t advance = play > last ? play - last : ringBytes - last + play;
  if (record->wrapPending) {
    // The seam at wrapOffset has been played when it lies within the bytes the cursor
    // has just passed; the position then counts on from wrapPosition.
    const std::int64_t toSeam =
        ringBytes == 0 ? 0 : ((record->wrapOffset - last) % ringBytes + ringBytes) % ringBytes;
    if (toSeam <= advance) {
      record->playedBytes = record->wrapPosition + (advance - toSeam);
      record->wrapPending = 0;
    } else {
      record->playedBytes += advance;
    }
  } else {
    record->playedBytes += advance;
  }
  if (record->dataEnded) record->endBytesLeft -= advance;
  record->lastPlayCursor = static_cast<std::int32_t>(play);
  return 0;
}

int GetStreamSoundPosition(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  UpdateStreamSoundPosition(handle, -1);
  const std::int64_t played = record->playedBytes;
  return played > INT_MAX ? INT_MAX : played < 0 ? 0 : static_cast<int>(played);
}

int SetStreamSoundPositionBytes(int position, int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr || record->soundKind != kSoundKindStream) return -1;
  if (position < 0) return -1;
  int file = 0;
  std::int64_t offset = 0;
  if (!FindStreamFile(*record, position, &file, &offset)) return -1;
  // Whole sample frames: the converter is placed at a sample.
  const int blockAlign = record->format.nBlockAlign == 0 ? 1 : record->format.nBlockAlign;
  record->playedBytes = position;
  StartAt(record, file, offset - offset % blockAlign);
  return 0;
}

int SetStreamSoundPositionMs(int milliseconds, int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr || record->soundKind != kSoundKindStream) return -1;
  const double blockAlign = record->format.nBlockAlign;
  const double rate = record->format.nSamplesPerSec;
  if (milliseconds < 0 || blockAlign == 0 || rate == 0) return -1;
  std::int64_t left = milliseconds;
  int file = 0;
  for (;; ++file) {
    if (file >= record->fileCount || file >= kStreamFilesPerHandle) return -1;
    const std::int64_t fileMs = static_cast<std::int64_t>(
        static_cast<double>(GetSoundConvertPcmBytes(&record->files[file].converter)) * 1000.0 /
        (blockAlign * rate));
    if (left < fileMs) break;
    left -= fileMs;
  }
  std::int64_t filePosition =
      static_cast<std::int64_t>(blockAlign * rate * static_cast<double>(left) * 0.001);
  filePosition -= filePosition % record->format.nBlockAlign;
  record->playedBytes =
      static_cast<std::int64_t>(static_cast<double>(record->format.nAvgBytesPerSec) * milliseconds * 0.001);
  StartAt(record, file, filePosition);
  return 0;
}

}  // namespace gamelib
