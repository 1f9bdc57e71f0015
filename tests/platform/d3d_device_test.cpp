// The Direct3D object and device: enumeration, fault rules, states and their
// refusals, viewport, references, scenes and draws, texture loads.
#include <cmath>

#include "display_fixture.h"

using sim::DisplayCall;
using sim::PixelFormatName;

namespace {

struct Deliveries {
  int cancelAt = -1;  // the delivery (0-based) that answers CANCEL
  std::vector<GUID> devices;
  std::vector<DDPIXELFORMAT> formats;
};

HRESULT OnDevice(char*, char*, D3DDEVICEDESC7* desc, void* context) {
  auto* d = static_cast<Deliveries*>(context);
  d->devices.push_back(desc->deviceGUID);
  return static_cast<int>(d->devices.size()) - 1 == d->cancelAt ? D3DENUMRET_CANCEL : D3DENUMRET_OK;
}

HRESULT OnFormat(DDPIXELFORMAT* format, void* context) {
  auto* d = static_cast<Deliveries*>(context);
  d->formats.push_back(*format);
  return static_cast<int>(d->formats.size()) - 1 == d->cancelAt ? D3DENUMRET_CANCEL : D3DENUMRET_OK;
}

sim::Display3DDevice DeviceSpec(const GUID& guid, const char* name) {
  sim::Display3DDevice spec;
  spec.guid = guid;
  spec.name = name;
  spec.description = name;
  return spec;
}

struct Vertex {
  float x, y, z, rhw;
  DWORD diffuse;
};

}  // namespace

class D3DTest : public DisplayTest {
 protected:
  void SetUp() override {
    DisplayTest::SetUp();
    sim::DisplayConfig config = sim::DefaultDisplayConfig();
    config.devices = {DeviceSpec(IID_IDirect3DRGBDevice, "rgb"), DeviceSpec(IID_IDirect3DHALDevice, "hal"),
                      DeviceSpec(IID_IDirect3DTnLHalDevice, "tnl")};
    config.zFormats = {sim::MakePixelFormat(PixelFormatName::D15S1),
                       sim::MakePixelFormat(PixelFormatName::D16),
                       sim::MakePixelFormat(PixelFormatName::D24S8)};
    Reconfigure(config);
  }
  static DWORD State(DWORD type) { return sim::ViewDevice().renderState[type]; }
};

TEST_F(D3DTest, EnumerationsDeliverInConfiguredOrderUntilCancel) {
  IDirect3D7* d3d = D3D();
  const GUID order[] = {IID_IDirect3DRGBDevice, IID_IDirect3DHALDevice, IID_IDirect3DTnLHalDevice};
  for (int cancelAt : {-1, 0, 1, 2}) {
    SCOPED_TRACE(cancelAt);
    std::size_t mark = sim::DisplayTraceMark();
    Deliveries d;
    d.cancelAt = cancelAt;
    ASSERT_EQ(d3d->EnumDevices(&OnDevice, &d), D3D_OK);
    std::size_t expected = cancelAt < 0 ? 3 : static_cast<std::size_t>(cancelAt) + 1;
    ASSERT_EQ(d.devices.size(), expected);
    for (std::size_t i = 0; i < expected; ++i) EXPECT_TRUE(d.devices[i] == order[i]);
    auto records = sim::DisplayCallsSince(mark, DisplayCall::EnumCallback);
    ASSERT_EQ(records.size(), expected);
    EXPECT_TRUE(records.back().guid == order[expected - 1]);
    EXPECT_EQ(records.back().value, static_cast<DWORD>(cancelAt < 0 ? D3DENUMRET_OK : D3DENUMRET_CANCEL));
  }
  // Z formats answer whatever the class id, and the trace keeps the id asked with.
  Deliveries z;
  z.cancelAt = 1;
  std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(d3d->EnumZBufferFormats(IID_IDirect3DMMXDevice, &OnFormat, &z), D3D_OK);
  ASSERT_EQ(z.formats.size(), 2u);
  EXPECT_EQ(z.formats[0].dwFlags, DDPF_ZBUFFER | DDPF_STENCILBUFFER);
  EXPECT_EQ(z.formats[1].dwFlags, DDPF_ZBUFFER);
  EXPECT_TRUE(sim::DisplayCallsSince(mark, DisplayCall::EnumZBufferFormats)[0].guid ==
              IID_IDirect3DMMXDevice);

  IDirect3DDevice7* device = Device(Texture(PixelFormatName::R5G6B5, 4, 4));
  Deliveries textures;
  ASSERT_EQ(device->EnumTextureFormats(&OnFormat, &textures), D3D_OK);
  const auto& configured = sim::CurrentDisplayConfig().textureFormats;
  ASSERT_EQ(textures.formats.size(), configured.size());
  for (std::size_t i = 0; i < configured.size(); ++i)
    EXPECT_EQ(std::memcmp(&textures.formats[i], &configured[i], sizeof(DDPIXELFORMAT)), 0) << i;
  EXPECT_EQ(d3d->EnumDevices(nullptr, nullptr), DDERR_INVALIDPARAMS);
}

