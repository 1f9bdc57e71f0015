// The sound system inside the library's start-up and shutdown: the log text, the device
// report, the primary format, the silent buffer, every set-up failure; and the sound
// table: capacity, handles that name no sound, and what shutdown releases.
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

namespace {

const std::string kCd = Data("pcm_s16_44100.wav");
const std::string kStartHead =
    "DirectSound の初期化を行います\n"
    "DirectSound インターフェースの取得を行います....  成功\n"
    "引き続きインターフェースの初期化処理...  成功\n";
const std::string kStartDone = "DirectSound の初期化は正常に終了しました\n";

// Starts the library again after `configure` has set up the platform; the sound system's
// part of its start-up log.
std::string Restart(const std::function<void()>& configure) {
  TerminateLibrary();
  TakeLog();
  configure();
  EXPECT_EQ(InitializeLibrary(), 0);
  sim::ClearFailures();
  const std::string log = TakeLog();
  const std::size_t a = log.find("DirectSound の初期化を行います"), b = log.find(kStartDone, a);
  return a == std::string::npos || b == std::string::npos ? log : log.substr(a, b + kStartDone.size() - a);
}
TEST_F(SoundTest, StartupAndShutdownWriteTheExactLog) {
  const std::string log = Restart([] {
    DSCAPS caps = sim::DefaultSoundCaps();
    caps.dwFlags = DSCAPS_PRIMARYSTEREO | DSCAPS_PRIMARY16BIT | DSCAPS_SECONDARYMONO | DSCAPS_SECONDARY8BIT;
    caps.dwMinSecondarySampleRate = 100, caps.dwMaxSecondarySampleRate = 48000;
    caps.dwTotalHwMemBytes = 2048, caps.dwFreeHwMemBytes = 512;
    sim::SetSoundCaps(caps);
    sim::SetSoundDevices({{false, {}, "Primary Sound Driver", ""},
                          {true, GUID{1, 2, 3, {4}}, "Offline Mixer", "offline.drv"}});
  });
  EXPECT_EQ(log, kStartHead +
                     "\tDirectSound デバイスを列挙します\n"
                     "\t\tモジュール名:                 ドライバ記述:Primary Sound Driver \n"
                     "\t\tモジュール名:    offline.drv  ドライバ記述:Offline Mixer \n"
                     "\t最大サンプリングレート:48.00KHz 最小サンプリングレート:0.10KHz \n"
                     "\t総サウンドメモリ領域:2.00KB 空きサウンドメモリ領域:0.50KB \n\t\n"
                     "\t利用可能サンプリング精度\n"
                     "\t プライマリ １６bit = OK  ８bit = NO \n"
                     "\t セカンダリ １６bit = NO  ８bit = OK \n\t\n"
                     "\t利用可能チャンネル\n"
                     "\t プライマリ MONO = NO  STEREO = OK \n"
                     "\t セカンダリ MONO = OK  STEREO = NO \n\t\n" +
                     kStartDone);
  ASSERT_EQ(TerminateLibrary(), 0);
  EXPECT_NE(TakeLog().find("DirectSound の終了処理は正常に終了しました\n"), std::string::npos);
  // Without the DLL, or its entry point: no device or caps lines, and the indent is back.
  for (bool present : {false, true}) {
    const std::string missing = present ? "DirectSound デバイスの列挙用関数のポインタ取得に失敗しました"
                                        : "DSOUND.DLL のロードに失敗しました";
    EXPECT_EQ(Restart([=] { sim::SetSoundDllPresent(present, false); }),
              kStartHead + "\tDirectSound デバイスを列挙します\n\t\t" + missing + "\n" + kStartDone);
    EXPECT_EQ(sim::LiveModuleLoads(), 0);
    OutputLog("next\n");
    EXPECT_EQ(TakeLog(), "next\n");
  }
}

TEST_F(SoundTest, SetUpFailuresAreLoggedAndStopTheSoundSystemOrAreRiddenOut) {
  const std::string made =
      "DirectSound の初期化を行います\nDirectSound インターフェースの取得を行います....  ";
  const std::string listing = "DirectSound デバイスを列挙します\n";
  const struct {
    const char* call;  // refused once, or the silent buffer's creation
    std::string log;   // the silent buffer's messages have no line break of their own
    bool started, silence;
  } cases[] = {
      {"CoCreateInstance", made + "DirectSoundインターフェースの作成に失敗しました\n", false, false},
      {"Initialize", made + "成功\n引き続きインターフェースの初期化処理...  初期化に失敗しました\n", false,
       false},
      {"SetCooperativeLevel", kStartHead + "DirectSoundの協調レベルの設定に失敗しました\n", false, false},
      {"CreateSoundBuffer", kStartHead + "DirectSoundのプライマリサウンドバッファの作成に失敗しました\n",
       false, false},
      {"SetFormat", "フォーマット設定に失敗しました\n\t" + listing, true, true},
      {"silent", "\n無音バッファの作成に失敗しました" + listing, true, false},
      {"Lock", "\n無音バッファのロックに失敗しました" + listing, true, false},
      {"", listing, true, true}};
  for (const auto& c : cases) {
    const std::string log = Restart([&] {
      sim::SetNewSoundBufferFill(0xA5);
      if (*c.call != '\0')
        c.call == std::string("silent") ? sim::FailCreateSoundBufferFlags(kSilenceFlags)
                                        : sim::FailCall(c.call, 1);
    });
    sim::FailCreateSoundBufferFlags(kSilenceFlags, false);
    EXPECT_NE(log.find(c.log), std::string::npos) << log;
    EXPECT_EQ(sim::SoundBuffers().empty(), !c.started) << c.call;
    EXPECT_EQ(PlaySoundHandle(Load(kCd), kSoundPlayBackground), c.started ? 0 : -1) << c.call;
    // The silent buffer: 400 bytes of silence at the output format, looping.
    ASSERT_EQ(Buffers(kSilenceFlags).size(), std::size_t{c.silence}) << c.call;
    if (!c.silence) continue;
    sim::AdvanceTime(50);
    const sim::SoundBufferInfo info = Inspect(Buffers(kSilenceFlags)[0]);
    EXPECT_EQ(std::vector<DWORD>({info.bytes, info.looping, info.playing, info.format.nSamplesPerSec,
                                  info.format.nChannels, info.format.wBitsPerSample}),
              std::vector<DWORD>({400, 1, 1, 44100, 2, 16}));
    EXPECT_EQ(sim::SoundBufferContents(info.object), Bytes(400, 0));
  }
}

// ---- The sound table -------------------------------------------------------------------------

TEST_F(SoundTest, HandlesThatNameNoSoundAreRefusedByEveryOperation) {
  const int old = Load(kCd, 0, 2);
  ASSERT_EQ(DeleteSoundHandle(old), 0);
  const int reused = Load(kCd, 0, 2), slot = reused & 0xFFFF;
  ASSERT_EQ(slot, old & 0xFFFF);  // the same slot, another check number
  TakeLog();
  sim::ClearSoundCalls();
  for (int h : {old, -1, 0, 0x10000000 | 4095, 0x10000000 | 4096, 0x10000000 | 0xFFFF, 0x08000000 | slot, -2,
                static_cast<int>(0x90000000u) | slot, reused ^ 0x00010000}) {
    EXPECT_EQ(Ints({DeleteSoundHandle(h), CheckSoundHandlePlaying(h), GetSoundTotalSampleCount(h),
                    SetSoundHandleVolume(100, h), SetSoundPlayPosition(4, h), SetSoundPlayPositionMs(1, h),
                    GetSoundPlayPosition(h), PlaySoundHandle(h, kSoundPlayWait), StopSoundHandle(h),
                    SetSoundLoopPoint(0, h)}),
              Ints(10, -1))
        << h;
  }
  EXPECT_TRUE(sim::SoundCalls().empty());
  EXPECT_EQ(TakeLog(), "");
  EXPECT_EQ(Ints({GetSoundTotalSampleCount(reused), SetCreateSoundDataType(4), SetCreateSoundDataType(-1),
                  SetCreateSoundDataType(3)}),
            Ints({11025, -1, -1, 0}));
  // A restart makes memory sounds again; with the sound system off every operation refuses.
  Restart([] {});
  EXPECT_NE(LoadSoundFile(kCd.c_str(), 2, -1), -1);
  EXPECT_EQ(Buffers().size(), 2u);
  Restart([] { SetNoSoundFlag(1); });
  EXPECT_TRUE(sim::SoundBuffers().empty());
  EXPECT_EQ(Ints({Load(kCd), SetCreateSoundDataType(0), DeleteSoundHandle(reused),
                  CheckSoundHandlePlaying(reused), PlaySoundHandle(reused, 1)}),
            Ints(5, -1));
}

TEST_F(SoundTest, TableHolds4096Sounds) {
  const std::string tiny = Write("tiny.wav", Wave16(Bytes(16, 0)));
  for (int i = 0; i < 4096; ++i) ASSERT_NE(Load(tiny), -1) << i;
  EXPECT_EQ(Ints({static_cast<int>(Buffers().size()), Load(tiny)}), Ints({4096, -1}));
  EXPECT_NE(TakeLog().find("サウンドの数が許容量を越えました\n"), std::string::npos);
}

}  // namespace
