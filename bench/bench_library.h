// The library started with a 32-bit screen of the given size and its 3-D device, for
// benchmarks that draw through it: no sound, frames presented nowhere, the device's
// call trace off so that only the drawing is measured.
#pragma once

#include <cstdlib>

#include "gamelib/core.h"
#include "gamelib/graphics.h"
#include "platform/sim.h"

struct BenchLibrary {
  BenchLibrary(int width, int height) {
    sim::Reset();
    sim::SetVideoOutput("offline");
    sim::DisplayConfig config = sim::DefaultDisplayConfig();
    config.trace = false;
    sim::ConfigureDisplay(config);
    gamelib::SetNoSoundFlag(1);
    gamelib::SetGraphMode(width, height, 32);
    if (gamelib::InitializeLibrary() != 0 || gamelib::IsUse3DDrawing() != 1) std::abort();
  }
  ~BenchLibrary() { gamelib::TerminateLibrary(); }
  BenchLibrary(const BenchLibrary&) = delete;
  BenchLibrary& operator=(const BenchLibrary&) = delete;
};
