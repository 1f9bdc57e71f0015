// Fault injection: per operation name, a call count and the windows of call numbers
// that must fail. Stand-ins ask from whatever thread calls them.
#include <climits>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base_internal.h"
#include "platform/hooks.h"
#include "platform/sim.h"

namespace {

struct Operation {
  int calls = 0;
  // Inclusive ranges of absolute call numbers that fail.
  std::vector<std::pair<int, int>> failing;
};

std::mutex faultMutex;
std::map<std::string, Operation, std::less<>>& Operations() {
  static auto* operations = new std::map<std::string, Operation, std::less<>>;
  return *operations;
}

Operation& Find(const char* name) {
  auto& operations = Operations();
  std::string_view key = name;
  auto it = operations.find(key);
  if (it == operations.end()) it = operations.emplace(std::string(key), Operation{}).first;
  return it->second;
}

}  // namespace

namespace platform {

bool ShouldFail(const char* operation) {
  if (operation == nullptr) return false;
  std::lock_guard lock(faultMutex);
  Operation& op = Find(operation);
  if (op.calls < INT_MAX) ++op.calls;
  bool fail = false;
  for (auto w = op.failing.begin(); w != op.failing.end();) {
    if (op.calls >= w->first && op.calls <= w->second) fail = true;
    if (w->second <= op.calls) {
      w = op.failing.erase(w);
    } else {
      ++w;
    }
  }
  return fail;
}

namespace detail {
void ResetFaults() {
  std::lock_guard lock(faultMutex);
  Operations().clear();
}
}  // namespace detail

}  // namespace platform

namespace sim {

void FailCall(const char* operation, int nth, int times) {
  if (operation == nullptr || nth < 1 || times < 1) return;
  std::lock_guard lock(faultMutex);
  Operation& op = Find(operation);
  long long first = static_cast<long long>(op.calls) + nth;
  long long last = first + times - 1;
  if (first > INT_MAX) return;
  op.failing.emplace_back(static_cast<int>(first), static_cast<int>(last > INT_MAX ? INT_MAX : last));
}

void ClearFailures() {
  std::lock_guard lock(faultMutex);
  for (auto& [name, op] : Operations()) op.failing.clear();
}

int CallCount(const char* operation) {
  if (operation == nullptr) return 0;
  std::lock_guard lock(faultMutex);
  auto& operations = Operations();
  auto it = operations.find(std::string_view(operation));
  return it == operations.end() ? 0 : it->second.calls;
}

}  // namespace sim
