// DirectDraw surfaces in plain memory: locks, fills, copies, device contexts, loss
// and restore, colour keys, attached surfaces and the primary's flip.
#include <algorithm>
#include <cstring>

#include "display_internal.h"

namespace platform::display {

namespace {

constexpr std::uint8_t kPoison = 0xCD;

HRESULT CheckUsable(Surface* s) {
  if (s->lost) return DDERR_SURFACELOST;
  if (s->Busy()) return DDERR_SURFACEBUSY;
  return S_OK;
}

RECT WholeRect(const Surface* s) { return RECT{0, 0, s->width, s->height}; }

// Fills the first row pixel by pixel, then copies it to the others.
void Fill(Surface* s, const RECT& r, std::uint32_t raw) {
  if (r.left >= r.right || r.top >= r.bottom) return;
  const int bpp = s->BytesPerPixel();
  std::uint8_t* first = s->At(r.left, r.top);
  const std::size_t rowBytes = static_cast<std::size_t>(r.right - r.left) * bpp;
  std::uint8_t pixel[4];
  pixel::WriteRaw(s->layout, pixel, raw);
  for (std::size_t x = 0; x < rowBytes; x += bpp) std::memcpy(first + x, pixel, bpp);
  for (int y = r.top + 1; y < r.bottom; ++y) std::memcpy(s->At(r.left, y), first, rowBytes);
}

}  // namespace

// Copies a w x h block of raw pixels; source and destination may be one surface.
void CopyBlock(Surface* dst, int dx, int dy, Surface* src, const RECT& from, DWORD keyFlags) {
  int w = from.right - from.left;
  int h = from.bottom - from.top;
  int bpp = src->BytesPerPixel();
  std::size_t rowBytes = static_cast<std::size_t>(w) * bpp;
  bool keyed = (keyFlags & DDBLTFAST_SRCCOLORKEY) != 0 && src->hasColorKey;
  if (!keyed && dst != src) {  // distinct buffers: straight row copies
    for (int y = 0; y < h; ++y) std::memcpy(dst->At(dx, dy + y), src->At(from.left, from.top + y), rowBytes);
    return;
  }
  std::vector<std::uint8_t> block(rowBytes * h);
  for (int y = 0; y < h; ++y) std::memcpy(&block[y * rowBytes], src->At(from.left, from.top + y), rowBytes);
  DWORD mask = bpp == 2 ? 0xFFFFu : 0xFFFFFFFFu;
  for (int y = 0; y < h; ++y) {
    if (!keyed) {
      std::memcpy(dst->At(dx, dy + y), &block[y * rowBytes], rowBytes);
      continue;
    }
    for (int x = 0; x < w; ++x) {
      const std::uint8_t* p = &block[y * rowBytes + static_cast<std::size_t>(x) * bpp];
      if ((pixel::ReadRaw(src->layout, p) & mask) == (src->colorKey & mask)) continue;
      std::memcpy(dst->At(dx + x, dy + y), p, bpp);
    }
  }
}

Surface::Surface(int id, std::string labelBase, int width, int height, pixel::Layout layout, DWORD caps,
                 DWORD caps2)
    : DisplayObject(Kind::Surface, id),
      labelBase(std::move(labelBase)),
      width(width),
      height(height),
      pitch(width * pixel::BytesPerPixel(layout) + TheWorld().config.pitchPaddingBytes),
      layout(layout),
      caps(caps),
      caps2(caps2),
      bits(static_cast<std::size_t>(pitch) * height, 0) {}

std::string Surface::Label() const {
  if (labelBase == "primary" || labelBase == "back") return labelBase;
  return labelBase + "#" + std::to_string(id);
}

void Surface::DropReferences() {
  World& w = TheWorld();
  if (dc != nullptr) w.dcs.erase(dc);
  dc = nullptr;
  locked = false;
  Surface* held[] = {z, back};
  z = nullptr;
  back = nullptr;
  for (Surface* s : held) {
    if (s != nullptr) ReleaseObject(s, false);
  }
  // A released surface fails every call, so its pixels are never read again; the
  // object itself stays as a zombie until the configuration changes.
  std::vector<std::uint8_t>().swap(bits);
}

void Surface::Forget() {
  z = nullptr;
  back = nullptr;
  dc = nullptr;
}

raster::Surface Surface::RasterView() {
  raster::Surface view;
  view.bits = bits.data();
  view.width = width;
  view.height = height;
  view.pitch = pitch;
  view.layout = layout;
  view.hasColorKey = hasColorKey;
  view.colorKey = colorKey;
  return view;
}

void Surface::FillDesc(DDSURFACEDESC2* desc) const {
  std::memset(desc, 0, sizeof *desc);
  desc->dwSize = sizeof *desc;
  desc->dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT;
  desc->dwWidth = static_cast<DWORD>(width);
  desc->dwHeight = static_cast<DWORD>(height);
  desc->lPitch = pitch;
  desc->ddpfPixelFormat = pixel::FormatOf(layout);
  desc->ddsCaps.dwCaps = caps;
  desc->ddsCaps.dwCaps2 = caps2;
  if (hasColorKey) {
    desc->dwFlags |= DDSD_CKSRCBLT;
    desc->ddckCKSrcBlt.dwColorSpaceLowValue = colorKey;
    desc->ddckCKSrcBlt.dwColorSpaceHighValue = colorKey;
  }
}

void Surface::RestoreContents() {
  lost = false;
  std::fill(bits.begin(), bits.end(), kPoison);
}

HRESULT Surface::QueryInterface(REFIID iid, void** object) {
  return QueryOwnInterface(this, static_cast<IDirectDrawSurface7*>(this), IID_IDirectDrawSurface7, iid,
                           object);
}

HRESULT Surface::Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE) {
  CallScope scope(sim::DisplayCall::Lock, this);
  scope.rec.type = flags;
  SetRect(scope.rec, rect);
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (desc == nullptr) return scope.Done(DDERR_INVALIDPARAMS);
  if (HRESULT hr = CheckUsable(this); FAILED(hr)) return scope.Done(hr);
  RECT r = rect != nullptr ? *rect : WholeRect(this);
  if (!RectInside(r, width, height)) return scope.Done(DDERR_INVALIDRECT);
  NoteTargetTouch(this, "Lock");
  FillDesc(desc);
  desc->dwFlags |= DDSD_LPSURFACE;
  desc->lpSurface = At(r.left, r.top);
  locked = true;
  lockedWithRect = rect != nullptr;
  lockRect = r;
  return scope.Done(DD_OK);
}

