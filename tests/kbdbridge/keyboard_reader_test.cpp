// The Windows keyboard reader against the stand-in keyboard library (KbdBridge.dll under Wine):
// one table of scenarios.
//   kbdbridge_client_test          every scenario (the stand-in installed)
//   kbdbridge_client_test absent   creation must fail with 339 (no usable library)
// Prints one line per failed check and exits with the number of failures.
#ifdef _WIN32
#include <windows.h>

#include <objbase.h>

#include "base/hresult_win.h"
#include "ui/keyboard_reader_win.h"
constexpr auto Create = &qz::CreateWin32KeyboardReader;
// The stand-in reads the process's environment, not the C library's copy.
void SetEnv(const char* name, const char* value) {
  SetEnvironmentVariableA(name, value);
}
#endif

#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

using qz::AutomationError;
using qz::KVKField;

int g_failures = 0;

void Expect(bool ok, const std::string& what) {
  if (ok) return;
  std::printf("FAIL %s\n", what.c_str());
  ++g_failures;
}

void ExpectEq(const std::string& got, const std::string& want, const std::string& what) {
  Expect(got == want, what + ": got '" + got + "', want '" + want + "'");
}

std::string Describe(const AutomationError& e) {
  return std::to_string(e.Number()) + "|" + e.Source() + "|" + e.Description();
}

// What the handlers do with a report: nothing connected, record it, or record it and raise an
// error back (the component's own, or a fault of the handler).
enum class Handler { kNone, kRecord, kRaise, kFault };

class RecordingEvents final : public qz::KeyboardReaderEvents {
 public:
  explicit RecordingEvents(Handler h) : handler_(h) {}
  void CherryError(std::int32_t& number, std::string& text) override {
    log += "CherryError " + std::to_string(number) + " " + text + "\n";
    Raise();
  }
  void Error(AutomationError& err, std::string& modul, std::string& proc,
             std::string& zusatz) override {
    log += "Error " + Describe(err) + " " + modul + " " + proc + " " + zusatz + "\n";
    Raise();
  }
  std::string log;

 private:
  void Raise() {
    if (handler_ == Handler::kRaise)
      throw AutomationError(-2147221502, "mKeyboard_CherryError", "Error is trapped in KbdBridge7");
    if (handler_ == Handler::kFault) throw std::runtime_error("handler broke");
  }
  Handler handler_;
};

struct Case {
  const char* scenario;
  Handler handler;
  std::int32_t timeoutMs;
  const char* outcome;  // "true", "false", or the error ReadKVK raises
  const char* reports;  // what reached the handlers
};

// In the reader's field order; VersichertenNummer and VKNR come the other way round from the
// library, so that a copy by position instead of by name shows.
const char* const kCard =
    "Testkasse Süd|99999|A123456789|1000|4|Dr.|Jürgen|von|Müßiggang|17.03.1962|"
    "Hauptstraße 12a|D|50667|Köln|12/29";
const char* const kSeven = "CherryError 7 Lesefehler: Prüfsumme\n";
const char* const kErrorReport =
    "Error 5|KbdBridge|Ungültiger Prozeduraufruf modKVK ReadTrack Tastatur 1\n";

const Case kCases[] = {
    {"success", Handler::kRecord, 5000, "true", ""},
    {"false", Handler::kRecord, 12000, "false", ""},
    {"unreadable", Handler::kRecord, 5000, "false", "CherryError -42 Karte nicht lesbar\n"},
    {"error7", Handler::kRecord, 5000, "false", kSeven},
    {"error-event", Handler::kRecord, 5000, "false", kErrorReport},
    {"error7", Handler::kNone, 5000, "false", ""},  // nobody listens: the read still ends
    {"fail", Handler::kRecord, 5000, "1234|KbdBridge.qzCherry|Keyboard not connected", ""},
    // What a handler raises comes out of ReadKVK unchanged, once the library has returned.
    {"error7", Handler::kRaise, 5000,
     "-2147221502|mKeyboard_CherryError|Error is trapped in KbdBridge7", kSeven},
    {"error-event", Handler::kFault, 5000, "handler broke", kErrorReport},
    // Nothing of a failed read is left pending for the next object.
    {"success", Handler::kRecord, 5000, "true", ""},
    // The reader that never answers gives up with False after its wait.
    {"timeout", Handler::kRecord, 5000, "false", ""},
};

const char* const kRecordFile = "kbdbridge_record.txt";

std::string Recorded() {
  std::stringstream s;
  s << std::ifstream(kRecordFile).rdbuf();
  return s.str();
}

void Run(const Case& c) {
  const std::string name = std::string(c.scenario) + "/" + std::to_string(int(c.handler));
  std::remove(kRecordFile);
  SetEnv("KBDBRIDGE_SCENARIO", c.scenario);
  RecordingEvents events(c.handler);
  auto reader = Create();
  if (c.handler != Handler::kNone) reader->SetEvents(&events);
  std::string outcome;
  std::int32_t timeout = c.timeoutMs, zero1 = 0, zero2 = 0;
  try {
    outcome = reader->ReadKVK(timeout, zero1, zero2) ? "true" : "false";
  } catch (const AutomationError& e) {
    outcome = Describe(e);
  } catch (const std::exception& e) {
    outcome = e.what();
  }
  ExpectEq(outcome, c.outcome, name + " outcome");
  ExpectEq(events.log, c.reports, name + " reports");
  ExpectEq(Recorded(), std::to_string(c.timeoutMs) + "\n", name + " time-out passed");
  if (outcome != "true") return;
  std::string fields;
  for (std::size_t f = 0; f < qz::kKVKFieldCount; ++f) {
    const auto field = static_cast<KVKField>(f);
    if (field == KVKField::KrankenKassenNummer || field == KVKField::Checksum) continue;
    if (!fields.empty()) fields += '|';
    fields += reader->Field(field);
  }
  ExpectEq(fields, kCard, name + " fields");
}

void CreationRaises339() {
  try {
    Create();
    Expect(false, "created without a usable library");
  } catch (const AutomationError& e) {
    ExpectEq(Describe(e), "339|qzCardReader|Component not correctly registered", "creation");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const bool absent = argc > 1 && std::string(argv[1]) == "absent";
#ifdef _WIN32
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  // Errors the reader hands back through COM: none may turn into a success code.
  Expect(FAILED(qz::win::HResultOf(0)) && FAILED(qz::win::HResultOf(0x12345)),
         "error 0 and numbers above 0xFFFF map to failure HRESULTs");
#endif
  try {
    if (absent) {
      CreationRaises339();
    } else {
      SetEnv("KBDBRIDGE_RECORD", kRecordFile);
      SetEnv("KBDBRIDGE_MAX_MS", "60");
      for (const Case& c : kCases) Run(c);
      std::remove(kRecordFile);
    }
  } catch (const std::exception& e) {
    Expect(false, std::string("unexpected exception: ") + e.what());
  }
  std::printf("%s: %d failure(s)\n", absent ? "absent" : "scenarios", g_failures);
  return g_failures;
}
