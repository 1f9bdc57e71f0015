// gamelib-demo: ten seconds of a game's frame loop through every subsystem. A music
// stream with a loop point plays, effects sound on events, sprites move under every
// blend mode and brightness, a blend-graph wipe passes, quadrilaterals rotate, boxes
// and text are drawn, and a read-back of the screen is drawn back shrunk. Every image
// and sound is made here in memory.
//
// Frames go where GAMELIB_VIDEO says (a window when a display opens). With --out DIR
// (or without a display) the scene renders headless under the virtual clock as fast as
// it can and writes the frames, a contact sheet and the sound mix there.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "gamelib/gamelib.h"
#include "platform/sim.h"
#include "tool_files.h"

namespace {

using namespace gamelib;

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kFps = 60;
constexpr int kMusicRate = 44100;
constexpr double kPi = 3.14159265358979323846;

// ---- Options ---------------------------------------------------------------------------

struct Options {
  int frames = 600;
  const char* out = nullptr;
  int hashFrame = -1;
};

void Usage(FILE* to) {
  std::fprintf(to,
               "usage: gamelib-demo [--frames N] [--out DIR] [--hash FRAME]\n"
               "  --frames N    frames to run at 60 per second (default 600, ten seconds)\n"
               "  --out DIR     render headless as fast as possible; write the frames as PNG, a\n"
               "                contact sheet of every tenth frame (contact.png) and the sound mix\n"
               "                (mix.wav) into DIR\n"
               "  --hash FRAME  render headless and print the hashes of that frame and of the mix\n"
               "Without --out or --hash frames go where GAMELIB_VIDEO says (a window when a\n"
               "display opens); with no display they are written to demo-out/.\n");
}

// 0 to go on, else the exit code.
int ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--help" || a == "-h") {
      Usage(stdout);
      return 1;
    } else if (a == "--frames" && hasValue) {
      o->frames = std::atoi(argv[++i]);
    } else if (a == "--out" && hasValue) {
      o->out = argv[++i];
    } else if (a == "--hash" && hasValue) {
      o->hashFrame = std::atoi(argv[++i]);
    } else {
      Usage(stderr);
      return 2;
    }
  }
  if (o->frames < 1 || o->frames > 100000) {
    std::fprintf(stderr, "gamelib-demo: --frames takes 1 to 100000\n");
    return 2;
  }
  return 0;
}

// ---- Sounds made in memory ---------------------------------------------------------------

std::int16_t Clip(double v) {
  return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767));
}

double NoteHz(int midi) { return 440.0 * std::pow(2.0, (midi - 69) / 12.0); }

// Noise that is the same on every run.
struct Noise {
  std::uint32_t state = 0x12345678;
  double Next() {
    state = state * 1664525u + 1013904223u;
    return static_cast<double>(state >> 8) / 8388608.0 - 1.0;
  }
};

