// The 3-D device on arbitrary input, in two halves that the first byte chooses (or runs
// one after the other). The rasteriser half: the input picks the target, Z and texture
// layouts and sizes, render and stage states (sensible values or raw ones), the
// viewport, the primitive type and format, then gives the vertex and index bytes. Each
// draw runs on the portable path and, where there is one, the SIMD path: a crash, an
// access outside the surfaces, a broken report or two paths that disagree is a finding.
// The device half drives the same through the COM interfaces (below).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "d3d_raster.h"
#include "d3d_raster_internal.h"
#include "fuzz_input.h"
#include "pixel_format.h"
#include "platform/d3d.h"
#include "platform/sim.h"
#include "platform/wingdi.h"

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
// state changes, bindings, scenes, locks, draws, raw copies, device contexts and GDI
// copies, display modes and flips, and enumerations. The stand-in must answer every bad
// argument with an error and leave everything as it was, record a violation only where
// one is due, and be back to its starting count of live objects once all is released.
// Copies and flips must write exactly what a plain byte copy (or conversion) predicts.
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
    sim::SetVideoOutput("offline");
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
    if (b & 0x80) {  // longer lists, with formats the device cannot create, for the enumerations
      using F = sim::PixelFormatName;
      config.textureFormats.clear();
      for (F f : {F::A8R8G8B8, F::P8, F::R5G6B5, F::DXT1, F::A4R4G4B4, F::L8, F::X1R5G5B5})
        config.textureFormats.push_back(sim::MakePixelFormat(f));
      config.zFormats.clear();
      for (F f : {F::D24S8, F::D16, F::D15S1, F::D32}) config.zFormats.push_back(sim::MakePixelFormat(f));
      config.devices[0].description = "";
      config.devices[0].name = "first";
    }
    sim::ConfigureDisplay(config);
    config_ = config;
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

  // The state of one surface in a snapshot.
  static const World::SurfaceState& In(const World& w, int id) {
    for (const World::SurfaceState& s : w.surfaces)
      if (s.id == id) return s;
    Check(false);
    return w.surfaces.front();
  }

  // After a call that may only write the pixels of `id`: they must be `expected`, and
  // everything else as it was.
  static void OnlyPixelsChanged(const World& before, const World& after, int id,
                                const std::vector<std::uint8_t>& expected) {
    World want = before;
    for (World::SurfaceState& s : want.surfaces)
      if (s.id == id) s.bits = expected;
    Check(after == want);
  }

  static bool SameFormat(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
  }

  // GDI takes the 5-6-5, 5-5-5 and 8-8-8 colour masks, whatever the alpha.
  static bool GdiTakes(const DDPIXELFORMAT& f) {
    if (!(f.dwFlags & DDPF_RGB)) return false;
    const DWORD masks[3][3] = {{0xF800, 0x07E0, 0x001F}, {0x7C00, 0x03E0, 0x001F}, {0xFF0000, 0xFF00, 0xFF}};
    for (const auto& m : masks)
      if (f.dwRBitMask == m[0] && f.dwGBitMask == m[1] && f.dwBBitMask == m[2]) return true;
    return false;
  }

  // A raw copy between equal formats, only where both surfaces have the rectangle; the
  // expected destination is worked out byte by byte from the snapshot.
  void BltFast() {
    IDirectDrawSurface7* dest = AnySurface();
    IDirectDrawSurface7* source = AnySurface();
    if (dest == nullptr) return;
    const int destId = sim::SurfaceId(dest);
    const sim::SurfaceView d = sim::ViewSurface(destId);
    const sim::SurfaceView s =
        source != nullptr ? sim::ViewSurface(sim::SurfaceId(source)) : sim::SurfaceView{};
    const bool whole = in_.Byte() & 1;
    RECT r = whole ? RECT{0, 0, s.width, s.height} : AnyRect(s.width, s.height);
    DWORD x = 0, y = 0;
    if (in_.Byte() % 8 == 0) {
      x = in_.Dword(), y = in_.Dword();
    } else {
      x = in_.Byte() % (d.width + 1), y = in_.Byte() % (d.height + 1);
    }
    const DWORD flags = in_.Pick({DDBLTFAST_NOCOLORKEY, DDBLTFAST_WAIT, DDBLTFAST_SRCCOLORKEY,
                                  DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT});
    const bool inSource = source != nullptr && r.left >= 0 && r.top >= 0 && r.left < r.right &&
                          r.top < r.bottom && r.right <= s.width && r.bottom <= s.height;
    const bool inDest = inSource &&
                        std::uint64_t{x} + std::uint64_t(r.right - r.left) <= std::uint64_t(d.width) &&
                        std::uint64_t{y} + std::uint64_t(r.bottom - r.top) <= std::uint64_t(d.height);
    const bool usable = !d.lost && !d.locked && source != nullptr && !s.lost && !s.locked &&
                        (flags & ~(DDBLTFAST_SRCCOLORKEY | DDBLTFAST_WAIT)) == 0;
    const bool same = source != nullptr && SameFormat(d.format, s.format);

    const World before = Snapshot();
    const HRESULT hr = Expect([&] { return dest->BltFast(x, y, source, whole ? nullptr : &r, flags); },
                              TargetInScene(dest) || TargetInScene(source));
    Check(SUCCEEDED(hr) == (usable && inDest && same));
    if (usable && inDest && !same) Check(hr == DDERR_INVALIDPIXELFORMAT);
    if (FAILED(hr)) return;

    const int bpp = int(d.format.dwRGBBitCount / 8);
    const std::vector<std::uint8_t>& from = In(before, sim::SurfaceId(source)).bits;
    std::vector<std::uint8_t> expected = In(before, destId).bits;
    const bool keyed = (flags & DDBLTFAST_SRCCOLORKEY) && s.hasColorKey;
    std::uint8_t key[4];
    for (int k = 0; k < 4; ++k) key[k] = std::uint8_t(s.colorKey >> (8 * k));
    for (LONG j = 0; j < r.bottom - r.top; ++j)
      for (LONG i = 0; i < r.right - r.left; ++i) {
        const std::uint8_t* p = &from[std::size_t(r.top + j) * s.pitch + std::size_t(r.left + i) * bpp];
        if (keyed && std::memcmp(p, key, bpp) == 0) continue;
        std::memcpy(&expected[std::size_t(y + j) * d.pitch + std::size_t(x + i) * bpp], p, bpp);
      }
    OnlyPixelsChanged(before, Snapshot(), destId, expected);
  }

  struct DcOut {
    IDirectDrawSurface7* surface;
    int id;
    HDC dc;
  };
  // The entry of a device context still out (its surface alive), or null.
  const DcOut* FindDc(HDC dc) {
    for (const DcOut& o : dcs_)
      if (o.dc == dc && !sim::ViewSurface(o.id).released) return &o;
    return nullptr;
  }
  bool HasDc(int id) {
    for (const DcOut& o : dcs_)
      if (o.id == id && !sim::ViewSurface(o.id).released) return true;
    return false;
  }

  // A context counts as a lock: refused on a locked or lost surface, and while it is out
  // Lock is refused until it comes back.
  void GetDC() {
    IDirectDrawSurface7* s = AnySurface();
    if (s == nullptr) return;
    const int id = sim::SurfaceId(s);
    const sim::SurfaceView v = sim::ViewSurface(id);
    const bool nullOut = in_.Byte() % 16 == 0;
    const bool hadDc = HasDc(id);
    HDC dc = reinterpret_cast<HDC>(std::uintptr_t{0x51});  // must be overwritten
    const HRESULT hr = Expect([&] { return s->GetDC(nullOut ? nullptr : &dc); }, TargetInScene(s));
    Check(SUCCEEDED(hr) == (!nullOut && !v.lost && !v.locked && GdiTakes(v.format)));
    if (!nullOut && !v.lost && hadDc) Check(hr == DDERR_DCALREADYCREATED);
    if (!nullOut && !v.lost && !v.locked && !GdiTakes(v.format)) Check(hr == DDERR_CANTCREATEDC);
    if (FAILED(hr)) {
      if (!nullOut) Check(dc == nullptr);
      return;
    }
    Check(dc != nullptr && FindDc(dc) == nullptr && sim::ViewSurface(id).locked);
    dcs_.push_back({s, id, dc});
    if (in_.Byte() & 1) {
      DDSURFACEDESC2 desc{};
      Check(Expect([&] { return s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr); }, TargetInScene(s)) ==
            DDERR_SURFACEBUSY);
      Check(desc.lpSurface == nullptr);
      if (in_.Byte() & 1) {
        Check(s->ReleaseDC(dc) == DD_OK);
        dcs_.pop_back();
        Check(Expect([&] { return s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr); }, TargetInScene(s)) ==
              DD_OK);
        Check(desc.lpSurface != nullptr && s->Unlock(nullptr) == DD_OK);
      }
    }
  }

  void ReleaseDC() {
    if (!dcs_.empty() && in_.Byte() % 4) {
      const std::size_t k = in_.Byte() % dcs_.size();
      const DcOut o = dcs_[k];
      dcs_.erase(dcs_.begin() + std::ptrdiff_t(k));
      if (sim::ViewSurface(o.id).released) return;  // its context went with it
      if (in_.Byte() % 8 == 0) {
        HDC wrong = reinterpret_cast<HDC>(reinterpret_cast<std::uintptr_t>(o.dc) ^ 0x8);
        Check(Expect([&] { return o.surface->ReleaseDC(wrong); }) == DDERR_INVALIDPARAMS);
      }
      Check(Expect([&] { return o.surface->ReleaseDC(o.dc); }) == DD_OK);
      Check(!sim::ViewSurface(o.id).locked);
      return;
    }
    IDirectDrawSurface7* s = AnySurface();
    if (s == nullptr || HasDc(sim::SurfaceId(s))) return;
    HDC dc = dcs_.empty() ? nullptr : dcs_.front().dc;
    Check(Expect([&] { return s->ReleaseDC(dc); }) == DDERR_NODC);
  }

  HDC AnyDc() {
    const std::uint8_t b = in_.Byte();
    if (b % 8 == 7 || dcs_.empty())
      return b & 0x40 ? nullptr : reinterpret_cast<HDC>(std::uintptr_t{in_.Dword()});
    return dcs_[b % dcs_.size()].dc;
  }

  // GDI copies between contexts, converting through 8-bit RGB and clipping to both.
  void GdiBitBlt() {
    const HDC destDc = AnyDc(), sourceDc = AnyDc();
    int x, y, w, h, sx, sy;
    if (in_.Byte() % 4 == 0) {
      x = int(in_.Dword()), y = int(in_.Dword()), w = int(in_.Dword()), h = int(in_.Dword());
      sx = int(in_.Dword()), sy = int(in_.Dword());
    } else {
      x = in_.Byte() % 80 - 8, y = in_.Byte() % 80 - 8, w = in_.Byte() % 72, h = in_.Byte() % 72;
      sx = in_.Byte() % 80 - 8, sy = in_.Byte() % 80 - 8;
    }
    const DWORD rop = in_.Byte() % 16 == 0 ? in_.Dword() : SRCCOPY;
    const DcOut* dst = FindDc(destDc);
    const DcOut* src = FindDc(sourceDc);
    DWORD error = 0;
    if (dst == nullptr || src == nullptr) {
      error = ERROR_INVALID_HANDLE;
    } else if (rop != SRCCOPY || w < 0 || h < 0) {
      error = ERROR_INVALID_PARAMETER;
    } else if (sim::ViewSurface(dst->id).lost || sim::ViewSurface(src->id).lost) {
      error = ERROR_INVALID_HANDLE;
    }
    SetLastError(0xBADu);
    const World before = Snapshot();
    BOOL done = FALSE;
    Expect([&] {
      done = ::BitBlt(destDc, x, y, w, h, sourceDc, sx, sy, rop);
      return done ? S_OK : E_FAIL;
    });
    Check(bool(done) == (error == 0));
    if (!done) {
      Check(GetLastError() == error);
      return;
    }
    const sim::SurfaceView d = sim::ViewSurface(dst->id), s = sim::ViewSurface(src->id);
    const Layout dl = platform::pixel::Classify(d.format), sl = platform::pixel::Classify(s.format);
    const int dBpp = platform::pixel::BytesPerPixel(dl), sBpp = platform::pixel::BytesPerPixel(sl);
    // The offsets that land inside both surfaces.
    auto span = [](std::int64_t at, std::int64_t from, std::int64_t size, std::int64_t limitAt,
                   std::int64_t limitFrom, std::int64_t* first, std::int64_t* end) {
      *first = std::max<std::int64_t>({0, -at, -from});
      *end = std::min({size, limitAt - at, limitFrom - from});
    };
    std::int64_t i0, i1, j0, j1;
    span(x, sx, w, d.width, s.width, &i0, &i1);
    span(y, sy, h, d.height, s.height, &j0, &j1);
    const std::vector<std::uint8_t>& from = In(before, src->id).bits;
    std::vector<std::uint8_t> expected = In(before, dst->id).bits;
    for (std::int64_t j = j0; j < j1; ++j)
      for (std::int64_t i = i0; i < i1; ++i) {
        const std::uint32_t argb =
            platform::pixel::ReadARGB(sl, &from[std::size_t(sy + j) * s.pitch + std::size_t(sx + i) * sBpp]);
        platform::pixel::WriteARGB(dl, &expected[std::size_t(y + j) * d.pitch + std::size_t(x + i) * dBpp],
                                   argb & 0x00FFFFFFu);
      }
    OnlyPixelsChanged(before, Snapshot(), dst->id, expected);
  }

  // Sets, restores and reads the display mode, and sometimes makes a primary in it.
  void DisplayMode() {
    DDSURFACEDESC2 was{}, now{};
    Check(dd_->GetDisplayMode(&was) == DD_OK);
    if (in_.Byte() % 4 == 0) {
      Check(dd_->RestoreDisplayMode() == DD_OK);
      const sim::DisplayConfig& c = sim::CurrentDisplayConfig();
      Check(dd_->GetDisplayMode(&now) == DD_OK);
      Check(now.dwWidth == DWORD(c.desktopWidth) && now.dwHeight == DWORD(c.desktopHeight) &&
            SameFormat(now.ddpfPixelFormat, c.desktopFormat));
    } else {
      const bool raw = in_.Byte() % 8 == 0;
      const DWORD w = raw ? in_.Dword() : 1 + in_.Byte() % 64, h = raw ? in_.Dword() : 1 + in_.Byte() % 64;
      const DWORD bpp = in_.Pick({16, 32, 16, 32, 24, 8, 0});
      const bool ok = w >= 1 && h >= 1 && w <= 16384 && h <= 16384 && (bpp == 16 || bpp == 32);
      const World before = Snapshot();
      Check(SUCCEEDED(dd_->SetDisplayMode(w, h, bpp, 0, 0)) == ok);
      Check(Snapshot() == before);
      Check(dd_->GetDisplayMode(&now) == DD_OK);
      if (ok) {
        Check(now.dwWidth == w && now.dwHeight == h && now.ddpfPixelFormat.dwRGBBitCount == bpp);
        Check(GetSystemMetrics(SM_CXSCREEN) == int(w) && GetSystemMetrics(SM_CYSCREEN) == int(h));
      } else {
        Check(std::memcmp(&now, &was, sizeof now) == 0);
      }
    }
    if (std::size_t(now.dwWidth) * now.dwHeight > (std::size_t{1} << 16) || !(in_.Byte() & 1)) return;

    // A primary of the mode, mostly flipping with one back buffer.
    DDSURFACEDESC2 desc{};
    desc.dwSize = sizeof desc;
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | (in_.Byte() & 1 ? DDSCAPS_3DDEVICE : 0);
    const bool flip = in_.Byte() % 4 != 0;
    DWORD count = 0;
    if (flip) {
      count = in_.Pick({1, 1, 1, 0, 2});
      desc.dwFlags |= DDSD_BACKBUFFERCOUNT;
      desc.dwBackBufferCount = count;
      desc.ddsCaps.dwCaps |= DDSCAPS_FLIP | DDSCAPS_COMPLEX;
    }
    IDirectDrawSurface7* primary = reinterpret_cast<IDirectDrawSurface7*>(&desc);  // must be overwritten
    const World before = Snapshot();
    const HRESULT hr = dd_->CreateSurface(&desc, &primary, nullptr);
    Check(SUCCEEDED(hr) == (!flip || count == 1) && SUCCEEDED(hr) == (primary != nullptr));
    if (FAILED(hr)) {
      Check(Snapshot() == before);
      return;
    }
    const int id = sim::SurfaceId(primary);
    const sim::SurfaceView v = sim::ViewSurface(id);
    Check(DWORD(v.width) == now.dwWidth && DWORD(v.height) == now.dwHeight &&
          SameFormat(v.format, now.ddpfPixelFormat));
    Check(
        std::all_of(v.bits, v.bits + std::size_t(v.pitch) * v.height, [](std::uint8_t b) { return b == 0; }));
    surfaces_.push_back(primary);
    DDSCAPS2 caps{DDSCAPS_BACKBUFFER, 0, 0, 0};
    IDirectDrawSurface7* back = primary;  // must be overwritten
    const HRESULT got = primary->GetAttachedSurface(&caps, &back);
    Check(SUCCEEDED(got) == flip && (back != nullptr) == flip);
    if (!flip) return;
    const sim::SurfaceView b = sim::ViewSurface(sim::SurfaceId(back));
    Check(b.width == v.width && b.height == v.height && b.pitch == v.pitch && SameFormat(b.format, v.format));
    surfaces_.push_back(back);
    backs_.push_back({id, back});
  }

  // Flip copies the back buffer (if any) into the primary and presents it; anything
  // else is refused and presents nothing.
  void Flip() {
    IDirectDrawSurface7* s = nullptr;
    if (!backs_.empty() && in_.Byte() % 4) {
      const int primaryId = backs_[in_.Byte() % backs_.size()].first;
      for (IDirectDrawSurface7* mine : surfaces_)
        if (mine != nullptr && sim::SurfaceId(mine) == primaryId) s = mine;
    } else {
      s = AnySurface();
    }
    if (s == nullptr) return;
    const int id = sim::SurfaceId(s);
    const sim::SurfaceView v = sim::ViewSurface(id);
    IDirectDrawSurface7* back = nullptr;
    for (const auto& [primaryId, b] : backs_)
      if (primaryId == id) back = b;
    const int backId = back != nullptr ? sim::SurfaceId(back) : -1;
    const sim::SurfaceView bv = sim::ViewSurface(backId);
    const std::uint8_t t = in_.Byte() % 4;
    IDirectDrawSurface7* target = t == 0 ? back : t == 1 ? AnySurface() : nullptr;
    const DWORD flags = in_.Pick({DDFLIP_WAIT, 0});
    const bool primary = v.caps & DDSCAPS_PRIMARYSURFACE;
    const bool ok = primary && (target == nullptr || target == back) && !v.lost && !v.locked &&
                    (back == nullptr || (!bv.lost && !bv.locked));
    const int frames = sim::PresentedFrameCount();
    const World before = Snapshot();
    const HRESULT hr = Expect([&] { return s->Flip(target, flags); });
    Check(SUCCEEDED(hr) == ok);
    if (!primary) Check(hr == DDERR_NOTFLIPPABLE);
    if (FAILED(hr)) {
      Check(sim::PresentedFrameCount() == frames);
      return;
    }
    Check(sim::PresentedFrameCount() == frames + 1);
    std::vector<std::uint8_t> expected = In(before, id).bits;
    if (back != nullptr) {
      const std::vector<std::uint8_t>& from = In(before, backId).bits;
      const std::size_t row = std::size_t(v.width) * (v.format.dwRGBBitCount / 8);
      for (int y = 0; y < v.height; ++y)
        std::memcpy(&expected[std::size_t(y) * v.pitch], &from[std::size_t(y) * bv.pitch], row);
    }
    OnlyPixelsChanged(before, Snapshot(), id, expected);
    std::vector<std::uint32_t> frame;
    int fw = 0, fh = 0;
    Check(sim::LastPresentedFrame(&frame, &fw, &fh) && fw == v.width && fh == v.height);
    for (int y = 0; y < fh; ++y)
      for (int x = 0; x < fw; ++x)
        Check(frame[std::size_t(y) * fw + x] == (sim::ReadSurfacePixel(id, x, y) | 0xFF000000u));
  }

  // What an enumeration's callback saw. It scribbles over what it is handed, which must
  // not reach the configuration.
  struct Deliveries {
    int cancelAt = 0;
    HRESULT goOn = D3DENUMRET_OK;
    std::vector<DDPIXELFORMAT> formats;
    std::vector<sim::Display3DDevice> devices;
    HRESULT Answer(std::size_t delivered) const {
      return int(delivered) - 1 == cancelAt ? D3DENUMRET_CANCEL : goOn;
    }
  };
  static HRESULT OnFormat(DDPIXELFORMAT* format, void* context) {
    auto* d = static_cast<Deliveries*>(context);
    d->formats.push_back(*format);
    std::memset(format, 0xA5, sizeof *format);
    return d->Answer(d->formats.size());
  }
  static HRESULT OnDevice(char* description, char* name, D3DDEVICEDESC7* desc, void* context) {
    auto* d = static_cast<Deliveries*>(context);
    sim::Display3DDevice got;
    got.guid = desc->deviceGUID, got.description = description, got.name = name;
    got.maxTextureWidth = desc->dwMaxTextureWidth, got.maxTextureHeight = desc->dwMaxTextureHeight;
    got.textureCaps = desc->dpcTriCaps.dwTextureCaps,
    got.maxTextureBlendStages = desc->wMaxTextureBlendStages;
    d->devices.push_back(got);
    std::memset(desc, 0xA5, sizeof *desc);
    if (description[0] != 0) description[0] ^= 1;
    if (name[0] != 0) name[0] ^= 1;
    return d->Answer(d->devices.size());
  }

  // Each enumeration delivers the configured items in order up to the one that cancels.
  void Enumerate(IDirect3DDevice7* device) {
    const std::uint8_t what = in_.Byte() % 3;
    Deliveries d;
    d.cancelAt = in_.Byte();
    if (in_.Byte() >= 0xF0) d.goOn = HRESULT(in_.Dword());
    if (d.goOn == D3DENUMRET_CANCEL) d.goOn = D3DENUMRET_OK;
    const bool nullCallback = in_.Byte() % 16 == 0;
    const GUID& clsid = *kClasses[in_.Byte() % std::size(kClasses)];
    const World before = Snapshot();
    const HRESULT hr = Expect([&] {
      switch (what) {
        case 0:
          return d3d_->EnumDevices(nullCallback ? nullptr : &OnDevice, &d);
        case 1:
          return device->EnumTextureFormats(nullCallback ? nullptr : &OnFormat, &d);
        default:
          return d3d_->EnumZBufferFormats(clsid, nullCallback ? nullptr : &OnFormat, &d);
      }
    });
    Check(Snapshot() == before);
    Check(hr == (nullCallback ? DDERR_INVALIDPARAMS : D3D_OK));
    const std::size_t size = what == 0   ? config_.devices.size()
                             : what == 1 ? config_.textureFormats.size()
                                         : config_.zFormats.size();
    const std::size_t n = nullCallback ? 0 : std::min(size, std::size_t(d.cancelAt) + 1);
    Check(d.formats.size() + d.devices.size() == n);
    for (std::size_t k = 0; k < d.formats.size(); ++k)
      Check(SameFormat(d.formats[k], (what == 1 ? config_.textureFormats : config_.zFormats)[k]));
    for (std::size_t k = 0; k < d.devices.size(); ++k) {
      const sim::Display3DDevice &got = d.devices[k], &want = config_.devices[k];
      Check(got.guid == want.guid && got.description == want.description && got.name == want.name &&
            got.maxTextureWidth == want.maxTextureWidth && got.maxTextureHeight == want.maxTextureHeight &&
            got.textureCaps == want.textureCaps && got.maxTextureBlendStages == want.maxTextureBlendStages);
    }
  }

  void Step() {
    // Op bytes from 210 up choose the later steps, so that older scripts keep their meaning.
    const std::uint8_t raw = in_.Byte();
    const std::uint8_t op = raw < 210 ? raw % 21 : 21 + (raw - 210) % 7;
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
      case 20: {  // references handed out must come back
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
      case 21:
        BltFast();
        break;
      case 22:
        GetDC();
        break;
      case 23:
        ReleaseDC();
        break;
      case 24:
        GdiBitBlt();
        break;
      case 25:
        DisplayMode();
        break;
      case 26:
        Flip();
        break;
      default:
        Enumerate(device);
        break;
    }
  }

  Input in_;
  IDirectDraw7* dd_ = nullptr;
  IDirect3D7* d3d_ = nullptr;
  std::vector<IDirectDrawSurface7*> surfaces_;
  std::vector<IDirect3DDevice7*> devices_;
  sim::DisplayConfig config_;                                // as configured, for the enumerations
  std::vector<DcOut> dcs_;                                   // device contexts handed out
  std::vector<std::pair<int, IDirectDrawSurface7*>> backs_;  // primary id, its back buffer (ours)
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
