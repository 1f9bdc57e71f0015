// Shared set-up of the core and top-layer tests: a fresh platform on the virtual
// clock, a private temporary directory as the current one (the log is written there),
// and checks that nothing is left allocated or open afterwards.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/memory.h"
#include "core/pump.h"
#include "gamelib/core.h"
#include "platform/sim.h"

class CoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::Reset();
    sim::UseVirtualClock(true);
    char pattern[] = "/tmp/gamelib-core-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::filesystem::current_path(directory_ = pattern);
    gamelib::SetOutApplicationLogValidFlag(1);
    gamelib::SetNoSoundFlag(0);
    baseline_ = gamelib::GetMemoryUsage().blocks;
  }
  void TearDown() override {
    gamelib::TerminateLibrary();
    gamelib::SetFileFunctionTable(nullptr);
    gamelib::SetPumpWorkObserver(nullptr);
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, baseline_);
    EXPECT_EQ(sim::LiveObjects(), 0);
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(directory_);
    sim::Reset();
  }
  std::string Log() const {
    std::ifstream in(directory_ / "Log.txt", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // What the log got since the last call.
  std::string NewLog() {
    std::string log = Log();
    const std::size_t from = seen_ < log.size() ? seen_ : log.size();
    seen_ = log.size();
    return log.substr(from);
  }

  std::filesystem::path previous_ = std::filesystem::current_path(), directory_;
  std::size_t baseline_ = 0, seen_ = 0;
};
