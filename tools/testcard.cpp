// gamelib-testcard OUTDIR: draws free quadrilaterals through the software
// rasteriser under every blend mode, brightness and switch, onto 16-bit and 32-bit
// images, and writes one PNG per destination and source kind, so that a person can
// look at what the kernels do. Rows are blend modes, columns switch combinations.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "tool_files.h"

namespace {

using namespace gamelib;

constexpr int kCell = 100;
constexpr int kLeft = 84;
constexpr int kTop = 40;

struct Row {
  const char* label;
  int mode;
  int param;
};
const Row kRows[] = {
    {"NONE", BlendNone, 255},        {"ALPHA 128", BlendAlpha, 128}, {"ADD 160", BlendAdd, 160},
    {"SUB 160", BlendSub, 160},      {"MUL", BlendMul, 255},         {"INV 255", BlendInverted, 255},
    {"MULF 200", BlendMulFade, 200},
};

struct Column {
  const char* label;
  bool trans;
  bool blend;
  int bright[3];  // red, green, blue
};
const Column kColumns[] = {
    {"PLAIN", false, false, {255, 255, 255}}, {"TRANS", true, false, {255, 255, 255}},
    {"BLEND", false, true, {255, 255, 255}},  {"BRIGHT", false, false, {255, 150, 60}},
    {"ALL", true, true, {255, 150, 60}},
};

enum class Source { Direct, Alpha, Palette, Flat };
const char* SourceName(Source s) {
  switch (s) {
    case Source::Direct:
      return "direct";
    case Source::Alpha:
      return "alpha";
    case Source::Palette:
      return "palette";
    default:
      return "flat";
  }
}

// 3x5 glyphs, rows top to bottom, '#' set.
const char* Glyph(char c) {
  static const struct {
    char c;
    const char* rows;
  } font[] = {
      {'A', ".#.#.#####.##.#"}, {'B', "##.#.###.#.###."}, {'C', ".###..#..#...##"}, {'D', "##.#.##.##.###."},
      {'E', "####..##.#..###"}, {'F', "####..##.#..#.."}, {'G', ".###..#.##.#.##"}, {'H', "#.##.#####.##.#"},
      {'I', "###.#..#..#.###"}, {'K', "#.##.###.#.##.#"}, {'L', "#..#..#..#..###"}, {'M', "#.########.##.#"},
      {'N', "##.#.##.##.##.#"}, {'O', ".#.#.##.##.#.#."}, {'P', "##.#.###.#..#.."}, {'R', "##.#.###.#.##.#"},
      {'S', ".###...#...###."}, {'T', "###.#..#..#..#."}, {'U', "#.##.##.##.####"}, {'V', "#.##.##.##.#.#."},
      {'W', "#.##.########.#"}, {'X', "#.##.#.#.#.##.#"}, {'Y', "#.##.#.#..#..#."}, {'0', "####.##.##.####"},
      {'1', ".#.##..#..#.###"}, {'2', "##...#.#.#..###"}, {'3', "##...#.#...###."}, {'4', "#.##.####..#..#"},
      {'5', "####..##...###."}, {'6', ".###..####.####"}, {'7', "###..#.#..#..#."}, {'8', "####.#####.####"},
      {'9', "####.####..###."}, {'+', "....#.###.#...."}, {'-', "......###......"},
  };
  for (const auto& g : font)
    if (g.c == c) return g.rows;
  return nullptr;
}

class Card {
 public:
  Card(int kind, int width, int height) : kind_(kind) {
    ok_ = CreateMemImg(&image_, width, height, kind, 0, 0, 0) == 0;
  }
  ~Card() { DeleteMemImg(&image_); }
  bool ok() const { return ok_; }
  MEMIMG& image() { return image_; }

