// GetCardPort: the first COMn whose terminal confirms a RESYNCH within the listening time.
#include <limits>

#include "app/cls_application.h"
#include "app/platform.h"
#include "link/frm_comm.h"

namespace qz {
namespace {

constexpr std::int16_t kListenMs = 300;

}  // namespace

std::int16_t clsApplication::GetCardPort() {
  // A second scan or a read would switch the port under the running one.
  if (mBusy || mPortCheck) return 0;

  mPortCheck = true;
  mPortFound = false;
  std::int16_t result = -1;
  std::int16_t n = 0;
  SerialPort& port = mFrm->COMM();
  auto close_port = [&port] {
    try {
      port.SetPortOpen(false);
    } catch (...) {
    }
  };
  try {
    while (n < std::numeric_limits<std::int16_t>::max()) {
      ++n;
      try {
        port.SetCommPort(n);
        port.SetPortOpen(true);
      } catch (const AutomationError& err) {
        close_port();
        if (err.Number() == kErrInvalidPortNumber) break;  // past the last port
        continue;  // held by another program, missing hardware, ...: try the next
      }

      try {
        mFrm->SendCommand(CMD_Resynch);
      } catch (...) {
        // Listen anyway: the time-out ends the wait whether the request went out or not.
      }
      mFrm->StartTimer("PORTCHECK", kListenMs);
      mPortWait = true;
      try {
        // Sleeps until the next event; the PORTCHECK expiry ends it, an answer does not.
        platform_.Loop().RunUntil([this] { return !mPortWait; });
      } catch (const AutomationError&) {
        // A handler failed on this port (it vanished, say): stop listening here.
        mFrm->StopTimer();
        mPortWait = false;
      }

      close_port();
      if (mPortFound) {
        result = n;
        break;
      }
    }
  } catch (...) {
    // The host is told only of a port, never of a failure: whatever failed ends the search
    // with what it has, and no port stays open.
    if (mPortFound) result = n;
    try {
      mFrm->StopTimer();
    } catch (...) {
    }
    close_port();
  }
  mPortWait = false;
  mPortCheck = false;
  return result;
}

}  // namespace qz
