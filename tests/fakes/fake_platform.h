// A platform for the core's tests: the fake event loop and serial bus, reader windows that
// record what they were shown and let a test press "Abbruch" or close them, scripted keyboard
// readers, a settable date and time, and an error log kept in memory that can be told to fail.
#pragma once

#include <cstdint>
#include <functional>
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
  bool cancel_enabled = true;
  bool visible = false;
  bool destroyed = false;
  int shows = 0;
  bool shown_modal = false;
  ReaderViewListener* listener = nullptr;  // null once the window is gone

  // The user's actions, as the platform's window would report them.
  void PressCancel();
  void RequestClose(UnloadMode mode);
};

class FakeReaderView : public ReaderView {
 public:
  FakeReaderView(std::shared_ptr<FakeViewRecord> record,
                 std::function<void(FakeViewRecord&, const std::string&)>& on_message,
                 std::function<void(FakeViewRecord&)>& on_show)
      : record_(std::move(record)), on_message_(on_message), on_show_(on_show) {}
  ~FakeReaderView() override;

  void SetListener(ReaderViewListener* listener) override;
  void SetTitle(const std::string& utf8) override;
  void SetMessage(const std::string& utf8) override;
  void SetCancelEnabled(bool enabled) override;
  void Show(bool modal) override;
  void Hide() override;
  bool Visible() const override { return record_->visible; }
  void Destroy() override;

 private:
  std::shared_ptr<FakeViewRecord> record_;
  std::function<void(FakeViewRecord&, const std::string&)>& on_message_;
  std::function<void(FakeViewRecord&)>& on_show_;
};

// How a scripted keyboard reader behaves during ReadKVK.
struct KeyboardScript {
  bool result = true;                                               // ReadKVK's value
  std::map<KVKField, std::string> fields;                           // what Field() delivers
  std::vector<std::pair<std::int32_t, std::string>> cherry_errors;  // CherryError reports
  bool report_error = false;                                        // one Error report
  AutomationError error{1004, "KbdBridge", "Reader jammed"};
  std::string error_modul = "clsReader";
  std::string error_proc = "ReadKVK";
  std::int32_t fail_number = 0;  // non-zero: ReadKVK itself fails with this number
};

class FakeKeyboardReader : public KeyboardReader {
 public:
  FakeKeyboardReader(const KeyboardScript& script, std::vector<std::int32_t>& timeouts, int& alive)
      : script_(script), timeouts_(timeouts), alive_(alive) {
    ++alive_;
  }
  ~FakeKeyboardReader() override { --alive_; }
  void SetEvents(KeyboardReaderEvents* events) override { events_ = events; }
  bool ReadKVK(std::int32_t& timeoutMs, std::int32_t& arg2, std::int32_t& arg3) override;
  std::string Field(KVKField field) override;

 private:
  KeyboardScript script_;
  std::vector<std::int32_t>& timeouts_;
  int& alive_;
  KeyboardReaderEvents* events_ = nullptr;
};

class FakePlatform : public Platform {
 public:
  FakeEventLoop& Loop() override { return loop; }
  std::unique_ptr<SerialPort> CreateSerialPort() override;
  std::unique_ptr<ReaderView> CreateReaderView() override;
  std::unique_ptr<KeyboardReader> CreateKeyboardReader() override;
  std::string ShortDate() override { return date; }
  std::string LongTime() override { return time; }
  void AppendErrorLogLine(const std::string& line) override;

  // The window created last (the one of the current or last read).
  FakeViewRecord& LastView() { return *views.back(); }

  FakeEventLoop loop;
  FakeSerialBus bus;
  std::vector<std::shared_ptr<FakeViewRecord>> views;
  // Called on every message any window shows, and when a window is shown.
  std::function<void(FakeViewRecord&, const std::string&)> on_message;
  std::function<void(FakeViewRecord&)> on_show;

  KeyboardScript keyboard;
  bool keyboard_installed = true;               // false: creating one raises 339
  std::vector<std::int32_t> keyboard_timeouts;  // the time-out of every ReadKVK
  int keyboards_alive = 0;
  int keyboards_created = 0;

  std::string date = "06.12.2026";
  std::string time = "03:15:02";
  std::vector<std::string> log_lines;  // each as appended, with its CR LF
  bool log_fails = false;              // the log file cannot be opened
};

}  // namespace qz::testing
