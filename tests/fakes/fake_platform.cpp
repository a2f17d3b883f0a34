#include "tests/fakes/fake_platform.h"

namespace qz::testing {
namespace {

class FakeReaderView : public ReaderView {
 public:
  FakeReaderView(std::shared_ptr<FakeViewRecord> record, FakePlatform& platform)
      : record_(std::move(record)), platform_(platform) {}

  void SetListener(ReaderViewListener* listener) override {
    if (!record_->destroyed) record_->listener = listener;
  }
  void SetTitle(const std::string& utf8) override { record_->titles.push_back(utf8); }
  void SetMessage(const std::string& utf8) override {
    record_->messages.push_back(utf8);
    if (platform_.on_message) platform_.on_message(*record_, utf8);
  }
  void SetCancelEnabled(bool enabled) override { record_->cancel_states.push_back(enabled); }
  void Show(bool modal) override {
    record_->visible = true;
    record_->shown_modal = modal;
    if (platform_.on_show) platform_.on_show(*record_);
  }
  void Hide() override { record_->visible = false; }
  bool Visible() const override { return record_->visible; }
  void Destroy() override {
    record_->destroyed = true;
    record_->visible = false;
    record_->listener = nullptr;
  }

 private:
  std::shared_ptr<FakeViewRecord> record_;
  FakePlatform& platform_;
};

class FakeKeyboardReader : public KeyboardReader {
 public:
  explicit FakeKeyboardReader(FakePlatform& platform)
      : script_(platform.keyboard), platform_(platform) {
    ++platform_.keyboards_alive;
  }
  ~FakeKeyboardReader() override { --platform_.keyboards_alive; }
  void SetEvents(KeyboardReaderEvents* events) override { events_ = events; }

  bool ReadKVK(std::int32_t& timeoutMs, std::int32_t&, std::int32_t&) override {
    platform_.keyboard_timeouts.push_back(timeoutMs);
    for (auto [number, text] : script_.cherry_errors) events_->CherryError(number, text);
    if (script_.report_error) {
      AutomationError err(1004, "KbdBridge", "Reader jammed");
      std::string modul = "clsReader", proc = "ReadKVK", zusatz = "extra";
      events_->Error(err, modul, proc, zusatz);
    }
    if (script_.fail_number != 0) {
      throw AutomationError(script_.fail_number, "KbdBridge", "ReadKVK failed");
    }
    return script_.result;
  }
  std::string Field(KVKField field) override {
    auto it = script_.fields.find(field);
    return it == script_.fields.end() ? std::string() : it->second;
  }

 private:
  KeyboardScript script_;
  FakePlatform& platform_;
  KeyboardReaderEvents* events_ = nullptr;
};

}  // namespace

std::unique_ptr<SerialPort> FakePlatform::CreateSerialPort() {
  return std::make_unique<FakeSerialPort>(loop, bus);
}

std::unique_ptr<ReaderView> FakePlatform::CreateReaderView() {
  views.push_back(std::make_shared<FakeViewRecord>());
  return std::make_unique<FakeReaderView>(views.back(), *this);
}

std::unique_ptr<KeyboardReader> FakePlatform::CreateKeyboardReader() {
  if (!keyboard_installed) {
    throw AutomationError(kErrComponentNotRegistered, "qzCardReader",
                          "Component not correctly registered");
  }
  ++keyboards_created;
  return std::make_unique<FakeKeyboardReader>(*this);
}

void FakePlatform::AppendErrorLogLine(const std::string& line) {
  // As a host sees a log folder without write permission.
  if (log_fails) throw AutomationError(75, "qzCardReader", "Path/File access error");
  log_lines.push_back(line + "\r\n");
}

}  // namespace qz::testing
