// DirectDraw 7 as the library uses it: memory surfaces in real pixel formats that lock,
// fill, copy, lose their contents and restore, and hand out device contexts for GDI.
// Nothing lives in video memory; "video memory" surfaces are the ones that can be lost.
// Every call is traced and can be made to fail (platform/sim_display.h).
#pragma once

#include <cstdint>

#include "platform/com.h"
#include "platform/wingdi.h"

// Results. DD_OK is S_OK.
constexpr HRESULT DD_OK = S_OK;
constexpr HRESULT DDERR_GENERIC = E_FAIL;
constexpr HRESULT DDERR_INVALIDPARAMS = E_INVALIDARG;
constexpr HRESULT DDERR_OUTOFMEMORY = E_OUTOFMEMORY;
constexpr HRESULT DDERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);
constexpr HRESULT DDERR_INVALIDOBJECT = static_cast<HRESULT>(0x88760082u);
constexpr HRESULT DDERR_INVALIDPIXELFORMAT = static_cast<HRESULT>(0x88760091u);
constexpr HRESULT DDERR_INVALIDRECT = static_cast<HRESULT>(0x88760096u);
constexpr HRESULT DDERR_INVALIDCAPS = static_cast<HRESULT>(0x88760064u);
constexpr HRESULT DDERR_NOTFOUND = static_cast<HRESULT>(0x887600FFu);
constexpr HRESULT DDERR_SURFACEBUSY = static_cast<HRESULT>(0x887601AEu);
constexpr HRESULT DDERR_SURFACELOST = static_cast<HRESULT>(0x887601C2u);
constexpr HRESULT DDERR_NOTLOCKED = static_cast<HRESULT>(0x887602E6u);
constexpr HRESULT DDERR_DCALREADYCREATED = static_cast<HRESULT>(0x8876026Cu);
constexpr HRESULT DDERR_NODC = static_cast<HRESULT>(0x8876023Eu);
constexpr HRESULT DDERR_CANTCREATEDC = static_cast<HRESULT>(0x8876024Eu);
constexpr HRESULT DDERR_SURFACEALREADYATTACHED = static_cast<HRESULT>(0x8876019Cu);
constexpr HRESULT DDERR_CANNOTATTACHSURFACE = static_cast<HRESULT>(0x887600E8u);
constexpr HRESULT DDERR_NOTFLIPPABLE = static_cast<HRESULT>(0x88760246u);

// Pixel format flags.
constexpr DWORD DDPF_ALPHAPIXELS = 0x1;
constexpr DWORD DDPF_ALPHA = 0x2;
constexpr DWORD DDPF_FOURCC = 0x4;
constexpr DWORD DDPF_PALETTEINDEXED8 = 0x20;
constexpr DWORD DDPF_RGB = 0x40;
constexpr DWORD DDPF_ZBUFFER = 0x400;
constexpr DWORD DDPF_STENCILBUFFER = 0x4000;
constexpr DWORD DDPF_LUMINANCE = 0x20000;
constexpr DWORD DDPF_BUMPLUMINANCE = 0x40000;
constexpr DWORD DDPF_BUMPDUDV = 0x80000;

struct DDPIXELFORMAT {
  DWORD dwSize;  // sizeof(DDPIXELFORMAT)
  DWORD dwFlags;
  DWORD dwFourCC;
  union {
    DWORD dwRGBBitCount;
    DWORD dwZBufferBitDepth;
  };
  union {
    DWORD dwRBitMask;
    DWORD dwStencilBitDepth;
  };
  union {
    DWORD dwGBitMask;
    DWORD dwZBitMask;
  };
  union {
    DWORD dwBBitMask;
    DWORD dwStencilBitMask;
  };
  union {
    DWORD dwRGBAlphaBitMask;
    DWORD dwRGBZBitMask;
  };
};
static_assert(sizeof(DDPIXELFORMAT) == 32);

struct DDCOLORKEY {
  DWORD dwColorSpaceLowValue;
  DWORD dwColorSpaceHighValue;
};

// Surface capabilities.
constexpr DWORD DDSCAPS_BACKBUFFER = 0x4;
constexpr DWORD DDSCAPS_COMPLEX = 0x8;
constexpr DWORD DDSCAPS_FLIP = 0x10;
constexpr DWORD DDSCAPS_FRONTBUFFER = 0x20;
constexpr DWORD DDSCAPS_OFFSCREENPLAIN = 0x40;
constexpr DWORD DDSCAPS_PRIMARYSURFACE = 0x200;
constexpr DWORD DDSCAPS_SYSTEMMEMORY = 0x800;
constexpr DWORD DDSCAPS_TEXTURE = 0x1000;
constexpr DWORD DDSCAPS_3DDEVICE = 0x2000;
constexpr DWORD DDSCAPS_VIDEOMEMORY = 0x4000;
constexpr DWORD DDSCAPS_ZBUFFER = 0x20000;
constexpr DWORD DDSCAPS2_TEXTUREMANAGE = 0x10;

