// Malformed, odd and hostile files through the loader, as memory sounds and as stream
// sounds: a bad file gives -1 and leaves nothing behind, never a crash, a hang or a huge
// allocation; an odd but readable one plays exactly what is really there. MPEG files
// built frame by frame pin the frame scan (tags, junk, cut frames, the bitrate tables).
#include "sound_test_support.h"

using namespace gamelib;
using namespace soundtest;

// vorbisfile 1.3.7 loses memory when it fails to open a chained file whose later link
// has broken headers; our side (every decoder cleared) is checked by the leak count.
extern "C" const char* __lsan_default_suppressions() { return "leak:libvorbis\n"; }

namespace {

// ---- Files built by hand ------------------------------------------------------------------
const int kBitrates[5][15] = {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
                              {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
                              {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},
                              {0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
                              {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}};
const int kRates[2][3] = {{44100, 48000, 32000}, {22050, 24000, 16000}};

// An MPEG audio frame: version, layer, bitrate and rate indexes, padding, mono.
struct Frame {
  bool mpeg1 = true;
  int layer = 3, bitrateIndex = 9, rateIndex = 0, padding = 0;
  bool mono = false;
  int Samples() const { return layer == 1 ? 384 : layer == 3 && !mpeg1 ? 576 : 1152; }
  int Length() const {
    const int kbps = kBitrates[mpeg1 ? layer - 1 : std::min(layer, 2) + 2][bitrateIndex],
              rate = kRates[!mpeg1][rateIndex];
    return layer == 1 ? (12000 * kbps / rate + padding) * 4 : Samples() / 8 * 1000 * kbps / rate + padding;
  }
  Bytes Header() const {
    return {0xFF, static_cast<std::uint8_t>(0xF1 | (mpeg1 ? 8 : 0) | ((4 - layer) << 1)),
            static_cast<std::uint8_t>(bitrateIndex << 4 | rateIndex << 2 | padding << 1),
            static_cast<std::uint8_t>(mono ? 0xC0 : 0)};
  }
  // Whole frames of silence (zero side information decodes to zero samples), and their PCM.
  Bytes Silent(int count = 1) const { return Repeat(Concat({Header(), Bytes(Length() - 4, 0)}), count); }
  Bytes Pcm(int count = 1) const { return Bytes(count * Samples() * (mono ? 2 : 4), 0); }
};
const Frame kFrame;                          // MPEG-1 layer III, 128 kbit/s, 44100 Hz stereo: 417 bytes
const Frame kTiny{false, 3, 1, 1, 0, true};  // MPEG-2 layer III, 8 kbit/s, 24000 Hz mono: 24 bytes

// An ID3v2 tag of `size` body bytes, with its version and flags. Its body is full of frame
// headers, which only a scan that failed to skip the tag would find.
Bytes Id3v2(std::uint32_t size, int major = 3, std::uint8_t flags = 0) {
  Bytes tag = {'I', 'D', '3', static_cast<std::uint8_t>(major), 0, flags};
  for (int shift : {21, 14, 7, 0}) tag.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
  const Bytes footer = Concat({{'3', 'D', 'I'}, Tail(tag, 3)});
  return Concat(
      {tag, Head(kTiny.Silent(size / 24 + 1), size), major == 4 && (flags & 0x10) ? footer : Bytes{}});
}
// An ID3v1 tag, holding a whole frame (32 kbit/s: 104 bytes) that only a scan that failed
// to see the tag would find.
const Bytes kId3v1 = Concat({{'T', 'A', 'G'}, Frame{true, 3, 1}.Silent(), Bytes(21, ' ')});
// IMA ADPCM WAVE, mono 22050 Hz; zero blocks decode to zero samples.
Bytes ImaWave(const Bytes& data, std::uint16_t align = 256, std::int64_t stored = -1,
              std::uint16_t cbSize = 2) {
  Bytes body = FmtBody({WAVE_FORMAT_IMA_ADPCM, 1, 22050, 11100, align, 4}, 18, cbSize);
  PutLe(body, (align - 4) * 2 + 1, 2);
  return Riff({Chunk("fmt ", body), Chunk("fact", Bytes(4, 0)), Chunk("data", data, stored)});
}
Bytes WithFmt(const Bytes& fmt, std::int64_t stored = -1) {
  return Riff({Chunk("fmt ", fmt, stored), Chunk("data", Pattern(64))});
}
Bytes WithChunks(std::initializer_list<Bytes> chunks) {
  return Riff({Chunk("fmt ", FmtBody({})), Concat(chunks)});
}

TEST_F(SoundTest, MalformedFilesAreRefusedAsMemoryAndAsStreamSounds) {
  const Bytes good = Wave(Pattern(400));
  std::vector<Bytes> files = {{}};
  // Up to and including the data chunk's header nothing is playable; nor with a wrong id.
  for (std::size_t n = 1; n <= 44; ++n) files.push_back(Head(good, n));
  for (std::size_t at : {0, 3, 8, 11, 12, 15, 36, 39}) files.push_back(good), files.back()[at] ^= 0x20;
  files.push_back(Riff({Chunk("LIST", Bytes(6, 1)), Chunk("fmt ", FmtBody({})), Chunk("data", Pattern(64))}));
  files.push_back(Riff({Chunk("data", Pattern(64)), Chunk("fmt ", FmtBody({}))}));
  // fmt bodies too short; sizes far past the file, up to 2^32 - 1 (never allocated).
  for (std::size_t size : {0, 1, 2, 8, 14, 15}) files.push_back(WithFmt(Head(FmtBody({}), size)));
  for (std::uint32_t size : {65535u + 19u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFFFu})
    files.push_back(WithFmt(FmtBody({}), size));
  files.push_back(Riff({Chunk("fmt ", FmtBody({}), 40, false)}));
  // Formats nothing can play: tags, no or three channels, rates 0, 99, 200001 and 2^32-1,
  // byte rates 0 and huge, block aligns 0 and 3, 24 and 12 bits.
  const FmtFields formats[] = {{0, 2, 22050, 88200, 4, 16},   {0xFFFE, 2, 22050, 88200, 4, 16},
                               {1, 0, 22050, 88200, 4, 16},   {1, 3, 22050, 132300, 6, 16},
                               {1, 2, 0, 0, 4, 16},           {1, 2, 99, 396, 4, 16},
                               {1, 2, 200001, 800004, 4, 16}, {1, 2, 0xFFFFFFFF, 0xFFFFFFFC, 4, 16},
                               {1, 2, 22050, 0, 4, 16},       {1, 2, 22050, 0xFFFFFFFF, 4, 16},
                               {1, 2, 22050, 88200, 0, 16},   {1, 2, 22050, 66150, 3, 16},
                               {1, 2, 22050, 132300, 6, 24},  {1, 2, 22050, 88200, 4, 12}};
  for (const FmtFields& f : formats) files.push_back(WithFmt(FmtBody(f, 18)));
  // A 16-byte body takes the bits from the block: 6 bytes of one channel is 48; no channels.
  files.push_back(Wave(Pattern(120), {1, 1, 22050, 132300, 6, 16}));
  files.push_back(Wave(Pattern(120), {1, 0, 22050, 88200, 4, 0}));
  // Chunk sizes near 2^32 end the walk; so do endless empty chunks; no data at all.
  for (std::uint32_t size : {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF0u, 0xFFFFFFF7u, 0xFFFFFFF8u, 0xFFFFFFFFu})
    files.push_back(WithChunks({Chunk("junk", Bytes(4, 0), size), Chunk("data", Pattern(64))}));
  files.push_back(WithChunks({Repeat(Chunk("none", {}), 70000), Chunk("data", Pattern(8))}));
  files.push_back(WithChunks({Chunk("LIST", Bytes(10, 0))}));
  files.push_back(WithChunks({Chunk("data", {}, 1000)}));
  // Neither WAVE, Ogg Vorbis nor MPEG.
  const Bytes fakePage = Concat({{'O', 'g', 'g', 'S'}, Pattern(4996)});
  for (const Bytes& junk :
       {Bytes(1, 'O'), Head(fakePage, 4), Pattern(5000), fakePage, Bytes(3000, 0), Pattern(100000)})
    files.push_back(junk);
  // ADPCM without data, with blocks no 2048-byte piece holds; MS ADPCM with fewer
  // coefficients than its count.
  for (std::uint16_t align : {256, 4096, 2052})
    files.push_back(ImaWave(Bytes(align == 256 ? 0 : 2 * align, 0), align));
  Bytes msadpcm = FmtBody({WAVE_FORMAT_ADPCM, 1, 22050, 88200, 256, 4}, 18, 32);
  PutLe(msadpcm, 500 | 7 << 16, 4);
  files.push_back(
      Riff({Chunk("fmt ", Head(Concat({msadpcm, Bytes(40, 0)}), 40)), Chunk("data", Bytes(512, 0))}));
  // MPEG: a cut ID3 header; a sync only inside the tag block; broken headers after good
  // frames; free format (no length) alone, padded, in layer I or after good frames; ID3
  // sizes past the end; files of 128 bytes or less, all of it room for a tag.
  files.push_back({'I', 'D', '3', 4, 0});
  files.push_back(Concat({Bytes(300, 0x20), kId3v1}));
  for (const Bytes& bad :
       {Bytes{0xFF, 0xF9, 0x90, 0x00}, Frame{true, 3, 15}.Header(), Frame{true, 3, 0}.Header()})
    files.push_back(Concat({kFrame.Silent(2), bad, Bytes(600, 0)}));
  for (const Frame& f : {Frame{true, 3, 0}, Frame{true, 3, 0, 0, 1}, Frame{true, 1, 0}})
    files.push_back(Concat({f.Header(), Bytes(600, 0)}));
  for (std::uint8_t b : {0x7F, 0xFF}) {
    files.push_back(Concat({Id3v2(0, 4, 0x10), kFrame.Silent(2)}));
    std::fill(files.back().begin() + 6, files.back().begin() + 10, b);
  }
  for (std::size_t n = 8; n <= 128; n += 8) files.push_back(Head(kTiny.Silent(7), n));

  const std::string ima = Write("ima.wav", ImaWave(Bytes(1024, 0))), mp3 = Write("mp3.mp3", kFrame.Silent(4));
  const auto refused = [](const std::string& file, const std::string& what,
                          const std::function<void()>& refuse) {
    for (int type : {0, 2, 3}) {
      refuse();
      const int h = Load(file, type);
      EXPECT_EQ(h, -1) << what << " as type " << type;
      DeleteSoundHandle(h);
      EXPECT_TRUE(Buffers().empty()) << what;
      EXPECT_EQ(sim::LiveAcmStreams(), 0) << what;
      sim::ClearFailures();
    }
  };
  for (std::size_t i = 0; i < files.size(); ++i)
    refused(Write("bad.wav", files[i]), "file " + std::to_string(i), [] {});
  // What the compression manager refuses: the format, its suggestion, the main decoder,
  // the loop decoder.
  for (const std::string& file : {ima, mp3}) {
    const WORD tag = file == ima ? WAVE_FORMAT_IMA_ADPCM : WAVE_FORMAT_MPEGLAYER3;
    refused(file, file, [&] { sim::SetAcmFormatEnabled(tag, false); });
    sim::SetAcmFormatEnabled(tag, true);
    for (const auto& [call, nth] :
         {std::pair{"acmFormatSuggest", 1}, {"acmStreamOpen", 1}, {"acmStreamOpen", 2}})
      refused(file, file + " " + call, [&] { sim::FailCall(call, nth); });
  }
  // Without a size from the manager there is no whole conversion.
  sim::FailCall("acmStreamSize", 1);
  EXPECT_EQ(Load(ima), -1);
  // The MPEG format block is as large as the manager says, never less than it is.
  for (std::int64_t formatBytes : {-1, 12, 64, 1 << 30}) {
    sim::SetAcmMaxFormatSize(formatBytes);
    const int h = Load(mp3);
    EXPECT_EQ(sim::SoundBufferContents(Buffers().at(0)), kFrame.Pcm(4));
    ASSERT_EQ(DeleteSoundHandle(h), 0);
  }
}

TEST_F(SoundTest, ReadableOddFilesPlayWhatIsThere) {
  struct Readable {
    Bytes file, pcm;        // what plays
    int align = 4;          // of the PCM
    int streamFrames = -1;  // the length a stream sound states (-1: that of `pcm`)
  };
  std::vector<Readable> rows;
  // Cut data is cut to whole sample frames; a data chunk that claims more is cut to the file.
  for (std::size_t n = 48; n <= 444; n += 7)
    rows.push_back({Head(Wave(Pattern(400)), n), Head(Pattern(400), (n - 44) / 4 * 4)});
  for (std::uint32_t claimed : {401u, 1000u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu})
    rows.push_back({WithChunks({Chunk("data", Pattern(400), claimed)}), Pattern(400)});
  // A 16-byte fmt's bits are nBlockAlign / nChannels * 8 whatever is stored; an 18-byte
  // one's cbSize is never read; a long fmt, odd chunks around the data, a part frame.
  for (std::uint16_t bits : {0, 8, 99})
    rows.push_back({Wave(Pattern(400), {1, 2, 22050, 88200, 4, bits}), Pattern(400)});
  rows.push_back({WithFmt(FmtBody({}, 18, 0xFFFF)), Pattern(64)});
  rows.push_back(
      {Riff({Chunk("fmt ", FmtBody({}, 21), -1, false), Chunk("data", Pattern(40))}), Pattern(40)});
  rows.push_back({WithChunks({Chunk("odd1", Bytes(1, 7)), Chunk("LIST", Bytes(17, 9)), Chunk("zero", {}),
                              Chunk("data", Pattern(200)), Chunk("tail", Bytes(5, 1))}),
                  Pattern(200)});
  rows.push_back({Wave(Pattern(401)), Pattern(400)});
  // ADPCM: a data chunk that lies is cut to whole blocks; a cbSize past the body shows the
  // manager only the body; 2048 bytes is the largest block.
  rows.push_back({ImaWave(Bytes(256 * 3, 0)), Bytes(3 * 505 * 2, 0), 2});
  rows.push_back({ImaWave(Bytes(256 * 2 + 100, 0), 256, 0x7FFFFFF0), Bytes(2 * 505 * 2, 0), 2});
  rows.push_back({ImaWave(Bytes(256, 0), 256, -1, 0xFFFF), Bytes(505 * 2, 0), 2});
  rows.push_back({ImaWave(Bytes(2048 * 2, 0), 2048), Bytes(2 * 4089 * 2, 0), 2});
  // MPEG: tags skipped (an ID3v2 body by its syncsafe size, a v2.4 footer, none before
  // v2.4, size bytes masked to 7 bits), an ID3v1 tag and junk after the frames ignored,
  // junk between them skipped even when longer than a piece, mixed sizes.
  const Bytes five = kFrame.Silent(5), masked = Concat({Head(Id3v2(0), 6), Bytes(4, 0x80)});
  for (const Bytes& file :
       {Concat({Id3v2(1000), five}), Concat({Id3v2(1000, 4, 0x10), five}),
        Concat({Id3v2(1000, 3, 0x10), Bytes(10, 0), five}), Concat({masked, five}), Concat({five, kId3v1}),
        Concat({five, Bytes(300, 0x11)}),
        Concat({kFrame.Silent(), Bytes(50, 0x11), kFrame.Silent(), Bytes(5000, 0), kFrame.Silent(3)})})
    rows.push_back({file, kFrame.Pcm(5)});
  rows.push_back(
      {Concat({kFrame.Silent(), Frame{true, 3, 5, 0, 1}.Silent(), Frame{true, 3, 9, 0, 1}.Silent()}),
       kFrame.Pcm(3)});
  rows.push_back({kTiny.Silent(7), kTiny.Pcm(7), 2});
  // A frame that runs into the tag, or is cut by the file's end, decodes to nothing; it
  // counts in the stated length when its header is whole.
  rows.push_back(
      {Concat({kFrame.Silent(2), Head(kFrame.Silent(), 100), kId3v1}), kFrame.Pcm(2), 4, 3 * 1152});
  for (int cut : {1, 3, 4, 200, 416})
    rows.push_back({Head(kFrame.Silent(6), 5 * 417 + cut), kFrame.Pcm(5), 4, (cut >= 4 ? 6 : 5) * 1152});
  // Every bitrate of every layer, version and rate, in files longer than the room for a tag.
  for (int i = 0; i < 2 * 3 * 3 * 14; ++i) {
    const Frame f{i < 126, i / 42 % 3 + 1, i % 14 + 1, i / 14 % 3, 0, true};
    rows.push_back({f.Silent(2 + 256 / f.Length()), f.Pcm(2 + 256 / f.Length()), 2});
  }

  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Readable& r = rows[i];
    const std::string name = Write("odd.wav", r.file);
    SCOPED_TRACE(i);
    const int memory = Load(name, 0), frames = static_cast<int>(r.pcm.size()) / r.align;
    EXPECT_EQ(GetSoundTotalSampleCount(memory), frames);
    EXPECT_EQ(sim::SoundBufferContents(Buffers().at(0)), r.pcm);
    ASSERT_EQ(DeleteSoundHandle(memory), 0);
    // The stream sound decodes piece by piece while it plays.
    const int stream = Load(name, 3);
    EXPECT_EQ(GetSoundTotalSampleCount(stream), r.streamFrames != -1 ? r.streamFrames : frames);
    ASSERT_TRUE(sim::StartSoundTap(NewestRing()));
    ASSERT_EQ(PlaySoundHandle(stream, kSoundPlayWait), 0);
    EXPECT_TRUE(HeardThenSilence(sim::TakeSoundTap(NewestRing()), r.pcm));
    ASSERT_EQ(DeleteSoundHandle(stream), 0);
  }
}

// ---- Loop points of compressed sounds -------------------------------------------------------

// The loop decoder creeps towards the loop point behind the main decoder, so that a jump
// back resumes from it: only the very first main conversion starts at the data's start,
// and each jump closes one decoder and opens one. A loop point past what a compressed WAVE
// really decodes (it states only a bound) finds no data: that ends the data, it does not spin.
TEST_F(SoundTest, Mp3LoopPointsResumeFromTheLoopDecoderOrEndTheData) {
  const std::string mp3 = Data("acm/mp3_s16_44100_128k_id3v2.mp3");
  const Bytes reference = Reference(mp3);
  int h = Load(mp3, 3);
  ASSERT_EQ(SetSoundLoopPoint(10001, h), 0);
  sim::ClearAcmCalls();
  const Bytes heard = PlayFor(h, kSoundPlayBackground, 1, Rhythm::Fps60, 7 * kSecond);
  EXPECT_TRUE(HeardPrefix(heard, Concat({reference, Repeat(Tail(reference, 40004), 200)}), 7 * 176400));
  int mainFromStart = 0, closes = 0, opens = 0;
  for (const sim::AcmCall& call : sim::AcmCalls()) {
    closes += call.op == "acmStreamClose";
    opens += call.op == "acmStreamOpen";
    mainFromStart += call.op == "acmStreamConvert" && call.dstLength > 40004 && call.inputPosition == 0;
  }
  EXPECT_EQ(Ints({mainFromStart, closes - opens}), Ints({1, 0}));
  EXPECT_GE(closes, static_cast<int>(heard.size() / 15292) - 4);
  const Bytes wave = Reference("acm/mp3wav_m16_22050.wav");
  h = Load(Data("acm/mp3wav_m16_22050.wav"), 3);
  const int decoded = static_cast<int>(wave.size()) / 2;
  ASSERT_GT(GetSoundTotalSampleCount(h), decoded + 1);
  ASSERT_EQ(SetSoundLoopPoint((decoded + GetSoundTotalSampleCount(h)) / 2, h), 0);
  ASSERT_TRUE(sim::StartSoundTap(NewestRing()));
  ASSERT_EQ(PlaySoundHandle(h, kSoundPlayBackground), 0);
  RunGame(Rhythm::Fps60, 2 * kSecond);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_TRUE(HeardThenSilence(sim::TakeSoundTap(NewestRing()), wave));
}

}  // namespace
