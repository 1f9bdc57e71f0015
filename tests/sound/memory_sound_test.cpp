// Memory sounds end to end: real files loaded through the library's file access into
// sound buffers, played through the offline device and compared with their reference
// decodes; the play types, the round robin over duplicates, and the failures.
#include <fstream>

#include "convert_test_support.h"
#include "gamelib/sound_load.h"
#include "sound/memory_sound.h"
#include "sound_fixture.h"

using namespace convert_test;
using soundtest::SoundTest;

namespace {

class MemorySound : public SoundTest {
 protected:
  static std::string PathOf(const char* name) { return (SoundDataDir() / name).string(); }

  static DWORD PlayCursor(int handle, int buffer) {
    return soundtest::Inspect(Record(handle)->buffers[buffer].buffer).playCursor;
  }
  static bool Playing(int handle, int buffer) {
    return soundtest::Inspect(Record(handle)->buffers[buffer].buffer).playing;
  }
  static bool Looping(int handle, int buffer) {
    return soundtest::Inspect(Record(handle)->buffers[buffer].buffer).looping;
  }
  void Drain() {
    std::vector<std::int16_t> ignored;
    sim::ReadMixedOutput(ignored);
  }
  void WriteFile(const char* name, const Bytes& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
};

TEST_F(MemorySound, EveryTestFileLoadsToItsReferencePcm) {
  for (const SoundFile& f : SoundFiles()) {
    SCOPED_TRACE(f.name);
    int handle = gamelib::LoadSoundFile(f.path.c_str(), 2, -1);
    ASSERT_NE(handle, -1);
    gamelib::SoundHandleRecord* r = Record(handle);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->soundKind, gamelib::SOUND_KIND_MEMORY);
    EXPECT_EQ(r->bufferCount, 2);
    const WAVEFORMATEX fmt = r->format;
    EXPECT_EQ(fmt.nChannels, f.channels);
    EXPECT_EQ(fmt.wBitsPerSample, f.bits);
    EXPECT_EQ(fmt.nSamplesPerSec, static_cast<DWORD>(f.rate));
    ASSERT_EQ(r->dataBytes, f.reference.size());
    const auto* data = static_cast<const std::uint8_t*>(r->data);
    EXPECT_TRUE(std::equal(f.reference.begin(), f.reference.end(), data));
    EXPECT_EQ(gamelib::GetSoundTotalSampleCount(handle), static_cast<int>(f.reference.size()) / fmt.nBlockAlign);
    // The buffers hold the PCM too (duplicates share it).
    EXPECT_EQ(sim::SoundBufferContents(r->buffers[1].buffer), f.reference);
    EXPECT_EQ(gamelib::DeleteSoundHandle(handle), 0);
  }
  EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
}

TEST_F(MemorySound, CompressedTestFilesLoadToTheirReferencePcm) {
  // The compression manager's files take the same road: file, converter, buffers.
  int seen = 0;
  for (const auto& entry : std::filesystem::directory_iterator(SoundDataDir() / "acm")) {
    std::string ext = entry.path().extension().string();
    if (ext == ".pcm") continue;
    std::filesystem::path pcm = entry.path();
    pcm.replace_extension(".pcm");
    if (!std::filesystem::exists(pcm)) continue;
    SCOPED_TRACE(entry.path().filename().string());
    Bytes reference = ReadFileBytes(pcm);
    int handle = gamelib::LoadSoundFile(entry.path().c_str(), 1, -1);
    ASSERT_NE(handle, -1);
    gamelib::SoundHandleRecord* r = Record(handle);
    ASSERT_EQ(r->dataBytes, reference.size());
    EXPECT_EQ(std::memcmp(r->data, reference.data(), reference.size()), 0);
    EXPECT_EQ(sim::SoundBufferContents(r->buffers[0].buffer), reference);
    EXPECT_EQ(gamelib::DeleteSoundHandle(handle), 0);
    ++seen;
  }
  EXPECT_GT(seen, 5);
}

TEST_F(MemorySound, MixedOutputIsThePcmWhereTheFormatIsTheOutputs) {
  // 44100 Hz 16-bit stereo passes the mixer unchanged at full volume.
  for (const char* name : {"pcm_s16_44100.wav", "ogg_s16_44100.ogg", "ogg_s16_44100_chained.ogg"}) {
    SCOPED_TRACE(name);
    Bytes reference = ReadFileBytes(SoundDataDir() / (std::filesystem::path(name).stem().string() + ".pcm"));
    int handle = gamelib::LoadSoundFile(PathOf(name).c_str(), 1, -1);
    ASSERT_NE(handle, -1);
    Drain();
    ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
    const std::size_t frames = reference.size() / 4;
    sim::AdvanceTime(static_cast<unsigned>(frames * 1000 / 44100 + 50));
    std::vector<std::int16_t> mixed;
    std::size_t got = sim::ReadMixedOutput(mixed);
    ASSERT_GE(got, frames);
    std::vector<std::int16_t> want(frames * 2);
    std::memcpy(want.data(), reference.data(), frames * 4);
    std::vector<std::int16_t> head(mixed.begin(), mixed.begin() + static_cast<std::ptrdiff_t>(frames * 2));
    EXPECT_EQ(head, want);
    // Then silence: the one-shot buffer has stopped.
    for (std::size_t i = frames * 2; i < mixed.size(); ++i) ASSERT_EQ(mixed[i], 0) << "sample " << i;
    EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 0);
    EXPECT_EQ(gamelib::DeleteSoundHandle(handle), 0);
  }
}

