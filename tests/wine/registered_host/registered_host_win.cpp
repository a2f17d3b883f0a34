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
#include <string>

namespace {

const wchar_t kLibId[] = L"{DAF65882-0C3E-45A7-A21F-59F20DCC76DC}";
const struct {
  std::wstring prog_id, clsid;
} kClasses[] = {
    {L"qzCardReader.clsApplication", L"{3CE456A8-5E44-416B-AF4A-37C02B596C32}"},
    {L"qzCardReader.clsKVKData", L"{EF2D9F80-D85B-4B33-8611-193B4DCAB04C}"},
};

int g_failures = 0;
void Fail(const std::wstring& what) {
  ++g_failures;
  std::printf("  not as expected: %ls\n", what.c_str());
}

bool KeyExists(HKEY hive, const std::wstring& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(hive, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ, &k) != 0)
    return false;
  RegCloseKey(k);
  return true;
}

// A REG_SZ value under HKCU\Software\Classes; name null is the key's default value.
std::wstring UserText(const std::wstring& key, const wchar_t* name) {
  wchar_t buf[1024] = {};
  DWORD size = sizeof buf;
  RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), name, RRF_RT_REG_SZ,
               nullptr, buf, &size);
  return buf;
}

void CheckText(const std::wstring& key, const wchar_t* name, const std::wstring& want) {
  const std::wstring got = UserText(key, name);
  if (_wcsicmp(got.c_str(), want.c_str()) != 0)
    Fail(L"HKCU classes " + key + L" " + (name ? name : L"") + L": [" + got + L"], expected [" +
         want + L"]");
}

bool TypeLibRegistered() {
  ITypeLib* lib = nullptr;
  const GUID guid = {0xdaf65882, 0x0c3e, 0x45a7, {0xa2, 0x1f, 0x59, 0xf2, 0x0d, 0xcc, 0x76, 0xdc}};
  if (FAILED(LoadRegTypeLib(guid, 1, 0, 0x0409, &lib))) return false;
  lib->Release();
  return true;
}

// Loads the registered server, creates the object through its class factory and reads
// WaitingTime by name, as a script host would.
bool CreatesWorkingObject(const std::wstring& dll, const std::wstring& clsid_text) {
  using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  HMODULE module = LoadLibraryW(dll.c_str());
  // Through void*, as FARPROC's own type differs from every real entry point's.
  auto get_class_object = module ? reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(
                                       GetProcAddress(module, "DllGetClassObject")))
                                 : nullptr;
  CLSID clsid;
  IClassFactory* factory = nullptr;
  IDispatch* object = nullptr;
  LPOLESTR name = const_cast<LPOLESTR>(L"WaitingTime");
  DISPID id = 0;
  DISPPARAMS none = {};
  VARIANT result;
  VariantInit(&result);
  const bool ok =
      get_class_object && SUCCEEDED(CLSIDFromString(clsid_text.c_str(), &clsid)) &&
      SUCCEEDED(get_class_object(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory))) &&
      SUCCEEDED(
          factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&object))) &&
      SUCCEEDED(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)) &&
      SUCCEEDED(object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                               &result, nullptr, nullptr)) &&
      SUCCEEDED(VariantChangeType(&result, &result, 0, VT_I4)) && result.lVal == 5;
  VariantClear(&result);
  if (object) object->Release();
  if (factory) factory->Release();
  return ok;
}

void CheckUserRegistered() {
  const std::wstring server =
      UserText(L"CLSID\\" + kClasses[0].clsid + L"\\InprocServer32", nullptr);
  for (const auto& c : kClasses) {
    const std::wstring clsid_key = L"CLSID\\" + c.clsid;
    CheckText(c.prog_id + L"\\Clsid", nullptr, c.clsid);
    CheckText(clsid_key + L"\\ProgID", nullptr, c.prog_id);
    CheckText(clsid_key + L"\\InprocServer32", nullptr, server);
    CheckText(clsid_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    CheckText(clsid_key + L"\\TypeLib", nullptr, kLibId);
    if (KeyExists(HKEY_LOCAL_MACHINE, c.prog_id) || KeyExists(HKEY_LOCAL_MACHINE, clsid_key))
      Fail(c.prog_id + L" is registered for the machine too");
  }
  // Wine's RegisterTypeLibForUser registers for the machine, so only its presence is checked.
  if (!TypeLibRegistered()) Fail(L"the type library is not registered");
  if (server.empty() || !CreatesWorkingObject(server, kClasses[0].clsid))
    Fail(L"the registered server [" + server + L"] makes no object whose WaitingTime is 5");
}

void CheckUnregistered() {
  for (const auto& c : kClasses)
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      if (KeyExists(hive, c.prog_id) || KeyExists(hive, L"CLSID\\" + c.clsid))
        Fail(std::wstring(hive == HKEY_CURRENT_USER ? L"HKCU" : L"HKLM") + L" still has " +
             c.prog_id);
  if (TypeLibRegistered()) Fail(L"the type library is still registered");
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (mode == "user-registered")
    CheckUserRegistered();
  else if (mode == "unregistered")
    CheckUnregistered();
  else
    Fail(L"usage: registered_host user-registered|unregistered");
  CoUninitialize();
  if (g_failures == 0) std::printf("all checks passed\n");
  return g_failures == 0 ? 0 : 1;
}
