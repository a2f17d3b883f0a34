// What the stand-in keyboard library does, shared by its Linux shared object and its Windows
// COM server. The environment of the read selects it:
//   KBDBRIDGE_SCENARIO  success (default) | false | unreadable | error7 | error-event | fail |
//                       timeout (waits, then False: the reader that never answers)
//   KBDBRIDGE_MAX_MS    bound of the "timeout" wait in ms (default 200), so that tests stay fast
//   KBDBRIDGE_RECORD    file to which each read appends the time-out it was given, one a line
//   KBDBRIDGE_TEXT      description of error 7, so that a test finds its own lines in a log
//   KBDBRIDGE_PROBE     (Windows) file to which a read appends the caller's visible windows
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <variant>

namespace kbdbridge {

std::string Env(const char* name);  // "" when unset; each platform's own

struct ErrorInfo {
  std::int32_t number = 0;
  std::string source, description;
};

// Where the reports go; a handler that raised an error back returns it.
class Events {
 public:
  virtual std::optional<ErrorInfo> CherryError(std::int32_t number, const std::string& text) = 0;
  virtual std::optional<ErrorInfo> Error(const ErrorInfo& err, const std::string& modul,
                                         const std::string& proc, const std::string& zusatz) = 0;

 protected:
  ~Events() = default;
};

// The fields' names and the card a successful read delivers: every value distinct, so that one
// copied into the wrong place shows; umlauts and ß in several, so that a broken conversion shows.
constexpr int kFieldCount = 15;
inline constexpr const char* kTestCard[kFieldCount][2] = {{"KrankenKassenName", "Testkasse Süd"},
                                                          {"VersichertenNummer", "A123456789"},
                                                          {"VKNR", "99999"},
                                                          {"VersichertenStatus", "1000"},
                                                          {"StatusErgaenzung", "4"},
                                                          {"Titel", "Dr."},
                                                          {"Vorname", "Jürgen"},
                                                          {"NamensZusatz", "von"},
                                                          {"FamilienName", "Müßiggang"},
                                                          {"Geburtsdatum", "17.03.1962"},
                                                          {"StrassenName", "Hauptstraße 12a"},
                                                          {"LaenderCode", "D"},
                                                          {"PostLeitzahl", "50667"},
                                                          {"OrtsName", "Köln"},
                                                          {"Gueltigkeit", "12/29"}};

// One read: its result (the fields filled when True), or the error the call fails with.
inline std::variant<bool, ErrorInfo> ReadKVK(std::int32_t timeoutMs, Events& events,
                                             std::string (&fields)[kFieldCount]) {
  if (const std::string record = Env("KBDBRIDGE_RECORD"); !record.empty())
    std::ofstream(record, std::ios::app) << timeoutMs << '\n';
  for (auto& f : fields) f.clear();
  const std::string scenario = Env("KBDBRIDGE_SCENARIO");
  std::optional<ErrorInfo> raised;
  if (scenario.empty() || scenario == "success") {
    for (int i = 0; i < kFieldCount; ++i) fields[i] = kTestCard[i][1];
    return true;
  } else if (scenario == "unreadable") {
    raised = events.CherryError(-42, "Karte nicht lesbar");
  } else if (scenario == "error7") {
    const std::string text = Env("KBDBRIDGE_TEXT");
    raised = events.CherryError(7, text.empty() ? "Lesefehler: Prüfsumme" : text);
  } else if (scenario == "error-event") {
    raised = events.Error({5, "KbdBridge", "Ungültiger Prozeduraufruf"}, "modKVK", "ReadTrack",
                          "Tastatur 1");
  } else if (scenario == "fail") {
    return ErrorInfo{1234, "KbdBridge.qzCherry", "Keyboard not connected"};
  } else if (scenario == "timeout") {
    // The real reader waits out the whole time-out; a bounded wait keeps the tests short.
    const std::string max = Env("KBDBRIDGE_MAX_MS");
    const int ms = std::min<int>(timeoutMs, max.empty() ? 200 : std::stoi(max));
    std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0)));
  } else if (scenario != "false") {
    return ErrorInfo{5, "KbdBridge", "Unknown KBDBRIDGE_SCENARIO: " + scenario};
  }
  if (raised) return *raised;
  return false;
}

}  // namespace kbdbridge
