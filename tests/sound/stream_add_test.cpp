// Adding files to stream sounds: the data kinds and what each keeps, the lengths, and
// every refusal with its log text, leaving the handle's earlier files as they were and
// nothing allocated behind.
#include "core/memory.h"
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

const char kSetupFailed[] = "右記のＷＡＶファイルのセットアップに失敗しました：";

TEST_F(StreamTest, FourthFileAndAnotherFormatAreRefused) {
  int h = MakeStream(
      {{"pcm_s16_44100.wav", {}, 0}, {"ogg_s16_44100.ogg", {}, 0}, {"pcm_s16_44100.wav", {}, 0}}, 2);
  ASSERT_NE(h, -1);
  const int samples = GetSoundTotalSampleCount(h);
  TakeLog();
  const std::string path = DataPath("ogg_s16_44100.ogg");
  EXPECT_EQ(AddStreamSoundFile(path.c_str(), 0, h, 2, -1), -1);
  EXPECT_EQ(TakeLog(), "ストリーム風サウンドの制御データ領域がいっぱいです\n" + std::string(kSetupFailed) +
                           path + " \n\n");
  EXPECT_EQ(Record(h)->fileCount, 3);

  int one = MakeStream({{"pcm_s16_44100.wav", {}, 0}}, 3);
  TakeLog();
  const std::string other = DataPath("pcm_m16_48000.wav");
  EXPECT_EQ(AddStreamSoundFile(other.c_str(), 0, one, 3, -1), -1);
  EXPECT_EQ(TakeLog(), "フォーマットの違う音声データは同時に使うことは出来ません\n" +
                           std::string(kSetupFailed) + other + " \n\n");
  EXPECT_EQ(Record(one)->fileCount, 1);
  EXPECT_EQ(GetSoundTotalSampleCount(one), 11025);
  EXPECT_EQ(GetSoundTotalSampleCount(h), samples);
}

TEST_F(StreamTest, AddingToAPlayingStreamOrToAMemorySoundIsRefused) {
  int h = MakeStream({{"pcm_s16_44100.wav", {}, 0}}, 2);
  ASSERT_EQ(PlayStreamSound(h, 3, 1), 0);
  TakeLog();
  const std::string path = DataPath("pcm_s16_44100.wav");
  EXPECT_EQ(AddStreamSoundFile(path.c_str(), 0, h, 2, -1), -1);
  EXPECT_EQ(TakeLog(), "既に再生中のストリームサウンドデータにデータを追加しようとしました\n" +
                           std::string(kSetupFailed) + path + " \n\n");
  ASSERT_EQ(StopStreamSound(h), 0);
  EXPECT_EQ(AddStreamSoundFile(path.c_str(), 0, h, 2, -1), 0);

  int memory = MakeMemorySound(Pcm(2, 44100, 16), Reference("pcm_s16_44100.wav"), 2);
  TakeLog();
  EXPECT_EQ(AddStreamSoundFile(path.c_str(), 0, memory, 2, -1), -1);
  EXPECT_EQ(TakeLog(), "ストリーム風サウンドではないサウンドデータが渡されました in AddSreamSound\n" +
                           std::string(kSetupFailed) + path + " \n\n");
  EXPECT_EQ(Record(memory)->soundKind, SOUND_KIND_MEMORY);
  EXPECT_EQ(Record(memory)->bufferCount, 2);
}

TEST_F(StreamTest, MissingAndUnreadableFilesAreRefused) {
  int h = AddSoundData(-1);
  TakeLog();
  EXPECT_EQ(AddStreamSoundFile("no-such-file.ogg", 0, h, 3, -1), -1);
  EXPECT_EQ(TakeLog(), "右記のＷＡＶファイルのロードに失敗しました：no-such-file.ogg \n\n");
  const Bytes junk = Synth16(1000, 1, 31);
  EXPECT_EQ(AddStreamSoundMemory(junk.data(), static_cast<int>(junk.size()), 0, h, 2, -1), -1);
  EXPECT_EQ(TakeLog(),
            "音声データのオープンに失敗しました\nＷＡＶファイルのストリームイメージのセットアップに失敗しまし"
            "た \n");
  EXPECT_EQ(AddStreamSoundMemory(junk.data(), static_cast<int>(junk.size()), 0, h, 0, -1), -1);
  EXPECT_EQ(Record(h)->fileCount, 0);
  EXPECT_EQ(Record(h)->soundKind, SOUND_KIND_MEMORY);
  EXPECT_EQ(AddStreamSoundFile(DataPath("pcm_s16_44100.wav").c_str(), 0, h, 7, -1), -1);
  EXPECT_EQ(Record(h)->fileCount, 0);
  EXPECT_EQ(AddStreamSoundFile(DataPath("pcm_s16_44100.wav").c_str(), 0, 0x10001234, 2, -1), -1);
}

