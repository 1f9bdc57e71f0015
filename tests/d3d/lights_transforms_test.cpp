// Lights and transforms: the parameters of new lights, the full table, a light that cannot
// be allocated, and the matrices the device receives and the derived ones kept in the
// draw state, against products worked out here.
#include <cmath>
#include <cstring>

#include "core/library.h"
#include "core/memory.h"
#include "d3d/d3d_state.h"
#include "d3d/device_record.h"
#include "d3d/lights_transforms.h"
#include "display_fixture.h"
#include "graphics/draw_state.h"
#include "graphics/lights.h"

namespace gamelib {
namespace {

using LightsTest = DisplayTest;

D3DMATRIX M(std::initializer_list<float> values) {
  D3DMATRIX m{};
  std::copy(values.begin(), values.end(), &m._11);
  return m;
}

const float* Floats(const D3DMATRIX& m) { return &m._11; }

TEST_F(LightsTest, NewLightsCarryTheDefaultsAndDirectionsAreNormalised) {
  const int plain = AddLight();
  ASSERT_GE(plain, 0);
  EXPECT_EQ(plain & 0x78000000, 0x60000000);
  const LightRecord* record = GetLightRecord(plain);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->handle, plain);
  EXPECT_EQ(record->enabled, 1);
  EXPECT_EQ(record->deviceLightIndex, -1);
  const D3DLIGHT7& l = record->light;
  EXPECT_EQ(l.dltType, 0u);
  for (const D3DCOLORVALUE& c : {l.dcvDiffuse, l.dcvSpecular}) {
    EXPECT_EQ((std::vector<float>{c.r, c.g, c.b, c.a}), (std::vector<float>(4, 1.0f)));
  }
  EXPECT_EQ(std::bit_cast<std::uint32_t>(l.dcvAmbient.r), 0x3EA8F5C3u);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(l.dcvAmbient.a), 0x3EA8F5C3u);
  EXPECT_EQ((std::vector<float>{l.dvDirection.x, l.dvDirection.y, l.dvDirection.z, l.dvRange, l.dvPhi}),
            (std::vector<float>(5, 0.0f)));

  const int light = CreateDirectionalLight(1.0f, -1.0f, 1.0f);
  const D3DLIGHT7& d = GetLightRecord(light)->light;
  const float third = 1.0f / std::sqrt(3.0f);
  EXPECT_EQ(d.dltType, static_cast<D3DLIGHTTYPE>(D3DLIGHT_DIRECTIONAL));
  EXPECT_FLOAT_EQ(d.dvDirection.x, third);
  EXPECT_FLOAT_EQ(d.dvDirection.y, -third);
  EXPECT_FLOAT_EQ(d.dvDirection.z, third);
  const D3DVECTOR long_ = GetLightRecord(CreateDirectionalLight(0.0f, 3.0f, -4.0f))->light.dvDirection;
  EXPECT_EQ((std::vector<float>{long_.x, long_.y, long_.z}), (std::vector<float>{0.0f, 0.6f, -0.8f}));

  // A zero vector divides by a zero length: 0 x inf is not a number.
  const D3DVECTOR zero = GetLightRecord(CreateDirectionalLight(0.0f, 0.0f, 0.0f))->light.dvDirection;
  EXPECT_TRUE(std::isnan(zero.x) && std::isnan(zero.y) && std::isnan(zero.z));

  EXPECT_EQ(DeleteAllLights(), 0);
  EXPECT_EQ(GetLightTable()->count, 0);
  EXPECT_EQ(GetLightTable()->highWater, 0);
  EXPECT_EQ(GetLightRecord(plain), nullptr);
}

