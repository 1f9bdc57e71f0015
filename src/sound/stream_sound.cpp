// Stream sounds: adding files, the ring and who owns it, start, stop, preparation,
// deletion and the loop point.
#include "sound/stream_sound.h"

#include <cstring>

#include "gamelib/core.h"
#include "sound/sound_buffers.h"
#include "sound/sound_handles.h"
#include "sound/sound_state.h"

namespace gamelib {
namespace {

void CloseStream(StreamAccessRecord* stream) {
  if (stream->handle != 0 && stream->functions.Close != nullptr) stream->functions.Close(stream->handle);
  stream->handle = 0;
}

// Undoes a file entry that was being added: its converter, memory stream and image go.
void DiscardEntry(SoundFileEntry* entry) {
  TerminateSoundConvert(&entry->converter);
  CloseStream(&entry->stream);
  if (entry->fileData != nullptr) FreeMemory(entry->fileData);
  std::memset(entry, 0, sizeof *entry);
}

// A memory stream over `data` as a stream record; false when it cannot be opened.
bool OpenMemoryRecord(const void* data, std::size_t bytes, StreamAccessRecord* stream) {
  stream->functions = *GetMemoryStreamFunctions();
  stream->handle = OpenMemoryStream(data, bytes);
  return stream->handle != 0;
}

// Data kinds 0 and 1: the whole file as PCM, wrapped into a WAVE image that the entry's
// converter reads. Everything made on the way is released on failure.
int AddWholePcmEntry(const StreamAccessRecord* source, SoundFileEntry* entry) {
  void* file = nullptr;
  int fileBytes = 0;
  if (ReadWholeStream(source, &file, &fileBytes) != 0)
    return OutputLogFormat("音声データの読み込みに失敗しました");

  StreamAccessRecord fileStream{};
  auto* scratch = static_cast<SoundConvertRecord*>(GAMELIB_ALLOC_ZEROED(sizeof(SoundConvertRecord)));
  if (scratch == nullptr || !OpenMemoryRecord(file, static_cast<std::size_t>(fileBytes), &fileStream) ||
      SetupSoundConvert(&fileStream, scratch) != 0) {
    CloseStream(&fileStream);
    if (scratch != nullptr) FreeMemory(scratch);
    FreeMemory(file);
    return OutputLogFormat("音声データのオープンに失敗しました");
  }
  WAVEFORMATEX format{};
  void* pcm = nullptr;
  int pcmBytes = 0;
  int converted = ConvertSoundWhole(scratch, &format, &pcm, &pcmBytes);
  TerminateSoundConvert(scratch);
  FreeMemory(scratch);
  CloseStream(&fileStream);
  FreeMemory(file);
  if (converted != 0) return OutputLogFormat("音声データの変換に失敗しました");

  void* image = nullptr;
  std::uint32_t imageBytes = 0;
  int built = BuildWaveFileImage(&image, &imageBytes, &format, kWaveFormatBytes, pcm,
                                 static_cast<std::uint32_t>(pcmBytes));
  FreeMemory(pcm);
  if (built != 0) return OutputLogFormat("音声データの変換に失敗しました");
  entry->fileData = image;
  entry->fileDataBytes = imageBytes;
  if (!OpenMemoryRecord(image, imageBytes, &entry->stream) ||
      SetupSoundConvert(&entry->stream, &entry->converter) != 0) {
    DiscardEntry(entry);
    return OutputLogFormat("音声データのオープンに失敗しました");
  }
  return 0;
}

// Data kind 2: the file image kept; its converter decodes from it while playing.
int AddFileImageEntry(const StreamAccessRecord* source, SoundFileEntry* entry) {
  void* file = nullptr;
  int fileBytes = 0;
  if (ReadWholeStream(source, &file, &fileBytes) != 0)
    return OutputLogFormat("音声データの読み込みに失敗しました");
  entry->fileData = file;
  entry->fileDataBytes = static_cast<std::uint32_t>(fileBytes);
  if (!OpenMemoryRecord(file, static_cast<std::size_t>(fileBytes), &entry->stream) ||
      SetupSoundConvert(&entry->stream, &entry->converter) != 0) {
    DiscardEntry(entry);
    return OutputLogFormat("音声データのオープンに失敗しました");
  }
  return 0;
}

// The record may become a stream sound: nothing has been put into it yet.
bool EmptyRecord(const SoundHandleRecord& record) {
  if (record.soundKind != kSoundKindMemory || record.bufferCount != 0 || record.data != nullptr) return false;
  for (const SoundBufferWrapper& wrapper : record.buffers) {
    if (wrapper.valid) return false;
  }
  return true;
}

// The ring to share: a stream sound with a ring of its own, in the same format, and
// not deleted already.
SoundHandleRecord* ShareableRing(int link, int handle, const WAVEFORMATEX& format) {
  if (link == -1 || link == handle) return nullptr;
  SoundHandleRecord* ring = GetSoundHandleRecord(link);
  if (ring == nullptr || ring->soundKind != kSoundKindStream || ring->linkedHandle != -1 ||
      ring->deletePending != 0 || !ring->buffers[0].valid) {
    return nullptr;
  }
  return std::memcmp(&ring->format, &format, kWaveFormatBytes) == 0 ? ring : nullptr;
}

// Frees what a stream sound's files own.
void ReleaseStreamFiles(SoundHandleRecord& record) {
  int files = record.fileCount < 0 ? 0 : record.fileCount;
  if (files > kStreamFilesPerHandle) files = kStreamFilesPerHandle;
  for (int i = 0; i < files; ++i) {
    SoundFileEntry& file = record.files[i];
    TerminateSoundConvert(&file.converter);
    if (file.fileData != nullptr) {
      FreeMemory(file.fileData);
      file.fileData = nullptr;
    }
    // Kind 3 reads the caller's stream, which the sound took over.
    if (record.fileOwnsStream[i] == 1 && file.dataKind == kStreamDataFromStream)
      CloseSoundConvertSource(&file.converter);
    CloseStream(&file.stream);
  }
}

void ResetStreamPosition(SoundHandleRecord* record) {
  record->finished = 0;
  record->filePosition = 0;
  record->playedBytes = 0;
  record->wrapPending = 0;
  record->loopsDone = 0;
  record->currentFile = 0;
  record->prepared = 0;
}

bool RingPlaying(const SoundBufferWrapper* ring) {
  DWORD status = 0;
  return GetSoundBufferWrapperStatus(ring, &status) == 0 && (status & DSBSTATUS_PLAYING) != 0;
}

// A sound that loses its ring to another must not later play that sound's data as its
// own: it is made to refill from where it was heard (what it had converted beyond that
// was overwritten).
void ResumeFromPlayedPosition(SoundHandleRecord* record) {
  record->prepared = 0;
  record->wrapPending = 0;
  if (record->fileCount <= 0) return;
  // The writer may have reached the end while the end was still to be heard.
  const bool ended = record->currentFile >= record->fileCount;
  if (ended) record->finished = 0;
  std::int64_t played = record->playedBytes;
  for (int i = 0; i < record->fileCount; ++i) {
    const SoundFileEntry& file = record->files[i];
    const std::int64_t length = GetSoundConvertPcmBytes(&file.converter);
    if (length <= 0) continue;
    if (file.loopCount == kStreamLoopEndless) {
      std::int64_t loopStart = std::int64_t{record->format.nBlockAlign} * file.loopPoint;
      if (played >= length && loopStart < length)
        played = loopStart + (played - loopStart) % (length - loopStart);
      if (played >= length) played = 0;
      record->currentFile = i;
      record->loopsDone = 0;
      record->filePosition = static_cast<std::int32_t>(played);
      return;
    }
    const std::int64_t plays = static_cast<std::int8_t>(file.loopCount) >= 0 ? file.loopCount + 1 : 1;
    if (played < length * plays) {
      record->currentFile = i;
      record->loopsDone = static_cast<std::int32_t>(played / length);
      record->filePosition = static_cast<std::int32_t>(played % length);
      return;
    }
    played -= length * plays;
  }
  // Heard to its very end: it starts again from the first file next time.
  ResetStreamPosition(record);
}

}  // namespace

// ---- Adding files ----------------------------------------------------------------------

int AddSreamSound(const StreamAccessRecord* stream, std::uint8_t loopCount, int handle, int dataKind,
                  int* callerMayClose, int link) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr || stream == nullptr || callerMayClose == nullptr) return -1;

  if (record->fileCount > 0) {
    if (record->soundKind != kSoundKindStream) {
      return OutputLog("ストリーム風サウンドではないサウンドデータが渡されました in AddSreamSound\n");
    }
    SoundBufferWrapper* ring = nullptr;
    if (ClaimStreamSoundBuffer(handle, record, &ring, 0) == 0 && RingPlaying(ring)) {
      return OutputLog("既に再生中のストリームサウンドデータにデータを追加しようとしました\n");
    }
    if (record->fileCount >= kStreamFilesPerHandle) {
      return OutputLog("ストリーム風サウンドの制御データ領域がいっぱいです\n");
    }
  } else if (!EmptyRecord(*record)) {
    // A memory sound (or anything else already built) cannot take stream files.
    return OutputLog("ストリーム風サウンドではないサウンドデータが渡されました in AddSreamSound\n");
  }
  if (dataKind < kStreamDataWholePcm || dataKind > kStreamDataFromStream) return -1;

  SoundFileEntry* entry = &record->files[record->fileCount];
  std::memset(entry, 0, sizeof *entry);
  entry->dataKind = dataKind;
  if (stream->functions.Seek != nullptr) stream->functions.Seek(stream->handle, 0, kStreamSeekSet);

  switch (dataKind) {
    case kStreamDataWholePcm:
    case kStreamDataUnsettled:  // kept in memory as PCM, like kind 0
      if (AddWholePcmEntry(stream, entry) != 0) return -1;
      *callerMayClose = 1;
      break;
    case kStreamDataFileImage:
      if (AddFileImageEntry(stream, entry) != 0) return -1;
      *callerMayClose = 1;
      break;
    default:
      if (SetupSoundConvert(stream, &entry->converter) != 0) {
        DiscardEntry(entry);
        return OutputLogFormat("音声データのオープンに失敗しました");
      }
      *callerMayClose = 0;
      break;
  }

  WAVEFORMATEX format{};
  GetSoundConvertFormat(&entry->converter, &format);
  if (record->fileCount == 0) {
    const std::uint64_t ringBytes = std::uint64_t{format.nAvgBytesPerSec} * kStreamRingSeconds;
    if (SoundHandleRecord* ring = ShareableRing(link, handle, format)) {
      record->soundKind = kSoundKindStream;
      record->bufferCount = 1;
      AddLinkedListNode(&GetSoundSystemState().SoundStreamList, &record->streamListNode, handle, record);
      record->linkedHandle = link;
      ++ring->shareCount;
    } else {
      // A ring that cannot be made fails the add like a format mismatch.
      if (CreateSoundBuffers(&format, static_cast<std::uint32_t>(ringBytes), kSoundKindStream, 1, handle) !=
          0) {
        DiscardEntry(entry);
        return -1;
      }
      record->linkedHandle = -1;
    }
    // A sharer needs the ring's size too: its position wraps with the ring.
    record->ringBytes = static_cast<std::uint32_t>(ringBytes);
    std::memcpy(&record->format, &format, kWaveFormatBytes);
    record->shareCount = 0;
    record->bufferOwner = -1;
    record->deletePending = 0;
    record->writeCursor = kStreamUnfilledWriteCursor;
    record->validZoneStart = -1;
  } else if (std::memcmp(&format, &record->format, kWaveFormatBytes) != 0) {
    DiscardEntry(entry);
    return OutputLogFormat("フォーマットの違う音声データは同時に使うことは出来ません");
  }

  entry->loopCount = loopCount;
  ++record->fileCount;
  std::int64_t samples = 0;
  if (record->format.nBlockAlign != 0) {
    for (int i = 0; i < record->fileCount; ++i)
      samples += GetSoundConvertPcmBytes(&record->files[i].converter) / record->format.nBlockAlign;
  }
  record->totalSamples = static_cast<std::int32_t>(samples > INT32_MAX ? INT32_MAX : samples);
  return 0;
}

