// Memory sounds end to end: real files loaded through the library's file access into
// sound buffers, played through the offline device and compared with their reference
// decodes; the play types, the round robin over duplicates, and the failures.
#include "gamelib/sound_load.h"
#include "sound/memory_sound.h"
#include "sound_test_support.h"

using namespace soundtest;

namespace {

class MemorySound : public SoundTest {
 protected:
  static sim::SoundBufferInfo Buffer(int handle, int i) { return Inspect(Record(handle)->buffers[i].buffer); }
  static int Load(const char* name, int buffers) {
    return gamelib::LoadSoundFile(DataPath(name).c_str(), buffers, -1);
  }
};

TEST_F(MemorySound, EveryTestFileLoadsToItsReferencePcm) {
  // The compression manager's files take the same road: file, converter, buffers.
  for (const SoundFile& f : SoundFiles()) {
    SCOPED_TRACE(f.name);
    int handle = gamelib::LoadSoundFile(f.path.c_str(), 2, -1);
    ASSERT_NE(handle, -1);
    gamelib::SoundHandleRecord* r = Record(handle);
    EXPECT_EQ(r->soundKind, gamelib::SOUND_KIND_MEMORY);
    EXPECT_EQ(r->bufferCount, 2);
    EXPECT_EQ(r->format.nChannels, f.channels);
    EXPECT_EQ(r->format.wBitsPerSample, f.bits);
    EXPECT_EQ(r->format.nSamplesPerSec, static_cast<DWORD>(f.rate));
    ASSERT_EQ(r->dataBytes, f.reference.size());
    EXPECT_TRUE(
        std::equal(f.reference.begin(), f.reference.end(), static_cast<const std::uint8_t*>(r->data)));
    EXPECT_EQ(gamelib::GetSoundTotalSampleCount(handle),
              static_cast<int>(f.reference.size()) / r->format.nBlockAlign);
    // The buffers hold the PCM too (duplicates share it); the converter is gone.
    EXPECT_EQ(sim::SoundBufferContents(r->buffers[1].buffer), f.reference);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
    EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
    EXPECT_EQ(gamelib::DeleteSoundHandle(handle), 0);
  }
}

TEST_F(MemorySound, MixedOutputIsThePcmWhereTheFormatIsTheOutputs) {
  // 44100 Hz 16-bit stereo passes the mixer unchanged at full volume, then silence.
  for (const char* name : {"pcm_s16_44100.wav", "ogg_s16_44100.ogg", "ogg_s16_44100_chained.ogg"}) {
    SCOPED_TRACE(name);
    const Bytes reference = Reference(name);
    int handle = Load(name, 1);
    ASSERT_NE(handle, -1);
    MixedBytes();
    ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
    sim::AdvanceTime(static_cast<unsigned>(reference.size() / 4 * 1000 / 44100 + 50));
    EXPECT_TRUE(HeardThenSilence(MixedBytes(), reference));
    EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 0);
    EXPECT_EQ(gamelib::DeleteSoundHandle(handle), 0);
  }
}

TEST_F(MemorySound, PlayTypesWaitOrReturnAtOnceAndLoop) {
  int handle = Load("pcm_m16_48000.wav", 1);  // 0.2 s
  ASSERT_NE(handle, -1);
  std::uint64_t before = sim::VirtualTimeMicros();
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_WAIT, 1), 0);
  EXPECT_GE(sim::VirtualTimeMicros() - before, 200000u);
  EXPECT_LT(sim::VirtualTimeMicros() - before, 260000u);
  EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 0);
  for (int type : {1, 2, 7, -1}) {
    before = sim::VirtualTimeMicros();
    ASSERT_EQ(gamelib::PlaySoundHandle(handle, type, 1), 0);
    EXPECT_EQ(sim::VirtualTimeMicros(), before) << type;
    EXPECT_TRUE(Buffer(handle, 0).playing);
    EXPECT_FALSE(Buffer(handle, 0).looping);
    sim::AdvanceTime(300);  // past its 0.2 s: a one-shot has ended
    EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 0) << type;
  }
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_LOOP, 1), 0);
  EXPECT_TRUE(Buffer(handle, 0).looping);
  sim::AdvanceTime(1000);
  EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 1);
  EXPECT_EQ(gamelib::StopSoundHandle(handle), 0);
  EXPECT_EQ(gamelib::CheckSoundHandlePlaying(handle), 0);
}

