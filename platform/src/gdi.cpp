// GDI over surface device contexts (BitBlt with pixel-format conversion), the
// screen's metrics, and the thread's last error that they report through.
#include <algorithm>
#include <vector>

#include "display_internal.h"
#include "platform/wingdi.h"

namespace {
thread_local DWORD lastError = 0;
}  // namespace

DWORD GetLastError() { return lastError; }
void SetLastError(DWORD error) { lastError = error; }

namespace platform::display {
namespace {

Surface* SurfaceOfDc(HDC dc) {
  auto& dcs = TheWorld().dcs;
  auto it = dcs.find(dc);
  return it == dcs.end() ? nullptr : it->second;
}

BOOL Fail(CallScope& scope, DWORD error) {
  SetLastError(error);
  scope.Done(E_FAIL);
  return FALSE;
}

}  // namespace
}  // namespace platform::display

BOOL BitBlt(HDC dest, int x, int y, int width, int height, HDC source, int sourceX, int sourceY, DWORD rop) {
  using namespace platform::display;
  namespace pixel = platform::pixel;
  CallScope scope(sim::DisplayCall::BitBlt, nullptr);
  Surface* dst = SurfaceOfDc(dest);
  Surface* src = SurfaceOfDc(source);
  scope.rec.type = rop;
  scope.rec.surface = dst != nullptr ? dst->id : -1;
  scope.rec.surface2 = src != nullptr ? src->id : -1;
  scope.rec.hasRect = true;
  scope.rec.rect =
      RECT{x, y, static_cast<LONG>(std::int64_t{x} + width), static_cast<LONG>(std::int64_t{y} + height)};
  scope.rec.point = POINT{sourceX, sourceY};
  if (HRESULT hr = scope.Enter(); FAILED(hr)) {
    return Fail(scope, scope.lastError);
  }
  if (dst == nullptr || src == nullptr || dst->zombie || src->zombie)
    return Fail(scope, ERROR_INVALID_HANDLE);
  if (rop != SRCCOPY || width < 0 || height < 0) return Fail(scope, ERROR_INVALID_PARAMETER);
  if (dst->lost || src->lost) return Fail(scope, ERROR_INVALID_HANDLE);
  // Clip to both surfaces, keeping source and destination in step.
  std::int64_t dx0 = x, dy0 = y, sx0 = sourceX, sy0 = sourceY, w = width, h = height;
  auto clip = [](std::int64_t& a, std::int64_t& b, std::int64_t& size, std::int64_t limitA,
                 std::int64_t limitB) {
    std::int64_t cut = std::max<std::int64_t>({0, -a, -b});
    a += cut;
    b += cut;
    size -= cut;
    size = std::min({size, limitA - a, limitB - b});
  };
  clip(dx0, sx0, w, dst->width, src->width);
  clip(dy0, sy0, h, dst->height, src->height);
  if (w <= 0 || h <= 0) {
    scope.Done(S_OK);
    return TRUE;
  }
  // Through ARGB, read whole first: the two contexts may be one surface. GDI ignores
  // alpha and writes 0 into it.
  std::vector<std::uint32_t> block(static_cast<std::size_t>(w * h));
  for (std::int64_t j = 0; j < h; ++j) {
    for (std::int64_t i = 0; i < w; ++i) {
      block[j * w + i] =
          pixel::ReadARGB(src->layout, src->At(static_cast<int>(sx0 + i), static_cast<int>(sy0 + j))) &
          0x00FFFFFFu;
    }
  }
  for (std::int64_t j = 0; j < h; ++j) {
    for (std::int64_t i = 0; i < w; ++i)
      pixel::WriteARGB(dst->layout, dst->At(static_cast<int>(dx0 + i), static_cast<int>(dy0 + j)),
                       block[j * w + i]);
  }
  scope.Done(S_OK);
  return TRUE;
}

int GetSystemMetrics(int index) {
  using namespace platform::display;
  CallScope scope(sim::DisplayCall::GetSystemMetrics, nullptr);
  scope.rec.type = static_cast<DWORD>(index);
  World& w = TheWorld();
  int value = index == SM_CXSCREEN ? w.modeWidth : index == SM_CYSCREEN ? w.modeHeight : 0;
  scope.rec.value = static_cast<DWORD>(value);
  scope.Done(S_OK);
  return value;
}
