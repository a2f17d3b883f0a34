// clsApplication on the fake platform: serial reads and the port search against ctsim's
// terminal, keyboard reads against the scripted keyboard reader. Each read looks at what was
// written, the texts shown, the result, the record, the errors raised and logged, and that the
// port was closed and the window taken down.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/cls_application.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/sim_terminal.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

// A card file of tests/data, as READ BINARY returns it without SW1 SW2.
t1::Bytes Card(const char* file) {
  std::ifstream in(std::string(QZ_TEST_DATA_DIR) + "/" + file, std::ios::binary);
  return t1::Bytes{std::istreambuf_iterator<char>(in), {}};
}
const t1::Bytes kTaggedCard = Card("card_tagged.bin");
constexpr char kTagged[] = "Weißmüller";  // its FamilienName
constexpr char kCardInserted[] = "Karte eingeführt.";

// Runs `call`, which must raise; returns the error.
template <class Call>
AutomationError Raised(Call call) {
  try {
    call();
  } catch (const AutomationError& err) {
    return err;
  }
  ADD_FAILURE() << "nothing raised";
  return AutomationError(0, "", "");
}

bool Empty(const clsKVKData& record) {
  for (std::size_t f = 0; f < kKVKFieldCount; ++f)
    if (!record.Get(KVKField(f)).empty()) return false;
  return true;
}

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() { app->CommPort(1); }
  void Attach(const std::string& scenario, const std::string& fault = "",
              std::chrono::milliseconds delay = {}, std::int16_t port = 1) {
    AttachTerminal(platform.bus, port, scenario, fault, kTaggedCard, delay);
  }
  // The commands written to a port, one letter each: S RESYNCH, R RESET CT, Q REQUEST ICC,
  // F SELECT FILE, B READ BINARY, E EJECT ICC; lower case for a block written once more.
  std::string Letters(std::int16_t port = 1) {
    std::string out;
    const auto& written = platform.bus.lines[port].written;
    for (std::size_t i = 0; i < written.size(); ++i) {
      const auto& b = written[i];
      const char ins = b[1] == 0xC0 ? 'S' : b[4] == 0x11 ? 'R' : b[4] == 0x12 ? 'Q' : '?';
      const char c = b[4] == 0xA4 ? 'F' : b[4] == 0xB0 ? 'B' : b[4] == 0x15 ? 'E' : ins;
      out += i > 0 && c != 'S' && b == written[i - 1] ? char(c + 'a' - 'A') : c;
    }
    platform.bus.lines[port].written.clear();
    return out;
  }
  // What every call leaves behind, however it ended.
  void ExpectClosed() {
    EXPECT_EQ(platform.bus.open_count, 0) << "a port was left open";
    const bool shown = !platform.views.empty() && platform.LastView().shown_modal;
    EXPECT_TRUE(!shown || platform.LastView().destroyed) << "a window was left on the screen";
  }

  FakePlatform platform;
  std::unique_ptr<clsApplication> app = std::make_unique<clsApplication>(platform);
};

// The window announces each command but RESET CT as it is sent.
Texts Announced(const std::string& sent) {
  Texts texts;
  for (char c : sent) {
    if (c == 'S') texts.push_back("Resync...");
    if (c == 'Q') texts.push_back("Bitte Karte einführen...");
    if (c == 'F') texts.push_back(kCardInserted);
    if (c == 'B') texts.push_back("Karte wird gelesen...");
    if (c == 'E') texts.push_back("Karte entnehmen...");
  }
  return texts;
}

struct ReadCase {
  const char* scenario;
  const char* fault;
  std::optional<std::int16_t> waiting_time;  // none: the default
  const char* sent;
  enmReturnValue result;
  const char* family;                  // FamilienName of the record handed over; null: no record
  std::chrono::milliseconds delay{0};  // the terminal's answer delay
  std::chrono::milliseconds cancel_at{0};  // "Abbruch" pressed then
  std::chrono::milliseconds ends_at{0};    // when checked: the clock when ReadCard returns
};

