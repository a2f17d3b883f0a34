// The Windows keyboard reader against the stand-in KbdBridge.dll, run under Wine.
//   kbdbridge_client_test.exe          every scenario (the stand-in must be registered)
//   kbdbridge_client_test.exe absent   creation must fail with 339 (the stand-in unregistered)
// Prints one line per failed check and exits with the number of failures.
#include <windows.h>

#include <objbase.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/keyboard_reader_win.h"

namespace {

int g_failures = 0;

#define CHECK(cond)                                               \
  do {                                                            \
    if (!(cond)) {                                                \
      std::printf("FAIL %s:%d: %s\n", __FILE__, __LINE__, #cond); \
      ++g_failures;                                               \
    }                                                             \
  } while (0)

using qz::AutomationError;
using qz::KVKField;

class RecordingEvents final : public qz::KeyboardReaderEvents {
 public:
  void CherryError(std::int32_t& lngNumber, std::string& strDescription) override {
    cherryErrors.push_back({lngNumber, strDescription});
    if (raise) raise();
  }
  void Error(AutomationError& mErr, std::string& strModul, std::string& strProc,
             std::string& strZusatz) override {
    errors.push_back({mErr, strModul, strProc, strZusatz});
    if (raise) raise();
  }
  struct CherryErrorCall {
    std::int32_t number;
    std::string description;
  };
  struct ErrorCall {
    AutomationError err;
    std::string modul, proc, zusatz;
  };
  std::vector<CherryErrorCall> cherryErrors;
  std::vector<ErrorCall> errors;
  void (*raise)() = nullptr;
};

const char* const kRecord = "kbdbridge_record.txt";

std::unique_ptr<qz::KeyboardReader> Reader(const char* scenario, RecordingEvents* events) {
  SetEnvironmentVariableA("KBDBRIDGE_SCENARIO", scenario);
  auto reader = qz::CreateWin32KeyboardReader();
  reader->SetEvents(events);
  return reader;
}

bool Read(qz::KeyboardReader& reader, std::int32_t ms = 5000) {
  std::int32_t a = 0, b = 0;
  return reader.ReadKVK(ms, a, b);
}

std::string Recorded() {
  std::ifstream in(kRecord);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void SuccessCopiesEveryFieldThroughBstr() {
  RecordingEvents ev;
  auto r = Reader("success", &ev);
  CHECK(Read(*r));
  CHECK(ev.cherryErrors.empty() && ev.errors.empty());
  CHECK(r->Field(KVKField::KrankenKassenName) == "Testkasse Süd");
  CHECK(r->Field(KVKField::VersichertenNummer) == "A123456789");
  CHECK(r->Field(KVKField::VKNR) == "99999");
  CHECK(r->Field(KVKField::VersichertenStatus) == "1000");
  CHECK(r->Field(KVKField::StatusErgaenzung) == "4");
  CHECK(r->Field(KVKField::Titel) == "Dr.");
  CHECK(r->Field(KVKField::Vorname) == "Jürgen");
  CHECK(r->Field(KVKField::NamensZusatz) == "von");
  CHECK(r->Field(KVKField::FamilienName) == "Müßiggang");
  CHECK(r->Field(KVKField::Geburtsdatum) == "17.03.1962");
  CHECK(r->Field(KVKField::StrassenName) == "Hauptstraße 12a");
  CHECK(r->Field(KVKField::LaenderCode) == "D");
  CHECK(r->Field(KVKField::PostLeitzahl) == "50667");
  CHECK(r->Field(KVKField::OrtsName) == "Köln");
  CHECK(r->Field(KVKField::Gueltigkeit) == "12/29");
}

void TimeOutRecordedAsGiven() {
  DeleteFileA(kRecord);
  RecordingEvents ev;
  auto r = Reader("false", &ev);
  CHECK(!Read(*r, 5000));
  auto second = Reader("false", &ev);
  CHECK(!Read(*second, 12000));
  CHECK(Recorded() == "5000\n12000\n");
  CHECK(ev.cherryErrors.empty() && ev.errors.empty());
}

void EventsArriveThroughTheConnectionPoint() {
  RecordingEvents ev;
  auto unreadable = Reader("unreadable", &ev);
  CHECK(!Read(*unreadable));
  auto seven = Reader("error7", &ev);
  CHECK(!Read(*seven));
  CHECK(ev.cherryErrors.size() == 2);
  if (ev.cherryErrors.size() == 2) {
    CHECK(ev.cherryErrors[0].number == -42);
    CHECK(ev.cherryErrors[1].number == 7);
    CHECK(ev.cherryErrors[1].description == "Lesefehler: Prüfsumme");
  }
  auto error = Reader("error-event", &ev);
  CHECK(!Read(*error));
  CHECK(ev.errors.size() == 1);
  if (ev.errors.size() == 1) {
    const auto& e = ev.errors[0];
    CHECK(e.err.Number() == 5);
    CHECK(e.err.Source() == "KbdBridge");
    CHECK(e.err.Description() == "Ungültiger Prozeduraufruf");
    CHECK(e.modul == "modKVK");
    CHECK(e.proc == "ReadTrack");
    CHECK(e.zusatz == "Tastatur 1");
  }
  // Without a listener the reports go nowhere and the read still ends.
  SetEnvironmentVariableA("KBDBRIDGE_SCENARIO", "error7");
  auto silent = qz::CreateWin32KeyboardReader();
  CHECK(!Read(*silent));
}

void FailingCallRaisesTheObjectsError() {
  RecordingEvents ev;
  auto r = Reader("fail", &ev);
  try {
    Read(*r);
    CHECK(!"ReadKVK returned");
  } catch (const AutomationError& e) {
    CHECK(e.Number() == 1234);
    CHECK(e.Source() == "KbdBridge.qzCherry");
    CHECK(e.Description() == "Keyboard not connected");
  }
}

void HandlerErrorsComeOutOfReadKVK() {
  RecordingEvents ev;
  ev.raise = [] {
    throw AutomationError(-2147221502, "mKeyboard_CherryError",
                          "Error is trapped in KbdBridge7 Lesefehler");
  };
  auto r = Reader("error7", &ev);
  try {
    Read(*r);
    CHECK(!"ReadKVK returned");
  } catch (const AutomationError& e) {
    CHECK(e.Number() == -2147221502);
    CHECK(e.Source() == "mKeyboard_CherryError");
    CHECK(e.Description() == "Error is trapped in KbdBridge7 Lesefehler");
  }
  ev.raise = [] { throw std::runtime_error("handler broke"); };
  auto error = Reader("error-event", &ev);
  bool thrown = false;
  try {
    Read(*error);
  } catch (const std::runtime_error&) {
    thrown = true;
  }
  CHECK(thrown);
  ev.raise = nullptr;
  auto next = Reader("success", &ev);
  CHECK(Read(*next));
}

void TimeoutTakesTheBoundedWait() {
  SetEnvironmentVariableA("KBDBRIDGE_MAX_MS", "60");
  RecordingEvents ev;
  auto r = Reader("timeout", &ev);
  const auto start = std::chrono::steady_clock::now();
  CHECK(!Read(*r, 5000));
  CHECK(std::chrono::steady_clock::now() - start >= std::chrono::milliseconds(55));
}

void AbsentRaises339() {
  try {
    qz::CreateWin32KeyboardReader();
    CHECK(!"created");
  } catch (const AutomationError& e) {
    CHECK(e.Number() == 339);
    CHECK(e.Source() == "qzCardReader");
    CHECK(e.Description() == "Component not correctly registered");
  }
}

}  // namespace

int main(int argc, char** argv) {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  SetEnvironmentVariableA("KBDBRIDGE_RECORD", kRecord);
  try {
    if (argc > 1 && std::string(argv[1]) == "absent") {
      AbsentRaises339();
    } else {
      SuccessCopiesEveryFieldThroughBstr();
      TimeOutRecordedAsGiven();
      EventsArriveThroughTheConnectionPoint();
      FailingCallRaisesTheObjectsError();
      HandlerErrorsComeOutOfReadKVK();
      TimeoutTakesTheBoundedWait();
    }
  } catch (const std::exception& e) {
    std::printf("FAIL unexpected exception: %s\n", e.what());
    ++g_failures;
  }
  DeleteFileA(kRecord);
  CoUninitialize();
  std::printf("%s: %d failure(s)\n", argc > 1 ? argv[1] : "scenarios", g_failures);
  return g_failures;
}
