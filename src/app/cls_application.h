// clsApplication: the component as the host uses it. Set CommPort and WaitingTime, optionally
// find the terminal with GetCardPort, call ReadCard, then take the record from KVKData.
// ReadCard and GetCardPort wait inside the platform's event loop; the dialogue with the
// terminal runs in the handlers below, one event at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/enums.h"
#include "app/platform.h"
#include "base/automation_error.h"
#include "kvk/kvk_data.h"
#include "link/frm_comm.h"
#include "ui/frm_kvk_ui.h"

namespace qz {

class clsApplication final : private frmCommEvents, private frmkvkUIEvents {
 public:
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

  // Raises AutomationError (logged first) as specified; otherwise returns the read's result.
  enmReturnValue ReadCard(std::int32_t CardReaderType);
  // The first COMn whose terminal confirms a RESYNCH; -1 when none; 0 while busy. Never raises.
  std::int16_t GetCardPort();
  // Sends one RESYNCH request on the port as it is. Errors of the link pass through.
  void Test();

 private:
  friend class clsApplicationTestPeer;

  // frmCommEvents / frmkvkUIEvents, forwarding to the handlers named after field and event.
  void CommandReceived(std::string sBuffer, CmdType CMD) override;
  void WTXResynchCompleted(std::int32_t& CmdType) override;
  void TimeReached(std::string& Key) override;
  void CloseWindow() override;
  void KeyboardCherryError(std::int32_t& lngNumber, std::string& strDescription) override;
  void KeyboardError(AutomationError& mErr, std::string& strModul, std::string& strProc,
                     std::string& strZusatz) override;
  void mError(AutomationError& mErr, std::string& strModul, std::string& strProc,
              std::string& strZusatz) override;

  // Handlers (dialogue/ holds the terminal's, app/ the window's).
  void mFrm_CommandReceived(const std::string& sBuffer, CmdType CMD);
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
  void RunClosingSteps();
  void DropWindow();
  void EndDialogue();

  Platform& platform_;

  // The object's state.
  std::unique_ptr<frmComm> mFrm;
  std::unique_ptr<frmkvkUI> mFrmUI;
  std::shared_ptr<clsKVKData> mKVKData;
  std::int16_t mCommPort = 0;
  std::int16_t mWaitingTime = 0;
  bool mBusy = false;
  std::int32_t mResult = RV_ReadSuccessful;
  bool mResyncDone = false;
  std::int16_t mNoCardCount = 0;
  bool mPortCheck = false;
  bool mPortFound = false;
  bool mPortWait = false;
  bool mCardUnreadable = false;
  std::int32_t mErrNumber = 0;
  std::string mErrSource;
  std::string mErrDescription;
};

}  // namespace qz
