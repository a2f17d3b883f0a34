// The library as a whole: its module handle and file name, and the count of live objects and
// class-factory locks that decides whether COM may unload it.
#pragma once

#include <windows.h>

#include <string>

namespace qz::win {

HMODULE ThisModule();
// Full path of qzCardReader.dll as loaded.
std::wstring ModulePath();

void ModuleAddRef();
void ModuleRelease();
long ModuleRefs();

}  // namespace qz::win