// clang-format off
const ReadCase kReads[] = {
  {"tagged",            "", {}, "SRQFBE", RV_ReadSuccessful, kTagged},
  {"eject-icc=9000",    "", {}, "SRQFBE", RV_ReadSuccessful, kTagged},
  {"eject-icc=6200",    "", {}, "SRQFBE", RV_ReadSuccessful, kTagged},
  {"eject-error",       "", {}, "SRQFBE", RV_Error, kTagged},
  {"no-card",           "", {}, "SRQQQQQ", RV_NoCardInserted, ""},
  {"no-card",           "", 1, "SRQ", RV_NoCardInserted, ""},
  {"no-card",           "", 0, "SRQ", RV_NoCardInserted, ""},
  {"no-card",           "", INT16_MIN, "SRQ", RV_NoCardInserted, ""},
  {"card-after-2",      "", 3, "SRQQQFBE", RV_ReadSuccessful, kTagged},
  {"wrong-card",        "", {}, "SRQ", RV_WrongCard, ""},
  {"request-icc=9001",  "", {}, "SRQ", RV_Error, ""},
  {"request-icc=6283",  "", {}, "SRQ", RV_Error, ""},
  {"no-application",    "", {}, "SRQF", RV_WrongCard, ""},
  {"select-file=6283",  "", {}, "SRQF", RV_WrongCard, ""},
  {"card-removed",      "", {}, "SRQFB", RV_CardRemovedDuringReading, ""},
  {"read-binary=6502",  "", {}, "SRQFB", RV_CardRemovedDuringReading, ""},
  {"read-binary=6B00",  "", {}, "SRQFB", RV_Error, ""},
  {"reset-ct=6400",     "", {}, "SR", RV_Error, ""},
  {"reset-ct=90",       "", {}, "SR", RV_Error, ""},  // no status word
  // The general errors end any step with RV_Error.
  {"reset-ct=6700",     "", {}, "SR", RV_Error, ""},
  {"request-icc=6900",  "", {}, "SRQ", RV_Error, ""},
  {"select-file=6A00",  "", {}, "SRQF", RV_Error, ""},
  {"read-binary=6D00",  "", {}, "SRQFB", RV_Error, ""},
  {"eject-icc=6E00",    "", {}, "SRQFBE", RV_Error, kTagged},
  {"silent",            "", {}, "S", RV_NoReaderResponding, nullptr, 0ms, 0ms, 800ms},
  {"tagged",            "cut:2", {}, "SRQ", RV_UserCanceled, nullptr, 0ms, 5s, 5s},
  // Confirmed at 300 ms: the RESYNC expiry at 800 ms passes in the middle of the read.
  {"tagged",            "", {}, "SRQFBE", RV_ReadSuccessful, kTagged, 300ms},
  {"tagged",            "wrong-seq-once:1", {}, "SRrQFBE", RV_ReadSuccessful, kTagged},
  {"tagged",            "wrong-seq-twice:3", {}, "SRQFf", RV_UserCanceled, nullptr, 0ms, 5s},
  // A second confirmation starts the chain again from the reset; the answers then lag one
  // command behind, and the eject's "9000" is the card file's status.
  {"tagged",            "duplicate:0", {}, "SRRQFBE", RV_ReadSuccessful, "", 150ms},
};
// clang-format on

class ReadTest : public ApplicationTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, EndsAsTheTerminalAnswers) {
  const ReadCase& c = GetParam();
  Attach(c.scenario, c.fault, c.delay);
  if (c.waiting_time) app->WaitingTime(*c.waiting_time);
  if (c.cancel_at > 0ms)
    platform.loop.AddTimer(c.cancel_at, [&] { platform.LastView().PressCancel(); });

  EXPECT_EQ(app->ReadCard(CRT_CommPort), c.result);
  EXPECT_EQ(platform.LastView().messages, Announced(c.sent));
  EXPECT_EQ(Letters(), c.sent);
  if (c.family == nullptr) {
    EXPECT_EQ(app->KVKData(), nullptr);
  } else {
    ASSERT_NE(app->KVKData(), nullptr);
    EXPECT_EQ(app->KVKData()->Get(KVKField::FamilienName), c.family);
  }
  EXPECT_TRUE(c.ends_at == 0ms || platform.loop.Now() == c.ends_at) << platform.loop.Now().count();
  EXPECT_TRUE(platform.log_lines.empty());
  ExpectClosed();
}

