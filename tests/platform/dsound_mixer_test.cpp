// The mixer through the offline output: exact frames for exact time, bit-exact sums at
// the voices' gains, conversion to 44100 Hz against speexdsp run directly, loops, seeks,
// rings rewritten while they play, and how the output is chosen.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "dsound_fixture.h"

namespace {

using Mixer = DsoundTest;

// Buffers at 44100 Hz are added as they are: 8-bit centred and widened, mono on both
// sides, scaled by 10^(volume / 2000); -10000 is silence while the cursor still moves.
// A one-shot ends after its last frame with its cursor back at 0.
TEST_F(Mixer, SameRateVoicesAreExactAtTheirGain) {
  for (WORD channels : {1, 2}) {
    for (WORD bits : {8, 16}) {
      for (LONG volume : {0, -1, -600, -2406, -9999, -10000}) {
        SCOPED_TRACE(std::to_string(channels) + " ch, " + std::to_string(bits) + " bit, " +
                     std::to_string(volume));
        const WAVEFORMATEX f = Pcm(channels, 44100, bits);
        auto data = NoiseBytes(std::size_t{300} * f.nBlockAlign, volume + bits + channels);
        IDirectSoundBuffer* b = MakeFilled(f, data);
        ASSERT_EQ(b->SetVolume(volume), DS_OK);
        ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
        sim::AdvanceTimeMicros(5000);  // 220 frames (the clock stands at a whole 10 ms)
        EXPECT_EQ(Cursor(b), 220u * f.nBlockAlign);
        auto out = MixedAfter(5);  // 441 frames in all
        ASSERT_EQ(out.size(), 441u * 2);
        const float gain = volume == -10000 ? 0.0f : static_cast<float>(std::pow(10.0, volume / 2000.0));
        const auto samples = Floats(data, bits);
        for (std::size_t i = 0; i < 441 * 2; ++i) {
          const std::size_t at = i / 2 * channels + (channels == 2 ? i % 2 : 0);
          ASSERT_EQ(out[i], i < 600 ? Rounded(gain * samples[at]) : 0) << i;
        }
        EXPECT_EQ(Status(b), 0u);
        EXPECT_EQ(Cursor(b), 0u);
        Drop(b);
      }
    }
  }
}

TEST_F(Mixer, VoicesAddAndTheSumSaturates) {
  const struct {
    std::int16_t a, b, c, sum;
  } rows[] = {{30000, 30000, 0, 32767}, {-30000, -30000, 0, -32768}, {30000, -30000, -30000, -30000},
              {1000, -3000, 7, -1993},  {32767, 1, -1, 32767},       {-32768, -32768, 32767, -32768}};
  for (auto row : rows) {
    SCOPED_TRACE(row.sum);
    for (std::int16_t v : {row.a, row.b, row.c}) {
      std::vector<std::uint8_t> bytes(400 * 4);
      for (std::size_t i = 0; i < bytes.size(); i += 2) std::memcpy(&bytes[i], &v, 2);
      ASSERT_EQ(MakeFilled(Pcm(2, 44100, 16), bytes)->Play(0, 0, 0), DS_OK);
    }
    auto out = MixedAfter(10);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 800, [&](std::int16_t s) { return s == row.sum; }));
    for (auto* b : std::vector(buffers)) Drop(b);
  }
}