int AddStreamSoundFile(const char* fileName, std::uint8_t loopCount, int handle, int dataKind, int link) {
  if (GetSoundHandleRecord(handle) == nullptr || fileName == nullptr) return -1;
  StreamHandle file = StreamOpen(fileName, 0, 1, 0);
  if (file == 0) return OutputLogFormat("右記のＷＡＶファイルのロードに失敗しました：%s \n", fileName);
  StreamAccessRecord stream{};
  stream.functions = *GetFileStreamFunctions();
  stream.handle = file;
  int callerMayClose = 1;
  if (AddSreamSound(&stream, loopCount, handle, dataKind, &callerMayClose, link) == -1) {
    StreamClose(file);
    return OutputLogFormat("右記のＷＡＶファイルのセットアップに失敗しました：%s \n", fileName);
  }
  if (callerMayClose == 1) StreamClose(file);
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  record->fileOwnsStream[record->fileCount - 1] = 1;
  return 0;
}

int AddStreamSoundMemory(const void* image, int imageBytes, std::uint8_t loopCount, int handle, int dataKind,
                         int link) {
  if (GetSoundHandleRecord(handle) == nullptr) return -1;
  if (dataKind == kStreamDataFromStream) dataKind = kStreamDataFileImage;
  StreamAccessRecord stream{};
  if (imageBytes < 0 ||
      !OpenMemoryRecord(image, image == nullptr ? 0 : static_cast<std::size_t>(imageBytes), &stream)) {
    return OutputLog("ＷＡＶファイルのストリームイメージハンドルの作成に失敗しました \n");
  }
  int callerMayClose = 1;
  if (AddSreamSound(&stream, loopCount, handle, dataKind, &callerMayClose, link) == -1) {
    CloseMemoryStream(stream.handle);
    return OutputLog("ＷＡＶファイルのストリームイメージのセットアップに失敗しました \n");
  }
  if (callerMayClose == 1) CloseMemoryStream(stream.handle);
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  record->fileOwnsStream[record->fileCount - 1] = 1;
  return 0;
}

