// The COM edge: every interface method runs its body through ComEdge, which turns the core's
// exceptions into an HRESULT plus error information (number, source, description) that the
// host's Err object shows. Nothing thrown may leave a COM method.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <new>
#include <string>

#include "base/automation_error.h"
#include "base/hresult_win.h"

namespace qz::win {

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
