// Buffers at other rates: converted once when they start, or resampled as they play
// once rewritten while playing. Both are checked against speexdsp run directly.
#include <speex/speex_resampler.h>

#include <cmath>
#include <string>

#include "dsound_fixture.h"

namespace {

using MixerConversion = DsoundTest;

std::int16_t Rounded(float v) {
  if (v >= 32767.0f) return 32767;
  if (v <= -32768.0f) return -32768;
  return static_cast<std::int16_t>(std::lrintf(v));
}

// The buffer's frames as the resampler takes them (interleaved floats).
std::vector<float> Floats(const std::vector<std::uint8_t>& bytes, WORD bits) {
  std::vector<float> out;
  if (bits == 16) {
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      std::int16_t v;
      std::memcpy(&v, bytes.data() + i, 2);
      out.push_back(static_cast<float>(v));
    }
  } else {
    for (std::uint8_t v : bytes) out.push_back(static_cast<float>((v - 128) * 256));
  }
  return out;
}

// A fresh resampler of the mixer's quality over `in`, in one call, as 16-bit stereo.
std::vector<std::int16_t> Resampled(const std::vector<float>& in, WORD channels, DWORD rate,
                                    std::size_t frames) {
  int error = 0;
  SpeexResamplerState* st = speex_resampler_init(channels, rate, 44100, sim::kSoundResamplerQuality, &error);
  EXPECT_NE(st, nullptr);
  std::vector<float> out(frames * channels);
  spx_uint32_t used = static_cast<spx_uint32_t>(in.size() / channels);
  spx_uint32_t made = static_cast<spx_uint32_t>(frames);
  speex_resampler_process_interleaved_float(st, in.data(), &used, out.data(), &made);
  speex_resampler_destroy(st);
  EXPECT_EQ(made, frames) << "reference input too short";
  std::vector<std::int16_t> stereo(2 * frames);
  for (std::size_t i = 0; i < frames; ++i) {
    for (int c = 0; c < 2; ++c) stereo[2 * i + c] = Rounded(out[i * channels + (channels == 2 ? c : 0)]);
  }
  return stereo;
}

std::vector<float> Repeated(const std::vector<float>& one, int times) {
  std::vector<float> all;
  for (int i = 0; i < times; ++i) all.insert(all.end(), one.begin(), one.end());
  return all;
}

// The first mismatching frame, or -1.
long FirstDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b) {
  if (a.size() != b.size()) return -2;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i] != b[i]) return static_cast<long>(i / 2);
  }
  return -1;
}

// A loop of whole output frames sounds exactly as one resampler running on over the
// loop repeated: the history at each wrap is the loop's end, not silence. The small
// loops are shorter than the filter, whose history then spans several passes.
TEST_F(MixerConversion, LoopsSoundAsTheResamplerRunOverTheLoopRepeated) {
  struct Case {
    WORD channels;
    DWORD rate;
    WORD bits;
    DWORD frames;  // frames * 44100 / rate is whole
  };
  for (Case c : {Case{2, 48000, 16, 1600}, Case{1, 22050, 8, 1000}, Case{2, 96000, 16, 3200},
                 Case{1, 32000, 16, 320}, Case{2, 22050, 16, 20}, Case{1, 48000, 16, 160}}) {
    SCOPED_TRACE(std::to_string(c.rate) + " Hz, " + std::to_string(c.channels) + " ch, " +
                 std::to_string(c.frames));
    const WAVEFORMATEX f = Pcm(c.channels, c.rate, c.bits);
    auto data = NoiseBytes(std::size_t{c.frames} * f.nBlockAlign, c.rate + c.frames);
    IDirectSoundBuffer* b = MakeFilled(f, data);
    ASSERT_NE(b, nullptr);
    Mixed();
    ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
    for (int i = 0; i < 120; ++i) sim::AdvanceTime(1);
    auto out = Mixed();
    ASSERT_EQ(out.size(), 5292u * 2);
    const int passes = static_cast<int>(5292 * std::uint64_t{c.rate} / 44100 / c.frames) + 2;
    auto ref = Resampled(Repeated(Floats(data, c.bits), passes), c.channels, c.rate, 5292);
    // A loop shorter than the filter takes a few passes to fill its history; after the
    // first pass the mixer has it full (kept to the first pass and the steady loop).
    const std::size_t pass = std::size_t{c.frames} * 44100 / c.rate;
    const std::size_t steady = c.frames < 64 ? (64 / c.frames + 2) * pass : 0;
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 2 * pass, ref.begin()));
    out.erase(out.begin() + 2 * pass, out.begin() + 2 * std::max(pass, steady));
    ref.erase(ref.begin() + 2 * pass, ref.begin() + 2 * std::max(pass, steady));
    EXPECT_EQ(FirstDifference(out, ref), -1);
    EXPECT_EQ(Cursor(b), (5292 * std::uint64_t{c.rate} / 44100) % c.frames * f.nBlockAlign);
    ASSERT_EQ(b->Stop(), DS_OK);
  }
}

