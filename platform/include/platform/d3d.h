// Direct3D 7 as the 3-D back end uses it: device enumeration, one device that draws
// pre-transformed triangles synchronously into its render target's memory with the
// states set before them, and texture loads. The conventions the rasteriser keeps
// (pixel centres, fill rule, sampling, the stage cascade, blending) are written at the
// top of platform/src/d3d_raster.cpp. Every call is traced and can be made to fail
// (platform/sim_display.h).
#pragma once

#include "platform/ddraw.h"

constexpr HRESULT D3D_OK = S_OK;
constexpr HRESULT D3DERR_INVALIDCALL = static_cast<HRESULT>(0x887602F2u);
constexpr HRESULT D3DERR_SCENE_IN_SCENE = static_cast<HRESULT>(0x88760B54u);
constexpr HRESULT D3DERR_SCENE_NOT_IN_SCENE = static_cast<HRESULT>(0x88760B55u);
constexpr HRESULT D3DERR_INVALIDPRIMITIVETYPE = static_cast<HRESULT>(0x887602ECu);
constexpr HRESULT D3DERR_INVALIDVERTEXFORMAT = static_cast<HRESULT>(0x88760818u);
constexpr HRESULT D3DERR_INVALID_DEVICE = static_cast<HRESULT>(0x88760BB9u);

// Device class ids. Only the two hardware ids are ever chosen; the others exist so
// that a configuration can offer devices to be skipped.
extern const IID IID_IDirect3D7;
extern const IID IID_IDirect3DDevice7;
extern const GUID IID_IDirect3DHALDevice;
extern const GUID IID_IDirect3DTnLHalDevice;
extern const GUID IID_IDirect3DRGBDevice;
extern const GUID IID_IDirect3DRefDevice;
extern const GUID IID_IDirect3DMMXDevice;

using D3DCOLOR = DWORD;  // A 24-31, R 16-23, G 8-15, B 0-7
using D3DVALUE = float;

// Render depths a device supports.
constexpr DWORD DDBD_8 = 0x800;
constexpr DWORD DDBD_16 = 0x400;
constexpr DWORD DDBD_24 = 0x200;
constexpr DWORD DDBD_32 = 0x100;

// Texture caps.
constexpr DWORD D3DPTEXTURECAPS_PERSPECTIVE = 0x1;
constexpr DWORD D3DPTEXTURECAPS_POW2 = 0x2;
constexpr DWORD D3DPTEXTURECAPS_ALPHA = 0x4;
constexpr DWORD D3DPTEXTURECAPS_SQUAREONLY = 0x20;

struct D3DPRIMCAPS {
  DWORD dwSize;
  DWORD dwMiscCaps;
  DWORD dwRasterCaps;
  DWORD dwZCmpCaps;
  DWORD dwSrcBlendCaps;
  DWORD dwDestBlendCaps;
  DWORD dwAlphaCmpCaps;
  DWORD dwShadeCaps;
  DWORD dwTextureCaps;
  DWORD dwTextureFilterCaps;
  DWORD dwTextureBlendCaps;
  DWORD dwTextureAddressCaps;
  DWORD dwStippleWidth;
  DWORD dwStippleHeight;
};

struct D3DDEVICEDESC7 {
  DWORD dwDevCaps;
  D3DPRIMCAPS dpcLineCaps;
  D3DPRIMCAPS dpcTriCaps;
  DWORD dwDeviceRenderBitDepth;
  DWORD dwDeviceZBufferBitDepth;
  DWORD dwMinTextureWidth;
  DWORD dwMinTextureHeight;
  DWORD dwMaxTextureWidth;
  DWORD dwMaxTextureHeight;
  DWORD dwMaxTextureRepeat;
  DWORD dwMaxTextureAspectRatio;
  DWORD dwMaxAnisotropy;
  D3DVALUE dvGuardBandLeft;
  D3DVALUE dvGuardBandTop;
  D3DVALUE dvGuardBandRight;
  D3DVALUE dvGuardBandBottom;
  D3DVALUE dvExtentsAdjust;
  DWORD dwStencilCaps;
  DWORD dwFVFCaps;
  DWORD dwTextureOpCaps;
  WORD wMaxTextureBlendStages;
  WORD wMaxSimultaneousTextures;
  DWORD dwMaxActiveLights;
  D3DVALUE dvMaxVertexW;
  GUID deviceGUID;
  WORD wMaxUserClipPlanes;
  WORD wMaxVertexBlendMatrices;
  DWORD dwVertexProcessingCaps;
  DWORD dwReserved1;
  DWORD dwReserved2;
  DWORD dwReserved3;
  DWORD dwReserved4;
};

