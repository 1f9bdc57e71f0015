// DirectDraw surfaces: creation, locks, fills, copies, loss and restore, device
// contexts, released objects, and the primary's flip into the video output.
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "display_fixture.h"

using sim::PixelFormatName;

namespace {

struct LayoutRow {
  PixelFormatName format;
  int bytes;
};
constexpr LayoutRow kCreatable[] = {
    {PixelFormatName::R5G6B5, 2},   {PixelFormatName::X1R5G5B5, 2}, {PixelFormatName::A1R5G5B5, 2},
    {PixelFormatName::A4R4G4B4, 2}, {PixelFormatName::X4R4G4B4, 2}, {PixelFormatName::X8R8G8B8, 4},
    {PixelFormatName::A8R8G8B8, 4},
};

}  // namespace

TEST_F(DisplayTest, EveryLayoutIsCreatedZeroFilledWithPaddedPitch) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.pitchPaddingBytes = 12;
  Reconfigure(config);
  for (const LayoutRow& row : kCreatable) {
    SCOPED_TRACE(static_cast<int>(row.format));
    IDirectDrawSurface7* s = Texture(row.format, 5, 3);
    ASSERT_NE(s, nullptr);
    DDSURFACEDESC2 desc{};
    ASSERT_EQ(s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
    EXPECT_EQ(desc.lPitch, 5 * row.bytes + 12);
    EXPECT_EQ(desc.dwWidth, 5u);
    EXPECT_EQ(desc.dwHeight, 3u);
    DDPIXELFORMAT format = sim::MakePixelFormat(row.format);
    EXPECT_EQ(std::memcmp(&desc.ddpfPixelFormat, &format, sizeof format), 0);
    const auto* bytes = static_cast<const std::uint8_t*>(desc.lpSurface);
    for (int i = 0; i < desc.lPitch * 3; ++i) ASSERT_EQ(bytes[i], 0) << i;
    EXPECT_EQ(s->Unlock(nullptr), DD_OK);
  }
}

TEST_F(DisplayTest, CreationRefusesBadDescriptionsAndMakesNothing) {
  struct Row {
    const char* what;
    DDSURFACEDESC2 desc;
  };
  DDSURFACEDESC2 zeroFormat = FormatDesc(PixelFormatName::R5G6B5, 4, 4);
  std::memset(&zeroFormat.ddpfPixelFormat, 0, sizeof(DDPIXELFORMAT));
  DDSURFACEDESC2 rgbZ = FormatDesc(PixelFormatName::R5G6B5, 4, 4, DDSCAPS_ZBUFFER);
  DDSURFACEDESC2 zTexture = FormatDesc(PixelFormatName::D16, 4, 4);
  DDSURFACEDESC2 noWidth = FormatDesc(PixelFormatName::R5G6B5, 4, 4);
  noWidth.dwFlags &= ~DDSD_WIDTH;
  DDSURFACEDESC2 flippingPlain =
      FormatDesc(PixelFormatName::R5G6B5, 4, 4, DDSCAPS_OFFSCREENPLAIN | DDSCAPS_FLIP);
  DDSURFACEDESC2 twoBackBuffers{};
  twoBackBuffers.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
  twoBackBuffers.dwBackBufferCount = 2;
  twoBackBuffers.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX;
  const Row rows[] = {
      {"zero format", zeroFormat},
      {"palette", FormatDesc(PixelFormatName::P8, 4, 4)},
      {"24-bit", FormatDesc(PixelFormatName::R8G8B8, 4, 4)},
      {"luminance", FormatDesc(PixelFormatName::L8, 4, 4)},
      {"fourcc", FormatDesc(PixelFormatName::DXT1, 4, 4)},
      {"stencil Z", FormatDesc(PixelFormatName::D15S1, 4, 4, DDSCAPS_ZBUFFER)},
      {"32-bit Z", FormatDesc(PixelFormatName::D32, 4, 4, DDSCAPS_ZBUFFER)},
      {"RGB as Z", rgbZ},
      {"Z as texture", zTexture},
      {"width 0", FormatDesc(PixelFormatName::R5G6B5, 0, 4)},
      {"height 0", FormatDesc(PixelFormatName::R5G6B5, 4, 0)},
      {"huge", FormatDesc(PixelFormatName::A8R8G8B8, 100000, 100000)},
      {"no width", noWidth},
      {"flipping plain", flippingPlain},
      {"two back buffers", twoBackBuffers},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    DDSURFACEDESC2 desc = row.desc;
    IDirectDrawSurface7* s = reinterpret_cast<IDirectDrawSurface7*>(&desc);
    EXPECT_TRUE(FAILED(dd_->CreateSurface(&desc, &s, nullptr)));
    EXPECT_EQ(s, nullptr);
  }
  // Aggregation is never supported; its refusal hands out nothing either.
  DDSURFACEDESC2 desc = FormatDesc(PixelFormatName::R5G6B5, 4, 4);
  IDirectDrawSurface7* s = reinterpret_cast<IDirectDrawSurface7*>(&desc);
  EXPECT_EQ(dd_->CreateSurface(&desc, &s, dd_), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(s, nullptr);
  EXPECT_TRUE(sim::LiveSurfaceIds().empty());
}

TEST_F(DisplayTest, PrimaryTakesTheDisplayModeAndAFlippingOneHasABackBuffer) {
  IDirectDrawSurface7* desktop = Primary(false);
  sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(desktop));
  EXPECT_EQ(v.width, 640);
  EXPECT_EQ(v.height, 480);
  EXPECT_EQ(v.format.dwRGBBitCount, 32u);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);

  ASSERT_EQ(dd_->SetDisplayMode(320, 200, 16, 0, 0), DD_OK);
  EXPECT_TRUE(FAILED(dd_->SetDisplayMode(320, 200, 24, 0, 0)));
  IDirectDrawSurface7* front = Primary(true);
  v = sim::ViewSurface(sim::SurfaceId(front));
  EXPECT_EQ(v.width, 320);
  EXPECT_EQ(v.height, 200);
  EXPECT_EQ(v.format.dwRGBBitCount, 16u);
  EXPECT_EQ(v.format.dwGBitMask, 0x07E0u);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 200);

  DDSCAPS2 caps{DDSCAPS_BACKBUFFER, 0, 0, 0};
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
  owned_.push_back(back);
  EXPECT_EQ(sim::SurfaceLabel(sim::SurfaceId(front)), "primary");
  EXPECT_EQ(sim::SurfaceLabel(sim::SurfaceId(back)), "back");
  EXPECT_EQ(sim::ViewSurface(sim::SurfaceId(back)).width, 320);
  EXPECT_EQ(dd_->RestoreDisplayMode(), DD_OK);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 640);
}

