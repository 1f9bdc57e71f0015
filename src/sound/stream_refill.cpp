// The refill of a stream sound's ring, run for every stream sound on each pass of the
// message pump: four seconds at the start, then enough to stay three seconds ahead of
// the play cursor; the end of each file (loops, loop point, next file, wrap to the
// first) and the end of the data, after which silence is written until the ring has
// played up to the end and is stopped.
#include <cstring>

#include "sound/sound_buffers.h"
#include "sound/sound_handles.h"
#include "sound/sound_state.h"
#include "sound/stream_sound.h"

namespace gamelib {
namespace {

constexpr std::int64_t kRefillLeadUnits = 384;  // three seconds in 1/128 s
constexpr int kFirstFillSeconds = 4;
constexpr int kValidZoneSeconds = 4;

std::int64_t RingBytes(const SoundHandleRecord& record) {
  return std::int64_t{record.format.nAvgBytesPerSec} * kStreamRingSeconds;
}

// 1/8 s in whole sample frames: the silence step and the least steady refill.
std::int64_t EighthSecondStep(const SoundHandleRecord& record) {
  const std::int64_t blockAlign = record.format.nBlockAlign;
  return blockAlign == 0 ? 0 : (record.format.nAvgBytesPerSec / 8) / blockAlign * blockAlign;
}

bool ReadPlayCursor(const SoundBufferWrapper* ring, std::int64_t* cursor) {
  if (ring == nullptr || !ring->valid) return false;
  DWORD play = 0;
  if (FAILED(ring->buffer->GetCurrentPosition(&play, nullptr))) return false;
  *cursor = play;
  return true;
}

// The play cursor lies in the written zone, from validZoneStart on to writeCursor.
bool InValidZone(std::int64_t write, std::int64_t zoneStart, std::int64_t play) {
  if (write < zoneStart) return !(write < play && play < zoneStart);
  if (write > zoneStart) return !(play < zoneStart || play > write);
  return true;
}

// Ring offset of the next byte the cursor writes.
std::int32_t NextWriteOffset(const StreamFillCursor& cursor, std::int64_t ringBytes) {
  if (cursor.part1Left != 0 || cursor.part2 == nullptr) {
    return static_cast<std::int32_t>((cursor.lockOffset + std::int64_t{cursor.part1Done}) % ringBytes);
  }
  return static_cast<std::int32_t>(cursor.part2Done);
}

// The data has ended at the cursor: silence fills the rest of the locked range, and the
// bytes from the play cursor up to the end are counted down as they play, so the end is
// found however rarely the pump runs.
void EndStreamData(SoundHandleRecord* record, StreamFillCursor* cursor, int playCursor) {
  const std::int64_t ringBytes = RingBytes(*record);
  record->dataEnded = 1;
  record->endOffset = NextWriteOffset(*cursor, ringBytes);
  record->endCursorCount = playCursor;
  record->endBytesLeft =
      ((record->endOffset - std::int64_t{record->lastPlayCursor}) % ringBytes + ringBytes) % ringBytes;
  WriteSilenceToBuffer(record, cursor, cursor->part1Left + cursor->part2Left);
}

// How many file ends in a row may yield no data before the stream is taken to have none:
// one more than the plays of one whole pass over the files.
int StallLimit(const SoundHandleRecord& record) {
  int limit = 1;
  for (int i = 0; i < record.fileCount; ++i) {
    const std::uint8_t loops = record.files[i].loopCount;
    limit += loops == kStreamLoopEndless || static_cast<std::int8_t>(loops) < 0 ? 1 : loops + 1;
  }
  return limit;
}

bool LockRing(SoundBufferWrapper* ring, std::int64_t offset, std::int64_t bytes, StreamFillCursor* cursor) {
  std::memset(cursor, 0, sizeof *cursor);
  void* part1 = nullptr;
  void* part2 = nullptr;
  DWORD bytes1 = 0;
  DWORD bytes2 = 0;
  if (LockSoundBufferWrapper(ring, static_cast<DWORD>(offset), static_cast<DWORD>(bytes), &part1, &bytes1,
                             &part2, &bytes2) != 0) {
    return false;
  }
  // Never more than was asked for, whatever the lock reports.
  if (bytes1 > bytes) bytes1 = static_cast<DWORD>(bytes);
  if (bytes2 > bytes - bytes1) bytes2 = static_cast<DWORD>(bytes - bytes1);
  cursor->lockOffset = static_cast<std::int32_t>(offset);
  cursor->part1 = static_cast<std::uint8_t*>(part1);
  cursor->part2 = static_cast<std::uint8_t*>(part2);
  cursor->part1Bytes = cursor->part1Left = part1 == nullptr ? 0 : bytes1;
  cursor->part2Bytes = cursor->part2Left = part2 == nullptr ? 0 : bytes2;
  return true;
}

// False when the device refused the unlock: nothing written becomes playable.
bool UnlockRing(SoundBufferWrapper* ring, const StreamFillCursor& cursor) {
  return UnlockSoundBufferWrapper(ring, cursor.part1, cursor.part1Bytes, cursor.part2, cursor.part2Bytes) ==
         0;
}

// What a refill moves on, kept so that a refill whose bytes were lost can be taken back.
struct RefillState {
  std::int32_t currentFile, loopsDone, filePosition, wrapPosition, wrapOffset;
  std::int32_t endOffset, endCursorCount;
  std::int64_t endBytesLeft;
  std::uint8_t dataEnded, wrapPending, finished, dataFault;
};

RefillState SaveRefillState(const SoundHandleRecord& r) {
  return {r.currentFile,    r.loopsDone,    r.filePosition, r.wrapPosition, r.wrapOffset, r.endOffset,
          r.endCursorCount, r.endBytesLeft, r.dataEnded,    r.wrapPending,  r.finished,   r.dataFault};
}

void RestoreRefillState(SoundHandleRecord* r, const RefillState& s) {
  r->currentFile = s.currentFile;
  r->loopsDone = s.loopsDone;
  r->filePosition = s.filePosition;
  r->wrapPosition = s.wrapPosition;
  r->wrapOffset = s.wrapOffset;
  r->endOffset = s.endOffset;
  r->endCursorCount = s.endCursorCount;
  r->endBytesLeft = s.endBytesLeft;
  r->dataEnded = s.dataEnded;
  r->wrapPending = s.wrapPending;
  r->finished = s.finished;
  r->dataFault = s.dataFault;
  // The converter goes back to where the lost bytes began.
  if (r->currentFile >= 0 && r->currentFile < r->fileCount) {
    const int blockAlign = r->format.nBlockAlign == 0 ? 1 : r->format.nBlockAlign;
    MoveSoundConvert(&r->files[r->currentFile].converter, r->filePosition / blockAlign);
  }
}

void AdvanceWriteCursor(SoundHandleRecord* record, std::int64_t bytes) {
  const std::int64_t ringBytes = RingBytes(*record);
  std::int64_t write = (record->writeCursor + bytes) % ringBytes;
  std::int64_t zoneStart = write - std::int64_t{record->format.nAvgBytesPerSec} * kValidZoneSeconds;
  if (zoneStart < 0) zoneStart += ringBytes;
  record->writeCursor = static_cast<std::int32_t>(write);
  record->validZoneStart = static_cast<std::int32_t>(zoneStart);
}

constexpr int kRefillResumes = 1;

// After the data's end: silence ahead of the play cursor, and the ring stopped once it
// has played up to the end. Data that stopped at a failure is tried again while its end
// is still to be heard (kRefillResumes: the refill goes on from there).
int RefillAfterEnd(SoundHandleRecord* record, SoundBufferWrapper* ring) {
  if (!ring->valid) return -1;
  DWORD status = 0;
  if (GetSoundBufferWrapperStatus(ring, &status) != 0) return -1;
  if ((status & DSBSTATUS_PLAYING) == 0) return 0;  // a stopped ring is not written
  std::int64_t play = 0;
  if (!ReadPlayCursor(ring, &play)) return -1;
  const std::int64_t end = record->endOffset;
  const std::int64_t endCursor = record->endCursorCount;
  const bool passed = play > end && (endCursor < end || (end < play && play < endCursor));
  if (passed || record->endBytesLeft <= 0) {
    StopSoundBufferWrapper(ring);
    record->dataEnded = 0;
    // The silence heard past a failure is not the sound's: its position stays at the data.
    if (record->dataFault && record->endBytesLeft < 0) record->playedBytes += record->endBytesLeft;
    return 0;
  }
  if (record->dataFault) {
    const std::int64_t ringBytes = RingBytes(*record);
    std::int64_t zoneStart = end - std::int64_t{record->format.nAvgBytesPerSec} * kValidZoneSeconds;
    if (zoneStart < 0) zoneStart += ringBytes;
    if (InValidZone(end, zoneStart, play)) {
      // The silence after the failure is written over with the data.
      record->writeCursor = static_cast<std::int32_t>(end);
      record->validZoneStart = static_cast<std::int32_t>(zoneStart);
      record->dataEnded = 0;
      record->dataFault = 0;
      return kRefillResumes;
    }
  }
  const std::int64_t step = EighthSecondStep(*record);
  if (step <= 0 || !InValidZone(record->writeCursor, record->validZoneStart, play)) return -1;
  StreamFillCursor cursor;
  if (!LockRing(ring, record->writeCursor, step, &cursor)) return -1;
  WriteSilenceToBuffer(record, &cursor, static_cast<std::uint32_t>(step));
  if (!UnlockRing(ring, cursor)) return -1;
  AdvanceWriteCursor(record, step);
  return 0;
}

}  // namespace

int WriteConvertedToBuffer(StreamFillCursor* cursor, SoundConvertRecord* converter, int bytes) {
  if (cursor == nullptr || converter == nullptr) return 0;
  int written = 0;
  while (bytes > 0) {
    std::uint8_t* destination;
    DWORD* done;
    DWORD* left;
    if (cursor->part1Left != 0) {
      destination = cursor->part1 + cursor->part1Done;
      done = &cursor->part1Done;
      left = &cursor->part1Left;
    } else if (cursor->part2Left != 0) {
      destination = cursor->part2 + cursor->part2Done;
      done = &cursor->part2Done;
      left = &cursor->part2Left;
    } else {
      break;
    }
    const int ask = static_cast<int>(*left < static_cast<DWORD>(bytes) ? *left : static_cast<DWORD>(bytes));
    const int got = ConvertSoundBlock(converter, destination, ask);
    if (got <= 0) break;
    *done += static_cast<DWORD>(got);
    *left -= static_cast<DWORD>(got);
    bytes -= got;
    written += got;
  }
  return written;
}

int AdvanceStreamSoundFile(SoundHandleRecord* record, StreamFillCursor* cursor, int playCursor) {
  if (record == nullptr || cursor == nullptr) return -1;
  // Never past the last file.
  if (record->currentFile < 0 || record->currentFile >= record->fileCount) {
    EndStreamData(record, cursor, playCursor);
    return -1;
  }
  const std::int64_t ringBytes = RingBytes(*record);
  const std::int64_t blockAlign = record->format.nBlockAlign == 0 ? 1 : record->format.nBlockAlign;
  ++record->loopsDone;
  const SoundFileEntry& file = record->files[record->currentFile];
  if (file.loopCount == kStreamLoopEndless) {
    std::int64_t point = blockAlign * (file.loopPoint < 0 ? 0 : file.loopPoint);
    if (point > INT32_MAX) point = INT32_MAX;
    record->filePosition = static_cast<std::int32_t>(point);
    record->wrapPosition = record->filePosition;
    record->wrapPending = 1;
    record->wrapOffset = NextWriteOffset(*cursor, ringBytes);
  } else {
    // The count compares as a signed byte: 128 to 254 play the file once.
    if (record->loopsDone > static_cast<std::int8_t>(file.loopCount)) {
      record->loopsDone = 0;
      ++record->currentFile;
      if (record->currentFile >= record->fileCount) {
        record->finished = 1;
        if (record->playType != 3) {
          EndStreamData(record, cursor, playCursor);
          return -1;
        }
        record->wrapPending = 1;
        record->currentFile = 0;
        record->wrapPosition = 0;
        record->wrapOffset = NextWriteOffset(*cursor, ringBytes);
      }
    }
    record->filePosition = 0;
  }
  SeekSoundConvert(&record->files[record->currentFile].converter, record->filePosition / blockAlign);
  return 0;
}

int RefillStreamSound(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  if (record->soundKind != kSoundKindStream) return 0;
  SoundBufferWrapper* ring = nullptr;
  if (ClaimStreamSoundBuffer(handle, record, &ring, 0) != 0 || !record->prepared) return 0;
  UpdateStreamSoundPosition(handle, -1);
  if (record->dataEnded) {
    const int result = RefillAfterEnd(record, ring);
    if (result != kRefillResumes) return result;
  }

  const std::int64_t avgBytes = record->format.nAvgBytesPerSec;
  const std::int64_t blockAlign = record->format.nBlockAlign;
  const std::int64_t ringBytes = RingBytes(*record);
  if (!ring->valid || blockAlign == 0 || ringBytes == 0) return -1;
  DWORD status = 0;
  if (GetSoundBufferWrapperStatus(ring, &status) != 0) return -1;
  const bool playing = (status & DSBSTATUS_PLAYING) != 0;
  const bool firstFill = record->writeCursor == kStreamUnfilledWriteCursor;
  if (!playing && !firstFill) return 0;

  std::int64_t play = 0;
  if (!ReadPlayCursor(ring, &play)) return -1;
  std::int64_t start;
  std::int64_t bytes;
  if (firstFill) {
    // Four seconds from where the ring stands (its start, after the rewind).
    start = play;
    bytes = kFirstFillSeconds * avgBytes / blockAlign * blockAlign;
  } else {
    if (!InValidZone(record->writeCursor, record->validZoneStart, play)) {
      // The ring has played all it was given while its refills were lost: it stops.
      if (record->dataFault) StopSoundBufferWrapper(ring);
      return -1;
    }
    bytes = EighthSecondStep(*record);
    std::int64_t write = record->writeCursor;
    std::int64_t cursor = play;
    if (record->writeCursor < record->validZoneStart) {
      // The zone wraps round the ring's end; a cursor at the writer has no lead at all.
      if (play <= record->writeCursor) cursor += ringBytes;
      write += ringBytes;
    }
    const std::int64_t lead = (write - cursor) * 128 / avgBytes;
    if (lead < kRefillLeadUnits)
      bytes = (((kRefillLeadUnits - lead) * avgBytes) >> 7) / blockAlign * blockAlign;
    if (bytes <= 0) return 0;
    start = record->writeCursor;
  }

  const RefillState before = SaveRefillState(*record);
  StreamFillCursor cursor;
  if (!LockRing(ring, start, bytes, &cursor)) return -1;
  // The play cursor is 0 in a first fill after the rewind.
  const int playCursor = static_cast<int>(play);
  // What the lock really gave is what is written, and what the write cursor moves by.
  bytes = std::int64_t{cursor.part1Left} + cursor.part2Left;
  int left = static_cast<int>(bytes);
  int stalls = 0;
  const int stallLimit = StallLimit(*record);
  while (left > 0 && !record->dataEnded) {
    if (record->currentFile < 0 || record->currentFile >= record->fileCount) {
      EndStreamData(record, &cursor, playCursor);
      break;
    }
    SoundConvertRecord& converter = record->files[record->currentFile].converter;
    const int got = WriteConvertedToBuffer(&cursor, &converter, left);
    if (got > 0) {
      left -= got;
      record->filePosition += got;
      stalls = 0;
    }
    if (converter.readFailed == 1) {
      // The data could not be read now: it stops here, as at an end, and is tried again
      // on the next pass; the ring stops if the failure outlasts what it holds.
      EndStreamData(record, &cursor, playCursor);
      record->dataFault = 1;
      break;
    }
    if (got > 0) continue;
    if (++stalls > stallLimit) {
      // Loops and restarts that yield nothing would go round for ever: the data ends.
      record->finished = 1;
      record->currentFile = record->fileCount;
      EndStreamData(record, &cursor, playCursor);
      break;
    }
    AdvanceStreamSoundFile(record, &cursor, playCursor);
  }
  if (!UnlockRing(ring, cursor)) {
    // Nothing written became playable: the next pass writes it again (a first fill too).
    RestoreRefillState(record, before);
    record->dataFault = 1;
    return -1;
  }
  if (!record->dataEnded) record->dataFault = 0;

  if (firstFill) record->writeCursor = static_cast<std::int32_t>(start);
  AdvanceWriteCursor(record, bytes);
  return 0;
}

int ProcessAllStreamSounds() {
  if (!SoundSystemStarted()) return -1;
  LinkedList& list = GetSoundSystemState().SoundStreamList;
  if (list.head.next == nullptr) return 0;
  for (LinkedListNode* node = list.head.next; node != nullptr && node != &list.tail;) {
    LinkedListNode* next = node->next;
    RefillStreamSound(node->value);
    node = next;
  }
  return 0;
}

}  // namespace gamelib
