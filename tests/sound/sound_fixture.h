// Shared set-up of the sound tests: a fresh platform on the virtual clock, the library
// started (which starts the sound system) in a private directory, and at the end the
// checks that shutdown left no device object and no library memory behind.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/memory.h"
#include "gamelib/core.h"
#include "gamelib/sound.h"
#include "platform/sim.h"
#include "sound/sound_buffers.h"
#include "sound/sound_handles.h"
#include "sound/sound_state.h"
#include "sound/sound_system.h"

namespace soundtest {

inline WAVEFORMATEX Pcm(WORD channels, DWORD rate, WORD bits) {
  WAVEFORMATEX f;
  std::memset(&f, 0, sizeof(f));
  f.wFormatTag = WAVE_FORMAT_PCM;
  f.nChannels = channels;
  f.nSamplesPerSec = rate;
  f.wBitsPerSample = bits;
  f.nBlockAlign = static_cast<WORD>(channels * bits / 8);
  f.nAvgBytesPerSec = f.nBlockAlign * rate;
  return f;
}

// The log as written, with each line's millisecond prefix taken off (tabs kept) and
// CR LF turned into LF.
inline std::string StripLogPrefixes(const std::string& raw) {
  std::string out;
  bool lineStart = true;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (lineStart) {
      std::size_t j = i;
      while (j < raw.size() && raw[j] >= '0' && raw[j] <= '9') ++j;
      if (j > i && j < raw.size() && raw[j] == ':') i = j + 1;
      lineStart = false;
      if (i >= raw.size()) break;
    }
    char c = raw[i];
    if (c == '\r') continue;
    out += c;
    if (c == '\n') lineStart = true;
  }
  return out;
}

// The part of `log` from the first `from` up to and including the first `to` after it.
inline std::string Between(const std::string& log, const std::string& from, const std::string& to) {
  std::size_t a = log.find(from);
  if (a == std::string::npos) return {};
  std::size_t b = log.find(to, a);
  if (b == std::string::npos) return log.substr(a);
  return log.substr(a, b + to.size() - a);
}

inline std::vector<sim::SoundCall> CallsNamed(const char* op) {
  std::vector<sim::SoundCall> out;
  for (const sim::SoundCall& call : sim::SoundCalls()) {
    if (call.op == op) out.push_back(call);
  }
  return out;
}

inline sim::SoundBufferInfo Inspect(IDirectSoundBuffer* buffer) {
  sim::SoundBufferInfo info;
  EXPECT_TRUE(sim::InspectSoundBuffer(buffer, &info));
  return info;
}

class SoundTest : public ::testing::Test {
 protected:
  // Tests that need the device set up differently override this; it runs after the
  // platform reset and before the library starts.
  virtual void ConfigurePlatform() {}
  virtual bool StartWithSound() const { return true; }

  void SetUp() override {
    sim::Reset();
    sim::UseVirtualClock(true);
    previous_ = std::filesystem::current_path();
    char pattern[] = "/tmp/gamelib-sound-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    directory_ = pattern;
    std::filesystem::current_path(directory_);
    gamelib::SetOutApplicationLogValidFlag(1);
    gamelib::SetNoSoundFlag(StartWithSound() ? 0 : 1);
    baseline_ = gamelib::GetMemoryUsage();
    ConfigurePlatform();
    ASSERT_EQ(gamelib::InitializeLibrary(), 0);
    startLog_ = StripLogPrefixes(sim::TakeDebugOutput());
  }

  void TearDown() override {
    gamelib::TerminateLibrary();
    gamelib::SetNoSoundFlag(0);
    gamelib::SetOutApplicationLogValidFlag(0);
    EXPECT_EQ(gamelib::GetSoundSystemState().directSound, nullptr);
    EXPECT_EQ(gamelib::GetSoundTable().count, 0);
    EXPECT_EQ(gamelib::GetMemoryUsage().blocks, baseline_.blocks);
    EXPECT_EQ(sim::LiveObjects(), 0);
    EXPECT_EQ(sim::LiveSoundObjects(), 0);
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
    sim::Reset();
  }

  std::string TakeLog() { return StripLogPrefixes(sim::TakeDebugOutput()); }

  // A memory sound as the loader makes one: the record, its buffers, the PCM copied
  // into the (shared) buffer data. -1 when any step is refused.
  static int MakeMemorySound(const WAVEFORMATEX& format, const std::vector<std::uint8_t>& pcm, int buffers) {
    int handle = gamelib::AddSoundData(-1);
    if (handle == -1) return -1;
    if (gamelib::CreateSoundBuffers(&format, static_cast<std::uint32_t>(pcm.size()), gamelib::SOUND_KIND_MEMORY,
                                    buffers, handle) != 0) {
      gamelib::DeleteSoundHandle(handle);
      return -1;
    }
    gamelib::SoundHandleRecord* record = gamelib::GetSoundHandleRecord(handle);
    record->format = format;
    record->dataBytes = static_cast<std::uint32_t>(pcm.size());
    record->data = GAMELIB_ALLOC(pcm.size());
    std::memcpy(record->data, pcm.data(), pcm.size());
    if (record->bufferCount > 0) {
      void* p1 = nullptr;
      void* p2 = nullptr;
      DWORD n1 = 0;
      DWORD n2 = 0;
      if (gamelib::LockSoundBufferWrapper(&record->buffers[0], 0, static_cast<DWORD>(pcm.size()), &p1, &n1, &p2,
                                          &n2) != 0) {
        gamelib::DeleteSoundHandle(handle);
        return -1;
      }
      std::memcpy(p1, pcm.data(), n1);
      gamelib::UnlockSoundBufferWrapper(&record->buffers[0], p1, n1, p2, n2);
    }
    return handle;
  }

  static gamelib::SoundHandleRecord* Record(int handle) { return gamelib::GetSoundHandleRecord(handle); }

  std::filesystem::path directory_;
  std::filesystem::path previous_;
  gamelib::MemoryUsage baseline_{};
  std::string startLog_;
};

}  // namespace soundtest