TEST_F(DisplayTest, LabelsTellTheKindOfSurface) {
  IDirectDrawSurface7* texture = Texture(PixelFormatName::R5G6B5, 2, 2);
  IDirectDrawSurface7* work = Work(PixelFormatName::R5G6B5, 2, 2);
  IDirectDrawSurface7* z = Z(2, 2);
  IDirectDrawSurface7* plain = Make(Desc(DDSCAPS_OFFSCREENPLAIN, 2, 2));
  EXPECT_EQ(sim::SurfaceLabel(sim::SurfaceId(texture)), "texture#1");
  EXPECT_EQ(sim::SurfaceLabel(sim::SurfaceId(work)), "work#2");
  EXPECT_EQ(sim::SurfaceLabel(sim::SurfaceId(z)), "z#3");
  EXPECT_EQ(sim::SurfaceLabel(sim::SurfaceId(plain)), "plain#4");
  EXPECT_EQ(sim::ViewSurface(sim::SurfaceId(plain)).format.dwRGBBitCount, 32u);  // the display's format
}

TEST_F(DisplayTest, LockRulesRefuseWithoutHandingOutAPointer) {
  IDirectDrawSurface7* s = Texture(PixelFormatName::A8R8G8B8, 8, 4);
  IDirectDrawSurface7* other = Texture(PixelFormatName::R5G6B5, 8, 4);
  struct Row {
    const char* what;
    RECT rect;
    HRESULT expected;
  };
  const Row rows[] = {
      {"right past the edge", {4, 0, 9, 4}, DDERR_INVALIDRECT},
      {"bottom past the edge", {0, 1, 8, 5}, DDERR_INVALIDRECT},
      {"negative", {-1, 0, 2, 2}, DDERR_INVALIDRECT},
      {"empty", {2, 2, 2, 3}, DDERR_INVALIDRECT},
      {"reversed", {3, 1, 1, 2}, DDERR_INVALIDRECT},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    RECT r = row.rect;
    DDSURFACEDESC2 desc{};
    EXPECT_EQ(s->Lock(&r, &desc, DDLOCK_WAIT, nullptr), row.expected);
    EXPECT_EQ(desc.lpSurface, nullptr);
  }
  EXPECT_EQ(s->Unlock(nullptr), DDERR_NOTLOCKED);

  // A rectangle lock points at its top-left pixel; a second lock is refused.
  RECT r{2, 1, 5, 3};
  DDSURFACEDESC2 desc{};
  ASSERT_EQ(s->Lock(&r, &desc, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr), DD_OK);
  sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(s));
  EXPECT_EQ(desc.lpSurface, v.bits + 1 * v.pitch + 2 * 4);
  EXPECT_TRUE(v.locked);
  DDSURFACEDESC2 again{};
  EXPECT_EQ(s->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(again.lpSurface, nullptr);
  RECT wrong{2, 1, 5, 4};  // only the bottom differs
  EXPECT_EQ(s->Unlock(&wrong), DDERR_INVALIDRECT);
  EXPECT_EQ(s->Unlock(&r), DD_OK);

  // A device context out counts as a lock.
  HDC dc = nullptr;
  ASSERT_EQ(other->GetDC(&dc), DD_OK);
  EXPECT_EQ(other->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(ColorFill(other, 1), DDERR_SURFACEBUSY);
  EXPECT_EQ(other->ReleaseDC(dc), DD_OK);
  EXPECT_EQ(other->Lock(nullptr, &again, DDLOCK_WAIT, nullptr), DD_OK);
  HDC refused = nullptr;
  EXPECT_EQ(other->GetDC(&refused), DDERR_SURFACEBUSY);
  EXPECT_EQ(other->Unlock(nullptr), DD_OK);
}

TEST_F(DisplayTest, ColourFillWritesTheValueTruncatedToThePixelSize) {
  for (const LayoutRow& row : kCreatable) {
    SCOPED_TRACE(static_cast<int>(row.format));
    IDirectDrawSurface7* s = Texture(row.format, 4, 3);
    RECT r{1, 1, 3, 2};
    ASSERT_EQ(ColorFill(s, 0x89ABCDEF, &r), DD_OK);
    std::uint32_t expected = row.bytes == 2 ? 0xCDEFu : 0x89ABCDEFu;
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 4; ++x) {
        bool inside = x >= 1 && x < 3 && y == 1;
        EXPECT_EQ(Raw(s, x, y), inside ? expected : 0u) << x << "," << y;
      }
    }
    RECT outside{3, 0, 5, 1};
    EXPECT_EQ(ColorFill(s, 1, &outside), DDERR_INVALIDRECT);
    DDBLTFX depth = Fill(0xFFFF);
    EXPECT_EQ(s->Blt(nullptr, nullptr, nullptr, DDBLT_DEPTHFILL | DDBLT_WAIT, &depth), DDERR_INVALIDPARAMS);
  }
}

