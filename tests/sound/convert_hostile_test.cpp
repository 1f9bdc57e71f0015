// Malformed and hostile input for the converter: every bad file gives -1 (or, where the
// data is merely short, what really is there), never a crash, a hang or a huge
// allocation; and the converter's own edge cases.
#include <random>

#include "sound_test_support.h"

using namespace soundtest;

// vorbisfile 1.3.7 loses memory when it fails to open a chained file whose later link
// has broken headers; the tests check our side (every decoder cleared) by counting.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbis\n"; }

namespace {

int SetupOf(const Bytes& file) { return Converter(file).Setup(); }

// The whole output of a file that sets up, checking that the block path agrees with
// it; empty when set-up fails.
Bytes ConvertedOrEmpty(const Bytes& file) {
  Converter c(file);
  if (c.Setup() != 0) return {};
  Bytes whole = c.Whole();
  Converter again(file);
  EXPECT_EQ(again.Setup(), 0);
  EXPECT_EQ(again.Drain(777), whole);
  return whole;
}

Bytes WithFmt(const Bytes& fmt, std::int64_t stored = -1) {
  return Riff({Chunk("fmt ", fmt, stored), Chunk("data", Pattern(64))});
}

TEST(ConvertHostile, TruncatedHeadersAreRefusedAndCutDataIsWholeFrames) {
  const Bytes good = SimpleWave(Pattern(400));
  // Up to and including the data chunk header nothing is playable.
  for (std::size_t n = 0; n <= 44; ++n) EXPECT_EQ(SetupOf(Bytes(good.begin(), good.begin() + n)), -1) << n;
  // Past it the data is cut to what is there, in whole sample frames.
  for (std::size_t n = 45; n <= good.size(); n += 3) {
    Bytes pcm = ConvertedOrEmpty(Bytes(good.begin(), good.begin() + n));
    ASSERT_EQ(pcm.size(), (n - 44) / 4 * 4) << n;
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), good.begin() + 44)) << n;
  }
}

TEST(ConvertHostile, MalformedFilesAreRefusedWithoutAllocating) {
  struct Case {
    std::string what;
    Bytes file;
  };
  std::vector<Case> cases = {{"empty", {}}};
  const Bytes good = SimpleWave(Pattern(64));
  for (std::size_t at : {0u, 3u, 8u, 11u, 12u, 15u, 36u, 39u}) {
    Bytes bad = good;
    bad[at] ^= 0x20;
    cases.push_back({"id byte " + std::to_string(at), bad});
  }
  cases.push_back({"fmt not first", Riff({Chunk("LIST", Bytes(6, 1)), Chunk("fmt ", FmtBody({})),
                                          Chunk("data", Pattern(64))})});
  cases.push_back({"data before fmt", Riff({Chunk("data", Pattern(64)), Chunk("fmt ", FmtBody({}))})});
  for (std::size_t size : {0u, 1u, 2u, 8u, 14u, 15u}) {
    Bytes fmt = FmtBody({});
    fmt.resize(size);
    cases.push_back({"fmt body " + std::to_string(size), WithFmt(fmt)});
  }
  // Sizes far past the file, up to 2^32 - 1: refused without being allocated.
  for (std::uint32_t size : {65535u + 19u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu})
    cases.push_back({"fmt size " + std::to_string(size), WithFmt(FmtBody({}), size)});
  cases.push_back({"fmt body past the file", Riff({Chunk("fmt ", FmtBody({}), 40, false)})});
  const std::pair<const char*, FmtFields> fields[] = {
      {"tag 0", {0, 2, 22050, 88200, 4, 16}},
      {"tag 2", {2, 2, 22050, 88200, 4, 16}},
      {"tag 0xFFFE", {0xFFFE, 2, 22050, 88200, 4, 16}},
      {"no channels", {1, 0, 22050, 88200, 4, 16}},
      {"three channels", {1, 3, 22050, 132300, 6, 16}},
      {"rate 0", {1, 2, 0, 0, 4, 16}},
      {"rate 99", {1, 2, 99, 396, 4, 16}},
      {"rate 200001", {1, 2, 200001, 800004, 4, 16}},
      {"rate 2^32-1", {1, 2, 0xFFFFFFFFu, 0xFFFFFFFCu, 4, 16}},
      {"byte rate 0", {1, 2, 22050, 0, 4, 16}},
      {"byte rate huge", {1, 2, 22050, 0xFFFFFFFFu, 4, 16}},
      {"block align 0", {1, 2, 22050, 88200, 0, 16}},
      {"block align 3", {1, 2, 22050, 66150, 3, 16}},
      {"24 bits", {1, 2, 22050, 132300, 6, 24}},
      {"12 bits", {1, 2, 22050, 88200, 4, 12}}};
  // With the 18-byte body the file's bits are taken as they are.
  for (const auto& [what, f] : fields) cases.push_back({what, WithFmt(FmtBody(f, 18))});
  // With a 16-byte body the bits come from the block (6 bytes of one channel is 48), and
  // no channels is refused before the division by the channel count.
  cases.push_back({"48 bits from the block", SimpleWave(Pattern(120), {1, 1, 22050, 132300, 6, 16})});
  cases.push_back({"16-byte fmt, no channels", SimpleWave(Pattern(120), {1, 0, 22050, 88200, 4, 0})});
  // Chunk sizes near 2^32 end the walk; so do endless empty chunks.
  for (std::uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFF7u, 0xFFFFFFF8u, 0xFFFFFFFFu})
    cases.push_back(
        {"chunk size " + std::to_string(size),
         Riff({Chunk("fmt ", FmtBody({})), Chunk("junk", Bytes(4, 0), size), Chunk("data", Pattern(64))})});
  std::vector<Bytes> empties{Chunk("fmt ", FmtBody({}))};
  for (int i = 0; i < 70000; ++i) empties.push_back(Chunk("none", {}));
  empties.push_back(Chunk("data", Pattern(8)));
  cases.push_back({"70000 empty chunks", Riff(empties)});
  cases.push_back({"no data chunk", Riff({Chunk("fmt ", FmtBody({}))})});
  cases.push_back({"no data after LIST", Riff({Chunk("fmt ", FmtBody({})), Chunk("LIST", Bytes(10, 0))})});
  cases.push_back({"data header ends the file", Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}, 1000)})});
  // Neither WAVE nor Ogg Vorbis: every trial fails.
  Bytes fakePage = Pattern(5000);
  std::memcpy(fakePage.data(), "OggS", 4);
  for (Bytes junk :
       {Bytes(1, 'O'), Bytes{'O', 'g', 'g', 'S'}, Pattern(5000), fakePage, Bytes(3000, 0), Pattern(100000)})
    cases.push_back({"junk of " + std::to_string(junk.size()), junk});

  for (const Case& c : cases) {
    const gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
    EXPECT_EQ(SetupOf(c.file), -1) << c.what;
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks) << c.what;
  }
}