// Bytes written while the buffer plays (a ring) are heard from the next mix: the
// buffer then goes through a resampler that starts afresh at the cursor.
TEST_F(MixerConversion, RewritingWhilePlayingIsHeardAtOnce) {
  const WAVEFORMATEX f = Pcm(2, 48000, 16);
  auto first = NoiseBytes(4800 * 4, 1);
  auto second = NoiseBytes(4800 * 4, 2);
  auto third = NoiseBytes(4800 * 4, 3);
  IDirectSoundBuffer* b = MakeFilled(f, first, 0x180E2);
  Mixed();
  ASSERT_EQ(b->Play(0, 0, DSBPLAY_LOOPING), DS_OK);
  sim::AdvanceTime(50);  // 2205 frames: the cursor at 2400
  ASSERT_EQ(Cursor(b), 2400u * 4);
  Write(b, 0, second);
  sim::AdvanceTime(150);  // 6615 frames, over the wrap
  auto out = Mixed();
  ASSERT_EQ(out.size(), 8820u * 2);

  auto ref = Resampled(Floats(first, 16), 2, 48000, 2205);
  auto in = Floats(second, 16);
  std::vector<float> from(in.begin() + 2400 * 2, in.end());
  from.insert(from.end(), in.begin(), in.end());
  from.insert(from.end(), in.begin(), in.end());
  auto after = Resampled(from, 2, 48000, 6615);
  ref.insert(ref.end(), after.begin(), after.end());
  EXPECT_EQ(FirstDifference(out, ref), -1);

  // Stopped, sent back, rewritten and started again: still resampled as it plays,
  // from a fresh resampler (no history of either channel), with the new bytes.
  ASSERT_EQ(b->Stop(), DS_OK);
  ASSERT_EQ(b->SetCurrentPosition(0), DS_OK);
  Write(b, 0, third);
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(200);
  out = Mixed();
  ref = Resampled(Floats(third, 16), 2, 48000, 4410);
  ref.resize(8820 * 2, 0);
  EXPECT_EQ(FirstDifference(out, ref), -1);
  EXPECT_EQ(Status(b), 0u);
}

// A buffer rewritten while stopped is converted again when it next plays.
TEST_F(MixerConversion, RewritingWhileStoppedIsHeardOnTheNextPlay) {
  const WAVEFORMATEX f = Pcm(1, 22050, 8);
  auto first = NoiseBytes(2205, 4);
  auto second = NoiseBytes(2205, 5);
  IDirectSoundBuffer* b = MakeFilled(f, first);
  IDirectSoundBuffer* dup = nullptr;
  ASSERT_EQ(ds->DuplicateSoundBuffer(b, &dup), DS_OK);
  buffers.push_back(dup);
  Mixed();
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(120);
  EXPECT_EQ(FirstDifference(Mixed(),
                            [&] {
                              auto r = Resampled(Floats(first, 8), 1, 22050, 4410);
                              r.resize(5292 * 2, 0);
                              return r;
                            }()),
            -1);
  EXPECT_EQ(Status(b), 0u);
  Write(dup, 0, second);  // through the duplicate: the shared bytes
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(120);
  auto ref = Resampled(Floats(second, 8), 1, 22050, 4410);
  ref.resize(5292 * 2, 0);
  EXPECT_EQ(FirstDifference(Mixed(), ref), -1);
}

// A seek starts at the first output frame at or past the new cursor, with the
// history the buffer has there; a one-shot still ends with its last source frame.
TEST_F(MixerConversion, ASeekPlaysOnFromTheFrameAtTheCursor) {
  const WAVEFORMATEX f = Pcm(2, 48000, 16);
  auto data = NoiseBytes(4800 * 4, 6);
  IDirectSoundBuffer* b = MakeFilled(f, data);
  ASSERT_EQ(b->SetCurrentPosition(1001 * 4 + 3), DS_OK);
  Mixed();
  ASSERT_EQ(b->Play(0, 0, 0), DS_OK);
  sim::AdvanceTime(100);
  auto out = Mixed();
  const std::size_t k0 = (1001 * 147 + 159) / 160;  // first frame with k * 160 / 147 >= 1001
  auto whole = Resampled(Floats(data, 16), 2, 48000, 4410);
  std::vector<std::int16_t> ref(whole.begin() + 2 * k0, whole.end());
  ref.resize(4410 * 2, 0);
  EXPECT_EQ(FirstDifference(out, ref), -1);
  EXPECT_EQ(Status(b), 0u);
  EXPECT_EQ(Cursor(b), 0u);
}

// Whatever plays (a loop that is not a whole number of output frames, a ring
// rewritten while it plays, a seek, a duplicate), how the clock is cut does not
// change the mix or the cursors.
TEST_F(MixerConversion, HowTheClockIsCutDoesNotChangeTheMix) {
  auto run = [this](bool small) {
    auto loop = NoiseBytes(4801 * 4, 7);  // 48000 Hz: 4410.9 output frames a pass
    auto ring = NoiseBytes(3000 * 2, 8);  // 32000 Hz mono 16-bit
    auto fresh = NoiseBytes(1000 * 2, 9);
    IDirectSoundBuffer* x = MakeFilled(Pcm(2, 48000, 16), loop);
    IDirectSoundBuffer* y = MakeFilled(Pcm(1, 32000, 16), ring, 0x180E2);
    IDirectSoundBuffer* z = nullptr;
    EXPECT_EQ(ds->DuplicateSoundBuffer(x, &z), DS_OK);
    z->SetVolume(-600);
    x->Play(0, 0, DSBPLAY_LOOPING);
    y->Play(0, 0, DSBPLAY_LOOPING);
    auto advance = [small](unsigned ms) {
      if (small) {
        for (unsigned i = 0; i < ms; ++i) sim::AdvanceTime(1);
      } else {
        sim::AdvanceTime(ms);
      }
    };
    advance(250);
    Write(y, 1000, fresh);
    z->SetCurrentPosition(777 * 4);
    z->Play(0, 0, 0);
    advance(250);
    x->SetCurrentPosition(4000 * 4);
    advance(500);
    std::vector<DWORD> cursors = {Cursor(x), Cursor(y), Cursor(z)};
    auto out = Mixed();
    for (auto* buffer : {x, y, z}) {
      Forget(buffer);
      buffer->Release();
    }
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

}  // namespace