TEST_F(DisplayTest, DepthFillWritesEveryZValueAndColourFillDoesNotApply) {
  IDirectDrawSurface7* z = Z(3, 2);
  DDBLTFX fx{};
  fx.dwSize = sizeof fx;
  fx.dwFillDepth = 0x1FFFF;
  ASSERT_EQ(z->Blt(nullptr, nullptr, nullptr, DDBLT_DEPTHFILL | DDBLT_WAIT, &fx), DD_OK);
  int id = sim::SurfaceId(z);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(sim::ReadSurfacePixel(id, x, y), 0xFFFFu);
  EXPECT_EQ(ColorFill(z, 0), DDERR_INVALIDPARAMS);
  fx.dwSize = 99;
  EXPECT_EQ(z->Blt(nullptr, nullptr, nullptr, DDBLT_DEPTHFILL | DDBLT_WAIT, &fx), DDERR_INVALIDPARAMS);
}

TEST_F(DisplayTest, BltFastCopiesOnlyBetweenEqualFormatsAndInsideBothSurfaces) {
  IDirectDrawSurface7* src = Texture(PixelFormatName::R5G6B5, 4, 4);
  IDirectDrawSurface7* dst = Texture(PixelFormatName::R5G6B5, 6, 6);
  IDirectDrawSurface7* other = Texture(PixelFormatName::X1R5G5B5, 6, 6);
  int srcId = sim::SurfaceId(src);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      sim::WriteSurfacePixel(srcId, x, y, 0xFF000000u | (x * 0x40) << 16 | (y * 0x40));
  RECT part{1, 1, 3, 4};
  ASSERT_EQ(dst->BltFast(4, 2, src, &part, DDBLTFAST_NOCOLORKEY), DD_OK);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 2; ++x) EXPECT_EQ(Raw(dst, 4 + x, 2 + y), Raw(src, 1 + x, 1 + y));
  EXPECT_EQ(Raw(dst, 3, 2), 0u);

  struct Row {
    const char* what;
    IDirectDrawSurface7* dest;
    DWORD x, y;
    RECT rect;
    HRESULT expected;
  };
  const Row rows[] = {
      {"other format", other, 0, 0, {0, 0, 4, 4}, DDERR_INVALIDPIXELFORMAT},
      {"past the destination", dst, 3, 0, {0, 0, 4, 4}, DDERR_INVALIDRECT},
      {"past the source", dst, 0, 0, {0, 0, 5, 4}, DDERR_INVALIDRECT},
      {"huge point", dst, 0xFFFFFFF0u, 0, {0, 0, 4, 4}, DDERR_INVALIDRECT},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    RECT r = row.rect;
    EXPECT_EQ(row.dest->BltFast(row.x, row.y, src, &r, 0), row.expected);
  }
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(Raw(other, x, y), 0u);

  // The source key skips keyed pixels when asked for.
  DDCOLORKEY key{Raw(src, 0, 0), Raw(src, 0, 0)};
  DDCOLORKEY read{};
  EXPECT_EQ(src->GetColorKey(DDCKEY_SRCBLT, &read), DDERR_NOTFOUND);
  ASSERT_EQ(src->SetColorKey(DDCKEY_SRCBLT, &key), DD_OK);
  EXPECT_EQ(src->GetColorKey(DDCKEY_SRCBLT, &read), DD_OK);
  EXPECT_EQ(read.dwColorSpaceLowValue, key.dwColorSpaceLowValue);
  ASSERT_EQ(ColorFill(dst, 0x1234), DD_OK);
  ASSERT_EQ(dst->BltFast(0, 0, src, nullptr, DDBLTFAST_SRCCOLORKEY), DD_OK);
  EXPECT_EQ(Raw(dst, 0, 0), 0x1234u);
  EXPECT_EQ(Raw(dst, 1, 0), Raw(src, 1, 0));
}