TEST(ConvertHostile, OddButValidLayoutsConvertTheirData) {
  const struct {
    const char* what;
    Bytes file;
    Bytes pcm;
  } cases[] = {
      // A 16-byte fmt whose wBitsPerSample is wrong: nBlockAlign / nChannels * 8.
      {"bits stored 0", SimpleWave(Pattern(400), {1, 2, 22050, 88200, 4, 0}), Pattern(400)},
      {"bits stored 8", SimpleWave(Pattern(400), {1, 2, 22050, 88200, 4, 8}), Pattern(400)},
      {"bits stored 99", SimpleWave(Pattern(400), {1, 2, 22050, 88200, 4, 99}), Pattern(400)},
      // An 18-byte body's cbSize is never read by the PCM reader.
      {"cbSize 0xFFFF", Riff({Chunk("fmt ", FmtBody({}, 18, 0xFFFF)), Chunk("data", Pattern(64))}),
       Pattern(64)},
      // A long fmt body is skipped without a pad byte; other odd chunks are padded.
      {"21-byte fmt", Riff({Chunk("fmt ", FmtBody({}, 21), -1, false), Chunk("data", Pattern(40))}),
       Pattern(40)},
      {"odd chunks",
       Riff({Chunk("fmt ", FmtBody({})), Chunk("odd1", Bytes(1, 7)), Chunk("LIST", Bytes(17, 9)),
             Chunk("zero", {}), Chunk("data", Pattern(200)), Chunk("tail", Bytes(5, 1))}),
       Pattern(200)},
      {"part frame", SimpleWave(Pattern(401)), Pattern(400)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ConvertedOrEmpty(c.file), c.pcm) << c.what;
    Converter conv(c.file);
    ASSERT_EQ(conv.Setup(), 0) << c.what;
    EXPECT_EQ(conv->pcmFormat.wBitsPerSample, 16) << c.what;
    EXPECT_EQ(conv->dataChunkBytes, static_cast<int>(c.pcm.size())) << c.what;
  }
}