TEST_F(MemorySound, PlaysGoRoundTheDuplicates) {
  int handle = Load("pcm_s16_44100.wav", 3);  // 0.25 s
  ASSERT_NE(handle, -1);
  // Three quick plays: three overlapping copies, on buffers 1, 2 and 0 in turn.
  for (int expect : {1, 2, 0}) {
    ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
    EXPECT_EQ(Record(handle)->nextBuffer, expect);
    EXPECT_TRUE(Buffer(handle, expect).playing);
    sim::AdvanceTime(20);
  }
  EXPECT_TRUE(Buffer(handle, 0).playing && Buffer(handle, 1).playing && Buffer(handle, 2).playing);
  EXPECT_GT(Buffer(handle, 1).playCursor, Buffer(handle, 2).playCursor);
  // The fourth restarts the copy that started first.
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
  EXPECT_EQ(Record(handle)->nextBuffer, 1);
  EXPECT_EQ(Buffer(handle, 1).playCursor, 0u);
  EXPECT_TRUE(Buffer(handle, 1).playing);
  EXPECT_EQ(gamelib::StopSoundHandle(handle), 0);
  for (int i = 0; i < 3; ++i) EXPECT_FALSE(Buffer(handle, i).playing);
}

TEST_F(MemorySound, OneBufferFromTopAndResume) {
  int handle = Load("pcm_s16_44100.wav", 1);
  ASSERT_NE(handle, -1);
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
  sim::AdvanceTime(100);
  const DWORD at = Buffer(handle, 0).playCursor;
  ASSERT_GT(at, 0u);
  // Playing, from top 0: nothing changes.
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 0), 0);
  EXPECT_EQ(Buffer(handle, 0).playCursor, at);
  // Stop, then from top 0: resumes where it stopped.
  ASSERT_EQ(gamelib::StopSoundHandle(handle), 0);
  EXPECT_FALSE(Buffer(handle, 0).playing);
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 0), 0);
  EXPECT_TRUE(Buffer(handle, 0).playing);
  EXPECT_EQ(Buffer(handle, 0).playCursor, at);
  sim::AdvanceTime(50);
  // Playing, from top 1: restarts at the beginning.
  ASSERT_EQ(gamelib::PlaySoundHandle(handle, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
  EXPECT_EQ(Buffer(handle, 0).playCursor, 0u);
  EXPECT_TRUE(Buffer(handle, 0).playing);
}

TEST_F(MemorySound, BufferCountsAreClamped) {
  int ten = Load("pcm_m8_22050.wav", 15);
  ASSERT_NE(ten, -1);
  EXPECT_EQ(Record(ten)->bufferCount, 10);
  for (int i = 0; i < 25; ++i) ASSERT_EQ(gamelib::PlaySoundHandle(ten, gamelib::SOUND_PLAY_BACKGROUND, 1), 0);
  EXPECT_GE(Record(ten)->nextBuffer, 0);
  EXPECT_LT(Record(ten)->nextBuffer, 10);
  // No buffer: every play is refused, however often (the index never runs off), and
  // there is no position to read or set.
  for (int count : {0, -3}) {
    int none = Load("pcm_m8_22050.wav", count);
    ASSERT_NE(none, -1);
    EXPECT_EQ(Record(none)->bufferCount, 0);
    for (int i = 0; i < 20; ++i)
      EXPECT_EQ(gamelib::PlaySoundHandle(none, gamelib::SOUND_PLAY_BACKGROUND, 1), -1);
    EXPECT_EQ(Record(none)->nextBuffer, 0);
    EXPECT_EQ(gamelib::StopSoundHandle(none), 0);
    EXPECT_EQ(gamelib::CheckSoundHandlePlaying(none), 0);
    EXPECT_EQ(gamelib::GetSoundPlayPosition(none), -1);
    EXPECT_EQ(gamelib::SetSoundPlayPosition(0, none), -1);
    EXPECT_EQ(gamelib::SetSoundHandleVolume(10, none), 0);
    EXPECT_EQ(gamelib::GetSoundTotalSampleCount(none), 4411);
  }
  // CreateMemorySound itself refuses more than 10, and no image.
  const Bytes image = ReadFileBytes(DataDir() / "pcm_m8_22050.wav");
  EXPECT_EQ(gamelib::CreateMemorySound(image.data(), static_cast<int>(image.size()), 11), -1);
  EXPECT_EQ(gamelib::CreateMemorySound(nullptr, 100, 1), -1);
  EXPECT_EQ(gamelib::LoadSoundFile(nullptr, 1, -1), -1);
}

TEST_F(MemorySound, FailedLoadsAreLoggedAndLeaveNoHandle) {
  const std::string converted =
      "音声ファイルのＰＣＭへの変換に失敗しました\n右記の音声ファイルのロードに失敗しました_2：";
  const std::string noPcm =
      "音声ファイルを格納するメモリ領域の確保に失敗しました\n右記の音声ファイルのロードに失敗しました_2：";
  const struct {
    const char* name;  // written here when `bytes` is given, else a committed file
    Bytes bytes;
    void (*prepare)();
    std::string log;
  } cases[] = {
      {"no_such_sound.wav",
       {},
       nullptr,
       "右記のファイルのオープンに失敗しました：no_such_sound.wav\n"
       "右記の音声ファイルのロードに失敗しました_1：no_such_sound.wav\n"},
      {"empty.wav", {}, nullptr, "右記の音声ファイルのロードに失敗しました_1：empty.wav\n"},
      {"junk.wav", Pattern(3000), nullptr, converted + "junk.wav\n"},
      {"24bit.wav", SimpleWave(Pattern(600), {1, 2, 22050, 132300, 6, 24}), nullptr,
       converted + "24bit.wav\n"},
      // Sets up, but there is no PCM to keep.
      {"nodata.wav", Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}), Chunk("LIST", Bytes(4, 0))}),
       nullptr, noPcm + "nodata.wav\n"},
      {"pcm_m8_22050.wav",
       {},
       [] { sim::FailCall("Lock", 1); },
       "サウンドデータの転送に失敗しました_1右記の音声ファイルのロードに失敗しました_2："},
      {"pcm_m8_22050.wav",
       {},
       [] { sim::FailCall("Unlock", 2); },  // the duplicate's unlock
       "サウンドデータの転送に失敗しました_2右記の音声ファイルのロードに失敗しました_2："},
      {"acm/ima_m16_22050.wav",
       {},
       [] { sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, false); },
       converted},
      // An MP3 whose every piece fails to convert has no PCM: it fails, it does not hang.
      {"acm/mp3_m16_22050_32k_id3v1.mp3", {}, [] { sim::FailCall("acmStreamConvert", 1, 1000); }, noPcm},
  };
  std::ofstream("empty.wav").close();
  for (const auto& c : cases) {
    if (!c.bytes.empty())
      std::ofstream(c.name, std::ios::binary)
          .write(reinterpret_cast<const char*>(c.bytes.data()), c.bytes.size());
    const std::string path = std::filesystem::exists(DataPath(c.name)) ? DataPath(c.name) : c.name;
    TakeLog();
    if (c.prepare) c.prepare();
    EXPECT_EQ(gamelib::LoadSoundFile(path.c_str(), 2, -1), -1) << c.name;
    sim::ClearFailures();
    sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, true);
    const std::string log = TakeLog();
    EXPECT_NE(log.find(c.log), std::string::npos) << c.name << ": " << log;
    EXPECT_EQ(gamelib::GetSoundTable().count, 0);
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
  }
}