TEST_F(DisplayTest, BltCopiesAndStretchesByPointSampling) {
  IDirectDrawSurface7* src = Texture(PixelFormatName::A8R8G8B8, 2, 2);
  IDirectDrawSurface7* dst = Texture(PixelFormatName::A8R8G8B8, 4, 4);
  int srcId = sim::SurfaceId(src);
  const std::uint32_t colours[] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
  for (int i = 0; i < 4; ++i) sim::WriteSurfacePixel(srcId, i % 2, i / 2, colours[i]);
  ASSERT_EQ(dst->Blt(nullptr, src, nullptr, DDBLT_WAIT, nullptr), DD_OK);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) EXPECT_EQ(Raw(dst, x, y), colours[(y / 2) * 2 + x / 2]);
  IDirectDrawSurface7* other = Texture(PixelFormatName::X8R8G8B8, 4, 4);
  EXPECT_EQ(other->Blt(nullptr, src, nullptr, DDBLT_WAIT, nullptr), DDERR_INVALIDPIXELFORMAT);
  DDBLTFX fx = Fill(0);
  EXPECT_EQ(dst->Blt(nullptr, src, nullptr, DDBLT_COLORFILL, &fx), DDERR_INVALIDPARAMS);
}

TEST_F(DisplayTest, ALostSurfaceFailsItsUsesAndRestoresPoisoned) {
  IDirectDrawSurface7* s = Texture(PixelFormatName::R5G6B5, 4, 4);
  IDirectDrawSurface7* src = Texture(PixelFormatName::R5G6B5, 4, 4);
  IDirectDrawSurface7* work = Work(PixelFormatName::R5G6B5, 4, 4);
  ASSERT_EQ(ColorFill(s, 0x1234), DD_OK);
  // Restoring a surface that is not lost keeps its contents.
  EXPECT_EQ(s->Restore(), DD_OK);
  EXPECT_EQ(Raw(s, 3, 3), 0x1234u);

  sim::LoseAllSurfaces();
  EXPECT_EQ(s->IsLost(), DDERR_SURFACELOST);
  EXPECT_EQ(work->IsLost(), DD_OK);  // system memory is never lost
  DDSURFACEDESC2 desc{};
  HDC dc = nullptr;
  EXPECT_EQ(s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DDERR_SURFACELOST);
  EXPECT_EQ(ColorFill(s, 0), DDERR_SURFACELOST);
  EXPECT_EQ(s->BltFast(0, 0, work, nullptr, 0), DDERR_SURFACELOST);
  EXPECT_EQ(work->BltFast(0, 0, s, nullptr, 0), DDERR_SURFACELOST);
  EXPECT_EQ(s->GetDC(&dc), DDERR_SURFACELOST);
  EXPECT_EQ(Raw(s, 0, 0), 0x1234u);  // nothing changed while lost

  ASSERT_EQ(s->Restore(), DD_OK);
  EXPECT_EQ(s->IsLost(), DD_OK);
  EXPECT_EQ(src->IsLost(), DDERR_SURFACELOST);  // each surface restores on its own
  sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(s));
  for (int i = 0; i < v.pitch * v.height; ++i) ASSERT_EQ(v.bits[i], 0xCD) << i;
  EXPECT_EQ(s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(s->Unlock(nullptr), DD_OK);
}

