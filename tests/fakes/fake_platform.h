// A platform for the core's tests: the fake event loop and serial bus, reader windows that
// record what they were shown and let a test press "Abbruch" or close them, a scripted keyboard
// reader, a fixed date and time, and an error log in memory that can be told to fail.
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
  std::unique_ptr<SerialPort> CreateSerialPort() override;
  std::unique_ptr<ReaderView> CreateReaderView() override;
  std::unique_ptr<KeyboardReader> CreateKeyboardReader() override;
  std::string ShortDate() override { return date; }
  std::string LongTime() override { return time; }
  void AppendErrorLogLine(const std::string& line) override;

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
  std::vector<std::string> log_lines;  // each with its CR LF
  bool log_fails = false;
};

}  // namespace qz::testing
