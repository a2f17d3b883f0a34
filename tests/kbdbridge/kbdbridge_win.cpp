// The stand-in keyboard library for Windows: the COM in-process server KbdBridge.dll with the
// class "KbdBridge.qzCherry" (dual interface, events through a connection point), over the
// shared stand-in behaviour. Plain COM, one apartment-threaded class.
#include <windows.h>

#include <ocidl.h>
#include <oleauto.h>
#include <olectl.h>

#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "kbdbridge.h"
#include "stand_in_cherry.h"

namespace {

HMODULE g_module = nullptr;
LONG g_locks = 0;  // live objects and server locks

constexpr HRESULT kControlFacility = static_cast<HRESULT>(0x800A0000);
constexpr DISPID kReadKVK = 1;
constexpr DISPID kFirstProperty = 2;  // the fifteen properties follow in declared order
constexpr DISPID kCherryErrorEvent = 1;
constexpr DISPID kErrorEvent = 2;

BSTR ToBstr(std::string_view utf8) {
  const int n = static_cast<int>(utf8.size());
  const int len = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, nullptr, 0);
  BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(len));
  if (b != nullptr) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), n, b, len);
  return b;
}

std::string FromBstr(BSTR b) {
  const int n = static_cast<int>(SysStringLen(b));
  if (n == 0) return {};
  const int len = WideCharToMultiByte(CP_UTF8, 0, b, n, nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<std::size_t>(len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, b, n, s.data(), len, nullptr, nullptr);
  return s;
}

// Plain run-time numbers travel as FACILITY_CONTROL codes, as a VB library raises them.
HRESULT HresultOf(std::int32_t number) {
  if (number > 0 && number <= 0xFFFF) return kControlFacility | number;
  return static_cast<HRESULT>(number);
}
std::int32_t NumberOf(HRESULT hr) {
  if ((static_cast<DWORD>(hr) & 0xFFFF0000u) == static_cast<DWORD>(kControlFacility)) {
    return static_cast<std::int32_t>(hr & 0xFFFF);
  }
  return static_cast<std::int32_t>(hr);
}

void FillExcepInfo(EXCEPINFO* ei, const kbdbridge::ErrorInfo& e) {
  if (ei == nullptr) return;
  *ei = EXCEPINFO{};
  ei->scode = HresultOf(e.number);
  ei->bstrSource = ToBstr(e.source);
  ei->bstrDescription = ToBstr(e.description);
}

std::optional<std::string> Env(const char* name) {
  char buf[1024];
  const DWORD n = GetEnvironmentVariableA(name, buf, sizeof buf);
  if (n == 0 || n >= sizeof buf) return std::nullopt;
  return std::string(buf, n);
}

std::string WindowTextUtf8(HWND w) {
  wchar_t buf[256];
  const int n = GetWindowTextW(w, buf, 256);
  if (n <= 0) return {};
  const int len = WideCharToMultiByte(CP_UTF8, 0, buf, n, nullptr, 0, nullptr, nullptr);
  std::string u(static_cast<std::size_t>(len), '\0');
  WideCharToMultiByte(CP_UTF8, 0, buf, n, u.data(), len, nullptr, nullptr);
  return u;
}

void DescribeWindow(HWND w, const char* kind, std::string& lines) {
  char cls[64] = {};
  GetClassNameA(w, cls, sizeof cls);
  lines += std::string(kind) + " " + cls + " enabled=" + (IsWindowEnabled(w) ? "1" : "0") +
           " text=" + WindowTextUtf8(w) + "\n";
}

// Named CALLBACK functions, not lambdas: on i686 the enumeration callbacks are stdcall.
BOOL CALLBACK ProbeChildWindow(HWND child, LPARAM lines) {
  DescribeWindow(child, "control", *reinterpret_cast<std::string*>(lines));
  return TRUE;
}

BOOL CALLBACK ProbeTopWindow(HWND top, LPARAM lines) {
  if (!IsWindowVisible(top)) return TRUE;
  DescribeWindow(top, "window", *reinterpret_cast<std::string*>(lines));
  EnumChildWindows(top, ProbeChildWindow, lines);
  return TRUE;
}

// KBDBRIDGE_PROBE names a file to which a read first appends what the caller's thread shows:
// each visible top-level window and its child controls, with class, enabled state and text.
// That is how a test sees the reader window as it is while the read blocks.
void ProbeWindows() {
  const auto path = Env("KBDBRIDGE_PROBE");
  if (!path) return;
  std::string lines;
  EnumThreadWindows(GetCurrentThreadId(), ProbeTopWindow, reinterpret_cast<LPARAM>(&lines));
  HANDLE f = CreateFileA(path->c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, lines.data(), static_cast<DWORD>(lines.size()), &written, nullptr);
  CloseHandle(f);
}

std::wstring ModulePath() {
  wchar_t path[MAX_PATH];
  const DWORD n = GetModuleFileNameW(g_module, path, MAX_PATH);
  return std::wstring(path, n);
}

HRESULT LoadOwnTypeInfo(REFGUID guid, ITypeInfo** info) {
  ITypeLib* lib = nullptr;
  HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &lib);
  if (FAILED(hr)) return hr;
  hr = lib->GetTypeInfoOfGuid(guid, info);
  lib->Release();
  return hr;
}

