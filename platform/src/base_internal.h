// Shared between the parts of the platform base; not seen by the library.
#pragma once

#include <string>
#include <string_view>

namespace platform::detail {

// Runs RegisterBuiltins once, on first use of anything that reads a registry.
void EnsureBuiltins();
// Runs it again (sim::Reset), so that the stand-ins' defaults replace test overrides.
void RerunBuiltins();

// The parts' own share of sim::Reset.
void ResetFaults();
void ResetClock();
void ResetModules();
void ResetWindows();
void ResetDebugOutput();

// Live handle counts for sim::LiveObjects.
int LiveFileHandles();
int LiveFindHandles();

// Lower-case ASCII copy, for names the home platform compares without regard to case.
std::string FoldCase(std::string_view text);

}  // namespace platform::detail
