// Screen read-back into texture graphs: the five methods and the remembered one.
#include "d3d/screen_readback.h"

#include <algorithm>
#include <cstdint>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/texture_formats.h"
#include "d3d/texture_pieces.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"
#include "graphics/graph_image_convert.h"
#include "graphics/screen.h"
#include "graphics/surfaces.h"
#include "platform/wingdi.h"

namespace gamelib {
namespace {

using Method = int (*)(int, int, int, int, GraphRecord*, int);

constexpr Method kMethods[] = {G_D3D_GetDrawScreenGraphFunction5, G_D3D_GetDrawScreenGraphFunction1,
                               G_D3D_GetDrawScreenGraphFunction3, G_D3D_GetDrawScreenGraphFunction2,
                               G_D3D_GetDrawScreenGraphFunction4, nullptr};

constexpr int kLoadAttempts = 10;

// Where the rectangle is read from: the screen surface, the bounds the coordinates are
// checked against, and the shift from draw-screen to surface coordinates.
struct Frame {
  int x1, y1, x2, y2;
  IDirectDrawSurface7* screen;
  int boundWidth, boundHeight;
  int shiftX, shiftY;
  int surfaceWidth, surfaceHeight;
  bool desktop;
};

// One piece's part of the copy: the source rectangle on the screen surface and where it
// lands, in the graph and in the texture.
struct Area {
  RECT source;
  int graphX, graphY;
  int textureX, textureY;
  int width, height;
};

// A piece with the texture it lives in, or null members for an invalid one.
struct Piece {
  Surface3DDataRecord* record;
  SurfaceRecord* surface;
  const TextureFormatRecord* format;
};

Piece GetPiece(const GraphRecord* graph, int index) {
  Piece p{GetSurface3DData(graph->pieces[index]), nullptr, nullptr};
  if (p.record == nullptr) return Piece{};
  p.surface = GetSurfaceRecord(p.record->surface);
  if (p.surface == nullptr || p.surface->surface == nullptr) return Piece{};
  p.format = GetTextureFormatEntry(p.surface->textureFormatIndex);
  if (p.format == nullptr || p.format->colorData.colorBitDepth == 0) return Piece{};
  return p;
}

int PieceCount(const GraphRecord* graph) { return std::clamp(graph->pieceCount, 0, kMaxGraphPieces); }

// The common checks of every method. The desktop case (client flag 0 while the windowed
// front buffer is drawn) reads desktop coordinates; method 1 takes it only while the
// draw target is the primary itself.
bool MakeFrame(int x1, int y1, int x2, int y2, const GraphRecord* graph, int clientFlag, bool needPrimary,
               Frame* f) {
  if (graph == nullptr) return false;
  *f = Frame{x1, y1, x2, y2, GetDrawTargetSurface(), 0, 0, 0, 0, 0, 0, false};
  f->desktop = clientFlag == 0 && GetWindowModeFlag() == 1 && GetActiveDrawScreen() == kDrawScreenFront &&
               (!needPrimary || IsDrawTargetPrimary() == 1);
  if (f->desktop) {
    f->boundWidth = GetSystemMetrics(SM_CXSCREEN);
    f->boundHeight = GetSystemMetrics(SM_CYSCREEN);
  } else {
    if (GetGraphSize(GetActiveDrawScreen(), &f->boundWidth, &f->boundHeight) != 0) return false;
    f->shiftX = GetDrawState().drawOriginX;
    f->shiftY = GetDrawState().drawOriginY;
  }
  // x1 equal to the bound would read nothing and still report success.
  if (x1 < 0 || y1 < 0 || x1 >= x2 || y1 >= y2 || x1 >= f->boundWidth || y1 >= f->boundHeight) return false;
  if (std::int64_t{x2} - x1 > graph->width || std::int64_t{y2} - y1 > graph->height) return false;
  if (f->screen == nullptr) return false;
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof(desc);
  if (FAILED(f->screen->GetSurfaceDesc(&desc))) return false;
  f->surfaceWidth = static_cast<int>(desc.dwWidth);
  f->surfaceHeight = static_cast<int>(desc.dwHeight);
  return true;
}

// Cuts one axis of a region of the graph at the rectangle asked for, the bounds and the
// screen surface (after the shift). False when nothing is left.
bool CutAxis(std::int64_t start, std::int64_t size, std::int64_t origin, std::int64_t asked,
             std::int64_t bound, std::int64_t shift, std::int64_t surface, int* graphStart, int* sourceStart,
             int* length) {
  size = std::min(size, asked - start);
  std::int64_t source = origin + start;
  size = std::min(size, bound - source);
  source += shift;
  if (source < 0) {
    start -= source;
    size += source;
    source = 0;
  }
  size = std::min(size, surface - source);
  if (size <= 0) return false;
  *graphStart = static_cast<int>(start);
  *sourceStart = static_cast<int>(source);
  *length = static_cast<int>(size);
  return true;
}

// The part of the graph region (x, y, width, height) that can be read.
bool CutRegion(const Frame& f, int x, int y, int width, int height, Area* a) {
  int sx = 0, sy = 0;
  if (!CutAxis(x, width, f.x1, std::int64_t{f.x2} - f.x1, f.boundWidth, f.shiftX, f.surfaceWidth, &a->graphX,
               &sx, &a->width) ||
      !CutAxis(y, height, f.y1, std::int64_t{f.y2} - f.y1, f.boundHeight, f.shiftY, f.surfaceHeight,
               &a->graphY, &sy, &a->height)) {
    return false;
  }
  a->source = RECT{sx, sy, sx + a->width, sy + a->height};
  return true;
}

bool CutPiece(const Frame& f, const Surface3DDataRecord& p, Area* a) {
  if (!CutRegion(f, p.x, p.y, p.width, p.height, a)) return false;
  a->textureX = p.textureX + (a->graphX - p.x);
  a->textureY = p.textureY + (a->graphY - p.y);
  return true;
}

int FlagsFor(const ColorData& format) { return format.alphaWidth > 0 ? kConvertOpaqueAlpha : 0; }

// A system-memory texture of the piece texture's size and format.
IDirectDrawSurface7* CreateWorkTexture(const Piece& p, HRESULT* result) {
  IDirectDraw7* directDraw = GetDirectDrawObject();
  *result = DDERR_GENERIC;
  if (directDraw == nullptr) return nullptr;
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof(desc);
  desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
  desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY;
  desc.dwWidth = p.surface->width;
  desc.dwHeight = p.surface->height;
  desc.ddpfPixelFormat = p.format->pixelFormat;
  IDirectDrawSurface7* work = nullptr;
  *result = directDraw->CreateSurface(&desc, &work, nullptr);
  if (FAILED(*result)) return nullptr;
  return work;
}

// The texts of methods 3 and 4, which differ only in the method's name.
struct GdiTexts {
  const char* screenDc;
  const char* create;
  const char* workDc;
  const char* bitBlt;
  const char* releaseDc;
};

constexpr GdiTexts kMethod3Texts = {
    "Error  G_D3D_GetDrawScreenGraphFunction3 　ＤＣ取得に失敗しました  GetDC  ReturnValue:%d",
    "Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスの作成に失敗しました  "
    "CreateSurface  "
    "ReturnValue:%d",
    "Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスのＤＣ取得に失敗しました  GetDC  "
    "ReturnValue:%d",
    "Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスへのイメージ転送に失敗しました  "
    "BitBlt  "
    "ErrorCode:%x",
    "Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスのＤＣ解放に失敗しました  "
    "ReleaseDC  "
    "ReturnValue:%d",
};
constexpr GdiTexts kMethod4Texts = {
    "Error  G_D3D_GetDrawScreenGraphFunction4 　ＤＣ取得に失敗しました  GetDC  ReturnValue:%d",
    "Error  G_D3D_GetDrawScreenGraphFunction4 　作業用テクスチャサーフェスの作成に失敗しました  "
    "CreateSurface  "
    "ReturnValue:%d",
    "Error  G_D3D_GetDrawScreenGraphFunction4 　作業用テクスチャサーフェスのＤＣ取得に失敗しました  GetDC  "
    "ReturnValue:%d",
    "Error  G_D3D_GetDrawScreenGraphFunction4 　作業用テクスチャサーフェスへのイメージ転送に失敗しました  "
    "BitBlt  "
    "ErrorCode:%x",
    "Error  G_D3D_GetDrawScreenGraphFunction4 　作業用テクスチャサーフェスのＤＣ解放に失敗しました  "
    "ReleaseDC  "
    "ReturnValue:%d",
};

// The shared first steps of methods 3 and 4 for one piece: a work texture holding the
// piece's area at the piece's place, through GDI. Null after a logged failure.
IDirectDrawSurface7* FillWorkTexture(const Piece& p, const Area& a, HDC screenDc, const GdiTexts& texts) {
  HRESULT hr = DD_OK;
  IDirectDrawSurface7* work = CreateWorkTexture(p, &hr);
  if (work == nullptr) {
    OutputLogFormat(texts.create, static_cast<int>(hr));
    return nullptr;
  }
  HDC workDc = nullptr;
  hr = work->GetDC(&workDc);
  if (FAILED(hr)) {
    OutputLogFormat(texts.workDc, static_cast<int>(hr));
    work->Release();
    return nullptr;
  }
  if (!BitBlt(workDc, a.textureX, a.textureY, a.width, a.height, screenDc, a.source.left, a.source.top,
              SRCCOPY)) {
    const DWORD error = GetLastError();
    work->ReleaseDC(workDc);
    work->Release();
    OutputLogFormat(texts.bitBlt, static_cast<unsigned>(error));
    return nullptr;
  }
  hr = work->ReleaseDC(workDc);
  if (FAILED(hr)) {
    OutputLogFormat(texts.releaseDc, static_cast<int>(hr));
    work->Release();
    return nullptr;
  }
  return work;
}

// Method 3's last step: both textures locked whole, the area converted.
int ConvertWorkTexture(const Piece& p, const Area& a, IDirectDrawSurface7* work) {
  DDSURFACEDESC2 from{}, to{};
  from.dwSize = to.dwSize = sizeof(DDSURFACEDESC2);
  HRESULT hr = work->Lock(nullptr, &from, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr);
  if (FAILED(hr)) {
    return OutputLogFormat(
        "Error  G_D3D_GetDrawScreenGraphFunction3 　作業用テクスチャサーフェスのロックに失敗しました  Lock  "
        "ReturnValue:%d",
        static_cast<int>(hr));
  }
  hr = p.surface->surface->Lock(nullptr, &to, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr);
  if (FAILED(hr)) {
    work->Unlock(nullptr);
    return OutputLogFormat(
        "Error  G_D3D_GetDrawScreenGraphFunction3 　転送先テクスチャサーフェスのロックに失敗しました  Lock  "
        "ReturnValue:%d",
        static_cast<int>(hr));
  }
  // GDI leaves the alpha bits of the work texture at 0: read it as colour only, so that
  // the opaque alpha asked for reaches the piece.
  const ColorData& format = p.format->colorData;
  ColorData colourOnly = format;
  colourOnly.alphaWidth = 0;
  colourOnly.alphaLoc = 0;
  colourOnly.alphaMask = 0;
  const RECT area{a.textureX, a.textureY, a.textureX + a.width, a.textureY + a.height};
  ConvertGraphImageBlt(to.lpSurface, static_cast<int>(to.lPitch), &format, from.lpSurface,
                       static_cast<int>(from.lPitch), &colourOnly, nullptr, 0, nullptr, a.textureX,
                       a.textureY, &area, FlagsFor(format), p.surface->transColor);
  p.surface->surface->Unlock(nullptr);
  work->Unlock(nullptr);
  return 0;
}

// Method 4's last step: the device loads the area, retrying while the texture is busy.
int LoadWorkTexture(const Frame& f, const Piece& p, const Area& a, IDirectDrawSurface7* work) {
  D3DDeviceRecord* device = CurrentDeviceRecord();
  if (device == nullptr || device->device == nullptr) return -1;
  POINT at{a.textureX, a.textureY};
  RECT area{a.textureX, a.textureY, a.textureX + a.width, a.textureY + a.height};
  HRESULT hr = DD_OK;
  for (int attempt = 1;; ++attempt) {
    hr = device->device->Load(p.surface->surface, &at, work, &area, 0);
    if (hr != DDERR_SURFACEBUSY || attempt == kLoadAttempts) break;
    p.surface->surface->Restore();
    Sleep(1);
  }
  if (SUCCEEDED(hr)) return 0;
  const SurfaceCreateBytes& bytes = p.surface->create;
  OutputLogFormat("hr:%d  W:%d  H:%d  FullMode:%d  Point x:%d y:%d   Rect top:%d bottom:%d left:%d right:%d",
                  static_cast<int>(hr), p.surface->width, p.surface->height, GetWindowModeFlag() == 0 ? 1 : 0,
                  static_cast<int>(at.x), static_cast<int>(at.y), static_cast<int>(area.top),
                  static_cast<int>(area.bottom), static_cast<int>(area.left), static_cast<int>(area.right));
  OutputLogFormat("AlphaCh:%d  AlphaTest:%d  ColorBitDepth:%d", bytes.alphaChannel, bytes.alphaTest,
                  bytes.bitDepth);
  return OutputLogFormat(
      "ScreenColor:%d  SizeX:%d  SizeY:%d  DrawPointX:%d  DrawPointY:%d  WndRect.left:%d  WndRect.top:%d  "
      "left:%d  "
      "top:%d",
      GetScreenColorBitDepth(), f.boundWidth, f.boundHeight, p.record->x, p.record->y, f.shiftX, f.shiftY,
      f.x1, f.y1);
}

// Methods 3 (convert) and 4 (load): GDI into a work texture per piece, then into the piece.
int ReadThroughWorkTexture(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag, bool load) {
  Frame f;
  if (!MakeFrame(x1, y1, x2, y2, graph, clientFlag, false, &f)) return -1;
  const GdiTexts& texts = load ? kMethod4Texts : kMethod3Texts;
  HDC screenDc = nullptr;
  const HRESULT hr = f.screen->GetDC(&screenDc);
  if (FAILED(hr)) return OutputLogFormat(texts.screenDc, static_cast<int>(hr));
  for (int i = 0; i < PieceCount(graph); ++i) {
    const Piece p = GetPiece(graph, i);
    Area a;
    if (p.record == nullptr || !CutPiece(f, *p.record, &a)) continue;
    IDirectDrawSurface7* work = FillWorkTexture(p, a, screenDc, texts);
    const int result = work == nullptr ? -1
                       : load          ? LoadWorkTexture(f, p, a, work)
                                       : ConvertWorkTexture(p, a, work);
    if (work != nullptr) work->Release();
    if (result != 0) {
      f.screen->ReleaseDC(screenDc);
      return -1;
    }
    SetSurfaceColorKey(p.record->surface);
  }
  f.screen->ReleaseDC(screenDc);
  return 0;
}

}  // namespace

int GetDrawScreenGraphD3D(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag) {
  Direct3DState& state = GetDirect3DState();
  if (!Direct3DAvailable()) return -1;
  if (state.memImageTarget) return 0;
  FlushVertexBuffer(state.currentDevice);
  EndSceneDevice(state.currentDevice);
  if (graph == nullptr || graph->pieceCount < 1) return -1;
  const Piece first = GetPiece(graph, 0);
  if (first.record == nullptr) return -1;
  int& remembered =
      state.readBackMethod[first.surface->create.alphaChannel || first.surface->create.alphaTest];
  if (remembered >= 0 && remembered < 5 && kMethods[remembered](x1, y1, x2, y2, graph, clientFlag) >= 0)
    return 0;
  for (remembered = 0; kMethods[remembered] != nullptr; ++remembered) {
    if (kMethods[remembered](x1, y1, x2, y2, graph, clientFlag) == 0) return 0;
  }
  remembered = -1;
  return -1;
}

int G_D3D_GetDrawScreenGraphFunction1(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag) {
  Frame f;
  if (!MakeFrame(x1, y1, x2, y2, graph, clientFlag, true, &f)) return -1;
  for (int i = 0; i < PieceCount(graph); ++i) {
    const Piece p = GetPiece(graph, i);
    if (p.record == nullptr) return -1;
    Area a;
    if (!CutPiece(f, *p.record, &a)) continue;
    const HRESULT hr = p.surface->surface->BltFast(static_cast<DWORD>(a.textureX),
                                                   static_cast<DWORD>(a.textureY), f.screen, &a.source, 0);
    if (FAILED(hr)) {
      return OutputLogFormat("Error G_D3D_GetDrawScreenGraphFunction1  BltFast ReturnValue:%d",
                             static_cast<int>(hr));
    }
    SetSurfaceColorKey(p.record->surface);
  }
  return 0;
}

int G_D3D_GetDrawScreenGraphFunction2(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag) {
  Frame f;
  if (!MakeFrame(x1, y1, x2, y2, graph, clientFlag, false, &f)) return -1;
  HDC screenDc = nullptr;
  HRESULT hr = f.screen->GetDC(&screenDc);
  if (FAILED(hr)) {
    return OutputLogFormat(
        "Error  G_D3D_GetDrawScreenGraphFunction2  ＤＣ取得に失敗しました  GetDC ReturnValue:%d",
        static_cast<int>(hr));
  }
  int result = 0;
  for (int i = 0; i < PieceCount(graph) && result == 0; ++i) {
    const Piece p = GetPiece(graph, i);
    Area a;
    if (p.record == nullptr) {
      result = -1;
      break;
    }
    if (!CutPiece(f, *p.record, &a)) continue;
    IDirectDrawSurface7* texture = p.surface->surface;
    HDC textureDc = nullptr;
    hr = texture->GetDC(&textureDc);
    if (FAILED(hr)) {
      result = OutputLogFormat(
          "Error  G_D3D_GetDrawScreenGraphFunction2 　作業用テクスチャサーフェスのＤＣ取得に失敗しました  "
          "GetDC "
          "ReturnValue:%d",
          static_cast<int>(hr));
      break;
    }
    if (!BitBlt(textureDc, a.textureX, a.textureY, a.width, a.height, screenDc, a.source.left, a.source.top,
                SRCCOPY)) {
      const DWORD error = GetLastError();
      texture->ReleaseDC(textureDc);
      result = OutputLogFormat(
          "Error  G_D3D_GetDrawScreenGraphFunction2 "
          "　作業用テクスチャサーフェスへのイメージ転送に失敗しました  "
          "BitBlt  ErrorCode:%x",
          static_cast<unsigned>(error));
      break;
    }
    hr = texture->ReleaseDC(textureDc);
    if (FAILED(hr)) {
      result = OutputLogFormat(
          "Error  G_D3D_GetDrawScreenGraphFunction2 　作業用テクスチャサーフェスのＤＣ解放に失敗しました  "
          "ReleaseDC "
          "ReturnValue:%d",
          static_cast<int>(hr));
      break;
    }
    SetSurfaceColorKey(p.record->surface);
  }
  f.screen->ReleaseDC(screenDc);
  return result;
}

int G_D3D_GetDrawScreenGraphFunction3(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag) {
  return ReadThroughWorkTexture(x1, y1, x2, y2, graph, clientFlag, false);
}

int G_D3D_GetDrawScreenGraphFunction4(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag) {
  return ReadThroughWorkTexture(x1, y1, x2, y2, graph, clientFlag, true);
}

int G_D3D_GetDrawScreenGraphFunction5(int x1, int y1, int x2, int y2, GraphRecord* graph, int clientFlag) {
  Frame f;
  if (!MakeFrame(x1, y1, x2, y2, graph, clientFlag, false, &f) || f.desktop) return -1;
  IDirectDrawSurface7* work = GetWorkSurface();
  if (work == nullptr) return -1;
  DDSURFACEDESC2 workDesc{};
  workDesc.dwSize = sizeof(workDesc);
  if (FAILED(work->GetSurfaceDesc(&workDesc))) return -1;
  // The readable part of the rectangle passes through the work surface at graph
  // coordinates, so it must fit there (a draw screen may be larger than the screen).
  Area whole;
  if (!CutRegion(f, 0, 0, x2 - x1, y2 - y1, &whole)) return 0;
  if (std::int64_t{whole.graphX} + whole.width > workDesc.dwWidth ||
      std::int64_t{whole.graphY} + whole.height > workDesc.dwHeight) {
    return -1;
  }
  if (BltSurfaceToSurface(work, f.screen, whole.graphX, whole.graphY, &whole.source, -1) != 0) return -1;
  HRESULT hr = work->Lock(nullptr, &workDesc, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr);
  if (FAILED(hr)) {
    return OutputLogFormat(
        "Error  G_D3D_GetDrawScreenGraphFunction5 　作業用テクスチャサーフェスのロックに失敗しました  Lock  "
        "ReturnValue:%d",
        static_cast<int>(hr));
  }
  for (int i = 0; i < PieceCount(graph); ++i) {
    const Piece p = GetPiece(graph, i);
    Area a;
    if (p.record == nullptr || !CutPiece(f, *p.record, &a)) continue;
    RECT target{a.textureX, a.textureY, a.textureX + a.width, a.textureY + a.height};
    DDSURFACEDESC2 to{};
    to.dwSize = sizeof(to);
    hr = p.surface->surface->Lock(&target, &to, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr);
    if (FAILED(hr)) {
      work->Unlock(nullptr);
      return OutputLogFormat(
          "Error  G_D3D_GetDrawScreenGraphFunction5 　転送先テクスチャサーフェスのロックに失敗しました  Lock "
          " "
          "ReturnValue:%d",
          static_cast<int>(hr));
    }
    const RECT from{a.graphX, a.graphY, a.graphX + a.width, a.graphY + a.height};
    const ColorData& format = p.format->colorData;
    ConvertGraphImageBlt(to.lpSurface, static_cast<int>(to.lPitch), &format, workDesc.lpSurface,
                         static_cast<int>(workDesc.lPitch), GetScreenColorData(), nullptr, 0, nullptr, 0, 0,
                         &from, FlagsFor(format), p.surface->transColor);
    p.surface->surface->Unlock(&target);
    SetSurfaceColorKey(p.record->surface);
  }
  work->Unlock(nullptr);
  return 0;
}

}  // namespace gamelib