  void Put(int x, int y, int r, int g, int b) {
    if (x < 0 || y < 0 || x >= image_.width || y >= image_.height) return;
    std::uint8_t* p = GetMemImgRow(&image_, y);
    if (kind_ == 0) {
      const std::uint16_t v = std::uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3));
      std::memcpy(p + x * 2, &v, 2);
    } else {
      const std::uint32_t v = std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
      std::memcpy(p + x * 4, &v, 4);
    }
  }
  void Text(int x, int y, const std::string& text, int scale = 2) {
    for (char c : text) {
      if (const char* rows = Glyph(c)) {
        for (int i = 0; i < 15; ++i)
          if (rows[i] == '#')
            for (int dy = 0; dy < scale; ++dy)
              for (int dx = 0; dx < scale; ++dx)
                Put(x + (i % 3) * scale + dx, y + (i / 3) * scale + dy, 240, 240, 240);
      }
      x += 4 * scale;
    }
  }
  bool WritePng(const std::string& path) {
    std::vector<std::uint32_t> rgb(static_cast<std::size_t>(image_.width) * image_.height);
    for (int y = 0; y < image_.height; ++y) {
      const std::uint8_t* p = GetMemImgRow(&image_, y);
      for (int x = 0; x < image_.width; ++x) {
        std::uint32_t v;
        if (kind_ == 0) {
          std::uint16_t w;
          std::memcpy(&w, p + x * 2, 2);
          const std::uint32_t r5 = w >> 11, g6 = (w >> 5) & 63, b5 = w & 31;
          v = (r5 << 3 | r5 >> 2) << 16 | (g6 << 2 | g6 >> 4) << 8 | (b5 << 3 | b5 >> 2);
        } else {
          std::memcpy(&v, p + x * 4, 4);
        }
        rgb[static_cast<std::size_t>(y) * image_.width + x] = v;
      }
    }
    return tools::WritePng(path, rgb.data(), image_.width, image_.height);
  }

 private:
  int kind_;
  bool ok_ = false;
  MEMIMG image_{};
};

// Background of a cell: colour ramps with a white and a black band, so that adding,
// subtracting and multiplying all show.
void PaintCell(Card& card, int x0, int y0) {
  for (int y = 0; y < kCell; ++y)
    for (int x = 0; x < kCell; ++x) {
      int r = x * 255 / (kCell - 1), g = y * 255 / (kCell - 1), b = 255 - r / 2;
      if (x >= 40 && x < 52) r = g = b = 255;
      if (x >= 60 && x < 72) r = g = b = 0;
      if (x == 0 || y == 0) r = g = b = 40;
      card.Put(x0 + x, y0 + y, r, g, b);
    }
}

std::uint32_t Pack(int kind, int r, int g, int b) {
  return kind == 0 ? std::uint32_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3))
                   : std::uint32_t(r) << 16 | std::uint32_t(g) << 8 | std::uint32_t(b);
}

// A 64x64 source: colour bars over a grey ramp, a white frame, a black cross and
// key-coloured squares; with alpha, a ramp from transparent at the left to opaque
// at the right.
void BarColour(int x, int y, int& r, int& g, int& b) {
  static const int bars[8][3] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                 {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  if (y < 44) {
    r = bars[x / 8][0], g = bars[x / 8][1], b = bars[x / 8][2];
  } else {
    r = g = b = x * 4;
  }
}

bool MakeSource(MEMIMG& src, int kind, Source s) {
  const int side = 64;
  const std::uint32_t key = s == Source::Palette ? 0 : Pack(kind, 255, 0, 255);
  if (CreateMemImg(&src, side, side, kind, s == Source::Palette, s == Source::Alpha, key) != 0) return false;
  if (s == Source::Palette) {
    // Index 0 is the key; 1..64 the grey ramp; 65..72 the bars; 254 black, 255 white.
    PaletteEntry pal[256] = {};
    pal[0] = {255, 0, 255, 0};
    for (int i = 0; i < 64; ++i)
      pal[1 + i] = {std::uint8_t(i * 4), std::uint8_t(i * 4), std::uint8_t(i * 4), 0};
    for (int i = 0; i < 8; ++i) {
      int r, g, b;
      BarColour(i * 8, 0, r, g, b);
      pal[65 + i] = {std::uint8_t(b), std::uint8_t(g), std::uint8_t(r), 0};
    }
    pal[254] = {0, 0, 0, 0};
    pal[255] = {255, 255, 255, 0};
    std::vector<std::uint8_t> idx(std::size_t(side) * side);
    for (int y = 0; y < side; ++y)
      for (int x = 0; x < side; ++x) {
        std::uint8_t i = std::uint8_t(y < 44 ? 65 + x / 8 : 1 + x);
        if (x == 0 || y == 0 || x == side - 1 || y == side - 1) i = 255;
        if (x == y || x == side - 1 - y) i = 254;
        if (x >= 8 && x < 24 && y >= 8 && y < 24 && ((x / 8 + y / 8) & 1)) i = 0;
        idx[std::size_t(y) * side + x] = i;
      }
    const MemImgTransferSource from{idx.data(), side, side, side, pal};
    return TransferMemImgRect(&src, 0, 0, &from, 0, 0, side, side) == 0;
  }
  const int bpp = GetMemImgPixelBytes(kind, 0, s == Source::Alpha);
  for (int y = 0; y < side; ++y)
    for (int x = 0; x < side; ++x) {
      int r, g, b;
      BarColour(x, y, r, g, b);
      if (x == 0 || y == 0 || x == side - 1 || y == side - 1) r = g = b = 255;
      if (x == y || x == side - 1 - y) r = g = b = 0;
      std::uint32_t v = Pack(kind, r, g, b);
      if (x >= 8 && x < 24 && y >= 8 && y < 24 && ((x / 8 + y / 8) & 1)) v = key;
      if (s == Source::Alpha) {
        const std::uint32_t a = x < 6 ? 0 : x >= side - 6 ? 255 : std::uint32_t(x * 4);
        v |= a << (kind == 0 ? 16 : 24);
      }
      std::memcpy(GetMemImgRow(&src, y) + std::size_t(x) * bpp, &v, bpp);
    }
  return true;
}

bool MakeBlendImage(MEMIMG& blend) {
  if (CreateMemImg(&blend, 64, 64, kMemImgKind32, 1, 0, 0) != 0) return false;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) GetMemImgRow(&blend, y)[x] = std::uint8_t((x + y) * 2);
  return true;
}

