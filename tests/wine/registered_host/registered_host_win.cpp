// A host that finds qzCardReader through the current user's registration alone, as COM does on
// Windows where HKEY_CLASSES_ROOT merges HKCU\Software\Classes over the machine's classes. Wine
// looks only at the machine's classes, so a script host there cannot test a per-user
// registration; this program follows the same entries by hand and creates the object from them.
//
//   registered_host user-registered   the entries are under HKCU, none under HKLM, and lead to
//                                     a working object and the type library
//   registered_host unregistered      no entries in either view, no type library
//
// Prints what is wrong; exits 0 when nothing is.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <string>

namespace {

const wchar_t kLibId[] = L"{DAF65882-0C3E-45A7-A21F-59F20DCC76DC}";
const GUID kLibGuid = {
    0xdaf65882, 0x0c3e, 0x45a7, {0xa2, 0x1f, 0x59, 0xf2, 0x0d, 0xcc, 0x76, 0xdc}};

struct Class {
  const wchar_t* prog_id;
  const wchar_t* clsid;
};
const Class kClasses[] = {
    {L"qzCardReader.clsApplication", L"{3CE456A8-5E44-416B-AF4A-37C02B596C32}"},
    {L"qzCardReader.clsKVKData", L"{EF2D9F80-D85B-4B33-8611-193B4DCAB04C}"},
};

int g_failures = 0;

void Fail(const std::wstring& what) {
  ++g_failures;
  std::printf("  not as expected: %ls\n", what.c_str());
}

std::wstring Classes(const std::wstring& key) {
  return L"Software\\Classes\\" + key;
}

bool KeyExists(HKEY hive, const std::wstring& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(hive, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS) return false;
  RegCloseKey(k);
  return true;
}

// A REG_SZ value; name null is the key's default value.
std::optional<std::wstring> Text(HKEY hive, const std::wstring& key, const wchar_t* name) {
  wchar_t buf[1024];
  DWORD size = sizeof buf;
  if (RegGetValueW(hive, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buf, &size) != ERROR_SUCCESS)
    return std::nullopt;
  return std::wstring(buf);
}

void CheckText(HKEY hive, const std::wstring& key, const wchar_t* name, const std::wstring& want) {
  const auto got = Text(hive, key, name);
  const std::wstring where = key + (name != nullptr ? std::wstring(L" ") + name : L"");
  if (!got)
    Fail(L"HKCU\\" + where + L" is missing");
  else if (_wcsicmp(got->c_str(), want.c_str()) != 0)
    Fail(L"HKCU\\" + where + L" is [" + *got + L"], expected [" + want + L"]");
}

bool TypeLibRegistered() {
  ITypeLib* lib = nullptr;
  if (FAILED(LoadRegTypeLib(kLibGuid, 1, 0, 0x0409, &lib))) return false;
  lib->Release();
  return true;
}

// Loads the server named by the registration and reads WaitingTime of a new object by name,
// through IDispatch as a script host would.
void CreateThroughRegistration(const std::wstring& dll, const std::wstring& clsid_text) {
  HMODULE module = LoadLibraryW(dll.c_str());
  if (module == nullptr) return Fail(L"the registered server " + dll + L" does not load");
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  // Through void* as FARPROC's own type differs from every real entry point's.
  auto get_class_object = reinterpret_cast<GetClassObject>(
      reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
  CLSID clsid;
  IClassFactory* factory = nullptr;
  IDispatch* object = nullptr;
  if (get_class_object == nullptr) {
    Fail(L"the registered server has no DllGetClassObject");
  } else if (FAILED(CLSIDFromString(clsid_text.c_str(), &clsid)) ||
             FAILED(
                 get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)))) {
    Fail(L"no class object for the registered CLSID " + clsid_text);
  } else if (FAILED(factory->CreateInstance(nullptr, IID_IDispatch,
                                            reinterpret_cast<void**>(&object)))) {
    Fail(L"the class object creates no object");
  } else {
    LPOLESTR name = const_cast<LPOLESTR>(L"WaitingTime");
    DISPID id = 0;
    DISPPARAMS none = {};
    VARIANT result;
    VariantInit(&result);
    if (FAILED(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)) ||
        FAILED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                              &result, nullptr, nullptr)) ||
        FAILED(VariantChangeType(&result, &result, 0, VT_I4)) || result.lVal != 5) {
      Fail(L"WaitingTime of the created object cannot be read by name or is not 5");
    }
    VariantClear(&result);
  }
  if (object != nullptr) object->Release();
  if (factory != nullptr) factory->Release();
}

void CheckUserRegistered() {
  std::wstring server;
  for (const Class& c : kClasses) {
    const std::wstring clsid_key = Classes(std::wstring(L"CLSID\\") + c.clsid);
    CheckText(HKEY_CURRENT_USER, Classes(c.prog_id) + L"\\Clsid", nullptr, c.clsid);
    CheckText(HKEY_CURRENT_USER, clsid_key + L"\\ProgID", nullptr, c.prog_id);
    CheckText(HKEY_CURRENT_USER, clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    CheckText(HKEY_CURRENT_USER, clsid_key + L"\\TypeLib", nullptr, kLibId);
    const auto path = Text(HKEY_CURRENT_USER, clsid_key + L"\\InprocServer32", nullptr);
    if (!path) {
      Fail(L"HKCU\\" + clsid_key + L"\\InprocServer32 has no server path");
    } else if (server.empty()) {
      server = *path;
    } else if (_wcsicmp(path->c_str(), server.c_str()) != 0) {
      Fail(std::wstring(c.prog_id) + L" names another server: " + *path);
    }
    if (KeyExists(HKEY_LOCAL_MACHINE, Classes(c.prog_id)) ||
        KeyExists(HKEY_LOCAL_MACHINE, clsid_key))
      Fail(std::wstring(c.prog_id) + L" is registered for the machine too");
  }
  // Wine's RegisterTypeLibForUser registers for the machine, so only its presence is checked.
  if (!TypeLibRegistered()) Fail(L"the type library is not registered");
  if (!server.empty()) CreateThroughRegistration(server, kClasses[0].clsid);
}

void CheckUnregistered() {
  for (const Class& c : kClasses) {
    const std::wstring clsid_key = Classes(std::wstring(L"CLSID\\") + c.clsid);
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
      const wchar_t* view = hive == HKEY_CURRENT_USER ? L"HKCU" : L"HKLM";
      if (KeyExists(hive, Classes(c.prog_id)))
        Fail(std::wstring(view) + L" still has " + c.prog_id);
      if (KeyExists(hive, clsid_key)) Fail(std::wstring(view) + L" still has " + c.clsid);
    }
  }
  if (TypeLibRegistered()) Fail(L"the type library is still registered");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  if (mode == "user-registered") {
    CheckUserRegistered();
  } else if (mode == "unregistered") {
    CheckUnregistered();
  } else {
    std::printf("usage: registered_host user-registered|unregistered\n");
    return 2;
  }
  CoUninitialize();
  if (g_failures == 0) std::printf("all checks passed\n");
  return g_failures == 0 ? 0 : 1;
}