TEST_F(D3DTest, FaultRulesSkipCountMatchAndDeliverFirst) {
  IDirect3D7* d3d = D3D();
  auto create = [this] {
    IDirectDrawSurface7* s = nullptr;
    DDSURFACEDESC2 desc = FormatDesc(PixelFormatName::R5G6B5, 2, 2);
    HRESULT hr = dd_->CreateSurface(&desc, &s, nullptr);
    if (s != nullptr) owned_.push_back(s);
    EXPECT_EQ(s != nullptr, SUCCEEDED(hr));
    return hr;
  };
  // skip 1, times 2
  sim::AddDisplayFault({DisplayCall::CreateSurface, {}, 1, 2, DDERR_OUTOFMEMORY});
  EXPECT_EQ(create(), DD_OK);
  EXPECT_EQ(create(), DDERR_OUTOFMEMORY);
  EXPECT_EQ(create(), DDERR_OUTOFMEMORY);
  EXPECT_EQ(create(), DD_OK);
  // for ever, matching the decoded arguments only
  sim::AddDisplayFault({DisplayCall::CreateSurface,
                        [](const sim::DisplayCallRecord& r) { return r.desc.dwWidth == 7; }, 0, -1, E_FAIL});
  for (int i = 0; i < 5; ++i) {
    IDirectDrawSurface7* s = nullptr;
    DDSURFACEDESC2 desc = FormatDesc(PixelFormatName::R5G6B5, 7, 2);
    EXPECT_EQ(dd_->CreateSurface(&desc, &s, nullptr), E_FAIL);
    EXPECT_EQ(s, nullptr);
  }
  EXPECT_EQ(create(), DD_OK);
  sim::ClearDisplayFaults();

  // An enumeration fails before delivering, or after delivering everything.
  sim::AddDisplayFault({DisplayCall::EnumDevices, {}, 0, 1, DDERR_GENERIC});
  Deliveries none;
  EXPECT_EQ(d3d->EnumDevices(&OnDevice, &none), DDERR_GENERIC);
  EXPECT_TRUE(none.devices.empty());
  sim::DisplayFault after{DisplayCall::EnumDevices, {}, 0, 1, DDERR_INVALIDPARAMS};
  after.afterCallbacks = true;
  sim::AddDisplayFault(after);
  Deliveries all;
  EXPECT_EQ(d3d->EnumDevices(&OnDevice, &all), DDERR_INVALIDPARAMS);
  EXPECT_EQ(all.devices.size(), 3u);

  // The generic per-name failure works as for the other stand-ins.
  sim::FailCall("QueryInterface", 1);
  IDirect3D7* failed = reinterpret_cast<IDirect3D7*>(&all);
  EXPECT_TRUE(FAILED(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&failed))));
  EXPECT_EQ(failed, nullptr);
  std::size_t mark = sim::DisplayTraceMark();
  sim::AddDisplayFault({DisplayCall::CreateDevice, {}, 0, 1, DDERR_OUTOFMEMORY});
  IDirect3DDevice7* device = nullptr;
  EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DHALDevice, Texture(PixelFormatName::R5G6B5, 2, 2), &device),
            DDERR_OUTOFMEMORY);
  EXPECT_EQ(device, nullptr);
  auto records = sim::DisplayCallsSince(mark, DisplayCall::CreateDevice);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].result, DDERR_OUTOFMEMORY);
}

