// clsApplication: creation and destruction, ReadCard's frame and serial read, the cancel
// handler, and the routing of the link's and the window's events to the handlers.
#include "app/cls_application.h"

#include <optional>
#include <string>
#include <utility>

#include "app/platform.h"
#include "link/frm_comm.h"
#include "ui/frm_kvk_ui.h"

namespace qz {

// The link and the window call their owner through these interfaces; the handlers keep the
// names of the fields and events they serve.
class clsApplication::Events final : public frmCommEvents, public frmkvkUIEvents {
 public:
  explicit Events(clsApplication& app) : app_(app) {}

  void CommandReceived(std::string sBuffer, CmdType CMD) override {
    app_.mFrm_CommandReceived(sBuffer, CMD);
  }
  void WTXResynchCompleted(std::int32_t& CmdType) override {
    app_.mFrm_WTXResynchCompleted(CmdType);
  }
  void TimeReached(std::string& Key) override { app_.mFrm_TimeReached(Key); }
  void CloseWindow() override { app_.mFrmUI_CloseWindow(); }
  void KeyboardCherryError(std::int32_t& lngNumber, std::string& strDescription) override {
    app_.mFrmUI_KeyboardCherryError(lngNumber, strDescription);
  }
  void KeyboardError(AutomationError& mErr, std::string& strModul, std::string& strProc,
                     std::string& strZusatz) override {
    app_.mFrmUI_KeyboardError(mErr, strModul, strProc, strZusatz);
  }
  void mError(AutomationError& mErr, std::string& strModul, std::string& strProc,
              std::string& strZusatz) override {
    app_.mFrmUI_mError(mErr, strModul, strProc, strZusatz);
  }

 private:
  clsApplication& app_;
};

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

clsApplication::clsApplication(Platform& platform)
    : platform_(platform), events_(std::make_unique<Events>(*this)) {
  mFrm = NewLink(platform_, *events_);
  mKVKData = std::make_shared<clsKVKData>();
  mFrmUI = NewWindow(platform_, *events_);
}

clsApplication::~clsApplication() {
  IgnoreFailure([&] { mFrm->COMM().SetPortOpen(false); });
  IgnoreFailure([&] { mFrm->StopTimer(); });
  IgnoreFailure([&] { mFrmUI->Unload(); });
  // The link has no window of its own to unload: releasing it, below, is all there is.
  IgnoreFailure([&] { mKVKData.reset(); });
  IgnoreFailure([&] { mFrm.reset(); });
  IgnoreFailure([&] { mFrmUI.reset(); });
}

enmReturnValue clsApplication::ReadCard(std::int32_t CardReaderType) {
  // Only host code running inside our own wait can get here while busy. Starting over would
  // destroy the link and window the running read is using, and the closing steps would close
  // its port, so the call is refused and the running read left alone.
  if (mBusy || mPortCheck) return RV_Error;

  enmReturnValue result = RV_Error;
  std::optional<AutomationError> failure;
  try {
    mFrm = NewLink(platform_, *events_);
    mKVKData = std::make_shared<clsKVKData>();
    mFrmUI = NewWindow(platform_, *events_);
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
        break;
    }
  } catch (...) {
    failure = ReportFailure(std::current_exception(), CardReaderType);
  }
  RunClosingSteps();
  if (failure) throw std::move(*failure);
  return result;
}

// Logs the failure of a read and returns the error the host gets for it: the failure as an
// AutomationError, a keyboard read's unregistered component as the missing driver. A log that
// cannot be written is what the host gets instead.
AutomationError clsApplication::ReportFailure(std::exception_ptr failure,
                                              std::int32_t CardReaderType) {
  try {
    AutomationError err = AsAutomationError(failure);
    LogError(err, "ReadCard", "None");
    if (err.Number() == kErrComponentNotRegistered && CardReaderType == CRT_Tastatur) {
      return AutomationError(ERR_NoCherryDriver, "ReadCard", "No Cherry Driver installed");
    }
    return err;
  } catch (...) {
    return AsAutomationError(std::current_exception());
  }
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

// The end of every read, also of a failed one; no step may stop the next.
void clsApplication::RunClosingSteps() {
  // The handlers unload the window when a read ends; one that failed left it on the screen.
  IgnoreFailure([&] { mFrmUI->Unload(); });
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

}  // namespace qz