struct DDSCAPS2 {
  DWORD dwCaps;
  DWORD dwCaps2;
  DWORD dwCaps3;
  DWORD dwCaps4;
};

// Which fields of a surface description are valid.
constexpr DWORD DDSD_CAPS = 0x1;
constexpr DWORD DDSD_HEIGHT = 0x2;
constexpr DWORD DDSD_WIDTH = 0x4;
constexpr DWORD DDSD_PITCH = 0x8;
constexpr DWORD DDSD_BACKBUFFERCOUNT = 0x20;
constexpr DWORD DDSD_LPSURFACE = 0x800;
constexpr DWORD DDSD_PIXELFORMAT = 0x1000;
constexpr DWORD DDSD_CKSRCBLT = 0x10000;

struct DDSURFACEDESC2 {
  DWORD dwSize;  // sizeof(DDSURFACEDESC2)
  DWORD dwFlags;
  DWORD dwHeight;
  DWORD dwWidth;
  LONG lPitch;
  DWORD dwBackBufferCount;
  DWORD dwMipMapCount;
  DWORD dwAlphaBitDepth;
  void* lpSurface;
  DDCOLORKEY ddckCKSrcBlt;
  DDPIXELFORMAT ddpfPixelFormat;
  DDSCAPS2 ddsCaps;
  DWORD dwTextureStage;
};

// Lock flags. The stand-in is synchronous: DDLOCK_WAIT changes nothing, and nor does
// DDLOCK_WRITEONLY in memory.
constexpr DWORD DDLOCK_WAIT = 0x1;
constexpr DWORD DDLOCK_WRITEONLY = 0x20;

// Blt flags.
constexpr DWORD DDBLT_COLORFILL = 0x400;
constexpr DWORD DDBLT_WAIT = 0x01000000;
constexpr DWORD DDBLT_DEPTHFILL = 0x02000000;
static_assert((DDBLT_COLORFILL | DDBLT_WAIT) == 0x01000400);
static_assert((DDBLT_DEPTHFILL | DDBLT_WAIT) == 0x03000000);

// BltFast flags.
constexpr DWORD DDBLTFAST_NOCOLORKEY = 0x0;
constexpr DWORD DDBLTFAST_SRCCOLORKEY = 0x1;
constexpr DWORD DDBLTFAST_WAIT = 0x10;

// Flip flags.
constexpr DWORD DDFLIP_WAIT = 0x1;

// Colour key kinds.
constexpr DWORD DDCKEY_SRCBLT = 0x8;

// Cooperative levels (recorded only).
constexpr DWORD DDSCL_FULLSCREEN = 0x1;
constexpr DWORD DDSCL_NORMAL = 0x8;
constexpr DWORD DDSCL_EXCLUSIVE = 0x10;

struct DDBLTFX {
  DWORD dwSize;  // 100
  DWORD dwDDFX;
  DWORD dwROP;
  DWORD dwDDROP;
  DWORD dwRotationAngle;
  DWORD dwZBufferOpCode;
  DWORD dwZBufferLow;
  DWORD dwZBufferHigh;
  DWORD dwZBufferBaseDest;
  DWORD dwZDestConstBitDepth;
  DWORD dwZDestConst;
  DWORD dwZSrcConstBitDepth;
  DWORD dwZSrcConst;
  DWORD dwAlphaEdgeBlendBitDepth;
  DWORD dwAlphaEdgeBlend;
  DWORD dwReserved;
  DWORD dwAlphaDestConstBitDepth;
  DWORD dwAlphaDestConst;
  DWORD dwAlphaSrcConstBitDepth;
  DWORD dwAlphaSrcConst;
  union {
    DWORD dwFillColor;  // truncated to the pixel size
    DWORD dwFillDepth;
    DWORD dwFillPixel;
  };
  DDCOLORKEY ddckDestColorkey;
  DDCOLORKEY ddckSrcColorkey;
};
static_assert(sizeof(DDBLTFX) == 100);

extern const IID IID_IDirectDraw7;
extern const IID IID_IDirectDrawSurface7;

