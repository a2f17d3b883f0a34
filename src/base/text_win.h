// Conversions between the core's UTF-8 and the system's wide strings, BSTRs and ANSI bytes.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <string>
#include <string_view>

namespace qz::win {

std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view wide);  // to UTF-8
// A new BSTR, or null when out of memory (callers report E_OUTOFMEMORY).
BSTR ToBstr(std::string_view utf8);
std::string FromBstr(BSTR b);
// UTF-8 to the system's ANSI code page; characters it lacks become its default character.
std::string ToAnsi(std::string_view utf8);

}  // namespace qz::win
