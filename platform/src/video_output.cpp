// Where presented frames of the primary surface go:
//   offline - kept in memory only (the last frame and a count);
//   png:DIR - each frame written as DIR/frame_NNNNNN.png;
//   sdl     - shown in a real window.
// GAMELIB_VIDEO picks one when the first DirectDraw object is made; unset, a window is
// used when a display seems present. A window or directory that cannot open gives
// offline, quietly. sim::Reset makes it offline until SetVideoOutput says otherwise.
#include <SDL2/SDL.h>
#include <png.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display_internal.h"

namespace platform::display {
namespace {

enum class VideoKind { Offline, Png, Sdl };

struct Video {
  bool chosen = false;
  bool hasOverride = false;
  std::string overrideSpec;
  VideoKind kind = VideoKind::Offline;
  std::string directory;
  int frames = 0;
  std::vector<std::uint32_t> last;
  int lastWidth = 0;
  int lastHeight = 0;
  bool sdlVideo = false;
  SDL_Window* window = nullptr;
  SDL_Renderer* renderer = nullptr;
  SDL_Texture* texture = nullptr;
  int textureWidth = 0;
  int textureHeight = 0;
};

// Guarded by the world's mutex.
Video& V() {
  static auto* video = new Video;
  return *video;
}

void CloseSdl(Video& v) {
  if (v.texture != nullptr) SDL_DestroyTexture(v.texture);
  if (v.renderer != nullptr) SDL_DestroyRenderer(v.renderer);
  if (v.window != nullptr) SDL_DestroyWindow(v.window);
  v.texture = nullptr;
  v.renderer = nullptr;
  v.window = nullptr;
  v.textureWidth = v.textureHeight = 0;
  if (v.sdlVideo) SDL_QuitSubSystem(SDL_INIT_VIDEO);
  v.sdlVideo = false;
}

bool DisplaySeemsPresent() {
  return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
}

void Open(Video& v, const std::string& spec, bool fromDefault) {
  v.kind = VideoKind::Offline;
  v.chosen = true;
  if (spec.rfind("png:", 0) == 0 && spec.size() > 4) {
    v.directory = spec.substr(4);
    if (mkdir(v.directory.c_str(), 0777) != 0 && errno != EEXIST) return;
    v.kind = VideoKind::Png;
    return;
  }
  if (spec == "sdl" || (fromDefault && DisplaySeemsPresent())) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return;
    v.sdlVideo = true;
    v.kind = VideoKind::Sdl;
  }
}

void Choose(Video& v) {
  if (v.chosen) return;
  if (v.hasOverride) {
    Open(v, v.overrideSpec, false);
    return;
  }
  const char* env = std::getenv("GAMELIB_VIDEO");
  Open(v, env != nullptr ? env : "", env == nullptr || *env == '\0');
}

bool WritePng(const std::string& path, const std::vector<std::uint32_t>& pixels, int width, int height) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  std::vector<png_byte> row(static_cast<std::size_t>(width) * 3);
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t p = pixels[static_cast<std::size_t>(y) * width + x];
      row[x * 3] = static_cast<png_byte>(p >> 16);
      row[x * 3 + 1] = static_cast<png_byte>(p >> 8);
      row[x * 3 + 2] = static_cast<png_byte>(p);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0;
}

bool ShowSdl(Video& v) {
  if (v.window == nullptr) {
    v.window = SDL_CreateWindow("gamelib", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, v.lastWidth,
                                v.lastHeight, SDL_WINDOW_SHOWN);
    if (v.window == nullptr) return false;
    v.renderer = SDL_CreateRenderer(v.window, -1, 0);
    if (v.renderer == nullptr) return false;
  }
  if (v.texture == nullptr || v.textureWidth != v.lastWidth || v.textureHeight != v.lastHeight) {
    if (v.texture != nullptr) SDL_DestroyTexture(v.texture);
    v.texture = SDL_CreateTexture(v.renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING,
                                  v.lastWidth, v.lastHeight);
    if (v.texture == nullptr) return false;
    v.textureWidth = v.lastWidth;
    v.textureHeight = v.lastHeight;
    SDL_SetWindowSize(v.window, v.lastWidth, v.lastHeight);
  }
  SDL_UpdateTexture(v.texture, nullptr, v.last.data(), v.lastWidth * 4);
  SDL_RenderClear(v.renderer);
  SDL_RenderCopy(v.renderer, v.texture, nullptr, nullptr);
  SDL_RenderPresent(v.renderer);
  SDL_PumpEvents();
  return true;
}

}  // namespace

