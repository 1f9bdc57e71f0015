// Start-up and shutdown of the sound system: the device object, its primary buffer,
// a silent buffer that keeps the device running, and the device report in the log.
#include "sound/sound_system.h"

#include <cstring>

#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "sound/music.h"
#include "sound/sound_handles.h"
#include "sound/sound_state.h"

namespace gamelib {
namespace {

constexpr DWORD kPrimaryRateCap = 44100;
constexpr DWORD kSilenceBlocks = 100;

// Releases a half-made device so that the sound system stays not started.
int GiveUpDevice(const char* message) {
  SoundSystemState& state = GetSoundSystemState();
  if (state.primaryBuffer != nullptr) {
    state.primaryBuffer->Release();
    state.primaryBuffer = nullptr;
  }
  if (state.directSound != nullptr) {
    state.directSound->Release();
    state.directSound = nullptr;
  }
  return OutputLog(message);
}

// The capabilities, all zero when the device does not report them.
DSCAPS ReadCaps(IDirectSound* device) {
  DSCAPS caps;
  std::memset(&caps, 0, sizeof(caps));
  caps.dwSize = DSCAPS_DWSIZE;
  if (FAILED(device->GetCaps(&caps))) {
    std::memset(&caps, 0, sizeof(caps));
  }
  return caps;
}

void SetPrimaryFormat(SoundSystemState& state) {
  DSCAPS caps = ReadCaps(state.directSound);
  WAVEFORMATEX format;
  std::memset(&format, 0, sizeof(format));
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = (caps.dwFlags & DSCAPS_PRIMARYSTEREO) != 0 ? 2 : 1;
  format.wBitsPerSample = (caps.dwFlags & DSCAPS_PRIMARY16BIT) != 0 ? 16 : 8;
  format.nSamplesPerSec =
      caps.dwMaxSecondarySampleRate >= kPrimaryRateCap ? kPrimaryRateCap : caps.dwMaxSecondarySampleRate;
  format.nBlockAlign = static_cast<WORD>(format.wBitsPerSample / 8 * format.nChannels);
  format.nAvgBytesPerSec = format.nBlockAlign * format.nSamplesPerSec;
  format.cbSize = 0;
  if (FAILED(state.primaryBuffer->SetFormat(&format))) {
    OutputLog("DirectSoundのプライマリサウンドバッファのフォーマット設定に失敗しました\n");
  }
}

// A short silent buffer that loops until shutdown. Failures are logged and start-up
// goes on without it.
void StartSilenceBuffer(SoundSystemState& state) {
  WAVEFORMATEX format;
  std::memset(&format, 0, sizeof(format));
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = 44100;
  format.nAvgBytesPerSec = 176400;
  format.nBlockAlign = 4;
  format.wBitsPerSample = 16;
  format.cbSize = 0;

  DSBUFFERDESC description;
  std::memset(&description, 0, sizeof(description));
  description.dwSize = DSBUFFERDESC_DWSIZE;
  description.dwFlags = DSBCAPS_GLOBALFOCUS | DSBCAPS_STATIC;
  description.dwBufferBytes = format.nBlockAlign * kSilenceBlocks;
  description.lpwfxFormat = &format;

  IDirectSoundBuffer* buffer = nullptr;
  if (FAILED(state.directSound->CreateSoundBuffer(&description, &buffer, nullptr)) || buffer == nullptr) {
    OutputLog("無音バッファの作成に失敗しました");
    return;
  }
  void* part1 = nullptr;
  void* part2 = nullptr;
  DWORD bytes1 = 0;
  DWORD bytes2 = 0;
  if (FAILED(buffer->Lock(0, description.dwBufferBytes, &part1, &bytes1, &part2, &bytes2, 0))) {
    OutputLog("無音バッファのロックに失敗しました");
    buffer->Release();
    return;
  }
  if (part1 != nullptr) std::memset(part1, 0, bytes1);
  if (part2 != nullptr) std::memset(part2, 0, bytes2);
  buffer->Unlock(part1, bytes1, part2, bytes2);
  buffer->Play(0, 0, DSBPLAY_LOOPING);
  state.silenceBuffer = buffer;
}

const char* OkOrNo(DWORD flags, DWORD bit) { return (flags & bit) != 0 ? "OK" : "NO"; }

void WriteCapsReport(const DSCAPS& caps) {
  OutputLogFormat("最大サンプリングレート:%.2fKHz 最小サンプリングレート:%.2fKHz ",
                  caps.dwMaxSecondarySampleRate / 1000.0, caps.dwMinSecondarySampleRate / 1000.0);
  OutputLogFormat("総サウンドメモリ領域:%.2fKB 空きサウンドメモリ領域:%.2fKB \n",
                  caps.dwTotalHwMemBytes / 1024.0, caps.dwFreeHwMemBytes / 1024.0);
  OutputLog("利用可能サンプリング精度\n");
  OutputLogFormat(" プライマリ １６bit = %s  ８bit = %s ", OkOrNo(caps.dwFlags, DSCAPS_PRIMARY16BIT),
                  OkOrNo(caps.dwFlags, DSCAPS_PRIMARY8BIT));
  OutputLogFormat(" セカンダリ １６bit = %s  ８bit = %s \n", OkOrNo(caps.dwFlags, DSCAPS_SECONDARY16BIT),
                  OkOrNo(caps.dwFlags, DSCAPS_SECONDARY8BIT));
  OutputLog("利用可能チャンネル\n");
  OutputLogFormat(" プライマリ MONO = %s  STEREO = %s ", OkOrNo(caps.dwFlags, DSCAPS_PRIMARYMONO),
                  OkOrNo(caps.dwFlags, DSCAPS_PRIMARYSTEREO));
  OutputLogFormat(" セカンダリ MONO = %s  STEREO = %s \n", OkOrNo(caps.dwFlags, DSCAPS_SECONDARYMONO),
                  OkOrNo(caps.dwFlags, DSCAPS_SECONDARYSTEREO));
}

// The devices and the capabilities, in the log. The indent is back where it was
// on every way out.
void WriteDeviceReport(IDirectSound* device) {
  IncreaseLogIndent();
  DSCAPS caps = ReadCaps(device);
  OutputLog("DirectSound デバイスを列挙します\n");
  IncreaseLogIndent();
  HMODULE dll = LoadLibraryA("DSOUND.DLL");
  if (dll == nullptr) {
    OutputLog("DSOUND.DLL のロードに失敗しました\n");
    DecreaseLogIndent();
    DecreaseLogIndent();
    return;
  }
  auto enumerate = reinterpret_cast<LPDIRECTSOUNDENUMERATEA>(GetProcAddress(dll, "DirectSoundEnumerateA"));
  if (enumerate == nullptr) {
    FreeLibrary(dll);
    OutputLog("DirectSound デバイスの列挙用関数のポインタ取得に失敗しました\n");
    DecreaseLogIndent();
    DecreaseLogIndent();
    return;
  }
  enumerate(LogSoundDriverCallback, nullptr);
  DecreaseLogIndent();
  WriteCapsReport(caps);
  DecreaseLogIndent();
  FreeLibrary(dll);
}

}  // namespace

int DeleteAllSoundHandles() {
  if (!SoundSystemStarted()) return -1;
  // Each slot is looked at afresh: deleting one sound may delete another with it.
  for (int slot = 0; slot < kMaxSoundHandles; ++slot) {
    const int handle = GetSoundHandleAt(slot);
    if (handle != -1) DeleteSoundHandle(handle, 0);
  }
  return 0;
}

BOOL LogSoundDriverCallback(GUID*, const char* description, const char* module, void*) {
  OutputLogFormat("モジュール名:%15s  ドライバ記述:%s ", module != nullptr ? module : "",
                  description != nullptr ? description : "");
  return TRUE;
}

int InitializeSoundSystem() {
  SoundSystemState& state = GetSoundSystemState();
  if (state.directSound != nullptr) return -1;

  OutputLog("DirectSound の初期化を行います\n");
  OutputLog("DirectSound インターフェースの取得を行います....  ");
  IDirectSound* device = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_DirectSound, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER,
                                IID_IDirectSound, reinterpret_cast<void**>(&device));
  if (FAILED(hr) || device == nullptr) {
    if (device != nullptr) device->Release();
    state.directSound = nullptr;
    return OutputLog("DirectSoundインターフェースの作成に失敗しました\n");
  }
  state.directSound = device;
  OutputLog("成功\n");

