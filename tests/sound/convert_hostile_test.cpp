// Malformed and hostile input for the converter: every bad file gives -1 (or, where
// the data is merely short, what really is there), never a crash, a hang or a huge
// allocation; and the converter's own edge cases.
#include <gtest/gtest.h>

#include <random>

#include "convert_test_support.h"
#include "core/memory.h"
#include "platform/sim.h"
#include "sound/sound_state.h"

using namespace convert_test;

// vorbisfile 1.3.7 loses memory when it fails to open a chained file whose later link
// has broken headers; the tests check our side (every decoder cleared) by counting.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbis\n"; }

namespace {

int SetupOf(const Bytes& file) {
  Converter c(file);
  return c.Setup();
}

// The converter's whole output for a file that sets up, checking that the block path
// agrees with it; empty when set-up fails.
Bytes ConvertedOrEmpty(const Bytes& file) {
  Converter c(file);
  if (c.Setup() != 0) return {};
  EXPECT_EQ(c->initialised, 1);
  Bytes whole = c.Whole();
  Converter again(file);
  EXPECT_EQ(again.Setup(), 0);
  Bytes blocks;
  for (int guard = 0; guard < 100000; ++guard) {
    Bytes piece = again.Block(777);
    if (piece.empty()) break;
    blocks.insert(blocks.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(blocks, whole);
  return whole;
}

// ---- Headers and the fmt chunk ------------------------------------------------------

TEST(ConvertHostile, EmptyAndTruncatedHeadersAreRefused) {
  EXPECT_EQ(SetupOf({}), -1);
  Bytes good = SimpleWave(Pattern(400));
  // Up to and including the data chunk header nothing is playable.
  for (std::size_t n = 0; n <= 44; ++n) EXPECT_EQ(SetupOf(Bytes(good.begin(), good.begin() + n)), -1) << n;
  // Past it the data is cut to what is there, in whole sample frames.
  for (std::size_t n = 45; n <= good.size(); n += 3) {
    Bytes pcm = ConvertedOrEmpty(Bytes(good.begin(), good.begin() + n));
    std::size_t have = (n - 44) / 4 * 4;
    ASSERT_EQ(pcm.size(), have) << n;
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), good.begin() + 44)) << n;
  }
}

TEST(ConvertHostile, WrongIdsAreRefused) {
  Bytes good = SimpleWave(Pattern(64));
  for (std::size_t at : {0u, 3u, 8u, 11u, 12u, 15u, 36u, 39u}) {
    Bytes bad = good;
    bad[at] ^= 0x20;
    EXPECT_EQ(SetupOf(bad), -1) << "id byte " << at;
  }
  // fmt must be the first chunk.
  Bytes late = Riff({Chunk("LIST", Bytes(6, 1)), Chunk("fmt ", FmtBody({})), Chunk("data", Pattern(64))});
  EXPECT_EQ(SetupOf(late), -1);
  // A data chunk before fmt is not a fmt chunk either.
  EXPECT_EQ(SetupOf(Riff({Chunk("data", Pattern(64)), Chunk("fmt ", FmtBody({}))})), -1);
}

TEST(ConvertHostile, FmtBodySizesOutsideTheFormatAreRefused) {
  for (std::uint32_t size : {0u, 1u, 2u, 8u, 14u, 15u}) {
    Bytes fmt = FmtBody({});
    fmt.resize(size);
    EXPECT_EQ(SetupOf(Riff({Chunk("fmt ", fmt), Chunk("data", Pattern(64))})), -1) << size;
  }
  // Sizes that claim far more than the file holds, up to 2^32 - 1: refused without
  // being allocated (an allocation failure would show as a refusal too, so count).
  for (std::uint32_t size : {65535u + 19u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu}) {
    gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
    Bytes file = Riff({Chunk("fmt ", FmtBody({}), size), Chunk("data", Pattern(64))});
    EXPECT_EQ(SetupOf(file), -1) << size;
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks);
  }
  // A body bigger than the file.
  EXPECT_EQ(SetupOf(Riff({Chunk("fmt ", FmtBody({}), 40, false)})), -1);
}

