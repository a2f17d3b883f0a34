// The Linux keyboard reader against the stand-in libkbdbridge.so, one scenario at a time.
#include "ui/keyboard_reader_posix.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qz {
namespace {

// Records what the reader reports and, when told to, raises an error back from a handler.
class RecordingEvents final : public KeyboardReaderEvents {
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

class Scenario : public ::testing::Test {
 protected:
  void SetUp() override {
    record_ = ::testing::TempDir() + "kbdbridge_record_" +
              ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt";
    std::remove(record_.c_str());
    setenv("KBDBRIDGE_RECORD", record_.c_str(), 1);
    setenv("KBDBRIDGE_MAX_MS", "60", 1);
  }
  void TearDown() override {
    unsetenv("KBDBRIDGE_SCENARIO");
    std::remove(record_.c_str());
  }

  // A new reader with the events connected, as the reader window uses it.
  std::unique_ptr<KeyboardReader> Reader(const char* scenario) {
    setenv("KBDBRIDGE_SCENARIO", scenario, 1);
    auto reader = CreatePosixKeyboardReader();
    reader->SetEvents(&events_);
    return reader;
  }

  bool Read(KeyboardReader& reader, std::int32_t ms = 5000) {
    std::int32_t a = 0, b = 0;
    return reader.ReadKVK(ms, a, b);
  }

  std::string Recorded() const {
    std::ifstream in(record_);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  RecordingEvents events_;
  std::string record_;
};

TEST_F(Scenario, SuccessDeliversEveryFieldUnderItsOwnName) {
  auto reader = Reader("success");
  ASSERT_TRUE(Read(*reader));
  EXPECT_TRUE(events_.cherryErrors.empty());
  EXPECT_TRUE(events_.errors.empty());
  const std::pair<KVKField, const char*> expected[] = {
      {KVKField::KrankenKassenName, "Testkasse Süd"},
      {KVKField::VersichertenNummer, "A123456789"},
      {KVKField::VKNR, "99999"},
      {KVKField::VersichertenStatus, "1000"},
      {KVKField::StatusErgaenzung, "4"},
      {KVKField::Titel, "Dr."},
      {KVKField::Vorname, "Jürgen"},
      {KVKField::NamensZusatz, "von"},
      {KVKField::FamilienName, "Müßiggang"},
      {KVKField::Geburtsdatum, "17.03.1962"},
      {KVKField::StrassenName, "Hauptstraße 12a"},
      {KVKField::LaenderCode, "D"},
      {KVKField::PostLeitzahl, "50667"},
      {KVKField::OrtsName, "Köln"},
      {KVKField::Gueltigkeit, "12/29"},
  };
  for (const auto& [field, value] : expected) {
    EXPECT_EQ(reader->Field(field), value) << kKVKFieldNames[static_cast<std::size_t>(field)];
  }
}

TEST_F(Scenario, TimeOutIsPassedAsGivenAndRecordedOncePerRead) {
  auto reader = Reader("false");
  EXPECT_FALSE(Read(*reader, 5000));
  auto second = Reader("success");
  EXPECT_TRUE(Read(*second, 12000));
  EXPECT_EQ(Recorded(), "5000\n12000\n");
}

TEST_F(Scenario, FalseWithoutReportsLeavesFieldsEmpty) {
  auto reader = Reader("false");
  EXPECT_FALSE(Read(*reader));
  EXPECT_TRUE(events_.cherryErrors.empty());
  EXPECT_TRUE(events_.errors.empty());
  EXPECT_EQ(reader->Field(KVKField::FamilienName), "");
}

TEST_F(Scenario, CherryErrorsReachTheHandlerWithNumberAndText) {
  auto unreadable = Reader("unreadable");
  EXPECT_FALSE(Read(*unreadable));
  auto seven = Reader("error7");
  EXPECT_FALSE(Read(*seven));
  ASSERT_EQ(events_.cherryErrors.size(), 2u);
  EXPECT_EQ(events_.cherryErrors[0].number, -42);
  EXPECT_EQ(events_.cherryErrors[1].number, 7);
  EXPECT_EQ(events_.cherryErrors[1].description, "Lesefehler: Prüfsumme");
  EXPECT_TRUE(events_.errors.empty());
}

TEST_F(Scenario, ErrorReportCarriesErrorObjectAndPlace) {
  auto reader = Reader("error-event");
  EXPECT_FALSE(Read(*reader));
  ASSERT_EQ(events_.errors.size(), 1u);
  const auto& e = events_.errors[0];
  EXPECT_EQ(e.err.Number(), 5);
  EXPECT_EQ(e.err.Source(), "KbdBridge");
  EXPECT_EQ(e.err.Description(), "Ungültiger Prozeduraufruf");
  EXPECT_EQ(e.modul, "modKVK");
  EXPECT_EQ(e.proc, "ReadTrack");
  EXPECT_EQ(e.zusatz, "Tastatur 1");
}

TEST_F(Scenario, ReportsWithoutHandlersAreDropped) {
  setenv("KBDBRIDGE_SCENARIO", "error7", 1);
  auto reader = CreatePosixKeyboardReader();
  EXPECT_FALSE(Read(*reader));
}

TEST_F(Scenario, FailingCallRaisesTheLibrarysError) {
  auto reader = Reader("fail");
  try {
    Read(*reader);
    FAIL() << "ReadKVK returned";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Number(), 1234);
    EXPECT_EQ(e.Source(), "KbdBridge.qzCherry");
    EXPECT_EQ(e.Description(), "Keyboard not connected");
  }
}

// What the owner raises back from a handler must come out of ReadKVK unchanged, after the
// library has returned (never through its frames).
TEST_F(Scenario, ErrorRaisedByHandlerComesOutOfReadKVK) {
  events_.raise = [] {
    throw AutomationError(-2147221502, "mKeyboard_CherryError",
                          "Error is trapped in KbdBridge7 Lesefehler");
  };
  auto cherry = Reader("error7");
  try {
    Read(*cherry);
    FAIL() << "ReadKVK returned";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Number(), -2147221502);
    EXPECT_EQ(e.Source(), "mKeyboard_CherryError");
    EXPECT_EQ(e.Description(), "Error is trapped in KbdBridge7 Lesefehler");
  }

  events_.raise = [] { throw std::runtime_error("handler broke"); };
  auto error = Reader("error-event");
  EXPECT_THROW(Read(*error), std::runtime_error);
  ASSERT_EQ(events_.errors.size(), 1u);

  // A failed read leaves nothing pending: the next one on a new object is unaffected.
  events_.raise = nullptr;
  auto next = Reader("success");
  EXPECT_TRUE(Read(*next));
}

TEST_F(Scenario, TimeoutTakesTheBoundedWaitAndReturnsFalse) {
  auto reader = Reader("timeout");
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Read(*reader, 5000));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(Recorded(), "5000\n");
}

TEST_F(Scenario, UnknownScenarioFailsLoudly) {
  auto reader = Reader("no-such-scenario");
  EXPECT_THROW(Read(*reader), AutomationError);
}

// Run with a library path that has no usable libkbdbridge.so (none, or one lacking functions).
TEST(NotInstalled, CreationRaises339) {
  try {
    CreatePosixKeyboardReader();
    FAIL() << "created";
  } catch (const AutomationError& e) {
    EXPECT_EQ(e.Number(), 339);
    EXPECT_EQ(e.Source(), "qzCardReader");
    EXPECT_EQ(e.Description(), "Component not correctly registered");
  }
}

}  // namespace
}  // namespace qz