// ---- The ring and its owner ------------------------------------------------------------

int ClaimStreamSoundBuffer(int handle, SoundHandleRecord* record, SoundBufferWrapper** ring,
                           std::uint8_t take) {
  if (record == nullptr || ring == nullptr) return -1;
  *ring = &record->buffers[0];
  if (record->soundKind != kSoundKindStream) return 0;
  SoundHandleRecord* owner = record;
  if (record->linkedHandle != -1) {
    owner = GetSoundHandleRecord(record->linkedHandle);
    if (owner == nullptr) return -1;
    *ring = &owner->buffers[0];
  }
  const int current = owner->bufferOwner;
  // An owner that has been deleted since holds nothing.
  if (current == -1 || current == handle || GetSoundHandleRecord(current) == nullptr) {
    owner->bufferOwner = handle;
    return 0;
  }
  if (take == 0) return -1;
  StopStreamSound(current);
  if (SoundHandleRecord* former = GetSoundHandleRecord(current)) ResumeFromPlayedPosition(former);
  owner->bufferOwner = handle;
  return 0;
}

int CheckStreamSoundPlaying(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  SoundBufferWrapper* ring = nullptr;
  if (ClaimStreamSoundBuffer(handle, record, &ring, 0) != 0) return 0;
  return RingPlaying(ring) ? 1 : 0;
}

