#include "app/com/type_library_win.h"

#include <map>

#include "base/module_win.h"
#include "base/raii_win.h"

namespace qz::win {
namespace {

struct GuidLess {
  bool operator()(const GUID& a, const GUID& b) const { return memcmp(&a, &b, sizeof a) < 0; }
};

// Type-library objects of oleaut32 may be shared between apartments, so one cache serves all.
ComPtr<ITypeLib>& Library() {
  static ComPtr<ITypeLib>* lib = new ComPtr<ITypeLib>();
  return *lib;
}
std::map<GUID, ComPtr<ITypeInfo>, GuidLess>& Infos() {
  // Never destroyed at exit: oleaut32 may be gone by then; ReleaseOwnTypeLib empties it.
  static auto* infos = new std::map<GUID, ComPtr<ITypeInfo>, GuidLess>();
  return *infos;
}

}  // namespace

HRESULT LoadOwnTypeLib(ITypeLib** out) {
  *out = nullptr;
  if (!Library()) {
    const std::wstring path = ModulePath();
    HRESULT hr = LoadTypeLibEx(path.c_str(), REGKIND_NONE, Library().Put());
    if (FAILED(hr)) return hr;
  }
  *out = Library().Copy();
  return S_OK;
}

HRESULT OwnTypeInfo(REFIID iid, ITypeInfo** out) {
  *out = nullptr;
  auto it = Infos().find(iid);
  if (it == Infos().end()) {
    ComPtr<ITypeLib> lib;
    HRESULT hr = LoadOwnTypeLib(lib.Put());
    if (FAILED(hr)) return hr;
    ComPtr<ITypeInfo> info;
    hr = lib->GetTypeInfoOfGuid(iid, info.Put());
    if (FAILED(hr)) return hr;
    it = Infos().emplace(iid, info).first;
  }
  *out = it->second.Copy();
  return S_OK;
}

void ReleaseOwnTypeLib() {
  Infos().clear();
  Library() = nullptr;
}

}  // namespace qz::win