TEST_F(MemorySound, MemoryFailuresWhileLoading) {
  // The file image: one of the first few allocations of the load (after the file
  // stream's own records).
  bool imageRefused = false;
  for (int nth = 1; nth <= 6 && !imageRefused; ++nth) {
    TakeLog();
    sim::FailCall("AllocMemory", nth);
    EXPECT_EQ(Load("pcm_m8_22050.wav", 1), -1);
    sim::ClearFailures();
    const std::string log = TakeLog();
    imageRefused =
        log.find("右記のファイルのロードに必要なメモリの確保に失敗しました：") != std::string::npos;
    EXPECT_TRUE(!imageRefused ||
                log.find("右記の音声ファイルのロードに失敗しました_1：") != std::string::npos)
        << log;
  }
  EXPECT_TRUE(imageRefused);
  // Every later allocation of a load in turn: the load fails cleanly or succeeds.
  for (int nth = 1; nth < 12; ++nth) {
    sim::FailCall("AllocMemory", nth);
    int handle = Load("ogg_m16_22050.ogg", 1);
    sim::ClearFailures();
    if (handle != -1) gamelib::DeleteSoundHandle(handle);
    EXPECT_EQ(gamelib::GetSoundTable().count, 0) << nth;
    EXPECT_EQ(gamelib::LiveOggDecoders(), 0) << nth;
  }
}

TEST_F(MemorySound, ReadWholeStreamReadsFromTheStartAndLeavesTheStreamOpen) {
  const Bytes file = ReadFileBytes(DataDir() / "pcm_s8_48000.wav");
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
}

}  // namespace