TEST(ConvertHostile, ZeroAndAbsurdFormatFieldsAreRefused) {
  struct Case {
    const char* what;
    FmtFields f;
  };
  const Case cases[] = {
      {"tag 0", {0, 2, 22050, 88200, 4, 16}},
      {"tag 2 (compressed)", {2, 2, 22050, 88200, 4, 16}},
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
      {"12 bits", {1, 2, 22050, 88200, 4, 12}},
  };
  for (const Case& c : cases) {
    // Stored with the 18-byte body, so the file's bits are taken as they are.
    Bytes file = Riff({Chunk("fmt ", FmtBody(c.f, 18)), Chunk("data", Pattern(120))});
    EXPECT_EQ(SetupOf(file), -1) << c.what;
  }
  // With a 16-byte body the bits come from the block: 6 bytes of one channel is 48.
  EXPECT_EQ(SetupOf(SimpleWave(Pattern(120), {1, 1, 22050, 132300, 6, 16})), -1);
  // 16-byte body, no channels: refused before the division by the channel count.
  EXPECT_EQ(SetupOf(SimpleWave(Pattern(120), {1, 0, 22050, 88200, 4, 0})), -1);
}

TEST(ConvertHostile, SixteenByteFmtTakesBitsFromTheBlock) {
  // wBitsPerSample stored as 0 (or wrong): nBlockAlign / nChannels * 8.
  for (std::uint16_t stored : {0, 8, 99}) {
    Converter c(SimpleWave(Pattern(400), {1, 2, 22050, 88200, 4, stored}));
    ASSERT_EQ(c.Setup(), 0) << stored;
    EXPECT_EQ(c->pcmFormat.wBitsPerSample, 16);
    EXPECT_EQ(c->pcmFormat.cbSize, 0);
    EXPECT_EQ(c.Whole(), Pattern(400));
  }
  // An 18-byte body keeps its cbSize, whatever follows; the PCM reader never reads it.
  Converter c(Riff({Chunk("fmt ", FmtBody({}, 18, 0xFFFF)), Chunk("data", Pattern(64))}));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->pcmFormat.cbSize, 0xFFFF);
  EXPECT_EQ(c->fmtChunkBytes, 18);
  EXPECT_EQ(c.Whole(), Pattern(64));
}

TEST(ConvertHostile, LongFmtBodyIsSkippedWithoutPad) {
  // A 21-byte fmt body: the next header follows right after its 21 bytes.
  Bytes fmt = FmtBody({}, 21);
  Bytes file = Riff({Chunk("fmt ", fmt, -1, false), Chunk("data", Pattern(40))});
  Converter c(file);
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->fmtChunkPosition, 20);
  EXPECT_EQ(c->fmtChunkBytes, 21);
  EXPECT_EQ(c->dataChunkPosition, 20 + 21 + 8);
  EXPECT_EQ(c.Whole(), Pattern(40));
}

// ---- The chunk walk and the data chunk ------------------------------------------------

TEST(ConvertHostile, OddChunksArePaddedAndSkipped) {
  Bytes file = Riff({Chunk("fmt ", FmtBody({})), Chunk("odd1", Bytes(1, 7)), Chunk("LIST", Bytes(17, 9)),
                     Chunk("zero", {}), Chunk("data", Pattern(200)), Chunk("tail", Bytes(5, 1))});
  Converter c(file);
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkBytes, 200);
  EXPECT_EQ(c.Whole(), Pattern(200));
}

TEST(ConvertHostile, ChunkSizesNearTwoToThe32EndTheWalk) {
  for (std::uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFF7u, 0xFFFFFFF8u, 0xFFFFFFFFu}) {
    Bytes file = Riff({Chunk("fmt ", FmtBody({})), Chunk("junk", Bytes(4, 0), size), Chunk("data", Pattern(64))});
    EXPECT_EQ(SetupOf(file), -1) << size;
  }
}

