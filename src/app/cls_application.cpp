// clsApplication: creation and destruction, properties, ReadCard's frame and serial read,
// the cancel handler, and the forwarding of the link's and the window's events.
#include "app/cls_application.h"

#include <string>
#include <utility>

namespace qz {
namespace {

// One step of a procedure that must not fail: its error is dropped and the next step runs.
template <class Step>
void IgnoreFailure(Step&& step) noexcept {
  try {
    step();
  } catch (...) {
  }
}

std::unique_ptr<frmComm> NewLink(Platform& platform, frmCommEvents& owner) {
  return std::make_unique<frmComm>(platform.Loop(), platform.CreateSerialPort(), owner);
}

std::unique_ptr<frmkvkUI> NewWindow(Platform& platform, frmkvkUIEvents& owner) {
  return std::make_unique<frmkvkUI>(platform.Loop(), platform.CreateReaderView(), owner,
                                    [&platform] { return platform.CreateKeyboardReader(); });
}

constexpr std::int16_t kResyncMs = 800;

}  // namespace

clsApplication::clsApplication(Platform& platform) : platform_(platform) {
  mFrm = NewLink(platform_, *this);
  mKVKData = std::make_shared<clsKVKData>();
  mFrmUI = NewWindow(platform_, *this);
  mWaitingTime = 5;
}

clsApplication::~clsApplication() {
  IgnoreFailure([&] { mFrm->COMM().SetPortOpen(false); });
  IgnoreFailure([&] { mFrm->StopTimer(); });
  IgnoreFailure([&] { mFrmUI->Unload(); });
  // The link's window is never shown: unloading it is releasing it, below.
  IgnoreFailure([&] { mKVKData.reset(); });
  IgnoreFailure([&] { mFrm.reset(); });
  IgnoreFailure([&] { mFrmUI.reset(); });
}

enmReturnValue clsApplication::ReadCard(std::int32_t CardReaderType) {
  // Only host code running inside our own wait can get here while busy. Starting over would
  // destroy the link and window the running read is using, and the closing steps would close
  // its port, so the call is refused and the running read left alone.
  if (mBusy || mPortCheck) return RV_Error;

  enmReturnValue result = RV_ReadSuccessful;
  try {
    mFrm = NewLink(platform_, *this);
    mKVKData = std::make_shared<clsKVKData>();
    mFrmUI = NewWindow(platform_, *this);
    mBusy = true;
    switch (CardReaderType) {
      case CRT_CommPort:
        result = ReadFromPort();
        break;
      case CRT_Tastatur:
        result = ReadFromKeyboard();
        break;
      default:
        // Nothing was read; "successful" would send the host to an empty record.
        result = RV_Error;
        break;
    }
  } catch (const AutomationError& err) {
    AutomationError raised = err;
    try {
      LogError(err, "ReadCard", "None");
      if (err.Number() == kErrComponentNotRegistered && CardReaderType == CRT_Tastatur) {
        raised = AutomationError(ERR_NoCherryDriver, "ReadCard", "No Cherry Driver installed");
      }
    } catch (const AutomationError& log_failure) {
      raised = log_failure;
    } catch (...) {
      DropWindow();
      RunClosingSteps();
      throw;
    }
    DropWindow();
    RunClosingSteps();
    throw raised;
  } catch (...) {
    DropWindow();
    RunClosingSteps();
    throw;
  }
  RunClosingSteps();
  return result;
}

enmReturnValue clsApplication::ReadFromPort() {
  if (mCommPort <= 0) {
    throw AutomationError(ERR_NoPortSet, "ClsApplication", "No CommPort is set");
  }
  SerialPort& port = mFrm->COMM();
  port.SetCommPort(mCommPort);
  port.SetPortOpen(true);
  mKVKData = std::make_shared<clsKVKData>();
  mFrm->SendCommand(CMD_Resynch);
  mFrmUI->SetTitle("KVK Kartenlesegerät an Port " + std::to_string(mCommPort));
  mResyncDone = false;
  mFrm->StartTimer("RESYNC", kResyncMs);
  mFrmUI->Message("Resync...");
  // The dialogue, the RESYNC time-out or the cancel button ends this wait.
  mFrmUI->ShowModal();
  return static_cast<enmReturnValue>(mResult);
}

void clsApplication::DropWindow() {
  // A handler that failed inside the wait left the window on the screen; the call is over.
  IgnoreFailure([&] { mFrmUI->Unload(); });
}

void clsApplication::RunClosingSteps() {
  IgnoreFailure([&] { mFrm->COMM().SetPortOpen(false); });
  mNoCardCount = 0;
  mBusy = false;
  mResult = RV_Error;
}

void clsApplication::mFrmUI_CloseWindow() {
  mFrm->COMM().SetPortOpen(false);
  mKVKData = nullptr;
  mResult = RV_UserCanceled;
  mFrmUI->Unload();
}

void clsApplication::Test() {
  mFrm->SendCommand(CMD_Resynch);
}

// Events of the link and the window, handled by the procedures named after field and event.
void clsApplication::CommandReceived(std::string sBuffer, CmdType CMD) {
  mFrm_CommandReceived(sBuffer, CMD);
}
void clsApplication::WTXResynchCompleted(std::int32_t& CmdType) {
  mFrm_WTXResynchCompleted(CmdType);
}
void clsApplication::TimeReached(std::string& Key) {
  mFrm_TimeReached(Key);
}
void clsApplication::CloseWindow() {
  mFrmUI_CloseWindow();
}
void clsApplication::KeyboardCherryError(std::int32_t& lngNumber, std::string& strDescription) {
  mFrmUI_KeyboardCherryError(lngNumber, strDescription);
}
void clsApplication::KeyboardError(AutomationError& mErr, std::string& strModul,
                                   std::string& strProc, std::string& strZusatz) {
  mFrmUI_KeyboardError(mErr, strModul, strProc, strZusatz);
}
void clsApplication::mError(AutomationError& mErr, std::string& strModul, std::string& strProc,
                            std::string& strZusatz) {
  mFrmUI_mError(mErr, strModul, strProc, strZusatz);
}

}  // namespace qz
