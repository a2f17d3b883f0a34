// clsApplication: the component as the host uses it. Set CommPort and WaitingTime, optionally
// find the terminal with GetCardPort, call ReadCard, then take the record from KVKData.
// ReadCard and GetCardPort wait inside the platform's event loop; the dialogue with the
// terminal runs in the handlers below, one event at a time.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "app/enums.h"
#include "base/automation_error.h"
#include "kvk/kvk_data.h"

namespace qz {

class Platform;
class frmComm;
class frmkvkUI;
class KeyboardReader;

class clsApplication final {
 public:
  // On the platform of the calling thread: its event loop, serial ports, windows and log.
  clsApplication();
  explicit clsApplication(Platform& platform);
  ~clsApplication();
  clsApplication(const clsApplication&) = delete;
  clsApplication& operator=(const clsApplication&) = delete;

  std::int16_t WaitingTime() const { return mWaitingTime; }
  void WaitingTime(std::int16_t value) { mWaitingTime = value; }
  std::int16_t CommPort() const { return mCommPort; }
  void CommPort(std::int16_t value) { mCommPort = value; }
  // The held record itself, or null after a cancelled read or a silent terminal.
  std::shared_ptr<clsKVKData> KVKData() const { return mKVKData; }

  // Returns the read's result. A failure is logged, the port closed and the object made ready
  // for the next read, then raised as an AutomationError: a C++ exception that is not one
  // arrives as 7 "Out of memory" or 51 "Internal error" (see AsAutomationError).
  enmReturnValue ReadCard(std::int32_t CardReaderType);
  // The first COMn whose terminal confirms a RESYNCH; -1 when none; 0 while busy. Never raises.
  std::int16_t GetCardPort();
  // Sends one RESYNCH request on the port as it is. Errors of the link pass through.
  void Test();

 private:
  friend class clsApplicationTestPeer;
  // Receives the link's and the window's events and calls the handlers below.
  class Events;

  // Handlers named after field and event (dialogue/ holds the terminal's, app/ the window's).
  void mFrm_CommandReceived(const std::string& sBuffer, std::int32_t CMD);  // CMD: a CmdType
  void mFrm_WTXResynchCompleted(std::int32_t& CmdType);
  void mFrm_TimeReached(const std::string& Key);
  void mFrmUI_CloseWindow();
  void mFrmUI_KeyboardCherryError(std::int32_t& lngNumber, std::string& strDescription);
  void mFrmUI_KeyboardError(AutomationError& mErr, std::string& strModul, std::string& strProc,
                            std::string& strZusatz);
  void mFrmUI_mError(AutomationError& mErr, std::string& strModul, std::string& strProc,
                     std::string& strZusatz);

  void LogError(const AutomationError& err, const std::string& method, const std::string& comment);
  void FillFromKeyboard(KeyboardReader& keyboard);

  // The branches and the end of ReadCard, and the dialogue's normal end (clear mBusy, unload).
  enmReturnValue ReadFromPort();
  enmReturnValue ReadFromKeyboard();
  AutomationError ReportFailure(std::exception_ptr failure, std::int32_t CardReaderType);
  void RunClosingSteps();
  void EndDialogue();

  Platform& platform_;
  std::unique_ptr<Events> events_;

  // What every activity works on: the link, the window and the record of the current (or
  // last) read; each read replaces them. The host's two settings.
  std::unique_ptr<frmComm> mFrm;
  std::unique_ptr<frmkvkUI> mFrmUI;
  std::shared_ptr<clsKVKData> mKVKData;
  std::int16_t mCommPort = 0;
  std::int16_t mWaitingTime = 5;

  // A read, from ReadCard's start to its closing steps.
  bool mBusy = false;                        // refuses a second read or search meanwhile
  std::int32_t mResult = RV_ReadSuccessful;  // the outcome, decided by the handlers
  bool mResyncDone = false;                  // the terminal confirmed the RESYNCH
  std::int16_t mNoCardCount = 0;             // REQUEST ICCs answered "no card" so far

  // The port search (GetCardPort); the link's handlers report to it through these.
  bool mPortCheck = false;  // a search is running: a RESYNCH confirmation is the search's
  bool mPortFound = false;  // the port being tried answered
  bool mPortWait = false;   // still listening on the port being tried

  // A keyboard read's reports from the window, read by ReadFromKeyboard once the window hides.
  bool mCardUnreadable = false;  // the reader said -42: no usable card
  std::int32_t mErrNumber = 0;   // non-zero: the read failed with this error (mError)
  std::string mErrSource;
  std::string mErrDescription;
};

}  // namespace qz