TEST(ConvertHostile, DataLargerThanTheFileIsClamped) {
  for (std::uint32_t claimed : {401u, 1000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    Converter c(Riff({Chunk("fmt ", FmtBody({})), Chunk("data", Pattern(400), claimed)}));
    ASSERT_EQ(c.Setup(), 0) << claimed;
    EXPECT_EQ(c->dataChunkBytes, 400);
    EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), 400);
    EXPECT_EQ(c.Whole(), Pattern(400));
    // The block path ends too, rather than handing out endless output.
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 50), 0);
    EXPECT_EQ(c.Block(100000).size(), 200u);
    EXPECT_TRUE(c.Block(100000).empty());
  }
  // An empty data chunk with more after it sets up, but has nothing to convert whole.
  Converter c(Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}), Chunk("LIST", Bytes(4, 0))}));
  ASSERT_EQ(c.Setup(), 0);
  bool ok = true;
  EXPECT_TRUE(c.Whole(&ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_TRUE(c.Block(100).empty());
}

TEST(ConvertHostile, HostileBytesAfterTheHeaderNeverLeak) {
  // Random damage to a real file: whatever sets up converts consistently (whole =
  // blocks) and leaves no library memory.
  std::mt19937 random(99);
  const Bytes real = ReadFileBytes(DataDir() / "pcm_s16_22050_chunks.wav");
  const gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  for (int i = 0; i < 300; ++i) {
    Bytes file = real;
    const int damage = std::uniform_int_distribution<int>(1, 8)(random);
    for (int d = 0; d < damage; ++d)
      file[std::uniform_int_distribution<std::size_t>(0, 120)(random)] = static_cast<std::uint8_t>(random());
    if (i % 3 == 0) file.resize(std::uniform_int_distribution<std::size_t>(0, file.size())(random));
    EXPECT_LE(ConvertedOrEmpty(file).size(), file.size());
  }
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks);
}

TEST(ConvertHostile, TruncatedOggNeverOverruns) {
  const Bytes ogg = ReadFileBytes(DataDir() / "ogg_s16_44100.ogg");
  const std::size_t reference = Reference("ogg_s16_44100.ogg").size();
  ASSERT_FALSE(ogg.empty());
  for (std::size_t n = 0; n < ogg.size(); n += 97) {
    Converter c(Bytes(ogg.begin(), ogg.begin() + n));
    if (c.Setup() != 0) continue;
    // At most the full length, and never more than the whole-conversion size promised.
    const int promised = gamelib::GetSoundConvertDestSize(c.get());
    Bytes pcm = c.Whole();
    EXPECT_LE(static_cast<int>(pcm.size()), promised) << n;
    EXPECT_LE(pcm.size(), reference + 4096) << n;
  }
  EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
}

TEST(ConvertHostile, CorruptOggPagesEndOrSkipButNeverCrash) {
  // Damage in the chained file's second link must still leave the first link's audio
  // (vorbisfile opens such a file standing at its end).
  const Bytes ogg = ReadFileBytes(DataDir() / "ogg_s16_44100_chained.ogg");
  const Bytes reference = Reference("ogg_s16_44100_chained.ogg");
  std::mt19937 random(4242);
  int decodedSome = 0;
  for (int i = 0; i < 200; ++i) {
    Bytes bad = ogg;
    const std::size_t from =
        std::uniform_int_distribution<std::size_t>(bad.size() * 4 / 5, bad.size() - 64)(random);
    const std::size_t len = std::uniform_int_distribution<std::size_t>(1, 60)(random);
    for (std::size_t k = 0; k < len; ++k) bad[from + k] = static_cast<std::uint8_t>(random());
    Converter c(bad);
    if (c.Setup() != 0) continue;
    const int promised = gamelib::GetSoundConvertDestSize(c.get());
    Bytes pcm = c.Whole();
    EXPECT_LE(static_cast<int>(pcm.size()), promised);
    if (pcm.size() >= 4410 * 4) {
      ++decodedSome;
      EXPECT_TRUE(std::equal(reference.begin(), reference.begin() + 4410 * 4, pcm.begin()));
    }
    // Seeks into damaged data give data or the end, never garbage lengths.
    for (int s : {0, 1000, 5000, 7000, 20000}) {
      ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), s), 0);
      int r = 0;
      c.Block(3000, &r);
      EXPECT_GE(r, 0);
      EXPECT_LE(r, 3000);
    }
  }
  EXPECT_GT(decodedSome, 100);
  EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
}

// ---- Edge cases of the converter itself ---------------------------------------------

TEST(ConvertEdges, NotSetUpIsRefused) {
  Converter c(Bytes{});
  Bytes out(16);
  EXPECT_EQ(gamelib::ConvertSoundBlock(c.get(), out.data(), 16), -1);
  EXPECT_EQ(gamelib::TerminateSoundConvert(c.get()), -1);
  EXPECT_EQ(gamelib::SetSoundConvertPosition(c.get(), 0), -1);
  WAVEFORMATEX f;
  void* data = nullptr;
  int bytes = 0;
  EXPECT_EQ(gamelib::ConvertSoundWhole(c.get(), &f, &data, &bytes), -1);
  EXPECT_EQ(data, nullptr);
}

