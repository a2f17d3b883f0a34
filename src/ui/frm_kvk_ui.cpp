// frmkvkUI: the reader window's logic over a platform view, and the keyboard read it hosts.
#include "ui/frm_kvk_ui.h"

#include <chrono>
#include <limits>
#include <utility>

namespace qz {
namespace {

constexpr std::chrono::milliseconds kCherryPoll{50};

}  // namespace

frmkvkUI::frmkvkUI(EventLoop& loop, std::unique_ptr<ReaderView> view, frmkvkUIEvents& owner,
                   KeyboardFactory keyboard_factory)
    : loop_(loop),
      view_(std::move(view)),
      owner_(owner),
      keyboard_factory_(std::move(keyboard_factory)) {
  view_->SetListener(this);
}

frmkvkUI::~frmkvkUI() {
  if (cherry_timer_ != 0) loop_.CancelTimer(cherry_timer_);
  view_->SetListener(nullptr);
  if (!unloaded_) {
    try {
      view_->Destroy();
    } catch (...) {
    }
  }
}

void frmkvkUI::SetTitle(const std::string& caption) {
  if (!unloaded_) view_->SetTitle(caption);
}

void frmkvkUI::Message(const std::string& sText) {
  if (!unloaded_) view_->SetMessage(sText);
}

void frmkvkUI::SetCancelEnabled(bool enabled) {
  cancel_enabled_ = enabled;
  if (!unloaded_) view_->SetCancelEnabled(enabled);
}

void frmkvkUI::ShowModal() {
  if (unloaded_) return;
  view_->Show(true);
  loop_.RunUntil([this] { return unloaded_ || !view_->Visible(); });
}

void frmkvkUI::Hide() {
  if (!unloaded_) view_->Hide();
}

bool frmkvkUI::Visible() const {
  return !unloaded_ && view_->Visible();
}

void frmkvkUI::Unload() {
  if (unloaded_) return;
  unloaded_ = true;
  if (cherry_timer_ != 0) loop_.CancelTimer(cherry_timer_);
  cherry_timer_ = 0;
  view_->Destroy();
  mKeyboard.reset();
}

void frmkvkUI::CancelClicked() {
  // A disabled or vanished button cannot be pressed; a second press must not cancel twice.
  if (unloaded_ || !cancel_enabled_) return;
  SetCancelEnabled(false);
  owner_.CloseWindow();
}

void frmkvkUI::CloseRequested(UnloadMode mode) {
  switch (mode) {
    case UnloadMode::kUserClose:
    case UnloadMode::kSessionEnd:
    case UnloadMode::kTaskManager:
      owner_.CloseWindow();
      break;
    case UnloadMode::kCode:
    case UnloadMode::kMdiParent:
    case UnloadMode::kOwnerClosing:
      break;
  }
  Unload();  // a close request is never refused
}

void frmkvkUI::WaitingTime(std::int32_t vData) {
  mWaitingTime = vData;
}

void frmkvkUI::EnableCherryTimer() {
  if (cherry_timer_ != 0) loop_.CancelTimer(cherry_timer_);
  cherry_timer_ = loop_.AddTimer(kCherryPoll, [this] { CherryTimer_Timer(); });
  mCherryReturnValue = false;
}

void frmkvkUI::CherryTimer_Timer() {
  cherry_timer_ = 0;
  if (unloaded_) return;
  if (!Visible()) {
    // Not on the screen yet: the read must not block before the user sees the message.
    cherry_timer_ = loop_.AddTimer(kCherryPoll, [this] { CherryTimer_Timer(); });
    return;
  }
  ReadCherry();  // exactly one read per EnableCherryTimer
}

void frmkvkUI::ReadCherry() {
  // The reader is held here while ReadKVK runs, so that an unload meanwhile cannot destroy the
  // object under its own call; the window keeps it afterwards unless it has been unloaded.
  std::unique_ptr<KeyboardReader> keyboard;
  try {
    mCherryReturnValue = false;
    keyboard = keyboard_factory_();
    keyboard->SetEvents(this);
    if (mWaitingTime > std::numeric_limits<std::int32_t>::max() / 1000 ||
        mWaitingTime < std::numeric_limits<std::int32_t>::min() / 1000) {
      throw AutomationError(6, "qzCardReader", "Overflow");
    }
    std::int32_t timeout_ms = mWaitingTime * 1000;
    std::int32_t arg2 = 0;
    std::int32_t arg3 = 0;
    mCherryReturnValue = keyboard->ReadKVK(timeout_ms, arg2, arg3);
    if (!unloaded_) mKeyboard = std::move(keyboard);
  } catch (...) {
    // Every failure goes the one way to the owner, also one that is no AutomationError.
    AutomationError err = AsAutomationError(std::current_exception());
    std::string modul = "frmUI";
    std::string proc = "ReadCherry";
    std::string zusatz;
    owner_.mError(err, modul, proc, zusatz);
    mCherryReturnValue = false;
    mKeyboard.reset();
  }
  Hide();  // ends the modal wait in every case
}

void frmkvkUI::CherryError(std::int32_t& lngNumber, std::string& strDescription) {
  // An error the owner throws back goes to the keyboard reader, and so out of its ReadKVK.
  owner_.KeyboardCherryError(lngNumber, strDescription);
  Hide();
}

void frmkvkUI::Error(AutomationError& mErr, std::string& strModul, std::string& strProc,
                     std::string& strZusatz) {
  owner_.KeyboardError(mErr, strModul, strProc, strZusatz);
  Hide();
}

}  // namespace qz