// Each reset of the draw state makes the default light along (1, -1, 1) and deletes the
// one it replaces; shutting the graphics down deletes it.
TEST_F(LightsTest, TheDrawStateResetMakesOneDefaultLight) {
  Start();
  const int first = GetDrawState().defaultLightHandle;
  const LightRecord* record = GetLightRecord(first);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->light.dltType, 3u);
  const float d = 1.0f / std::sqrt(3.0f);
  EXPECT_EQ((std::vector<float>{record->light.dvDirection.x, record->light.dvDirection.y,
                                record->light.dvDirection.z}),
            (std::vector<float>{1.0f * d, -1.0f * d, 1.0f * d}));
  EXPECT_EQ(GetLightTable()->count, 1);

  ASSERT_EQ(ResetDrawState(), 0);
  ASSERT_EQ(ResetDrawState(), 0);
  EXPECT_EQ(GetLightTable()->count, 1);
  EXPECT_EQ(GetLightRecord(first), nullptr);
  EXPECT_NE(GetLightRecord(GetDrawState().defaultLightHandle), nullptr);

  ASSERT_EQ(TerminateGraphicsSystem(), 0);
  EXPECT_EQ(GetLightTable()->count, 0);
  EXPECT_EQ(GetDrawState().defaultLightHandle, -1);
}

TEST_F(LightsTest, AFullTableRefusesTheNextLightWithoutAllocating) {
  std::vector<int> handles;
  for (int i = 0; i < kMaxLights; ++i) handles.push_back(AddLight());
  EXPECT_EQ(std::count(handles.begin(), handles.end(), -1), 0);
  const std::size_t blocks = GetMemoryUsage().blocks;
  EXPECT_EQ(AddLight(), -1);
  EXPECT_EQ(CreateDirectionalLight(1.0f, 0.0f, 0.0f), -1);
  EXPECT_EQ(GetMemoryUsage().blocks, blocks);

  // A freed slot is taken again; deleting the highest drops the high-water index past
  // the empty slots below it.
  ASSERT_EQ(DeleteLight(handles[100]), 0);
  const int again = AddLight();
  EXPECT_EQ(again & 0xFFFF, 100);
  EXPECT_EQ(GetLightRecord(handles[100]), nullptr);
  for (int i = 4000; i < kMaxLights; ++i) ASSERT_EQ(DeleteLight(handles[i]), 0);
  EXPECT_EQ(GetLightTable()->highWater, 4000);
  EXPECT_EQ(DeleteAllLights(), 0);
  EXPECT_EQ(GetLightTable()->count, 0);
}

// A light record that cannot be allocated is fatal: the message is written before the
// shutdown and the process ends with -1. The child hands its log out on stderr.
TEST_F(LightsTest, ALightThatCannotBeAllocatedEndsTheProgramWithItsMessage) {
  EXPECT_EXIT(
      {
        SetShutdownHandler([] {
          std::fputs(sim::TakeDebugOutput().c_str(), stderr);
          return 0;
        });
        sim::FailCall("HeapAlloc", 1);
        AddLight();
      },
      ::testing::ExitedWithCode(255), "0:ライト用のメモリの確保に失敗しました\r\n");
}