TEST(ConvertEdges, SeekWithinSixteenBytesKeepsTheEnd) {
  Converter c(SimpleWave(Pattern(1000)));
  ASSERT_EQ(c.Setup(), 0);
  c.Drain(300);
  ASSERT_EQ(c->endReached, 1);
  // 1000 bytes = sample 250; 247 is 12 bytes away: skipped, still at the end.
  EXPECT_EQ(gamelib::SetSoundConvertPosition(c.get(), 247), 0);
  EXPECT_EQ(c->endReached, 1);
  EXPECT_TRUE(c.Block(10).empty());
  // 246 is 16 bytes away: a real seek.
  EXPECT_EQ(gamelib::SetSoundConvertPosition(c.get(), 246), 0);
  EXPECT_EQ(c->endReached, 0);
  EXPECT_EQ(c.Block(100).size(), 16u);
}

TEST(ConvertEdges, SeeksStayInsideTheData) {
  // PCM: past the end is nothing (not the chunk after the data), before the start is
  // the start (not the header).
  Converter c(
      Riff({Chunk("fmt ", FmtBody({})), Chunk("data", Pattern(400)), Chunk("tail", Bytes(64, 0xAB))}));
  ASSERT_EQ(c.Setup(), 0);
  for (int past : {5000, 0x7FFFFFFF}) {
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), past), 0);
    EXPECT_TRUE(c.Block(100).empty());
  }
  ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), -1000), 0);
  EXPECT_EQ(c.Block(8), Pattern(8));
  // Ogg Vorbis: past either end the data ends; a good seek afterwards decodes again.
  Converter o(ReadFileBytes(DataDir() / "ogg_m16_22050.ogg"));
  ASSERT_EQ(o.Setup(), 0);
  for (int outside : {10000000, -5}) {
    ASSERT_EQ(gamelib::SetSoundConvertPosition(o.get(), outside), 0);
    EXPECT_TRUE(o.Block(4096).empty());
  }
  ASSERT_EQ(gamelib::SetSoundConvertPosition(o.get(), 100), 0);
  EXPECT_EQ(o.Block(400).size(), 400u);
}

TEST(ConvertEdges, SeekToTheEndOfABrokenChainEndsTheData) {
  // A chained file whose second link is broken: a seek to exactly its end used to
  // leave vorbisfile's page state corrupt, and the next read overran (found by fuzzing).
  Bytes file = ReadFileBytes(std::filesystem::path(GAMELIB_TEST_DATA_DIR) /
                             "../../fuzz/corpus/sound_convert/ogg_seek_to_end_of_broken_chain");
  ASSERT_FALSE(file.empty());
  Converter c(file);
  ASSERT_EQ(c.Setup(), 0);
  const int frames = c->dataChunkBytes / c->pcmFormat.nBlockAlign;
  ASSERT_GT(frames, 0);
  ASSERT_EQ(c.Block(100).size(), 100u);
  for (int sample : {frames, frames + 1, frames - 10, 0}) {
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), sample), 0);
    EXPECT_EQ(static_cast<int>(c.Drain(4096).size()),
              (frames - std::min(sample, frames)) * c->pcmFormat.nBlockAlign)
        << sample;
  }
}

TEST(ConvertEdges, FailedAllocationsReleaseTheDecoderAndAreReported) {
  // The Ogg trial has opened vorbisfile when the block allocation fails; nothing may
  // leak (the sanitizer build checks vorbisfile's own memory too).
  sim::Reset();
  const gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  {
    Converter c(ReadFileBytes(DataDir() / "ogg_s16_44100.ogg"));
    sim::FailCall("AllocMemory", 1);
    EXPECT_EQ(c.Setup(), -1);
    EXPECT_EQ(c->initialised, 0);
    EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
  }
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks);
  // A whole conversion whose allocation fails says so, and a later one works.
  sim::Reset();
  Converter c(SimpleWave(Pattern(400)));
  ASSERT_EQ(c.Setup(), 0);
  sim::FailCall("AllocMemory", 1);
  bool ok = true;
  EXPECT_TRUE(c.Whole(&ok).empty());
  EXPECT_FALSE(ok);
  sim::Reset();
  EXPECT_EQ(c.Whole(), Pattern(400));
}

TEST(ConvertEdges, EightBitOggOutput) {
  // With one byte per sample the output is 8-bit unsigned at the same length in frames.
  auto& setting = gamelib::GetSoundSystemState().OggSampleBytesSetting;
  const int saved = setting;
  setting = 1;
  Converter c(ReadFileBytes(DataDir() / "ogg_s16_44100.ogg"));
  ASSERT_EQ(c.Setup(), 0);
  setting = saved;
  EXPECT_EQ(c->pcmFormat.wBitsPerSample, 8);
  EXPECT_EQ(c->pcmFormat.nBlockAlign, 2);
  EXPECT_EQ(c.Whole().size(), Reference("ogg_s16_44100.ogg").size() / 2);
}

}  // namespace