// The error object handed with the Error event: Number, Source, Description by late binding.
class ErrObject final : public IDispatch {
 public:
  explicit ErrObject(kbdbridge::ErrorInfo e) : e_(std::move(e)) {}

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    static const wchar_t* const kNames[] = {L"Number", L"Source", L"Description"};
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) {
      ids[i] = DISPID_UNKNOWN;
      for (DISPID k = 0; k < 3; ++k) {
        if (i == 0 && lstrcmpiW(names[i], kNames[k]) == 0) ids[i] = k;
      }
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS*, VARIANT* result,
                                   EXCEPINFO*, UINT*) override {
    if (result == nullptr) return S_OK;
    VariantInit(result);
    switch (id) {
      case 0:
        result->vt = VT_I4;
        result->lVal = e_.number;
        return S_OK;
      case 1:
        result->vt = VT_BSTR;
        result->bstrVal = ToBstr(e_.source);
        return S_OK;
      case 2:
        result->vt = VT_BSTR;
        result->bstrVal = ToBstr(e_.description);
        return S_OK;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  }

 private:
  ~ErrObject() = default;
  ULONG refs_ = 1;
  kbdbridge::ErrorInfo e_;
};

class Cherry final : public _qzCherry,
                     public IConnectionPointContainer,
                     public IConnectionPoint,
                     public IProvideClassInfo {
 public:
  Cherry() { InterlockedIncrement(&g_locks); }

  // IUnknown, shared by all four interfaces.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID__qzCherry)) {
      *ppv = static_cast<_qzCherry*>(this);
    } else if (IsEqualIID(riid, IID_IConnectionPointContainer)) {
      *ppv = static_cast<IConnectionPointContainer*>(this);
    } else if (IsEqualIID(riid, IID_IProvideClassInfo)) {
      *ppv = static_cast<IProvideClassInfo*>(this);
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG n = --refs_;
    if (n == 0) delete this;
    return n;
  }

  // IDispatch, by hand so that a failing ReadKVK hands its error over in EXCEPINFO.
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (n == nullptr) return E_POINTER;
    *n = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    return LoadOwnTypeInfo(IID__qzCherry, info);
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    HRESULT hr = S_OK;
    for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
    if (count == 0) return S_OK;
    if (lstrcmpiW(names[0], L"ReadKVK") == 0) ids[0] = kReadKVK;
    for (int k = 0; k < kbdbridge::StandInCherry::kPropertyCount; ++k) {
      const std::string_view n = kbdbridge::StandInCherry::kPropertyNames[k];
      const std::wstring wide(n.begin(), n.end());
      if (lstrcmpiW(names[0], wide.c_str()) == 0) ids[0] = kFirstProperty + k;
    }
    for (UINT i = 0; i < count; ++i) {
      if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* ei, UINT* argErr) override {
    if (params == nullptr) return E_POINTER;
    if ((flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) return DISP_E_MEMBERNOTFOUND;
    if (id == kReadKVK) return InvokeReadKVK(params, result, ei, argErr);
    if (id >= kFirstProperty && id < kFirstProperty + kbdbridge::StandInCherry::kPropertyCount) {
      if (params->cArgs != 0) return DISP_E_BADPARAMCOUNT;
      BSTR value = nullptr;
      const HRESULT hr = Get(id - kFirstProperty, &value);
      if (FAILED(hr)) return hr;
      if (result != nullptr) {
        VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = value;
      } else {
        SysFreeString(value);
      }
      return S_OK;
    }
    return DISP_E_MEMBERNOTFOUND;
  }

  // _qzCherry
  HRESULT STDMETHODCALLTYPE ReadKVK(LONG* timeout, LONG* a, LONG* b, VARIANT_BOOL* r) override {
    if (timeout == nullptr || a == nullptr || b == nullptr || r == nullptr) return E_POINTER;
    try {
      ProbeWindows();
      ComEvents events(*this);
      const auto settings =
          kbdbridge::ReadSettings(Env("KBDBRIDGE_SCENARIO"), Env("KBDBRIDGE_MAX_MS"),
                                  Env("KBDBRIDGE_RECORD"), Env("KBDBRIDGE_TEXT"));
      const auto outcome = cherry_.ReadKVK(*timeout, settings, events);
      if (outcome.failure) {
        lastFailure_ = *outcome.failure;
        return HresultOf(lastFailure_.number);
      }
      *r = outcome.result ? VARIANT_TRUE : VARIANT_FALSE;
      return S_OK;
    } catch (const std::exception& e) {
      lastFailure_ = kbdbridge::ErrorInfo{7, "KbdBridge", e.what()};
      return E_FAIL;
    }
  }
#define QZ_PROPERTY(Name, index)                           \
  HRESULT STDMETHODCALLTYPE get_##Name(BSTR* v) override { \
    return Get(index, v);                                  \
  }
  QZ_PROPERTY(KrankenKassenName, 0)
  QZ_PROPERTY(VersichertenNummer, 1)
  QZ_PROPERTY(VKNR, 2)
  QZ_PROPERTY(VersichertenStatus, 3)
  QZ_PROPERTY(StatusErgaenzung, 4)
  QZ_PROPERTY(Titel, 5)
  QZ_PROPERTY(Vorname, 6)
  QZ_PROPERTY(NamensZusatz, 7)
  QZ_PROPERTY(FamilienName, 8)
  QZ_PROPERTY(Geburtsdatum, 9)
  QZ_PROPERTY(StrassenName, 10)
  QZ_PROPERTY(LaenderCode, 11)
  QZ_PROPERTY(PostLeitzahl, 12)
  QZ_PROPERTY(OrtsName, 13)
  QZ_PROPERTY(Gueltigkeit, 14)
