// The type library embedded in the DLL (resource TYPELIB 1): the source of IDispatch for both
// classes and of the registration's type-library entries.
#pragma once

#include <windows.h>

#include <oleauto.h>

namespace qz::win {

// The library, loaded once per process; a new reference.
HRESULT LoadOwnTypeLib(ITypeLib** out);
// The type information of one of its interfaces, cached; a new reference.
HRESULT OwnTypeInfo(REFIID iid, ITypeInfo** out);
// Drops the cached library and type information (when COM unloads the DLL).
void ReleaseOwnTypeLib();

}  // namespace qz::win