HRESULT Surface::Unlock(RECT* rect) {
  CallScope scope(sim::DisplayCall::Unlock, this);
  SetRect(scope.rec, rect);
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (!locked) return scope.Done(DDERR_NOTLOCKED);
  if (rect != nullptr) {
    const RECT& l = lockRect;
    if (rect->left != l.left || rect->top != l.top || rect->right != l.right || rect->bottom != l.bottom)
      return scope.Done(DDERR_INVALIDRECT);
  }
  locked = false;
  lockedWithRect = false;
  return scope.Done(DD_OK);
}

HRESULT Surface::Blt(RECT* dest, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags, DDBLTFX* fx) {
  CallScope scope(sim::DisplayCall::Blt, this);
  scope.rec.type = flags;
  SetRect(scope.rec, dest);
  scope.rec.hasRect2 = sourceRect != nullptr;
  if (sourceRect != nullptr) scope.rec.rect2 = *sourceRect;
  if (fx != nullptr) scope.rec.value = fx->dwFillColor;
  Surface* src = nullptr;
  if (source != nullptr) {
    Surface* known = FindSurface(source);
    scope.rec.surface2 = known != nullptr ? known->id : -1;
  }
  scope.rec.surface = id;
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (HRESULT hr = scope.CheckSurface(source, &src, true); FAILED(hr)) return scope.Done(hr);
  constexpr DWORD kKnown = DDBLT_COLORFILL | DDBLT_DEPTHFILL | DDBLT_WAIT;
  bool colorFill = (flags & DDBLT_COLORFILL) != 0;
  bool depthFill = (flags & DDBLT_DEPTHFILL) != 0;
  if ((flags & ~kKnown) != 0 || (colorFill && depthFill)) return scope.Done(DDERR_INVALIDPARAMS);
  if ((colorFill || depthFill) == (src != nullptr)) return scope.Done(DDERR_INVALIDPARAMS);
  if ((colorFill || depthFill) && (fx == nullptr || fx->dwSize != sizeof(DDBLTFX)))
    return scope.Done(DDERR_INVALIDPARAMS);
  bool isZ = layout == pixel::Layout::D16;
  if ((colorFill && isZ) || (depthFill && !isZ)) return scope.Done(DDERR_INVALIDPARAMS);
  if (HRESULT hr = CheckUsable(this); FAILED(hr)) return scope.Done(hr);
  RECT r = dest != nullptr ? *dest : WholeRect(this);
  if (!RectInside(r, width, height)) return scope.Done(DDERR_INVALIDRECT);
  if (src != nullptr) {
    if (src->lost) return scope.Done(DDERR_SURFACELOST);
    if (src->Busy()) return scope.Done(DDERR_SURFACEBUSY);
    RECT from = sourceRect != nullptr ? *sourceRect : WholeRect(src);
    if (!RectInside(from, src->width, src->height)) return scope.Done(DDERR_INVALIDRECT);
    if (src->layout != layout) return scope.Done(DDERR_INVALIDPIXELFORMAT);
    NoteTargetTouch(this, "Blt");
    NoteTargetTouch(src, "Blt");
    int dw = r.right - r.left, dh = r.bottom - r.top;
    int sw = from.right - from.left, sh = from.bottom - from.top;
    if (dw == sw && dh == sh) {
      CopyBlock(this, r.left, r.top, src, from, 0);
      return scope.Done(DD_OK);
    }
    // Stretched: point sampling, through a copy in case source and destination overlap.
    int bpp = BytesPerPixel();
    std::vector<std::uint8_t> out(static_cast<std::size_t>(dw) * dh * bpp);
    for (int y = 0; y < dh; ++y) {
      int sy = from.top + static_cast<int>(static_cast<std::int64_t>(y) * sh / dh);
      for (int x = 0; x < dw; ++x) {
        int sx = from.left + static_cast<int>(static_cast<std::int64_t>(x) * sw / dw);
        std::memcpy(&out[(static_cast<std::size_t>(y) * dw + x) * bpp], src->At(sx, sy), bpp);
      }
    }
    for (int y = 0; y < dh; ++y)
      std::memcpy(At(r.left, r.top + y), &out[static_cast<std::size_t>(y) * dw * bpp],
                  static_cast<std::size_t>(dw) * bpp);
    return scope.Done(DD_OK);
  }
  NoteTargetTouch(this, "Blt");
  std::uint32_t raw = depthFill ? (fx->dwFillDepth & 0xFFFFu)
                                : (BytesPerPixel() == 2 ? fx->dwFillColor & 0xFFFFu : fx->dwFillColor);
  Fill(this, r, raw);
  return scope.Done(DD_OK);
}