#undef QZ_PROPERTY

  // IConnectionPointContainer: the one source interface.
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override {
    if (cp == nullptr) return E_POINTER;
    *cp = nullptr;
    if (!IsEqualIID(riid, DIID___qzCherry)) return CONNECT_E_NOCONNECTION;
    *cp = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
  }

  // IConnectionPoint: one sink at a time, as a VB class with events behaves for one holder.
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override {
    if (iid == nullptr) return E_POINTER;
    *iid = DIID___qzCherry;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override {
    if (c == nullptr) return E_POINTER;
    *c = static_cast<IConnectionPointContainer*>(this);
    AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    if (sink_ != nullptr) return CONNECT_E_ADVISELIMIT;
    IDispatch* d = nullptr;
    if (FAILED(sink->QueryInterface(DIID___qzCherry, reinterpret_cast<void**>(&d))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&d)))) {
      return CONNECT_E_CANNOTCONNECT;
    }
    sink_ = d;
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

  // IProvideClassInfo: how a client finds the event interface.
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    return LoadOwnTypeInfo(CLSID_qzCherry, info);
  }

 private:
  // Raises the events on the advised sink; an error the sink raises back ends the read.
  class ComEvents final : public kbdbridge::Events {
   public:
    explicit ComEvents(Cherry& c) : c_(c) {}

    std::optional<kbdbridge::ErrorInfo> CherryError(std::int32_t lngNumber,
                                                    const std::string& strDescription) override {
      LONG number = lngNumber;
      BSTR description = ToBstr(strDescription);
      VARIANT args[2];
      VariantInit(&args[0]);
      VariantInit(&args[1]);
      args[1].vt = VT_I4 | VT_BYREF;
      args[1].plVal = &number;
      args[0].vt = VT_BSTR | VT_BYREF;
      args[0].pbstrVal = &description;
      auto raised = Fire(kCherryErrorEvent, args, 2);
      SysFreeString(description);
      return raised;
    }

    std::optional<kbdbridge::ErrorInfo> Error(const kbdbridge::ErrorInfo& err,
                                              const std::string& strModul,
                                              const std::string& strProc,
                                              const std::string& strZusatz) override {
      IDispatch* errObject = new ErrObject(err);
      BSTR texts[3] = {ToBstr(strZusatz), ToBstr(strProc), ToBstr(strModul)};
      VARIANT args[4];
      for (int i = 0; i < 3; ++i) {
        VariantInit(&args[i]);
        args[i].vt = VT_BSTR | VT_BYREF;
        args[i].pbstrVal = &texts[i];
      }
      VariantInit(&args[3]);
      args[3].vt = VT_DISPATCH | VT_BYREF;
      args[3].ppdispVal = &errObject;
      auto raised = Fire(kErrorEvent, args, 4);
      for (BSTR t : texts) SysFreeString(t);
      if (errObject != nullptr) errObject->Release();
      return raised;
    }

   private:
    std::optional<kbdbridge::ErrorInfo> Fire(DISPID id, VARIANT* args, UINT count) {
      IDispatch* sink = c_.sink_;
      if (sink == nullptr) return std::nullopt;
      sink->AddRef();
      DISPPARAMS params{args, nullptr, count, 0};
      EXCEPINFO ei{};
      const HRESULT hr = sink->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                      nullptr, &ei, nullptr);
      sink->Release();
      if (hr != DISP_E_EXCEPTION) return std::nullopt;
      if (ei.pfnDeferredFillIn != nullptr) ei.pfnDeferredFillIn(&ei);
      kbdbridge::ErrorInfo e{ei.wCode != 0 ? ei.wCode : NumberOf(ei.scode), FromBstr(ei.bstrSource),
                             FromBstr(ei.bstrDescription)};
      SysFreeString(ei.bstrSource);
      SysFreeString(ei.bstrDescription);
      SysFreeString(ei.bstrHelpFile);
      return e;
    }

    Cherry& c_;
  };

  ~Cherry() {
    if (sink_ != nullptr) sink_->Release();
    InterlockedDecrement(&g_locks);
  }

  HRESULT Get(int index, BSTR* v) {
    if (v == nullptr) return E_POINTER;
    *v = ToBstr(*cherry_.Property(kbdbridge::StandInCherry::kPropertyNames[index]));
    return *v != nullptr ? S_OK : E_OUTOFMEMORY;
  }

  // Late-bound ReadKVK: takes its three numbers by reference where the caller passed
  // references (a long, or a variant holding one, as script hosts pass variables).
  HRESULT InvokeReadKVK(DISPPARAMS* params, VARIANT* result, EXCEPINFO* ei, UINT* argErr) {
    if (params->cArgs != 3 || params->cNamedArgs != 0) return DISP_E_BADPARAMCOUNT;
    LONG copies[3] = {0, 0, 0};
    LONG* refs[3];
    for (UINT i = 0; i < 3; ++i) {
      VARIANT* a = &params->rgvarg[2 - i];
      if (a->vt == (VT_I4 | VT_BYREF)) {
        refs[i] = a->plVal;
      } else if (a->vt == (VT_VARIANT | VT_BYREF) && a->pvarVal->vt == VT_I4) {
        refs[i] = &a->pvarVal->lVal;
      } else {
        VARIANT t;
        VariantInit(&t);
        if (FAILED(VariantChangeType(&t, a, 0, VT_I4))) {
          if (argErr != nullptr) *argErr = 2 - i;
          return DISP_E_TYPEMISMATCH;
        }
        copies[i] = t.lVal;
        refs[i] = &copies[i];
      }
    }
    VARIANT_BOOL r = VARIANT_FALSE;
    if (FAILED(ReadKVK(refs[0], refs[1], refs[2], &r))) {
      FillExcepInfo(ei, lastFailure_);
      return DISP_E_EXCEPTION;
    }
    if (result != nullptr) {
      VariantInit(result);
      result->vt = VT_BOOL;
      result->boolVal = r;
    }
    return S_OK;
  }

  ULONG refs_ = 1;
  IDispatch* sink_ = nullptr;
  kbdbridge::StandInCherry cherry_;
  kbdbridge::ErrorInfo lastFailure_;
};

