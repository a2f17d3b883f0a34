// The DLL's COM entry points: the class objects, the unload check and the self-registration,
// for the whole machine (DllRegisterServer) or for the current user only (DllInstall "user").
#include <windows.h>

#include <objbase.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "app/com/application_object_win.h"
#include "app/com/class_factory_win.h"
#include "app/com/type_library_win.h"
#include "base/event_loop_win.h"
#include "base/module_win.h"
#include "base/raii_win.h"
#include "qzCardReader.h"

// Per-user type-library registration (oleaut32 since Vista); the MinGW headers do not declare it.
WINOLEAUTAPI RegisterTypeLibForUser(ITypeLib* lib, OLECHAR* full_path, OLECHAR* help_dir);
WINOLEAUTAPI UnRegisterTypeLibForUser(REFGUID lib_id, WORD major, WORD minor, LCID lcid,
                                      SYSKIND syskind);

namespace qz::win {
namespace {

std::wstring GuidText(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

// Where the class entries go. HKEY_CLASSES_ROOT shows both views merged, but writing through it
// lands in whichever view already holds the key, so each scope names its own.
enum class Scope { Machine, User };

struct ClassesRoot {
  HKEY hive;
  const wchar_t* path;
};

ClassesRoot ClassesRootOf(Scope scope) {
  return {scope == Scope::User ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, L"Software\\Classes"};
}

// One registry value below the classes root; name null is the key's default value.
struct RegValue {
  std::wstring key;
  const wchar_t* name;
  std::wstring data;
};

struct ClassEntry {
  const CLSID& clsid;
  const wchar_t* prog_id;
};

// clsKVKData is registered like clsApplication so that tools find it by ProgID, but its class
// object is never handed out: records come only from clsApplication.KVKData.
const ClassEntry kClasses[] = {
    {CLSID_clsApplication, L"qzCardReader.clsApplication"},
    {CLSID_clsKVKData, L"qzCardReader.clsKVKData"},
};

std::vector<RegValue> RegistrationTable(const std::wstring& dll_path) {
  const std::wstring lib = GuidText(LIBID_qzCardReader);
  std::vector<RegValue> table;
  for (const ClassEntry& c : kClasses) {
    const std::wstring key = L"CLSID\\" + GuidText(c.clsid);
    table.push_back({key, nullptr, c.prog_id});
    table.push_back({key + L"\\InprocServer32", nullptr, dll_path});
    table.push_back({key + L"\\InprocServer32", L"ThreadingModel", L"Apartment"});
    table.push_back({key + L"\\ProgID", nullptr, c.prog_id});
    table.push_back({key + L"\\TypeLib", nullptr, lib});
    table.push_back({key + L"\\Version", nullptr, L"1.0"});
    table.push_back({key + L"\\Programmable", nullptr, L""});
    table.push_back({c.prog_id, nullptr, c.prog_id});
    table.push_back({std::wstring(c.prog_id) + L"\\Clsid", nullptr, GuidText(c.clsid)});
  }
  return table;
}

std::vector<std::wstring> RegistrationRoots() {
  std::vector<std::wstring> roots;
  for (const ClassEntry& c : kClasses) {
    roots.push_back(L"CLSID\\" + GuidText(c.clsid));
    roots.push_back(c.prog_id);
  }
  return roots;
}

std::wstring FullKey(const ClassesRoot& root, const std::wstring& key) {
  return std::wstring(root.path) + L"\\" + key;
}

HRESULT WriteValue(const ClassesRoot& root, const RegValue& v) {
  UniqueHKey key;
  LSTATUS rc = RegCreateKeyExW(root.hive, FullKey(root, v.key).c_str(), 0, nullptr, 0,
                               KEY_SET_VALUE, nullptr, key.Put(), nullptr);
  if (rc != ERROR_SUCCESS) return HRESULT_FROM_WIN32(rc);
  rc = RegSetValueExW(key.Get(), v.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(v.data.c_str()),
                      static_cast<DWORD>((v.data.size() + 1) * sizeof(wchar_t)));
  return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT RegisterTypeLibrary(Scope scope, const std::wstring& path) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadOwnTypeLib(lib.Put());
  if (FAILED(hr)) return hr;
  auto* full_path = const_cast<LPOLESTR>(path.c_str());
  return scope == Scope::User ? RegisterTypeLibForUser(lib.Get(), full_path, nullptr)
                              : RegisterTypeLib(lib.Get(), full_path, nullptr);
}

HRESULT UnregisterTypeLibrary(Scope scope) {
  ComPtr<ITypeLib> lib;
  HRESULT hr = LoadOwnTypeLib(lib.Put());
  if (FAILED(hr)) return hr;
  TLIBATTR* attr = nullptr;
  hr = lib->GetLibAttr(&attr);
  if (FAILED(hr)) return hr;
  hr = scope == Scope::User
           ? UnRegisterTypeLibForUser(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum,
                                      attr->lcid, attr->syskind)
           : UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                               attr->syskind);
  lib->ReleaseTLibAttr(attr);
  // Not registered is what we wanted anyway.
  return hr == TYPE_E_REGISTRYACCESS || hr == TYPE_E_CANTLOADLIBRARY ? S_OK : hr;
}

HRESULT Register(Scope scope) {
  const std::wstring path = ModulePath();
  if (path.empty()) return SELFREG_E_CLASS;
  const ClassesRoot root = ClassesRootOf(scope);
  for (const RegValue& v : RegistrationTable(path)) {
    if (FAILED(WriteValue(root, v))) return SELFREG_E_CLASS;
  }
  if (FAILED(RegisterTypeLibrary(scope, path))) return SELFREG_E_TYPELIB;
  return S_OK;
}

HRESULT Unregister(Scope scope) {
  HRESULT result = S_OK;
  const ClassesRoot root = ClassesRootOf(scope);
  for (const std::wstring& key : RegistrationRoots()) {
    const LSTATUS rc = RegDeleteTreeW(root.hive, FullKey(root, key).c_str());
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND) result = SELFREG_E_CLASS;
  }
  if (FAILED(UnregisterTypeLibrary(scope))) result = SELFREG_E_TYPELIB;
  return result;
}

}  // namespace
}  // namespace qz::win

using namespace qz::win;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_clsApplication)) return CLASS_E_CLASSNOTAVAILABLE;
  auto* factory = new (std::nothrow) ClassFactory<ApplicationObject, _clsApplication>();
  if (factory == nullptr) return E_OUTOFMEMORY;
  const HRESULT hr = factory->QueryInterface(riid, out);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() {
  // A thread's event loop keeps a window whose procedure lives in this library.
  if (ModuleRefs() != 0 || qz::win::WinEventLoop::LiveCount() != 0) return S_FALSE;
  ReleaseOwnTypeLib();
  return S_OK;
}

STDAPI DllRegisterServer() {
  return Register(Scope::Machine);
}

STDAPI DllUnregisterServer() {
  return Unregister(Scope::Machine);
}

// regsvr32 /n /i:user registers for the current user only, so that a user without administrator
// rights can register the component; regsvr32 /u /n /i:user removes that again. Without a
// command line it does what DllRegisterServer / DllUnregisterServer do.
STDAPI DllInstall(BOOL install, PCWSTR command_line) {
  Scope scope = Scope::Machine;
  if (command_line != nullptr && *command_line != L'\0') {
    if (CompareStringOrdinal(command_line, -1, L"user", -1, TRUE) != CSTR_EQUAL)
      return E_INVALIDARG;
    scope = Scope::User;
  }
  return install ? Register(scope) : Unregister(scope);
}