TEST(ConvertHostile, ManyEmptyChunksEndTheWalk) {
  std::vector<Bytes> chunks{Chunk("fmt ", FmtBody({}))};
  for (int i = 0; i < 70000; ++i) chunks.push_back(Chunk("none", {}));
  chunks.push_back(Chunk("data", Pattern(8)));
  EXPECT_EQ(SetupOf(Riff(chunks)), -1);
}

TEST(ConvertHostile, MissingOrEmptyDataChunk) {
  EXPECT_EQ(SetupOf(Riff({Chunk("fmt ", FmtBody({}))})), -1);
  EXPECT_EQ(SetupOf(Riff({Chunk("fmt ", FmtBody({})), Chunk("LIST", Bytes(10, 0))})), -1);
  // A data header that ends the file.
  EXPECT_EQ(SetupOf(Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}, 1000)})), -1);
  // An empty data chunk with more after it sets up, but has nothing to convert whole.
  Converter c(Riff({Chunk("fmt ", FmtBody({})), Chunk("data", {}), Chunk("LIST", Bytes(4, 0))}));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkBytes, 0);
  bool ok = true;
  EXPECT_TRUE(c.Whole(&ok).empty());
  EXPECT_FALSE(ok);
  EXPECT_TRUE(c.Block(100).empty());
}

TEST(ConvertHostile, DataLargerThanTheFileIsClamped) {
  for (std::uint32_t claimed : {401u, 1000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    Bytes file = Riff({Chunk("fmt ", FmtBody({})), Chunk("data", Pattern(400), claimed)});
    Converter c(file);
    ASSERT_EQ(c.Setup(), 0) << claimed;
    EXPECT_EQ(c->dataChunkBytes, 400);
    EXPECT_EQ(gamelib::GetSoundConvertDestSize(c.get()), 400);
    EXPECT_EQ(c.Whole(), Pattern(400));
    // The block path ends too, rather than handing out endless output.
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 50), 0);
    EXPECT_EQ(c.Block(100000).size(), 200u);
    EXPECT_TRUE(c.Block(100000).empty());
  }
}

TEST(ConvertHostile, DataIsWholeSampleFrames) {
  // 401 bytes of 16-bit stereo: the last byte is not a frame.
  Converter c(SimpleWave(Pattern(401)));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->dataChunkBytes, 400);
  EXPECT_EQ(c.Whole(), Pattern(400));
}

TEST(ConvertHostile, HostileBytesAfterTheHeaderNeverLeak) {
  // Random bytes after a valid header, and random damage to a real file: whatever
  // sets up converts consistently (whole = blocks) and leaves no library memory.
  std::mt19937 random(99);
  Bytes real = ReadFileBytes(SoundDataDir() / "pcm_s16_22050_chunks.wav");
  gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  for (int i = 0; i < 300; ++i) {
    Bytes file = real;
    int damage = std::uniform_int_distribution<int>(1, 8)(random);
    for (int d = 0; d < damage; ++d) {
      std::size_t at = std::uniform_int_distribution<std::size_t>(0, 120)(random);
      file[at] = static_cast<std::uint8_t>(random());
    }
    if (i % 3 == 0) file.resize(std::uniform_int_distribution<std::size_t>(0, file.size())(random));
    Bytes pcm = ConvertedOrEmpty(file);
    EXPECT_LE(pcm.size(), file.size());
  }
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks);
}

// ---- Ogg Vorbis that is not right ----------------------------------------------------

TEST(ConvertHostile, NonOggJunkIsRefused) {
  EXPECT_EQ(SetupOf(Bytes(1, 'O')), -1);
  EXPECT_EQ(SetupOf(Bytes{'O', 'g', 'g', 'S'}), -1);
  Bytes junk = Pattern(5000);
  EXPECT_EQ(SetupOf(junk), -1);
  Bytes fakePage = junk;
  std::memcpy(fakePage.data(), "OggS", 4);
  EXPECT_EQ(SetupOf(fakePage), -1);
  EXPECT_EQ(SetupOf(Bytes(3000, 0)), -1);
}