TEST_F(D3DTest, DeviceNeedsAConfiguredClassAndCoversItsSurface) {
  IDirect3D7* d3d = D3D();
  IDirectDrawSurface7* target = Texture(PixelFormatName::X8R8G8B8, 16, 8, DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE);
  IDirect3DDevice7* device = nullptr;
  EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DMMXDevice, target, &device), D3DERR_INVALID_DEVICE);
  EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DHALDevice, Z(16, 8), &device), DDERR_INVALIDCAPS);
  EXPECT_EQ(d3d->CreateDevice(IID_IDirect3DHALDevice, nullptr, &device), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device, nullptr);
  ASSERT_EQ(d3d->CreateDevice(IID_IDirect3DTnLHalDevice, target, &device), D3D_OK);
  owned_.push_back(device);
  sim::DeviceView view = sim::ViewDevice(sim::DeviceId(device));
  EXPECT_EQ(view.target, sim::SurfaceId(target));
  EXPECT_EQ(view.viewport.dwWidth, 16u);
  EXPECT_EQ(view.viewport.dwHeight, 8u);
  EXPECT_EQ(view.viewport.dvMaxZ, 1.0f);
}

TEST_F(D3DTest, InvalidStateValuesAreRefusedAndTheStateKeepsItsValue) {
  IDirect3DDevice7* device = Device(Texture(PixelFormatName::R5G6B5, 4, 4));
  struct Row {
    DWORD type;
    DWORD value;
    DWORD kept;
  };
  const Row rows[] = {
      {D3DRENDERSTATE_SRCBLEND, 0, D3DBLEND_ONE},   {D3DRENDERSTATE_DESTBLEND, 0, D3DBLEND_ZERO},
      {D3DRENDERSTATE_ALPHAFUNC, 0, D3DCMP_ALWAYS}, {D3DRENDERSTATE_ZFUNC, 0, D3DCMP_LESSEQUAL},
      {D3DRENDERSTATE_SRCBLEND, 11, D3DBLEND_ONE},  {D3DRENDERSTATE_ZFUNC, 9, D3DCMP_LESSEQUAL},
      {D3DRENDERSTATE_CULLMODE, 0, D3DCULL_NONE},   {D3DRENDERSTATE_ZENABLE, 2, D3DZB_FALSE},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.type);
    EXPECT_EQ(device->SetRenderState(row.type, row.value), DDERR_INVALIDPARAMS);
    EXPECT_EQ(State(row.type), row.kept);
  }
  EXPECT_EQ(State(D3DRENDERSTATE_TEXTUREFACTOR), 0xFFFFFFFFu);
  // Black is a valid factor.
  EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_TEXTUREFACTOR, 0), D3D_OK);
  EXPECT_EQ(State(D3DRENDERSTATE_TEXTUREFACTOR), 0u);
  EXPECT_EQ(device->SetRenderState(3, 1), DDERR_INVALIDPARAMS);    // not a state
  EXPECT_EQ(device->SetRenderState(900, 1), DDERR_INVALIDPARAMS);  // beyond the array
  EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_ALPHAFUNC, D3DCMP_GREATER), D3D_OK);
  EXPECT_EQ(State(D3DRENDERSTATE_ALPHAFUNC), D3DCMP_GREATER);

  // Stage states: every stage up to 7, ADDRESS sets both directions.
  EXPECT_EQ(device->SetTextureStageState(7, D3DTSS_ADDRESS, D3DTADDRESS_MIRROR), D3D_OK);
  sim::DeviceView view = sim::ViewDevice();
  EXPECT_EQ(view.stageState[7][D3DTSS_ADDRESSU], D3DTADDRESS_MIRROR);
  EXPECT_EQ(view.stageState[7][D3DTSS_ADDRESSV], D3DTADDRESS_MIRROR);
  EXPECT_EQ(device->SetTextureStageState(8, D3DTSS_ADDRESS, D3DTADDRESS_CLAMP), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device->SetTextureStageState(0, D3DTSS_ADDRESS, 0), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device->SetTextureStageState(0, D3DTSS_COLOROP, 0), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE | 0x40), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_SPECULAR + 1), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device->SetTextureStageState(0, D3DTSS_ALPHAARG1, D3DTA_SPECULAR), D3D_OK);
  EXPECT_EQ(device->SetTextureStageState(0, D3DTSS_COLORARG1, D3DTA_TEXTURE | D3DTA_COMPLEMENT), D3D_OK);
  view = sim::ViewDevice();
  EXPECT_EQ(view.stageState[0][D3DTSS_ADDRESSU], D3DTADDRESS_WRAP);
  EXPECT_EQ(view.stageState[0][D3DTSS_COLOROP], D3DTOP_MODULATE);
}