// The music: a one-second rising intro, then four seconds (A minor, F, C, G) that the
// loop point repeats. 44100 Hz stereo. The loop starts at sample kMusicRate.
std::vector<std::int16_t> MakeMusic() {
  constexpr int kEighth = kMusicRate / 4;  // 120 beats a minute
  const int intro[4] = {60, 64, 67, 72};
  const int melody[16] = {69, 72, 76, 72, 77, 76, 72, 69, 67, 72, 76, 79, 79, 77, 74, 71};
  const int bass[4] = {45, 41, 48, 43};
  const int total = kMusicRate * 5;
  std::vector<std::int16_t> out(static_cast<std::size_t>(total) * 2);
  Noise noise;
  double leadPhase = 0, bassPhase = 0;
  for (int i = 0; i < total; ++i) {
    const int step = i / kEighth;
    const int inStep = i % kEighth;
    const double t = static_cast<double>(inStep) / kMusicRate;
    const bool inIntro = step < 4;
    const int body = step - 4;
    const int leadNote = inIntro ? intro[step] : melody[body % 16];
    // Lead: a quarter-duty pulse with a plucked envelope.
    leadPhase += NoteHz(leadNote) / kMusicRate;
    leadPhase -= std::floor(leadPhase);
    const double leadEnv =
        std::min(1.0, t * 200) * (0.45 + 0.55 * std::exp(-t * 9)) * std::min(1.0, (kEighth - inStep) / 400.0);
    const double lead = (leadPhase < 0.25 ? 1.0 : -0.33) * 0.16 * leadEnv;
    // Bass: a triangle, root and octave in turn.
    double bassV = 0;
    if (!inIntro) {
      const int note = bass[(body / 4) % 4] + (body % 2 == 1 ? 12 : 0);
      bassPhase += NoteHz(note) / kMusicRate;
      bassPhase -= std::floor(bassPhase);
      const double tri = bassPhase < 0.5 ? 4 * bassPhase - 1 : 3 - 4 * bassPhase;
      bassV = tri * 0.22 * std::min(1.0, (kEighth - inStep) / 300.0);
    }
    // Hat: short noise on the off-beats.
    const double hatNoise = noise.Next();
    const double hat = (!inIntro && step % 2 == 1) ? hatNoise * 0.07 * std::exp(-t * 60) : 0.0;
    out[static_cast<std::size_t>(i) * 2] = Clip(lead * 0.7 + bassV + hat);
    out[static_cast<std::size_t>(i) * 2 + 1] = Clip(lead + bassV + hat * 0.5);
  }
  return out;
}

// A short falling blip (22050 Hz mono).
std::vector<std::int16_t> MakeBlip(double fromHz, double toHz) {
  constexpr int kRate = 22050;
  const int n = kRate * 8 / 100;
  std::vector<std::int16_t> out(static_cast<std::size_t>(n));
  double phase = 0;
  for (int i = 0; i < n; ++i) {
    const double k = static_cast<double>(i) / n;
    phase += (fromHz + (toHz - fromHz) * k) / kRate;
    phase -= std::floor(phase);
    out[static_cast<std::size_t>(i)] = Clip((phase < 0.5 ? 0.3 : -0.3) * (1 - k) * (1 - k));
  }
  return out;
}

// A bell: three partials dying away (44100 Hz mono).
std::vector<std::int16_t> MakeChime() {
  const int n = kMusicRate * 6 / 10;
  std::vector<std::int16_t> out(static_cast<std::size_t>(n));
  for (int i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kMusicRate;
    const double v = std::sin(2 * kPi * 1568 * t) * 0.22 + std::sin(2 * kPi * 2350 * t) * 0.12 +
                     std::sin(2 * kPi * 3920 * t) * 0.06;
    out[static_cast<std::size_t>(i)] = Clip(v * std::exp(-t * 6) * std::min(1.0, t * 400));
  }
  return out;
}

// A swell of low-passed noise (22050 Hz mono).
std::vector<std::int16_t> MakeWhoosh() {
  constexpr int kRate = 22050;
  const int n = kRate / 2;
  std::vector<std::int16_t> out(static_cast<std::size_t>(n));
  Noise noise;
  double low = 0;
  for (int i = 0; i < n; ++i) {
    const double k = static_cast<double>(i) / n;
    const double cut = 0.02 + 0.3 * std::sin(kPi * k);
    low += (noise.Next() - low) * cut;
    out[static_cast<std::size_t>(i)] = Clip(low * 1.2 * std::sin(kPi * k));
  }
  return out;
}

// ---- Images made in memory ---------------------------------------------------------------

std::uint32_t Argb(int a, int r, int g, int b) {
  auto c = [](int v) { return static_cast<std::uint32_t>(std::clamp(v, 0, 255)); };
  return c(a) << 24 | c(r) << 16 | c(g) << 8 | c(b);
}

