// The component object model as the library uses it: reference-counted interfaces,
// CoInitialize/CoUninitialize, and CoCreateInstance over the stand-ins' class registry.
#pragma once

#include <atomic>

#include "platform/win32.h"

constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_INPROC = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
constexpr DWORD CLSCTX_ALL = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

extern const IID IID_IUnknown;

struct IUnknown {
  virtual HRESULT QueryInterface(REFIID iid, void** object) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  virtual ~IUnknown() = default;
};

namespace platform {

// Counts every live stand-in COM object, for the tests' leak checks.
void ComObjectCreated();
void ComObjectDestroyed();
int LiveComObjects();

// Reference counting for a stand-in class implementing interface I (itself derived
// from IUnknown). QueryInterface answers IID_IUnknown and the interface's own id;
// a class with more interfaces overrides it.
template <class I>
class ComObject : public I {
 public:
  explicit ComObject(const IID& iid) : iid_(iid) { ComObjectCreated(); }
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;

  HRESULT QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    if (iid == iid_ || iid == IID_IUnknown) {
      AddRef();
      *object = static_cast<I*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override {
    ULONG left = --refs_;
    if (left == 0) delete this;
    return left;
  }
  ULONG RefCount() const { return refs_; }

 protected:
  ~ComObject() override { ComObjectDestroyed(); }

 private:
  const IID iid_;
  std::atomic<ULONG> refs_{1};
};

// A stand-in class factory: makes a new object and returns the asked interface.
using ComFactory = HRESULT (*)(REFIID iid, void** object);

}  // namespace platform

HRESULT CoInitialize(void* reserved);
void CoUninitialize();
HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context, REFIID iid, void** object);
