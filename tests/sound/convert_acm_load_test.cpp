// Compressed files loaded by the library: every file of tests/data/sound/acm becomes a
// memory sound whose PCM (and buffer contents) is the reference decode, and leaves no
// decoder open behind it.
#include "convert_acm_support.h"
#include "gamelib/sound_load.h"
#include "sound_fixture.h"

using namespace acm_test;
using soundtest::SoundTest;

namespace {

class AcmLoad : public SoundTest {};

TEST_F(AcmLoad, EveryCompressedFileLoadsAsAMemorySound) {
  ASSERT_EQ(gamelib::SetCreateSoundDataType(0), 0);
  for (const AcmFile& f : AcmFiles()) {
    SCOPED_TRACE(f.name);
    int handle = gamelib::LoadSoundFile(f.path.c_str(), 2, -1);
    ASSERT_NE(handle, -1);
    gamelib::SoundHandleRecord* r = Record(handle);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->soundKind, gamelib::SOUND_KIND_MEMORY);
    const WAVEFORMATEX format = r->format;
    EXPECT_EQ(format.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(format.nChannels, f.channels);
    EXPECT_EQ(format.wBitsPerSample, 16);
    EXPECT_EQ(format.nSamplesPerSec, static_cast<DWORD>(f.rate));
    ASSERT_EQ(r->dataBytes, f.reference.size());
    EXPECT_TRUE(std::equal(f.reference.begin(), f.reference.end(), static_cast<const std::uint8_t*>(r->data)));
    EXPECT_EQ(gamelib::GetSoundTotalSampleCount(handle), static_cast<int>(f.reference.size()) / format.nBlockAlign);
    EXPECT_EQ(sim::SoundBufferContents(r->buffers[1].buffer), f.reference);
    // The converter is gone once the sound is loaded.
    EXPECT_EQ(sim::LiveAcmStreams(), 0);
    EXPECT_EQ(gamelib::DeleteSoundHandle(handle), 0);
  }
}

TEST_F(AcmLoad, AFileTheManagerCannotDecodeFailsToLoad) {
  sim::SetAcmFormatEnabled(WAVE_FORMAT_IMA_ADPCM, false);
  const AcmFile f = AcmFileNamed("ima_m16_22050");
  TakeLog();
  EXPECT_EQ(gamelib::LoadSoundFile(f.path.c_str(), 1, -1), -1);
  std::string log = TakeLog();
  EXPECT_NE(log.find("音声ファイルのＰＣＭへの変換に失敗しました"), std::string::npos) << log;
  EXPECT_EQ(sim::LiveAcmStreams(), 0);
  // An MP3 whose every piece fails to convert has no PCM: it fails, it does not hang.
  sim::FailCall("acmStreamConvert", 1, 1000);
  EXPECT_EQ(gamelib::LoadSoundFile(AcmFileNamed("mp3_m16_22050_32k_id3v1").path.c_str(), 1, -1), -1);
  sim::ClearFailures();
  EXPECT_EQ(sim::LiveAcmStreams(), 0);
}

}  // namespace