// Enumeration callbacks: return D3DENUMRET_OK to go on, D3DENUMRET_CANCEL to stop.
constexpr HRESULT D3DENUMRET_CANCEL = 0;
constexpr HRESULT D3DENUMRET_OK = 1;
using LPD3DENUMDEVICESCALLBACK7 = HRESULT (*)(char* description, char* name, D3DDEVICEDESC7* desc,
                                              void* context);
using LPD3DENUMPIXELFORMATSCALLBACK = HRESULT (*)(DDPIXELFORMAT* format, void* context);

struct D3DVIEWPORT7 {
  DWORD dwX;
  DWORD dwY;
  DWORD dwWidth;
  DWORD dwHeight;
  D3DVALUE dvMinZ;
  D3DVALUE dvMaxZ;
};

struct D3DMATRIX {
  D3DVALUE _11, _12, _13, _14;
  D3DVALUE _21, _22, _23, _24;
  D3DVALUE _31, _32, _33, _34;
  D3DVALUE _41, _42, _43, _44;
};

struct D3DVECTOR {
  D3DVALUE x;
  D3DVALUE y;
  D3DVALUE z;
};

struct D3DCOLORVALUE {
  D3DVALUE r;
  D3DVALUE g;
  D3DVALUE b;
  D3DVALUE a;
};

using D3DLIGHTTYPE = DWORD;
constexpr D3DLIGHTTYPE D3DLIGHT_POINT = 1;
constexpr D3DLIGHTTYPE D3DLIGHT_SPOT = 2;
constexpr D3DLIGHTTYPE D3DLIGHT_DIRECTIONAL = 3;

// A light as the library keeps it; never sent to the device.
struct D3DLIGHT7 {
  D3DLIGHTTYPE dltType;
  D3DCOLORVALUE dcvDiffuse;
  D3DCOLORVALUE dcvSpecular;
  D3DCOLORVALUE dcvAmbient;
  D3DVECTOR dvPosition;
  D3DVECTOR dvDirection;
  D3DVALUE dvRange;
  D3DVALUE dvFalloff;
  D3DVALUE dvAttenuation0;
  D3DVALUE dvAttenuation1;
  D3DVALUE dvAttenuation2;
  D3DVALUE dvTheta;
  D3DVALUE dvPhi;
};

// Render states. Values below 256: the device keeps them in one array.
using D3DRENDERSTATETYPE = DWORD;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_TEXTUREPERSPECTIVE = 4;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ZENABLE = 7;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_SHADEMODE = 9;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ZWRITEENABLE = 14;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ALPHATESTENABLE = 15;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_SRCBLEND = 19;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_DESTBLEND = 20;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_CULLMODE = 22;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ZFUNC = 23;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ALPHAREF = 24;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ALPHAFUNC = 25;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_DITHERENABLE = 26;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ALPHABLENDENABLE = 27;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_FOGENABLE = 28;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_SPECULARENABLE = 29;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_COLORKEYENABLE = 41;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_ZBIAS = 47;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_TEXTUREFACTOR = 60;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_LIGHTING = 137;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_COLORKEYBLENDENABLE = 144;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_DIFFUSEMATERIALSOURCE = 145;
constexpr D3DRENDERSTATETYPE D3DRENDERSTATE_SPECULARMATERIALSOURCE = 146;
constexpr DWORD kD3DRenderStateCount = 256;

// Texture stage states, per stage 0..7. Values below 32.
using D3DTEXTURESTAGESTATETYPE = DWORD;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLOROP = 1;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG1 = 2;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_COLORARG2 = 3;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAOP = 4;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAARG1 = 5;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ALPHAARG2 = 6;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_TEXCOORDINDEX = 11;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ADDRESS = 12;  // sets U and V
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ADDRESSU = 13;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_ADDRESSV = 14;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_BORDERCOLOR = 15;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_MAGFILTER = 16;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_MINFILTER = 17;
constexpr D3DTEXTURESTAGESTATETYPE D3DTSS_MIPFILTER = 18;
constexpr DWORD kD3DStageStateCount = 32;
constexpr DWORD kD3DMaxStages = 8;

// Stage operations.
constexpr DWORD D3DTOP_DISABLE = 1;
constexpr DWORD D3DTOP_SELECTARG1 = 2;
constexpr DWORD D3DTOP_SELECTARG2 = 3;
constexpr DWORD D3DTOP_MODULATE = 4;
constexpr DWORD D3DTOP_MODULATE2X = 5;
constexpr DWORD D3DTOP_MODULATE4X = 6;
constexpr DWORD D3DTOP_ADD = 7;
constexpr DWORD D3DTOP_SUBTRACT = 10;
constexpr DWORD D3DTOP_BLENDDIFFUSEALPHA = 12;
constexpr DWORD D3DTOP_BLENDCURRENTALPHA = 16;

