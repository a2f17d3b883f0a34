#include "ui/keyboard_reader_win.h"

#include <windows.h>

#include <objbase.h>
#include <ocidl.h>
#include <oleauto.h>

#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "base/hresult_win.h"
#include "base/raii_win.h"
#include "base/text_win.h"

namespace qz {
namespace {

constexpr std::int32_t kErrCannotCreateObject = 429;
constexpr std::int32_t kErrPropertyNotSupported = 438;
constexpr const char* kSource = "qzCardReader";
using win::ComPtr;
using win::HResultOf;
using win::NumberOf;
using win::RefCount;
using win::Variant;

// The system's text for an HRESULT, or the generic one.
std::string SystemText(HRESULT hr) {
  wchar_t* buf = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, static_cast<DWORD>(hr), 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  const std::unique_ptr<wchar_t, decltype(&LocalFree)> owned(buf, &LocalFree);
  std::string s = n > 0 ? win::Narrow(std::wstring_view(buf, n)) : std::string();
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
  return s.empty() ? "Automation error" : s;
}

// Takes over the strings of an EXCEPINFO a failed Invoke filled in.
AutomationError FromExcepInfo(EXCEPINFO& ei) {
  if (ei.pfnDeferredFillIn != nullptr) ei.pfnDeferredFillIn(&ei);
  const win::Bstr source(ei.bstrSource), description(ei.bstrDescription), help(ei.bstrHelpFile);
  const std::int32_t number = ei.wCode != 0 ? ei.wCode : NumberOf(ei.scode);
  return AutomationError(number, win::FromBstr(source.Get()), win::FromBstr(description.Get()));
}

std::string ToText(VARIANT* arg) {
  Variant t;
  if (FAILED(VariantChangeType(t.Get(), arg, 0, VT_BSTR))) return {};
  return win::FromBstr(t->bstrVal);
}

std::int32_t ToLong(VARIANT* arg) {
  Variant t;
  if (FAILED(VariantChangeType(t.Get(), arg, 0, VT_I4))) return 0;
  return t->lVal;
}

DISPID IdOf(IDispatch* object, const wchar_t* name) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR n = const_cast<LPOLESTR>(name);
  if (FAILED(object->GetIDsOfNames(IID_NULL, &n, 1, LOCALE_USER_DEFAULT, &id))) {
    throw AutomationError(kErrPropertyNotSupported, kSource,
                          "Object doesn't support this property or method");
  }
  return id;
}

// Calls a member by late binding; a failure becomes the error the object reported.
void Call(IDispatch* object, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result) {
  EXCEPINFO ei{};
  UINT argErr = 0;
  const HRESULT hr =
      object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, params, result, &ei, &argErr);
  if (hr == DISP_E_EXCEPTION) throw FromExcepInfo(ei);
  if (FAILED(hr)) throw AutomationError(NumberOf(hr), kSource, SystemText(hr));
}

// Number, source and description of an error object passed with an event (VB's ErrObject or
// anything with those three properties).
AutomationError ReadErrorObject(VARIANT* arg) {
  Variant d;
  if (FAILED(VariantChangeType(d.Get(), arg, 0, VT_DISPATCH)) || d->pdispVal == nullptr) {
    return AutomationError(0, "", "");
  }
  auto property = [&](const wchar_t* name, Variant& out) {
    try {
      DISPPARAMS none{};
      Call(d->pdispVal, IdOf(d->pdispVal, name), DISPATCH_PROPERTYGET, &none, out.Get());
    } catch (const AutomationError&) {
      // A missing part of the report stays empty; the report itself still gets through.
    }
  };
  Variant number, source, description;
  property(L"Number", number);
  property(L"Source", source);
  property(L"Description", description);
  return AutomationError(ToLong(number.Get()), ToText(source.Get()), ToText(description.Get()));
}

class Win32KeyboardReader;

// The object's event sink: an IDispatch of our own that the connection point calls.
class EventSink final : public IDispatch {
 public:
  EventSink(Win32KeyboardReader* owner, IID source, DISPID cherryError, DISPID error)
      : owner_(owner), source_(source), cherryErrorId_(cherryError), errorId_(error) {}

