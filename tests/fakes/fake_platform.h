// A platform for the core's tests: the fake event loop and serial bus, reader windows that
// record what they were shown and let a test press "Abbruch" or close them, a scripted keyboard
// reader, a fixed date and time, and an error log in memory that can be told to fail.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/platform.h"
#include "tests/fakes/fake_event_loop.h"
#include "tests/fakes/fake_serial_port.h"

namespace qz::testing {

// What one reader window went through; outlives the window so tests can look afterwards.
struct FakeViewRecord {
  std::vector<std::string> titles;
  std::vector<std::string> messages;
  std::vector<bool> cancel_states;  // every SetCancelEnabled, in order
  bool visible = false;
  bool shown_modal = false;
  bool destroyed = false;
  ReaderViewListener* listener = nullptr;  // null once the window is gone

  // The user's actions, as the platform's window reports them.
  void PressCancel() {
    if (listener != nullptr) listener->CancelClicked();
  }
  void RequestClose(UnloadMode mode) {
    if (listener != nullptr) listener->CloseRequested(mode);
  }
};

// How the keyboard reader behaves in ReadKVK.
struct KeyboardScript {
  bool result = true;
  std::map<KVKField, std::string> fields;
  std::vector<std::pair<std::int32_t, std::string>> cherry_errors;  // CherryError reports
  bool report_error = false;     // one Error report: 1004 "Reader jammed" in clsReader.ReadKVK
  std::int32_t fail_number = 0;  // non-zero: ReadKVK itself fails with this number
};

class FakePlatform : public Platform {
 public:
  FakeEventLoop& Loop() override { return loop; }
  std::unique_ptr<SerialPort> CreateSerialPort() override {
    return std::make_unique<FakeSerialPort>(loop, bus);
  }
  std::unique_ptr<ReaderView> CreateReaderView() override {
    views.push_back(std::make_shared<FakeViewRecord>());
    return std::make_unique<View>(views.back());
  }
  std::unique_ptr<KeyboardReader> CreateKeyboardReader() override {
    if (!keyboard_installed)
      throw AutomationError(kErrComponentNotRegistered, "qzCardReader", "Not registered");
    return std::make_unique<Keyboard>(*this);
  }
  std::string ShortDate() override { return "06.12.2026"; }
  std::string LongTime() override { return "03:15:02"; }
  void AppendErrorLogLine(const std::string& line) override {
    // As a host sees a log folder without write permission.
    if (log_fails) throw AutomationError(75, "qzCardReader", "Path/File access error");
    log_lines.push_back(line + "\r\n");
  }

  FakeViewRecord& LastView() { return *views.back(); }

  FakeEventLoop loop;
  FakeSerialBus bus;
  std::vector<std::shared_ptr<FakeViewRecord>> views;
  KeyboardScript keyboard;
  bool keyboard_installed = true;               // false: creating one raises 339
  std::vector<std::int32_t> keyboard_timeouts;  // the time-out of every ReadKVK
  int keyboards_alive = 0;
  std::vector<std::string> log_lines;  // each with its CR LF
  bool log_fails = false;

 private:
  struct View : ReaderView {
    explicit View(std::shared_ptr<FakeViewRecord> r) : r(std::move(r)) {}
    void SetListener(ReaderViewListener* l) override { r->listener = r->destroyed ? nullptr : l; }
    void SetTitle(const std::string& utf8) override { r->titles.push_back(utf8); }
    void SetMessage(const std::string& utf8) override { r->messages.push_back(utf8); }
    void SetCancelEnabled(bool enabled) override { r->cancel_states.push_back(enabled); }
    void Show(bool modal) override {
      r->visible = true;
      r->shown_modal = modal;
    }
    void Hide() override { r->visible = false; }
    bool Visible() const override { return r->visible; }
    void Destroy() override {
      r->destroyed = true;
      Hide();
      r->listener = nullptr;
    }
    std::shared_ptr<FakeViewRecord> r;
  };

  struct Keyboard : KeyboardReader {
    explicit Keyboard(FakePlatform& p) : script(p.keyboard), p(p) { ++p.keyboards_alive; }
    ~Keyboard() override { --p.keyboards_alive; }
    void SetEvents(KeyboardReaderEvents* e) override { events = e; }
    bool ReadKVK(std::int32_t& timeoutMs, std::int32_t&, std::int32_t&) override {
      p.keyboard_timeouts.push_back(timeoutMs);
      for (auto [number, text] : script.cherry_errors) events->CherryError(number, text);
      if (script.report_error) {
        AutomationError err(1004, "KbdBridge", "Reader jammed");
        std::string modul = "clsReader", proc = "ReadKVK", zusatz = "extra";
        events->Error(err, modul, proc, zusatz);
      }
      if (script.fail_number != 0)
        throw AutomationError(script.fail_number, "KbdBridge", "ReadKVK failed");
      return script.result;
    }
    std::string Field(KVKField field) override { return script.fields[field]; }
    KeyboardScript script;
    FakePlatform& p;
    KeyboardReaderEvents* events = nullptr;
  };
};

}  // namespace qz::testing