HRESULT Surface::BltFast(DWORD x, DWORD y, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags) {
  CallScope scope(sim::DisplayCall::BltFast, this);
  scope.rec.type = flags;
  scope.rec.point = POINT{static_cast<LONG>(x), static_cast<LONG>(y)};
  scope.rec.surface = id;
  SetRect(scope.rec, sourceRect);
  if (Surface* known = FindSurface(source)) scope.rec.surface2 = known->id;
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  Surface* src = nullptr;
  if (HRESULT hr = scope.CheckSurface(source, &src); FAILED(hr)) return scope.Done(hr);
  if ((flags & ~(DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT)) != 0) return scope.Done(DDERR_INVALIDPARAMS);
  if (HRESULT hr = CheckUsable(this); FAILED(hr)) return scope.Done(hr);
  if (src->lost) return scope.Done(DDERR_SURFACELOST);
  if (src->Busy()) return scope.Done(DDERR_SURFACEBUSY);
  RECT from = sourceRect != nullptr ? *sourceRect : WholeRect(src);
  if (!RectInside(from, src->width, src->height)) return scope.Done(DDERR_INVALIDRECT);
  std::int64_t right = static_cast<std::int64_t>(x) + (from.right - from.left);
  std::int64_t bottom = static_cast<std::int64_t>(y) + (from.bottom - from.top);
  if (right > width || bottom > height) return scope.Done(DDERR_INVALIDRECT);
  if (src->layout != layout) return scope.Done(DDERR_INVALIDPIXELFORMAT);
  NoteTargetTouch(this, "BltFast");
  NoteTargetTouch(src, "BltFast");
  CopyBlock(this, static_cast<int>(x), static_cast<int>(y), src, from, flags);
  return scope.Done(DD_OK);
}