struct IDirectDrawSurface7 : IUnknown {
  // With a rectangle, lpSurface points at its top-left pixel; the rectangle must lie
  // wholly inside the surface. Fails on a lost surface (DDERR_SURFACELOST) and on a
  // surface already locked or with a device context out (DDERR_SURFACEBUSY).
  virtual HRESULT Lock(RECT* rect, DDSURFACEDESC2* desc, DWORD flags, HANDLE event) = 0;
  // Null or the locked rectangle; DDERR_NOTLOCKED when not locked.
  virtual HRESULT Unlock(RECT* rect) = 0;
  // DDBLT_COLORFILL or DDBLT_DEPTHFILL into dest (null: the whole surface), with fx;
  // or a copy from source (stretched by point sampling when the sizes differ; the
  // formats must be equal). Fails on a lost or locked surface or a rectangle outside.
  virtual HRESULT Blt(RECT* dest, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags,
                      DDBLTFX* fx) = 0;
  // Raw copy of sourceRect (null: the whole source) to (x, y). Both rectangles must lie
  // inside their surfaces and the two pixel formats must be equal
  // (DDERR_INVALIDPIXELFORMAT otherwise). DDBLTFAST_SRCCOLORKEY skips keyed pixels.
  virtual HRESULT BltFast(DWORD x, DWORD y, IDirectDrawSurface7* source, RECT* sourceRect, DWORD flags) = 0;
  // A device context over the surface, for GDI BitBlt. While it is out the surface
  // counts as locked. Refused (DDERR_CANTCREATEDC) for formats GDI does not take:
  // only 5-6-5, 5-5-5 and 8-8-8 colour masks (alpha bits ignored, written as 0).
  virtual HRESULT GetDC(HDC* dc) = 0;
  virtual HRESULT ReleaseDC(HDC dc) = 0;
  // DDERR_SURFACELOST while lost, else DD_OK.
  virtual HRESULT IsLost() = 0;
  // Not lost: DD_OK and nothing changes. Lost: no longer lost, and the contents are
  // replaced by a poison pattern (0xCD bytes).
  virtual HRESULT Restore() = 0;
  // DDCKEY_SRCBLT: the key that colour-keyed drawing and copies compare with; a null
  // key removes it.
  virtual HRESULT SetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
  virtual HRESULT GetColorKey(DWORD flags, DDCOLORKEY* key) = 0;
  // Attaches a Z surface (holds a reference); Z testing uses the one attached to the
  // render target.
  virtual HRESULT AddAttachedSurface(IDirectDrawSurface7* surface) = 0;
  virtual HRESULT DeleteAttachedSurface(DWORD flags, IDirectDrawSurface7* surface) = 0;
  // The attached surface with all of caps (the back buffer of a flipping primary, the
  // Z surface); adds a reference.
  virtual HRESULT GetAttachedSurface(DDSCAPS2* caps, IDirectDrawSurface7** surface) = 0;
  virtual HRESULT GetSurfaceDesc(DDSURFACEDESC2* desc) = 0;
  virtual HRESULT GetPixelFormat(DDPIXELFORMAT* format) = 0;
  // On the primary: copies its attached back buffer (if any) into it, then presents the
  // primary's pixels to the video output (GAMELIB_VIDEO). The back buffer keeps its
  // contents. DDERR_NOTFLIPPABLE on any other surface.
  virtual HRESULT Flip(IDirectDrawSurface7* target, DWORD flags) = 0;
};

struct IDirectDraw7 : IUnknown {
  // QueryInterface answers IID_IDirect3D7 with the Direct3D object (count 1).
  // Surfaces: the primary (DDSCAPS_PRIMARYSURFACE, desktop-sized, in the display's
  // format; with DDSCAPS_FLIP | DDSCAPS_COMPLEX and a back-buffer count of 1 it gets an
  // attached back buffer), off-screen plain surfaces, textures (DDSCAPS_TEXTURE, any
  // creatable format), system-memory work textures and Z surfaces (DDSCAPS_ZBUFFER).
  // New surfaces are zero-filled. A zero or unsupported pixel format, or a size of 0,
  // is refused with an error.
  virtual HRESULT CreateSurface(DDSURFACEDESC2* desc, IDirectDrawSurface7** surface, IUnknown* outer) = 0;
  virtual HRESULT SetCooperativeLevel(HWND window, DWORD flags) = 0;
  // Sets the display's size and depth (16 or 32); the primary surfaces made after it
  // take them. RestoreDisplayMode goes back to the desktop's own.
  virtual HRESULT SetDisplayMode(DWORD width, DWORD height, DWORD bitsPerPixel, DWORD refreshRate,
                                 DWORD flags) = 0;
  virtual HRESULT RestoreDisplayMode() = 0;
  // Size and pixel format of the display mode in use.
  virtual HRESULT GetDisplayMode(DDSURFACEDESC2* desc) = 0;
};

// Makes the DirectDraw object (driver null: the display). iid must be IID_IDirectDraw7.
HRESULT DirectDrawCreateEx(GUID* driver, void** object, REFIID iid, IUnknown* outer);