// Other rates go through speexdsp, and a loop sounds exactly as one resampler running
// on over the loop repeated: the history at each wrap is the loop's end, not silence.
// The small loops are shorter than the filter, whose history then spans several passes.
TEST_F(Mixer, LoopsSoundAsTheResamplerRunOverTheLoopRepeated) {
  const struct {
    WORD channels;
    DWORD rate;
    WORD bits;
    DWORD frames;  // frames * 44100 / rate is whole
  } rows[] = {{2, 48000, 16, 1600}, {1, 22050, 8, 1000}, {2, 96000, 16, 3200}, {1, 32000, 16, 320},
              {2, 22050, 16, 20},   {1, 48000, 16, 160}, {1, 100, 8, 100},     {2, 11025, 8, 250}};
  for (auto row : rows) {
    SCOPED_TRACE(std::to_string(row.rate) + " Hz, " + std::to_string(row.frames) + " frames");
    const WAVEFORMATEX f = Pcm(row.channels, row.rate, row.bits);
    auto data = NoiseBytes(std::size_t{row.frames} * f.nBlockAlign, row.rate + row.frames);
    IDirectSoundBuffer* b = MakeFilled(f, data);
    Mixed();
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    for (int i = 0; i < 120; ++i) sim::AdvanceTime(1);
    auto out = Mixed();
    const int passes = static_cast<int>(5292 * std::uint64_t{row.rate} / 44100 / row.frames) + 2;
    std::vector<float> repeated;
    for (int i = 0; i < passes; ++i) {
      auto one = Floats(data, row.bits);
      repeated.insert(repeated.end(), one.begin(), one.end());
    }
    auto ref = Resampled(repeated, row.channels, row.rate, 5292);
    // A loop shorter than the filter takes a few passes to fill the reference's history,
    // while the mixer has it full after the first: those passes are left out.
    if (row.frames < 64) {
      const std::size_t pass = std::size_t{row.frames} * 44100 / row.rate,
                        steady = (64 / row.frames + 2) * pass;
      for (auto* v : {&out, &ref}) v->erase(v->begin() + 2 * pass, v->begin() + 2 * steady);
    }
    EXPECT_EQ(FirstDifference(out, ref), -1);
    EXPECT_EQ(Cursor(b), (5292 * std::uint64_t{row.rate} / 44100) % row.frames * f.nBlockAlign);
    Drop(b);
  }
}

// Bytes written while the buffer plays (a ring) are heard from the next mix: the buffer
// then goes through a resampler of its own that starts afresh, with no history in either
// channel, wherever the cursor jumps.
TEST_F(Mixer, RingsRewrittenWhilePlayingAreHeardAtOnce) {
  auto first = NoiseBytes(4800 * 4, 1), second = NoiseBytes(4800 * 4, 2), third = NoiseBytes(4800 * 4, 3);
  IDirectSoundBuffer* b = MakeFilled(Pcm(2, 48000, 16), first);
  Mixed();
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  sim::AdvanceTime(50);  // 2205 frames: the cursor at 2400
  ASSERT_EQ(Cursor(b), 2400u * 4);
  Write(b, 0, second);
  auto out = MixedAfter(150);  // 6615 frames, over the wrap
  auto ref = Resampled(Floats(first, 16), 2, 48000, 2205);
  auto in = Floats(second, 16);
  std::vector<float> from(in.begin() + 2400 * 2, in.end());
  for (int i = 0; i < 2; ++i) from.insert(from.end(), in.begin(), in.end());
  auto after = Resampled(from, 2, 48000, 6615);
  ref.insert(ref.end(), after.begin(), after.end());
  EXPECT_EQ(FirstDifference(out, ref), -1);

  ASSERT_EQ(b->SetCurrentPosition(1000 * 4), DS_OK);
  Write(b, 0, third);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);  // now a one-shot, from frame 1000
  in = Floats(third, 16);
  EXPECT_EQ(FirstDifference(MixedAfter(100), Resampled({in.begin() + 2000, in.end()}, 2, 48000, 4410)), -1);
  EXPECT_EQ(Status(b), 0u);
}

// A seek in a converted buffer starts at the first output frame at or past the new
// cursor, with the history the buffer has there; a one-shot still ends with its last frame.
TEST_F(Mixer, ASeekPlaysOnFromTheFrameAtTheCursor) {
  auto data = NoiseBytes(4800 * 4, 6);
  IDirectSoundBuffer* b = MakeFilled(Pcm(2, 48000, 16), data);
  ASSERT_EQ(b->SetCurrentPosition(1001 * 4 + 3), DS_OK);
  Mixed();
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  const std::size_t k0 = (1001 * 147 + 159) / 160;  // the first k with k * 160 / 147 >= 1001
  auto whole = Resampled(Floats(data, 16), 2, 48000, 4410);
  std::vector<std::int16_t> ref(whole.begin() + 2 * k0, whole.end());
  ref.resize(4410 * 2, 0);
  EXPECT_EQ(FirstDifference(MixedAfter(100), ref), -1);
  EXPECT_EQ(Status(b), 0u);
  EXPECT_EQ(Cursor(b), 0u);
}

