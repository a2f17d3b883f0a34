// The class factory of a creatable coclass: Create() makes the object with one reference.
#pragma once

#include <windows.h>

#include <new>

#include "app/com/error_info_win.h"
#include "base/module_win.h"
#include "base/raii_win.h"

namespace qz::win {

template <class Object, class Iface>
class ClassFactory final : public IClassFactory {
 public:
  ClassFactory() { ModuleAddRef(); }
  ~ClassFactory() { ModuleRelease(); }
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IClassFactory)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs_.Release(this); }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    Iface* object = nullptr;
    const HRESULT created = ComEdge(IID_IClassFactory, [&] { object = Object::Create(); });
    if (FAILED(created)) return created;
    const HRESULT hr = object->QueryInterface(riid, out);
    object->Release();  // the creator's reference; the caller now holds its own
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      ModuleAddRef();
    } else {
      ModuleRelease();
    }
    return S_OK;
  }

 private:
  RefCount refs_;
};

}  // namespace qz::win
