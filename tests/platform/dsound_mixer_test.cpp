// The mixer through the offline output: exact frames for exact time, bit-exact
// pass-through, gain, conversion, the resampler's own output, saturation.
#include <speex/speex_resampler.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "dsound_fixture.h"

namespace {

using Mixer = DsoundTest;

std::int16_t Rounded(float v) {
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return static_cast<std::int16_t>(std::lrintf(v));
}

std::vector<std::int16_t> AsSamples(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::int16_t> s(bytes.size() / 2);
  std::memcpy(s.data(), bytes.data(), s.size() * 2);
  return s;
}

TEST_F(Mixer, TheClockMakesExactlyItsFramesAndNothingElse) {
  EXPECT_EQ(sim::SoundOutputName(), "offline");
  // Uneven steps: frames = floor(t * 44100 / 1e6) in all, whatever the steps.
  std::size_t total = 0;
  std::uint64_t t = 0;
  for (std::uint64_t step : {1u, 7u, 22u, 23u, 999u, 12345u, 1u, 100000u}) {
    sim::AdvanceTimeMicros(step);
    t += step;
    std::vector<std::int16_t> frames;
    total += sim::ReadMixedOutput(frames);
    EXPECT_EQ(frames.size() % 2, 0u);
    EXPECT_EQ(total, t * 44100 / 1000000);
  }
  auto silent = Mixed();
  EXPECT_TRUE(silent.empty());
}

TEST_F(Mixer, SameRateAtFullVolumePassesThroughBitExactly) {
  auto data = NoiseBytes(4410 * 4, 11);
  IDirectSoundBuffer* b = MakeFilled(Pcm(2, 44100, 16), data);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(150);  // the sound, then silence
  auto out = Mixed();
  ASSERT_EQ(out.size(), 6615u * 2);
  auto samples = AsSamples(data);
  EXPECT_TRUE(std::equal(samples.begin(), samples.end(), out.begin()));
  EXPECT_TRUE(std::all_of(out.begin() + 4410 * 2, out.end(), [](std::int16_t v) { return v == 0; }));
}

TEST_F(Mixer, GainIsTenToTheVolumeOverTwoThousand) {
  auto data = NoiseBytes(4410 * 4, 12);
  IDirectSoundBuffer* b = MakeFilled(Pcm(2, 44100, 16), data);
  ASSERT_EQ(b->SetVolume(-600), DS_OK);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(100);
  auto out = Mixed();
  const float gain = static_cast<float>(std::pow(10.0, -600 / 2000.0));
  auto samples = AsSamples(data);
  ASSERT_EQ(out.size(), samples.size());
  for (std::size_t i = 0; i < samples.size(); ++i) {
    ASSERT_EQ(out[i], Rounded(gain * static_cast<float>(samples[i]))) << i;
  }
  // -10000 is exact silence, while the cursor still moves.
  ASSERT_EQ(b->SetVolume(-10000), DS_OK);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(50);
  out = Mixed();
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::int16_t v) { return v == 0; }));
  EXPECT_EQ(Cursor(b), 2205u * 4);
}

TEST_F(Mixer, EightBitAndMonoAreWidenedAndDuplicated) {
  std::vector<std::uint8_t> bytes8 = {0, 1, 127, 128, 129, 255};
  IDirectSoundBuffer* mono8 = MakeFilled(Pcm(1, 44100, 8), bytes8);
  mono8->Play(0, 0, 0);
  sim::AdvanceTime(1);
  auto out = Mixed();
  ASSERT_EQ(out.size(), 44u * 2);
  for (std::size_t i = 0; i < bytes8.size(); ++i) {
    const int expected = (bytes8[i] - 128) * 256;
    EXPECT_EQ(out[2 * i], expected);
    EXPECT_EQ(out[2 * i + 1], expected);
  }
  EXPECT_EQ(out[2 * 6], 0);

  auto bytes16 = NoiseBytes(20, 5);
  IDirectSoundBuffer* mono16 = MakeFilled(Pcm(1, 44100, 16), bytes16);
  IDirectSoundBuffer* stereo8 = MakeFilled(Pcm(2, 44100, 8), {0x80, 0x80, 0xC0, 0x40});
  mono16->Play(0, 0, 0);
  stereo8->Play(0, 0, 0);
  sim::AdvanceTime(1);
  out = Mixed();
  auto s = AsSamples(bytes16);
  EXPECT_EQ(out[0], s[0]);
  EXPECT_EQ(out[1], s[0]);
  EXPECT_EQ(out[2], Rounded(static_cast<float>(s[1] + 0x40 * 256)));
  EXPECT_EQ(out[3], Rounded(static_cast<float>(s[1] - 0x40 * 256)));
  EXPECT_EQ(out[18], s[9]);
  EXPECT_EQ(out[19], s[9]);
}

