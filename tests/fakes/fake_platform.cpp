#include "tests/fakes/fake_platform.h"

namespace qz::testing {

void FakeViewRecord::PressCancel() {
  if (listener != nullptr) listener->CancelClicked();
}

void FakeViewRecord::RequestClose(UnloadMode mode) {
  if (listener != nullptr) listener->CloseRequested(mode);
}

FakeReaderView::~FakeReaderView() {
  record_->listener = nullptr;
  record_->visible = false;
}

void FakeReaderView::SetListener(ReaderViewListener* listener) {
  if (!record_->destroyed) record_->listener = listener;
}

void FakeReaderView::SetTitle(const std::string& utf8) {
  record_->titles.push_back(utf8);
}

void FakeReaderView::SetMessage(const std::string& utf8) {
  record_->messages.push_back(utf8);
  if (on_message_) on_message_(*record_, utf8);
}

void FakeReaderView::SetCancelEnabled(bool enabled) {
  record_->cancel_enabled = enabled;
  record_->cancel_states.push_back(enabled);
}

void FakeReaderView::Show(bool modal) {
  record_->visible = true;
  record_->shown_modal = modal;
  ++record_->shows;
  if (on_show_) on_show_(*record_);
}

void FakeReaderView::Hide() {
  record_->visible = false;
}

void FakeReaderView::Destroy() {
  record_->destroyed = true;
  record_->visible = false;
  record_->listener = nullptr;
}

bool FakeKeyboardReader::ReadKVK(std::int32_t& timeoutMs, std::int32_t& /*arg2*/,
                                 std::int32_t& /*arg3*/) {
  timeouts_.push_back(timeoutMs);
  for (auto [number, text] : script_.cherry_errors) {
    if (events_ != nullptr) events_->CherryError(number, text);
  }
  if (script_.report_error && events_ != nullptr) {
    AutomationError err = script_.error;
    std::string modul = script_.error_modul;
    std::string proc = script_.error_proc;
    std::string zusatz = "extra";
    events_->Error(err, modul, proc, zusatz);
  }
  if (script_.fail_number != 0) {
    throw AutomationError(script_.fail_number, "KbdBridge", "ReadKVK failed");
  }
  return script_.result;
}

std::string FakeKeyboardReader::Field(KVKField field) {
  auto it = script_.fields.find(field);
  return it == script_.fields.end() ? std::string() : it->second;
}

std::unique_ptr<SerialPort> FakePlatform::CreateSerialPort() {
  return std::make_unique<FakeSerialPort>(loop, bus);
}

std::unique_ptr<ReaderView> FakePlatform::CreateReaderView() {
  views.push_back(std::make_shared<FakeViewRecord>());
  return std::make_unique<FakeReaderView>(views.back(), on_message, on_show);
}

std::unique_ptr<KeyboardReader> FakePlatform::CreateKeyboardReader() {
  if (!keyboard_installed) {
    throw AutomationError(kErrComponentNotRegistered, "qzCardReader",
                          "Component not correctly registered");
  }
  ++keyboards_created;
  return std::make_unique<FakeKeyboardReader>(keyboard, keyboard_timeouts, keyboards_alive);
}

void FakePlatform::AppendErrorLogLine(const std::string& line) {
  // As a VB host sees a log folder without write permission.
  if (log_fails) throw AutomationError(75, "qzCardReader", "Path/File access error");
  log_lines.push_back(line + "\r\n");
}

}  // namespace qz::testing