// A graph from 0xAARRGGBB pixels; with `alpha` the graph keeps the alpha channel.
int GraphFromPixels(const std::vector<std::uint32_t>& pixels, int width, int height, bool alpha) {
  GraphImage image{};
  CreateFullColorData(&image.colorData, alpha ? 1 : 0);
  image.width = width;
  image.height = height;
  image.pitch = width * 4;
  image.graphData = const_cast<std::uint32_t*>(pixels.data());
  return CreateGraphFromGraphImage(&image, nullptr);
}

// A glowing orb with soft alpha edges.
int MakeOrb(int size) {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(size) * size);
  const double r = size / 2.0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const double dx = (x + 0.5 - r) / r, dy = (y + 0.5 - r) / r;
      const double d = std::sqrt(dx * dx + dy * dy);
      const double hl = std::sqrt((dx + 0.35) * (dx + 0.35) + (dy + 0.35) * (dy + 0.35));
      const int a = static_cast<int>(std::clamp((1.0 - d) * 6.0, 0.0, 1.0) * 255);
      const int shade = static_cast<int>(255 * std::clamp(1.1 - hl * 0.8, 0.0, 1.0));
      px[static_cast<std::size_t>(y) * size + x] = Argb(a, 90 + shade * 2 / 3, 150 + shade / 3, 255);
    }
  }
  return GraphFromPixels(px, size, size, true);
}

// Square tiles with a border and a diagonal stripe: the quadrilaterals' face.
int MakeTile(int size) {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(size) * size);
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const bool border = x < 3 || y < 3 || x >= size - 3 || y >= size - 3;
      const bool checker = ((x / 8) + (y / 8)) % 2 == 0;
      const bool stripe = std::abs(x - y) < 5;
      std::uint32_t c = checker ? Argb(255, 250, 200, 60) : Argb(255, 200, 80, 40);
      if (stripe) c = Argb(255, 255, 255, 255);
      if (border) c = Argb(255, 40, 20, 10);
      px[static_cast<std::size_t>(y) * size + x] = c;
    }
  }
  return GraphFromPixels(px, size, size, false);
}

// The backdrop: a dusk gradient with a faint grid and a horizon glow.
int MakeBackdrop() {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    const double k = static_cast<double>(y) / kHeight;
    for (int x = 0; x < kWidth; ++x) {
      const bool grid = x % 32 == 0 || y % 32 == 0;
      const double glow = std::exp(-std::pow((k - 0.72) * 7, 2)) * 60;
      const int r = static_cast<int>(20 + 70 * k + glow + (grid ? 14 : 0));
      const int g = static_cast<int>(16 + 20 * k + glow * 0.5 + (grid ? 14 : 0));
      const int b = static_cast<int>(60 + 40 * (1 - k) + (grid ? 20 : 0));
      px[static_cast<std::size_t>(y) * kWidth + x] = Argb(255, r, g, b);
    }
  }
  return GraphFromPixels(px, kWidth, kHeight, false);
}

// What the wipe reveals: interference rings in bright colours.
int MakeCurtain() {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double a = std::sin(std::hypot(x - 200.0, y - 160.0) / 14.0);
      const double b = std::sin(std::hypot(x - 470.0, y - 330.0) / 19.0);
      const double v = (a + b) * 0.25 + 0.5;
      px[static_cast<std::size_t>(y) * kWidth + x] =
          Argb(255, static_cast<int>(40 + 200 * v), static_cast<int>(30 + 120 * (1 - v)), 150);
    }
  }
  return GraphFromPixels(px, kWidth, kHeight, false);
}

// The wipe's blend graph: its alpha rises toward the left, with a wavy edge, so the
// wipe sweeps from left to right as the border parameter falls.
int MakeWipeGraph() {
  std::vector<std::uint32_t> px(static_cast<std::size_t>(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const double v = 1.0 - (x + 0.35 * y + 28 * std::sin(y / 23.0)) / (kWidth + 0.35 * kHeight);
      const int a = static_cast<int>(std::clamp(v * 1.15, 0.0, 1.0) * 255);
      px[static_cast<std::size_t>(y) * kWidth + x] = Argb(a, a, a, a);
    }
  }
  return GraphFromPixels(px, kWidth, kHeight, true);
}

