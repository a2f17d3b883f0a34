#include "base/module_win.h"

#include <atomic>
#include <vector>

namespace qz::win {
namespace {

// DllCanUnloadNow may be asked from another thread than the objects' apartment.
std::atomic<long> g_refs{0};

}  // namespace

HMODULE ThisModule() {
  // The module that holds this function's code: the DLL itself, whoever loaded it.
  HMODULE module = nullptr;
  GetModuleHandleExW(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

std::wstring ModulePath() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    const DWORD n = GetModuleFileNameW(ThisModule(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) return std::wstring(buf.data(), n);
    buf.resize(buf.size() * 2);  // truncated: long path
  }
}

void ModuleAddRef() {
  ++g_refs;
}
void ModuleRelease() {
  --g_refs;
}
long ModuleRefs() {
  return g_refs.load();
}

}  // namespace qz::win