TEST_F(Mixer, LoudVoicesSaturate) {
  std::vector<std::int16_t> high(100 * 2, 30000);
  std::vector<std::int16_t> low(100 * 2, -30000);
  std::vector<std::uint8_t> hb(high.size() * 2);
  std::vector<std::uint8_t> lb(low.size() * 2);
  std::memcpy(hb.data(), high.data(), hb.size());
  std::memcpy(lb.data(), low.data(), lb.size());
  IDirectSoundBuffer* a = MakeFilled(Pcm(2, 44100, 16), hb);
  IDirectSoundBuffer* b = MakeFilled(Pcm(2, 44100, 16), hb);
  a->Play(0, 0, 0);
  b->Play(0, 0, 0);
  sim::AdvanceTime(1);
  auto out = Mixed();
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::int16_t v) { return v == 32767; }));
  IDirectSoundBuffer* c = MakeFilled(Pcm(2, 44100, 16), lb);
  IDirectSoundBuffer* d = MakeFilled(Pcm(2, 44100, 16), lb);
  b->Stop();
  a->SetCurrentPosition(0);
  c->Play(0, 0, 0);
  d->Play(0, 0, 0);
  sim::AdvanceTime(1);  // 30000 - 2 * 30000
  out = Mixed();
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::int16_t v) { return v == -30000; }));
  a->Stop();
  sim::AdvanceTime(1);  // -2 * 30000
  out = Mixed();
  EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](std::int16_t v) { return v == -32768; }));
}

// The same resampler, run directly over the buffer, gives the same frames.
TEST_F(Mixer, OtherRatesMatchTheResamplersOwnOutput) {
  for (DWORD rate : {22050u, 48000u, 11025u, 96000u}) {
    for (WORD channels : {1, 2}) {
      SCOPED_TRACE(std::to_string(rate) + " Hz, channels " + std::to_string(channels));
      const DWORD frames = rate / 5;  // 200 ms
      auto data = NoiseBytes(std::size_t{frames} * 2 * channels, rate + channels);
      IDirectSoundBuffer* b = MakeFilled(Pcm(channels, rate, 16), data, 0x180E2);
      ASSERT_NE(b, nullptr);
      Mixed();
      b->Play(0, 0, 0);
      for (int i = 0; i < 300; ++i) sim::AdvanceTime(1);  // past the end
      auto out = Mixed();
      ASSERT_EQ(out.size(), 13230u * 2);
      EXPECT_EQ(Status(b), 0u);

      int error = 0;
      SpeexResamplerState* st =
          speex_resampler_init(channels, rate, 44100, sim::kSoundResamplerQuality, &error);
      ASSERT_NE(st, nullptr);
      auto samples = AsSamples(data);
      std::vector<float> in(samples.begin(), samples.end());
      std::vector<float> ref(13230 * channels);
      spx_uint32_t used = frames;
      spx_uint32_t made = 13230;
      speex_resampler_process_interleaved_float(st, in.data(), &used, ref.data(), &made);
      speex_resampler_destroy(st);
      EXPECT_EQ(used, frames);
      ASSERT_GT(made, 8000u);
      for (std::size_t i = 0; i < made; ++i) {
        for (int c = 0; c < 2; ++c) {
          ASSERT_EQ(out[2 * i + c], Rounded(ref[i * channels + (channels == 2 ? c : 0)])) << i;
        }
      }
      EXPECT_TRUE(std::all_of(out.begin() + 2 * made, out.end(), [](std::int16_t v) { return v == 0; }));
    }
  }
}

// After a seek a buffer resampled as it plays starts afresh: no history in either
// channel. (Written while playing, as a ring is, so it is resampled as it plays.)
TEST_F(Mixer, ASeekForgetsTheResamplersHistoryInEveryChannel) {
  auto data = NoiseBytes(4800 * 4, 21);
  IDirectSoundBuffer* b = MakeFilled(Pcm(2, 48000, 16), data, 0x180E2);
  Mixed();
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  Write(b, 0, data);
  sim::AdvanceTime(50);
  ASSERT_EQ(b->SetCurrentPosition(1000 * 4), DS_OK);
  Mixed();
  sim::AdvanceTime(50);
  auto out = Mixed();
  ASSERT_EQ(out.size(), 2205u * 2);

  auto samples = AsSamples(data);
  std::vector<float> in(samples.begin() + 1000 * 2, samples.end());
  int error = 0;
  SpeexResamplerState* st = speex_resampler_init(2, 48000, 44100, sim::kSoundResamplerQuality, &error);
  ASSERT_NE(st, nullptr);
  std::vector<float> ref(2205 * 2);
  spx_uint32_t used = static_cast<spx_uint32_t>(in.size() / 2);
  spx_uint32_t made = 2205;
  speex_resampler_process_interleaved_float(st, in.data(), &used, ref.data(), &made);
  speex_resampler_destroy(st);
  ASSERT_EQ(made, 2205u);
  for (std::size_t i = 0; i < 2 * made; ++i) ASSERT_EQ(out[i], Rounded(ref[i])) << i;
}

