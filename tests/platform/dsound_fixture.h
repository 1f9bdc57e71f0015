// A started sound device on the virtual clock, and helpers to make and fill buffers.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/dsound.h"
#include "platform_fixture.h"

inline WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEX f{};
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * rate;
  return f;
}

inline std::vector<std::uint8_t> NoiseBytes(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> data(n);
  for (auto& b : data) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 23);
  }
  return data;
}

class DsoundTest : public PlatformTest {
 protected:
  static constexpr DWORD kMemoryFlags = 0x80E2;  // global focus, volume, pan, frequency, static

  void SetUp() override {
    PlatformTest::SetUp();
    sim::UseVirtualClock(true);
    CoInitialize(nullptr);
    ASSERT_EQ(
        CoCreateInstance(CLSID_DirectSound, nullptr, 7, IID_IDirectSound, reinterpret_cast<void**>(&ds)),
        S_OK);
    ASSERT_EQ(ds->Initialize(nullptr), DS_OK);
    ASSERT_EQ(ds->SetCooperativeLevel(GetDesktopWindow(), DSSCL_PRIORITY), DS_OK);
  }

  void TearDown() override {
    for (auto* b : buffers) b->Release();
    buffers.clear();
    if (ds != nullptr) {
      EXPECT_EQ(ds->Release(), 0u);
    }
    ds = nullptr;
    EXPECT_EQ(sim::LiveSoundObjects(), 0);
    CoUninitialize();
    PlatformTest::TearDown();
  }

  // A buffer released by TearDown; null when the device refuses it.
  IDirectSoundBuffer* Make(WAVEFORMATEX format, DWORD bytes, DWORD flags = kMemoryFlags,
                           HRESULT* result = nullptr) {
    DSBUFFERDESC desc{};
    desc.dwSize = DSBUFFERDESC_DWSIZE;
    desc.dwFlags = flags;
    desc.dwBufferBytes = bytes;
    desc.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    HRESULT hr = ds->CreateSoundBuffer(&desc, &buffer, nullptr);
    if (result != nullptr) *result = hr;
    if (buffer != nullptr) buffers.push_back(buffer);
    return buffer;
  }

  static void Write(IDirectSoundBuffer* buffer, DWORD offset, const std::vector<std::uint8_t>& bytes) {
    void* p1 = nullptr;
    void* p2 = nullptr;
    DWORD n1 = 0;
    DWORD n2 = 0;
    ASSERT_EQ(buffer->Lock(offset, static_cast<DWORD>(bytes.size()), &p1, &n1, &p2, &n2, 0), DS_OK);
    std::memcpy(p1, bytes.data(), n1);
    if (n2 != 0) std::memcpy(p2, bytes.data() + n1, n2);
    ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
  }

  IDirectSoundBuffer* MakeFilled(WAVEFORMATEX format, const std::vector<std::uint8_t>& bytes,
                                 DWORD flags = kMemoryFlags) {
    IDirectSoundBuffer* buffer = Make(format, static_cast<DWORD>(bytes.size()), flags);
    if (buffer != nullptr) Write(buffer, 0, bytes);
    return buffer;
  }

  // Forgets a buffer the test released itself.
  void Forget(IDirectSoundBuffer* buffer) { std::erase(buffers, buffer); }

  static DWORD Cursor(IDirectSoundBuffer* buffer) {
    DWORD play = 0xFFFFFFFFu;
    EXPECT_EQ(buffer->GetCurrentPosition(&play, nullptr), DS_OK);
    return play;
  }

  static DWORD Status(IDirectSoundBuffer* buffer) {
    DWORD status = 0xFFFFFFFFu;
    EXPECT_EQ(buffer->GetStatus(&status), DS_OK);
    return status;
  }

  static std::vector<std::int16_t> Mixed() {
    std::vector<std::int16_t> frames;
    sim::ReadMixedOutput(frames);
    return frames;
  }

  IDirectSound* ds = nullptr;
  std::vector<IDirectSoundBuffer*> buffers;
};
