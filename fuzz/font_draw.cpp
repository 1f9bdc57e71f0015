// Text drawing on arbitrary bytes: the first bytes choose the font (size, kind,
// thickness), the target image, the position, scale and clip rectangle; the rest is the
// string, ill-formed UTF-8 and all. The string goes into a memory image and, when a flag
// says so, onto the screen through the device. Any crash, overrun, leak, pixel changed
// outside the clip, or a measured box that drawing does not keep is a finding. The
// library runs on a device with the texture formats of a texture cache and, every other
// restart, on one without them.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "font/font_record.h"
#include "fuzz_input.h"
#include "gamelib/core.h"
#include "gamelib/font.h"
#include "gamelib/graphics.h"
#include "gamelib/softrender.h"
#include "platform/sim.h"
#include "platform/sim_display.h"

namespace {

using fuzz::Check;

struct Reader : fuzz::ByteReader {
  int Signed(int range) { return Byte() % (2 * range + 1) - range; }
};

// The library on a 32-bit screen that is presented nowhere; glyph caches on textures,
// or (without the A4R4G4B4 and A1R5G5B5 formats) in memory images.
void StartLibrary(bool textureCache) {
  sim::Reset();
  sim::SetVideoOutput("offline");
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.trace = false;
  if (!textureCache) {
    const DDPIXELFORMAT drop[2] = {sim::MakePixelFormat(sim::PixelFormatName::A4R4G4B4),
                                   sim::MakePixelFormat(sim::PixelFormatName::A1R5G5B5)};
    std::erase_if(config.textureFormats, [&](const DDPIXELFORMAT& f) {
      return std::memcmp(&f, &drop[0], sizeof f) == 0 || std::memcmp(&f, &drop[1], sizeof f) == 0;
    });
  }
  sim::ConfigureDisplay(config);
  gamelib::SetOutApplicationLogValidFlag(0);
  gamelib::SetNoSoundFlag(1);
  gamelib::SetGraphMode(96, 64, 32);
  Check(gamelib::InitializeLibrary() == 0);
}

// Fonts are kept between inputs: opening a face costs more than drawing.
int FontFor(int size, int kind, int thickness) {
  static int fonts[4][4][64];
  static int made = 0;
  static int restarts = 0;
  int& slot = fonts[kind][thickness % 4][size];
  if (slot > 0 && gamelib::GetFontRecord(slot) != nullptr) return slot;
  if (++made > 48) {  // now and then everything goes, as at shutdown
    if (++restarts % 2 == 0) {
      gamelib::InitFontToHandle();
    } else {
      gamelib::TerminateLibrary();
      StartLibrary(restarts % 4 != 1);
    }
    std::memset(fonts, 0, sizeof(fonts));
    made = 1;
  }
  const int thicknesses[4] = {-1, 3, 7, 9};
  slot = gamelib::CreateFontToHandle(nullptr, size, thicknesses[thickness % 4], kind);
  return slot;
}

}  // namespace

