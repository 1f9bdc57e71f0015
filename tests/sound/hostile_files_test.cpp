// Malformed, odd and hostile files through the loader, as memory sounds and as stream
// sounds: a bad file gives -1 and leaves nothing behind, never a crash, a hang or a huge
// allocation; an odd but readable one plays exactly what is really there. MPEG files
// built frame by frame pin the frame scan (tags, junk, cut frames, the bitrate tables).
#include <random>

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
    const int kbps = kBitrates[mpeg1 ? layer - 1 : layer == 1 ? 3 : 4][bitrateIndex];
    const int rate = kRates[mpeg1 ? 0 : 1][rateIndex];
    return layer == 1 ? (12000 * kbps / rate + padding) * 4 : Samples() / 8 * 1000 * kbps / rate + padding;
  }
  Bytes Header() const {
    return {0xFF, static_cast<std::uint8_t>(0xF1 | (mpeg1 ? 8 : 0) | ((4 - layer) << 1)),
            static_cast<std::uint8_t>(bitrateIndex << 4 | rateIndex << 2 | padding << 1),
            static_cast<std::uint8_t>(mono ? 0xC0 : 0)};
  }
  // Whole frames of silence: zero side information decodes to zero samples.
  Bytes Silent(int count = 1) const {
    Bytes frame = Header();
    frame.resize(Length(), 0);
    return Repeat(frame, count);
  }
  Bytes Pcm(int count = 1) const { return Bytes(count * Samples() * (mono ? 2 : 4), 0); }
};
const Frame kFrame;                          // MPEG-1 layer III, 128 kbit/s, 44100 Hz stereo: 417 bytes
const Frame kTiny{false, 3, 1, 1, 0, true};  // MPEG-2 layer III, 8 kbit/s, 24000 Hz mono: 24 bytes