// ---- The scene --------------------------------------------------------------------------

struct BlendRow {
  const char* label;
  int mode;
  int parameter;
};
constexpr BlendRow kRows[] = {
    {"NONE", BlendNone, 255},           {"ALPHA 160", BlendAlpha, 160}, {"ADD 200", BlendAdd, 200},
    {"SUB 160", BlendSub, 160},         {"MUL", BlendMul, 255},         {"INVERT 255", BlendInverted, 255},
    {"MULFADE 200", BlendMulFade, 200},
};
constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);
constexpr int kRowTop = 56;
constexpr int kRowHeight = 48;
constexpr int kLaneLeft = 104;
constexpr int kLaneRight = 420;
constexpr int kSpritesPerRow = 4;
constexpr int kOrb = 32;

// Wipe timing: in, held, out.
constexpr int kWipeIn = 270, kWipeHold = 330, kWipeOut = 350, kWipeEnd = 410;

struct Assets {
  int orb = -1, tile = -1, backdrop = -1, curtain = -1, wipe = -1, shot = -1;
  int titleFont = -1, labelFont = -1, textEdge = -1, textPlain = -1;
  int music = -1, blipHigh = -1, blipLow = -1, chime = -1, whoosh = -1;
  std::vector<std::uint8_t> musicImage, blipHighImage, blipLowImage, chimeImage, whooshImage;
};

// A triangle wave between 0 and 1 of the given period; `turned` when frame f is a turn.
double Bounce(int f, int period, bool* turned) {
  const int half = period / 2;
  const int k = f % period;
  *turned = f > 0 && (k == 0 || k == half);
  return k < half ? static_cast<double>(k) / half : static_cast<double>(period - k) / half;
}

// A brightness that cycles through the hues.
void HueBrightness(double h) {
  auto ch = [h](double offset) { return static_cast<int>(150 + 105 * std::cos(2 * kPi * (h + offset))); };
  SetDrawBrightness(ch(0), ch(1.0 / 3), ch(2.0 / 3));
}

void Rotated(double cx, double cy, double half, double angle, float* xy) {
  const double c = std::cos(angle), s = std::sin(angle);
  const double corners[4][2] = {{-half, -half}, {half, -half}, {half, half}, {-half, half}};
  for (int i = 0; i < 4; ++i) {
    xy[2 * i] = static_cast<float>(cx + corners[i][0] * c - corners[i][1] * s);
    xy[2 * i + 1] = static_cast<float>(cy + corners[i][0] * s + corners[i][1] * c);
  }
}

void Play(int sound) {
  if (sound != -1) PlaySoundHandle(sound, kSoundPlayBackground, 1);
}