TEST_F(MemorySound, WaitingPlayReturnsWhenTheSoundHasEnded) {
  int handle = gamelib::LoadSoundFile(PathOf("pcm_m16_48000.wav").c_str(), 1, -1);  // 0.2 s
  ASSERT_NE(handle, -1);
  std::uint64_t before = sim::VirtualTimeMicros();
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_WAIT, 1), 0);
  std::uint64_t waited = sim::VirtualTimeMicros() - before;
  EXPECT_GE(waited, 200000u);
  EXPECT_LT(waited, 260000u);
  EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 0);
}

TEST_F(MemorySound, BackgroundPlayTypesReturnAtOnce) {
  int handle = gamelib::LoadSoundFile(PathOf("pcm_m16_48000.wav").c_str(), 1, -1);
  ASSERT_NE(handle, -1);
  for (int type : {1, 2, 7, -1}) {
    SCOPED_TRACE(type);
    std::uint64_t before = sim::VirtualTimeMicros();
    ASSERT_EQ(gamelib::PlaySoundHandle(handle, type, 1), 0);
    EXPECT_EQ(sim::VirtualTimeMicros(), before);
    EXPECT_TRUE(Playing(handle, 0));
    EXPECT_FALSE(Looping(handle, 0));
    sim::AdvanceTime(300);  // past its 0.2 s: a one-shot has ended
    EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 0);
  }
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_LOOP, 1), 0);
  EXPECT_TRUE(Looping(handle, 0));
  sim::AdvanceTime(1000);
  EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 1);
  EXPECT_EQ(gamelib::StopSoundHandle(handle), 0);
  EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 0);
}

