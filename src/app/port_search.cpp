// GetCardPort: the first COMn whose terminal confirms a RESYNCH within the listening time.
#include <limits>

#include "app/cls_application.h"

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
  SerialPort& port = mFrm->COMM();
  try {
    for (std::int16_t n = 1;; ++n) {
      try {
        port.SetCommPort(n);
        port.SetPortOpen(true);
      } catch (const AutomationError& err) {
        try {
          port.SetPortOpen(false);
        } catch (const AutomationError&) {
        }
        if (err.Number() == kErrInvalidPortNumber) break;  // past the last port
        if (n == std::numeric_limits<std::int16_t>::max()) break;
        continue;  // held by another program, missing hardware, ...: try the next
      }

      try {
        mFrm->SendCommand(CMD_Resynch);
      } catch (const AutomationError&) {
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

      const bool found = mPortFound;
      try {
        port.SetPortOpen(false);
      } catch (const AutomationError&) {
      }
      if (found) {
        result = n;
        break;
      }
      if (n == std::numeric_limits<std::int16_t>::max()) break;
    }
  } catch (...) {
    mPortCheck = false;
    mPortWait = false;
    throw;
  }
  mPortCheck = false;
  return result;
}

}  // namespace qz
