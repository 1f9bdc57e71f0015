// Texture formats and uploads: which enumerated formats fill which slot, the slot of a
// surface, and uploads of every image layout into every texture layout, bit for bit
// against the tests' own conversion, directly and through the work texture.
#include "d3d/d3d_state.h"
#include "d3d/texture_formats.h"
#include "d3d/texture_pieces.h"
#include "display_fixture.h"
#include "graphics/graphs.h"
#include "graphics/surfaces.h"

namespace gamelib {
namespace {

using sim::PixelFormatName;
using P = PixelFormatName;

DDPIXELFORMAT F(P name) { return sim::MakePixelFormat(name); }

// The textures' own locks fail; the system-memory work texture still locks.
bool LocksOfVideoMemory(const sim::DisplayCallRecord& r) {
  return (sim::ViewSurface(r.object).caps & DDSCAPS_SYSTEMMEMORY) == 0;
}

sim::DisplayConfig Offering(std::vector<P> names) {
  sim::DisplayConfig config = sim::DefaultDisplayConfig();
  config.textureFormats.clear();
  for (P name : names) config.textureFormats.push_back(F(name));
  return config;
}

bool SameFormat(const DDPIXELFORMAT& a, const DDPIXELFORMAT& b) {
  return a.dwRGBBitCount == b.dwRGBBitCount && a.dwRBitMask == b.dwRBitMask && a.dwGBitMask == b.dwGBitMask &&
         a.dwBBitMask == b.dwBBitMask &&
         ((a.dwFlags & DDPF_ALPHAPIXELS) ? a.dwRGBAlphaBitMask : 0) ==
             ((b.dwFlags & DDPF_ALPHAPIXELS) ? b.dwRGBAlphaBitMask : 0);
}

class TextureFormatsTest : public DisplayTest {
 protected:
  // The slots after start-up, as formats (slot empty: nullopt).
  std::vector<std::optional<P>> Slots() {
    std::vector<std::optional<P>> out;
    for (int slot = 0; slot < kTextureFormatCount; ++slot) {
      const TextureFormatRecord* record = GetTextureFormatEntry(slot);
      std::optional<P> found;
      if (record->colorData.colorBitDepth != 0) {
        for (P name :
             {P::R5G6B5, P::X1R5G5B5, P::A1R5G5B5, P::A4R4G4B4, P::X4R4G4B4, P::X8R8G8B8, P::A8R8G8B8}) {
          if (SameFormat(record->pixelFormat, F(name))) found = name;
        }
      }
      out.push_back(found);
    }
    return out;
  }
};

struct SlotRow {
  const char* what;
  int screenDepth;
  std::vector<P> offered;
  std::vector<std::optional<P>> slots;  // empty: start-up fails
};

TEST_F(TextureFormatsTest, EnumeratedFormatsFillTheSlotsAndTheRestAreCopied) {
  const std::optional<P> none;
  const SlotRow rows[] = {
      {"32-bit plain only fails", 16, {P::X8R8G8B8, P::A8R8G8B8}, {}},
      {"565 screen, 565 first",
       16,
       {P::R5G6B5, P::X1R5G5B5},
       {P::R5G6B5, P::R5G6B5, none, none, none, none, P::R5G6B5, P::R5G6B5, none}},
      {"565 screen, 565 later",
       16,
       {P::X1R5G5B5, P::R5G6B5},
       {P::R5G6B5, P::R5G6B5, none, none, none, none, P::R5G6B5, P::R5G6B5, none}},
      {"32-bit screen keeps the first 16-bit",
       32,
       {P::X1R5G5B5, P::R5G6B5, P::X8R8G8B8},
       {P::X1R5G5B5, P::X8R8G8B8, none, none, none, none, P::X1R5G5B5, P::X8R8G8B8, none}},
      {"A8R8G8B8 fills 3 and 5; 4 from 2",
       16,
       {P::R5G6B5, P::A4R4G4B4, P::A8R8G8B8},
       {P::R5G6B5, P::R5G6B5, P::A4R4G4B4, P::A8R8G8B8, P::A4R4G4B4, P::A8R8G8B8, P::R5G6B5, P::R5G6B5,
        P::A8R8G8B8}},
      {"no 32-bit alpha: 3, 5 and 8 from 2",
       16,
       {P::A1R5G5B5, P::A4R4G4B4, P::R5G6B5},
       {P::R5G6B5, P::R5G6B5, P::A4R4G4B4, P::A4R4G4B4, P::A1R5G5B5, P::A4R4G4B4, P::R5G6B5, P::R5G6B5,
        P::A4R4G4B4}},
      {"formats that are skipped",
       16,
       {P::P8, P::R8G8B8, P::A8R3G3B2, P::L8, P::A8L8, P::V8U8, P::DXT1, P::A8, P::X4R4G4B4},
       {P::X4R4G4B4, P::X4R4G4B4, none, none, none, none, P::X4R4G4B4, P::X4R4G4B4, none}},
  };
  for (const SlotRow& row : rows) {
    SCOPED_TRACE(row.what);
    SetGraphMode(640, 480, row.screenDepth);
    SetNotUse3DFlag(1);
    Start(Offering(row.offered));
    SetNotUse3DFlag(0);
    NewLog();
    if (row.slots.empty()) {
      EXPECT_EQ(InitializeDirect3D(), -1);
      EXPECT_NE(NewLog().find("使用可能なテクスチャフォーマットが見つかりませんでした"), std::string::npos);
    } else {
      ASSERT_EQ(InitializeDirect3D(), 0);
      EXPECT_EQ(Slots(), row.slots);
    }
    TerminateGraphicsSystem();
  }
}

// A device that offers no alpha format leaves those slots empty: graphs that need one are
// refused before any texture is asked for, and plain graphs still work.
TEST_F(TextureFormatsTest, GraphsNeedingAnAlphaFormatTheDeviceLacksAreRefused) {
  Start(Offering({P::R5G6B5, P::X8R8G8B8}));
  const TestImage plain = MakeTestImage(F(P::R5G6B5), 16, 8, 1);
  const TestImage withAlpha = MakeTestImage(F(P::A8R8G8B8), 16, 8, 2);
  const TestImage alphaPlane = MakeTestImage(F(P::X8R8G8B8), 16, 8, 3);
  const std::pair<const char*, std::function<int()>> rows[] = {
      {"image with alpha", [&] { return CreateGraphFromGraphImage(&withAlpha.image, nullptr); }},
      {"alpha image beside", [&] { return CreateGraphFromGraphImage(&plain.image, &alphaPlane.image); }},
      {"draw target with alpha", [] { return MakeScreen(32, 32, 1); }},
  };
  for (const auto& [what, make] : rows) {
    SCOPED_TRACE(what);
    const std::size_t surfaces = sim::LiveSurfaceIds().size();
    const int surfaceRecords = GetSurfaceCount();
    const std::size_t blocks = GetMemoryUsage().blocks;
    const std::size_t mark = sim::DisplayTraceMark();
    EXPECT_EQ(make(), -1);
    EXPECT_EQ(CountCalls(mark, sim::DisplayCall::CreateSurface), 0u);
    EXPECT_EQ(CountCalls(mark, sim::DisplayCall::Lock), 0u);
    EXPECT_EQ(GetSurface3DDataCount(), 0);
    EXPECT_EQ(GetSurfaceCount(), surfaceRecords);
    EXPECT_EQ(sim::LiveSurfaceIds().size(), surfaces);
    EXPECT_EQ(GetMemoryUsage().blocks, blocks);
  }
  const int graph = CreateGraphFromGraphImage(&plain.image, nullptr);
  ASSERT_GE(graph, 0);
  EXPECT_EQ(GetGraphRecord(graph)->useTexture, 1);
}

TEST_F(TextureFormatsTest, OnlyAPlainSixteenBitZFormatIsTaken) {
  const std::vector<std::pair<std::vector<P>, bool>> rows = {{{P::D15S1, P::D16}, true},
                                                             {{P::D15S1}, false},
                                                             {{P::D24S8, P::D32, P::D24X8}, false},
                                                             {{P::D16, P::D15S1}, true}};
  for (const auto& [offered, found] : rows) {
    sim::DisplayConfig config = sim::DefaultDisplayConfig();
    config.zFormats.clear();
    for (P name : offered) config.zFormats.push_back(F(name));
    Start(config);
    EXPECT_EQ(GetZBufferPixelFormat()->dwZBufferBitDepth, found ? 16u : 0u);
    EXPECT_EQ(GetZBufferPixelFormat()->dwFlags, found ? DDPF_ZBUFFER : 0u);
    TerminateGraphicsSystem();
  }
}

TEST_F(TextureFormatsTest, TheSlotFollowsTheCreationBytes) {
  struct Row {
    std::uint8_t alphaChannel, drawValid, alphaTest, bitDepth;
    int slot;
  };
  const Row rows[] = {{0, 0, 0, 16, 0}, {0, 0, 0, 32, 1}, {0, 0, 0, 24, 1}, {1, 0, 0, 16, 2},
                      {2, 0, 0, 32, 3}, {0, 0, 1, 16, 4}, {0, 0, 1, 32, 5}, {1, 0, 1, 16, 2},
                      {0, 1, 0, 16, 6}, {0, 1, 0, 32, 7}, {0, 1, 1, 16, 8}, {1, 1, 0, 32, 8},
                      {0, 1, 2, 16, 6}, {0, 1, 2, 32, 7}, {2, 1, 0, 16, 6}};
  for (const Row& row : rows) {
    SurfaceCreateBytes b{};
    b.alphaChannel = row.alphaChannel;
    b.drawValid = row.drawValid;
    b.alphaTest = row.alphaTest;
    b.bitDepth = row.bitDepth;
    EXPECT_EQ(SelectTextureFormatIndex(b), row.slot);
  }
}

// A texture in `target` layout: the device offers it in the slot the creation bytes pick.
struct TargetRow {
  P target;
  std::vector<P> offered;
  SurfaceCreateBytes bytes;
};
std::vector<TargetRow> Targets() {
  auto bytes = [](std::uint8_t alphaChannel, std::uint8_t alphaTest, std::uint8_t depth) {
    SurfaceCreateBytes b{};
    b.alphaChannel = alphaChannel;
    b.alphaTest = alphaTest;
    b.bitDepth = depth;
    return b;
  };
  return {{P::R5G6B5, {P::R5G6B5}, bytes(0, 0, 16)},
          {P::X1R5G5B5, {P::X1R5G5B5}, bytes(0, 0, 16)},
          {P::A1R5G5B5, {P::R5G6B5, P::A1R5G5B5}, bytes(0, 1, 16)},
          {P::A4R4G4B4, {P::R5G6B5, P::A4R4G4B4}, bytes(1, 0, 16)},
          {P::X8R8G8B8, {P::R5G6B5, P::X8R8G8B8}, bytes(0, 0, 32)},
          {P::A8R8G8B8, {P::R5G6B5, P::A8R8G8B8}, bytes(1, 0, 32)}};
}

// The expected texel of an upload, from the masks: alpha from the alpha image's blue,
// else the source's, else opaque; on an alpha-test texture the transparent colour
// (black by default) is see-through.
std::uint32_t Expected(const DDPIXELFORMAT& source, std::uint32_t raw, const DDPIXELFORMAT& target,
                       const std::optional<std::uint32_t>& alphaBlue, bool alphaTest) {
  std::uint32_t argb = MaskedToArgb(source, raw);
  if (alphaBlue) argb = (argb & 0xFFFFFF) | *alphaBlue << 24;
  const bool sourceAlpha = (source.dwFlags & DDPF_ALPHAPIXELS) != 0;
  if (alphaTest && !alphaBlue && !sourceAlpha && (argb & 0xFFFFFF) == 0) argb &= 0xFFFFFF;
  return ArgbToMasked(target, argb);
}

void CheckPieces(int graph, const TestImage& image, const TestImage* alpha, const TargetRow& target) {
  GraphRecord* record = GetGraphRecord(graph);
  const DDPIXELFORMAT sourceFormat = *[&] {
    static DDPIXELFORMAT f;
    f = DDPIXELFORMAT{};
    f.dwSize = sizeof(f);
    const ColorData& c = image.image.colorData;
    f.dwFlags = DDPF_RGB | (c.alphaMask ? DDPF_ALPHAPIXELS : 0);
    f.dwRGBBitCount = c.colorBitDepth;
    f.dwRBitMask = c.redMask;
    f.dwGBitMask = c.greenMask;
    f.dwBBitMask = c.blueMask;
    f.dwRGBAlphaBitMask = c.alphaMask;
    return &f;
  }();
  const DDPIXELFORMAT targetFormat = F(target.target);
  int mismatches = 0;
  for (int i = 0; i < record->pieceCount; ++i) {
    const Surface3DDataRecord* piece = GetSurface3DData(record->pieces[i]);
    const sim::SurfaceView view = sim::ViewSurface(sim::SurfaceId(GetSurfaceRecord(piece->surface)->surface));
    const int bytes = static_cast<int>(view.format.dwRGBBitCount / 8);
    ASSERT_TRUE(SameFormat(view.format, targetFormat));
    for (int y = 0; y < piece->height; ++y) {
      const std::uint8_t* sourceRow =
          image.pixels.data() + static_cast<std::size_t>(piece->y + y) * image.image.pitch;
      const std::uint8_t* textureRow = view.bits + static_cast<std::size_t>(piece->textureY + y) * view.pitch;
      for (int x = 0; x < piece->width; ++x) {
        const std::uint32_t raw = RawAt(sourceRow, piece->x + x, image.image.colorData.pixelByte);
        std::optional<std::uint32_t> alphaBlue;
        if (alpha != nullptr) {
          const std::uint8_t* alphaRow =
              alpha->pixels.data() + static_cast<std::size_t>(piece->y + y) * alpha->image.pitch;
          alphaBlue = MaskedToArgb(F(P::X8R8G8B8), RawAt(alphaRow, piece->x + x, 4)) & 0xFF;
        }
        const std::uint32_t want =
            Expected(sourceFormat, raw, targetFormat, alphaBlue, target.bytes.alphaTest);
        const std::uint32_t got = RawAt(textureRow, piece->textureX + x, bytes);
        if (want != got && ++mismatches <= 3) {
          ADD_FAILURE() << "piece " << i << " at " << piece->x + x << "," << piece->y + y << ": " << std::hex
                        << got << " instead of " << want;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST_F(TextureFormatsTest, UploadsOfEveryLayoutPairAreBitExact) {
  const P sources[] = {P::R5G6B5, P::X1R5G5B5, P::A1R5G5B5, P::A4R4G4B4, P::X8R8G8B8, P::A8R8G8B8};
  for (const TargetRow& target : Targets()) {
    Start(Offering(target.offered));
    for (P source : sources) {
      SCOPED_TRACE(testing::Message()
                   << "source " << static_cast<int>(source) << " target " << static_cast<int>(target.target));
      const TestImage image = MakeTestImage(F(source), 37, 29, static_cast<std::uint32_t>(source) * 7 + 1);
      GraphRecord* graph = MakeGraphRecord(37, 29, target.bytes);
      ASSERT_NE(graph, nullptr);
      ASSERT_EQ(graph->useTexture, 1);
      ASSERT_EQ(BltGraphImageToGraph(&image.image, nullptr, graph), 0);
      CheckPieces(graph->handle, image, nullptr, target);
      DeleteGraph(graph->handle);
    }
    // With an alpha image, its blue channel is the alpha.
    const TestImage image = MakeTestImage(F(P::X8R8G8B8), 37, 29, 99);
    const TestImage alpha = MakeTestImage(F(P::X8R8G8B8), 40, 30, 5);
    GraphRecord* graph = MakeGraphRecord(37, 29, target.bytes);
    ASSERT_EQ(BltGraphImageToGraph(&image.image, &alpha.image, graph), 0);
    CheckPieces(graph->handle, image, &alpha, target);
    TerminateGraphicsSystem();
  }
}

// A 1000 x 700 image split into pieces reads back equal to the image after conversion,
// through the direct lock and through the work texture and Load.
TEST_F(TextureFormatsTest, ALargeGraphReadsBackAsItsImage) {
  for (int depth : {16, 32}) {
    for (bool workTexture : {false, true}) {
      SCOPED_TRACE(testing::Message() << depth << (workTexture ? " through the work texture" : " direct"));
      SetGraphMode(640, 480, depth);
      sim::DisplayConfig config = Offering({P::R5G6B5, P::X8R8G8B8});
      config.devices[0].maxTextureWidth = config.devices[0].maxTextureHeight = 512;
      Start(config);
      const TestImage image = MakeTestImage(F(P::A8R8G8B8), 1000, 700, depth);
      const TestImage* none = nullptr;
      SurfaceCreateBytes bytes{};
      bytes.bitDepth = static_cast<std::uint8_t>(depth);
      GraphRecord* graph = MakeGraphRecord(1000, 700, bytes);
      ASSERT_NE(graph, nullptr);
      EXPECT_EQ(graph->pieceCount, 6);  // 512 + 512 by 512 + 128 + 64
      const std::size_t mark = sim::DisplayTraceMark();
      if (workTexture) sim::AddDisplayFault(Fault(sim::DisplayCall::Lock, LocksOfVideoMemory, 0, -1));
      ASSERT_EQ(BltGraphImageToGraph(&image.image, nullptr, graph), 0);
      sim::ClearDisplayFaults();
      EXPECT_EQ(CountCalls(mark, sim::DisplayCall::Load), workTexture ? 6u : 0u);
      TargetRow target{depth == 16 ? P::R5G6B5 : P::X8R8G8B8, {}, bytes};
      CheckPieces(graph->handle, image, none, target);
      TerminateGraphicsSystem();
    }
  }
}

TEST_F(TextureFormatsTest, UploadsLandInTheirPieceAndHostileRectanglesAreClipped) {
  SetGraphMode(640, 480, 32);
  Start();
  const int parent = MakeGraph(64, 64);
  const int derived = DeriveGraph(16, 8, 8, 8, parent);
  const TestImage image = MakeTestImage(F(P::X8R8G8B8), 8, 8, 3);
  ASSERT_EQ(ReCreateGraphFromGraphImage(&image.image, nullptr, derived), 0);
  const int texture =
      sim::SurfaceId(GetSurfaceRecord(GetPieceSurfaceHandle(GetGraphRecord(parent)->pieces[0]))->surface);
  for (int y = 0; y < 16; ++y) {
    for (int x = 0; x < 32; ++x) {
      const bool inside = x >= 16 && x < 24 && y >= 8 && y < 16;
      const std::uint32_t want =
          inside
              ? 0xFF000000u | (RawAt(image.pixels.data() + (y - 8) * image.image.pitch, x - 16, 4) & 0xFFFFFF)
              : 0xFF000000u;
      ASSERT_EQ(sim::ReadSurfacePixel(texture, x, y), want) << x << "," << y;
    }
  }
  // Rectangles past the image or the texture are cut; an empty one locks nothing.
  const int piece = GetGraphRecord(parent)->pieces[0];
  const std::size_t mark = sim::DisplayTraceMark();
  for (RECT r : {RECT{-5, -5, 4, 4}, RECT{4, 4, 100, 100}, RECT{0, 0, 8, 8}}) {
    EXPECT_EQ(BltGraphImageToTexture(&r, 60, 60, piece, &image.image, nullptr), 0);
  }
  const RECT empty{8, 0, 20, 8};
  const std::size_t beforeEmpty = sim::DisplayTraceMark();
  EXPECT_EQ(BltGraphImageToTexture(&empty, 0, 0, piece, &image.image, nullptr), 0);
  EXPECT_EQ(CountCalls(beforeEmpty, sim::DisplayCall::Lock), 0u);
  EXPECT_GT(CountCalls(mark, sim::DisplayCall::Lock), 0u);
  EXPECT_EQ(BltGraphImageToTexture(&empty, 0, 0, 0x37FFFFFF, &image.image, nullptr), -1);
  // A surface already locked by someone else is not written through.
  int pitch = 0;
  void* pixels = nullptr;
  const int surface = GetPieceSurfaceHandle(piece);
  ASSERT_EQ(LockSurface(surface, &pitch, &pixels, 0, nullptr, nullptr), 0);
  const RECT whole{0, 0, 8, 8};
  EXPECT_EQ(BltGraphImageToTexture(&whole, 0, 0, piece, &image.image, nullptr), -1);
  EXPECT_EQ(GetSurfaceRecord(surface)->lockCount, 1);
  EXPECT_EQ(UnlockSurface(surface, nullptr), 0);
}

// A rectangle written at a place of a graph lands in every piece it overlaps.
TEST_F(TextureFormatsTest, ARectangleAcrossPiecesLandsInEach) {
  SetGraphMode(640, 480, 32);
  Start();
  GraphRecord* graph = GetGraphRecord(MakeGraph(640, 100));
  ASSERT_EQ(graph->pieceCount, 2);
  const TestImage image = MakeTestImage(F(P::X8R8G8B8), 16, 8, 11);
  const RECT source{2, 1, 14, 7};  // 12 x 6
  ASSERT_EQ(BltGraphImageToGraph3D(&image.image, nullptr, &source, 506, 90, graph), 0);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 12; ++x) {
      const int gx = 506 + x, piece = gx < 512 ? 0 : 1;
      const int texture =
          sim::SurfaceId(GetSurfaceRecord(GetPieceSurfaceHandle(graph->pieces[piece]))->surface);
      const std::uint32_t want =
          0xFF000000u | (RawAt(image.pixels.data() + (1 + y) * image.image.pitch, 2 + x, 4) & 0xFFFFFF);
      ASSERT_EQ(sim::ReadSurfacePixel(texture, piece == 0 ? gx : gx - 512, 90 + y), want) << x << "," << y;
    }
  }
  // Rows past the graph's bottom are cut.
  EXPECT_EQ(sim::ReadSurfacePixel(
                sim::SurfaceId(GetSurfaceRecord(GetPieceSurfaceHandle(graph->pieces[1]))->surface), 0, 96),
            0xFF000000u);
}

TEST_F(TextureFormatsTest, AWorkTextureThatCannotBeMadeOrLoadedEndsTheProgram) {
  Start();
  const int graph = MakeGraph(32, 32);
  const TestImage image = MakeTestImage(F(P::R5G6B5), 32, 32, 1);
  sim::AddDisplayFault(Fault(sim::DisplayCall::Lock, LocksOfVideoMemory, 0, -1));
  sim::AddDisplayFault(Fault(sim::DisplayCall::CreateSurface));
  EXPECT_EXIT(ReCreateGraphFromGraphImage(&image.image, nullptr, graph), testing::ExitedWithCode(255), "");
  sim::ClearDisplayFaults();
  sim::AddDisplayFault(Fault(sim::DisplayCall::Lock, LocksOfVideoMemory, 0, -1));
  sim::AddDisplayFault(Fault(sim::DisplayCall::Load));
  EXPECT_EXIT(ReCreateGraphFromGraphImage(&image.image, nullptr, graph), testing::ExitedWithCode(255), "");
  sim::ClearDisplayFaults();
}

}  // namespace
}  // namespace gamelib
