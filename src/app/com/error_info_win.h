// The COM edge: every interface method runs its body through ComEdge, which turns the core's
// exceptions into an HRESULT plus error information (number, source, description) that the
// host's Err object shows. Nothing thrown may leave a COM method.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <cstdint>
#include <exception>
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
  } catch (...) {
    // The same mapping as ReadCard's: 7 "Out of memory", 51 for a fault of the component.
    try {
      const AutomationError e = AsAutomationError(std::current_exception());
      return ReportError(iid, e.Number(), e.Source(), e.Description());
    } catch (...) {
      return E_OUTOFMEMORY;  // not even the error information could be built
    }
  }
}

}  // namespace qz::win
