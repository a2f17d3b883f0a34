// The link's alarm and its RESYNCH confirmation, for a read and for the port search.
#include <string>

#include "app/cls_application.h"
#include "link/frm_comm.h"
#include "ui/frm_kvk_ui.h"

namespace qz {

void clsApplication::mFrm_TimeReached(const std::string& Key) {
  if (Key == "PORTCHECK") {
    mPortWait = false;  // the port search looks at mPortFound now
    return;
  }
  if (Key != "RESYNC" || mResyncDone) return;  // answered in time: the read has gone on

  // No terminal answered: nothing more of this read may reach the link.
  mFrm->COMM().SetPortOpen(false);
  mKVKData = nullptr;
  mResult = RV_NoReaderResponding;
  mFrmUI->Unload();  // mBusy is ReadCard's to clear
}

void clsApplication::mFrm_WTXResynchCompleted(std::int32_t& CmdType) {
  if (CmdType != 1) return;
  mResyncDone = true;
  if (mPortCheck) {
    mPortFound = true;  // the scan only listens; it sends nothing more
  } else {
    // A repeated confirmation restarts the chain from the terminal reset. Answers carry no
    // command of their own, so a terminal that answered one RESYNCH request twice leaves an
    // answer in flight that the next command takes for its own. The restart is kept: telling a
    // stale answer from a fresh one would need a tag the terminal's protocol does not have.
    mFrm->SendCommand(CMD_ResetCT);
  }
}

}  // namespace qz
