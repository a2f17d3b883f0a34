// The stand-in keyboard library for Windows: the COM in-process server KbdBridge.dll with the
// class "KbdBridge.qzCherry". Calls are dispatched through the type library; the events go out
// through one connection point, found through IProvideClassInfo as the component finds it.
#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <utility>

#include "app/com/error_info_win.h"
#include "base/text_win.h"
#include "kbdbridge.h"
#include "stand_in.h"

using qz::win::FromBstr;
using qz::win::ToBstr;

std::string kbdbridge::Env(const char* name) {
  char buf[1024];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  return n < sizeof buf ? std::string(buf, n) : std::string();
}

namespace {

HMODULE g_module = nullptr;
LONG g_locks = 0;  // live objects and server locks

std::wstring ModulePath() {
  wchar_t path[MAX_PATH];
  return std::wstring(path, GetModuleFileNameW(g_module, path, MAX_PATH));
}

HRESULT Text(BSTR* out, const std::string& text) {
  *out = ToBstr(text);
  return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT LoadTypeInfo(REFGUID guid, ITypeInfo** info) {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &lib);
  if (SUCCEEDED(hr)) {
    hr = lib->GetTypeInfoOfGuid(guid, info);
    lib->Release();
  }
  return hr;
}

// IUnknown and IDispatch of an object with the dual interface I, dispatched through I's type
// information.
template <class I>
class Dispatch : public I {
 public:
  explicit Dispatch(REFIID iid) : iid_(iid) {
    InterlockedIncrement(&g_locks);
    LoadTypeInfo(iid, &info_);
  }
  virtual ~Dispatch() {
    if (info_ != nullptr) info_->Release();
    InterlockedDecrement(&g_locks);
  }
  bool Loaded() const { return info_ != nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    *ppv = Find(riid);
    if (*ppv == nullptr) return E_NOINTERFACE;
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs_); }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return n;
  }
  // The component finds the type information through IProvideClassInfo, not here.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return DispGetIDsOfNames(info_, names, count, ids);
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* ei, UINT* argErr) override {
    return DispInvoke(static_cast<I*>(this), info_, id, flags, params, result, ei, argErr);
  }

 protected:
  virtual void* Find(REFIID riid) {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, iid_)) {
      return static_cast<I*>(this);
    }
    return nullptr;
  }

 private:
  LONG refs_ = 1;
  IID iid_;
  ITypeInfo* info_ = nullptr;
};

class ErrObject final : public Dispatch<_ErrObject> {
 public:
  explicit ErrObject(kbdbridge::ErrorInfo e) : Dispatch(IID__ErrObject), e_(std::move(e)) {}
  HRESULT STDMETHODCALLTYPE get_Number(LONG* v) override {
    *v = e_.number;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Source(BSTR* v) override { return Text(v, e_.source); }
  HRESULT STDMETHODCALLTYPE get_Description(BSTR* v) override { return Text(v, e_.description); }

 private:
  kbdbridge::ErrorInfo e_;
};

std::string WindowText(HWND w) {
  wchar_t text[256];
  return qz::win::Narrow(std::wstring_view(text, std::max(GetWindowTextW(w, text, 256), 0)));
}

// Named CALLBACK functions, not lambdas: on i686 the enumeration callbacks are stdcall.
BOOL CALLBACK ProbeWindow(HWND w, LPARAM lines) {
  const bool top = (GetWindowLongW(w, GWL_STYLE) & WS_CHILD) == 0;
  if (top && !IsWindowVisible(w)) return TRUE;
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  *reinterpret_cast<std::string*>(lines) += std::string(top ? "window " : "control ") + cls +
                                            " enabled=" + (IsWindowEnabled(w) ? "1" : "0") +
                                            " text=" + WindowText(w) + "\n";
  if (top) EnumChildWindows(w, ProbeWindow, lines);
  return TRUE;
}

// How a test sees the reader window while the read blocks: each visible top-level window of the
// caller's thread and its controls, with class, enabled state and text, appended to the file
// that KBDBRIDGE_PROBE names.
void ProbeWindows() {
  const std::string path = kbdbridge::Env("KBDBRIDGE_PROBE");
  if (path.empty()) return;
  std::string lines;
  EnumThreadWindows(GetCurrentThreadId(), ProbeWindow, reinterpret_cast<LPARAM>(&lines));
  std::ofstream(path, std::ios::app | std::ios::binary) << lines;
}

class Cherry final : public Dispatch<_qzCherry>,
                     public IConnectionPointContainer,
                     public IConnectionPoint,
                     public IProvideClassInfo,
                     kbdbridge::Events {
 public:
  Cherry() : Dispatch(IID__qzCherry) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return Dispatch::QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Dispatch::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return Dispatch::Release(); }

