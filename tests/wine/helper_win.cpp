// What the Wine tests need from inside Windows, one program for both bitnesses:
//   helper count | leak N     exits with the handle count of the process that started it (after
//                             giving it N handles it never closes)
//   helper cancel | escape    waits for the reader window and clicks its "Abbruch" button, or
//                             presses Escape on the keyboard, which the focused button answers
//   helper user DLL           the per-user registration: DllInstall "user" writes the classes
//                             under HKCU only (Wine's COM reads only the machine's, so the entries
//                             are checked), and DllInstall(FALSE, "user") removes them
//   helper unregister DLL     DllUnregisterServer leaves no class and no type library behind
// The classes and GUIDs are those of the DLL's own type library. Exit status 0: as expected.
#include <windows.h>

#include <objbase.h>
#include <oleauto.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

int g_failures = 0;
void Fail(const std::wstring& what) {
  ++g_failures;
  std::printf("  not as expected: %ls\n", what.c_str());
}

// Wine 8 answers GetProcessHandleCount with 0, so the system's handle list is counted by owner.
int HandlesOf(DWORD pid) {
  std::vector<char> buffer(1 << 16);
  NTSTATUS status;
  while ((status = NtQuerySystemInformation(SystemHandleInformation, buffer.data(),
                                            static_cast<ULONG>(buffer.size()), nullptr)) ==
         static_cast<NTSTATUS>(0xC0000004L))  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(buffer.size() * 2);
  if (status != 0) return 0;
  const auto* info = reinterpret_cast<const SYSTEM_HANDLE_INFORMATION*>(buffer.data());
  int count = 0;
  for (ULONG i = 0; i < info->Count; ++i) count += info->Handle[i].OwnerPid == pid ? 1 : 0;
  return count;
}

int CountParentHandles(int leak) {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  CloseHandle(snapshot);
  HANDLE target = OpenProcess(PROCESS_DUP_HANDLE, FALSE, parent);
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  for (HANDLE copy; leak > 0; --leak)
    DuplicateHandle(GetCurrentProcess(), event, target, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS);
  return HandlesOf(parent);
}

// The button is looked up by its text in the window of the reader's class, and pressed once the
// window shows that the terminal asks for a card; a minute is more than any loaded machine needs.
int Cancel(bool escape) {
  for (int i = 0; i < 1200; ++i, Sleep(50)) {
    HWND window = FindWindowW(L"qzCardReaderKVKUI", nullptr);
    HWND button = window ? FindWindowExW(window, nullptr, L"Button", L"Abbruch") : nullptr;
    if (button && IsWindowEnabled(button) &&
        FindWindowExW(window, nullptr, L"Static", L"Bitte Karte einführen...")) {
      if (!escape) return static_cast<int>(SendMessageW(button, BM_CLICK, 0, 0));
      keybd_event(VK_ESCAPE, 0, 0, 0);
      keybd_event(VK_ESCAPE, 0, KEYEVENTF_KEYUP, 0);
      return 0;
    }
  }
  Fail(L"no reader window with an enabled Abbruch button");
  return 1;
}

struct TypeLib {
  ITypeLib* lib = nullptr;
  TLIBATTR* attr = nullptr;
  struct Class {
    std::wstring prog_id, clsid;
  };
  std::vector<Class> classes;
};

std::wstring Text(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, 40);
  return text;
}

TypeLib LoadClasses(const std::wstring& dll) {
  TypeLib t;
  BSTR lib_name = nullptr;
  if (FAILED(LoadTypeLibEx(dll.c_str(), REGKIND_NONE, &t.lib)) ||
      FAILED(t.lib->GetLibAttr(&t.attr)))
    std::exit((Fail(L"no type library in " + dll), 1));
  t.lib->GetDocumentation(-1, &lib_name, nullptr, nullptr, nullptr);
  for (UINT i = 0; i < t.lib->GetTypeInfoCount(); ++i) {
    ITypeInfo* info = nullptr;
    TYPEATTR* attr = nullptr;
    BSTR name = nullptr;
    t.lib->GetTypeInfo(i, &info);
    info->GetTypeAttr(&attr);
    info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
    if (attr->typekind == TKIND_COCLASS)
      t.classes.push_back({std::wstring(lib_name) + L"." + name, Text(attr->guid)});
    SysFreeString(name);
    info->ReleaseTypeAttr(attr);
    info->Release();
  }
  SysFreeString(lib_name);
  return t;
}

bool KeyExists(HKEY hive, const std::wstring& key) {
  HKEY k = nullptr;
  if (RegOpenKeyExW(hive, (L"Software\\Classes\\" + key).c_str(), 0, KEY_READ, &k) != 0)
    return false;
  RegCloseKey(k);
  return true;
}