void DrawFrame(const Assets& a, int f, int frames) {
  const double t = static_cast<double>(f) / kFps;
  ResetDrawState();
  ClearDrawScreen();
  DrawGraph(0, 0, a.backdrop, 0);

  // Blend-mode rows: a panel, its label, then sprites drawn in the row's mode.
  for (int row = 0; row < kRowCount; ++row) {
    const int top = kRowTop + row * kRowHeight;
    SetDrawBlendMode(BlendAlpha, 110);
    DrawFillBox(8, top + 2, kLaneRight + 12, top + kRowHeight - 2, GetColor(10, 10, 30));
    SetDrawBlendMode(BlendNone, 255);
    DrawBox(8, top + 2, kLaneRight + 12, top + kRowHeight - 2, GetColor(120, 140, 220), 0);
    DrawStringToHandle(14, top + 16, kRows[row].label, GetColor(230, 230, 255), a.labelFont);
    for (int i = 0; i < kSpritesPerRow; ++i) {
      bool turned = false;
      const int period = 100 + row * 14 + i * 22;
      const double k = Bounce(f + i * 37 + row * 11, period, &turned);
      if (turned && i == 0 && row % 2 == 0) Play(row % 4 == 0 ? a.blipHigh : a.blipLow);
      const int x = kLaneLeft + static_cast<int>(k * (kLaneRight - kLaneLeft - kOrb));
      const int y = top + 8 + static_cast<int>(6 * std::sin(t * 5 + i + row));
      HueBrightness(t * 0.3 + i * 0.25 + row * 0.1);
      SetDrawBlendMode(kRows[row].mode, kRows[row].parameter);
      switch (i) {
        case 0:
          DrawGraph(x, y, a.orb, 1);
          break;
        case 1:
          DrawMirrorGraph(x, y, a.orb, 1);
          break;
        case 2: {
          const int grow = static_cast<int>(8 * std::sin(t * 4 + row));
          DrawStretchGraph(x - grow, y - grow / 2, x + kOrb + grow, y + kOrb + grow / 2, a.orb, 1);
          break;
        }
        default:
          DrawRectGraph(x, y, 0, 0, kOrb / 2, kOrb, a.orb, 1, 0);
          DrawRectGraph(x + kOrb / 2 + 2, y, kOrb / 2, 0, kOrb / 2, kOrb, a.orb, 1, 0);
          break;
      }
    }
  }
  SetDrawBrightness(255, 255, 255);

  // Quadrilaterals: a turning square, a card flipping in perspective, an additive spinner.
  float q[8];
  const double angle = t * 2.1;
  SetDrawBlendMode(BlendNone, 255);
  Rotated(500, 120, 46, angle, q);
  DrawQuadGraph(q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7], a.tile, 0);
  if (f > 0 && f % 90 == 0) Play(a.chime);
  {
    const double c = std::cos(t * 1.7), s = std::sin(t * 1.7);
    const double cx = 575, cy = 230, w = 44 * std::abs(c), h = 44;
    const double lean = 10 * s;  // the near side grows
    DrawQuadGraph(static_cast<float>(cx - w), static_cast<float>(cy - h - lean), static_cast<float>(cx + w),
                  static_cast<float>(cy - h + lean), static_cast<float>(cx + w),
                  static_cast<float>(cy + h - lean), static_cast<float>(cx - w),
                  static_cast<float>(cy + h + lean), a.tile, 0);
  }
  SetDrawBlendMode(BlendAdd, 180);
  HueBrightness(t * 0.5);
  Rotated(480, 250, 36 + 10 * std::sin(t * 3), -angle * 1.5, q);
  DrawQuadGraph(q[0], q[1], q[2], q[3], q[4], q[5], q[6], q[7], a.tile, 0);
  SetDrawBrightness(255, 255, 255);

  // Boxes: a bar that fills with the scene's progress, outlined.
  SetDrawBlendMode(BlendNone, 255);
  const int barRight = 440 + static_cast<int>(180.0 * (f + 1) / frames);
  DrawFillBox(440, 310, barRight, 322, GetColor(90, 220, 140));
  DrawBox(438, 308, 622, 324, GetColor(255, 255, 255), 0);

  // The blend-graph wipe: the curtain sweeps in, holds, and sweeps out.
  if (f >= kWipeIn && f < kWipeEnd) {
    int border = 0;
    if (f < kWipeHold) border = 255 - 255 * (f - kWipeIn) / (kWipeHold - kWipeIn);
    if (f >= kWipeOut) border = 255 * (f - kWipeOut) / (kWipeEnd - kWipeOut);
    SetBlendGraph(a.wipe, border, 48);
    DrawGraph(0, 0, a.curtain, 0);
    SetBlendGraph(-1, 0, 0);
    if (f == kWipeIn || f == kWipeOut) Play(a.whoosh);
  }

  // Text: Japanese and Latin, with and without an edge.
  SetDrawBlendMode(BlendNone, 255);
  DrawStringToHandle(12, 10, "gamelib デモ：音と絵の十秒間", GetColor(255, 240, 160), a.titleFont,
                     GetColor(90, 30, 0));
  char info[64];
  std::snprintf(info, sizeof info, "frame %3d  %5.2f s", f, t);
  DrawStringToHandle(470, 16, info, GetColor(255, 255, 255), a.labelFont);
  DrawStringToHandle(14, 400, "日本語の文字、縁あり", GetColor(255, 255, 255), a.textEdge,
                     GetColor(200, 40, 60));
  DrawStringToHandle(14, 426, "日本語の文字、縁なし", GetColor(255, 220, 120), a.textPlain);
  DrawStringToHandle(230, 400, "Latin text, edged", GetColor(255, 255, 255), a.textEdge,
                     GetColor(30, 90, 200));
  DrawStringToHandle(230, 426, "Latin text, plain", GetColor(160, 255, 200), a.textPlain);
  const int scroll = kWidth - (f * 3) % (kWidth + 900);
  DrawString(scroll, 456,
             "♪ 音楽はループ点から繰り返し、効果音は出来事で鳴る ─ music loops, effects on events",
             GetColor(200, 200, 255), GetColor(0, 0, 0));

  // The screen read back and drawn a quarter of its size, framed.
  GetDrawScreenGraph(0, 0, kWidth, kHeight, a.shot);
  SetDrawMode(1);
  DrawStretchGraph(460, 336, 620, 456, a.shot, 0);
  SetDrawMode(0);
  DrawBox(459, 335, 621, 457, GetColor(255, 255, 255), 0);
  DrawStringToHandle(462, 338, "read-back 1/4", GetColor(255, 255, 0), a.labelFont);
}

