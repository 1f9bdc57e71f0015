// Start-up and shutdown of the sound system: the log text, the device set-up and its
// failures, the silent buffer and the device report.
#include "gamelib/sound_load.h"
#include "sound/memory_sound.h"
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

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

constexpr DWORD kAllFormats = DSCAPS_PRIMARYMONO | DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT |
                              DSCAPS_PRIMARY16BIT | DSCAPS_SECONDARYMONO | DSCAPS_SECONDARYSTEREO |
                              DSCAPS_SECONDARY8BIT | DSCAPS_SECONDARY16BIT;

const std::string kStartHead =
    "DirectSound の初期化を行います\n"
    "DirectSound インターフェースの取得を行います....  成功\n"
    "引き続きインターフェースの初期化処理...  成功\n";
const std::string kStartDone = "DirectSound の初期化は正常に終了しました\n";

// The start-up part of the log.
std::string StartPart(const std::string& log) {
  const std::size_t a = log.find("DirectSound の初期化を行います"), b = log.find(kStartDone, a);
  return a == std::string::npos || b == std::string::npos ? log : log.substr(a, b + kStartDone.size() - a);
}

// ---- The full report ------------------------------------------------------------------

class SoundReportTest : public SoundTest {
  void ConfigurePlatform() override {
    sim::SetSoundCaps(
        Caps(DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT | DSCAPS_SECONDARYMONO | DSCAPS_SECONDARY8BIT, 100,
             48000, 2048, 512));
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

TEST_F(SoundReportTest, StartupAndShutdownWriteTheExactLogAndStartingTwiceIsRefused) {
  EXPECT_EQ(StartPart(startLog_), kStartHead +
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
                                      kStartDone);
  const int creates = sim::CallCount("CoCreateInstance");
  const int live = sim::LiveSoundObjects();
  sim::ClearSoundCalls();
  EXPECT_EQ(InitializeSoundSystem(), -1);
  EXPECT_EQ(sim::CallCount("CoCreateInstance"), creates);
  EXPECT_EQ(sim::LiveSoundObjects(), live);
  EXPECT_TRUE(sim::SoundCalls().empty());
  EXPECT_EQ(TakeLog(), "");

  ASSERT_EQ(TerminateSoundSystem(), 0);
  EXPECT_EQ(TakeLog(), "DirectSound の終了処理は正常に終了しました\n");
  EXPECT_EQ(sim::LiveSoundObjects(), 0);
  EXPECT_EQ(sim::LiveModuleLoads(), 0);
  EXPECT_EQ(TerminateSoundSystem(), -1);
}

// ---- The primary format follows the capabilities -----------------------------------------

struct PrimaryCase {
  DWORD flags, maxRate;
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
  const std::vector<sim::SoundCall> calls = CallsNamed("SetFormat");
  ASSERT_EQ(calls.size(), 1u);
  ASSERT_TRUE(calls[0].hasFormat);
  // Packed fields are read by value: the record is not aligned.
  EXPECT_EQ(+calls[0].format.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(+calls[0].format.nChannels, c.channels);
  EXPECT_EQ(+calls[0].format.nSamplesPerSec, c.rate);
  EXPECT_EQ(+calls[0].format.wBitsPerSample, c.bits);
  EXPECT_EQ(+calls[0].format.nBlockAlign, c.channels * c.bits / 8);
  EXPECT_EQ(+calls[0].format.nAvgBytesPerSec, c.channels * c.bits / 8 * c.rate);
  EXPECT_GE(calls[0].result, 0);
}

INSTANTIATE_TEST_SUITE_P(Caps, PrimaryFormatTest,
                         ::testing::Values(PrimaryCase{kAllFormats, 48000, 2, 44100, 16},
                                           PrimaryCase{kAllFormats, 44100, 2, 44100, 16},
                                           PrimaryCase{kAllFormats, 22050, 2, 22050, 16},
                                           PrimaryCase{DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY8BIT, 48000, 2,
                                                       44100, 8},
                                           PrimaryCase{DSCAPS_PRIMARY8BIT, 11025, 1, 11025, 8}),
                         [](const ::testing::TestParamInfo<PrimaryCase>& info) {
                           return "Caps" + std::to_string(info.param.flags) + "Max" +
                                  std::to_string(info.param.maxRate);
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
  const int fake = 0x10000000;
  EXPECT_EQ(DeleteSoundHandle(fake), -1);
  EXPECT_EQ(CheckSoundHandlePlaying(fake), -1);
  EXPECT_EQ(GetSoundTotalSampleCount(fake), -1);
  EXPECT_EQ(SetSoundHandleVolume(255, fake), -1);
  EXPECT_EQ(SetSoundPlayPosition(0, fake), -1);
  EXPECT_EQ(SetSoundPlayPositionMs(0, fake), -1);
  EXPECT_EQ(GetSoundPlayPosition(fake), -1);
  EXPECT_EQ(PlaySoundHandle(fake, 1, 1), -1);
  EXPECT_EQ(StopSoundHandle(fake), -1);
  const Bytes image = ReadFileBytes(DataDir() / "pcm_m8_22050.wav");
  EXPECT_EQ(LoadSoundFile(DataPath("pcm_m8_22050.wav").c_str(), 1, -1), -1);
  EXPECT_EQ(CreateMemorySound(image.data(), static_cast<int>(image.size()), 1), -1);
}

TEST_F(SoundStartFailureTest, RefusedSetUpStepsAreLoggedAndLeaveNothing) {
  const std::string made =
      "DirectSound の初期化を行います\nDirectSound インターフェースの取得を行います....  ";
  const struct {
    const char* call;
    std::string log;
  } cases[] = {
      {"CoCreateInstance", made + "DirectSoundインターフェースの作成に失敗しました\n"},
      {"Initialize", made + "成功\n引き続きインターフェースの初期化処理...  初期化に失敗しました\n"},
      {"SetCooperativeLevel", kStartHead + "DirectSoundの協調レベルの設定に失敗しました\n"},
      {"CreateSoundBuffer", kStartHead + "DirectSoundのプライマリサウンドバッファの作成に失敗しました\n"},
  };
  for (const auto& c : cases) {
    sim::FailCall(c.call, 1);
    EXPECT_EQ(InitializeSoundSystem(), -1) << c.call;
    EXPECT_EQ(TakeLog(), c.log) << c.call;
    ExpectNotStarted();
  }
  // A failed start can be retried.
  EXPECT_EQ(InitializeSoundSystem(), 0);
  EXPECT_NE(GetSoundSystemState().directSound, nullptr);
}

TEST_F(SoundStartFailureTest, FailuresThatStartUpRidesOutAreLogged) {
  const struct {
    const char* call;  // or the flags of the silent buffer
    std::string log;
    bool silence;
  } cases[] = {
      {"SetFormat",
       kStartHead + "DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n\tDirectSound "
                    "デバイスを列挙します\n",
       true},
      // These messages have no line break of their own: the next text follows on the line.
      {nullptr, "\n無音バッファの作成に失敗しましたDirectSound デバイスを列挙します\n", false},
      {"Lock", "\n無音バッファのロックに失敗しましたDirectSound デバイスを列挙します\n", false},
  };
  for (const auto& c : cases) {
    if (c.call != nullptr) {
      sim::FailCall(c.call, 1);
    } else {
      sim::FailCreateSoundBufferFlags(DSBCAPS_GLOBALFOCUS | DSBCAPS_STATIC);
    }
    EXPECT_EQ(InitializeSoundSystem(), 0);
    const std::string log = TakeLog();
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
    EXPECT_EQ(GetSoundSystemState().silenceBuffer != nullptr, c.silence);
    for (const sim::SoundBufferInfo& info : sim::SoundBuffers()) EXPECT_TRUE(c.silence || info.primary);
    ASSERT_EQ(TerminateSoundSystem(), 0);
    TakeLog();
    sim::FailCreateSoundBufferFlags(DSBCAPS_GLOBALFOCUS | DSBCAPS_STATIC, false);
  }
  // Unreadable caps give zeros, not garbage (a format the device refuses, logged).
  sim::ClearSoundCalls();
  sim::FailCall("GetCaps", 1);
  EXPECT_EQ(InitializeSoundSystem(), 0);
  const std::vector<sim::SoundCall> formats = CallsNamed("SetFormat");
  ASSERT_EQ(formats.size(), 1u);
  EXPECT_EQ(+formats[0].format.nSamplesPerSec, 0u);
  EXPECT_EQ(+formats[0].format.nChannels, 1);
  EXPECT_EQ(+formats[0].format.wBitsPerSample, 8);
  EXPECT_NE(TakeLog().find("フォーマット設定に失敗しました\n"), std::string::npos);
}

TEST_F(SoundStartFailureTest, SilenceBufferIsZeroedAndLoopsAndRestartResetsTheSettings) {
  sim::SetNewSoundBufferFill(0xA5);
  EXPECT_EQ(GetSoundSystemState().OggSampleBytesSetting, 2);
  ASSERT_EQ(InitializeSoundSystem(), 0);
  IDirectSoundBuffer* silence = GetSoundSystemState().silenceBuffer;
  ASSERT_NE(silence, nullptr);
  const sim::SoundBufferInfo info = Inspect(silence);
  EXPECT_EQ(info.flags, 0x8002u);
  EXPECT_EQ(info.bytes, 400u);
  EXPECT_TRUE(info.looping);
  EXPECT_EQ(+info.format.nSamplesPerSec, 44100u);
  EXPECT_EQ(+info.format.nChannels, 2);
  EXPECT_EQ(+info.format.wBitsPerSample, 16);
  EXPECT_EQ(sim::SoundBufferContents(silence), Bytes(400, 0));
  sim::AdvanceTime(50);  // still playing: it loops
  EXPECT_TRUE(Inspect(silence).playing);
  // A restart resets the create type and the Ogg sample width.
  EXPECT_EQ(SetCreateSoundDataType(3), 0);
  GetSoundSystemState().OggSampleBytesSetting = 1;
  ASSERT_EQ(TerminateSoundSystem(), 0);
  ASSERT_EQ(InitializeSoundSystem(), 0);
  EXPECT_EQ(GetSoundSystemState().createType, 0);
  EXPECT_EQ(GetSoundSystemState().OggSampleBytesSetting, 2);
}

// ---- Device report without the DLL --------------------------------------------------------

struct DllCase {
  bool present, exported;
  const char* message;
};
void PrintTo(const DllCase& c, std::ostream* os) { *os << (c.present ? "export missing" : "module missing"); }

class MissingDllTest : public SoundTest, public ::testing::WithParamInterface<DllCase> {
  void ConfigurePlatform() override { sim::SetSoundDllPresent(GetParam().present, GetParam().exported); }
};

TEST_P(MissingDllTest, NoDeviceOrCapsLinesAndTheIndentIsRestored) {
  EXPECT_EQ(StartPart(startLog_),
            kStartHead + "\tDirectSound デバイスを列挙します\n\t\t" + GetParam().message + "\n" + kStartDone);
  EXPECT_NE(GetSoundSystemState().directSound, nullptr);
  EXPECT_EQ(sim::LiveModuleLoads(), 0);
  OutputLog("next\n");
  EXPECT_EQ(TakeLog(), "next\n");  // at the indent start-up began with
}

INSTANTIATE_TEST_SUITE_P(
    Dll, MissingDllTest,
    ::testing::Values(DllCase{false, true, "DSOUND.DLL のロードに失敗しました"},
                      DllCase{true, false, "DirectSound デバイスの列挙用関数のポインタ取得に失敗しました"}),
    [](const ::testing::TestParamInfo<DllCase>& info) {
      return std::string(info.param.present ? "ExportMissing" : "ModuleMissing");
    });

// ---- Shutdown --------------------------------------------------------------------------

TEST_F(SoundTest, ShutdownReleasesEverySoundAndTheDevice) {
  const int a = MakeMemorySound(Pcm(2, 44100, 16), Bytes(4000, 1), 5);
  const int b = MakeMemorySound(Pcm(1, 22050, 8), Bytes(4000, 1), 1);
  ASSERT_NE(b, -1);
  ASSERT_EQ(PlaySoundBufferWrapper(&Record(a)->buffers[2], 1), 0);
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