void CheckUserValue(const std::wstring& key, const wchar_t* name, const std::wstring& want) {
  wchar_t got[1024] = {};
  DWORD size = sizeof got;
  RegGetValueW(HKEY_CURRENT_USER, (L"Software\\Classes\\" + key).c_str(), name, RRF_RT_REG_SZ,
               nullptr, got, &size);
  if (_wcsicmp(got, want.c_str()) != 0)
    Fail(L"HKCU classes " + key + L" " + (name ? name : L"") + L": [" + got + L"], expected [" +
         want + L"]");
}

bool TypeLibRegistered(const TypeLib& t) {
  ITypeLib* lib = nullptr;
  if (FAILED(LoadRegTypeLib(t.attr->guid, t.attr->wMajorVerNum, t.attr->wMinorVerNum, t.attr->lcid,
                            &lib)))
    return false;
  lib->Release();
  return true;
}

void CheckNothingLeft(const TypeLib& t, const wchar_t* after) {
  for (const auto& c : t.classes)
    for (HKEY hive : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE})
      if (KeyExists(hive, c.prog_id) || KeyExists(hive, L"CLSID\\" + c.clsid))
        Fail(std::wstring(after) + L": " + (hive == HKEY_CURRENT_USER ? L"HKCU" : L"HKLM") +
             L" still has " + c.prog_id);
  if (TypeLibRegistered(t)) Fail(std::wstring(after) + L": the type library is still registered");
}

using Install = HRESULT(STDAPICALLTYPE*)(BOOL, PCWSTR);
using Unregister = HRESULT(STDAPICALLTYPE*)();

template <class F>
F Entry(HMODULE module, const char* name) {
  // Through void*, as FARPROC's own type differs from every real entry point's.
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

void CheckUserRegistration(const std::wstring& dll) {
  const TypeLib t = LoadClasses(dll);
  HMODULE module = LoadLibraryW(dll.c_str());
  auto install = module ? Entry<Install>(module, "DllInstall") : nullptr;
  if (!install) return Fail(L"no DllInstall in " + dll);
  if (SUCCEEDED(install(TRUE, L"nonsense"))) Fail(L"DllInstall accepted \"nonsense\"");
  CheckNothingLeft(t, L"DllInstall \"nonsense\"");
  if (FAILED(install(TRUE, L"user"))) Fail(L"DllInstall \"user\" failed");
  for (const auto& c : t.classes) {
    const std::wstring key = L"CLSID\\" + c.clsid;
    CheckUserValue(c.prog_id + L"\\Clsid", nullptr, c.clsid);
    CheckUserValue(key + L"\\ProgID", nullptr, c.prog_id);
    CheckUserValue(key + L"\\InprocServer32", nullptr, dll);
    CheckUserValue(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    CheckUserValue(key + L"\\TypeLib", nullptr, Text(t.attr->guid));
    if (KeyExists(HKEY_LOCAL_MACHINE, c.prog_id) || KeyExists(HKEY_LOCAL_MACHINE, key))
      Fail(c.prog_id + L" is registered for the machine too");
  }
  // Wine's RegisterTypeLibForUser registers for the machine, so only its presence is checked.
  if (!TypeLibRegistered(t)) Fail(L"the type library is not registered");
  if (FAILED(install(FALSE, L"user"))) Fail(L"DllInstall(FALSE, \"user\") failed");
  CheckNothingLeft(t, L"DllInstall(FALSE, \"user\")");
}

void CheckUnregister(const std::wstring& dll) {
  const TypeLib t = LoadClasses(dll);
  HMODULE module = LoadLibraryW(dll.c_str());
  auto unregister = module ? Entry<Unregister>(module, "DllUnregisterServer") : nullptr;
  if (!unregister || FAILED(unregister())) Fail(L"DllUnregisterServer failed");
  CheckNothingLeft(t, L"DllUnregisterServer");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"count") return CountParentHandles(0);
  if (mode == L"leak" && argc == 3) return CountParentHandles(_wtoi(argv[2]));
  if (mode == L"cancel" || mode == L"escape") return Cancel(mode == L"escape");
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (mode == L"user" && argc == 3)
    CheckUserRegistration(argv[2]);
  else if (mode == L"unregister" && argc == 3)
    CheckUnregister(argv[2]);
  else
    Fail(L"usage: helper count | leak N | cancel | escape | user DLL | unregister DLL");
  CoUninitialize();
  return g_failures == 0 ? 0 : 1;
}
