// Display stand-in tests: a DirectDraw object and helpers to make surfaces and a device.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/d3d.h"
#include "platform_fixture.h"

class DisplayTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    MakeDirectDraw();
  }
  void TearDown() override {
    ReleaseAll();
    if (!violationsExpected_) {
      for (const std::string& v : sim::DisplayViolations()) ADD_FAILURE() << "violation: " << v;
    }
    PlatformTest::TearDown();
  }

  void MakeDirectDraw() {
    void* object = nullptr;
    ASSERT_EQ(DirectDrawCreateEx(nullptr, &object, IID_IDirectDraw7, nullptr), DD_OK);
    dd_ = static_cast<IDirectDraw7*>(object);
  }
  void ReleaseAll() {
    for (auto it = owned_.rbegin(); it != owned_.rend(); ++it) (*it)->Release();
    owned_.clear();
    if (dd_ != nullptr) dd_->Release();
    dd_ = nullptr;
  }
  // A fresh display with this configuration (before the test makes anything).
  void Reconfigure(const sim::DisplayConfig& config) {
    ReleaseAll();
    sim::ConfigureDisplay(config);
    MakeDirectDraw();
  }

  static DDSURFACEDESC2 Desc(DWORD caps, int width, int height) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddsCaps.dwCaps = caps;
    return desc;
  }
  static DDSURFACEDESC2 FormatDesc(sim::PixelFormatName format, int width, int height,
                                   DWORD caps = DDSCAPS_TEXTURE | DDSCAPS_VIDEOMEMORY) {
    DDSURFACEDESC2 desc = Desc(caps, width, height);
    desc.dwFlags |= DDSD_PIXELFORMAT;
    desc.ddpfPixelFormat = sim::MakePixelFormat(format);
    return desc;
  }
  // A surface released at the end of the test.
  IDirectDrawSurface7* Make(DDSURFACEDESC2 desc) {
    IDirectDrawSurface7* surface = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&desc, &surface, nullptr), DD_OK);
    if (surface != nullptr) owned_.push_back(surface);
    return surface;
  }
  IDirectDrawSurface7* Texture(sim::PixelFormatName format, int width, int height,
                               DWORD caps = DDSCAPS_TEXTURE | DDSCAPS_VIDEOMEMORY) {
    return Make(FormatDesc(format, width, height, caps));
  }
  IDirectDrawSurface7* Work(sim::PixelFormatName format, int width, int height) {
    return Texture(format, width, height, DDSCAPS_TEXTURE | DDSCAPS_SYSTEMMEMORY);
  }
  IDirectDrawSurface7* Z(int width, int height) {
    return Texture(sim::PixelFormatName::D16, width, height, DDSCAPS_ZBUFFER);
  }
  IDirectDrawSurface7* Primary(bool flipping) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_3DDEVICE;
    if (flipping) {
      desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
      desc.dwBackBufferCount = 1;
      desc.ddsCaps.dwCaps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    }
    return Make(desc);
  }
  IDirect3D7* D3D() {
    IDirect3D7* d3d = nullptr;
    EXPECT_EQ(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d)), DD_OK);
    if (d3d != nullptr) owned_.push_back(d3d);
    return d3d;
  }
  IDirect3DDevice7* Device(IDirectDrawSurface7* target) {
    IDirect3DDevice7* device = nullptr;
    EXPECT_EQ(D3D()->CreateDevice(IID_IDirect3DHALDevice, target, &device), D3D_OK);
    if (device != nullptr) owned_.push_back(device);
    return device;
  }
  static DDBLTFX Fill(DWORD value) {
    DDBLTFX fx{};
    fx.dwSize = sizeof fx;
    fx.dwFillColor = value;
    return fx;
  }
  static HRESULT ColorFill(IDirectDrawSurface7* s, DWORD value, RECT* rect = nullptr) {
    DDBLTFX fx = Fill(value);
    return s->Blt(rect, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx);
  }
  // The raw pixel (2 or 4 bytes) at (x, y), read through the surface view.
  static std::uint32_t Raw(IDirectDrawSurface7* s, int x, int y) {
    sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(s));
    int bpp = static_cast<int>(v.format.dwRGBBitCount / 8);
    const std::uint8_t* p =
        v.bits + static_cast<std::size_t>(y) * v.pitch + static_cast<std::size_t>(x) * bpp;
    std::uint32_t value = 0;
    for (int i = 0; i < bpp; ++i) value |= static_cast<std::uint32_t>(p[i]) << (8 * i);
    return value;
  }
  static std::string LastViolation() {
    auto v = sim::DisplayViolations();
    return v.empty() ? std::string() : v.back();
  }

  IDirectDraw7* dd_ = nullptr;
  std::vector<IUnknown*> owned_;
  bool violationsExpected_ = false;  // a test that provokes violations checks them itself
};