int StopStreamSound(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  if (record->soundKind != kSoundKindStream) return 0;
  UpdateStreamSoundPosition(handle, -1);
  SoundBufferWrapper* ring = nullptr;
  if (ClaimStreamSoundBuffer(handle, record, &ring, 0) != 0) return 0;
  if (SoundHandleRecord* shared = GetSoundHandleRecord(record->linkedHandle)) shared->bufferOwner = -1;
  if (!ring->valid) return 0;
  DWORD status = 0;
  if (GetSoundBufferWrapperStatus(ring, &status) != 0) return -1;
  if ((status & DSBSTATUS_PLAYING) != 0) StopSoundBufferWrapper(ring);
  return 0;
}

int PrepareStreamSound(int handle) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr) return -1;
  if (record->soundKind != kSoundKindStream || record->fileCount <= 0) return 0;
  if (CheckStreamSoundPlaying(handle) == 1) return 0;
  SoundBufferWrapper* ring = nullptr;
  if (ClaimStreamSoundBuffer(handle, record, &ring, 0) != 0 || record->prepared) return 0;
  // Never past the last file: a sound that ended starts again from the first.
  if (record->currentFile < 0 || record->currentFile >= record->fileCount) ResetStreamPosition(record);

  SetSoundBufferWrapperPosition(ring, 0);
  record->writeCursor = kStreamUnfilledWriteCursor;
  record->validZoneStart = -1;
  record->lastPlayCursor = 0;
  record->dataEnded = 0;
  record->dataFault = 0;
  record->wrapPending = 0;
  record->endBytesLeft = 0;
  const int blockAlign = record->format.nBlockAlign == 0 ? 1 : record->format.nBlockAlign;
  SeekSoundConvert(&record->files[record->currentFile].converter, record->filePosition / blockAlign);
  record->prepared = 1;
  RefillStreamSound(handle);
  return 0;
}