TEST_F(DisplayTest, DeviceContextsOnlyForLayoutsGdiTakes) {
  const struct {
    PixelFormatName format;
    HRESULT expected;
  } rows[] = {
      {PixelFormatName::R5G6B5, DD_OK},
      {PixelFormatName::X1R5G5B5, DD_OK},
      {PixelFormatName::A1R5G5B5, DD_OK},
      {PixelFormatName::X8R8G8B8, DD_OK},
      {PixelFormatName::A8R8G8B8, DD_OK},
      {PixelFormatName::A4R4G4B4, DDERR_CANTCREATEDC},
      {PixelFormatName::X4R4G4B4, DDERR_CANTCREATEDC},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.format));
    IDirectDrawSurface7* s = Texture(row.format, 2, 2);
    HDC dc = nullptr;
    EXPECT_EQ(s->GetDC(&dc), row.expected);
    EXPECT_EQ(dc != nullptr, row.expected == DD_OK);
    if (dc == nullptr) continue;
    HDC second = nullptr;
    EXPECT_EQ(s->GetDC(&second), DDERR_DCALREADYCREATED);
    EXPECT_EQ(s->ReleaseDC(dc), DD_OK);
    EXPECT_EQ(s->ReleaseDC(dc), DDERR_NODC);
  }
  IDirectDrawSurface7* z = Z(2, 2);
  HDC dc = nullptr;
  EXPECT_EQ(z->GetDC(&dc), DDERR_CANTCREATEDC);
}

TEST_F(DisplayTest, AReleasedSurfaceFailsEveryCallAndRecordsAViolation) {
  violationsExpected_ = true;
  IDirectDrawSurface7* s = nullptr;
  DDSURFACEDESC2 desc = FormatDesc(PixelFormatName::R5G6B5, 4, 4);
  ASSERT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DD_OK);
  int id = sim::SurfaceId(s);
  EXPECT_EQ(sim::LiveObjects(), 2);
  EXPECT_EQ(s->AddRef(), 2u);
  EXPECT_EQ(s->Release(), 1u);
  EXPECT_EQ(s->Release(), 0u);
  EXPECT_EQ(sim::LiveObjects(), 1);
  EXPECT_TRUE(sim::ViewSurface(id).released);
  // Its pixels are gone with it (a program making and releasing textures must not grow).
  EXPECT_EQ(sim::ViewSurface(id).bits, nullptr);
  sim::WriteSurfacePixel(id, 0, 0, 0xFFFFFFFF);
  EXPECT_EQ(sim::ReadSurfacePixel(id, 0, 0), 0u);
  EXPECT_TRUE(sim::DisplayViolations().empty());

  DDSURFACEDESC2 out{};
  HDC dc = nullptr;
  EXPECT_EQ(s->Lock(nullptr, &out, 0, nullptr), DDERR_INVALIDOBJECT);
  EXPECT_EQ(ColorFill(s, 0), DDERR_INVALIDOBJECT);
  EXPECT_EQ(s->GetDC(&dc), DDERR_INVALIDOBJECT);
  EXPECT_EQ(s->Restore(), DDERR_INVALIDOBJECT);
  EXPECT_EQ(s->Release(), 0u);
  IDirectDrawSurface7* live = Texture(PixelFormatName::R5G6B5, 4, 4);
  EXPECT_EQ(live->BltFast(0, 0, s, nullptr, 0), DDERR_INVALIDOBJECT);
  auto violations = sim::DisplayViolations();
  ASSERT_EQ(violations.size(), 6u);
  EXPECT_EQ(violations[0], "Lock on released texture#" + std::to_string(id));
  EXPECT_EQ(violations[4], "Release of released texture#" + std::to_string(id));
  EXPECT_EQ(violations[5], "BltFast with released texture#" + std::to_string(id));
  EXPECT_EQ(sim::DisplayCallsSince(0, sim::DisplayCall::Violation).size(), 6u);
}