// Stage arguments and the modifier.
constexpr DWORD D3DTA_SELECTMASK = 0x0F;
constexpr DWORD D3DTA_DIFFUSE = 0;
constexpr DWORD D3DTA_CURRENT = 1;
constexpr DWORD D3DTA_TEXTURE = 2;
constexpr DWORD D3DTA_TFACTOR = 3;
constexpr DWORD D3DTA_SPECULAR = 4;
constexpr DWORD D3DTA_COMPLEMENT = 0x10;

// Blend factors.
constexpr DWORD D3DBLEND_ZERO = 1;
constexpr DWORD D3DBLEND_ONE = 2;
constexpr DWORD D3DBLEND_SRCCOLOR = 3;
constexpr DWORD D3DBLEND_INVSRCCOLOR = 4;
constexpr DWORD D3DBLEND_SRCALPHA = 5;
constexpr DWORD D3DBLEND_INVSRCALPHA = 6;
constexpr DWORD D3DBLEND_DESTALPHA = 7;
constexpr DWORD D3DBLEND_INVDESTALPHA = 8;
constexpr DWORD D3DBLEND_DESTCOLOR = 9;
constexpr DWORD D3DBLEND_INVDESTCOLOR = 10;

// Compare functions (Z and alpha test): incoming FUNC reference.
constexpr DWORD D3DCMP_NEVER = 1;
constexpr DWORD D3DCMP_LESS = 2;
constexpr DWORD D3DCMP_EQUAL = 3;
constexpr DWORD D3DCMP_LESSEQUAL = 4;
constexpr DWORD D3DCMP_GREATER = 5;
constexpr DWORD D3DCMP_NOTEQUAL = 6;
constexpr DWORD D3DCMP_GREATEREQUAL = 7;
constexpr DWORD D3DCMP_ALWAYS = 8;

constexpr DWORD D3DCULL_NONE = 1;
constexpr DWORD D3DCULL_CW = 2;
constexpr DWORD D3DCULL_CCW = 3;

constexpr DWORD D3DSHADE_FLAT = 1;
constexpr DWORD D3DSHADE_GOURAUD = 2;

constexpr DWORD D3DZB_FALSE = 0;
constexpr DWORD D3DZB_TRUE = 1;

constexpr DWORD D3DMCS_MATERIAL = 0;
constexpr DWORD D3DMCS_COLOR1 = 1;
constexpr DWORD D3DMCS_COLOR2 = 2;

// Filters: magnification, minification, mip.
constexpr DWORD D3DTFG_POINT = 1;
constexpr DWORD D3DTFG_LINEAR = 2;
constexpr DWORD D3DTFG_FLATCUBIC = 3;
constexpr DWORD D3DTFG_GAUSSIANCUBIC = 4;
constexpr DWORD D3DTFG_ANISOTROPIC = 5;
constexpr DWORD D3DTFN_POINT = 1;
constexpr DWORD D3DTFN_LINEAR = 2;
constexpr DWORD D3DTFN_ANISOTROPIC = 3;
constexpr DWORD D3DTFP_NONE = 1;
constexpr DWORD D3DTFP_POINT = 2;
constexpr DWORD D3DTFP_LINEAR = 3;

// Texture address modes.
constexpr DWORD D3DTADDRESS_WRAP = 1;
constexpr DWORD D3DTADDRESS_MIRROR = 2;
constexpr DWORD D3DTADDRESS_CLAMP = 3;
constexpr DWORD D3DTADDRESS_BORDER = 4;

// Transforms (stored and traced only: pre-transformed vertices ignore them).
using D3DTRANSFORMSTATETYPE = DWORD;
constexpr D3DTRANSFORMSTATETYPE D3DTRANSFORMSTATE_WORLD = 1;
constexpr D3DTRANSFORMSTATETYPE D3DTRANSFORMSTATE_VIEW = 2;
constexpr D3DTRANSFORMSTATETYPE D3DTRANSFORMSTATE_PROJECTION = 3;
constexpr D3DTRANSFORMSTATETYPE D3DTRANSFORMSTATE_WORLD1 = 4;
constexpr D3DTRANSFORMSTATETYPE D3DTRANSFORMSTATE_WORLD2 = 5;
constexpr D3DTRANSFORMSTATETYPE D3DTRANSFORMSTATE_WORLD3 = 6;

using D3DPRIMITIVETYPE = DWORD;
constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLELIST = 4;
constexpr D3DPRIMITIVETYPE D3DPT_TRIANGLESTRIP = 5;

