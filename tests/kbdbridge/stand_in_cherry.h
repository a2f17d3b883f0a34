// The behaviour of the stand-in keyboard library, shared by its Linux shared object and its
// Windows COM server. A test selects what a read does through the environment:
//   KBDBRIDGE_SCENARIO  success (default) | false | unreadable | error7 | error-event | fail |
//                       timeout
//   KBDBRIDGE_MAX_MS    upper bound of the "timeout" wait in ms (default 200), so tests stay fast
//   KBDBRIDGE_RECORD    file to which every read appends the time-out it was given, one a line
//   KBDBRIDGE_TEXT      description of the "error7" report (default "Lesefehler: Prüfsumme"),
//                       so that a test can find its own entries in a shared error log
//   KBDBRIDGE_PROBE     (COM server only) file to which a read appends the caller's visible
//                       windows and controls as they are when the read starts
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kbdbridge {

struct Settings {
  std::string scenario;
  std::int32_t maxMs = 200;
  std::string recordPath;
  std::string text = "Lesefehler: Prüfsumme";
};

// The settings from the values of the three variables (nothing for an unset one).
Settings ReadSettings(std::optional<std::string> scenario, std::optional<std::string> maxMs,
                      std::optional<std::string> recordPath,
                      std::optional<std::string> text = std::nullopt);

struct ErrorInfo {
  std::int32_t number = 0;
  std::string source;
  std::string description;
};

// Where the read's reports go; a handler that raises an error back returns it.
class Events {
 public:
  virtual std::optional<ErrorInfo> CherryError(std::int32_t lngNumber,
                                               const std::string& strDescription) = 0;
  virtual std::optional<ErrorInfo> Error(const ErrorInfo& err, const std::string& strModul,
                                         const std::string& strProc,
                                         const std::string& strZusatz) = 0;

 protected:
  ~Events() = default;
};

// What ReadKVK came to: a result, or a failure of the call.
struct ReadOutcome {
  bool result = false;
  std::optional<ErrorInfo> failure;
};

class StandInCherry {
 public:
  ReadOutcome ReadKVK(std::int32_t timeoutMs, const Settings& settings, Events& events);
  // The text property of that name, or nullptr for a name the class does not have. Empty until
  // a read has succeeded.
  const std::string* Property(std::string_view name) const;

  static constexpr int kPropertyCount = 15;
  static const char* const kPropertyNames[kPropertyCount];

 private:
  std::string values_[kPropertyCount];
};

// The fictitious card a successful read delivers, in kPropertyNames order.
extern const char* const kTestCard[StandInCherry::kPropertyCount];

}  // namespace kbdbridge