  OutputLog("引き続きインターフェースの初期化処理...  ");
  if (FAILED(device->Initialize(nullptr))) return GiveUpDevice("初期化に失敗しました\n");
  OutputLog("成功\n");

  if (FAILED(device->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY))) {
    return GiveUpDevice("DirectSoundの協調レベルの設定に失敗しました\n");
  }

  DSBUFFERDESC primary;
  std::memset(&primary, 0, sizeof(primary));
  primary.dwSize = DSBUFFERDESC_DWSIZE;
  primary.dwFlags = DSBCAPS_PRIMARYBUFFER;
  IDirectSoundBuffer* primaryBuffer = nullptr;
  if (FAILED(device->CreateSoundBuffer(&primary, &primaryBuffer, nullptr)) || primaryBuffer == nullptr) {
    return GiveUpDevice("DirectSoundのプライマリサウンドバッファの作成に失敗しました\n");
  }
  state.primaryBuffer = primaryBuffer;
  SetPrimaryFormat(state);

  StartSilenceBuffer(state);

  state.createType = kSoundCreateMemory;
  state.OggSampleBytesSetting = 2;
  InitLinkedList(&state.SoundStreamList.head, &state.SoundStreamList.tail);

  WriteDeviceReport(device);

  OutputLog("DirectSound の初期化は正常に終了しました\n");
  DeleteAllSoundHandles();
  return 0;
}

int TerminateSoundSystem() {
  SoundSystemState& state = GetSoundSystemState();
  if (state.directSound == nullptr) return -1;

  CloseWaveCaptureFile();
  DeleteAllSoundHandles();
  DeleteAllMusicHandles();
  DeleteMusicTempFile();

  if (state.primaryBuffer != nullptr) {
    state.primaryBuffer->Stop();
    state.primaryBuffer->Release();
    state.primaryBuffer = nullptr;
  }
  if (state.silenceBuffer != nullptr) {
    state.silenceBuffer->Stop();
    state.silenceBuffer->Release();
    state.silenceBuffer = nullptr;
  }
  state.directSound->Release();
  state.directSound = nullptr;
  OutputLog("DirectSound の終了処理は正常に終了しました\n");
  return 0;
}

}  // namespace gamelib