bool LoadAssets(Assets* a) {
  a->orb = MakeOrb(kOrb);
  a->tile = MakeTile(64);
  a->backdrop = MakeBackdrop();
  a->curtain = MakeCurtain();
  a->wipe = MakeWipeGraph();
  a->shot = MakeGraph(kWidth, kHeight);
  a->titleFont = CreateFontToHandle(nullptr, 26, -1, kFontKindAntialiasedEdge);
  a->labelFont = CreateFontToHandle(nullptr, 14, -1, kFontKindAntialiased);
  a->textEdge = CreateFontToHandle(nullptr, 20, -1, kFontKindAntialiasedEdge);
  a->textPlain = CreateFontToHandle(nullptr, 20, -1, kFontKindAntialiased);
  for (int h : {a->orb, a->tile, a->backdrop, a->curtain, a->wipe, a->shot, a->titleFont, a->labelFont,
                a->textEdge, a->textPlain}) {
    if (h == -1) return false;
  }
  // Sounds: a stream for the music (read from its image as it plays), memory sounds
  // with several buffers for the effects. A silent run still draws.
  a->musicImage = tools::WaveImage(2, kMusicRate, MakeMusic());
  a->blipHighImage = tools::WaveImage(1, 22050, MakeBlip(1400, 700));
  a->blipLowImage = tools::WaveImage(1, 22050, MakeBlip(600, 300));
  a->chimeImage = tools::WaveImage(1, kMusicRate, MakeChime());
  a->whooshImage = tools::WaveImage(1, 22050, MakeWhoosh());
  auto load = [](const std::vector<std::uint8_t>& image, int buffers) {
    return LoadSoundFromMemory(image.data(), static_cast<int>(image.size()), buffers);
  };
  if (SetCreateSoundDataType(2) == 0) {
    a->music = load(a->musicImage, 1);
    SetCreateSoundDataType(0);
    a->blipHigh = load(a->blipHighImage, 4);
    a->blipLow = load(a->blipLowImage, 4);
    a->chime = load(a->chimeImage, 2);
    a->whoosh = load(a->whooshImage, 2);
    if (a->music != -1) {
      SetSoundLoopPoint(kMusicRate, a->music);
      SetSoundHandleVolume(220, a->music);
    }
  }
  return true;
}

// ---- Output files -----------------------------------------------------------------------