// Fontconfig loses a few bytes parsing its configuration, once per load.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool started = [] {
    StartLibrary(true);
    return true;
  }();
  (void)started;
  Reader r{data, size};
  const int fontSize = 1 + r.Byte() % 63;
  const int kind = r.Byte() % 4;
  const int thickness = r.Byte();
  const int flags = r.Byte();
  const int targetKind = r.Byte() % 3;
  const int width = 1 + r.Byte() % 96, height = 1 + r.Byte() % 64;
  const int x = r.Signed(100), y = r.Signed(100);
  const RECT clip{r.Signed(40), r.Signed(40), r.Signed(120), r.Signed(120)};
  const double scales[4] = {1.0, 0.5, 2.0, 1.7};
  const double scale = scales[(flags >> 4) & 3];
  const int blendModes[8] = {0, 1, 2, 3, 4, 10, 11, 6};
  const int blendMode = blendModes[r.Byte() % 8];
  gamelib::SetDrawBlendMode(blendMode, r.Byte());
  const int length = (flags & 0x40) ? r.Byte() : -1;
  // The string: the rest of the input, in a block of its exact size.
  const std::size_t textBytes = r.size;
  char* text = static_cast<char*>(std::malloc(textBytes + 1));
  if (textBytes > 0) std::memcpy(text, r.data, textBytes);
  const int passLength =
      length < 0 ? static_cast<int>(textBytes) : std::min<int>(length, static_cast<int>(textBytes));

  int font = FontFor(fontSize, kind, thickness);
  if (flags & 0x80) font ^= 0x00010000;  // a stale check number
  const bool vertical = (flags & 1) != 0;

  gamelib::MEMIMG image{};
  const int kinds[3][2] = {
      {gamelib::kMemImgKind16, 0}, {gamelib::kMemImgKind32, 0}, {gamelib::kMemImgKind32, 1}};
  Check(gamelib::CreateMemImg(&image, width, height, kinds[targetKind][0], 0, kinds[targetKind][1], 0) == 0);
  const int bytesPerPixel = gamelib::GetMemImgPixelBytes(kinds[targetKind][0], 0, kinds[targetKind][1]);
  for (int row = 0; row < height; ++row)
    std::memset(gamelib::GetMemImgRow(&image, row), 0x5A, width * bytesPerPixel);

  gamelib::FontStringSize measured{-1, -1}, drawn{-1, -1};
  const RECT* useClip = (flags & 2) ? &clip : nullptr;
  const int extent =
      gamelib::DrawStringWithFontCache(0, x, y, 0, scale, scale, text, 0xFFFFFF, nullptr, useClip, 1, font,
                                       0x00FF00, passLength, vertical, &measured);
  const int result =
      gamelib::DrawStringWithFontCache(1, x, y, 0, scale, scale, text, 0x123456, &image, useClip,
                                       (flags >> 2) & 1, font, 0x00FF00, passLength, vertical, &drawn);
  const bool valid = gamelib::GetFontRecord(font) != nullptr;
  Check(valid ? (extent >= 0 && result == extent) : (extent == -1 && result == -1));
  if (valid) {
    Check(drawn.width == measured.width && drawn.height == measured.height);
    Check(extent == (vertical ? measured.height : measured.width));
  }
  // Nothing changes outside the clip, nor right of or below the measured box (a glyph
  // may reach left of or above the origin).
  int left = 0, top = 0, right = width, bottom = height;
  if (useClip != nullptr) {
    left = std::max(left, static_cast<int>(clip.left));
    top = std::max(top, static_cast<int>(clip.top));
    right = std::min(right, static_cast<int>(clip.right));
    bottom = std::min(bottom, static_cast<int>(clip.bottom));
  }
  for (int row = 0; row < height; ++row) {
    const std::uint8_t* p = gamelib::GetMemImgRow(&image, row);
    for (int col = 0; col < width; ++col) {
      const bool inside = col >= left && col < right && row >= top && row < bottom &&
                          col < x + measured.width && row < y + measured.height;
      if (inside) continue;
      for (int b = 0; b < bytesPerPixel; ++b) {
        Check(p[col * bytesPerPixel + b] == 0x5A);
      }
    }
  }
  if (flags & 8) {
    // The screen: the device road for texture-cached fonts, else the software one.
    gamelib::FontStringSize onScreen{-1, -1};
    const int screenResult =
        gamelib::DrawStringWithFontCache(1, x, y, 0, scale, scale, text, 0x345678, nullptr, useClip, 1, font,
                                         0x00FF00, passLength, vertical, &onScreen);
    Check(screenResult == extent);
    if (valid) Check(onScreen.width == measured.width && onScreen.height == measured.height);
    if (flags & 0x20) gamelib::ScreenFlip();
  }
  gamelib::DeleteMemImg(&image);
  std::free(text);
  gamelib::SetDrawBlendMode(0, 0);
  return 0;
}
