// Bringing the 3-D side up on the DirectDraw object, choosing the device, reporting its
// capabilities, and taking it down, released and re-acquired around lost surfaces.
#include <cstring>

#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/texture_formats.h"
#include "d3d/texture_pieces.h"
#include "gamelib/core.h"
#include "graphics/draw_state.h"
#include "graphics/screen.h"

namespace gamelib {
namespace {

Direct3DState g_d3d{};

void ReleaseObject() {
  if (g_d3d.direct3D != nullptr) g_d3d.direct3D->Release();
  g_d3d.direct3D = nullptr;
}

// Largest power of two not above `value` (at least 1).
std::uint32_t PowerOfTwoAtMost(std::uint32_t value) {
  std::uint32_t p = 1;
  while (p <= value / 2) p *= 2;
  return p;
}
std::uint32_t PowerOfTwoAtLeast(std::uint32_t value) {
  std::uint32_t p = 1;
  while (p < value && p < kMaxTextureSizeCeiling) p *= 2;
  return p;
}

// The device's texture size limits as powers of two the piece sizes can keep in 16 bits.
void ComputeTextureSizes() {
  const D3DDEVICEDESC7& d = g_d3d.deviceDesc;
  std::uint32_t minimum =
      d.dwMinTextureWidth < d.dwMinTextureHeight ? d.dwMinTextureWidth : d.dwMinTextureHeight;
  std::uint32_t maximum =
      d.dwMaxTextureWidth < d.dwMaxTextureHeight ? d.dwMaxTextureWidth : d.dwMaxTextureHeight;
  if (minimum == 0) minimum = kDefaultMinTextureSize;
  if (maximum == 0) maximum = kDefaultMaxTextureSize;
  if (maximum > kMaxTextureSizeCeiling) maximum = kMaxTextureSizeCeiling;
  maximum = PowerOfTwoAtMost(maximum);
  minimum = PowerOfTwoAtLeast(minimum);
  if (minimum > maximum) minimum = maximum;
  g_d3d.minTextureSize = minimum;
  g_d3d.maxTextureSize = maximum;
}

void WriteCapabilityReport() {
  const D3DDEVICEDESC7& d = g_d3d.deviceDesc;
  IncreaseLogIndent();
  OutputLogFormat("テクスチャ最大幅:%u 最小幅:%u ", g_d3d.maxTextureSize, g_d3d.minTextureSize);
  OutputLogFormat("描画制限: D_D3DPTEXTURECAPS_POW2 = %d  D_D3DPTEXTURECAPS_SQUAREONLY = %d ",
                  (d.dpcTriCaps.dwTextureCaps & D3DPTEXTURECAPS_POW2) ? 1 : 0,
                  (d.dpcTriCaps.dwTextureCaps & D3DPTEXTURECAPS_SQUAREONLY) ? 1 : 0);
  OutputLogFormat("最大テクスチャステージ数 = %d   最大テクスチャブレンド数 = %d ", d.wMaxTextureBlendStages,
                  d.wMaxSimultaneousTextures);
  if (d.wMaxTextureBlendStages < 4) {
    OutputLog(
        "使用可能テクスチャステージが 4 以下なので DrawBlendGraph は正常に機能しない可能性があります\n");
  }
  OutputLogFormat("テクスチャピクセルフォーマット");
  OutputLogFormat("\t通常グラフィック用");
  for (int slot : {kTextureFormatPlain16, kTextureFormatPlain32}) {
    const ColorData& c = g_d3d.textureFormats[slot].colorData;
    OutputLogFormat("\t\t BIT:%u  RED:%u  GREEN:%u  BLUE:%u ", c.colorBitDepth, c.redWidth, c.greenWidth,
                    c.blueWidth);
    OutputLogFormat("\t\t RED:%06x GREEN:%06x BLUE:%06x \n", c.redMask, c.greenMask, c.blueMask);
  }
  OutputLogFormat("\tアルファチャンネル付きグラフィック用");
  for (int slot : {kTextureFormatAlpha16, kTextureFormatAlpha32}) {
    const ColorData& c = g_d3d.textureFormats[slot].colorData;
    OutputLogFormat("\t\t BIT:%u  ALPHA:%u  RED:%u  GREEN:%u  BLUE:%u ", c.colorBitDepth, c.alphaWidth,
                    c.redWidth, c.greenWidth, c.blueWidth);
    OutputLogFormat("\t\t ALPHA:%08x RED:%08x GREEN:%08x BLUE:%08x \n", c.alphaMask, c.redMask, c.greenMask,
                    c.blueMask);
  }
  DecreaseLogIndent();
}

int QueryDirect3D() {
  IDirectDraw7* directDraw = GetDirectDrawObject();
  void* object = nullptr;
  if (directDraw == nullptr || FAILED(directDraw->QueryInterface(IID_IDirect3D7, &object)) ||
      object == nullptr) {
    g_d3d.direct3D = nullptr;
    return OutputLog("Direct3Dオブジェクトの作成に失敗しました\n");
  }
  g_d3d.direct3D = static_cast<IDirect3D7*>(object);
  return 0;
}

}  // namespace

Direct3DState& GetDirect3DState() { return g_d3d; }

HRESULT EnumDirect3DDeviceCallback(char* description, char* name, D3DDEVICEDESC7* desc, void* context) {
  if (desc == nullptr || context == nullptr) return D3DENUMRET_OK;
  const bool tnl = desc->deviceGUID == IID_IDirect3DTnLHalDevice;
  if (!tnl && !(desc->deviceGUID == IID_IDirect3DHALDevice)) return D3DENUMRET_OK;
  const int depth = GetScreenColorBitDepth();
  const DWORD needed = depth == 16 ? DDBD_16 : depth == 32 ? DDBD_32 : 0;
  if (needed == 0 || (desc->dwDeviceRenderBitDepth & needed) == 0) return D3DENUMRET_OK;
  *static_cast<int*>(context) = 1;
  g_d3d.deviceDesc = *desc;
  if (tnl) {
    OutputLog("ハードウエアＴ＆Ｌデバイスを発見しました\n");
    return D3DENUMRET_CANCEL;
  }
  OutputLog("ＨＡＬデバイスを発見しました\n");
  return D3DENUMRET_OK;
}

int InitializeDirect3D() {
  if (g_d3d.direct3D != nullptr) return -1;
  OutputLog("Direct3D 関連の初期化を行います\n");
  std::memset(static_cast<void*>(&g_d3d), 0, sizeof(g_d3d));
  OutputLog("Ｄｉｒｅｃｔ３Ｄオブジェクトを取得します\n");
  if (QueryDirect3D() != 0) return -1;
  OutputLog("Ｄｉｒｅｃｔ３Ｄオブジェクトを取得しました\n");

  int found = 0;
  if (FAILED(g_d3d.direct3D->EnumDevices(EnumDirect3DDeviceCallback, &found)) || found == 0) {
    OutputLog("現在の画面モードで使用できる描画デバイスが見つかりませんでした\n");
    ReleaseObject();
    return -1;
  }

  int zFound = 0;
  if (FAILED(
          g_d3d.direct3D->EnumZBufferFormats(IID_IDirect3DHALDevice, EnumZBufferFormatsCallback, &zFound)) ||
      zFound == 0) {
    OutputLog("使用可能なＺバッファが見つかりませんでした\n");
  }

  IDirectDrawSurface7* front = GetFrontSurface();
  const int device = CreateDirect3DDevice(front);
  if (device == -1) {
    ReleaseObject();
    return -1;
  }
  g_d3d.currentDevice = device;
  SetDeviceRenderTarget(front, device);

  DrawState& draw = GetDrawState();
  if (draw.textureAddressMode == 0) draw.textureAddressMode = D3DTADDRESS_CLAMP;
  IDirect3DDevice7* d = GetDeviceRecord(device)->device;
  HRESULT hr = S_OK;
  for (DWORD stage = 4; stage-- > 0;) {
    hr = d->SetTextureStageState(stage, D3DTSS_ADDRESS, static_cast<DWORD>(draw.textureAddressMode));
  }
  if (FAILED(hr)) {
    DeleteAllDirect3DDevices();
    ReleaseObject();
    return -1;
  }

  std::memset(static_cast<void*>(g_d3d.textureFormats), 0, sizeof(g_d3d.textureFormats));
  int formatFound = 0;
  if (FAILED(d->EnumTextureFormats(EnumTextureFormatsCallback, &formatFound)) || formatFound == 0) {
    OutputLog("使用可能なテクスチャフォーマットが見つかりませんでした\n");
    DeleteAllDirect3DDevices();
    ReleaseObject();
    return -1;
  }
  CompleteTextureFormats();

  g_d3d.frontTarget = 1;
  ComputeTextureSizes();
  g_d3d.readBackMethod[0] = g_d3d.readBackMethod[1] = -1;
  g_d3d.memImageTarget = 0;
  WriteCapabilityReport();
  OutputLog("Direct3D 関連の初期化は正常に終了しました\n");
  g_d3d.initialized = 1;
  return 0;
}

int CreateDirect3DDevice(IDirectDrawSurface7* surface) {
  if (g_d3d.direct3D == nullptr) return -1;
  int index = -1;
  for (int i = 0; i < kDeviceRecordCount && index < 0; ++i) {
    if (DeviceRecordSlot(i)->inUse == 0) index = i;
  }
  if (index < 0) return -1;
  D3DDeviceRecord& r = *DeviceRecordSlot(index);
  // Cleared, with the batch buffers ready (z 0, rhw 1, specular white).
  ResetDeviceRecord(r, surface);
  OutputLog("３Ｄデバイスを作成します... ");
  IDirect3DDevice7* device = nullptr;
  if (FAILED(g_d3d.direct3D->CreateDevice(g_d3d.deviceDesc.deviceGUID, surface, &device)) ||
      device == nullptr) {
    OutputLog("３Ｄデバイスの作成に失敗しました\n");
    ResetDeviceRecord(r, nullptr);
    return -1;
  }
  r.device = device;

  DrawState& draw = GetDrawState();
  if (draw.textureAddressMode == 0) draw.textureAddressMode = D3DTADDRESS_CLAMP;
  for (DWORD stage = 0; stage < kStageCount; ++stage) {
    device->SetTextureStageState(stage, D3DTSS_ADDRESS, static_cast<DWORD>(draw.textureAddressMode));
    r.filterIndex[0][stage] = r.filterIndex[1][stage] = r.filterIndex[2][stage] = 1;
    device->SetTextureStageState(stage, D3DTSS_MAGFILTER, MagFilterValue(1));
    device->SetTextureStageState(stage, D3DTSS_MINFILTER, MinFilterValue(1));
    device->SetTextureStageState(stage, D3DTSS_MIPFILTER, MipFilterValue(1));
  }
  device->SetRenderState(D3DRENDERSTATE_COLORKEYBLENDENABLE, 0);
  device->SetRenderState(D3DRENDERSTATE_CULLMODE, D3DCULL_NONE);
  device->SetRenderState(D3DRENDERSTATE_LIGHTING, 0);
  device->SetRenderState(D3DRENDERSTATE_TEXTUREPERSPECTIVE, 0);
  device->SetRenderState(D3DRENDERSTATE_SHADEMODE, D3DSHADE_FLAT);
  device->SetRenderState(D3DRENDERSTATE_COLORKEYENABLE, 0);
  device->SetRenderState(D3DRENDERSTATE_DITHERENABLE, 0);

  r.addressMode = draw.textureAddressMode;
  r.inUse = 1;
  r.renderTarget = nullptr;
  ReapplyDeviceStates(index);
  OutputLog("３Ｄデバイスの作成に成功しました\n");
  return index;
}

int DeleteAllDirect3DDevices() {
  for (int i = 0; i < kDeviceRecordCount; ++i) {
    D3DDeviceRecord& r = *DeviceRecordSlot(i);
    if (r.inUse == 0) continue;
    if (r.device != nullptr) r.device->Release();
    ResetDeviceRecord(r, nullptr);
    OutputLog("３Ｄデバイスの削除は正常に終了しました\n");
  }
  return 0;
}

int ReleaseDirect3DDevice(int device) {
  D3DDeviceRecord* r = g_d3d.direct3D != nullptr ? GetDeviceRecord(device) : nullptr;
  if (r == nullptr) return -1;
  if (r->device != nullptr) {
    EndSceneDevice(device);
    ReleaseAllSurface3DDataObjects();
    r->device->Release();
    r->device = nullptr;
    // The textures those pointers named are gone; restore binds the new ones.
    r->texture = nullptr;
    r->blendGraph = nullptr;
    for (StageCopy& s : r->stages) s.texture = nullptr;
    OutputLog("Ｄｉｒｅｃｔ３Ｄデバイスを削除しました\n");
  }
  return 0;
}

int TerminateDirect3D() {
  // A start-up whose object was released (lost full screen) is ended all the same.
  if (g_d3d.direct3D == nullptr && g_d3d.initialized == 0) return -1;
  OutputLog("Direct3D 関連の終了処理を行います\n");
  const int device = g_d3d.currentDevice;
  if (g_d3d.direct3D != nullptr) EndSceneDevice(device);
  g_d3d.frontTarget = 0;
  if (D3DDeviceRecord* r = GetDeviceRecord(device);
      r != nullptr && (r->texture != nullptr || r->forceApply)) {
    if (g_d3d.direct3D != nullptr) FlushVertexBuffer(device);
    r->textureChanged = 1;
    if (r->texture != nullptr) r->drawSettingsDirty = 1;
    r->texture = nullptr;
  }
  DeleteEverySurface3DData();
  DeleteAllDirect3DDevices();
  ReleaseObject();
  OutputLog("Direct3D 関連の終了処理は正常に終了しました\n");
  g_d3d.initialized = 0;
  return 0;
}

int ReleaseDirect3DObject() {
  if (g_d3d.initialized == 0) return -1;
  ReleaseDirect3DDevice(g_d3d.currentDevice);
  OutputLog("Ｄｉｒｅｃｔ３Ｄオブジェクトを解放します\n");
  if (g_d3d.direct3D == nullptr) {
    OutputLog("Ｄｉｒｅｃｔ３Ｄオブジェクトは既に解放されています\n");
    return 0;
  }
  ReleaseObject();
  OutputLog("Ｄｉｒｅｃｔ３Ｄオブジェクトを解放しました\n");
  return 0;
}

int AcquireDirect3DAndDevice() {
  if (g_d3d.initialized == 0) return 0;
  OutputLog("Ｄｉｒｅｃｔ３Ｄオブジェクトを取得します\n");
  if (g_d3d.direct3D != nullptr) {
    OutputLog("Ｄｉｒｅｃｔ３Ｄオブジェクトは既に取得されていますn");
    return 0;
  }
  if (QueryDirect3D() != 0) return -1;
  OutputLog("Ｄｉｒｅｃｔ３Ｄオブジェクトは正常に取得されました\n");
  D3DDeviceRecord* r = GetDeviceRecord(g_d3d.currentDevice);
  if (r == nullptr) return -1;
  r->ownSurface = GetFrontSurface();
  r->renderTarget = GetDrawTargetSurface();
  // A device that cannot be made again is a failure, not a silent null device.
  return RestoreDirect3DDevice(g_d3d.currentDevice);
}

}  // namespace gamelib