// An ID3v2 tag of `size` body bytes, with its version and flags. Its body is full of frame
// headers, which only a scan that failed to skip the tag would find.
Bytes Id3v2(std::uint32_t size, int major = 3, std::uint8_t flags = 0) {
  Bytes tag = {'I', 'D', '3', static_cast<std::uint8_t>(major), 0, flags};
  for (int shift : {21, 14, 7, 0}) tag.push_back(static_cast<std::uint8_t>((size >> shift) & 0x7F));
  const Bytes header = Head(tag, 10), footer = {'3', 'D', 'I', static_cast<std::uint8_t>(major), 0, flags};
  tag = Concat({tag, Head(kTiny.Silent(size / 24 + 1), size)});
  return major == 4 && (flags & 0x10) ? Concat({tag, footer, Tail(header, 6)}) : tag;
}
const Bytes kId3v1 = Concat({Bytes{'T', 'A', 'G'}, Bytes(125, ' ')});
// IMA ADPCM WAVE, mono 22050 Hz; zero blocks decode to zero samples.
Bytes ImaWave(const Bytes& data, std::uint16_t align = 256, std::int64_t storedSize = -1,
              std::uint16_t cbSize = 2) {
  Bytes body = FmtBody({WAVE_FORMAT_IMA_ADPCM, 1, 22050, 11100, align, 4}, 18, cbSize);
  PutLe(body, (align - 4) * 2 + 1, 2);
  return Riff({Chunk("fmt ", body), Chunk("fact", Bytes(4, 0)), Chunk("data", data, storedSize)});
}
Bytes WithFmt(const Bytes& fmt, std::int64_t stored = -1) {
  return Riff({Chunk("fmt ", fmt, stored), Chunk("data", Pattern(64))});
}
Bytes WithChunks(std::initializer_list<Bytes> chunks) {
  std::vector<Bytes> all = {Chunk("fmt ", FmtBody({}))};
  all.insert(all.end(), chunks);
  return Riff(all);
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
  for (const FmtFields& f : std::vector<FmtFields>{{0, 2, 22050, 88200, 4, 16},
                                                   {0xFFFE, 2, 22050, 88200, 4, 16},
                                                   {1, 0, 22050, 88200, 4, 16},
                                                   {1, 3, 22050, 132300, 6, 16},
                                                   {1, 2, 0, 0, 4, 16},
                                                   {1, 2, 99, 396, 4, 16},
                                                   {1, 2, 200001, 800004, 4, 16},
                                                   {1, 2, 0xFFFFFFFF, 0xFFFFFFFC, 4, 16},
                                                   {1, 2, 22050, 0, 4, 16},
                                                   {1, 2, 22050, 0xFFFFFFFF, 4, 16},
                                                   {1, 2, 22050, 88200, 0, 16},
                                                   {1, 2, 22050, 66150, 3, 16},
                                                   {1, 2, 22050, 132300, 6, 24},
                                                   {1, 2, 22050, 88200, 4, 12}})
    files.push_back(WithFmt(FmtBody(f, 18)));
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
  Bytes fakePage = Pattern(5000);
  std::memcpy(fakePage.data(), "OggS", 4);
  for (const Bytes& junk :
       {Bytes(1, 'O'), Bytes{'O', 'g', 'g', 'S'}, Pattern(5000), fakePage, Bytes(3000, 0), Pattern(100000)})
    files.push_back(junk);
  // ADPCM without data, with blocks no 2048-byte piece holds; MS ADPCM with fewer
  // coefficients than its count.
  for (std::uint16_t align : {256, 4096, 2052})
    files.push_back(ImaWave(Bytes(align == 256 ? 0 : 2 * align, 0), align));
  Bytes msadpcm = FmtBody({WAVE_FORMAT_ADPCM, 1, 22050, 88200, 256, 4}, 18, 32);
  PutLe(msadpcm, 500 | 7 << 16, 4);
  msadpcm.resize(40, 0);
  files.push_back(Riff({Chunk("fmt ", msadpcm), Chunk("data", Bytes(512, 0))}));
  // MPEG: a cut ID3 header; a sync only inside the tag block; broken headers after good
  // frames; free format (no length) alone, padded, in layer I or after good frames; ID3
  // sizes past the end; files of 128 bytes or less, all of it room for a tag.
  files.push_back({'I', 'D', '3', 4, 0});
  files.push_back(Concat({Bytes(300, 0x20), kId3v1}));
  for (const Bytes& bad : {Bytes{0xFF, 0xF9, 0x90, 0x00}, Frame{true, 3, 15}.Header()})
    files.push_back(Concat({kFrame.Silent(2), bad, Bytes(600, 0)}));
  for (const Bytes& head :
       {Frame{true, 3, 0}.Header(), Frame{true, 3, 0, 0, 1}.Header(), Frame{true, 1, 0}.Header(),
        Concat({kFrame.Silent(3), Frame{true, 3, 0}.Header()})})
    files.push_back(Concat({head, Bytes(600, 0)}));
  for (std::uint8_t b : {0x7F, 0xFF}) {
    Bytes huge = Id3v2(0, 4, 0x10);
    std::fill(huge.begin() + 6, huge.begin() + 10, b);
    files.push_back(Concat({huge, kFrame.Silent(2)}));
  }
  for (std::size_t n = 8; n <= 128; n += 8) files.push_back(Head(kTiny.Silent(7), n));

  const std::string name = Write("bad.wav", {});
  for (std::size_t i = 0; i < files.size(); ++i) {
    Write(name, files[i]);
    for (int type : {0, 2, 3}) {
      const int h = Load(name, type);
      EXPECT_EQ(h, -1) << "file " << i << " as type " << type;
      DeleteSoundHandle(h);
      EXPECT_TRUE(Buffers().empty()) << i;
      EXPECT_EQ(sim::LiveAcmStreams(), 0) << i;
    }
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
  const Bytes five = kFrame.Silent(5);
  Bytes masked = Id3v2(0);
  std::fill(masked.begin() + 6, masked.end(), 0x80);
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
  // Every bitrate of every layer and version, in files longer than the room for a tag.
  for (bool mpeg1 : {true, false})
    for (int layer = 1; layer <= 3; ++layer)
      for (int index = 1; index < 15; ++index) {
        const Frame f{mpeg1, layer, index, 1, 0, true};
        rows.push_back({f.Silent(2 + 256 / f.Length()), f.Pcm(2 + 256 / f.Length()), 2});
      }

  const std::string name = Write("odd.wav", {});
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const Readable& r = rows[i];
    SCOPED_TRACE(i);
    Write(name, r.file);
    const int memory = Load(name, 0);
    ASSERT_NE(memory, -1);
    EXPECT_EQ(GetSoundTotalSampleCount(memory), static_cast<int>(r.pcm.size()) / r.align);
    EXPECT_EQ(sim::SoundBufferContents(Buffers().at(0)), r.pcm);
    ASSERT_EQ(DeleteSoundHandle(memory), 0);
    // The stream sound decodes piece by piece while it plays.
    const int stream = Load(name, 3);
    ASSERT_NE(stream, -1);
    EXPECT_EQ(GetSoundTotalSampleCount(stream),
              r.streamFrames != -1 ? r.streamFrames : static_cast<int>(r.pcm.size()) / r.align);
    ASSERT_TRUE(sim::StartSoundTap(NewestRing()));
    ASSERT_EQ(PlaySoundHandle(stream, SOUND_PLAY_WAIT), 0);
    EXPECT_TRUE(HeardThenSilence(sim::TakeSoundTap(NewestRing()), r.pcm));
    ASSERT_EQ(DeleteSoundHandle(stream), 0);
  }
}

