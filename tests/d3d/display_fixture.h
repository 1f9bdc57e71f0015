// Shared set-up of the graphics and 3-D tests: a reset display stand-in on the virtual
// clock, the library log captured from the debugger output, the 3-D back end behind the
// graphics core's hooks, and checks that shutdown leaves no stand-in object and no
// library block behind. Also images in any layout and the tests' own pixel conversion.
#pragma once

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/log.h"
#include "core/memory.h"
#include "gamelib/core.h"
#include "gamelib/graphics.h"
#include "graphics/color_data.h"
#include "graphics/graphics_hooks.h"
#include "graphics/screen.h"
#include "platform/com.h"
#include "platform/sim.h"
#include "top/top.h"

// A fault rule: of the calls that match, `skip` pass, then `times` fail (-1: all).
inline sim::DisplayFault Fault(sim::DisplayCall call,
                               std::function<bool(const sim::DisplayCallRecord&)> match = {}, int skip = 0,
                               int times = 1, HRESULT result = E_FAIL, bool afterCallbacks = false) {
  sim::DisplayFault fault;
  fault.call = call;
  fault.match = std::move(match);
  fault.skip = skip;
  fault.times = times;
  fault.result = result;
  fault.afterCallbacks = afterCallbacks;
  return fault;
}

class DisplayTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::UseVirtualClock(true);
    gamelib::SetOutApplicationLogValidFlag(1);
    gamelib::StartLog(nullptr);
    blocks_ = gamelib::GetMemoryUsage().blocks;
    gamelib::SetGraphMode(640, 480, 16);
    gamelib::SetNotUse3DFlag(0);
    gamelib::SetUse3DFlag(1);
    gamelib::OverrideScreenColorBitDepth(0);
    gamelib::SetGraphics3DHooks(gamelib::Direct3DHooks());
    sim::TakeDebugOutput();
  }
  void TearDown() override {
    gamelib::TerminateGraphicsSystem();
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, blocks_) << "library blocks left";
    EXPECT_EQ(sim::LiveObjects(), 0) << "stand-in objects left";
    EXPECT_EQ(sim::LiveSurfaceIds().size(), 0u);
    gamelib::SetGraphics3DHooks(gamelib::Graphics3DHooks{});
    gamelib::OverrideScreenColorBitDepth(0);
    gamelib::StopLog();
    gamelib::SetOutApplicationLogValidFlag(0);
    sim::Reset();
  }

  // The screen and (when the configuration allows) the 3-D device.
  void Start(const sim::DisplayConfig& config) {
    sim::ConfigureDisplay(config);
    ASSERT_EQ(gamelib::InitializeGraphicsSystem(), 0);
  }
  void Start() { Start(sim::DefaultDisplayConfig()); }

  // The log written since the last call.
  static std::string NewLog() { return sim::TakeDebugOutput(); }

  static std::size_t CountCalls(std::size_t mark, sim::DisplayCall call,
                                const std::function<bool(const sim::DisplayCallRecord&)>& match = {}) {
    return sim::DisplayCallsSince(mark, call, match).size();
  }
  static std::size_t CountRenderState(std::size_t mark, DWORD type) {
    return CountCalls(mark, sim::DisplayCall::SetRenderState,
                      [type](const sim::DisplayCallRecord& r) { return r.type == type; });
  }

  std::size_t blocks_ = 0;
};

// An image in memory of any layout, filled with a repeatable pattern that reaches
// every bit.
struct TestImage {
  std::vector<std::uint8_t> pixels;
  gamelib::GraphImage image{};
};

inline TestImage MakeTestImage(const DDPIXELFORMAT& format, int width, int height, std::uint32_t seed,
                               int padding = 12) {
  TestImage t;
  EXPECT_EQ(gamelib::CreateColorDataFromPixelFormat(&format, &t.image.colorData), 0);
  const int bytes = t.image.colorData.pixelByte;
  t.image.width = width;
  t.image.height = height;
  t.image.pitch = width * bytes + padding;
  t.pixels.resize(static_cast<std::size_t>(t.image.pitch) * height);
  std::uint32_t x = seed * 2654435761u + 1;
  for (std::uint8_t& b : t.pixels) {
    x = x * 1664525u + 1013904223u;
    b = static_cast<std::uint8_t>(x >> 24);
  }
  t.image.graphData = t.pixels.data();
  return t;
}

// The tests' own conversion, from the masks alone: channels widen by repeating their
// bits and narrow by dropping the low ones; a missing alpha reads 255.
inline std::uint32_t WidenBits(std::uint32_t value, int width) {
  std::uint32_t out = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const int from = width - 1 - (bit % width);
    out = out << 1 | ((value >> from) & 1);
  }
  return out;
}
inline std::uint32_t ChannelOf(std::uint32_t raw, std::uint32_t mask, std::uint32_t missing) {
  if (mask == 0) return missing;
  return WidenBits((raw & mask) >> std::countr_zero(mask), std::popcount(mask));
}
inline std::uint32_t MaskedToArgb(const DDPIXELFORMAT& f, std::uint32_t raw) {
  const std::uint32_t alphaMask = (f.dwFlags & DDPF_ALPHAPIXELS) ? f.dwRGBAlphaBitMask : 0;
  return ChannelOf(raw, alphaMask, 255) << 24 | ChannelOf(raw, f.dwRBitMask, 0) << 16 |
         ChannelOf(raw, f.dwGBitMask, 0) << 8 | ChannelOf(raw, f.dwBBitMask, 0);
}
inline std::uint32_t ArgbToMasked(const DDPIXELFORMAT& f, std::uint32_t argb) {
  auto narrow = [](std::uint32_t c8, std::uint32_t mask) -> std::uint32_t {
    if (mask == 0) return 0;
    return (c8 >> (8 - std::popcount(mask))) << std::countr_zero(mask);
  };
  const std::uint32_t alphaMask = (f.dwFlags & DDPF_ALPHAPIXELS) ? f.dwRGBAlphaBitMask : 0;
  return narrow(argb >> 24, alphaMask) | narrow((argb >> 16) & 0xFF, f.dwRBitMask) |
         narrow((argb >> 8) & 0xFF, f.dwGBitMask) | narrow(argb & 0xFF, f.dwBBitMask);
}
inline std::uint32_t RawAt(const std::uint8_t* row, int x, int bytes) {
  const std::uint8_t* p = row + x * bytes;
  return bytes == 2 ? static_cast<std::uint32_t>(p[0] | p[1] << 8)
                    : static_cast<std::uint32_t>(p[0] | p[1] << 8 | p[2] << 16) |
                          static_cast<std::uint32_t>(p[3]) << 24;
}
