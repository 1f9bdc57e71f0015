// GDI over surface device contexts: BitBlt's conversion and clipping, its failures
// through GetLastError, the screen's metrics, and Sleep in the display trace.
#include <thread>

#include "display_fixture.h"

using sim::PixelFormatName;

namespace {

// The expected result, worked out here apart from the stand-in: channels widen by
// repeating their bits, narrow by dropping the low bits; GDI writes alpha 0.
struct Masks {
  int r, g, b, a;      // bit widths
  int rs, gs, bs, as;  // shifts
};
Masks MasksOf(PixelFormatName f) {
  switch (f) {
    case PixelFormatName::R5G6B5:
      return {5, 6, 5, 0, 11, 5, 0, 0};
    case PixelFormatName::X1R5G5B5:
      return {5, 5, 5, 0, 10, 5, 0, 0};
    case PixelFormatName::A1R5G5B5:
      return {5, 5, 5, 1, 10, 5, 0, 15};
    case PixelFormatName::X8R8G8B8:
      return {8, 8, 8, 0, 16, 8, 0, 0};
    default:
      return {8, 8, 8, 8, 16, 8, 0, 24};
  }
}
std::uint32_t Widen(std::uint32_t v, int bits) {
  std::uint32_t out = 0;
  for (int filled = 0; filled < 8; filled += bits) out = (out << bits) | v;
  return (out >> ((8 + bits - 1) / bits * bits - 8)) & 0xFF;
}
std::uint32_t Convert(std::uint32_t raw, PixelFormatName from, PixelFormatName to) {
  Masks s = MasksOf(from), d = MasksOf(to);
  std::uint32_t r = Widen((raw >> s.rs) & ((1u << s.r) - 1), s.r);
  std::uint32_t g = Widen((raw >> s.gs) & ((1u << s.g) - 1), s.g);
  std::uint32_t b = Widen((raw >> s.bs) & ((1u << s.b) - 1), s.b);
  return (r >> (8 - d.r)) << d.rs | (g >> (8 - d.g)) << d.gs | (b >> (8 - d.b)) << d.bs;
}

constexpr PixelFormatName kGdiFormats[] = {PixelFormatName::R5G6B5, PixelFormatName::X1R5G5B5,
                                           PixelFormatName::A1R5G5B5, PixelFormatName::X8R8G8B8,
                                           PixelFormatName::A8R8G8B8};

}  // namespace

TEST_F(DisplayTest, BitBltConvertsBetweenEveryPairOfLayouts) {
  const std::uint32_t raws[] = {0x00000000, 0xFFFFFFFF, 0x12345678, 0x8421F0E1, 0x7BEF3DCE, 0xA5C3963C};
  for (PixelFormatName from : kGdiFormats) {
    for (PixelFormatName to : kGdiFormats) {
      SCOPED_TRACE(std::to_string(static_cast<int>(from)) + " -> " + std::to_string(static_cast<int>(to)));
      IDirectDrawSurface7* src = Texture(from, 6, 1);
      IDirectDrawSurface7* dst = Texture(to, 6, 1);
      bool wide = MasksOf(from).r == 8;
      DDSURFACEDESC2 desc{};
      ASSERT_EQ(src->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr), DD_OK);
      for (int i = 0; i < 6; ++i) {
        if (wide) {
          static_cast<std::uint32_t*>(desc.lpSurface)[i] = raws[i];
        } else {
          static_cast<WORD*>(desc.lpSurface)[i] = static_cast<WORD>(raws[i]);
        }
      }
      ASSERT_EQ(src->Unlock(nullptr), DD_OK);
      ASSERT_EQ(ColorFill(dst, 0xFFFFFFFF), DD_OK);
      HDC s = nullptr, d = nullptr;
      ASSERT_EQ(src->GetDC(&s), DD_OK);
      ASSERT_EQ(dst->GetDC(&d), DD_OK);
      EXPECT_EQ(BitBlt(d, 0, 0, 6, 1, s, 0, 0, SRCCOPY), TRUE);
      EXPECT_EQ(dst->ReleaseDC(d), DD_OK);
      EXPECT_EQ(src->ReleaseDC(s), DD_OK);
      for (int i = 0; i < 6; ++i) {
        std::uint32_t raw = wide ? raws[i] : raws[i] & 0xFFFF;
        EXPECT_EQ(Raw(dst, i, 0), Convert(raw, from, to)) << i;
      }
    }
  }
}