class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
      *ppv = static_cast<IClassFactory*>(this);
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  // A static object: its references do not keep the server loaded, its locks do.
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    auto* c = new (std::nothrow) Cherry;
    if (c == nullptr) return E_OUTOFMEMORY;
    const HRESULT hr = c->QueryInterface(riid, ppv);
    c->Release();
    return hr;
  }
  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    if (lock) {
      InterlockedIncrement(&g_locks);
    } else {
      InterlockedDecrement(&g_locks);
    }
    return S_OK;
  }
};

ClassFactory g_factory;

std::wstring GuidText(REFGUID g) {
  wchar_t buf[64];
  StringFromGUID2(g, buf, 64);
  return buf;
}

bool SetKey(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY k = nullptr;
  if (RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &k,
                      nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG rc = RegSetValueExW(k, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(k);
  return rc == ERROR_SUCCESS;
}

constexpr const wchar_t* kProgId = L"KbdBridge.qzCherry";

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  *ppv = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_qzCherry)) return CLASS_E_CLASSNOTAVAILABLE;
  return g_factory.QueryInterface(riid, ppv);
}

STDAPI DllCanUnloadNow() {
  return g_locks == 0 ? S_OK : S_FALSE;
}

STDAPI DllRegisterServer() {
  const std::wstring clsidKey = L"CLSID\\" + GuidText(CLSID_qzCherry);
  const bool ok = SetKey(clsidKey, nullptr, L"KbdBridge qzCherry") &&
                  SetKey(clsidKey + L"\\InprocServer32", nullptr, ModulePath()) &&
                  SetKey(clsidKey + L"\\InprocServer32", L"ThreadingModel", L"Apartment") &&
                  SetKey(clsidKey + L"\\ProgID", nullptr, kProgId) &&
                  SetKey(std::wstring(kProgId), nullptr, L"KbdBridge qzCherry") &&
                  SetKey(std::wstring(kProgId) + L"\\CLSID", nullptr, GuidText(CLSID_qzCherry));
  if (!ok) return SELFREG_E_CLASS;
  ITypeLib* lib = nullptr;
  if (FAILED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_REGISTER, &lib))) {
    return SELFREG_E_TYPELIB;
  }
  lib->Release();
  return S_OK;
}

STDAPI DllUnregisterServer() {
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(CLSID_qzCherry)).c_str());
  RegDeleteTreeW(HKEY_CLASSES_ROOT, kProgId);
  UnRegisterTypeLib(LIBID_KbdBridge, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
  UnRegisterTypeLib(LIBID_KbdBridge, 1, 0, LOCALE_NEUTRAL, SYS_WIN32);
  return S_OK;
}

}  // extern "C"
