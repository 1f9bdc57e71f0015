// Start-up and shutdown of the sound system: the log text, the device set-up and its
// failures, the silent buffer and the device report.
#include <string>

#include "sound_fixture.h"

using namespace gamelib;
using soundtest::Between;
using soundtest::CallsNamed;
using soundtest::Inspect;
using soundtest::SoundTest;

namespace {

DSCAPS Caps(DWORD flags, DWORD minRate, DWORD maxRate, DWORD totalMem = 0, DWORD freeMem = 0) {
  DSCAPS caps{};
  caps.dwSize = DSCAPS_DWSIZE;
  caps.dwFlags = flags;
  caps.dwMinSecondarySampleRate = minRate;
  caps.dwMaxSecondarySampleRate = maxRate;
  caps.dwTotalHwMemBytes = totalMem;
  caps.dwFreeHwMemBytes = freeMem;
  return caps;
}

constexpr DWORD kAllFormats = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT | DSCAPS_PRIMARY16BIT |
                              DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO | DSCAPS_SECONDARY8BIT |
                              DSCAPS_SECONDARY16BIT;

const char kStartHead[] =
    "DirectSound の初期化を行います\n"
    "DirectSound インターフェースの取得を行います....  成功\n"
    "引き続きインターフェースの初期化処理...  成功\n";
const char kStartDone[] = "DirectSound の初期化は正常に終了しました\n";
const char kStopDone[] = "DirectSound の終了処理は正常に終了しました\n";

// ---- The full report ------------------------------------------------------------------

class SoundReportTest : public SoundTest {
  void ConfigurePlatform() override {
    sim::SetSoundCaps(Caps(DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT | DSCAPS_SECONDARYMONO | DSCAPS_SECONDARY8BIT,
                           100, 48000, 2048, 512));
    sim::SoundDeviceEntry primary;
    primary.description = "Primary Sound Driver";
    primary.module = "";
    sim::SoundDeviceEntry second;
    second.hasGuid = true;
    second.guid = GUID{1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    second.description = "Offline Mixer";
    second.module = "offline.drv";
    sim::SetSoundDevices({primary, second});
  }
};

TEST_F(SoundReportTest, StartupAndShutdownWriteTheExactLog) {
  std::string expected = std::string(kStartHead) +
                         "\tDirectSound デバイスを列挙します\n"
                         "\t\tモジュール名:                 ドライバ記述:Primary Sound Driver \n"
                         "\t\tモジュール名:    offline.drv  ドライバ記述:Offline Mixer \n"
                         "\t最大サンプリングレート:48.00KHz 最小サンプリングレート:0.10KHz \n"
                         "\t総サウンドメモリ領域:2.00KB 空きサウンドメモリ領域:0.50KB \n"
                         "\t\n"
                         "\t利用可能サンプリング精度\n"
                         "\t プライマリ １６bit = OK  ８bit = NO \n"
                         "\t セカンダリ １６bit = NO  ８bit = OK \n"
                         "\t\n"
                         "\t利用可能チャンネル\n"
                         "\t プライマリ MONO = NO  STEREO = OK \n"
                         "\t セカンダリ MONO = OK  STEREO = NO \n"
                         "\t\n" +
                         kStartDone;
  EXPECT_EQ(Between(startLog_, "DirectSound の初期化を行います", kStartDone), expected);

  ASSERT_EQ(TerminateSoundSystem(), 0);
  EXPECT_EQ(TakeLog(), kStopDone);
  EXPECT_EQ(sim::LiveSoundObjects(), 0);
  EXPECT_EQ(sim::LiveModuleLoads(), 0);
  EXPECT_EQ(TerminateSoundSystem(), -1);
}

TEST_F(SoundReportTest, StartingTwiceIsRefusedAndChangesNothing) {
  int creates = sim::CallCount("CoCreateInstance");
  int live = sim::LiveSoundObjects();
  IDirectSound* device = GetSoundSystemState().directSound;
  sim::ClearSoundCalls();
  EXPECT_EQ(InitializeSoundSystem(), -1);
  EXPECT_EQ(sim::CallCount("CoCreateInstance"), creates);
  EXPECT_EQ(sim::LiveSoundObjects(), live);
  EXPECT_EQ(GetSoundSystemState().directSound, device);
  EXPECT_TRUE(sim::SoundCalls().empty());
  EXPECT_EQ(TakeLog(), "");
}

// ---- The primary format follows the capabilities -----------------------------------------

struct PrimaryCase {
  DWORD flags;
  DWORD maxRate;
  WORD channels;
  DWORD rate;
  WORD bits;
};
void PrintTo(const PrimaryCase& c, std::ostream* os) {
  *os << "caps " << std::hex << c.flags << std::dec << " max " << c.maxRate;
}

class PrimaryFormatTest : public SoundTest, public ::testing::WithParamInterface<PrimaryCase> {
  void ConfigurePlatform() override { sim::SetSoundCaps(Caps(GetParam().flags, 100, GetParam().maxRate)); }
};

TEST_P(PrimaryFormatTest, SetFormatGetsTheCapsFormat) {
  const PrimaryCase& c = GetParam();
  std::vector<sim::SoundCall> calls = CallsNamed("SetFormat");
  ASSERT_EQ(calls.size(), 1u);
  ASSERT_TRUE(calls[0].hasFormat);
  const WAVEFORMATEX& f = calls[0].format;
  // Packed fields are read by value: the record is not aligned.
  EXPECT_EQ(+f.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(+f.nChannels, c.channels);
  EXPECT_EQ(+f.nSamplesPerSec, c.rate);
  EXPECT_EQ(+f.wBitsPerSample, c.bits);
  EXPECT_EQ(+f.nBlockAlign, c.channels * c.bits / 8);
  EXPECT_EQ(+f.nAvgBytesPerSec, f.nBlockAlign * c.rate);
  EXPECT_EQ(+f.cbSize, 0);
  EXPECT_GE(calls[0].result, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Caps, PrimaryFormatTest,
    ::testing::Values(PrimaryCase{kAllFormats, 48000, 2, 44100, 16}, PrimaryCase{kAllFormats, 44100, 2, 44100, 16},
                      PrimaryCase{kAllFormats, 22050, 2, 22050, 16},
                      PrimaryCase{DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT, 48000, 2, 44100, 8},
                      PrimaryCase{DSCAPS_PRIMARY8BIT, 11025, 1, 11025, 8}),
    [](const ::testing::TestParamInfo<PrimaryCase>& info) {
      return "Caps" + std::to_string(info.param.flags) + "Max" + std::to_string(info.param.maxRate);
    });

// ---- Failures of the device set-up --------------------------------------------------------

class SoundStartFailureTest : public SoundTest {
 protected:
  bool StartWithSound() const override { return false; }

  void ExpectNotStarted() {
    EXPECT_EQ(GetSoundSystemState().directSound, nullptr);
    EXPECT_EQ(GetSoundSystemState().primaryBuffer, nullptr);
    EXPECT_EQ(sim::LiveSoundObjects(), 0);
    EXPECT_EQ(AddSoundData(-1), -1);
    EXPECT_EQ(SetCreateSoundDataType(0), -1);
    EXPECT_EQ(DeleteAllSoundHandles(), -1);
    EXPECT_EQ(TerminateSoundSystem(), -1);
  }
};

TEST_F(SoundStartFailureTest, NoSoundFlagLeavesTheSystemOffAndEveryOperationRefuses) {
  EXPECT_EQ(startLog_.find("DirectSound"), std::string::npos);
  ExpectNotStarted();
  int fake = 0x10000000;
  EXPECT_EQ(DeleteSoundHandle(fake), -1);
  EXPECT_EQ(CheckSoundHandlePlaying(fake), -1);
  EXPECT_EQ(GetSoundTotalSampleCount(fake), -1);
  EXPECT_EQ(SetSoundHandleVolume(255, fake), -1);
  EXPECT_EQ(SetSoundPlayPosition(0, fake), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(0, fake), -1);
  EXPECT_EQ(GetSoundPlayPosition(fake), -1);
}

TEST_F(SoundStartFailureTest, DeviceNotMade) {
  sim::FailCall("CoCreateInstance", 1);
  EXPECT_EQ(InitializeSoundSystem(), -1);
  EXPECT_EQ(TakeLog(),
            "DirectSound の初期化を行います\n"
            "DirectSound インターフェースの取得を行います....  DirectSoundインターフェースの作成に失敗しました\n");
  ExpectNotStarted();
}

TEST_F(SoundStartFailureTest, DeviceNotInitialised) {
  sim::FailCall("Initialize", 1);
  EXPECT_EQ(InitializeSoundSystem(), -1);
  EXPECT_EQ(TakeLog(),
            "DirectSound の初期化を行います\n"
            "DirectSound インターフェースの取得を行います....  成功\n"
            "引き続きインターフェースの初期化処理...  初期化に失敗しました\n");
  ExpectNotStarted();
}

TEST_F(SoundStartFailureTest, CooperativeLevelRefused) {
  sim::FailCall("SetCooperativeLevel", 1);
  EXPECT_EQ(InitializeSoundSystem(), -1);
  EXPECT_EQ(TakeLog(), std::string(kStartHead) + "DirectSoundの協調レベルの設定に失敗しました\n");
  ExpectNotStarted();
}

TEST_F(SoundStartFailureTest, PrimaryBufferNotMade) {
  sim::FailCall("CreateSoundBuffer", 1);
  EXPECT_EQ(InitializeSoundSystem(), -1);
  EXPECT_EQ(TakeLog(), std::string(kStartHead) + "DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
  ExpectNotStarted();
}

TEST_F(SoundStartFailureTest, AFailedStartCanBeRetried) {
  sim::FailCall("Initialize", 1);
  EXPECT_EQ(InitializeSoundSystem(), -1);
  EXPECT_EQ(InitializeSoundSystem(), 0);
  EXPECT_NE(GetSoundSystemState().directSound, nullptr);
  // The library's shutdown stops it.
}

// ---- Failures that start-up rides out ------------------------------------------------------

TEST_F(SoundStartFailureTest, RefusedPrimaryFormatIsLoggedAndStartUpGoesOn) {
  sim::FailCall("SetFormat", 1);
  EXPECT_EQ(InitializeSoundSystem(), 0);
  std::string log = TakeLog();
  EXPECT_NE(log.find(std::string(kStartHead) +
                     "DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n"
                     "\tDirectSound デバイスを列挙します\n"),
            std::string::npos)
      << log;
  EXPECT_NE(GetSoundSystemState().silenceBuffer, nullptr);
}

TEST_F(SoundStartFailureTest, UnreadableCapsGiveZerosNotGarbage) {
  sim::FailCall("GetCaps", 1);
  EXPECT_EQ(InitializeSoundSystem(), 0);
  std::vector<sim::SoundCall> formats = CallsNamed("SetFormat");
  ASSERT_EQ(formats.size(), 1u);
  EXPECT_EQ(+formats[0].format.nSamplesPerSec, 0u);  // refused by the device, logged
  EXPECT_EQ(+formats[0].format.nChannels, 1);
  EXPECT_EQ(+formats[0].format.wBitsPerSample, 8);
  EXPECT_NE(TakeLog().find("フォーマット設定に失敗しました\n"), std::string::npos);
}

TEST_F(SoundStartFailureTest, SilenceBufferNotMadeContinuesTheLine) {
  sim::FailCreateSoundBufferFlags(DSBCAPS_GLOBALFOCUS | DSBCAPS_STATIC);
  EXPECT_EQ(InitializeSoundSystem(), 0);
  std::string log = TakeLog();
  // The message has no line break of its own: the next text follows on its line.
  EXPECT_NE(log.find("\n無音バッファの作成に失敗しましたDirectSound デバイスを列挙します\n"), std::string::npos) << log;
  EXPECT_EQ(GetSoundSystemState().silenceBuffer, nullptr);
  for (const sim::SoundBufferInfo& info : sim::SoundBuffers()) EXPECT_TRUE(info.primary);
}

TEST_F(SoundStartFailureTest, SilenceBufferNotLockedIsReleased) {
  sim::FailCall("Lock", 1);
  EXPECT_EQ(InitializeSoundSystem(), 0);
  std::string log = TakeLog();
  EXPECT_NE(log.find("\n無音バッファのロックに失敗しましたDirectSound デバイスを列挙します\n"), std::string::npos) << log;
  EXPECT_EQ(GetSoundSystemState().silenceBuffer, nullptr);
  for (const sim::SoundBufferInfo& info : sim::SoundBuffers()) EXPECT_TRUE(info.primary);
}

TEST_F(SoundStartFailureTest, SilenceBufferIsZeroedAndLoops) {
  sim::SetNewSoundBufferFill(0xA5);
  EXPECT_EQ(InitializeSoundSystem(), 0);
  IDirectSoundBuffer* silence = GetSoundSystemState().silenceBuffer;
  ASSERT_NE(silence, nullptr);
  sim::SoundBufferInfo info = Inspect(silence);
  EXPECT_EQ(info.flags, 0x8002u);
  EXPECT_EQ(info.bytes, 400u);
  EXPECT_TRUE(info.playing);
  EXPECT_TRUE(info.looping);
  EXPECT_EQ(+info.format.nSamplesPerSec, 44100u);
  EXPECT_EQ(+info.format.nChannels, 2);
  EXPECT_EQ(+info.format.wBitsPerSample, 16);
  EXPECT_EQ(sim::SoundBufferContents(silence), std::vector<std::uint8_t>(400, 0));
  sim::AdvanceTime(50);  // still playing: it loops
  EXPECT_TRUE(Inspect(silence).playing);
}

TEST_F(SoundStartFailureTest, StartUpResetsTheCreateTypeAndOggWidth) {
  EXPECT_EQ(GetSoundSystemState().OggSampleBytesSetting, 2);
  ASSERT_EQ(InitializeSoundSystem(), 0);
  EXPECT_EQ(SetCreateSoundDataType(3), 0);
  GetSoundSystemState().OggSampleBytesSetting = 1;
  ASSERT_EQ(TerminateSoundSystem(), 0);
  ASSERT_EQ(InitializeSoundSystem(), 0);
  EXPECT_EQ(GetSoundSystemState().createType, 0);
  EXPECT_EQ(GetSoundSystemState().OggSampleBytesSetting, 2);
}

// ---- Device report without the DLL --------------------------------------------------------

struct DllCase {
  bool present;
  bool exported;
  const char* message;
};
void PrintTo(const DllCase& c, std::ostream* os) { *os << (c.present ? "export missing" : "module missing"); }

class MissingDllTest : public SoundTest, public ::testing::WithParamInterface<DllCase> {
  void ConfigurePlatform() override { sim::SetSoundDllPresent(GetParam().present, GetParam().exported); }
};

TEST_P(MissingDllTest, NoDeviceOrCapsLinesAndTheIndentIsRestored) {
  std::string expected = std::string(kStartHead) + "\tDirectSound デバイスを列挙します\n\t\t" + GetParam().message +
                         "\n" + kStartDone;
  EXPECT_EQ(Between(startLog_, "DirectSound の初期化を行います", kStartDone), expected);
  EXPECT_NE(GetSoundSystemState().directSound, nullptr);
  EXPECT_EQ(sim::LiveModuleLoads(), 0);
  OutputLog("next\n");
  EXPECT_EQ(TakeLog(), "next\n");  // at the indent start-up began with
}

INSTANTIATE_TEST_SUITE_P(Dll, MissingDllTest,
                         ::testing::Values(DllCase{false, true, "DSOUND.DLL のロードに失敗しました"},
                                           DllCase{true, false,
                                                   "DirectSound デバイスの列挙用関数のポインタ取得に失敗しました"}),
                         [](const ::testing::TestParamInfo<DllCase>& info) {
                           return std::string(info.param.present ? "ExportMissing" : "ModuleMissing");
                         });

// ---- Shutdown --------------------------------------------------------------------------

TEST_F(SoundTest, ShutdownReleasesEverySoundAndTheDevice) {
  std::vector<std::uint8_t> pcm(4000, 1);
  int a = MakeMemorySound(soundtest::Pcm(2, 44100, 16), pcm, 5);
  int b = MakeMemorySound(soundtest::Pcm(1, 22050, 8), pcm, 1);
  ASSERT_NE(a, -1);
  ASSERT_NE(b, -1);
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(a)->buffers[2], 1), 0);
  EXPECT_GT(sim::LiveSoundObjects(), 0);
  ASSERT_EQ(TerminateSoundSystem(), 0);
  EXPECT_EQ(GetSoundTable().count, 0);
  EXPECT_EQ(sim::LiveSoundObjects(), 0);
  EXPECT_EQ(GetSoundSystemState().silenceBuffer, nullptr);
  // After shutdown every operation refuses.
  EXPECT_EQ(CheckSoundHandlePlaying(a), -1);
  EXPECT_EQ(GetSoundTotalSampleCount(b), -1);
  EXPECT_EQ(DeleteSoundHandle(a), -1);
  EXPECT_EQ(SetSoundHandleVolume(10, b), -1);
  EXPECT_EQ(AddSoundData(-1), -1);
}

}  // namespace
