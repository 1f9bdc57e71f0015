// Memory sounds: the play types, the round robin over duplicates, resuming, volume and
// positions as the device receives them, buffer counts, refused duplicates, failed loads
// with their log texts, allocation failures anywhere in a load, and the fatal exits.
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

const std::string kShort = Data("pcm_m16_48000.wav");  // 0.2 s, 9600 frames
const std::string kCd = Data("pcm_s16_44100.wav");     // 0.25 s of 44100 Hz 16-bit stereo, 44100 bytes

TEST_F(SoundTest, PlaysGoRoundTheBuffersAndResumeOrRestart) {
  const int one = Load(kShort);
  IDirectSoundBuffer* b = Buffers().at(0);
  for (int type : {1, 2, 7, -1, 3}) {  // play once and return at once, or loop
    const std::uint64_t before = sim::VirtualTimeMicros();
    ASSERT_EQ(PlaySoundHandle(one, type), 0);
    EXPECT_EQ(sim::VirtualTimeMicros(), before) << type;
    EXPECT_EQ(CallsNamed("Play").back().args.at(2), type == kSoundPlayLoop ? DSBPLAY_LOOPING : 0) << type;
    sim::AdvanceTime(201);
    EXPECT_EQ(CheckSoundHandlePlaying(one), type == kSoundPlayLoop) << type;
  }
  // Playing, it goes on; stopped, it resumes; from the top, it restarts.
  const DWORD at = Inspect(b).playCursor;
  ASSERT_EQ(PlaySoundHandle(one, kSoundPlayBackground, 0), 0);
  ASSERT_EQ(StopSoundHandle(one), 0);
  EXPECT_EQ(std::vector<DWORD>({Inspect(b).playCursor, static_cast<DWORD>(CheckSoundHandlePlaying(one))}),
            std::vector<DWORD>({at, 0}));
  ASSERT_EQ(PlaySoundHandle(one, kSoundPlayBackground, 0), 0);
  EXPECT_EQ(std::vector<DWORD>({Inspect(b).playing, Inspect(b).playCursor}), std::vector<DWORD>({1, at}));
  sim::AdvanceTime(50);
  ASSERT_EQ(PlaySoundHandle(one, kSoundPlayBackground, 1), 0);
  EXPECT_EQ(Inspect(b).playCursor, 0u);
  ASSERT_EQ(DeleteSoundHandle(one), 0);
  // Three quick plays sound three copies, from the second buffer on; the fourth restarts
  // the copy that started first.
  const int h = Load(kCd, 0, 3);
  const std::vector<IDirectSoundBuffer*> copies = Buffers();
  for (int i : {1, 2, 0, 1}) {
    ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground), 0);
    EXPECT_EQ(std::vector<DWORD>({Inspect(copies.at(i)).playing, Inspect(copies[i]).playCursor}),
              std::vector<DWORD>({1, 0}))
        << i;
    sim::AdvanceTime(20);
  }
  EXPECT_GT(Inspect(copies[2]).playCursor, Inspect(copies[0]).playCursor);
  EXPECT_EQ(StopSoundHandle(h), 0);
  for (IDirectSoundBuffer* x : copies) EXPECT_FALSE(Inspect(x).playing);
  // Every buffer is asked whether it plays; one whose state cannot be read counts as stopped.
  ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground), 0);  // buffer 2
  EXPECT_EQ(CheckSoundHandlePlaying(h), 1);
  sim::FailCall("GetStatus", 3);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  sim::AdvanceTime(251);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  sim::FailCall("Play", 1);  // a Play the device refuses is a failed play
  EXPECT_EQ(Ints({PlaySoundHandle(h, kSoundPlayBackground), CheckSoundHandlePlaying(h)}), Ints({-1, 0}));
}

TEST_F(SoundTest, BufferCountsAreClampedAndDuplicatesTheDeviceRefusesAreDoneWithout) {
  ASSERT_EQ(DeleteSoundHandle(Load(kShort, 0, 15)), 0);
  EXPECT_EQ(sim::CallCount("DuplicateSoundBuffer"), 9);
  for (int count : {0, -3}) {
    const int none = Load(kShort, 0, count);
    EXPECT_TRUE(Buffers().empty());
    for (int i = 0; i < 20; ++i) EXPECT_EQ(PlaySoundHandle(none, kSoundPlayBackground), -1);
    EXPECT_EQ(Ints({StopSoundHandle(none), CheckSoundHandlePlaying(none), GetSoundPlayPosition(none),
                    SetSoundPlayPosition(0, none), SetSoundHandleVolume(10, none),
                    GetSoundTotalSampleCount(none), DeleteSoundHandle(none)}),
              Ints({0, 0, -1, -1, 0, 9600, 0}));
  }
  sim::FailCall("DuplicateSoundBuffer", 3);  // the third duplicate is the fourth buffer
  const int h = Load(kCd, 0, 10);
  EXPECT_EQ(Ints({static_cast<int>(Buffers().size()), sim::CallCount("DuplicateSoundBuffer")}),
            Ints({3, 12}));
  for (int i = 0; i < 4; ++i) ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground), 0);
  for (IDirectSoundBuffer* b : Buffers()) EXPECT_TRUE(Inspect(b).playing);
  ASSERT_EQ(DeleteSoundHandle(h), 0);
  // The first buffer falls back to fewer controls; its duplicates share its data.
  sim::FailCreateSoundBufferFlags(0x80E2);
  ASSERT_NE(Load(kCd, 0, 2), -1);
  EXPECT_EQ(Inspect(Buffers().at(0)).flags, 0xC2u);
  EXPECT_EQ(Inspect(Buffers().at(1)).dataId, Inspect(Buffers()[0]).dataId);
}

