// Shared set-up of the core tests: a fresh platform with the virtual clock, a private
// temporary directory as the current directory (the log is written there), and checks
// that nothing is left allocated or open afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/memory.h"
#include "core/pump.h"
#include "gamelib/core.h"
#include "platform/sim.h"

class CoreTest : public ::testing::Test {
 public:
  static std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 protected:
  void SetUp() override {
    sim::Reset();
    sim::UseVirtualClock(true);
    previous_ = std::filesystem::current_path();
    char pattern[] = "/tmp/gamelib-core-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    std::filesystem::current_path(directory_);
    gamelib::SetOutApplicationLogValidFlag(1);
    gamelib::SetNoSoundFlag(0);
    gamelib::ChangeWindowMode(1);
    baseline_ = gamelib::GetMemoryUsage();
  }

  void TearDown() override {
    gamelib::TerminateLibrary();
    gamelib::SetPumpWorkObserver(nullptr);
    gamelib::SetFileFunctionTable(nullptr);
    gamelib::SetOutApplicationLogValidFlag(0);
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, baseline_.blocks);
    EXPECT_EQ(sim::LiveObjects(), 0);
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
    sim::Reset();
  }

  std::string LogFile() const { return ReadFile(directory_ / "Log.txt"); }

  std::filesystem::path directory_;
  std::filesystem::path previous_;
  gamelib::MemoryUsage baseline_{};
};