TEST(ConvertHostile, TruncatedOggNeverOverruns) {
  Bytes ogg = ReadFileBytes(SoundDataDir() / "ogg_s16_44100.ogg");
  Bytes reference = ReadFileBytes(SoundDataDir() / "ogg_s16_44100.pcm");
  ASSERT_FALSE(ogg.empty());
  for (std::size_t n = 0; n < ogg.size(); n += 97) {
    Bytes cut(ogg.begin(), ogg.begin() + n);
    Converter c(cut);
    if (c.Setup() != 0) continue;
    // What a cut file decodes is at most the full length, and never more than the
    // whole-conversion size the converter promised.
    int promised = gamelib::GetSoundConvertDestSize(c.get());
    bool ok = false;
    Bytes pcm = c.Whole(&ok);
    EXPECT_LE(static_cast<int>(pcm.size()), promised) << n;
    EXPECT_LE(pcm.size(), reference.size() + 4096) << n;
  }
  EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
}

TEST(ConvertHostile, CorruptOggPagesEndOrSkipButNeverCrash) {
  // The chained file: damage in the second link's pages must still leave the first
  // link's audio (vorbisfile opens such a file standing at its end).
  Bytes ogg = ReadFileBytes(SoundDataDir() / "ogg_s16_44100_chained.ogg");
  Bytes reference = ReadFileBytes(SoundDataDir() / "ogg_s16_44100_chained.pcm");
  std::mt19937 random(4242);
  int decodedSome = 0;
  for (int i = 0; i < 200; ++i) {
    Bytes bad = ogg;
    std::size_t from = std::uniform_int_distribution<std::size_t>(bad.size() * 4 / 5, bad.size() - 64)(random);
    std::size_t len = std::uniform_int_distribution<std::size_t>(1, 60)(random);
    for (std::size_t k = 0; k < len; ++k) bad[from + k] = static_cast<std::uint8_t>(random());
    Converter c(bad);
    if (c.Setup() != 0) continue;
    int promised = gamelib::GetSoundConvertDestSize(c.get());
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
      Bytes piece = c.Block(3000, &r);
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

TEST(ConvertEdges, BlockAskedForMoreThanRemainsGivesTheRemainder) {
  const Bytes pcm = Pattern(1000);
  Converter c(SimpleWave(pcm));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c.Block(600), Bytes(pcm.begin(), pcm.begin() + 600));
  int r = -2;
  Bytes rest = c.Block(600, &r);
  EXPECT_EQ(r, 400);
  EXPECT_EQ(rest, Bytes(pcm.begin() + 600, pcm.end()));
  EXPECT_EQ(c->endReached, 1);
  EXPECT_TRUE(c.Block(600).empty());
  EXPECT_EQ(c->outputPosition, 1000);
}

TEST(ConvertEdges, SeekWithinSixteenBytesKeepsTheEnd) {
  Converter c(SimpleWave(Pattern(1000)));
  ASSERT_EQ(c.Setup(), 0);
  while (!c.Block(300).empty()) {
  }
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

TEST(ConvertEdges, PcmSeeksStayInsideTheData) {
  Converter c(Riff({Chunk("fmt ", FmtBody({})), Chunk("data", Pattern(400)), Chunk("tail", Bytes(64, 0xAB))}));
  ASSERT_EQ(c.Setup(), 0);
  // Past the end: nothing (not the chunk after the data).
  ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 5000), 0);
  EXPECT_TRUE(c.Block(100).empty());
  ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 0x7FFFFFFF), 0);
  EXPECT_TRUE(c.Block(100).empty());
  // Before the start: the start (not the header).
  ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), -1000), 0);
  EXPECT_EQ(c.Block(8), Bytes(Pattern(8)));
}

