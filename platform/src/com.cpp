// COM: GUID comparison, apartment initialisation, the class registry and the count
// of live stand-in objects.
#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "base_internal.h"
#include "platform/com.h"
#include "platform/hooks.h"

bool operator==(const GUID& a, const GUID& b) {
  return a.Data1 == b.Data1 && a.Data2 == b.Data2 && a.Data3 == b.Data3 &&
         std::memcmp(a.Data4, b.Data4, sizeof a.Data4) == 0;
}

const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};

namespace {

struct ComClass {
  CLSID clsid;
  platform::ComFactory factory;
};

std::mutex comMutex;
// Never destroyed: stand-ins may still call in while the program exits.
std::vector<ComClass>& ComClasses() {
  static auto* classes = new std::vector<ComClass>;
  return *classes;
}
int comInitCount = 0;
std::atomic<int> liveComObjects{0};

}  // namespace

namespace platform {

void ComObjectCreated() { ++liveComObjects; }
void ComObjectDestroyed() { --liveComObjects; }
int LiveComObjects() { return liveComObjects.load(); }

void RegisterComClass(const CLSID& clsid, ComFactory factory) {
  std::lock_guard lock(comMutex);
  for (ComClass& c : ComClasses()) {
    if (c.clsid == clsid) {
      c.factory = factory;
      return;
    }
  }
  ComClasses().push_back({clsid, factory});
}

}  // namespace platform

HRESULT CoInitialize(void*) {
  std::lock_guard lock(comMutex);
  return ++comInitCount == 1 ? S_OK : S_FALSE;
}

void CoUninitialize() {
  std::lock_guard lock(comMutex);
  if (comInitCount > 0) --comInitCount;
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  platform::detail::EnsureBuiltins();
  if (platform::ShouldFail("CoCreateInstance")) return E_FAIL;
  platform::ComFactory factory = nullptr;
  {
    std::lock_guard lock(comMutex);
    if (comInitCount == 0) return CO_E_NOTINITIALIZED;
    for (const ComClass& c : ComClasses()) {
      if (c.clsid == clsid) factory = c.factory;
    }
  }
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((context & CLSCTX_ALL) == 0) return E_INVALIDARG;
  if (factory == nullptr) return REGDB_E_CLASSNOTREG;
  // The factory runs unlocked: it may itself create objects.
  HRESULT hr = factory(iid, object);
  if (FAILED(hr)) {
    *object = nullptr;
  } else if (*object == nullptr) {
    hr = E_FAIL;
  }
  return hr;
}
