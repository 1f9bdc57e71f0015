// A started sound device on the virtual clock, helpers to make and fill buffers, and
// the reference the mixer is held to: speexdsp run directly, rounded as the mixer does.
#pragma once

#include <speex/speex_resampler.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/dsound.h"
#include "platform_fixture.h"

inline WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
  const WORD align = static_cast<WORD>(channels * bits / 8);
  return {WAVE_FORMAT_PCM, channels, rate, align * rate, align, bits, 0};
}

inline std::vector<std::uint8_t> NoiseBytes(std::size_t n, std::uint32_t seed) {
  std::vector<std::uint8_t> data(n);
  for (auto& b : data) {
    seed = seed * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(seed >> 23);
  }
  return data;
}

inline std::int16_t Rounded(float v) {
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return static_cast<std::int16_t>(std::lrintf(v));
}

// A buffer's samples as the mixer reads them: 8-bit centred and widened.
inline std::vector<float> Floats(const std::vector<std::uint8_t>& bytes, WORD bits) {
  std::vector<float> out;
  if (bits == 8) {
    for (std::uint8_t v : bytes) out.push_back(static_cast<float>((v - 128) * 256));
    return out;
  }
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    std::int16_t v;
    std::memcpy(&v, bytes.data() + i, 2);
    out.push_back(static_cast<float>(v));
  }
  return out;
}

// A fresh resampler of the mixer's quality over `in` in one call, as 16-bit stereo,
// padded with silence to `frames`.
inline std::vector<std::int16_t> Resampled(const std::vector<float>& in, WORD channels, DWORD rate,
                                           std::size_t frames) {
  int error = 0;
  SpeexResamplerState* st = speex_resampler_init(channels, rate, 44100, sim::kSoundResamplerQuality, &error);
  std::vector<float> out(frames * channels);
  spx_uint32_t used = static_cast<spx_uint32_t>(in.size() / channels);
  spx_uint32_t made = static_cast<spx_uint32_t>(frames);
  speex_resampler_process_interleaved_float(st, in.data(), &used, out.data(), &made);
  speex_resampler_destroy(st);
  std::vector<std::int16_t> stereo(2 * frames, 0);
  for (std::size_t i = 0; i < made; ++i) {
    for (int c = 0; c < 2; ++c) stereo[2 * i + c] = Rounded(out[i * channels + (channels == 2 ? c : 0)]);
  }
  return stereo;
}

// The first mismatching frame, -1 when equal, -2 when the lengths differ.
inline long FirstDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  if (a.size() != b.size()) return -2;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i / 2);
  }
  return -1;
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
    if (ds != nullptr) {
      EXPECT_EQ(ds->Release(), 0u);
    }
    EXPECT_EQ(sim::LiveSoundObjects(), 0);
    CoUninitialize();
    PlatformTest::TearDown();
  }

  // A buffer released by TearDown; null when the device refuses it.
  IDirectSoundBuffer* Make(WAVEFORMATEX format, DWORD bytes, DWORD flags = kMemoryFlags,
                           HRESULT* result = nullptr) {
    DSBUFFERDESC desc{DSBUFFERDESC_DWSIZE, flags, bytes, 0, &format, {}};
    IDirectSoundBuffer* buffer = nullptr;
    HRESULT hr = ds->CreateSoundBuffer(&desc, &buffer, nullptr);
    if (result != nullptr) *result = hr;
    if (buffer != nullptr) buffers.push_back(buffer);
    return buffer;
  }

  IDirectSoundBuffer* Duplicate(IDirectSoundBuffer* source) {
    IDirectSoundBuffer* duplicate = nullptr;
    EXPECT_EQ(ds->DuplicateSoundBuffer(source, &duplicate), DS_OK);
    if (duplicate != nullptr) buffers.push_back(duplicate);
    return duplicate;
  }

  static void Write(IDirectSoundBuffer* buffer, DWORD offset, const std::vector<std::uint8_t>& bytes) {
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    ASSERT_EQ(buffer->Lock(offset, static_cast<DWORD>(bytes.size()), &p1, &n1, &p2, &n2, 0), DS_OK);
    std::memcpy(p1, bytes.data(), n1);
    if (n2 != 0) std::memcpy(p2, bytes.data() + n1, n2);
    ASSERT_EQ(buffer->Unlock(p1, n1, p2, n2), DS_OK);
  }

  IDirectSoundBuffer* MakeFilled(WAVEFORMATEX format, const std::vector<std::uint8_t>& bytes) {
    IDirectSoundBuffer* buffer = Make(format, static_cast<DWORD>(bytes.size()));
    if (buffer != nullptr) Write(buffer, 0, bytes);
    return buffer;
  }

  // Releases a buffer before TearDown.
  void Drop(IDirectSoundBuffer* buffer) {
    std::erase(buffers, buffer);
    EXPECT_EQ(buffer->Release(), 0u);
  }

  // The play cursor; the write cursor must stand on it (no lead).
  static DWORD Cursor(IDirectSoundBuffer* buffer) {
    DWORD play = 0xFFFFFFFFu, write = 0xEEEEEEEEu;
    EXPECT_EQ(buffer->GetCurrentPosition(&play, &write), DS_OK);
    EXPECT_EQ(play, write);
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

  static std::vector<std::int16_t> MixedAfter(unsigned ms) {
    sim::AdvanceTime(ms);
    return Mixed();
  }

  IDirectSound* ds = nullptr;
  std::vector<IDirectSoundBuffer*> buffers;
};