// The device gets each matrix as it was given, under the transform state of its kind;
// the draw state keeps world x view x projection x viewport and the view's rotation
// transposed.
TEST_F(LightsTest, TheDeviceReceivesTheMatricesAndTheDerivedOnesAreKept) {
  Start();
  const D3DMATRIX world = M({2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 4, 0, 1, 2, 3, 1});
  const D3DMATRIX view = M({0, 1, 0, 0, -1, 0, 0, 0, 0, 0, 1, 0, 5, 6, 7, 1});
  const D3DMATRIX projection = M({1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0.5f, 1, 0, 0, -0.25f, 0});
  const D3DMATRIX viewport = M({320, 0, 0, 0, 0, -240, 0, 0, 0, 0, 1, 0, 320, 240, 0, 1});
  std::memcpy(GetDrawState().viewportMatrix, &viewport, sizeof(viewport));

  std::size_t mark = sim::DisplayTraceMark();
  ASSERT_EQ(SetViewMatrix(&view), 0);
  ASSERT_EQ(SetProjectionMatrix(&projection), 0);
  for (int index : {0, 1, 2, 3, 4, -1}) ASSERT_EQ(SetWorldMatrix(&world, index), 0);
  const auto sent = sim::DisplayCallsSince(mark, sim::DisplayCall::SetTransform);
  ASSERT_EQ(sent.size(), 6u);  // indices 4 and -1 send nothing
  const DWORD states[] = {2, 3, 1, 4, 5, 6};
  for (std::size_t i = 0; i < sent.size(); ++i) {
    EXPECT_EQ(sent[i].type, states[i]);
    EXPECT_EQ(std::memcmp(&sent[i].matrix,
                          i == 0   ? &view
                          : i == 1 ? &projection
                                   : &world,
                          sizeof(D3DMATRIX)),
              0);
  }
  const sim::DeviceView device = sim::ViewDevice();
  EXPECT_EQ(std::memcmp(&device.transform[5], &world, sizeof(D3DMATRIX)), 0);

  // world x view = rows (0 2 0 0) (-3 0 0 0) (0 0 4 0) (3 7 10 1); x projection =
  // (0 2 0 0) (-3 0 0 0) (0 0 2 4) (3 7 4.75 10); x viewport:
  const float combined[16] = {0, -480, 0, 0, -960, 0, 0, 0, 1280, 960, 2, 4, 4160, 720, 4.75f, 10};
  EXPECT_EQ(
      std::vector<float>(&GetDrawState().combinedMatrix[0][0], &GetDrawState().combinedMatrix[0][0] + 16),
      std::vector<float>(combined, combined + 16));
  const float transposed[16] = {0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0};
  EXPECT_EQ(std::vector<float>(&GetDrawState().viewRotationTransposeMatrix[0][0],
                               &GetDrawState().viewRotationTransposeMatrix[0][0] + 16),
            std::vector<float>(transposed, transposed + 16));
  EXPECT_EQ(std::vector<float>(&GetDrawState().worldMatrix[0][0], &GetDrawState().worldMatrix[0][0] + 16),
            std::vector<float>(Floats(world), Floats(world) + 16));
  EXPECT_EQ(SetWorldMatrix(nullptr, 0), -1);
}

TEST_F(LightsTest, TransformsDrawTheBatchFirstAndNeedADevice) {
  // Without Direct3D the matrices are stored and derived, and nothing is sent.
  ResetDrawState();
  const D3DMATRIX scale = M({2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 2, 0, 0, 0, 0, 1});
  EXPECT_EQ(SetWorldMatrix(&scale, 0), 0);
  EXPECT_EQ(GetDrawState().combinedMatrix[1][1], 2.0f);
  EXPECT_EQ(SetCurrentDeviceWorldTransform(&scale, 0), -1);
  EXPECT_TRUE(sim::DisplayCallsSince(0, sim::DisplayCall::SetTransform).empty());

  Start();
  D3DDeviceRecord* record = CurrentDeviceRecord();
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(BeginSceneDevice(GetDirect3DState().currentDevice), 0);
  MakeBatchRoom(*record, 3);
  AdvanceBatch(*record, 3);
  const std::size_t mark = sim::DisplayTraceMark();
  EXPECT_EQ(SetCurrentDeviceProjectionTransform(&scale), 0);
  const auto draws = sim::DisplayCallsSince(mark, sim::DisplayCall::DrawPrimitive);
  const auto sends = sim::DisplayCallsSince(mark, sim::DisplayCall::SetTransform);
  ASSERT_EQ(draws.size(), 1u);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_LT(draws[0].sequence, sends[0].sequence);
  EXPECT_EQ(SetWorldTransformOnDevice(3, &scale, 0), -1);  // a record not in use
  EXPECT_EQ(SetWorldTransformOnDevice(GetDirect3DState().currentDevice, &scale, 7), 0);
  EndCurrentScene();
}

}  // namespace
}  // namespace gamelib
