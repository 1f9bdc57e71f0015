// The draw target as a memory image: memory-image graphs are used in place, plain
// surfaces and screen pages are locked for the duration of one software draw.
#include "softrender/soft_target.h"

#include "graphics/color_data.h"
#include "graphics/draw_state.h"
#include "graphics/graph_records.h"
#include "graphics/graphics_hooks.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

bool Wrap(SoftDrawTarget* t, void* pixels, int pitch, int width, int height, const ColorData* colorData) {
  const int kind = MemImgKindOf(colorData);
  if (kind < 0 || pixels == nullptr || width < 1 || height < 1) return false;
  t->shared = MemImgSharedRecord{};
  t->shared.pitch = pitch;
  t->shared.kind = kind;
  t->shared.width = width;
  t->shared.height = height;
  t->shared.referenceCount = 1;
  t->image.width = width;
  t->image.height = height;
  t->image.pixels = static_cast<std::uint8_t*>(pixels);
  t->image.shared = &t->shared;
  return true;
}

}  // namespace

int MemImgKindOf(const ColorData* c) {
  if (c == nullptr) return -1;
  if (c->colorBitDepth == 16 && c->redMask == 0xF800 && c->greenMask == 0x07E0 && c->blueMask == 0x001F) {
    return kMemImgKind16;
  }
  if (c->colorBitDepth == 32 && c->redMask == 0xFF0000 && c->greenMask == 0xFF00 && c->blueMask == 0xFF) {
    return kMemImgKind32;
  }
  return -1;
}

int BeginSoftDraw(SoftDrawTarget* t) {
  if (t == nullptr) return -1;
  *t = SoftDrawTarget{};
  CloseDeviceScene();
  const int screen = GetDrawState().drawScreen;
  if (screen == kDrawScreenFront || screen == kDrawScreenBack) {
    IDirectDrawSurface7* surface = screen == kDrawScreenFront ? GetFrontSurface() : GetBackSurface();
    if (surface == nullptr) return -1;
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof(desc);
    if (surface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr) != DD_OK) return -1;
    t->directSurface = surface;
    t->locked = true;
    ColorData layout{};
    if (CreateColorDataFromPixelFormat(&desc.ddpfPixelFormat, &layout) != 0 ||
        !Wrap(t, desc.lpSurface, static_cast<int>(desc.lPitch), static_cast<int>(desc.dwWidth),
              static_cast<int>(desc.dwHeight), &layout)) {
      EndSoftDraw(t);
      return -1;
    }
    return 0;
  }
  GraphRecord* graph = GetGraphRecord(screen);
  if (graph == nullptr || graph->useTexture || graph->pieceCount < 1) return -1;
  Surface2D* piece = GetSurface2D(graph->pieces[0]);
  if (piece == nullptr) return -1;
  const RECT area{piece->x, piece->y, piece->x + piece->width, piece->y + piece->height};
  int pitch = 0;
  void* pixels = nullptr;
  const ColorData* layout = nullptr;
  const int locked = LockSurface(piece->surface, &pitch, &pixels, 0, &area, &layout);
  if (locked == -1) return -1;
  t->surfaceHandle = piece->surface;
  t->locked = true;
  // A lock already held points elsewhere: not ours to draw through.
  if (locked == -2 || !Wrap(t, pixels, pitch, piece->width, piece->height, layout)) {
    EndSoftDraw(t);
    return -1;
  }
  return 0;
}

void EndSoftDraw(SoftDrawTarget* t) {
  if (t == nullptr || !t->locked) return;
  if (t->directSurface != nullptr) {
    static_cast<IDirectDrawSurface7*>(t->directSurface)->Unlock(nullptr);
  } else if (t->surfaceHandle >= 0) {
    UnlockSurface(t->surfaceHandle, nullptr);
  }
  t->locked = false;
}

int DrawGraphQuadSoft(GraphRecord* graph, const int (&c)[8], int transparent) {
  if (graph == nullptr || graph->useTexture || graph->pieceCount < 1) return -1;
  Surface2D* piece = GetSurface2D(graph->pieces[0]);
  SurfaceRecord* surface = piece != nullptr ? GetSurfaceRecord(piece->surface) : nullptr;
  if (surface == nullptr) return -1;
  SoftDrawTarget target;
  if (BeginSoftDraw(&target) != 0) return -1;
  const RECT area{piece->x, piece->y, piece->x + piece->width, piece->y + piece->height};
  int pitch = 0;
  void* pixels = nullptr;
  const ColorData* layout = nullptr;
  const int locked = LockSurface(piece->surface, &pitch, &pixels, 0, &area, &layout);
  int result = -1;
  if (locked == 0) {
    SoftDrawTarget source;
    if (Wrap(&source, pixels, pitch, piece->width, piece->height, layout) &&
        source.shared.kind == target.shared.kind) {
      const std::uint32_t key = surface->transColor;
      source.shared.colorKey =
          GetColorForFormat(layout, static_cast<int>((key >> 16) & 0xFF), static_cast<int>((key >> 8) & 0xFF),
                            static_cast<int>(key & 0xFF), 0);
      source.image.shared = &source.shared;
      result = DrawQuadGraphSoft(&target.image, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7], &source.image,
                                 transparent);
    }
  }
  if (locked != -1) UnlockSurface(piece->surface, nullptr);
  EndSoftDraw(&target);
  return result;
}

}  // namespace gamelib