// Every tenth frame a quarter of its size, ten to a row.
class ContactSheet {
 public:
  static constexpr int kScale = 4, kColumns = 10, kGap = 4;
  static constexpr int kThumbW = kWidth / kScale, kThumbH = kHeight / kScale;
  explicit ContactSheet(int frames) {
    const int thumbs = (frames + 9) / 10;
    columns_ = std::min(thumbs, kColumns);
    rows_ = (thumbs + kColumns - 1) / kColumns;
    width_ = columns_ * (kThumbW + kGap) + kGap;
    height_ = rows_ * (kThumbH + kGap) + kGap;
    pixels_.assign(static_cast<std::size_t>(width_) * height_, 0xFF202020u);
  }
  void Add(int index, const std::vector<std::uint32_t>& frame) {
    const int left = kGap + (index % kColumns) * (kThumbW + kGap);
    const int top = kGap + (index / kColumns) * (kThumbH + kGap);
    for (int y = 0; y < kThumbH; ++y) {
      for (int x = 0; x < kThumbW; ++x) {
        std::uint32_t sum[3] = {0, 0, 0};
        for (int dy = 0; dy < kScale; ++dy) {
          const std::uint32_t* p = &frame[static_cast<std::size_t>(y * kScale + dy) * kWidth + x * kScale];
          for (int dx = 0; dx < kScale; ++dx) {
            for (int c = 0; c < 3; ++c) sum[c] += (p[dx] >> (8 * c)) & 255;
          }
        }
        std::uint32_t v = 0xFF000000u;
        for (int c = 0; c < 3; ++c) v |= (sum[c] / (kScale * kScale)) << (8 * c);
        pixels_[static_cast<std::size_t>(top + y) * width_ + left + x] = v;
      }
    }
  }
  bool Write(const std::string& path) const {
    return tools::WritePng(path, pixels_.data(), width_, height_, true);
  }

 private:
  int columns_ = 0, rows_ = 0, width_ = 0, height_ = 0;
  std::vector<std::uint32_t> pixels_;
};

std::uint64_t Fnv1a(const void* data, std::size_t bytes) {
  std::uint64_t h = 1469598103934665603ull;
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

double ThreadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}

