// The 3-D device on arbitrary input, in two halves that the first byte chooses (or runs
// one after the other). The rasteriser half: the input picks the target, Z and texture
// layouts and sizes, render and stage states (sensible values or raw ones), the
// viewport, the primitive type and format, then gives the vertex and index bytes. Each
// draw runs on the portable path and, where there is one, the SIMD path: a crash, an
// access outside the surfaces, a broken report or two paths that disagree is a finding.
// The device half drives the same through the COM interfaces (below).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d3d_raster.h"
#include "d3d_raster_internal.h"
#include "fuzz_input.h"
#include "platform/d3d.h"
#include "platform/sim.h"

namespace {

using platform::pixel::Layout;
namespace raster = platform::raster;

using fuzz::Check;

struct Input : fuzz::ByteReader {
  // Mostly a value from the list, sometimes the next raw dword.
  DWORD Pick(std::initializer_list<DWORD> values) {
    const std::uint8_t b = Byte();
    if (b >= 0xF0) return Dword();
    return values.begin()[b % values.size()];
  }
};

constexpr Layout kColourLayouts[] = {Layout::R5G6B5,   Layout::X1R5G5B5, Layout::A1R5G5B5, Layout::A4R4G4B4,
                                     Layout::X4R4G4B4, Layout::X8R8G8B8, Layout::A8R8G8B8};

struct Image {
  std::vector<std::uint8_t> memory;
  raster::Surface surface;
  Image(Layout layout, int width, int height, std::uint8_t fill) {
    surface.layout = layout, surface.width = width, surface.height = height;
    surface.pitch = width * platform::pixel::BytesPerPixel(layout) + (fill & 3);
    memory.resize(std::size_t(surface.pitch) * height);
    for (std::size_t k = 0; k < memory.size(); ++k) memory[k] = std::uint8_t(fill + k * 37);
    surface.bits = memory.data();
  }
};

// The rasteriser alone, portable against SIMD.
void RasterHalf(Input& in) {
  const Layout targetLayout = kColourLayouts[in.Byte() % 7];
  const int width = 1 + in.Byte() % 80, height = 1 + in.Byte() % 60;
  const std::uint8_t fill = in.Byte();

  DWORD rs[kD3DRenderStateCount] = {};
  DWORD ss[kD3DMaxStages][kD3DStageStateCount] = {};
  rs[D3DRENDERSTATE_ZENABLE] = in.Pick({0, 1, 2});
  rs[D3DRENDERSTATE_ZWRITEENABLE] = in.Byte() & 1;
  rs[D3DRENDERSTATE_ZFUNC] = in.Pick({1, 2, 3, 4, 5, 6, 7, 8});
  rs[D3DRENDERSTATE_ALPHATESTENABLE] = in.Byte() & 1;
  rs[D3DRENDERSTATE_ALPHAFUNC] = in.Pick({1, 2, 3, 4, 5, 6, 7, 8});
  rs[D3DRENDERSTATE_ALPHAREF] = in.Dword();
  rs[D3DRENDERSTATE_ALPHABLENDENABLE] = in.Byte() & 1;
  rs[D3DRENDERSTATE_SRCBLEND] = in.Pick({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  rs[D3DRENDERSTATE_DESTBLEND] = in.Pick({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  rs[D3DRENDERSTATE_CULLMODE] = in.Pick({1, 2, 3});
  rs[D3DRENDERSTATE_COLORKEYENABLE] = in.Byte() & 1;
  rs[D3DRENDERSTATE_TEXTUREFACTOR] = in.Dword();

  std::vector<Image> textures;
  textures.reserve(kD3DMaxStages);  // bound[] points into it
  const raster::Surface* bound[kD3DMaxStages] = {};
  const int stages = 1 + in.Byte() % 3;
  for (int k = 0; k < stages; ++k) {
    ss[k][D3DTSS_COLOROP] = in.Pick({1, 2, 3, 4, 5, 6, 7, 10, 12, 16});
    ss[k][D3DTSS_ALPHAOP] = in.Pick({1, 2, 3, 4, 5, 6, 7, 10, 12, 16});
    for (DWORD arg : {D3DTSS_COLORARG1, D3DTSS_COLORARG2, D3DTSS_ALPHAARG1, D3DTSS_ALPHAARG2})
      ss[k][arg] = in.Pick({0, 1, 2, 3, 4, 0x10, 0x12, 0x11});
    ss[k][D3DTSS_TEXCOORDINDEX] = in.Pick({0, 1, 2});
    ss[k][D3DTSS_ADDRESSU] = in.Pick({1, 2, 3, 4});
    ss[k][D3DTSS_ADDRESSV] = in.Pick({1, 2, 3, 4});
    ss[k][D3DTSS_BORDERCOLOR] = in.Dword();
    ss[k][D3DTSS_MAGFILTER] = in.Pick({1, 2, 3});
    if (in.Byte() & 1) {
      textures.emplace_back(kColourLayouts[in.Byte() % 7], 1 + in.Byte() % 33, 1 + in.Byte() % 33, in.Byte());
      Image& t = textures.back();
      t.surface.hasColorKey = in.Byte() & 1;
      t.surface.colorKey =
          in.Byte() & 1 ? in.Dword() : platform::pixel::ReadRaw(t.surface.layout, t.surface.bits);
      bound[k] = &t.surface;
    }
  }
  D3DVIEWPORT7 viewport{};
  if (in.Byte() & 1) {
    viewport = {in.Dword(), in.Dword(), in.Dword(), in.Dword(), 0, 1};
  } else {
    viewport.dwX = in.Byte() % width, viewport.dwY = in.Byte() % height;
    viewport.dwWidth = 1 + in.Byte() % width, viewport.dwHeight = 1 + in.Byte() % height;
  }
  const bool withZ = in.Byte() & 1;
  const int zWidth = width - (in.Byte() % 4 == 0), zHeight = height;

  const D3DPRIMITIVETYPE type = in.Pick({D3DPT_TRIANGLELIST, D3DPT_TRIANGLESTRIP});
  const DWORD fvf = in.Pick({0x44, 0x144, 0x2C4});
  const int stride = raster::VertexStride(fvf);
  const DWORD vertexCount = in.Byte() % 24;
  std::vector<std::uint8_t> vertices(std::size_t(vertexCount) * (stride ? stride : 4));
  const bool smallCoordinates = in.Byte() & 1;
  for (std::size_t k = 0; k < vertices.size(); ++k) vertices[k] = in.Byte();
  if (smallCoordinates && stride)
    for (DWORD v = 0; v < vertexCount; ++v)
      for (int c = 0; c < 2; ++c) {
        // Positions on quarter pixels around the target, so that edges meet centres.
        const float f = (std::int8_t(vertices[v * stride + c * 4]) + 16) * 0.25f;
        std::memcpy(&vertices[v * stride + c * 4], &f, 4);
      }
  std::vector<WORD> indices;
  const bool indexed = in.Byte() & 1;
  if (indexed) {
    indices.resize(in.Byte() % 40);
    for (WORD& i : indices) i = WORD(in.Byte() % 28);
  }

  std::vector<std::uint8_t> results[2];
  for (int pass = 0; pass < 2; ++pass) {
    if (!raster::SetRasterPath(pass ? raster::RasterPath::Avx2 : raster::RasterPath::Portable)) break;
    Image target(targetLayout, width, height, fill), z(Layout::D16, zWidth > 0 ? zWidth : 1, zHeight, fill);
    raster::State state;
    state.renderState = rs;
    state.stageState = ss;
    for (int k = 0; k < stages; ++k) state.texture[k] = bound[k];
    state.target = target.surface;
    state.z = withZ ? &z.surface : nullptr;
    state.viewport = viewport;
    raster::DrawReport report;
    const HRESULT hr =
        raster::DrawTriangles(state, type, fvf, vertices.data(), vertexCount,
                              indexed ? indices.data() : nullptr, DWORD(indices.size()), &report);
    Check(hr == D3D_OK || hr == D3DERR_INVALIDPRIMITIVETYPE || hr == D3DERR_INVALIDVERTEXFORMAT);
    Check(report.trianglesDrawn >= 0 && report.trianglesSkipped >= 0 && report.badIndices >= 0);
    Check(report.badIndices <= int(indices.size()));
    results[pass] = target.memory;
    results[pass].insert(results[pass].end(), z.memory.begin(), z.memory.end());
  }
  if (!results[1].empty()) Check(results[0] == results[1]);
  raster::SetRasterPath(raster::BestRasterPath());
}

// The device through its interfaces. The input configures the display, makes surfaces
// in chosen or raw formats and sizes, a device over one of them, then runs a script of
// state changes, bindings, scenes, locks and draws. The stand-in must answer every bad
// argument with an error and leave everything as it was, record a violation only where
// one is due, and be back to its starting count of live objects once all is released.
// The script runs once per raster path and the surfaces must end the same.

constexpr sim::PixelFormatName kAllFormats[] = {
    sim::PixelFormatName::R5G6B5,   sim::PixelFormatName::X1R5G5B5, sim::PixelFormatName::A1R5G5B5,
    sim::PixelFormatName::A4R4G4B4, sim::PixelFormatName::X4R4G4B4, sim::PixelFormatName::X8R8G8B8,
    sim::PixelFormatName::A8R8G8B8, sim::PixelFormatName::R8G8B8,   sim::PixelFormatName::P8,
    sim::PixelFormatName::A8R3G3B2, sim::PixelFormatName::L8,       sim::PixelFormatName::A8L8,
    sim::PixelFormatName::V8U8,     sim::PixelFormatName::DXT1,     sim::PixelFormatName::A8,
    sim::PixelFormatName::D16,      sim::PixelFormatName::D15S1,    sim::PixelFormatName::D24S8,
    sim::PixelFormatName::D32,      sim::PixelFormatName::D24X8};
constexpr int kCreatableColours = 7;  // the first seven
constexpr int kD16 = 15;

const GUID* const kClasses[] = {&IID_IDirect3DHALDevice, &IID_IDirect3DTnLHalDevice, &IID_IDirect3DRGBDevice,
                                &IID_IDirect3DRefDevice, &IID_IDirect3DMMXDevice};

// Everything a failed call must leave alone.
struct World {
  struct SurfaceState {
    int id;
    sim::SurfaceView view;
    std::vector<std::uint8_t> bits;
  };
  std::vector<SurfaceState> surfaces;
  std::vector<sim::DeviceView> devices;

  bool operator==(const World& o) const {
    if (surfaces.size() != o.surfaces.size() || devices.size() != o.devices.size()) return false;
    for (std::size_t k = 0; k < surfaces.size(); ++k) {
      const SurfaceState &a = surfaces[k], &b = o.surfaces[k];
      if (a.id != b.id || a.bits != b.bits || a.view.lost != b.view.lost || a.view.locked != b.view.locked ||
          a.view.released != b.view.released || a.view.referenceCount != b.view.referenceCount ||
          a.view.zId != b.view.zId || a.view.hasColorKey != b.view.hasColorKey ||
          a.view.colorKey != b.view.colorKey)
        return false;
    }
    for (std::size_t k = 0; k < devices.size(); ++k) {
      const sim::DeviceView &a = devices[k], &b = o.devices[k];
      if (a.released != b.released || a.target != b.target || a.inScene != b.inScene ||
          std::memcmp(a.renderState, b.renderState, sizeof a.renderState) != 0 ||
          std::memcmp(a.stageState, b.stageState, sizeof a.stageState) != 0 ||
          std::memcmp(a.texture, b.texture, sizeof a.texture) != 0 ||
          std::memcmp(&a.viewport, &b.viewport, sizeof a.viewport) != 0 ||
          std::memcmp(a.transform, b.transform, sizeof a.transform) != 0)
        return false;
    }
    return true;
  }
};

class DeviceScript {
 public:
  explicit DeviceScript(Input in) : in_(in) {}

  // Runs the script; the pixels of every surface still alive at the end, in id order.
  std::vector<std::uint8_t> Run() {
    Configure();
    const int liveAtStart = sim::LiveObjects();
    void* object = nullptr;
    Check(DirectDrawCreateEx(nullptr, &object, IID_IDirectDraw7, nullptr) == DD_OK);
    dd_ = static_cast<IDirectDraw7*>(object);
    Check(dd_->QueryInterface(IID_IDirect3D7, reinterpret_cast<void**>(&d3d_)) == DD_OK && d3d_ != nullptr);

    // The first surface is always a usable target, so that most inputs reach the device.
    MakeSurface(true);
    const int extra = in_.Byte() % 7;
    for (int k = 0; k < extra; ++k) MakeSurface(false);
    MakeDevice();
    if (in_.Byte() % 4 == 0) MakeDevice();
    if (devices_.empty()) {
      IDirect3DDevice7* device = nullptr;
      Check(d3d_->CreateDevice(IID_IDirect3DHALDevice, surfaces_[0], &device) == D3D_OK);
      devices_.push_back(device);
    }

    const int steps = 1 + in_.Byte() % 48;
    for (int k = 0; k < steps && in_.size > 0; ++k) Step();

    std::vector<std::uint8_t> pixels;
    for (int id : sim::LiveSurfaceIds()) {
      const sim::SurfaceView v = sim::ViewSurface(id);
      pixels.insert(pixels.end(), v.bits, v.bits + std::size_t(v.pitch) * v.height);
    }
    std::vector<std::string> violations = sim::DisplayViolations();
    pixels.insert(pixels.end(), violations.size(), 0xEE);

    for (IDirect3DDevice7* device : devices_) device->Release();
    for (IDirectDrawSurface7* s : surfaces_)
      if (s != nullptr) s->Release();
    d3d_->Release();
    dd_->Release();
    Check(sim::LiveObjects() == liveAtStart);
    return pixels;
  }

 private:
  void Configure() {
    sim::DisplayConfig config = sim::DefaultDisplayConfig();
    const std::uint8_t b = in_.Byte();
    config.trace = b & 1;
    config.strictScene = b & 2;
    config.pitchPaddingBytes = (b >> 2) & 7;
    if (b & 0x20) config.desktopFormat = sim::MakePixelFormat(sim::PixelFormatName::R5G6B5);
    if (b & 0x40)
      config.devices.push_back(config.devices[0]), config.devices.back().guid = IID_IDirect3DRGBDevice;
    sim::ConfigureDisplay(config);
  }

  static bool Configured(const GUID& clsid) {
    for (const auto& spec : sim::CurrentDisplayConfig().devices)
      if (spec.guid == clsid) return true;
    return false;
  }

  World Snapshot() const {
    World w;
    for (int id : sim::LiveSurfaceIds()) {
      World::SurfaceState s{id, sim::ViewSurface(id), {}};
      s.bits.assign(s.view.bits, s.view.bits + std::size_t(s.view.pitch) * s.view.height);
      w.surfaces.push_back(std::move(s));
    }
    for (IDirect3DDevice7* device : devices_) w.devices.push_back(sim::ViewDevice(sim::DeviceId(device)));
    return w;
  }

  // A surface of ours (null: none, or one we released).
  IDirectDrawSurface7* AnySurface() {
    const std::uint8_t b = in_.Byte();
    if (b % 8 == 7 || surfaces_.empty()) return nullptr;
    return surfaces_[b % surfaces_.size()];
  }
  IDirect3DDevice7* AnyDevice() { return devices_[in_.Byte() % devices_.size()]; }

  void MakeSurface(bool target) {
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT;
    const std::uint8_t kind = target ? 0 : in_.Byte() % 8;
    const bool rawSize = !target && in_.Byte() % 8 == 0;
    desc.dwWidth = rawSize ? in_.Dword() : 1 + in_.Byte() % 64;
    desc.dwHeight = rawSize ? in_.Dword() : 1 + in_.Byte() % 64;
    int format = -1;
    switch (kind) {
      case 0:  // a render target
        desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | DDSCAPS_3DDEVICE;
        format = in_.Byte() % kCreatableColours;
        break;
      case 1:
      case 2:  // a texture or a work texture, in any named format
        desc.ddsCaps.dwCaps = DDSCAPS_TEXTURE | (kind == 2 ? DDSCAPS_SYSTEMMEMORY : DDSCAPS_VIDEOMEMORY);
        format = in_.Byte() % std::size(kAllFormats);
        break;
      case 3:  // Z
        desc.ddsCaps.dwCaps = DDSCAPS_ZBUFFER;
        format = in_.Byte() % 2 ? kD16 : in_.Byte() % std::size(kAllFormats);
        break;
      case 4:  // a plain surface in the display's format
        desc.dwFlags &= ~DDSD_PIXELFORMAT;
        desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN;
        break;
      case 5:  // raw caps and a raw format
        desc.dwFlags = in_.Dword() | DDSD_CAPS;
        desc.ddsCaps.dwCaps = in_.Dword() & ~(DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP);
        desc.ddsCaps.dwCaps2 = in_.Dword();
        for (DWORD* d = &desc.ddpfPixelFormat.dwSize; d <= &desc.ddpfPixelFormat.dwRGBAlphaBitMask; ++d)
          *d = in_.Dword();
        break;
      case 6:  // the primary, sometimes with a back buffer
        desc.dwFlags = DDSD_CAPS;
        desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_3DDEVICE;
        if (in_.Byte() & 1) {
          desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
          desc.dwBackBufferCount = in_.Byte() % 3;
          desc.ddsCaps.dwCaps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
        }
        break;
      default:  // a texture made in a Z format or a Z in a colour one
        desc.ddsCaps.dwCaps = in_.Byte() & 1 ? DDSCAPS_TEXTURE : DDSCAPS_ZBUFFER;
        format = desc.ddsCaps.dwCaps == DDSCAPS_TEXTURE ? kD16 : in_.Byte() % kCreatableColours;
        break;
    }
    if (format >= 0) desc.ddpfPixelFormat = sim::MakePixelFormat(kAllFormats[format]);
    const bool z = desc.ddsCaps.dwCaps & DDSCAPS_ZBUFFER;
    const bool creatable = format >= 0 && !rawSize && (z ? format == kD16 : format < kCreatableColours) &&
                           (kind <= 3 || kind == 7);
    const bool refused = format >= 0 && (z ? format != kD16 : format >= kCreatableColours);

    const bool aggregated = !target && in_.Byte() % 32 == 0;  // never supported

    const std::size_t before = sim::DisplayViolations().size();
    IDirectDrawSurface7* surface = reinterpret_cast<IDirectDrawSurface7*>(&desc);  // must be overwritten
    const HRESULT hr = dd_->CreateSurface(&desc, &surface, aggregated ? dd_ : nullptr);
    Check(SUCCEEDED(hr) == (surface != nullptr));
    Check(sim::DisplayViolations().size() == before);
    if (aggregated) Check(hr == CLASS_E_NOAGGREGATION);
    if (creatable && !aggregated) Check(hr == DD_OK);
    if (refused) Check(FAILED(hr));
    if (FAILED(hr)) return;
    const sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(surface));
    Check(v.bits != nullptr && v.width > 0 && v.height > 0 && !v.locked && !v.lost);
    if (!(desc.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE))
      Check(DWORD(v.width) == desc.dwWidth && DWORD(v.height) == desc.dwHeight);
    // Huge surfaces were worth making, not worth drawing into.
    if (std::size_t(v.width) * v.height > (std::size_t{1} << 16)) {
      Check(surface->Release() == 0);
      return;
    }
    surfaces_.push_back(surface);
  }

  void MakeDevice() {
    const GUID& clsid = *kClasses[in_.Byte() % std::size(kClasses)];
    IDirectDrawSurface7* target = in_.Byte() % 4 ? surfaces_[0] : AnySurface();
    const World before = Snapshot();
    IDirect3DDevice7* device = reinterpret_cast<IDirect3DDevice7*>(this);  // must be overwritten
    const HRESULT hr = d3d_->CreateDevice(clsid, target, &device);
    Check(SUCCEEDED(hr) == (device != nullptr));
    if (!Configured(clsid) || target == nullptr) Check(FAILED(hr));
    if (FAILED(hr)) {
      Check(Snapshot() == before);
      return;
    }
    devices_.push_back(device);
  }

  // Whether a draw on this device would be refused before it touches anything, and why.
  HRESULT ExpectedDrawRefusal(IDirect3DDevice7* device, DWORD type, DWORD fvf, bool vertices, DWORD count,
                              bool indexed, bool indices, DWORD indexCount) {
    if (indexed && !indices && indexCount > 0) return DDERR_INVALIDPARAMS;
    if (count > 0xFFFF || indexCount > 0xFFFF || (!vertices && count > 0)) return DDERR_INVALIDPARAMS;
    if (type != D3DPT_TRIANGLELIST && type != D3DPT_TRIANGLESTRIP) return D3DERR_INVALIDPRIMITIVETYPE;
    if (raster::VertexStride(fvf) == 0) return D3DERR_INVALIDVERTEXFORMAT;
    const sim::SurfaceView target = sim::ViewSurface(sim::ViewDevice(sim::DeviceId(device)).target);
    if (target.lost) return DDERR_SURFACELOST;
    if (target.locked || (target.zId >= 0 && sim::ViewSurface(target.zId).locked)) return DDERR_SURFACEBUSY;
    return D3D_OK;
  }

  void Draw(bool indexed) {
    IDirect3DDevice7* device = AnyDevice();
    const sim::DeviceView view = sim::ViewDevice(sim::DeviceId(device));
    const DWORD type = in_.Pick({D3DPT_TRIANGLELIST, D3DPT_TRIANGLESTRIP, 1, 2, 3, 6});
    const DWORD fvf = in_.Pick({0x44, 0x144, 0x2C4, 0x44, 0x144, 0x2C4, 0x42, 0x1C4});
    const int stride = raster::VertexStride(fvf);
    const std::uint8_t shape = in_.Byte();
    DWORD count = shape < 0xF8 ? shape % 40 : (shape & 1 ? 0x10000 + in_.Byte() : in_.Dword());
    const bool hostileCount = count > 0xFFFF;
    std::vector<std::uint8_t> vertices(std::size_t(hostileCount ? 3 : count) * (stride ? stride : 16));
    const bool small = in_.Byte() & 1;
    for (std::uint8_t& b : vertices) b = in_.Byte();
    if (small && stride)
      for (std::size_t v = 0; v < vertices.size() / stride; ++v)
        for (int c = 0; c < 2; ++c) {
          const float f = (std::int8_t(vertices[v * stride + c * 4]) + 16) * 0.25f;
          std::memcpy(&vertices[v * stride + c * 4], &f, 4);
        }
    const bool nullVertices = in_.Byte() % 16 == 0;

    std::vector<WORD> indices;
    DWORD indexCount = 0;
    bool nullIndices = false;
    if (indexed) {
      const std::uint8_t n = in_.Byte();
      indexCount = n < 0xF8 ? n % 48 : 0x10000 + in_.Byte();
      indices.resize(indexCount > 0xFFFF ? 3 : indexCount);
      const std::uint8_t spread = in_.Byte();
      for (WORD& i : indices) {
        if (spread & 0x80) {
          const WORD low = in_.Byte();
          i = WORD(low | in_.Byte() << 8);
        } else {
          i = WORD(in_.Byte() % (std::uint64_t{count} % 0x10000 + 2));
        }
      }
      nullIndices = in_.Byte() % 16 == 0;
    }
    const DWORD flags = in_.Byte() % 8 == 0 ? in_.Dword() : 0;

    const HRESULT expected =
        ExpectedDrawRefusal(device, type, fvf, !nullVertices, count, indexed, !nullIndices, indexCount);
    const std::size_t violationsBefore = sim::DisplayViolations().size();
    const World before = Snapshot();
    void* vp = nullVertices ? nullptr : vertices.data();
    const HRESULT hr =
        indexed ? device->DrawIndexedPrimitive(type, fvf, vp, count, nullIndices ? nullptr : indices.data(),
                                               indexCount, flags)
                : device->DrawPrimitive(type, fvf, vp, count, flags);
    Check(hr == expected);
    const std::size_t added = sim::DisplayViolations().size() - violationsBefore;
    if (FAILED(hr)) {
      Check(added == 0);
      Check(Snapshot() == before);
      return;
    }
    int bad = 0;
    for (WORD i : indices) bad += i >= count;
    Check(added == std::size_t(!view.inScene) + std::size_t(bad > 0));
    // Only the target and its Z may change.
    const World after = Snapshot();
    const int zId = sim::ViewSurface(view.target).zId;
    Check(after.surfaces.size() == before.surfaces.size());
    for (std::size_t k = 0; k < after.surfaces.size(); ++k) {
      const int id = after.surfaces[k].id;
      if (id != view.target && id != zId) Check(after.surfaces[k].bits == before.surfaces[k].bits);
    }
    Check(after.devices.size() == before.devices.size());
  }

  // One call; a failed call must have changed nothing and recorded no violation unless
  // it named a released object (or, in strict mode, touched a target in a scene).
  template <class Call>
  HRESULT Expect(Call call, bool mayViolate = false) {
    const std::size_t violationsBefore = sim::DisplayViolations().size();
    const World before = Snapshot();
    const HRESULT hr = call();
    const std::size_t added = sim::DisplayViolations().size() - violationsBefore;
    if (!mayViolate) Check(added == 0);
    if (FAILED(hr)) Check(Snapshot() == before);
    return hr;
  }

  // In strict mode: whether touching this surface now may be recorded.
  bool TargetInScene(IDirectDrawSurface7* surface) const {
    if (!sim::CurrentDisplayConfig().strictScene || surface == nullptr) return false;
    const int id = sim::SurfaceId(surface);
    for (IDirect3DDevice7* device : devices_) {
      const sim::DeviceView v = sim::ViewDevice(sim::DeviceId(device));
      if (v.inScene && (v.target == id || sim::ViewSurface(v.target).zId == id)) return true;
    }
    return false;
  }

  RECT AnyRect(int width, int height) {
    if (in_.Byte() % 4 == 0)
      return RECT{LONG(in_.Dword()), LONG(in_.Dword()), LONG(in_.Dword()), LONG(in_.Dword())};
    const LONG x = in_.Byte() % (width + 1), y = in_.Byte() % (height + 1);
    return RECT{x, y, x + 1 + in_.Byte() % (width + 1), y + 1 + in_.Byte() % (height + 1)};
  }

  void Step() {
    const std::uint8_t op = in_.Byte() % 21;
    IDirect3DDevice7* device = AnyDevice();
    switch (op) {
      case 0:
      case 1: {
        const DWORD type = in_.Byte() % 4 == 0 ? in_.Pick({3, 256, 900, 0xFFFFFFFF})
                                               : in_.Pick({4,  7,  9,  14, 15, 19, 20, 22,  23,  24,  25,
                                                           26, 27, 28, 29, 41, 47, 60, 137, 144, 145, 146});
        const DWORD value = in_.Pick({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 16, 17, 0x80});
        const HRESULT hr = Expect([&] { return device->SetRenderState(type, value); });
        DWORD now = 0;
        if (SUCCEEDED(hr)) Check(device->GetRenderState(type, &now) == D3D_OK && now == value);
        break;
      }
      case 2:
      case 3: {
        const std::uint8_t s = in_.Byte();
        const DWORD stage = s < 0xF0 ? s % 4 : s < 0xFC ? s % 16 : in_.Dword();
        const DWORD type =
            in_.Byte() % 8 == 0 ? in_.Byte() : in_.Pick({1, 2, 3, 4, 5, 6, 11, 12, 13, 14, 15, 16, 17, 18});
        const DWORD value = in_.Pick({0, 1, 2, 3, 4, 5, 6, 7, 8, 10, 12, 16, 0x10, 0x11, 0x12, 0x14, 0x20});
        Expect([&] { return device->SetTextureStageState(stage, type, value); });
        break;
      }
      case 4: {
        const std::uint8_t s = in_.Byte();
        const DWORD stage = s < 0xF8 ? s % 4 : s < 0xFC ? 8 + s % 4 : in_.Dword();
        IDirectDrawSurface7* texture = AnySurface();
        Expect([&] { return device->SetTexture(stage, texture); });
        break;
      }
      case 5: {
        IDirectDrawSurface7* target = AnySurface();
        const DWORD flags = in_.Byte() % 8 == 0 ? in_.Dword() : 0;
        const HRESULT hr = Expect([&] { return device->SetRenderTarget(target, flags); });
        if (target == nullptr) Check(FAILED(hr));
        break;
      }
      case 6: {
        const sim::SurfaceView t = sim::ViewSurface(sim::ViewDevice(sim::DeviceId(device)).target);
        D3DVIEWPORT7 vp{};
        const bool raw = in_.Byte() % 4 == 0;
        if (raw) {
          vp.dwX = in_.Dword(), vp.dwY = in_.Dword(), vp.dwWidth = in_.Dword(), vp.dwHeight = in_.Dword();
          const DWORD minZ = in_.Dword(), maxZ = in_.Dword();
          std::memcpy(&vp.dvMinZ, &minZ, 4);
          std::memcpy(&vp.dvMaxZ, &maxZ, 4);
        } else {
          vp.dwX = in_.Byte() % t.width, vp.dwY = in_.Byte() % t.height;
          vp.dwWidth = 1 + in_.Byte() % (t.width - vp.dwX),
          vp.dwHeight = 1 + in_.Byte() % (t.height - vp.dwY);
          vp.dvMinZ = 0, vp.dvMaxZ = 1;
        }
        const bool nullViewport = in_.Byte() % 16 == 0;
        const bool inside = std::uint64_t{vp.dwX} + vp.dwWidth <= std::uint64_t(t.width) &&
                            std::uint64_t{vp.dwY} + vp.dwHeight <= std::uint64_t(t.height) &&
                            vp.dwWidth > 0 && vp.dwHeight > 0;
        const HRESULT hr = Expect([&] { return device->SetViewport(nullViewport ? nullptr : &vp); });
        if (nullViewport || !inside) Check(FAILED(hr));
        if (!raw && !nullViewport) Check(hr == D3D_OK);
        break;
      }
      case 7: {
        const bool was = sim::ViewDevice(sim::DeviceId(device)).inScene;
        const HRESULT hr = Expect([&] { return device->BeginScene(); });
        Check(hr == (was ? D3DERR_SCENE_IN_SCENE : D3D_OK));
        break;
      }
      case 8: {
        const bool was = sim::ViewDevice(sim::DeviceId(device)).inScene;
        const HRESULT hr = Expect([&] { return device->EndScene(); });
        Check(hr == (was ? D3D_OK : D3DERR_SCENE_NOT_IN_SCENE));
        break;
      }
      case 9:
      case 10:
        Draw(false);
        break;
      case 11:
      case 12:
        Draw(true);
        break;
      case 13: {  // lock, write the locked rectangle, and mostly unlock
        IDirectDrawSurface7* s = AnySurface();
        if (s == nullptr) break;
        const sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(s));
        const bool whole = in_.Byte() & 1;
        RECT r = whole ? RECT{0, 0, v.width, v.height} : AnyRect(v.width, v.height);
        DDSURFACEDESC2 desc{};
        const HRESULT hr = Expect([&] { return s->Lock(whole ? nullptr : &r, &desc, DDLOCK_WAIT, nullptr); },
                                  TargetInScene(s));
        if (FAILED(hr)) break;
        Check(r.left >= 0 && r.top >= 0 && r.right <= v.width && r.bottom <= v.height);
        const int bpp = int(desc.ddpfPixelFormat.dwRGBBitCount / 8);
        const std::uint8_t value = in_.Byte();
        for (LONG y = 0; y < r.bottom - r.top; ++y)
          std::memset(static_cast<std::uint8_t*>(desc.lpSurface) + std::size_t(y) * desc.lPitch, value,
                      std::size_t(r.right - r.left) * bpp);
        if (in_.Byte() % 4) {
          RECT wrong{r.left, r.top, r.right + 1, r.bottom};
          if (in_.Byte() & 1) Check(Expect([&] { return s->Unlock(&wrong); }) == DDERR_INVALIDRECT);
          Check(s->Unlock(whole ? nullptr : &r) == DD_OK);
        }
        break;
      }
      case 14: {
        IDirectDrawSurface7* s = AnySurface();
        if (s == nullptr) break;
        Expect([&] { return s->Unlock(nullptr); });
        break;
      }
      case 15: {  // colour fill of any surface (the target included)
        IDirectDrawSurface7* s = AnySurface();
        if (s == nullptr) break;
        const sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(s));
        RECT r = AnyRect(v.width, v.height);
        DDBLTFX fx{};
        fx.dwSize = sizeof fx;
        fx.dwFillColor = in_.Dword();
        const DWORD flags =
            in_.Pick({DDBLT_COLORFILL | DDBLT_WAIT, DDBLT_DEPTHFILL | DDBLT_WAIT, DDBLT_COLORFILL});
        const bool whole = in_.Byte() & 1;
        Expect([&] { return s->Blt(whole ? nullptr : &r, nullptr, nullptr, flags, &fx); }, TargetInScene(s));
        break;
      }
      case 16: {  // attach or detach Z
        IDirectDrawSurface7* s = AnySurface();
        IDirectDrawSurface7* z = AnySurface();
        if (s == nullptr) break;
        if (in_.Byte() & 1) {
          Expect([&] { return s->AddAttachedSurface(z); });
        } else {
          Expect([&] { return s->DeleteAttachedSurface(0, z); });
        }
        break;
      }
      case 17: {  // colour keys, loss and restore
        IDirectDrawSurface7* s = AnySurface();
        if (s == nullptr) break;
        const std::uint8_t what = in_.Byte() % 4;
        if (what == 0) {
          DDCOLORKEY key{in_.Dword(), 0};
          key.dwColorSpaceHighValue = key.dwColorSpaceLowValue;
          const DWORD flags = in_.Pick({DDCKEY_SRCBLT, 0, 1});
          Expect([&] { return s->SetColorKey(flags, in_.Byte() % 8 ? &key : nullptr); });
        } else if (what == 1) {
          sim::LoseSurface(sim::SurfaceId(s));
        } else {
          Expect([&] { return s->Restore(); });
        }
        break;
      }
      case 18: {  // texture load
        IDirectDrawSurface7* dest = AnySurface();
        IDirectDrawSurface7* source = AnySurface();
        if (source == nullptr) break;
        const sim::SurfaceView v = sim::ViewSurface(sim::SurfaceId(source));
        RECT r = AnyRect(v.width, v.height);
        POINT at{LONG(in_.Byte() % 8), LONG(in_.Byte() % 8)};
        if (in_.Byte() % 8 == 0) at = POINT{LONG(in_.Dword()), LONG(in_.Dword())};
        const bool whole = in_.Byte() & 1;
        Expect([&] { return device->Load(dest, &at, source, whole ? nullptr : &r, 0); });
        break;
      }
      case 19:
        if (in_.Byte() % 4 == 0 && surfaces_.size() > 1) {  // drop ours; the device may still hold it
          IDirectDrawSurface7*& s = surfaces_[1 + in_.Byte() % (surfaces_.size() - 1)];
          if (s != nullptr) s->Release();
          s = nullptr;
          break;
        }
        [[fallthrough]];
      default: {  // references handed out must come back
        IDirectDrawSurface7* got = nullptr;
        if (in_.Byte() & 1) {
          Check(device->GetRenderTarget(&got) == D3D_OK && got != nullptr);
        } else {
          const DWORD stage = in_.Byte() % 9;
          const HRESULT hr = device->GetTexture(stage, &got);
          Check(SUCCEEDED(hr) == (stage < kD3DMaxStages));
        }
        if (got != nullptr) got->Release();
        break;
      }
    }
  }

  Input in_;
  IDirectDraw7* dd_ = nullptr;
  IDirect3D7* d3d_ = nullptr;
  std::vector<IDirectDrawSurface7*> surfaces_;
  std::vector<IDirect3DDevice7*> devices_;
};

void DeviceHalf(const Input& in) {
  std::vector<std::uint8_t> results[2];
  for (int pass = 0; pass < 2; ++pass) {
    if (!raster::SetRasterPath(pass ? raster::RasterPath::Avx2 : raster::RasterPath::Portable)) break;
    results[pass] = DeviceScript(in).Run();
  }
  if (!results[1].empty()) Check(results[0] == results[1]);
  raster::SetRasterPath(raster::BestRasterPath());
}

}  // namespace

// The first byte chooses: the rasteriser alone, the device alone, or one after the other.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{data, size};
  const std::uint8_t mode = in.Byte() % 3;
  if (mode != 1) RasterHalf(in);
  if (mode != 0) DeviceHalf(in);
  return 0;
}