TEST_F(D3DTest, ViewportMustLieInsideTheTargetAndSurvivesATargetChange) {
  IDirectDrawSurface7* big = Texture(PixelFormatName::R5G6B5, 32, 16, DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE);
  IDirect3DDevice7* device = Device(big);
  const D3DVIEWPORT7 refused[] = {
      {0, 0, 0, 16, 0, 1},           {0, 0, 32, 0, 0, 1}, {1, 0, 32, 16, 0, 1}, {0, 8, 32, 9, 0, 1},
      {0xFFFFFFF0u, 0, 32, 1, 0, 1}, {0, 0, 8, 8, 1, 0},  {0, 0, 8, 8, NAN, 1},
  };
  for (const D3DVIEWPORT7& vp : refused) {
    D3DVIEWPORT7 copy = vp;
    EXPECT_EQ(device->SetViewport(&copy), DDERR_INVALIDPARAMS) << vp.dwX << " " << vp.dwWidth;
  }
  EXPECT_EQ(device->SetViewport(nullptr), DDERR_INVALIDPARAMS);
  D3DVIEWPORT7 vp{4, 2, 20, 10, 0, 1};
  ASSERT_EQ(device->SetViewport(&vp), D3D_OK);
  IDirectDrawSurface7* small = Texture(PixelFormatName::R5G6B5, 8, 8, DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE);
  ASSERT_EQ(device->SetRenderTarget(small, 0), D3D_OK);
  D3DVIEWPORT7 now{};
  ASSERT_EQ(device->GetViewport(&now), D3D_OK);
  EXPECT_EQ(now.dwX, 4u);
  EXPECT_EQ(now.dwWidth, 20u);
  EXPECT_EQ(sim::ViewDevice().target, sim::SurfaceId(small));
  EXPECT_EQ(device->SetRenderTarget(Z(8, 8), 0), DDERR_INVALIDPARAMS);
}