// Whatever plays (a loop that is not a whole number of output frames, a ring rewritten
// while it plays, a seek, a duplicate at its own volume, a voice at 44100 Hz), 1 ms steps
// and whole steps give the same mix and the same cursors.
TEST_F(Mixer, HowTheClockIsCutDoesNotChangeTheMix) {
  auto run = [this](bool small) {
    IDirectSoundBuffer* x = MakeFilled(Pcm(2, 48000, 16), NoiseBytes(4801 * 4, 7));  // 4410.9 frames a pass
    IDirectSoundBuffer* y = MakeFilled(Pcm(1, 32000, 16), NoiseBytes(3000 * 2, 8));
    IDirectSoundBuffer* z = Duplicate(x);
    IDirectSoundBuffer* w = MakeFilled(Pcm(1, 44100, 8), NoiseBytes(4000, 9));
    z->SetVolume(-600);
    w->SetVolume(-300);
    x->Play(0, 0, DSBPLAY_LOOPING);
    y->Play(0, 0, DSBPLAY_LOOPING);
    w->Play(0, 0, DSBPLAY_LOOPING);
    auto advance = [small](unsigned ms) {
      for (unsigned i = 0; small && i < ms; ++i) sim::AdvanceTime(1);
      if (!small) sim::AdvanceTime(ms);
    };
    advance(250);
    Write(y, 1000, NoiseBytes(1000 * 2, 10));
    z->SetCurrentPosition(777 * 4);
    z->Play(0, 0, 0);
    advance(250);
    x->SetCurrentPosition(4000 * 4);
    advance(500);
    std::vector<DWORD> cursors = {Cursor(x), Cursor(y), Cursor(z), Cursor(w)};
    auto out = Mixed();
    for (auto* buffer : {x, y, z, w}) Drop(buffer);
    return std::make_pair(out, cursors);
  };
  Mixed();
  auto steps = run(true);
  auto whole = run(false);
  ASSERT_EQ(steps.first.size(), 44100u * 2);
  EXPECT_EQ(FirstDifference(steps.first, whole.first), -1);
  EXPECT_EQ(steps.second, whole.second);
  EXPECT_EQ(steps.second[2], 0u);  // the one-shot duplicate ended
}

// Without the virtual clock GAMELIB_AUDIO chooses; the clock moving takes the mix back
// (platform/sim.h).
TEST_F(Mixer, OutputIsChosenByTheClockThenTheEnvironment) {
  EXPECT_EQ(sim::SoundOutputName(), "offline");  // the fixture's device started on the clock
  ds->Release();
  ds = nullptr;
  sim::UseVirtualClock(false);
  auto start = [](const std::string& choice) {
    ::setenv("GAMELIB_AUDIO", choice.c_str(), 1);
    IDirectSound* device = nullptr;
    EXPECT_EQ(
        CoCreateInstance(CLSID_DirectSound, nullptr, 7, IID_IDirectSound, reinterpret_cast<void**>(&device)),
        S_OK);
    EXPECT_EQ(device->Initialize(nullptr), DS_OK);
    ::unsetenv("GAMELIB_AUDIO");
    return device;
  };
  const std::string path = ::testing::TempDir() + "dsound_mix_test.wav";
  IDirectSound* device = start("wav:" + path);
  EXPECT_EQ(sim::SoundOutputName(), "wav");
  Sleep(30);
  device->Release();
  EXPECT_EQ(sim::SoundOutputName(), "");
  std::ifstream file(path, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  std::remove(path.c_str());
  ASSERT_GE(bytes.size(), 44u);
  std::uint32_t header[11];
  std::memcpy(header, bytes.data(), 44);
  const std::uint32_t size = static_cast<std::uint32_t>(bytes.size() - 44);
  // RIFF, size, WAVE, fmt , 16, PCM stereo, 44100, bytes per second, 4 | 16 bits, data, size
  const std::uint32_t expected[11] = {0x46464952u, size + 36, 0x45564157u, 0x20746D66u, 16,  0x20001,
                                      44100,       176400,    0x100004,    0x61746164u, size};
  EXPECT_TRUE(std::equal(header, header + 11, expected));
  EXPECT_EQ(size % 4, 0u);
  EXPECT_TRUE(std::all_of(bytes.begin() + 44, bytes.end(), [](char c) { return c == 0; }));

  device = start("offline");  // without the clock: mixed as sim::AdvanceTime moves it
  EXPECT_EQ(sim::SoundOutputName(), "offline");
  device->Release();
  device = start("null");
  EXPECT_EQ(sim::SoundOutputName(), "null");
  sim::UseVirtualClock(true);
  sim::AdvanceTime(1);
  EXPECT_EQ(sim::SoundOutputName(), "offline");
  device->Release();
}

}  // namespace
