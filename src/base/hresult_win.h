// How error numbers travel as HRESULTs, in both directions: what the component raises to a host
// and what it reads back from the objects it calls. Header-only, so that the keyboard reader
// links it without the COM server.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qz::win {

// The HRESULT for an error number: the component's own numbers (enmError, 0x8004xxxx) and
// other HRESULTs are the HRESULT itself; plain run-time numbers such as 8002 travel in the
// control facility (0x800A0000 | n), which script hosts show as the plain number again.
// 0 and numbers above 0xFFFF fit neither; they become E_FAIL, as an error must never read as
// success.
inline HRESULT HResultOf(std::int32_t number) {
  if (number < 0) return static_cast<HRESULT>(number);
  if (number > 0 && number <= 0xFFFF)
    return static_cast<HRESULT>(0x800A0000u | static_cast<std::uint32_t>(number));
  return E_FAIL;
}

// The number a host sees for an HRESULT: the plain run-time number for the control facility,
// the HRESULT itself otherwise.
inline std::int32_t NumberOf(HRESULT hr) {
  const auto bits = static_cast<std::uint32_t>(hr);
  if ((bits & 0xFFFF0000u) == 0x800A0000u) return static_cast<std::int32_t>(bits & 0xFFFFu);
  return static_cast<std::int32_t>(bits);
}

}  // namespace qz::win