TEST_F(D3DTest, TheDeviceHoldsItsTargetAndBoundTextures) {
  IDirectDrawSurface7* target = nullptr;
  IDirectDrawSurface7* texture = nullptr;
  DDSURFACEDESC2 desc = FormatDesc(PixelFormatName::R5G6B5, 4, 4);
  ASSERT_EQ(dd_->CreateSurface(&desc, &target, nullptr), DD_OK);
  ASSERT_EQ(dd_->CreateSurface(&desc, &texture, nullptr), DD_OK);
  int targetId = sim::SurfaceId(target), textureId = sim::SurfaceId(texture);
  IDirect3DDevice7* device = nullptr;
  ASSERT_EQ(D3D()->CreateDevice(IID_IDirect3DHALDevice, target, &device), D3D_OK);
  ASSERT_EQ(device->SetTexture(0, texture), D3D_OK);
  ASSERT_EQ(device->SetTexture(3, texture), D3D_OK);
  EXPECT_EQ(sim::ViewSurface(textureId).referenceCount, 3);
  EXPECT_EQ(target->Release(), 1u);
  EXPECT_EQ(texture->Release(), 2u);
  EXPECT_FALSE(sim::ViewSurface(textureId).released);
  ASSERT_EQ(device->SetTexture(0, nullptr), D3D_OK);
  EXPECT_FALSE(sim::ViewSurface(textureId).released);
  ASSERT_EQ(device->SetTexture(3, nullptr), D3D_OK);
  EXPECT_TRUE(sim::ViewSurface(textureId).released);
  EXPECT_FALSE(sim::ViewSurface(targetId).released);
  EXPECT_EQ(sim::ViewDevice().texture[3], -1);
  EXPECT_EQ(device->SetTexture(8, nullptr), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_TRUE(sim::ViewSurface(targetId).released);
  EXPECT_TRUE(sim::ViewDevice().released);
}

TEST_F(D3DTest, ScenesBracketDrawsAndViolationsAreRecorded) {
  violationsExpected_ = true;
  sim::DisplayConfig config = sim::CurrentDisplayConfig();
  config.strictScene = true;
  Reconfigure(config);
  IDirectDrawSurface7* target = Texture(PixelFormatName::R5G6B5, 8, 8, DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE);
  IDirect3DDevice7* device = Device(target);
  Vertex v[4] = {
      {0, 0, 0, 1, 0xFFFFFFFF}, {8, 0, 0, 1, 0xFFFFFFFF}, {0, 8, 0, 1, 0xFFFFFFFF}, {8, 8, 0, 1, 0}};
  EXPECT_EQ(device->EndScene(), D3DERR_SCENE_NOT_IN_SCENE);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0x44, v, 3, 0), D3D_OK);
  EXPECT_EQ(LastViolation(),
            "DrawPrimitive outside a scene on device#" + std::to_string(sim::ViewDevice().id));
  ASSERT_EQ(device->BeginScene(), D3D_OK);
  EXPECT_EQ(device->BeginScene(), D3DERR_SCENE_IN_SCENE);
  std::size_t before = sim::DisplayViolations().size();
  std::size_t mark = sim::DisplayTraceMark();
  WORD indices[] = {0, 1, 2, 3, 9, 2};
  EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLESTRIP, 0x44, v, 4, indices, 6, 0), D3D_OK);
  EXPECT_EQ(LastViolation(), "DrawIndexedPrimitive: 1 indices past the 4 vertices");
  auto draws = sim::DisplayCallsSince(mark, DisplayCall::DrawIndexedPrimitive);
  ASSERT_EQ(draws.size(), 1u);
  EXPECT_EQ(draws[0].vertices.size(), sizeof v);
  EXPECT_EQ(std::memcmp(draws[0].vertices.data(), v, sizeof v), 0);
  EXPECT_EQ(draws[0].indices, std::vector<WORD>(indices, indices + 6));
  EXPECT_EQ(draws[0].surface, sim::SurfaceId(target));
  EXPECT_EQ(device->DrawPrimitive(6, 0x44, v, 3, 0), D3DERR_INVALIDPRIMITIVETYPE);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0x42, v, 3, 0), D3DERR_INVALIDVERTEXFORMAT);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0x44, nullptr, 3, 0), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0x44, v, 0x10000, 0), DDERR_INVALIDPARAMS);
  EXPECT_EQ(device->DrawIndexedPrimitive(D3DPT_TRIANGLELIST, 0x44, v, 4, nullptr, 3, 0), DDERR_INVALIDPARAMS);
  EXPECT_EQ(sim::DisplayViolations().size(), before + 1);

  // In strict mode a lock of the target inside the scene is recorded (and still works).
  DDSURFACEDESC2 desc{};
  ASSERT_EQ(target->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(LastViolation(), "Lock of texture#1, the render target of device#" +
                                 std::to_string(sim::ViewDevice().id) + ", in a scene");
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0x44, v, 3, 0), DDERR_SURFACEBUSY);
  ASSERT_EQ(target->Unlock(nullptr), DD_OK);
  sim::LoseSurface(sim::SurfaceId(target));
  EXPECT_EQ(device->DrawPrimitive(D3DPT_TRIANGLELIST, 0x44, v, 3, 0), DDERR_SURFACELOST);
  EXPECT_EQ(device->EndScene(), D3D_OK);
  EXPECT_EQ(sim::DisplayViolations().size(), before + 2);
}