TEST_F(SoundTest, VolumeAndPositionsAsTheDeviceReceivesThem) {
  const int h = Load(kCd, 0, 3);
  const std::vector<IDirectSoundBuffer*> b = Buffers();
  // Volume 0 to 255 in hundredths of a decibel, on every buffer.
  const std::pair<int, LONG> volumes[] = {{255, 0},   {300, 0},    {254, -1},    {128, -299},
                                          {1, -2406}, {0, -10000}, {-5, -10000}, {INT32_MIN, -10000}};
  for (const auto& [volume, expected] : volumes) {
    sim::ClearSoundCalls();
    ASSERT_EQ(SetSoundHandleVolume(volume, h), 0);
    std::vector<std::int64_t> set;
    for (const sim::SoundCall& c : CallsNamed("SetVolume")) set.push_back(c.args.at(0));
    EXPECT_EQ(set, std::vector<std::int64_t>(3, expected)) << volume;
  }
  sim::ClearSoundCalls();
  for (int bad : {-4, 44100, 44101}) EXPECT_EQ(SetSoundPlayPosition(bad, h), -1) << bad;
  // Milliseconds are converted in floating point: 100 s in integers would wrap round.
  for (int bad : {-1, 250, 100000, INT32_MAX}) EXPECT_EQ(SetSoundPlayPositionMs(bad, h), -1) << bad;
  EXPECT_TRUE(CallsNamed("SetCurrentPosition").empty());
  // Milliseconds are truncated, not block aligned: 132.3 frames of 4 bytes.
  for (const auto& [ms, bytes] : {std::pair<int, DWORD>{3, 529}, {249, 43923}}) {
    ASSERT_EQ(SetSoundPlayPositionMs(ms, h), 0);
    EXPECT_EQ(Inspect(b[0]).lastSetPosition, bytes);
  }
  ASSERT_EQ(SetSoundPlayPosition(44096, h), 0);
  ASSERT_EQ(SetSoundPlayPosition(8000, h), 0);
  EXPECT_EQ(GetSoundPlayPosition(h), 8000);
  // Buffers 1 and 2 playing: the position goes to buffer 0; then all play: refused.
  for (int i = 0; i < 2; ++i) ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground), 0);
  ASSERT_EQ(SetSoundPlayPosition(4000, h), 0);
  EXPECT_EQ(Inspect(b[0]).playCursor, 4000u);
  sim::FailCall("GetStatus", 1);
  EXPECT_EQ(SetSoundPlayPosition(400, h), -1);
  ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground, 0), 0);
  sim::ClearSoundCalls();
  EXPECT_EQ(Ints({SetSoundPlayPosition(400, h), SetSoundPlayPositionMs(10, h)}), Ints(2, -1));
  EXPECT_TRUE(CallsNamed("SetCurrentPosition").empty());
  // The play position is the first buffer's cursor.
  sim::AdvanceTime(100);
  EXPECT_EQ(GetSoundPlayPosition(h), static_cast<int>(Inspect(b[0]).playCursor));
  EXPECT_GT(GetSoundPlayPosition(h), 0);
  sim::FailCall("GetCurrentPosition", 1);
  EXPECT_EQ(GetSoundPlayPosition(h), -1);
}

// A file image in memory loads as the file does, with its sample bytes in the buffers; an
// image of no bytes, or of a negative size, is refused and leaves nothing.
TEST_F(SoundTest, ImagesInMemoryLoadLikeFilesAndEmptySizesAreRefused) {
  const Bytes pcm = Synth(4410, 21), image = Wave16(pcm);
  const int whole = static_cast<int>(image.size());
  for (const int bytes : {whole, 0, -1, -whole}) {
    const int h = LoadSoundFromMemory(image.data(), bytes, 2);
    if (bytes <= 0) {
      EXPECT_EQ(h, -1) << bytes;
      EXPECT_TRUE(Buffers().empty()) << bytes;
      continue;
    }
    ASSERT_NE(h, -1);
    const std::vector<IDirectSoundBuffer*> b = Buffers();
    ASSERT_EQ(b.size(), 2u);
    for (IDirectSoundBuffer* buffer : b) EXPECT_EQ(sim::SoundBufferContents(buffer), pcm);
    EXPECT_EQ(GetSoundTotalSampleCount(h), 4410);
    EXPECT_EQ(DeleteSoundHandle(h), 0);
  }
}