HRESULT Surface::GetDC(HDC* out) {
  CallScope scope(sim::DisplayCall::GetDC, this);
  scope.rec.surface = id;
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (out == nullptr) return scope.Done(DDERR_INVALIDPARAMS);
  *out = nullptr;
  if (lost) return scope.Done(DDERR_SURFACELOST);
  if (dc != nullptr) return scope.Done(DDERR_DCALREADYCREATED);
  if (locked) return scope.Done(DDERR_SURFACEBUSY);
  if (!pixel::IsGdiCompatible(layout)) return scope.Done(DDERR_CANTCREATEDC);
  NoteTargetTouch(this, "GetDC");
  World& w = TheWorld();
  w.nextDc += 0x10;
  // A handle value only: BitBlt finds the surface by it and never dereferences it.
  dc = reinterpret_cast<HDC>(static_cast<std::uintptr_t>(0x7D000000u) + w.nextDc);
  w.dcs[dc] = this;
  *out = dc;
  return scope.Done(DD_OK);
}

HRESULT Surface::ReleaseDC(HDC handle) {
  CallScope scope(sim::DisplayCall::ReleaseDC, this);
  scope.rec.surface = id;
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (dc == nullptr) return scope.Done(DDERR_NODC);
  if (handle != dc) return scope.Done(DDERR_INVALIDPARAMS);
  TheWorld().dcs.erase(dc);
  dc = nullptr;
  return scope.Done(DD_OK);
}

HRESULT Surface::IsLost() {
  CallScope scope(sim::DisplayCall::IsLost, this);
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  return scope.Done(lost ? DDERR_SURFACELOST : DD_OK);
}

HRESULT Surface::Restore() {
  CallScope scope(sim::DisplayCall::Restore, this);
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (lost) RestoreContents();
  // The flipping chain comes back with its front buffer.
  if (back != nullptr && back->lost) back->RestoreContents();
  return scope.Done(DD_OK);
}

HRESULT Surface::SetColorKey(DWORD flags, DDCOLORKEY* key) {
  CallScope scope(sim::DisplayCall::SetColorKey, this);
  scope.rec.type = flags;
  if (key != nullptr) scope.rec.value = key->dwColorSpaceLowValue;
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if ((flags & DDCKEY_SRCBLT) == 0) return scope.Done(DDERR_UNSUPPORTED);
  hasColorKey = key != nullptr;
  colorKey = key != nullptr ? key->dwColorSpaceLowValue : 0;
  return scope.Done(DD_OK);
}