INSTANTIATE_TEST_SUITE_P(Terminal, ReadTest, ::testing::ValuesIn(kReads),
                         [](const auto& info) { return std::to_string(info.index); });

TEST_F(ApplicationTest, ReadsInARowEachStartAfresh) {
  Attach("silent");
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_NoReaderResponding);
  // A new link, so N(S) starts at 0 again, and the no-card count starts at 0.
  Attach("card-after-2");
  app->WaitingTime(3);
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  const auto first = app->KVKData();
  Attach("no-card");
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_NoCardInserted);
  EXPECT_EQ(Letters(), "SSRQQQFBESRQQQ");
  EXPECT_EQ(first->Get(KVKField::FamilienName), kTagged) << "the host's record stays valid";
  EXPECT_EQ(platform.LastView().titles, Texts{"KVK Kartenlesegerät an Port 1"});
  // Reader types other than the two: nothing is read.
  for (std::int32_t type : {0, 3, -1}) {
    EXPECT_EQ(app->ReadCard(type), RV_Error);
    ASSERT_NE(app->KVKData(), nullptr);
    EXPECT_TRUE(Empty(*app->KVKData()));
  }
  EXPECT_EQ(Letters(), "");
}

TEST_F(ApplicationTest, CallsFromInsideTheWaitAreRefused) {
  Attach("tagged");
  std::vector<std::int32_t> nested;
  platform.on_message = [&](FakeViewRecord&, const std::string& text) {
    if (text != kCardInserted) return;
    nested.push_back(app->ReadCard(CRT_CommPort));
    nested.push_back(app->ReadCard(CRT_Tastatur));
    nested.push_back(app->GetCardPort());
  };
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(nested, (std::vector<std::int32_t>{RV_Error, RV_Error, 0}));
  EXPECT_EQ(Letters(), "SRQFBE");
  EXPECT_EQ(platform.views.size(), 2u) << "no window for the refused calls";
}

TEST_F(ApplicationTest, PortErrorsAreRaisedAndLoggedOnce) {
  struct Case {
    std::int16_t port;
    std::int32_t number;
    const char* source;
    const char* description;
  };
  platform.bus.lines[3].open_error = kErrPortNotAvailable;
  platform.bus.lines[4].open_error = kErrComponentNotRegistered;  // only a keyboard read maps it
  for (const Case& c :
       {Case{0, ERR_NoPortSet, "ClsApplication", "No CommPort is set"},
        Case{-1, ERR_NoPortSet, "ClsApplication", "No CommPort is set"},
        Case{3, kErrPortNotAvailable, kSerialErrorSource, "Port not available"},
        Case{4, 339, kSerialErrorSource, "Port not available"},
        Case{9, kErrInvalidPortNumber, kSerialErrorSource, "Invalid port number"}}) {
    SCOPED_TRACE(c.port);
    platform.log_lines.clear();
    app->CommPort(c.port);
    const AutomationError err = Raised([&] { app->ReadCard(CRT_CommPort); });
    EXPECT_EQ(err.Number(), c.number);
    EXPECT_EQ(err.Source(), c.source);
    EXPECT_EQ(err.Description(), c.description);
    EXPECT_EQ(platform.log_lines,
              Texts{"06.12.2026\t03:15:02\tModule : ClsApplication\tMethod : ReadCard\tComment : "
                    "None\tErrNo : " +
                    std::to_string(c.number) + "\tErrDesc. : " + c.description +
                    "\tErrSource : " + c.source + "\r\n"});
    EXPECT_FALSE(platform.LastView().shown_modal);
    ExpectClosed();
  }
}

