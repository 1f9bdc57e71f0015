// Modules: a table of named modules the stand-ins register, in place of loading
// shared libraries. Tests hide modules or single exports, and count loads.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base_internal.h"
#include "platform/hooks.h"
#include "platform/sim.h"
#include "platform/win32.h"

namespace {

struct Export {
  std::string name;
  FARPROC function;
  bool present = true;
};

struct Module {
  std::string name;  // folded to lower case
  std::vector<Export> exports;
  bool present = true;
  int loads = 0;
};

std::mutex moduleMutex;
// Entries are never removed, so a module's address stays its handle; the table itself
// is never destroyed, since stand-ins may still call in while the program exits.
std::vector<std::unique_ptr<Module>>& Modules() {
  static auto* modules = new std::vector<std::unique_ptr<Module>>;
  return *modules;
}

Module* FindByName(const char* name) {
  if (name == nullptr) return nullptr;
  std::string folded = platform::detail::FoldCase(name);
  for (auto& m : Modules()) {
    if (m->name == folded) return m.get();
  }
  return nullptr;
}

Module* FindByHandle(HMODULE handle) {
  for (auto& m : Modules()) {
    if (reinterpret_cast<HMODULE>(m.get()) == handle) return m.get();
  }
  return nullptr;
}

HMODULE HandleOf(Module* m) { return reinterpret_cast<HMODULE>(m); }

}  // namespace

namespace platform {

void RegisterModule(const char* name, std::initializer_list<ModuleExport> exports) {
  if (name == nullptr || *name == '\0') return;
  std::lock_guard lock(moduleMutex);
  Module* m = FindByName(name);
  if (m == nullptr) {
    Modules().push_back(std::make_unique<Module>());
    m = Modules().back().get();
    m->name = detail::FoldCase(name);
  }
  m->present = true;
  m->exports.clear();
  for (const ModuleExport& e : exports) {
    if (e.name != nullptr) m->exports.push_back({e.name, e.function, true});
  }
}

namespace detail {
void ResetModules() {
  std::lock_guard lock(moduleMutex);
  for (auto& m : Modules()) {
    m->present = true;
    for (Export& e : m->exports) e.present = true;
  }
}
}  // namespace detail

}  // namespace platform

HMODULE LoadLibraryA(const char* name) {
  platform::detail::EnsureBuiltins();
  if (platform::ShouldFail("LoadLibraryA")) return nullptr;
  std::lock_guard lock(moduleMutex);
  Module* m = FindByName(name);
  if (m == nullptr || !m->present) return nullptr;
  ++m->loads;
  return HandleOf(m);
}

FARPROC GetProcAddress(HMODULE module, const char* name) {
  if (platform::ShouldFail("GetProcAddress")) return nullptr;
  if (name == nullptr) return nullptr;
  std::lock_guard lock(moduleMutex);
  Module* m = FindByHandle(module);
  if (m == nullptr || m->loads == 0) return nullptr;
  for (const Export& e : m->exports) {
    if (e.name == name) return e.present ? e.function : nullptr;
  }
  return nullptr;
}

BOOL FreeLibrary(HMODULE module) {
  if (platform::ShouldFail("FreeLibrary")) return FALSE;
  std::lock_guard lock(moduleMutex);
  Module* m = FindByHandle(module);
  if (m == nullptr || m->loads == 0) return FALSE;
  --m->loads;
  return TRUE;
}

HMODULE GetModuleHandleA(const char* name) {
  // The program itself: any non-null value serves as its instance handle.
  static char programImage;
  if (name == nullptr) return reinterpret_cast<HMODULE>(&programImage);
  platform::detail::EnsureBuiltins();
  std::lock_guard lock(moduleMutex);
  Module* m = FindByName(name);
  return m != nullptr && m->loads > 0 ? HandleOf(m) : nullptr;
}

namespace sim {

void SetModulePresent(const char* name, bool present) {
  platform::detail::EnsureBuiltins();
  std::lock_guard lock(moduleMutex);
  if (Module* m = FindByName(name)) m->present = present;
}

void SetModuleExportPresent(const char* module, const char* exportName, bool present) {
  if (exportName == nullptr) return;
  platform::detail::EnsureBuiltins();
  std::lock_guard lock(moduleMutex);
  Module* m = FindByName(module);
  if (m == nullptr) return;
  for (Export& e : m->exports) {
    if (e.name == exportName) e.present = present;
  }
}

int LiveModuleLoads() {
  std::lock_guard lock(moduleMutex);
  int loads = 0;
  for (auto& m : Modules()) loads += m->loads;
  return loads;
}

}  // namespace sim