HRESULT Surface::GetColorKey(DWORD flags, DDCOLORKEY* key) {
  auto lock = LockWorld();
  if (zombie) return ZombieCall(this, "GetColorKey");
  if (key == nullptr || (flags & DDCKEY_SRCBLT) == 0) return DDERR_INVALIDPARAMS;
  if (!hasColorKey) return DDERR_NOTFOUND;
  key->dwColorSpaceLowValue = colorKey;
  key->dwColorSpaceHighValue = colorKey;
  return DD_OK;
}

HRESULT Surface::AddAttachedSurface(IDirectDrawSurface7* surface) {
  CallScope scope(sim::DisplayCall::AddAttachedSurface, this);
  if (Surface* known = FindSurface(surface)) scope.rec.surface = known->id;
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  Surface* s = nullptr;
  if (HRESULT hr = scope.CheckSurface(surface, &s); FAILED(hr)) return scope.Done(hr);
  if (s->layout != pixel::Layout::D16 || layout == pixel::Layout::D16 || s == this)
    return scope.Done(DDERR_CANNOTATTACHSURFACE);
  if (z != nullptr) return scope.Done(DDERR_SURFACEALREADYATTACHED);
  // Z is read at the target's coordinates, so it must cover the target.
  if (s->width < width || s->height < height) return scope.Done(DDERR_CANNOTATTACHSURFACE);
  ++s->refs;
  z = s;
  return scope.Done(DD_OK);
}

HRESULT Surface::DeleteAttachedSurface(DWORD, IDirectDrawSurface7* surface) {
  auto lock = LockWorld();
  if (zombie) return ZombieCall(this, "DeleteAttachedSurface");
  if (z == nullptr) return DDERR_NOTFOUND;
  if (surface != nullptr && FindSurface(surface) != z) return DDERR_NOTFOUND;
  Surface* old = z;
  z = nullptr;
  ReleaseObject(old, false);
  return DD_OK;
}

HRESULT Surface::GetAttachedSurface(DDSCAPS2* wanted, IDirectDrawSurface7** out) {
  auto lock = LockWorld();
  if (zombie) return ZombieCall(this, "GetAttachedSurface");
  if (wanted == nullptr || out == nullptr) return DDERR_INVALIDPARAMS;
  *out = nullptr;
  DWORD want = wanted->dwCaps;
  for (Surface* s : {back, z}) {
    if (s == nullptr || want == 0 || (s->caps & want) != want) continue;
    ++s->refs;
    *out = s;
    return DD_OK;
  }
  return DDERR_NOTFOUND;
}

HRESULT Surface::GetSurfaceDesc(DDSURFACEDESC2* desc) {
  auto lock = LockWorld();
  if (zombie) return ZombieCall(this, "GetSurfaceDesc");
  if (desc == nullptr) return DDERR_INVALIDPARAMS;
  FillDesc(desc);
  return DD_OK;
}

HRESULT Surface::GetPixelFormat(DDPIXELFORMAT* format) {
  auto lock = LockWorld();
  if (zombie) return ZombieCall(this, "GetPixelFormat");
  if (format == nullptr) return DDERR_INVALIDPARAMS;
  *format = pixel::FormatOf(layout);
  return DD_OK;
}

HRESULT Surface::Flip(IDirectDrawSurface7* target, DWORD flags) {
  CallScope scope(sim::DisplayCall::Flip, this);
  scope.rec.type = flags;
  if (back != nullptr) scope.rec.surface = back->id;
  if (HRESULT hr = scope.Enter(); FAILED(hr)) return scope.Done(hr);
  if (!primary) return scope.Done(DDERR_NOTFLIPPABLE);
  if (target != nullptr && (back == nullptr || FindSurface(target) != back))
    return scope.Done(DDERR_INVALIDPARAMS);
  if (HRESULT hr = CheckUsable(this); FAILED(hr)) return scope.Done(hr);
  if (back != nullptr) {
    if (HRESULT hr = CheckUsable(back); FAILED(hr)) return scope.Done(hr);
    CopyBlock(this, 0, 0, back, WholeRect(back), 0);
  }
  PresentFrame(*this);
  return scope.Done(DD_OK);
}

}  // namespace platform::display