TEST_F(D3DTest, LoadCopiesBetweenEqualFormatsWithinBothTextures) {
  IDirect3DDevice7* device = Device(Texture(PixelFormatName::R5G6B5, 4, 4));
  IDirectDrawSurface7* work = Work(PixelFormatName::A4R4G4B4, 4, 4);
  IDirectDrawSurface7* texture = Texture(PixelFormatName::A4R4G4B4, 8, 8);
  IDirectDrawSurface7* other = Texture(PixelFormatName::A1R5G5B5, 8, 8);
  ASSERT_EQ(ColorFill(work, 0xF123), DD_OK);
  POINT at{5, 6};
  RECT part{1, 1, 4, 3};
  ASSERT_EQ(device->Load(texture, &at, work, &part, 0), D3D_OK);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x)
      EXPECT_EQ(Raw(texture, x, y), x >= 5 && y >= 6 ? 0xF123u : 0u) << x << "," << y;

  struct Row {
    const char* what;
    IDirectDrawSurface7* dest;
    POINT at;
    RECT from;
    HRESULT expected;
  };
  const Row rows[] = {
      {"other format", other, {0, 0}, {0, 0, 4, 4}, DDERR_INVALIDPIXELFORMAT},
      {"past the destination", texture, {6, 0}, {0, 0, 4, 4}, DDERR_INVALIDRECT},
      {"negative point", texture, {-1, 0}, {0, 0, 4, 4}, DDERR_INVALIDRECT},
      {"past the source", texture, {0, 0}, {0, 0, 5, 4}, DDERR_INVALIDRECT},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    POINT p = row.at;
    RECT r = row.from;
    EXPECT_EQ(device->Load(row.dest, &p, work, &r, 0), row.expected);
  }
  DDSURFACEDESC2 desc{};
  ASSERT_EQ(work->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(device->Load(texture, nullptr, work, nullptr, 0), DDERR_SURFACEBUSY);
  ASSERT_EQ(work->Unlock(nullptr), DD_OK);
  sim::LoseSurface(sim::SurfaceId(texture));
  EXPECT_EQ(device->Load(texture, nullptr, work, nullptr, 0), DDERR_SURFACELOST);
  ASSERT_EQ(texture->Restore(), DD_OK);

  // A scripted run of busy answers, retried with a pause, as a caller would.
  sim::AddDisplayFault({DisplayCall::Load, {}, 0, 9, DDERR_SURFACEBUSY});
  std::size_t mark = sim::DisplayTraceMark();
  int tries = 0;
  HRESULT hr;
  while ((hr = device->Load(texture, nullptr, work, nullptr, 0)) == DDERR_SURFACEBUSY && tries < 20) {
    ++tries;
    Sleep(0);
  }
  EXPECT_EQ(hr, D3D_OK);
  EXPECT_EQ(tries, 9);
  EXPECT_EQ(sim::DisplayCallsSince(mark, DisplayCall::Sleep).size(), 9u);
  EXPECT_EQ(Raw(texture, 0, 0), 0xF123u);
}

TEST_F(D3DTest, AReleasedDeviceFailsAndRecordsAViolation) {
  violationsExpected_ = true;
  IDirect3DDevice7* device = nullptr;
  ASSERT_EQ(D3D()->CreateDevice(IID_IDirect3DHALDevice, Texture(PixelFormatName::R5G6B5, 4, 4), &device),
            D3D_OK);
  EXPECT_EQ(device->Release(), 0u);
  EXPECT_EQ(device->BeginScene(), DDERR_INVALIDOBJECT);
  EXPECT_EQ(device->SetRenderState(D3DRENDERSTATE_ZENABLE, 1), DDERR_INVALIDOBJECT);
  EXPECT_EQ(LastViolation(), "SetRenderState on released device#" + std::to_string(sim::ViewDevice().id));
  EXPECT_EQ(sim::DisplayViolations().size(), 2u);
}
