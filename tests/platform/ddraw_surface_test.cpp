// DirectDraw surfaces: creation, locks, fills, copies, loss and restore, device contexts.
#include "display_fixture.h"

TEST_F(DisplayTest, SmokeCreatesAndFills) {
  IDirectDrawSurface7* t = Texture(sim::PixelFormatName::R5G6B5, 4, 4);
  ASSERT_NE(t, nullptr);
  DDBLTFX fx = Fill(0x12345678);
  ASSERT_EQ(t->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL | DDBLT_WAIT, &fx), DD_OK);
  DDSURFACEDESC2 desc{};
  ASSERT_EQ(t->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
  EXPECT_EQ(*static_cast<WORD*>(desc.lpSurface), 0x5678);
  EXPECT_EQ(t->Unlock(nullptr), DD_OK);
  IDirect3DDevice7* device = Device(t);
  ASSERT_NE(device, nullptr);
  EXPECT_EQ(device->BeginScene(), D3D_OK);
  EXPECT_EQ(device->EndScene(), D3D_OK);
}