TEST_F(StreamTest, EachDataKindKeepsWhatItShould) {
  const Bytes file = ReadFileBytes(DataDir() / "ogg_s16_44100.ogg");
  const Bytes pcm = Reference("ogg_s16_44100.ogg");
  for (int kind : {0, 1, 2, 3}) {
    int h = MakeStream({{"ogg_s16_44100.ogg", {}, 0}}, kind);
    ASSERT_NE(h, -1) << kind;
    const SoundFileEntry& f = Record(h)->files[0];
    EXPECT_EQ(f.dataKind, kind);
    EXPECT_EQ(Record(h)->fileOwnsStream[0], 1);
    EXPECT_EQ(GetSoundTotalSampleCount(h), 11025) << "the exact decoded length";
    const auto* data = static_cast<const std::uint8_t*>(f.fileData);
    if (kind <= 1) {
      // The whole PCM as a WAVE image with an 18-byte fmt chunk.
      ASSERT_EQ(f.fileDataBytes, 46 + pcm.size());
      EXPECT_EQ(std::memcmp(data, "RIFF", 4), 0);
      EXPECT_EQ(data[16], 18);
      EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), data + 46));
      EXPECT_EQ(f.converter.convertKind, SOUND_CONVERT_WAVE_PCM);
    } else if (kind == 2) {
      ASSERT_EQ(f.fileDataBytes, file.size());
      EXPECT_TRUE(std::equal(file.begin(), file.end(), data));
      EXPECT_EQ(f.converter.convertKind, SOUND_CONVERT_OGG);
    } else {
      // Read from the file while playing: nothing copied, the file kept open.
      EXPECT_EQ(f.fileData, nullptr);
      EXPECT_NE(f.converter.sourceStream.handle, 0u);
      EXPECT_EQ(f.stream.handle, 0u);
    }
    EXPECT_NE(f.stream.handle == 0, kind <= 2);
    Listener ear;
    ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
    RunGame(Rhythm::Fps30, 500000, [&] { ear.Take(); });
    EXPECT_TRUE(HeardThenSilence(ear.heard, pcm)) << kind;
    ASSERT_EQ(DeleteSoundHandle(h), 0);
  }
}

TEST_F(StreamTest, MemoryImageIsCopiedAlsoForKindThree) {
  Bytes image = ReadFileBytes(DataDir() / "pcm_s16_44100.wav");
  int h = AddSoundData(-1);
  ASSERT_EQ(AddStreamSoundMemory(image.data(), static_cast<int>(image.size()), 1, h, 3, -1), 0);
  EXPECT_EQ(Record(h)->files[0].dataKind, 2);
  std::fill(image.begin(), image.end(), 0);  // the caller's image is its own again
  Bytes().swap(image);
  PrepareStreamSound(h);
  Listener ear;
  ASSERT_EQ(PlayStreamSound(h, 1, 1), 0);
  RunGame(Rhythm::Fps60, 1000000, [&] { ear.Take(); });
  EXPECT_TRUE(HeardThenSilence(ear.heard, Repeat(Reference("pcm_s16_44100.wav"), 2)));
}

// Every allocation of an add may fail: the add fails (or succeeds) cleanly, and nothing
// made on the way is left behind.
TEST_F(StreamTest, FailedAllocationsLeaveNothingBehind) {
  for (int kind : {0, 2, 3}) {
    for (int nth = 1; nth <= 12; ++nth) {
      const MemoryUsage before = GetMemoryUsage();
      const int objects = sim::LiveObjects();
      int h = AddSoundData(-1);
      ASSERT_NE(h, -1);
      sim::FailCall("AllocMemory", nth);
      int r = AddStreamSoundFile(DataPath("ogg_s16_44100.ogg").c_str(), 0, h, kind, -1);
      sim::ClearFailures();
      if (r == -1) {
        EXPECT_EQ(Record(h)->fileCount, 0);
        EXPECT_EQ(Record(h)->soundKind, SOUND_KIND_MEMORY);
      }
      ASSERT_EQ(DeleteSoundHandle(h), 0);
      EXPECT_EQ(GetMemoryUsage().blocks, before.blocks) << kind << " " << nth;
      EXPECT_EQ(sim::LiveObjects(), objects) << kind << " " << nth;
    }
  }
  EXPECT_EQ(LiveOggDecoders(), 0);
}

}  // namespace