int PlayStreamSound(int handle, int playType, int fromTop) {
  SoundHandleRecord* record = GetSoundHandleRecord(handle);
  if (record == nullptr || record->soundKind != kSoundKindStream || record->fileCount <= 0) return -1;
  SoundBufferWrapper* ring = nullptr;
  if (ClaimStreamSoundBuffer(handle, record, &ring, 1) != 0) return -1;
  // A sound that plays goes on; but one whose position was set meanwhile is not being
  // refilled, and starts again at that position.
  if (fromTop == 0 && CheckStreamSoundPlaying(handle) == 1 && record->prepared) return 0;
  StopStreamSound(handle);

  // Bit 1 tells looping types from one-shot ones.
  if (((playType ^ record->playType) & 2) != 0 && record->finished == 1) ResetStreamPosition(record);
  if (fromTop == 1) {
    record->finished = 0;
    if (record->playedBytes != 0) ResetStreamPosition(record);
  }
  // A one-shot sound that played to its end starts again from the first file.
  if (record->currentFile >= record->fileCount) ResetStreamPosition(record);
  // Data that stopped at a failure is read again from where it was heard to; a ring whose
  // first fill was lost is filled again.
  if (record->dataFault) ResumeFromPlayedPosition(record);
  if (record->writeCursor == kStreamUnfilledWriteCursor) record->prepared = 0;

  record->playType = playType;
  PrepareStreamSound(handle);
  // Nothing of it can be read: the play fails rather than play nothing.
  if (record->dataFault &&
      (record->writeCursor == kStreamUnfilledWriteCursor || (record->dataEnded && record->endBytesLeft <= 0)))
    return -1;
  if (PlaySoundBufferWrapper(ring, 1) != 0) return -1;

  if (playType == 0) {
    for (;;) {
      if (PumpWindowMessages() == -1) return 0;
      if (CheckStreamSoundPlaying(handle) != 1) break;
      Sleep(1);
    }
  }
  return 0;
}

// ---- Deletion and the loop point --------------------------------------------------------

int DeleteStreamSound(int handle, SoundHandleRecord* record) {
  // Stopped only where it owns the ring: a sharer may be playing on it.
  StopStreamSound(handle);

  if (SoundHandleRecord* ring = GetSoundHandleRecord(record->linkedHandle)) {
    --ring->shareCount;
    // The ring's owner was deleted while this one shared it: it goes now.
    if (record->linkedHandle != handle && ring->deletePending == 1)
      DeleteStreamSound(record->linkedHandle, ring);
  }
  // Others still play on this ring: the record stays until the last of them goes.
  if (record->shareCount != 0) {
    record->deletePending = 1;
    return 0;
  }
  RemoveLinkedListNode(&record->streamListNode);
  ReleaseStreamFiles(*record);
  ReleaseSoundBuffers(record);
  FreeSoundHandleRecord(handle, record);
  return 0;
}

int SetStreamSoundLoopPoint(SoundHandleRecord* record, int sample) {
  if (record->fileCount >= 2) {
    return OutputLog(
        "二つ以上の音声ファイルから作成されたサウンドハンドルにループポイントを指定する事は出来ません\n");
  }
  if (record->fileCount != 1) return -1;
  SoundFileEntry& file = record->files[0];
  file.loopPoint = sample;
  SetSoundConvertLoopPoint(&file.converter, sample);
  file.loopCount = kStreamLoopEndless;
  return 0;
}

}  // namespace gamelib