TEST_F(DisplayTest, ReconfiguringTurnsHeldObjectsIntoZombies) {
  violationsExpected_ = true;
  IDirectDrawSurface7* s = nullptr;
  DDSURFACEDESC2 desc = FormatDesc(PixelFormatName::R5G6B5, 4, 4);
  ASSERT_EQ(dd_->CreateSurface(&desc, &s, nullptr), DD_OK);
  sim::ConfigureDisplay(sim::DefaultDisplayConfig());
  EXPECT_EQ(sim::LiveObjects(), 0);
  EXPECT_EQ(sim::SurfaceId(s), -1);
  DDSURFACEDESC2 out{};
  EXPECT_EQ(s->Lock(nullptr, &out, 0, nullptr), DDERR_INVALIDOBJECT);
  EXPECT_EQ(s->Release(), 0u);
  EXPECT_EQ(sim::DisplayViolations().size(), 2u);
  dd_ = nullptr;  // a zombie too
  MakeDirectDraw();
}

TEST_F(DisplayTest, AttachedZMustCoverTheSurfaceAndIsHeld) {
  IDirectDrawSurface7* target = Texture(PixelFormatName::R5G6B5, 4, 4, DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE);
  IDirectDrawSurface7* small = Z(2, 4);
  EXPECT_EQ(target->AddAttachedSurface(small), DDERR_CANNOTATTACHSURFACE);
  EXPECT_EQ(target->AddAttachedSurface(target), DDERR_CANNOTATTACHSURFACE);
  IDirectDrawSurface7* z = nullptr;
  DDSURFACEDESC2 desc = FormatDesc(PixelFormatName::D16, 4, 4, DDSCAPS_ZBUFFER);
  ASSERT_EQ(dd_->CreateSurface(&desc, &z, nullptr), DD_OK);
  ASSERT_EQ(target->AddAttachedSurface(z), DD_OK);
  EXPECT_EQ(target->AddAttachedSurface(small), DDERR_SURFACEALREADYATTACHED);
  int zId = sim::SurfaceId(z);
  EXPECT_EQ(sim::ViewSurface(sim::SurfaceId(target)).zId, zId);
  EXPECT_EQ(z->Release(), 1u);  // the target still holds it
  EXPECT_FALSE(sim::ViewSurface(zId).released);
  EXPECT_EQ(target->DeleteAttachedSurface(0, nullptr), DD_OK);
  EXPECT_TRUE(sim::ViewSurface(zId).released);
}

TEST_F(DisplayTest, FlipCopiesTheBackBufferAndPresentsTheFrame) {
  ASSERT_EQ(dd_->SetDisplayMode(8, 4, 16, 0, 0), DD_OK);
  IDirectDrawSurface7* front = Primary(true);
  DDSCAPS2 caps{DDSCAPS_BACKBUFFER, 0, 0, 0};
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
  owned_.push_back(back);
  RECT left{0, 0, 4, 4};
  ASSERT_EQ(ColorFill(back, 0xF800, &left), DD_OK);  // red in 5-6-5
  EXPECT_EQ(sim::VideoOutputName(), "offline");
  EXPECT_EQ(sim::PresentedFrameCount(), 0);
  ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  EXPECT_EQ(Raw(front, 0, 0), 0xF800u);
  EXPECT_EQ(Raw(back, 0, 0), 0xF800u);  // the back buffer keeps its contents
  EXPECT_EQ(sim::PresentedFrameCount(), 1);
  std::vector<std::uint32_t> frame;
  int width = 0, height = 0;
  ASSERT_TRUE(sim::LastPresentedFrame(&frame, &width, &height));
  ASSERT_EQ(width, 8);
  ASSERT_EQ(height, 4);
  EXPECT_EQ(frame[0], 0xFFFF0000u);
  EXPECT_EQ(frame[7], 0xFF000000u);
  EXPECT_EQ(back->Flip(nullptr, 0), DDERR_NOTFLIPPABLE);
  sim::LoseSurface(sim::SurfaceId(back));
  EXPECT_EQ(front->Flip(nullptr, 0), DDERR_SURFACELOST);
  EXPECT_EQ(sim::PresentedFrameCount(), 1);
}