// 1 ms steps and one 1000 ms step give the same output, whatever is playing.
TEST_F(Mixer, HowTheClockIsCutDoesNotChangeTheMix) {
  auto run = [this](bool small) {
    auto a = NoiseBytes(22050 * 1 / 4, 1);  // 8-bit mono 22050, looping
    auto b = NoiseBytes(48000 / 3 * 4, 2);  // 16-bit stereo 48000, one-shot (333 ms)
    auto c = NoiseBytes(44100 / 2 * 4, 3);  // 16-bit stereo 44100, looping at -3 dB
    IDirectSoundBuffer* x = MakeFilled(Pcm(1, 22050, 8), a);
    IDirectSoundBuffer* y = MakeFilled(Pcm(2, 48000, 16), b);
    IDirectSoundBuffer* z = MakeFilled(Pcm(2, 44100, 16), c);
    z->SetVolume(-300);
    x->Play(0, 0, DSBPLAY_LOOPING);
    y->Play(0, 0, 0);
    z->Play(0, 0, DSBPLAY_LOOPING);
    if (small) {
      for (int i = 0; i < 1000; ++i) sim::AdvanceTime(1);
    } else {
      sim::AdvanceTime(1000);
    }
    std::vector<DWORD> cursors = {Cursor(x), Cursor(y), Cursor(z)};
    auto out = Mixed();
    for (auto* buffer : {x, y, z}) {
      Forget(buffer);
      buffer->Release();
    }
    return std::make_pair(out, cursors);
  };
  auto steps = run(true);
  auto whole = run(false);
  ASSERT_EQ(steps.first.size(), 44100u * 2);
  EXPECT_TRUE(steps.first == whole.first);
  EXPECT_EQ(steps.second, whole.second);
  EXPECT_EQ(steps.second[1], 0u);  // the one-shot ended
}

TEST_F(Mixer, RealTimeOutputsAreChosenByTheEnvironment) {
  ds->Release();
  ds = nullptr;
  sim::UseVirtualClock(false);
  const std::string path = ::testing::TempDir() + "dsound_mix_test.wav";
  ::setenv("GAMELIB_AUDIO", ("wav:" + path).c_str(), 1);
  IDirectSound* device = nullptr;
  ASSERT_EQ(
      CoCreateInstance(CLSID_DirectSound, nullptr, 7, IID_IDirectSound, reinterpret_cast<void**>(&device)),
      S_OK);
  ASSERT_EQ(device->Initialize(nullptr), DS_OK);
  EXPECT_EQ(sim::SoundOutputName(), "wav");
  Sleep(30);
  device->Release();
  EXPECT_EQ(sim::SoundOutputName(), "");
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_GE(bytes.size(), 44u);
  std::uint32_t riff;
  std::uint32_t data;
  std::memcpy(&riff, bytes.data() + 4, 4);
  std::memcpy(&data, bytes.data() + 40, 4);
  EXPECT_EQ(std::string(bytes.data(), 4), "RIFF");
  EXPECT_EQ(std::string(bytes.data() + 36, 4), "data");
  EXPECT_EQ(data, bytes.size() - 44);
  EXPECT_EQ(riff, data + 36);
  EXPECT_EQ(data % 4, 0u);
  std::remove(path.c_str());

  ::setenv("GAMELIB_AUDIO", "null", 1);
  ASSERT_EQ(
      CoCreateInstance(CLSID_DirectSound, nullptr, 7, IID_IDirectSound, reinterpret_cast<void**>(&device)),
      S_OK);
  ASSERT_EQ(device->Initialize(nullptr), DS_OK);
  EXPECT_EQ(sim::SoundOutputName(), "null");
  // The virtual clock wins over the environment.
  sim::UseVirtualClock(true);
  sim::AdvanceTime(1);
  EXPECT_EQ(sim::SoundOutputName(), "offline");
  device->Release();
  ::unsetenv("GAMELIB_AUDIO");
}

}  // namespace