// A write fails with the port open: the host gets that error, or the log's own failure when
// the log cannot be written, and either way the closing steps have run.
TEST_F(ApplicationTest, WriteFailureDuringTheReadRunsTheClosingSteps) {
  Attach("tagged");
  const auto terminal = platform.bus.lines[1].terminal;
  for (bool log_fails : {false, true}) {
    SCOPED_TRACE(log_fails);
    platform.log_fails = log_fails;
    platform.log_lines.clear();
    platform.bus.lines[1].terminal = [&](FakeSerialPort& p, std::span<const std::uint8_t> w) {
      if (w[4] == 0xA4) throw AutomationError(kErrPortNotAvailable, kSerialErrorSource, "Lost");
      terminal(p, w);
    };
    const AutomationError err = Raised([&] { app->ReadCard(CRT_CommPort); });
    EXPECT_EQ(err.Number(), log_fails ? 75 : kErrPortNotAvailable);
    EXPECT_EQ(platform.log_lines.size(), log_fails ? 0u : 1u);
    ExpectClosed();
    platform.bus.lines[1].terminal = terminal;
    EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  }
}

// GetCardPort listens 300 ms on each port that opens, waiting in the loop meanwhile.
TEST_F(ApplicationTest, PortSearchFindsTheSecondPortAfterTwoListeningPeriods) {
  Attach("silent");
  Attach("tagged", "", 0ms, 2);
  platform.bus.lines[3];
  app->CommPort(7);
  const auto record = app->KVKData();
  std::vector<std::int32_t> nested;
  platform.loop.AddTimer(150ms, [&] {
    nested.push_back(app->GetCardPort());
    nested.push_back(app->ReadCard(CRT_CommPort));
  });
  EXPECT_EQ(app->GetCardPort(), 2);
  EXPECT_EQ(platform.loop.Now(), 600ms) << "300 ms per port, also when answered";
  EXPECT_EQ(nested, (std::vector<std::int32_t>{0, RV_Error}));
  EXPECT_EQ(Letters(1) + Letters(2), "SS") << "the search only listens after the RESYNCH";
  EXPECT_EQ(platform.bus.lines[3].opens, 0);
  EXPECT_EQ(app->CommPort(), 7);
  EXPECT_EQ(app->KVKData(), record);
  ExpectClosed();
}

TEST_F(ApplicationTest, PortSearchSkipsPortsThatFailToOpenAndEndsAtTheLastPort) {
  platform.bus.lines[1].open_error = kErrPortNotAvailable;
  platform.bus.lines[2].open_error = kErrCannotSetLine;
  Attach("tagged", "", 0ms, 3);
  EXPECT_EQ(app->GetCardPort(), 3);
  Attach("silent", "", 0ms, 3);
  EXPECT_EQ(app->GetCardPort(), -1) << "COM4 does not exist";
  EXPECT_EQ(platform.loop.Now(), 600ms) << "only COM3 was listened to, twice";
  ExpectClosed();
}

TEST_F(ApplicationTest, KeyboardReadCopiesFifteenFieldsAsDelivered) {
  for (std::size_t f = 0; f < kKVKFieldCount; ++f)
    platform.keyboard.fields[KVKField(f)] = " " + std::string(kKVKFieldNames[f]) + "{";
  // An unreadable card reported on the way does not spoil a read that succeeds.
  platform.keyboard.cherry_errors = {{-42, "Karte nicht lesbar"}};
  app->WaitingTime(12);
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_ReadSuccessful);
  ASSERT_NE(app->KVKData(), nullptr);
  for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
    const bool absent =
        KVKField(f) == KVKField::KrankenKassenNummer || KVKField(f) == KVKField::Checksum;
    EXPECT_EQ(app->KVKData()->Get(KVKField(f)),
              absent ? "" : " " + std::string(kKVKFieldNames[f]) + "{");
  }
  const FakeViewRecord& view = platform.LastView();
  EXPECT_EQ(view.titles, Texts{"KVK Kartenlesegerät an Tastatur"});
  EXPECT_EQ(view.messages, Texts{"Bitte warten, bis Karte eingelesen wurde"});
  EXPECT_EQ(view.cancel_states, std::vector<bool>{false}) << "a keyboard read cannot be cancelled";
  EXPECT_EQ(platform.keyboard_timeouts, std::vector<std::int32_t>{12000});
  EXPECT_EQ(platform.keyboards_alive, 0);
  EXPECT_TRUE(platform.log_lines.empty());
  ExpectClosed();
}