// A 32-bit frame is presented by rows: its raw pixels with the unused byte made opaque,
// the row padding left out.
TEST_F(DisplayTest, APresented32BitFrameKeepsItsColoursWithFullAlpha) {
  ASSERT_EQ(dd_->SetDisplayMode(9, 3, 32, 0, 0), DD_OK);
  IDirectDrawSurface7* front = Primary(true);
  DDSCAPS2 caps{DDSCAPS_BACKBUFFER, 0, 0, 0};
  IDirectDrawSurface7* back = nullptr;
  ASSERT_EQ(front->GetAttachedSurface(&caps, &back), DD_OK);
  owned_.push_back(back);
  DDSURFACEDESC2 desc{};
  desc.dwSize = sizeof desc;
  ASSERT_EQ(back->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 9; ++x) {
      const std::uint32_t raw = 0x01000000u * (x + 16 * y) | 0x010203u * (x + 1) * (y + 3);
      std::memcpy(static_cast<std::uint8_t*>(desc.lpSurface) + y * desc.lPitch + 4 * x, &raw, 4);
    }
  ASSERT_EQ(back->Unlock(nullptr), DD_OK);
  ASSERT_EQ(front->Flip(nullptr, DDFLIP_WAIT), DD_OK);
  std::vector<std::uint32_t> frame;
  int width = 0, height = 0;
  ASSERT_TRUE(sim::LastPresentedFrame(&frame, &width, &height));
  ASSERT_EQ(width, 9);
  ASSERT_EQ(height, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 9; ++x)
      EXPECT_EQ(frame[y * 9 + x], 0xFF000000u | (0x010203u * (x + 1) * (y + 3) & 0xFFFFFFu)) << x << "," << y;
}

// Copies within one surface read the source as it was before any pixel is written,
// whichever way the rectangles overlap; copies between surfaces go by rows.
TEST_F(DisplayTest, OverlappingCopiesWithinASurfaceReadTheOldPixels) {
  struct Row {
    PixelFormatName format;
    int x, y;  // where the block {1, 1, 6, 5} goes
  };
  const Row rows[] = {{PixelFormatName::X8R8G8B8, 2, 2},
                      {PixelFormatName::X8R8G8B8, 0, 0},
                      {PixelFormatName::R5G6B5, 3, 1},
                      {PixelFormatName::A8R8G8B8, 1, 2},
                      {PixelFormatName::A8R8G8B8, 2, 0}};
  for (const Row& row : rows) {
    SCOPED_TRACE(static_cast<int>(row.format));
    IDirectDrawSurface7* s = Texture(row.format, 9, 7);
    const int id = sim::SurfaceId(s);
    RECT from{1, 1, 6, 5};
    for (int way = 0; way < 2; ++way) {  // BltFast, then an unstretched Blt
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
          sim::WriteSurfacePixel(id, x, y, 0xFF000000u | (x * 0x1C) << 16 | (y * 0x24) << 8);
      std::uint32_t before[7][9];
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) before[y][x] = Raw(s, x, y);
      RECT to{row.x, row.y, row.x + 5, row.y + 4};
      ASSERT_EQ(way == 0 ? s->BltFast(DWORD(row.x), DWORD(row.y), s, &from, DDBLTFAST_WAIT)
                         : s->Blt(&to, s, &from, DDBLT_WAIT, nullptr),
                DD_OK);
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
          const bool inside = x >= row.x && x < row.x + 5 && y >= row.y && y < row.y + 4;
          EXPECT_EQ(Raw(s, x, y), inside ? before[y - row.y + 1][x - row.x + 1] : before[y][x])
              << way << ": " << x << "," << y;
        }
    }
    // A second surface takes the block row by row.
    IDirectDrawSurface7* other = Texture(row.format, 9, 7);
    ASSERT_EQ(other->BltFast(3, 2, s, &from, DDBLTFAST_WAIT), DD_OK);
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 9; ++x) {
        const bool inside = x >= 3 && x < 8 && y >= 2 && y < 6;
        EXPECT_EQ(Raw(other, x, y), inside ? Raw(s, x - 2, y - 1) : 0u) << x << "," << y;
      }
  }
}