TEST_F(MemorySound, PlaysGoRoundTheDuplicates) {
  int handle = gamelib::LoadSoundFile(PathOf("pcm_s16_44100.wav").c_str(), 3, -1);  // 0.25 s
  ASSERT_NE(handle, -1);
  ASSERT_EQ(Record(handle)->bufferCount, 3);
  // Three quick plays: three overlapping copies, on buffers 1, 2 and 0 in turn.
  for (int expect : {1, 2, 0}) {
    ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
    EXPECT_EQ(Record(handle)->nextBuffer, expect);
    EXPECT_TRUE(Playing(handle, expect));
    sim::AdvanceTime(20);
  }
  EXPECT_TRUE(Playing(handle, 0) && Playing(handle, 1) && Playing(handle, 2));
  EXPECT_GT(PlayCursor(handle, 1), PlayCursor(handle, 2));
  // The fourth restarts the copy that started first.
  DWORD before = PlayCursor(handle, 1);
  ASSERT_GT(before, 0u);
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
  EXPECT_EQ(Record(handle)->nextBuffer, 1);
  EXPECT_EQ(PlayCursor(handle, 1), 0u);
  EXPECT_TRUE(Playing(handle, 1));
  EXPECT_EQ(gamelib::StopSoundHandle(handle), 0);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Playing(handle, i));
}

TEST_F(MemorySound, OneBufferFromTopAndResume) {
  int handle = gamelib::LoadSoundFile(PathOf("pcm_s16_44100.wav").c_str(), 1, -1);
  ASSERT_NE(handle, -1);
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
  sim::AdvanceTime(100);
  DWORD at = PlayCursor(handle, 0);
  ASSERT_GT(at, 0u);
  // Playing, from top 0: nothing changes.
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 0), 0);
  EXPECT_EQ(PlayCursor(handle, 0), at);
  EXPECT_TRUE(Playing(handle, 0));
  // Stop, then from top 0: resumes where it stopped.
  ASSERT_EQ(gamelib::StopSoundHandle(handle), 0);
  EXPECT_FALSE(Playing(handle, 0));
  EXPECT_EQ(PlayCursor(handle, 0), at);
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 0), 0);
  EXPECT_TRUE(Playing(handle, 0));
  EXPECT_EQ(PlayCursor(handle, 0), at);
  sim::AdvanceTime(50);
  // Playing, from top 1: restarts at the beginning.
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
  EXPECT_EQ(PlayCursor(handle, 0), 0u);
  EXPECT_TRUE(Playing(handle, 0));
}