  void Detach() { owner_ = nullptr; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, source_)) {
      *ppv = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return refs_.AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return refs_.Release(this); }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
    if (n == nullptr) return E_POINTER;
    *n = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                   EXCEPINFO* ei, UINT*) override;

 private:
  friend class win::RefCount;  // only the last Release deletes it
  ~EventSink() = default;

  RefCount refs_;
  Win32KeyboardReader* owner_;
  IID source_;
  DISPID cherryErrorId_;
  DISPID errorId_;
};

class Win32KeyboardReader final : public KeyboardReader {
 public:
  Win32KeyboardReader() {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"KbdBridge.qzCherry", &clsid);
    if (SUCCEEDED(hr)) {
      hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                            IID_IDispatch, object_.PutVoid());
    }
    if (FAILED(hr)) {
      if (NotInstalled(hr)) {
        throw AutomationError(kErrComponentNotRegistered, kSource,
                              "Component not correctly registered");
      }
      throw AutomationError(kErrCannotCreateObject, kSource,
                            "ActiveX component can't create object");
    }
    ConnectEvents();
  }

  ~Win32KeyboardReader() override {
    if (sink_) {
      sink_->Detach();
      point_->Unadvise(cookie_);
    }
  }

  void SetEvents(KeyboardReaderEvents* events) override { events_ = events; }

  bool ReadKVK(std::int32_t& timeoutMs, std::int32_t& arg2, std::int32_t& arg3) override {
    pending_ = nullptr;
    LONG values[3] = {timeoutMs, arg2, arg3};
    VARIANT args[3];  // in reverse order, as Invoke takes them
    for (int i = 0; i < 3; ++i) {
      VariantInit(&args[i]);
      args[i].vt = VT_I4 | VT_BYREF;
      args[i].plVal = &values[2 - i];
    }
    DISPPARAMS params{args, nullptr, 3, 0};
    Variant result;
    const DISPID id = IdOf(object_.Get(), L"ReadKVK");
    try {
      Call(object_.Get(), id, DISPATCH_METHOD, &params, result.Get());
    } catch (const AutomationError&) {
      // What a handler raised back is the cause; the object's own report of it is not.
      if (!pending_) throw;
    }
    if (pending_) std::rethrow_exception(std::exchange(pending_, nullptr));
    timeoutMs = values[0];
    arg2 = values[1];
    arg3 = values[2];
    Variant b;
    if (FAILED(VariantChangeType(b.Get(), result.Get(), 0, VT_BOOL))) return false;
    return b->boolVal != VARIANT_FALSE;
  }

  std::string Field(KVKField field) override {
    const std::string_view name = kKVKFieldNames[static_cast<std::size_t>(field)];
    const std::wstring wide(name.begin(), name.end());  // the names are ASCII
    DISPPARAMS none{};
    Variant value;
    Call(object_.Get(), IdOf(object_.Get(), wide.c_str()), DISPATCH_PROPERTYGET, &none,
         value.Get());
    return ToText(value.Get());
  }

  // Called by the sink. A handler's exception must not cross the COM boundary: it is kept,
  // the object is told the event failed, and ReadKVK raises it once the call has returned.
  HRESULT Deliver(bool cherryError, DISPPARAMS* params, EXCEPINFO* ei) noexcept {
    if (pending_) {
      // The read is already failing; later reports are not passed on.
      if (ei != nullptr) FillExcepInfo(*ei);
      return DISP_E_EXCEPTION;
    }
    if (events_ == nullptr) return S_OK;
    try {
      VARIANT* a = params != nullptr ? params->rgvarg : nullptr;
      const UINT n = params != nullptr ? params->cArgs : 0;
      if (cherryError) {
        if (n < 2) return DISP_E_BADPARAMCOUNT;
        std::int32_t number = ToLong(&a[1]);
        std::string description = ToText(&a[0]);
        events_->CherryError(number, description);
      } else {
        if (n < 4) return DISP_E_BADPARAMCOUNT;
        AutomationError err = ReadErrorObject(&a[3]);
        std::string modul = ToText(&a[2]);
        std::string proc = ToText(&a[1]);
        std::string zusatz = ToText(&a[0]);
        events_->Error(err, modul, proc, zusatz);
      }
      return S_OK;
    } catch (...) {
      pending_ = std::current_exception();
      if (ei != nullptr) FillExcepInfo(*ei);
      return DISP_E_EXCEPTION;
    }
  }

 private:
  static bool NotInstalled(HRESULT hr) {
    return hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING || hr == REGDB_E_READREGDB ||
           hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL ||
           hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND) ||
           hr == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND) ||
           hr == HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND) ||
           hr == HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
  }

  void FillExcepInfo(EXCEPINFO& ei) noexcept {
    ei = EXCEPINFO{};
    try {
      std::rethrow_exception(pending_);
    } catch (const AutomationError& e) {
      ei.scode = HResultOf(e.Number());
      ei.bstrSource = win::ToBstr(e.Source());
      ei.bstrDescription = win::ToBstr(e.Description());
    } catch (const std::exception& e) {
      ei.scode = E_FAIL;
      ei.bstrSource = win::ToBstr(kSource);
      ei.bstrDescription = win::ToBstr(e.what());
    } catch (...) {
      ei.scode = E_FAIL;
    }
  }

  // Finds the class's default event interface from its type information and advises a sink on
  // it. An object that offers no events still reads; it just reports nothing.
  void ConnectEvents() {
    ComPtr<IProvideClassInfo> info;
    ComPtr<IConnectionPointContainer> container;
    ComPtr<ITypeInfo> coclass;
    if (FAILED(object_->QueryInterface(IID_IProvideClassInfo, info.PutVoid())) ||
        FAILED(object_->QueryInterface(IID_IConnectionPointContainer, container.PutVoid())) ||
        FAILED(info->GetClassInfo(coclass.Put()))) {
      return;
    }
    ComPtr<ITypeInfo> source;
    if (!FindDefaultSource(coclass.Get(), source)) return;
    TYPEATTR* attr = nullptr;
    if (FAILED(source->GetTypeAttr(&attr))) return;
    const IID iid = attr->guid;
    source->ReleaseTypeAttr(attr);

    // Declared order (1, 2) when the names cannot be looked up.
    DISPID cherryError = 1, error = 2;
    LPOLESTR name = const_cast<LPOLESTR>(L"CherryError");
    source->GetIDsOfNames(&name, 1, &cherryError);
    name = const_cast<LPOLESTR>(L"Error");
    source->GetIDsOfNames(&name, 1, &error);

    if (FAILED(container->FindConnectionPoint(iid, point_.Put()))) return;
    auto sink = ComPtr<EventSink>::Attach(new EventSink(this, iid, cherryError, error));
    if (FAILED(point_->Advise(sink.Get(), &cookie_))) {
      point_ = nullptr;
      return;
    }
    sink_ = std::move(sink);
  }

  static bool FindDefaultSource(ITypeInfo* coclass, ComPtr<ITypeInfo>& source) {
    TYPEATTR* attr = nullptr;
    if (FAILED(coclass->GetTypeAttr(&attr))) return false;
    const WORD count = attr->cImplTypes;
    coclass->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
      INT flags = 0;
      HREFTYPE ref = 0;
      if (FAILED(coclass->GetImplTypeFlags(i, &flags))) continue;
      if ((flags & IMPLTYPEFLAG_FDEFAULT) == 0 || (flags & IMPLTYPEFLAG_FSOURCE) == 0) continue;
      if (SUCCEEDED(coclass->GetRefTypeOfImplType(i, &ref)) &&
          SUCCEEDED(coclass->GetRefTypeInfo(ref, source.Put()))) {
        return true;
      }
    }
    return false;
  }

  ComPtr<IDispatch> object_;
  ComPtr<IConnectionPoint> point_;
  ComPtr<EventSink> sink_;  // advised on point_ while set
  DWORD cookie_ = 0;
  KeyboardReaderEvents* events_ = nullptr;
  std::exception_ptr pending_;
};

HRESULT STDMETHODCALLTYPE EventSink::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params,
                                            VARIANT*, EXCEPINFO* ei, UINT*) {
  if (owner_ == nullptr) return S_OK;
  if (id == cherryErrorId_) return owner_->Deliver(true, params, ei);
  if (id == errorId_) return owner_->Deliver(false, params, ei);
  return S_OK;  // events this component does not listen to
}

}  // namespace

std::unique_ptr<KeyboardReader> CreateWin32KeyboardReader() {
  return std::make_unique<Win32KeyboardReader>();
}

}  // namespace qz