TEST_F(DisplayTest, PngOutputWritesEachPresentedFrame) {
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("display_png_" + std::to_string(getpid()));
  std::filesystem::remove_all(dir);
  sim::SetVideoOutput("png:" + dir.string());
  EXPECT_EQ(sim::VideoOutputName(), "png");
  ASSERT_EQ(dd_->SetDisplayMode(3, 2, 32, 0, 0), DD_OK);
  IDirectDrawSurface7* front = Primary(false);
  int id = sim::SurfaceId(front);
  const std::uint32_t colours[] = {0x102030, 0x405060, 0x708090, 0xA0B0C0, 0xD0E0F0, 0x010203};
  for (int i = 0; i < 6; ++i) sim::WriteSurfacePixel(id, i % 3, i / 3, colours[i]);
  ASSERT_EQ(front->Flip(nullptr, 0), DD_OK);
  ASSERT_EQ(front->Flip(nullptr, 0), DD_OK);

  for (const char* name : {"frame_000001.png", "frame_000002.png"}) {
    SCOPED_TRACE(name);
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_file(&image, (dir / name).c_str()));
    image.format = PNG_FORMAT_RGB;
    ASSERT_EQ(image.width, 3u);
    ASSERT_EQ(image.height, 2u);
    std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr));
    for (int i = 0; i < 6; ++i) {
      std::uint32_t got = static_cast<std::uint32_t>(rgb[i * 3] << 16 | rgb[i * 3 + 1] << 8 | rgb[i * 3 + 2]);
      EXPECT_EQ(got, colours[i]) << i;
    }
  }
  std::filesystem::remove_all(dir);
}

TEST_F(DisplayTest, VideoOutputFollowsTheEnvironmentAndFallsBackQuietly) {
  std::string dir =
      (std::filesystem::temp_directory_path() / ("display_env_" + std::to_string(getpid()))).string();
  setenv("GAMELIB_VIDEO", ("png:" + dir).c_str(), 1);
  sim::SetVideoOutput("");
  EXPECT_EQ(sim::VideoOutputName(), "png");
  // A window that cannot open leaves the frames in memory.
  setenv("SDL_VIDEODRIVER", "no_such_driver", 1);
  setenv("GAMELIB_VIDEO", "sdl", 1);
  sim::SetVideoOutput("");
  EXPECT_EQ(sim::VideoOutputName(), "offline");
  setenv("GAMELIB_VIDEO", "something else", 1);
  sim::SetVideoOutput("");
  EXPECT_EQ(sim::VideoOutputName(), "offline");
  unsetenv("GAMELIB_VIDEO");
  unsetenv("SDL_VIDEODRIVER");
  // A directory that cannot be made: offline as well.
  sim::SetVideoOutput("png:/proc/no/such/dir");
  EXPECT_EQ(sim::VideoOutputName(), "offline");
  std::filesystem::remove_all(dir);
}

TEST_F(DisplayTest, WithoutTheTraceFaultsAndViolationsStillWork) {
  violationsExpected_ = true;
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.trace = false;
  Reconfigure(config);
  sim::AddDisplayFault({sim::DisplayCall::Lock, {}, 0, 1, DDERR_SURFACEBUSY});
  IDirectDrawSurface7* s = Texture(PixelFormatName::R5G6B5, 2, 2);
  DDSURFACEDESC2 desc{};
  EXPECT_EQ(s->Lock(nullptr, &desc, 0, nullptr), DDERR_SURFACEBUSY);
  EXPECT_EQ(s->Lock(nullptr, &desc, 0, nullptr), DD_OK);
  EXPECT_EQ(s->Unlock(nullptr), DD_OK);
  EXPECT_EQ(s->AddRef(), 2u);
  EXPECT_EQ(s->Release(), 1u);
  owned_.clear();
  EXPECT_EQ(s->Release(), 0u);
  EXPECT_EQ(s->IsLost(), DDERR_INVALIDOBJECT);
  EXPECT_EQ(sim::DisplayViolations().size(), 1u);
  EXPECT_TRUE(sim::DisplayTrace().empty());
}