TEST_F(DisplayTest, BitBltClipsToBothSurfaces) {
  IDirectDrawSurface7* src = Texture(PixelFormatName::X8R8G8B8, 4, 4);
  IDirectDrawSurface7* dst = Texture(PixelFormatName::X8R8G8B8, 5, 3);
  int srcId = sim::SurfaceId(src);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      sim::WriteSurfacePixel(srcId, x, y, static_cast<std::uint32_t>(0x10 * y + x + 1));
  HDC s = nullptr, d = nullptr;
  ASSERT_EQ(src->GetDC(&s), DD_OK);
  ASSERT_EQ(dst->GetDC(&d), DD_OK);
  // Destination from (-1, 1), source from (0, -1), 10 x 10: only the overlap moves.
  EXPECT_EQ(BitBlt(d, -1, 1, 10, 10, s, 0, -1, SRCCOPY), TRUE);
  EXPECT_EQ(BitBlt(d, 0, 0, 0, 5, s, 0, 0, SRCCOPY), TRUE);
  EXPECT_EQ(dst->ReleaseDC(d), DD_OK);
  EXPECT_EQ(src->ReleaseDC(s), DD_OK);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) {
      // dest (x, y) takes source (x + 1, y - 2) where both exist.
      int sx = x + 1, sy = y - 2;
      std::uint32_t expected =
          (y >= 1 && sx < 4 && sy >= 0) ? static_cast<std::uint32_t>(0x10 * sy + sx + 1) : 0;
      EXPECT_EQ(Raw(dst, x, y), expected) << x << "," << y;
    }
  }
}

TEST_F(DisplayTest, BitBltFailuresSetTheLastError) {
  IDirectDrawSurface7* src = Texture(PixelFormatName::R5G6B5, 4, 4);
  IDirectDrawSurface7* dst = Texture(PixelFormatName::R5G6B5, 4, 4);
  ASSERT_EQ(ColorFill(src, 0xFFFF), DD_OK);
  HDC s = nullptr, d = nullptr;
  ASSERT_EQ(src->GetDC(&s), DD_OK);
  ASSERT_EQ(dst->GetDC(&d), DD_OK);
  SetLastError(0);
  EXPECT_EQ(BitBlt(d, 0, 0, 4, 4, reinterpret_cast<HDC>(&s), 0, 0, SRCCOPY), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(BitBlt(d, 0, 0, 4, 4, s, 0, 0, 0x00EE0086), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  sim::DisplayFault fault{sim::DisplayCall::BitBlt, {}, 1, 2};
  fault.lastError = 1234;
  sim::AddDisplayFault(fault);
  EXPECT_EQ(BitBlt(d, 0, 0, 1, 1, s, 0, 0, SRCCOPY), TRUE);
  SetLastError(0);
  EXPECT_EQ(BitBlt(d, 0, 0, 4, 4, s, 0, 0, SRCCOPY), FALSE);
  EXPECT_EQ(GetLastError(), 1234u);
  EXPECT_EQ(BitBlt(d, 0, 0, 4, 4, s, 0, 0, SRCCOPY), FALSE);
  sim::FailCall("BitBlt", 1);
  EXPECT_EQ(BitBlt(d, 0, 0, 4, 4, s, 0, 0, SRCCOPY), FALSE);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(dst->ReleaseDC(d), DD_OK);
  EXPECT_EQ(src->ReleaseDC(s), DD_OK);
  EXPECT_EQ(Raw(dst, 0, 0), 0xFFFFu);  // the one that went through
  EXPECT_EQ(Raw(dst, 1, 0), 0u);       // the failed ones copied nothing
  auto calls = sim::DisplayCallsSince(0, sim::DisplayCall::BitBlt);
  ASSERT_EQ(calls.size(), 6u);
  EXPECT_EQ(calls[3].surface, sim::SurfaceId(dst));
  EXPECT_EQ(calls[3].surface2, sim::SurfaceId(src));

  // The last error belongs to the thread that set it.
  SetLastError(7);
  std::thread([] { SetLastError(99); }).join();
  EXPECT_EQ(GetLastError(), 7u);
}

TEST_F(DisplayTest, MetricsFollowTheConfiguredDesktopAndSleepIsTraced) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.desktopWidth = 1024;
  config.desktopHeight = 768;
  Reconfigure(config);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
  EXPECT_EQ(GetSystemMetrics(42), 0);
  std::size_t mark = sim::DisplayTraceMark();
  Sleep(0);
  auto sleeps = sim::DisplayCallsSince(mark, sim::DisplayCall::Sleep);
  ASSERT_EQ(sleeps.size(), 1u);
  EXPECT_EQ(sleeps[0].value, 0u);
}