  HRESULT STDMETHODCALLTYPE ReadKVK(LONG* timeout, LONG*, LONG*, VARIANT_BOOL* result) override {
    try {
      ProbeWindows();
      const auto outcome = kbdbridge::ReadKVK(*timeout, *this, fields_);
      if (const auto* e = std::get_if<kbdbridge::ErrorInfo>(&outcome))
        return qz::win::ReportError(IID__qzCherry, e->number, e->source, e->description);
      *result = std::get<bool>(outcome) ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    } catch (const std::exception& e) {
      return qz::win::ReportError(IID__qzCherry, 7, "KbdBridge", e.what());
    }
  }
#define QZ_FIELD(Name, i)                                  \
  HRESULT STDMETHODCALLTYPE get_##Name(BSTR* v) override { \
    return Text(v, fields_[i]);                            \
  }
  QZ_FIELD(KrankenKassenName, 0)
  QZ_FIELD(VersichertenNummer, 1)
  QZ_FIELD(VKNR, 2)
  QZ_FIELD(VersichertenStatus, 3)
  QZ_FIELD(StatusErgaenzung, 4)
  QZ_FIELD(Titel, 5)
  QZ_FIELD(Vorname, 6)
  QZ_FIELD(NamensZusatz, 7)
  QZ_FIELD(FamilienName, 8)
  QZ_FIELD(Geburtsdatum, 9)
  QZ_FIELD(StrassenName, 10)
  QZ_FIELD(LaenderCode, 11)
  QZ_FIELD(PostLeitzahl, 12)
  QZ_FIELD(OrtsName, 13)
  QZ_FIELD(Gueltigkeit, 14)
#undef QZ_FIELD

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override {
    *cp = IsEqualIID(riid, DIID___qzCherry) ? this : nullptr;
    if (*cp == nullptr) return CONNECT_E_NOCONNECTION;
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    *iid = DIID___qzCherry;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override {
    *c = this;
    AddRef();
    return S_OK;
  }
  // One sink at a time, as a VB class with events has for the one variable that holds it.
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink_ != nullptr) return CONNECT_E_ADVISELIMIT;
    if (FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&sink_))))
      return CONNECT_E_CANNOTCONNECT;
    *cookie = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override {
    if (cookie != 1 || sink_ == nullptr) return CONNECT_E_NOCONNECTION;
    std::exchange(sink_, nullptr)->Release();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    return LoadTypeInfo(CLSID_qzCherry, info);
  }

 private:
  ~Cherry() override {
    if (sink_ != nullptr) sink_->Release();
  }

  void* Find(REFIID riid) override {
    if (IsEqualIID(riid, IID_IConnectionPointContainer))
      return static_cast<IConnectionPointContainer*>(this);
    if (IsEqualIID(riid, IID_IProvideClassInfo)) return static_cast<IProvideClassInfo*>(this);
    return Dispatch::Find(riid);
  }

  // The events, with their arguments by reference and in reverse order, as VB raises them.
  std::optional<kbdbridge::ErrorInfo> CherryError(std::int32_t number,
                                                  const std::string& text) override {
    LONG n = number;
    BSTR description = ToBstr(text);
    VARIANT args[2] = {};
    args[0].vt = VT_BSTR | VT_BYREF;
    args[0].pbstrVal = &description;
    args[1].vt = VT_I4 | VT_BYREF;
    args[1].plVal = &n;
    auto raised = Fire(1, args, 2);
    SysFreeString(description);
    return raised;
  }
  std::optional<kbdbridge::ErrorInfo> Error(const kbdbridge::ErrorInfo& e, const std::string& modul,
                                            const std::string& proc,
                                            const std::string& zusatz) override {
    IDispatch* err = new ErrObject(e);
    BSTR texts[3] = {ToBstr(zusatz), ToBstr(proc), ToBstr(modul)};
    VARIANT args[4] = {};
    for (int i = 0; i < 3; ++i) {
      args[i].vt = VT_BSTR | VT_BYREF;
      args[i].pbstrVal = &texts[i];
    }
    args[3].vt = VT_DISPATCH | VT_BYREF;
    args[3].ppdispVal = &err;
    auto raised = Fire(2, args, 4);
    for (BSTR t : texts) SysFreeString(t);
    if (err != nullptr) err->Release();
    return raised;
  }
  // An error the sink raises back ends the read.
  std::optional<kbdbridge::ErrorInfo> Fire(DISPID id, VARIANT* args, UINT count) {
    if (sink_ == nullptr) return std::nullopt;
    IDispatch* sink = sink_;
    sink->AddRef();
    DISPPARAMS params{args, nullptr, count, 0};
    EXCEPINFO ei{};
    const HRESULT hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                    nullptr, &ei, nullptr);
    sink->Release();
    if (hr != DISP_E_EXCEPTION) return std::nullopt;
    if (ei.pfnDeferredFillIn != nullptr) ei.pfnDeferredFillIn(&ei);
    kbdbridge::ErrorInfo e{ei.wCode != 0 ? ei.wCode : qz::win::NumberOf(ei.scode),
                           FromBstr(ei.bstrSource), FromBstr(ei.bstrDescription)};
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrHelpFile);
    return e;
  }

  IDispatch* sink_ = nullptr;
  std::string fields_[kbdbridge::kFieldCount];
};

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    const bool ok = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory);
    *ppv = ok ? this : nullptr;
    return ok ? S_OK : E_NOINTERFACE;
  }
  // A static object: its references do not keep the server loaded, its locks do.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* c = new (std::nothrow) Cherry;
    if (c == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = c->Loaded() ? c->QueryInterface(riid, ppv) : TYPE_E_CANTLOADLIBRARY;
    c->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    lock ? InterlockedIncrement(&g_locks) : InterlockedDecrement(&g_locks);
    return S_OK;
  }
};

ClassFactory g_factory;

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = instance;
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (!IsEqualCLSID(clsid, CLSID_qzCherry)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
  return g_locks == 0 ? S_OK : S_FALSE;
}
}  // extern "C"
