// The common body of this server's objects: reference counting, QueryInterface, IDispatch
// answered by the embedded type library's description of the dual interface, and
// ISupportErrorInfo, so that hosts look for the error information ComEdge sets.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include "app/com/type_library_win.h"
#include "base/module_win.h"
#include "base/raii_win.h"

namespace qz::win {

template <class Iface, const IID& kIid>
class DispatchObject : public Iface, public ISupportErrorInfo {
 public:
  DispatchObject() { ModuleAddRef(); }
  virtual ~DispatchObject() { ModuleRelease(); }
  DispatchObject(const DispatchObject&) = delete;
  DispatchObject& operator=(const DispatchObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, kIid)) {
      *out = static_cast<Iface*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
      *out = static_cast<ISupportErrorInfo*>(this);
    } else {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs_.Release(this); }

  // IDispatch, delegated to the type information of the dual interface.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return OwnTypeInfo(kIid, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    ComPtr<ITypeInfo> info;
    HRESULT hr = OwnTypeInfo(kIid, info.Put());
    if (FAILED(hr)) return hr;
    return DispGetIDsOfNames(info.Get(), names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* excep, UINT* arg_err) override {
    ComPtr<ITypeInfo> info;
    HRESULT hr = OwnTypeInfo(kIid, info.Put());
    if (FAILED(hr)) return hr;
    // A failed method's error information becomes the EXCEPINFO here.
    return info->Invoke(static_cast<Iface*>(this), id, flags, params, result, excep, arg_err);
  }

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override {
    return IsEqualIID(riid, kIid) ? S_OK : S_FALSE;
  }

 private:
  RefCount refs_;
};

}  // namespace qz::win