// Failed loads leave nothing behind and name what failed; so does every allocation of a
// load in turn failing (the load fails cleanly or succeeds).
TEST_F(SoundTest, FailedLoadsAreLoggedAndLeaveNothing) {
  const std::string failed = "右記の音声ファイルのロードに失敗しました_",
                    transfer = "サウンドデータの転送に失敗しました_";
  const std::string converted = "音声ファイルのＰＣＭへの変換に失敗しました\n" + failed + "2：",
                    noPcm = "音声ファイルを格納するメモリ領域の確保に失敗しました\n" + failed + "2：";
  const struct {
    std::string path;
    std::function<void()> prepare;
    std::string log;
  } cases[] = {
      {"none.wav", [] {}, "右記のファイルのオープンに失敗しました：none.wav\n" + failed + "1：none.wav\n"},
      {Write("empty.wav", {}), [] {}, failed + "1：empty.wav\n"},
      {Write("junk.wav", Pattern(3000)), [] {}, converted + "junk.wav\n"},
      {Write("nodata.wav", Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}), Chunk("LIST", Bytes(4, 0))})),
       [] {}, noPcm},
      {kShort, [] { sim::FailCall("Lock", 1); }, transfer + "1" + failed + "2："},
      {kShort, [] { sim::FailCall("Unlock", 2); }, transfer + "2" + failed + "2："},
      {Data("acm/ima_m16_22050.wav"), [] { sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, false); },
       converted},
      // Every piece refused: no PCM; it fails, it does not hang.
      {Data("acm/mp3_m16_22050_32k_id3v1.mp3"), [] { sim::FailCall("acmStreamConvert", 1, 1000); }, noPcm}};
  for (const auto& c : cases) {
    TakeLog();
    c.prepare();
    EXPECT_EQ(Load(c.path, 0, 2), -1) << c.path;
    sim::ClearFailures();
    sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, true);
    const std::string log = TakeLog();
    EXPECT_NE(log.find(c.log), std::string::npos) << c.path << ": " << log;
  }
  // Stream sounds name the file that failed, with a blank and an empty line.
  EXPECT_EQ(Load("none.ogg", 3), -1);
  EXPECT_EQ(TakeLog(), "右記のＷＡＶファイルのロードに失敗しました：none.ogg \n\n");
  for (int type : {1, 2, 3}) {
    EXPECT_EQ(Load("junk.wav", type), -1);
    EXPECT_EQ(TakeLog(),
              "音声データのオープンに失敗しました\n右記のＷＡＶファイルのセットアップに失敗しました：junk."
              "wav \n\n");
  }
  std::string logs;
  for (const char* name : {"pcm_m8_22050.wav", "ogg_m16_22050.ogg", "acm/ima_m16_22050.wav",
                           "acm/mp3_m16_22050_32k_id3v1.mp3"}) {
    for (int i = 0; i < 4 * 40; ++i) {
      sim::FailCall("HeapAlloc", i % 40 + 1);
      DeleteSoundHandle(Load(Data(name), i / 40, 2));
      sim::ClearFailures();
      logs += TakeLog();
      EXPECT_TRUE(Buffers().empty()) << name << " " << i;
      EXPECT_EQ(sim::LiveAcmStreams(), 0);
    }
  }
  EXPECT_NE(
      logs.find("右記のファイルのロードに必要なメモリの確保に失敗しました：" + Data("pcm_m8_22050.wav")),
      std::string::npos);
  EXPECT_NE(logs.find("メモリ領域の確保に失敗しました in AddSoundData"), std::string::npos);
}

TEST_F(SoundTest, BuffersTheDeviceRefusesEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  setenv("GAMELIB_DEBUG_OUTPUT", "1", 1);  // the log reaches stderr, where the test reads it
  sim::FailCreateSoundBufferFlags(0x80E2);
  sim::FailCreateSoundBufferFlags(0xC2);
  EXPECT_EXIT(Load(kCd), ::testing::ExitedWithCode(255),
              "DirectSoundBuffer の作成に失敗しました\r\n(.|\n)*DirectSound の終了処理は正常に終了しました");
  sim::FailCreateSoundBufferFlags(0x180E2);
  EXPECT_EXIT(Load(kCd, 2), ::testing::ExitedWithCode(255),
              "ストリーム風サウンドバッファの作成に失敗しました\r\n");
  unsetenv("GAMELIB_DEBUG_OUTPUT");
}

}  // namespace