TEST(ConvertEdges, OggSeekPastTheEndEndsTheData) {
  Converter c(ReadFileBytes(SoundDataDir() / "ogg_m16_22050.ogg"));
  ASSERT_EQ(c.Setup(), 0);
  ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 10000000), 0);
  EXPECT_TRUE(c.Block(4096).empty());
  ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), -5), 0);
  EXPECT_TRUE(c.Block(4096).empty());
  // A good seek afterwards decodes again.
  ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), 100), 0);
  EXPECT_EQ(c.Block(400).size(), 400u);
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
    SCOPED_TRACE(sample);
    ASSERT_EQ(gamelib::SetSoundConvertPosition(c.get(), sample), 0);
    Bytes rest;
    for (Bytes p; !(p = c.Block(4096)).empty();) rest.insert(rest.end(), p.begin(), p.end());
    EXPECT_EQ(static_cast<int>(rest.size()), (frames - std::min(sample, frames)) * c->pcmFormat.nBlockAlign);
  }
}

TEST(ConvertEdges, OggMonoAt22050HasTheExpectedFormat) {
  Converter c(ReadFileBytes(SoundDataDir() / "ogg_m16_22050.ogg"));
  ASSERT_EQ(c.Setup(), 0);
  const WAVEFORMATEX& f = c->pcmFormat;
  EXPECT_EQ(f.wFormatTag, 1);
  EXPECT_EQ(f.nChannels, 1);
  EXPECT_EQ(f.nSamplesPerSec, 22050u);
  EXPECT_EQ(f.nAvgBytesPerSec, 44100u);
  EXPECT_EQ(f.nBlockAlign, 2);
  EXPECT_EQ(f.wBitsPerSample, 16);
  EXPECT_EQ(f.cbSize, 0);
}

TEST(ConvertEdges, OtherFormatsLeaveTheOggTrialWithoutSideEffects) {
  // A WAVE file goes to the PCM trial; junk fails every trial and leaves nothing.
  gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  EXPECT_EQ(SetupOf(Pattern(100000)), -1);
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks);
  Converter c(ReadFileBytes(SoundDataDir() / "pcm_m8_22050.wav"));
  ASSERT_EQ(c.Setup(), 0);
  EXPECT_EQ(c->convertKind, gamelib::SOUND_CONVERT_WAVE_PCM);
}

TEST(ConvertEdges, FailedBlockAllocationReleasesTheDecoder) {
  // The trial has opened vorbisfile when the block allocation fails; nothing may leak
  // (the sanitizer build checks vorbisfile's own memory too).
  sim::Reset();
  gamelib::MemoryUsage before = gamelib::GetMemoryUsage();
  {
    Converter c(ReadFileBytes(SoundDataDir() / "ogg_s16_44100.ogg"));
    sim::FailCall("AllocMemory", 1);
    EXPECT_EQ(c.Setup(), -1);
    EXPECT_EQ(c->initialised, 0);
    EXPECT_EQ(c->ogg.oggOpen, 0);
    EXPECT_EQ(gamelib::LiveOggDecoders(), 0);
  }
  sim::Reset();
  EXPECT_EQ(gamelib::GetMemoryUsage().blocks, before.blocks);
}

TEST(ConvertEdges, WholeConversionAllocationFailureIsReported) {
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
  int saved = setting;
  setting = 1;
  Converter c(ReadFileBytes(SoundDataDir() / "ogg_s16_44100.ogg"));
  ASSERT_EQ(c.Setup(), 0);
  setting = saved;
  EXPECT_EQ(c->pcmFormat.wBitsPerSample, 8);
  EXPECT_EQ(c->pcmFormat.nBlockAlign, 2);
  Bytes pcm = c.Whole();
  EXPECT_EQ(pcm.size(), ReadFileBytes(SoundDataDir() / "ogg_s16_44100.pcm").size() / 2);
}

}  // namespace