void FreeAssets(const Assets& a) {
  for (int s : {a.music, a.blipHigh, a.blipLow, a.chime, a.whoosh}) {
    if (s != -1) DeleteSoundHandle(s);
  }
  for (int g : {a.orb, a.tile, a.backdrop, a.curtain, a.wipe, a.shot}) {
    if (g != -1) DeleteGraph(g);
  }
  InitFontToHandle();
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (int code = ParseOptions(argc, argv, &o); code != 0) return code == 1 ? 0 : code;
  bool headless = o.out != nullptr || o.hashFrame >= 0;
  // Headless frames stay in memory for this program to write; time is virtual, so the
  // run is the same on every machine.
  if (headless) {
    sim::SetVideoOutput("offline");
    sim::UseVirtualClock(true);
  }
  SetGraphMode(kWidth, kHeight, 32);
  ChangeWindowMode(1);
  if (InitializeLibrary() != 0) {
    std::fprintf(stderr, "gamelib-demo: the library did not start\n");
    return 1;
  }
  const std::string video = sim::VideoOutputName();
  if (!headless && video != "sdl") {
    // No window: the frames go to files instead, as fast as they can be made.
    if (video == "offline") o.out = "demo-out";
    headless = true;
    sim::UseVirtualClock(true);
  }
  std::string outDir;
  if (o.out != nullptr) {
    outDir = o.out;
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (ec) {
      std::fprintf(stderr, "gamelib-demo: cannot make %s: %s\n", outDir.c_str(), ec.message().c_str());
      TerminateLibrary();
      return 1;
    }
  }
  Assets assets;
  if (!LoadAssets(&assets)) {
    std::fprintf(stderr, "gamelib-demo: an image or font could not be made\n");
    FreeAssets(assets);
    TerminateLibrary();
    return 1;
  }
  if (assets.music == -1) std::fprintf(stderr, "gamelib-demo: no sound (the sound system did not start)\n");
  SetDrawScreen(kDrawScreenBack);
  Play(assets.music);

  std::vector<std::int16_t> mix, piece;
  std::vector<std::uint32_t> frame;
  ContactSheet sheet(o.frames);
  std::uint64_t frameHash = 0;
  double renderSeconds = 0, renderCpu = 0;
  int rendered = 0;
  bool writeFailed = false;
  const auto start = std::chrono::steady_clock::now();
  for (int f = 0; f < o.frames; ++f) {
    const auto t0 = std::chrono::steady_clock::now();
    const double c0 = ThreadSeconds();
    DrawFrame(assets, f, o.frames);
    if (ScreenFlip() != 0) {
      std::fprintf(stderr, "gamelib-demo: the screen could not be presented\n");
      break;
    }
    const std::uint64_t due = static_cast<std::uint64_t>(f + 1) * 1000000 / kFps;
    if (headless) {
      sim::AdvanceTimeMicros(due - static_cast<std::uint64_t>(f) * 1000000 / kFps);
    } else {
      std::this_thread::sleep_until(start + std::chrono::microseconds(due));
    }
    const bool closed = PumpWindowMessages() == -1;
    const bool keep = !outDir.empty() || f == o.hashFrame;
    int w = 0, h = 0;
    if (headless) {
      sim::ReadMixedOutput(piece);
      mix.insert(mix.end(), piece.begin(), piece.end());
      if (keep && !sim::LastPresentedFrame(&frame, &w, &h)) w = 0;
    }
    renderSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    renderCpu += ThreadSeconds() - c0;
    ++rendered;
    // Outside the timing: what is written to disk.
    if (keep && w == kWidth && h == kHeight) {
      if (f == o.hashFrame) frameHash = Fnv1a(frame.data(), frame.size() * 4);
      if (!outDir.empty()) {
        char name[32];
        std::snprintf(name, sizeof name, "/frame_%04d.png", f);
        writeFailed |= !tools::WritePng(outDir + name, frame.data(), w, h, true);
        if (f % 10 == 0) sheet.Add(f / 10, frame);
      }
    }
    if (closed) break;
  }
  StopSoundHandle(assets.music);
  FreeAssets(assets);

  if (headless) {
    std::printf("%d frames of %dx%d 32-bit in %.3f s: %.0f frames per second (%.0f by thread CPU time)%s\n",
                rendered, kWidth, kHeight, renderSeconds, rendered / renderSeconds, rendered / renderCpu,
                outDir.empty() ? "" : ", PNG writing left out");
  }
  if (!outDir.empty()) {
    writeFailed |= !sheet.Write(outDir + "/contact.png");
    writeFailed |= !tools::WriteWave(outDir + "/mix.wav", 2, 44100, mix);
    std::printf("frames:        %s/frame_0000.png .. frame_%04d.png\n", outDir.c_str(), rendered - 1);
    std::printf("contact sheet: %s/contact.png (every tenth frame)\n", outDir.c_str());
    std::printf("sound mix:     %s/mix.wav (%.2f s, 44100 Hz 16-bit stereo)\n", outDir.c_str(),
                static_cast<double>(mix.size() / 2) / 44100);
  } else if (video == "png") {
    std::printf("frames written by the video output (GAMELIB_VIDEO=png:DIR)\n");
  }
  if (o.hashFrame >= 0) {
    std::printf("frame %d hash %016llx\n", o.hashFrame, static_cast<unsigned long long>(frameHash));
    std::printf("mix hash %016llx (%zu frames)\n",
                static_cast<unsigned long long>(Fnv1a(mix.data(), mix.size() * 2)), mix.size() / 2);
  }
  TerminateLibrary();
  if (writeFailed) {
    std::fprintf(stderr, "gamelib-demo: some files could not be written in %s\n", outDir.c_str());
    return 1;
  }
  return 0;
}