TEST_F(SoundTest, DamagedFilesLoadOrFailButNeverCrashHangOrLeak) {
  std::mt19937 random(99);
  const auto pick = [&](std::size_t from, std::size_t to) {
    return std::uniform_int_distribution<std::size_t>(from, to)(random);
  };
  std::vector<std::pair<Bytes, std::size_t>> files;  // the file, the most PCM it may give
  const Bytes wave = ReadFileBytes(Data("pcm_s16_22050_chunks.wav"));
  for (int i = 0; i < 150; ++i) {
    Bytes file = wave;
    for (std::size_t d = pick(1, 8); d > 0; --d) file[pick(0, 120)] = static_cast<std::uint8_t>(random());
    files.push_back({Head(file, i % 3 == 0 ? pick(0, file.size()) : file.size()), 4 * file.size()});
  }
  for (const char* name :
       {"ogg_s16_44100.ogg", "acm/mp3_s16_22050_vbr_tags.mp3", "acm/msadpcm_s16_44100.wav"}) {
    const Bytes file = ReadFileBytes(Data(name));
    for (std::size_t n = 0; n < file.size(); n += file.size() / 40)
      files.push_back({Head(file, n), Reference(name).size() + 4096});
  }
  // Damage in the chained file's second link must still leave the first link's audio
  // (vorbisfile opens such a file standing at its end).
  const Bytes chained = ReadFileBytes(Data("ogg_s16_44100_chained.ogg")),
              reference = Reference("ogg_s16_44100_chained.ogg");
  for (int i = 0; i < 100; ++i) {
    Bytes bad = chained;
    const std::size_t from = pick(bad.size() * 4 / 5, bad.size() - 64);
    for (std::size_t k = pick(1, 60); k > 0; --k) bad[from + k] = static_cast<std::uint8_t>(random());
    files.push_back({bad, reference.size() + 4096});
  }
  int firstLinkWhole = 0;
  const std::string name = Write("damaged", {});
  for (std::size_t i = 0; i < files.size(); ++i) {
    SCOPED_TRACE(i);
    Write(name, files[i].first);
    if (const int memory = Load(name); memory != -1) {
      const Bytes pcm = sim::SoundBufferContents(Buffers().at(0));
      EXPECT_LE(pcm.size(), files[i].second);
      firstLinkWhole += files[i].first.size() == chained.size() && pcm.size() >= 17640 &&
                        SameBytes(Head(pcm, 17640), reference);
      ASSERT_EQ(DeleteSoundHandle(memory), 0);
    }
    // Streams decode as they play and seek: data or the end, never garbage lengths.
    const int stream = Load(name, 3);
    if (stream == -1) continue;
    const int frames = GetSoundTotalSampleCount(stream);
    ASSERT_EQ(SetSoundPlayPosition(frames / 2 * 4, stream) == 0, frames > 0);
    ASSERT_EQ(PlaySoundHandle(stream, SOUND_PLAY_BACKGROUND, 0), 0);
    RunGame(Rhythm::Fps30, kSecond + frames * kSecond / 11025);
    EXPECT_EQ(CheckSoundHandlePlaying(stream), 0);
    ASSERT_EQ(DeleteSoundHandle(stream), 0);
  }
  EXPECT_GE(firstLinkWhole, 40);
}

// ---- The compression manager ----------------------------------------------------------------