// Reads that end with an empty record and no error, one after another on one object.
TEST_F(ApplicationTest, KeyboardReadWithoutRecord) {
  auto read = [&](enmReturnValue expected) {
    EXPECT_EQ(app->ReadCard(CRT_Tastatur), expected);
    ASSERT_NE(app->KVKData(), nullptr);
    EXPECT_TRUE(Empty(*app->KVKData()));
    EXPECT_TRUE(platform.log_lines.empty());
    ExpectClosed();
  };
  platform.keyboard.result = false;
  platform.keyboard.cherry_errors = {{-42, "Karte nicht lesbar"}};
  read(RV_NoCardInserted);
  platform.keyboard.cherry_errors.clear();
  read(RV_Error);  // the unreadable card belonged to the read before
  platform.keyboard.result = true;
  platform.on_show = [](FakeViewRecord& v) { v.RequestClose(UnloadMode::kUserClose); };
  read(RV_Error);
  EXPECT_EQ(platform.keyboards_created, 2) << "none once the window had gone";
  EXPECT_EQ(platform.loop.PendingTimers(), 0u);
}

// Reports of the keyboard reader and failures around it: logged where they happened, then
// raised to the host. A report of the reader is logged twice on purpose: by its handler, and
// by ReadCard, which the handler's error ends.
TEST_F(ApplicationTest, KeyboardErrorsAreLoggedThenRaised) {
  struct Case {
    std::function<void()> script;
    std::int32_t number;
    const char* source;
    const char* description;
    std::size_t lines;
    const char* first_line;  // from "Method" on
  };
  const Case cases[] = {
      {[&] {
         platform.keyboard.cherry_errors = {{7, "X"}};
       },
       ERR_InCherry, "mKeyboard_CherryError", "Error is trapped in KbdBridge7 X", 2,
       "Method : mKeyboard_CherryError\tComment : None\tErrNo : 7\tErrDesc. : XNo:7"
       "\tErrSource : CherryError\r\n"},
      {[&] { platform.keyboard.report_error = true; }, ERR_InCherry, "mKeyboard_Error",
       "Error is trapped in KbdBridge", 2,
       "Method : ReadKVK\tComment : Module: clsReader\tErrNo : 1004\tErrDesc. : Reader jammed"
       "\tErrSource : KbdBridge\r\n"},
      // The log keeps the original 339; the host gets the missing driver.
      {[&] { platform.keyboard_installed = false; }, ERR_NoCherryDriver, "ReadCard",
       "No Cherry Driver installed", 1, "Method : ReadCard\tComment : None\tErrNo : 339\t"},
      {[&] { platform.keyboard.fail_number = 1005; }, 1005, "KbdBridge", "ReadKVK failed", 1,
       "Method : ReadCard\tComment : None\tErrNo : 1005\t"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    platform.keyboard = {};
    platform.keyboard_installed = true;
    platform.log_lines.clear();
    c.script();
    const AutomationError err = Raised([&] { app->ReadCard(CRT_Tastatur); });
    EXPECT_EQ(err.Number(), c.number);
    EXPECT_EQ(err.Source(), c.source);
    EXPECT_EQ(err.Description(), c.description);
    ASSERT_EQ(platform.log_lines.size(), c.lines);
    EXPECT_NE(platform.log_lines.front().find("\t" + std::string(c.first_line)), std::string::npos)
        << platform.log_lines.front();
    EXPECT_NE(platform.log_lines.back().find("\tMethod : ReadCard\tComment : None\t"),
              std::string::npos);
    ASSERT_NE(app->KVKData(), nullptr);
    EXPECT_TRUE(Empty(*app->KVKData()));
    EXPECT_EQ(platform.keyboards_alive, 0);
    ExpectClosed();
  }
  platform.keyboard = {};
  platform.keyboard.result = false;
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_Error) << "the last read's error is forgotten";
}

}  // namespace
}  // namespace qz::testing
