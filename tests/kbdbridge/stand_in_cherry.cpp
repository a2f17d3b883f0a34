#include "stand_in_cherry.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <thread>

namespace kbdbridge {

const char* const StandInCherry::kPropertyNames[kPropertyCount] = {"KrankenKassenName",
                                                                   "VersichertenNummer",
                                                                   "VKNR",
                                                                   "VersichertenStatus",
                                                                   "StatusErgaenzung",
                                                                   "Titel",
                                                                   "Vorname",
                                                                   "NamensZusatz",
                                                                   "FamilienName",
                                                                   "Geburtsdatum",
                                                                   "StrassenName",
                                                                   "LaenderCode",
                                                                   "PostLeitzahl",
                                                                   "OrtsName",
                                                                   "Gueltigkeit"};

// Every field distinct, so that a field copied into the wrong place shows; umlauts and ß in
// several, so that a broken conversion shows.
const char* const kTestCard[StandInCherry::kPropertyCount] = {
    "Testkasse Süd", "A123456789", "99999",           "1000", "4",     "Dr.",  "Jürgen", "von",
    "Müßiggang",     "17.03.1962", "Hauptstraße 12a", "D",    "50667", "Köln", "12/29"};

Settings ReadSettings(std::optional<std::string> scenario, std::optional<std::string> maxMs,
                      std::optional<std::string> recordPath, std::optional<std::string> text) {
  Settings s;
  s.scenario = scenario.value_or("success");
  if (s.scenario.empty()) s.scenario = "success";
  if (maxMs && !maxMs->empty()) {
    try {
      s.maxMs = std::stoi(*maxMs);
    } catch (...) {
      // A bad bound falls back to the default rather than making a test wait long.
    }
  }
  s.recordPath = recordPath.value_or("");
  if (text && !text->empty()) s.text = *text;
  return s;
}

namespace {

void Record(const Settings& settings, std::int32_t timeoutMs) {
  if (settings.recordPath.empty()) return;
  std::ofstream out(settings.recordPath, std::ios::app);
  out << timeoutMs << '\n';
}

ReadOutcome Failed(ErrorInfo e) {
  return ReadOutcome{false, std::move(e)};
}

}  // namespace

ReadOutcome StandInCherry::ReadKVK(std::int32_t timeoutMs, const Settings& settings,
                                   Events& events) {
  Record(settings, timeoutMs);
  for (auto& v : values_) v.clear();
  const std::string& sc = settings.scenario;

  if (sc == "success") {
    for (int i = 0; i < kPropertyCount; ++i) values_[i] = kTestCard[i];
    return ReadOutcome{true, std::nullopt};
  }
  if (sc == "false") return ReadOutcome{false, std::nullopt};
  if (sc == "unreadable" || sc == "error7") {
    const bool unreadable = sc == "unreadable";
    auto raised =
        events.CherryError(unreadable ? -42 : 7, unreadable ? "Karte nicht lesbar" : settings.text);
    if (raised) return Failed(*raised);
    return ReadOutcome{false, std::nullopt};
  }
  if (sc == "error-event") {
    ErrorInfo err{5, "KbdBridge", "Ungültiger Prozeduraufruf"};
    auto raised = events.Error(err, "modKVK", "ReadTrack", "Tastatur 1");
    if (raised) return Failed(*raised);
    return ReadOutcome{false, std::nullopt};
  }
  if (sc == "fail") {
    return Failed(ErrorInfo{1234, "KbdBridge.qzCherry", "Keyboard not connected"});
  }
  if (sc == "timeout") {
    // The real reader waits the whole time-out for a card; here the wait is bounded so that a
    // test run stays short.
    const std::int32_t ms = std::max<std::int32_t>(0, std::min(timeoutMs, settings.maxMs));
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return ReadOutcome{false, std::nullopt};
  }
  return Failed(ErrorInfo{5, "KbdBridge", "Unknown KBDBRIDGE_SCENARIO: " + sc});
}

const std::string* StandInCherry::Property(std::string_view name) const {
  for (int i = 0; i < kPropertyCount; ++i) {
    if (name == kPropertyNames[i]) return &values_[i];
  }
  return nullptr;
}

}  // namespace kbdbridge