TEST_F(SoundTest, RefusalsOfTheCompressionManagerFailTheLoadAndReleaseIt) {
  const std::string ima = Write("ima.wav", ImaWave(Bytes(256 * 4, 0))),
                    mp3 = Write("mp3.mp3", kFrame.Silent(4));
  for (const std::string& name : {ima, mp3}) {
    for (int type : {0, 3}) {
      // The format switched off, the suggestion, the main decoder, the loop decoder.
      for (int refusal = 0; refusal < 4; ++refusal) {
        sim::SetAcmFormatEnabled(name == ima ? WAVE_FORMAT_IMA_ADPCM : WAVE_FORMAT_MPEGLAYER3, refusal != 0);
        if (refusal != 0)
          sim::FailCall(refusal == 1 ? "acmFormatSuggest" : "acmStreamOpen", refusal == 3 ? 2 : 1);
        EXPECT_EQ(Load(name, type), -1) << name << " type " << type << " refusal " << refusal;
        EXPECT_EQ(sim::LiveAcmStreams(), 0);
        sim::ClearFailures();
      }
    }
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

const std::string kMp3 = "acm/mp3_s16_44100_128k_id3v2.mp3";  // 44100 Hz 16-bit stereo

TEST_F(SoundTest, RefusalsWhileAStreamPlaysEndItInsteadOfSpinning) {
  const Bytes reference = Reference(kMp3),
              looped = Concat({reference, Repeat(Tail(reference, 4000 * 4), 100)});
  for (const char* call : {"acmStreamPrepareHeader", "acmStreamConvert", "acmStreamOpen"}) {
    const int h = Load(Data(kMp3), 3);
    ASSERT_EQ(SetSoundLoopPoint(4000, h), 0);
    Listener ear;
    ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
    sim::FailCall(call, 1, 100000);
    Listen(ear, Rhythm::Fps60, 5 * kSecond);
    sim::ClearFailures();
    EXPECT_EQ(CheckSoundHandlePlaying(h), 0) << call;
    std::size_t end = ear.heard.size();
    while (end > 0 && ear.heard[end - 1] == 0) --end;
    EXPECT_TRUE(SameBytes(Head(ear.heard, end), looped)) << call;
    ASSERT_EQ(DeleteSoundHandle(h), 0);
  }
}

// The loop decoder creeps towards the loop point behind the main decoder, so that a jump
// back resumes from it: only the very first main conversion starts at the data's start,
// and each jump closes one decoder and opens one.
TEST_F(SoundTest, JumpsBackToAnMp3LoopPointResumeFromTheLoopDecoder) {
  const Bytes reference = Reference(kMp3);
  const int loop = 10001, h = Load(Data(kMp3), 3);
  ASSERT_EQ(SetSoundLoopPoint(loop, h), 0);
  sim::ClearAcmCalls();
  Listener ear;
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
  Listen(ear, Rhythm::Fps60, 7 * kSecond);
  EXPECT_TRUE(
      HeardPrefix(ear.heard, Concat({reference, Repeat(Tail(reference, loop * 4), 200)}), 7 * 176400));
  int mainFromStart = 0, closes = 0, opens = 0;
  for (const sim::AcmCall& call : sim::AcmCalls()) {
    closes += call.op == "acmStreamClose";
    opens += call.op == "acmStreamOpen";
    // The loop decoder converts no further than the loop point.
    mainFromStart += call.op == "acmStreamConvert" && call.dstLength > loop * 4u && call.inputPosition == 0;
  }
  EXPECT_EQ(mainFromStart, 1);
  EXPECT_GE(closes, static_cast<int>((ear.heard.size() - reference.size()) / (reference.size() - loop * 4)));
  EXPECT_EQ(closes, opens);
}

TEST_F(SoundTest, LoopPointsOfCompressedSoundsMovedBackOrPastTheirDecodedEnd) {
  // Moved back after the loop decoder passed it: the loop decoder starts again.
  for (const std::string& name : {std::string("acm/ima_s16_44100.wav"), kMp3}) {
    const Bytes reference = Reference(name);
    const int h = Load(Data(name), 3);
    ASSERT_EQ(SetSoundLoopPoint(static_cast<int>(reference.size()) / 16 * 3, h), 0);
    ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
    RunGame(Rhythm::Fps60, kSecond);
    ASSERT_EQ(StopSoundHandle(h), 0);
    ASSERT_EQ(SetSoundLoopPoint(1, h), 0);
    Listener ear;
    ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND, 1), 0);
    Listen(ear, Rhythm::Fps30, 7 * kSecond);
    EXPECT_TRUE(HeardPrefix(ear.heard, Concat({reference, Repeat(Tail(reference, 4), 200)}), 7 * 176400))
        << name;
    ASSERT_EQ(DeleteSoundHandle(h), 0);
  }
  // A compressed WAVE states more than it decodes: a loop point in between finds no data,
  // which ends the sound rather than spinning.
  const Bytes reference = Reference("acm/mp3wav_m16_22050.wav");
  const int h = Load(Data("acm/mp3wav_m16_22050.wav"), 3);
  const int decoded = static_cast<int>(reference.size()) / 2, stated = GetSoundTotalSampleCount(h);
  ASSERT_GT(stated, decoded + 1);
  ASSERT_EQ(SetSoundLoopPoint((decoded + stated) / 2, h), 0);
  ASSERT_TRUE(sim::StartSoundTap(NewestRing()));
  ASSERT_EQ(PlaySoundHandle(h, SOUND_PLAY_BACKGROUND), 0);
  RunGame(Rhythm::Fps60, 2 * kSecond);
  EXPECT_EQ(CheckSoundHandlePlaying(h), 0);
  EXPECT_TRUE(HeardThenSilence(sim::TakeSoundTap(NewestRing()), reference));
}

}  // namespace