TEST_F(MemorySound, BufferCountsAreClamped) {
  int ten = gamelib::LoadSoundFile(PathOf("pcm_m8_22050.wav").c_str(), 15, -1);
  ASSERT_NE(ten, -1);
  EXPECT_EQ(Record(ten)->bufferCount, 10);
  for (int i = 0; i < 25; ++i) ASSERT_EQ(gamelib::PlaySoundHandle(ten, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
  EXPECT_GE(Record(ten)->nextBuffer, 0);
  EXPECT_LT(Record(ten)->nextBuffer, 10);

  // No buffer: every play is refused, however often (the index never runs off).
  for (int count : {0, -3}) {
    int none = gamelib::LoadSoundFile(PathOf("pcm_m8_22050.wav").c_str(), count, -1);
    ASSERT_NE(none, -1);
    EXPECT_EQ(Record(none)->bufferCount, 0);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(gamelib::PlaySoundHandle(none, gamelib::SOUND_PLAY_BACKGROUND, 1), -1);
    EXPECT_EQ(Record(none)->nextBuffer, 0);
    EXPECT_EQ(gamelib::StopSoundHandle(none), 0);
    EXPECT_EQ(gamelib::GetSoundTotalSampleCount(none), 4411);
  }
  // CreateMemorySound itself refuses more than 10.
  Bytes image = ReadFileBytes(SoundDataDir() / "pcm_m8_22050.wav");
  EXPECT_EQ(gamelib::CreateMemorySound(image.data(), static_cast<int>(image.size()), 11), -1);
}

TEST_F(MemorySound, MissingFileLogsItsNameTwice) {
  TakeLog();
  EXPECT_EQ(gamelib::LoadSoundFile("no_such_sound.wav", 1, -1), -1);
  std::string log = TakeLog();
  EXPECT_NE(log.find("右記のファイルのオープンに失敗しました：no_such_sound.wav\n"
                     "右記の音声ファイルのロードに失敗しました_1：no_such_sound.wav\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(gamelib::GetSoundTable().count, 0);
}

TEST_F(MemorySound, UnreadableFilesLogTheConversionAndLeaveNoHandle) {
  struct Case {
    const char* name;
    Bytes bytes;
    const char* message;
  };
  std::vector<Case> cases = {
      {"junk.wav", Pattern(3000), "音声ファイルのＰＣＭへの変換に失敗しました\n"},
      {"24bit.wav", SimpleWave(Pattern(600), {1, 2, 22050, 132300, 6, 24}),
       "音声ファイルのＰＣＭへの変換に失敗しました\n"},
      // Sets up, but there is no PCM to keep.
      {"nodata.wav", Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}), Chunk("LIST", Bytes(4, 0))}),
       "音声ファイルを格納するメモリ領域の確保に失敗しました\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(c.name, c.bytes);
    TakeLog();
    EXPECT_EQ(gamelib::LoadSoundFile(c.name, 1, -1), -1);
    std::string log = TakeLog();
    EXPECT_NE(log.find(std::string(c.message) + "右記の音声ファイルのロードに失敗しました_2：" + c.name + "\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(gamelib::GetSoundTable().count, 0);
  }
  // An empty file is refused before anything is allocated.
  WriteFile("empty.wav", {});
  TakeLog();
  EXPECT_EQ(gamelib::LoadSoundFile("empty.wav", 1, -1), -1);
  EXPECT_NE(TakeLog().find("右記の音声ファイルのロードに失敗しました_1：empty.wav\n"), std::string::npos);
}

TEST_F(MemorySound, TransferFailuresAreLoggedAndLeaveNoHandle) {
  TakeLog();
  sim::FailCall("Lock", 1);
  EXPECT_EQ(gamelib::LoadSoundFile(PathOf("pcm_m8_22050.wav").c_str(), 2, -1), -1);
  std::string log = TakeLog();
  EXPECT_NE(log.find("サウンドデータの転送に失敗しました_1右記の音声ファイルのロードに失敗しました_2："),
            std::string::npos)
      << log;
  EXPECT_EQ(gamelib::GetSoundTable().count, 0);

  sim::FailCall("Unlock", 2);  // the duplicate's unlock
  EXPECT_EQ(gamelib::LoadSoundFile(PathOf("pcm_m8_22050.wav").c_str(), 2, -1), -1);
  log = TakeLog();
  EXPECT_NE(log.find("サウンドデータの転送に失敗しました_2右記の音声ファイルのロードに失敗しました_2："),
            std::string::npos)
      << log;
  EXPECT_EQ(gamelib::GetSoundTable().count, 0);
}

TEST_F(MemorySound, MemoryFailuresWhileLoading) {
  // The file image: one of the first few allocations of the load (after the file
  // stream's own records).
  bool imageRefused = false;
  for (int nth = 1; nth <= 6 && !imageRefused; ++nth) {
    TakeLog();
    sim::FailCall("AllocMemory", nth);
    EXPECT_EQ(gamelib::LoadSoundFile(PathOf("pcm_m8_22050.wav").c_str(), 1, -1), -1);
    sim::ClearFailures();
    std::string log = TakeLog();
    imageRefused = log.find("右記のファイルのロードに必要なメモリの確保に失敗しました：") != std::string::npos;
    if (imageRefused) EXPECT_NE(log.find("右記の音声ファイルのロードに失敗しました_1："), std::string::npos) << log;
  }
  EXPECT_TRUE(imageRefused);
  // Every later allocation of a load in turn: the load fails cleanly or succeeds.
  for (int nth = 1; nth < 12; ++nth) {
    sim::ClearFailures();
    sim::FailCall("AllocMemory", nth);
    int handle = gamelib::LoadSoundFile(PathOf("ogg_m16_22050.ogg").c_str(), 1, -1);
    sim::ClearFailures();
    if (handle != -1) {
      EXPECT_EQ(gamelib::DeleteSoundHandle(handle), 0);
    }
    EXPECT_EQ(gamelib::GetSoundTable().count, 0) << nth;
    EXPECT_EQ(gamelib::LiveOggDecoders(), 0) << nth;
  }
}

TEST_F(MemorySound, StreamCreateTypesMakeStreamSounds) {
  ASSERT_EQ(gamelib::SetCreateSoundDataType(3), 0);
  int stream = gamelib::LoadSoundFile(PathOf("ogg_s16_44100.ogg").c_str(), 3, -1);
  ASSERT_NE(stream, -1);
  EXPECT_EQ(gamelib::GetSoundHandleRecord(stream)->soundKind, gamelib::SOUND_KIND_STREAM);
  ASSERT_EQ(gamelib::SetCreateSoundDataType(0), 0);
  EXPECT_NE(gamelib::LoadSoundFile(PathOf("ogg_s16_44100.ogg").c_str(), 3, -1), -1);
}

TEST_F(MemorySound, InvalidHandlesAreRefused) {
  int handle = gamelib::LoadSoundFile(PathOf("pcm_m8_22050.wav").c_str(), 1, -1);
  ASSERT_NE(handle, -1);
  ASSERT_EQ(gamelib::DeleteSoundHandle(handle), 0);
  for (int bad : {handle, -1, 0, 0x10000000 | 4095, 0x08000000}) {
    EXPECT_EQ(gamelib::PlaySoundHandle(bad, gamelib::SOUND_PLAY_WAIT, 1), -1);
    EXPECT_EQ(gamelib::StopSoundHandle(bad), -1);
  }
  EXPECT_EQ(gamelib::LoadSoundFile(nullptr, 1, -1), -1);
  EXPECT_EQ(gamelib::CreateMemorySound(nullptr, 100, 1), -1);
}

TEST_F(MemorySound, LoadsReadThroughTheLibrarysStreams) {
  // ReadWholeStream: the same bytes as the file, through a memory stream, which stays open.
  Bytes file = ReadFileBytes(SoundDataDir() / "pcm_s8_48000.wav");
  gamelib::StreamAccessRecord s{};
  s.functions = *gamelib::GetMemoryStreamFunctions();
  s.handle = gamelib::OpenMemoryStream(file.data(), file.size());
  s.functions.Seek(s.handle, 100, gamelib::STREAM_SEEK_SET);
  void* data = nullptr;
  int bytes = 0;
  ASSERT_EQ(gamelib::ReadWholeStream(&s, &data, &bytes), 0);
  ASSERT_EQ(bytes, static_cast<int>(file.size()));
  EXPECT_EQ(std::memcmp(data, file.data(), file.size()), 0);
  gamelib::FreeMemory(data);
  EXPECT_EQ(gamelib::CloseMemoryStream(s.handle), 0);

  void* whole = nullptr;
  ASSERT_EQ(gamelib::LoadFileToMemory(PathOf("pcm_s8_48000.wav").c_str(), &whole, &bytes), 0);
  EXPECT_EQ(bytes, static_cast<int>(file.size()));
  EXPECT_EQ(std::memcmp(whole, file.data(), file.size()), 0);
  gamelib::FreeMemory(whole);
}

class MemorySoundWithoutDevice : public SoundTest {
 protected:
  bool StartWithSound() const override { return false; }
};

TEST_F(MemorySoundWithoutDevice, EverythingIsRefused) {
  Bytes image = ReadFileBytes(SoundDataDir() / "pcm_m8_22050.wav");
  EXPECT_EQ(gamelib::LoadSoundFile((SoundDataDir() / "pcm_m8_22050.wav").c_str(), 1, -1), -1);
  EXPECT_EQ(gamelib::CreateMemorySound(image.data(), static_cast<int>(image.size()), 1), -1);
  EXPECT_EQ(gamelib::PlaySoundHandle(0x10000000, 1, 1), -1);
  EXPECT_EQ(gamelib::StopSoundHandle(0x10000000), -1);
}

}  // namespace
