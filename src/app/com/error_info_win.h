// The COM edge: every interface method runs its body through ComEdge, which turns the core's
// exceptions into an HRESULT plus error information (number, source, description) that the
// host's Err object shows. Nothing thrown may leave a COM method.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <new>
#include <string>

#include "app/automation_error.h"

namespace qz::win {

// The HRESULT for an error number: the component's own numbers (enmError, 0x8004xxxx) and
// other HRESULTs are the HRESULT itself; plain run-time numbers such as 8002 travel in the
// control facility (0x800A0000 | n), which script hosts show as the plain number again.
HRESULT HResultOf(std::int32_t number);

// Sets the thread's error information and returns the HRESULT for `number`.
HRESULT ReportError(REFIID iid, std::int32_t number, const std::string& source,
                    const std::string& description);

template <class Body>
HRESULT ComEdge(REFIID iid, Body&& body) noexcept {
  try {
    body();
    return S_OK;
  } catch (const AutomationError& e) {
    return ReportError(iid, e.Number(), e.Source(), e.Description());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (const std::exception& e) {
    // A fault of the component itself; shown to the host as VB's "Internal error".
    return ReportError(iid, 51, "qzCardReader", e.what());
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace qz::win