void ChooseVideoOutput() {
  auto lock = LockWorld();
  Choose(V());
}

void ResetVideoOutput() {
  auto lock = LockWorld();
  Video& v = V();
  CloseSdl(v);
  v.chosen = false;
  v.hasOverride = true;
  v.overrideSpec = "offline";
  v.kind = VideoKind::Offline;
  v.frames = 0;
  v.last.clear();
  v.lastWidth = v.lastHeight = 0;
}

void PresentFrame(Surface& primary) {
  Video& v = V();
  Choose(v);
  v.lastWidth = primary.width;
  v.lastHeight = primary.height;
  v.last.resize(static_cast<std::size_t>(primary.width) * primary.height);
  const bool argb32 = primary.layout == pixel::Layout::X8R8G8B8 || primary.layout == pixel::Layout::A8R8G8B8;
  for (int y = 0; y < primary.height; ++y) {
    std::uint32_t* out = &v.last[static_cast<std::size_t>(y) * primary.width];
    if (argb32) {  // the raw pixels are ARGB already; eight a step, which the compiler vectorises
      const std::uint8_t* in = primary.Row(y);
      int x = 0;
      for (; x + 8 <= primary.width; x += 8) {
        std::uint32_t block[8];
        std::memcpy(block, in + 4 * x, sizeof block);
        for (std::uint32_t& p : block) p |= 0xFF000000u;
        std::memcpy(out + x, block, sizeof block);
      }
      for (; x < primary.width; ++x) {
        std::uint32_t p;
        std::memcpy(&p, in + 4 * x, 4);
        out[x] = p | 0xFF000000u;
      }
      continue;
    }
    for (int x = 0; x < primary.width; ++x)
      out[x] = pixel::ReadARGB(primary.layout, primary.At(x, y)) | 0xFF000000u;
  }
  ++v.frames;
  if (v.kind == VideoKind::Png) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%06d.png", v.frames);
    WritePng(v.directory + name, v.last, v.lastWidth, v.lastHeight);
  } else if (v.kind == VideoKind::Sdl && !ShowSdl(v)) {
    CloseSdl(v);
    v.kind = VideoKind::Offline;
  }
}

}  // namespace platform::display

namespace sim {

void SetVideoOutput(const std::string& spec) {
  auto lock = platform::display::LockWorld();
  auto& v = platform::display::V();
  platform::display::CloseSdl(v);
  v.hasOverride = !spec.empty();
  v.overrideSpec = spec;
  v.chosen = false;
  platform::display::Choose(v);
}

std::string VideoOutputName() {
  auto lock = platform::display::LockWorld();
  auto& v = platform::display::V();
  platform::display::Choose(v);
  switch (v.kind) {
    case platform::display::VideoKind::Png:
      return "png";
    case platform::display::VideoKind::Sdl:
      return "sdl";
    default:
      return "offline";
  }
}

int PresentedFrameCount() {
  auto lock = platform::display::LockWorld();
  return platform::display::V().frames;
}

bool LastPresentedFrame(std::vector<std::uint32_t>* pixels, int* width, int* height) {
  auto lock = platform::display::LockWorld();
  auto& v = platform::display::V();
  if (v.frames == 0 || pixels == nullptr) return false;
  *pixels = v.last;
  if (width != nullptr) *width = v.lastWidth;
  if (height != nullptr) *height = v.lastHeight;
  return true;
}

}  // namespace sim
