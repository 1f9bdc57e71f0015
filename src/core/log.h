// Internal control of the library log: start-up opens it, shutdown closes it.
#pragma once

namespace gamelib {

constexpr int kLogFormatBufferBytes = 2048;

bool LogEnabled();
// Resets the clock base and the indent; creates "Log.txt" in `directory` when the log is on.
void StartLog(const char* directory);
void StopLog();

}  // namespace gamelib
