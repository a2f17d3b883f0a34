// kbdsim: a simulated keyboard card reader for hosts that want to try their keyboard path
// without the keyboard. The COM in-process server KbdBridge.dll with the class
// "KbdBridge.qzCherry", registered by regsvr32. Each read plays the scenario named by the
// value Scenario of HKEY_CURRENT_USER\Software\kbdsim (read anew each time, so a host can switch
// between reads):
//   success (default)  the test card below          unreadable   the CherryError event -42
//   false              no card in time (False)       error7       the CherryError event 7
//   error-event        the Error event               fail         ReadKVK fails with error 1234
// Whatever the scenario, a read without a positive time-out (lngTimeout, milliseconds) fails.
// Calls are dispatched through the type library; the events go out through one connection point,
// found through IProvideClassInfo as the component finds it.
#include <windows.h>

#include <ocidl.h>
#include <olectl.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "app/com/error_info_win.h"
#include "base/raii_win.h"
#include "base/text_win.h"
#include "kbdsim.h"

using qz::win::FromBstr;
using qz::win::ToBstr;

namespace {

struct ErrorInfo {
  std::int32_t number = 0;
  std::string source, description;
};

// The card of a successful read, in the order of the properties: every value distinct, so that
// one copied into the wrong place shows; umlauts and ß in several, so that a broken conversion
// shows.
constexpr int kFieldCount = 15;
const char* const kTestCard[kFieldCount] = {
    "Testkasse Süd", "A123456789", "99999",           "1000", "4",     "Dr.",  "Jürgen", "von",
    "Müßiggang",     "17.03.1962", "Hauptstraße 12a", "D",    "50667", "Köln", "12/29"};

std::string Scenario() {
  wchar_t text[64] = {};
  DWORD size = sizeof text;
  RegGetValueW(HKEY_CURRENT_USER, L"Software\\kbdsim", L"Scenario", RRF_RT_REG_SZ, nullptr, text,
               &size);
  return qz::win::Narrow(text);
}

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
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs_.Release(this); }
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
  qz::win::RefCount refs_;
  IID iid_;
  ITypeInfo* info_ = nullptr;
};

class ErrObject final : public Dispatch<_ErrObject> {
 public:
  explicit ErrObject(ErrorInfo e) : Dispatch(IID__ErrObject), e_(std::move(e)) {}
  HRESULT STDMETHODCALLTYPE get_Number(LONG* v) override {
    *v = e_.number;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_Source(BSTR* v) override { return Text(v, e_.source); }
  HRESULT STDMETHODCALLTYPE get_Description(BSTR* v) override { return Text(v, e_.description); }

 private:
  ErrorInfo e_;
};

class Cherry final : public Dispatch<_qzCherry>,
                     public IConnectionPointContainer,
                     public IConnectionPoint,
                     public IProvideClassInfo {
 public:
  Cherry() : Dispatch(IID__qzCherry) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    return Dispatch::QueryInterface(riid, ppv);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Dispatch::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return Dispatch::Release(); }

  HRESULT STDMETHODCALLTYPE ReadKVK(LONG* timeout, LONG*, LONG*, VARIANT_BOOL* result) override {
    *result = VARIANT_FALSE;
    for (auto& f : fields_) f.clear();
    const std::string scenario = Scenario();
    std::optional<ErrorInfo> raised;
    if (timeout == nullptr || *timeout <= 0) {
      // A reader needs to know how long to wait for the card; a host that passes no time-out
      // (or its arguments in the wrong order) hears of it here rather than from a real keyboard.
      raised = ErrorInfo{5, "KbdBridge", "No time-out given to ReadKVK"};
    } else if (scenario.empty() || scenario == "success") {
      for (int i = 0; i < kFieldCount; ++i) fields_[i] = kTestCard[i];
      *result = VARIANT_TRUE;
    } else if (scenario == "unreadable") {
      raised = CherryError(-42, "Karte nicht lesbar");
    } else if (scenario == "error7") {
      raised = CherryError(7, "Lesefehler: Prüfsumme");
    } else if (scenario == "error-event") {
      raised =
          Error({5, "KbdBridge", "Ungültiger Prozeduraufruf"}, "modKVK", "ReadTrack", "Tastatur 1");
    } else if (scenario == "fail") {
      raised = ErrorInfo{1234, "KbdBridge.qzCherry", "Keyboard not connected"};
    } else if (scenario != "false") {
      raised = ErrorInfo{5, "KbdBridge", "Unknown kbdsim scenario: " + scenario};
    }
    if (raised)
      return qz::win::ReportError(IID__qzCherry, raised->number, raised->source,
                                  raised->description);
    return S_OK;
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
  std::optional<ErrorInfo> CherryError(std::int32_t number, const std::string& text) {
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
  std::optional<ErrorInfo> Error(const ErrorInfo& e, const std::string& modul,
                                 const std::string& proc, const std::string& zusatz) {
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
  std::optional<ErrorInfo> Fire(DISPID id, VARIANT* args, UINT count) {
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
    ErrorInfo e{ei.wCode != 0 ? ei.wCode : qz::win::NumberOf(ei.scode), FromBstr(ei.bstrSource),
                FromBstr(ei.bstrDescription)};
    SysFreeString(ei.bstrSource);
    SysFreeString(ei.bstrDescription);
    SysFreeString(ei.bstrHelpFile);
    return e;
  }

  IDispatch* sink_ = nullptr;
  std::string fields_[kFieldCount];
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

// For the whole machine, as the keyboard maker's library registers itself; in the registry view
// of the bitness it is built for.
STDAPI DllRegisterServer() {
  wchar_t clsid[40];
  StringFromGUID2(CLSID_qzCherry, clsid, 40);
  const std::wstring key = std::wstring(L"Software\\Classes\\CLSID\\") + clsid;
  const std::wstring values[][3] = {{key + L"\\InprocServer32", L"", ModulePath()},
                                    {key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"},
                                    {L"Software\\Classes\\KbdBridge.qzCherry\\CLSID", L"", clsid}};
  for (const auto& v : values) {
    if (RegSetKeyValueW(HKEY_LOCAL_MACHINE, v[0].c_str(), v[1].empty() ? nullptr : v[1].c_str(),
                        REG_SZ, v[2].c_str(),
                        static_cast<DWORD>((v[2].size() + 1) * sizeof(wchar_t))) != ERROR_SUCCESS)
      return SELFREG_E_CLASS;
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  wchar_t clsid[40];
  StringFromGUID2(CLSID_qzCherry, clsid, 40);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, (std::wstring(L"Software\\Classes\\CLSID\\") + clsid).c_str());
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Classes\\KbdBridge.qzCherry");
  return S_OK;
}
}  // extern "C"