bool DrawCard(const std::string& dir, int kind, Source s) {
  const int rows = int(std::size(kRows)), cols = int(std::size(kColumns));
  Card card(kind, kLeft + cols * kCell, kTop + rows * kCell);
  MEMIMG src{}, blend{};
  if (!card.ok() || (s != Source::Flat && !MakeSource(src, kind, s)) || !MakeBlendImage(blend)) return false;
  MEMIMG& dest = card.image();
  std::string title = std::string(kind == 0 ? "16 BIT " : "32 BIT ") + SourceName(s);
  for (char& c : title) c = char(std::toupper(static_cast<unsigned char>(c)));
  card.Text(4, 4, title, 3);
  SetDrawScreenSize(dest.width, dest.height);
  for (int c = 0; c < cols; ++c) card.Text(kLeft + c * kCell + 4, kTop - 14, kColumns[c].label);
  for (int r = 0; r < rows; ++r) {
    const int y0 = kTop + r * kCell;
    card.Text(4, y0 + 40, kRows[r].label);
    for (int c = 0; c < cols; ++c) {
      const int x0 = kLeft + c * kCell;
      PaintCell(card, x0, y0);
      const Column& col = kColumns[c];
      ResetDrawState();
      SetDrawScreenSize(dest.width, dest.height);
      SetDrawArea(x0 + 1, y0 + 1, x0 + kCell, y0 + kCell);  // the bottom-right corner pokes out: clipped
      SetDrawBlendMode(kRows[r].mode, kRows[r].param);
      SetDrawBrightness(col.bright[0], col.bright[1], col.bright[2]);
      SetBlendMemImg(col.blend ? &blend : nullptr, 100, 255);
      // A free quadrilateral: no two sides parallel.
      const int q[4][2] = {{x0 + 10, y0 + 14}, {x0 + 86, y0 + 6}, {x0 + 6, y0 + 84}, {x0 + 104, y0 + 98}};
      if (s == Source::Flat) {
        const TriVertex v[4] = {{q[0][0], q[0][1], 0, 0},
                                {q[1][0], q[1][1], 0, 0},
                                {q[2][0], q[2][1], 0, 0},
                                {q[3][0], q[3][1], 0, 0}};
        const std::uint32_t colour = Pack(kind, 255, 140, 30);
        DrawTriangleGraphSoft(&dest, nullptr, &v[0], colour, 0);
        DrawTriangleGraphSoft(&dest, nullptr, &v[1], colour, 0);
      } else {
        DrawQuadGraphSoft(&dest, q[0][0], q[0][1], q[1][0], q[1][1], q[2][0], q[2][1], q[3][0], q[3][1], &src,
                          col.trans);
      }
    }
  }
  SetBlendMemImg(nullptr, 0, 0);
  ResetDrawState();
  const std::string path = dir + "/testcard-" + (kind == 0 ? "16" : "32") + "-" + SourceName(s) + ".png";
  const bool ok = card.WritePng(path);
  if (ok)
    std::printf("%s\n", path.c_str());
  else
    std::fprintf(stderr, "gamelib-testcard: cannot write %s\n", path.c_str());
  if (s != Source::Flat) DeleteMemImg(&src);
  DeleteMemImg(&blend);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr,
                 "usage: gamelib-testcard OUTDIR\n"
                 "Writes testcard-{16,32}-{direct,alpha,palette,flat}.png: rows are blend modes, columns\n"
                 "plain, trans, blend image, brightness (255,150,60) and all three together.\n");
    return 2;
  }
  std::error_code ec;
  std::filesystem::create_directories(argv[1], ec);
  bool ok = true;
  for (int kind : {0, 1})
    for (Source s : {Source::Direct, Source::Alpha, Source::Palette, Source::Flat})
      ok = DrawCard(argv[1], kind, s) && ok;
  return ok ? 0 : 1;
}