// Vertex formats: pre-transformed position (x, y, z, rhw), diffuse, specular, texture
// coordinate pairs.
constexpr DWORD D3DFVF_XYZRHW = 0x004;
constexpr DWORD D3DFVF_DIFFUSE = 0x040;
constexpr DWORD D3DFVF_SPECULAR = 0x080;
constexpr DWORD D3DFVF_TEX1 = 0x100;
constexpr DWORD D3DFVF_TEX2 = 0x200;
static_assert((D3DFVF_XYZRHW | D3DFVF_DIFFUSE) == 0x44);
static_assert((D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_TEX1) == 0x144);
static_assert((D3DFVF_XYZRHW | D3DFVF_DIFFUSE | D3DFVF_SPECULAR | D3DFVF_TEX2) == 0x2C4);

struct IDirect3DDevice7 : IUnknown {
  // Delivers the configured texture formats in order until the callback cancels.
  virtual HRESULT EnumTextureFormats(LPD3DENUMPIXELFORMATSCALLBACK callback, void* context) = 0;
  // Drawing outside a scene still draws but is recorded as a violation; BeginScene
  // inside a scene is D3DERR_SCENE_IN_SCENE.
  virtual HRESULT BeginScene() = 0;
  virtual HRESULT EndScene() = 0;
  // Takes effect for later primitives; does not reset the viewport.
  virtual HRESULT SetRenderTarget(IDirectDrawSurface7* surface, DWORD flags) = 0;
  virtual HRESULT GetRenderTarget(IDirectDrawSurface7** surface) = 0;
  // Only clips (a scissor): pre-transformed positions are never offset. Refused
  // (DDERR_INVALIDPARAMS) when empty or not inside the render target.
  virtual HRESULT SetViewport(D3DVIEWPORT7* viewport) = 0;
  virtual HRESULT GetViewport(D3DVIEWPORT7* viewport) = 0;
  virtual HRESULT SetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) = 0;
  virtual HRESULT GetTransform(D3DTRANSFORMSTATETYPE type, D3DMATRIX* matrix) = 0;
  // Unknown types and invalid values (a blend factor or compare function of 0) are
  // refused and the state keeps its value.
  virtual HRESULT SetRenderState(D3DRENDERSTATETYPE type, DWORD value) = 0;
  virtual HRESULT GetRenderState(D3DRENDERSTATETYPE type, DWORD* value) = 0;
  // Stages 0..7, whatever the device's stage count says.
  virtual HRESULT SetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD value) = 0;
  virtual HRESULT GetTextureStageState(DWORD stage, D3DTEXTURESTAGESTATETYPE type, DWORD* value) = 0;
  // Binds a texture (holding a reference) or unbinds with null.
  virtual HRESULT SetTexture(DWORD stage, IDirectDrawSurface7* texture) = 0;
  virtual HRESULT GetTexture(DWORD stage, IDirectDrawSurface7** texture) = 0;
  // Draws at once into the render target. Lists and strips; the three vertex formats
  // 0x44, 0x144 and 0x2C4. A list's trailing vertices that make no whole triangle are
  // ignored; triangles with a non-finite or huge coordinate are skipped.
  virtual HRESULT DrawPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount,
                                DWORD flags) = 0;
  // The same through 16-bit indices; an index past the vertices skips its triangle and
  // is recorded as a violation.
  virtual HRESULT DrawIndexedPrimitive(D3DPRIMITIVETYPE type, DWORD fvf, void* vertices, DWORD vertexCount,
                                       WORD* indices, DWORD indexCount, DWORD flags) = 0;
  // Copies sourceRect (null: the whole source) of one texture to destPoint (null: 0, 0)
  // of another of the same pixel format. Fails on a lost or locked surface, a format
  // mismatch or a rectangle out of range.
  virtual HRESULT Load(IDirectDrawSurface7* dest, POINT* destPoint, IDirectDrawSurface7* source,
                       RECT* sourceRect, DWORD flags) = 0;
};

struct IDirect3D7 : IUnknown {
  // One callback per configured device, in order, until the callback cancels.
  virtual HRESULT EnumDevices(LPD3DENUMDEVICESCALLBACK7 callback, void* context) = 0;
  // A device of a configured class whose render target is surface, with a viewport
  // over the whole surface.
  virtual HRESULT CreateDevice(REFCLSID clsid, IDirectDrawSurface7* surface, IDirect3DDevice7** device) = 0;
  // The configured Z formats in order until the callback cancels, whatever the class.
  virtual HRESULT EnumZBufferFormats(REFCLSID clsid, LPD3DENUMPIXELFORMATSCALLBACK callback,
                                     void* context) = 0;
};
