// Display stand-in tests: a DirectDraw object and helpers to make surfaces and a device.
#pragma once

#include <cstring>
#include <vector>

#include "platform/d3d.h"
#include "platform_fixture.h"

class DisplayTest : public PlatformTest {
 protected:
  void SetUp() override {
    PlatformTest::SetUp();
    void* object = nullptr;
    ASSERT_EQ(DirectDrawCreateEx(nullptr, &object, IID_IDirectDraw7, nullptr), DD_OK);
    dd_ = static_cast<IDirectDraw7*>(object);
  }
  void TearDown() override {
    for (IUnknown* object : owned_) object->Release();
    owned_.clear();
    if (dd_ != nullptr) dd_->Release();
    dd_ = nullptr;
    if (!violationsExpected_) {
      for (const std::string& v : sim::DisplayViolations()) ADD_FAILURE() << "violation: " << v;
    }
    PlatformTest::TearDown();
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
  // A surface released at the end of the test.
  IDirectDrawSurface7* Make(DDSURFACEDESC2 desc) {
    IDirectDrawSurface7* surface = nullptr;
    EXPECT_EQ(dd_->CreateSurface(&desc, &surface, nullptr), DD_OK);
    if (surface != nullptr) owned_.push_back(surface);
    return surface;
  }
  IDirectDrawSurface7* Texture(sim::PixelFormatName format, int width, int height,
                               DWORD caps = DDSCAPS_TEXTURE | DDSCAPS_VIDEOMEMORY) {
    DDSURFACEDESC2 desc = Desc(caps, width, height);
    desc.dwFlags |= DDSD_PIXELFORMAT;
    desc.ddpfPixelFormat = sim::MakePixelFormat(format);
    return Make(desc);
  }
  IDirectDrawSurface7* Z(int width, int height) {
    return Texture(sim::PixelFormatName::D16, width, height, DDSCAPS_ZBUFFER);
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
  IDirectDraw7* dd_ = nullptr;
  std::vector<IUnknown*> owned_;
  bool violationsExpected_ = false;  // a test that provokes violations checks them itself
};
