// clsApplication on the fake platform: serial reads and the port search against ctsim's
// terminal, keyboard reads against the scripted keyboard reader. Each read looks at what was
// written, the texts shown, the result, the record, the errors raised and logged, and that the
// port was closed and the window taken down.
#include <gtest/gtest.h>

#include <exception>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/cls_application.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/test_support.h"
#include "tools/ctsim/terminal.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;
using Texts = std::vector<std::string>;

constexpr char kTagged[] = "Weißmüller";  // FamilienName on card_tagged.bin
constexpr char kCardInserted[] = "Karte eingeführt.";

// Each command: its letter in Letters(), its block as written with N(S) 0 (NAD PCB LEN command
// EDC), and the text the window shows as it is sent.
struct Command {
  char letter;
  const char* block;
  const char* text;
};
const Command kCommands[] = {
    {'S', "12 C0 00 D2", "Resync..."},                                     // RESYNCH
    {'R', "12 00 05 20 11 00 00 00 26", nullptr},                          // RESET CT
    {'Q', "12 00 06 20 12 01 00 01 01 27", "Bitte Karte einführen..."},    // REQUEST ICC
    {'F', "02 00 0B 00 A4 04 00 06 D2 76 00 00 01 01 0B", kCardInserted},  // SELECT FILE
    {'B', "02 00 05 00 B0 00 00 00 B7", "Karte wird gelesen..."},          // READ BINARY
    {'E', "12 00 06 20 15 01 01 01 01 21", "Karte entnehmen..."},          // EJECT ICC
};

Texts Announced(const std::string& sent) {
  Texts texts;
  for (char c : sent)
    for (const Command& k : kCommands)
      if (k.letter == c && k.text != nullptr) texts.push_back(k.text);
  return texts;
}

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() { app->CommPort(1); }
  // ctsim's terminal on a port: its answers arrive in the chunks it gives, after their delays on
  // the fake clock, while that port is open.
  void Attach(const std::string& scenario, const std::string& fault = "",
              std::chrono::milliseconds delay = {}, std::int16_t port = 1) {
    const std::string card = DataFile("card_tagged.bin");
    ctsim::TerminalConfig config{
        *ctsim::ParseScenario(scenario), {card.begin(), card.end()}, delay};
    if (!fault.empty()) config.fault = *ctsim::ParseFault(fault);
    auto terminal = std::make_shared<ctsim::Terminal>(std::move(config));
    FakeLine& line = platform.bus[port];
    line.terminal = [this, &line, terminal](auto written) {
      std::chrono::milliseconds at{0};
      for (ctsim::Chunk& c : terminal->Receive(written, platform.loop.Now())) {
        platform.loop.AddTimer(at += c.delay, [&line, bytes = std::move(c.bytes)] {
          if (line.port != nullptr) line.port->Deliver(bytes);
        });
      }
    };
  }
  // The blocks written to a port since the last call, as the letters of their commands ('?'
  // for any other block), lower case when written again.
  std::string Letters(std::int16_t port = 1) {
    std::string out;
    auto& written = platform.bus[port].written;
    for (std::size_t i = 0; i < written.size(); ++i) {
      t1::Bytes b = written[i];
      if (b.size() > 1 && b[1] == 0x40) {  // N(S) 1: its PCB bit is in the EDC too
        b[1] = 0;
        b.back() ^= 0x40;
      }
      char c = '?';
      for (const Command& k : kCommands)
        if (H(k.block) == b) c = k.letter;
      out += i > 0 && c != 'S' && written[i] == written[i - 1] ? char(c + 'a' - 'A') : c;
    }
    written.clear();
    return out;
  }
  // What every call leaves behind, however it ended.
  void ExpectClosed() {
    for (const auto& [number, line] : platform.bus) EXPECT_EQ(line.port, nullptr) << number;
    const bool shown = !platform.views.empty() && platform.LastView().shown_modal;
    EXPECT_TRUE(!shown || platform.LastView().destroyed) << "a window was left on the screen";
  }
  std::string Record() { return app->KVKData() ? Filled(*app->KVKData()) : "none"; }

  FakePlatform platform;
  std::unique_ptr<clsApplication> app = std::make_unique<clsApplication>(platform);
};

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
  {"read-binary=6282",  "", {}, "SRQFBE", RV_ReadSuccessful, kTagged},
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
  EXPECT_EQ(app->KVKData() ? app->KVKData()->Get(KVKField::FamilienName) : "none",
            c.family ? c.family : "none");
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
  ASSERT_NE(first, nullptr);
  Attach("no-card");
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_NoCardInserted);
  EXPECT_EQ(Letters(), "SSRQQQFBESRQQQ");
  EXPECT_EQ(first->Get(KVKField::FamilienName), kTagged) << "the host's record stays valid";
  EXPECT_EQ(platform.LastView().titles, Texts{"KVK Kartenlesegerät an Port 1"});
  for (std::int32_t type : {0, 3, -1}) {  // other reader types: nothing is read
    EXPECT_EQ(app->ReadCard(type), RV_Error);
    EXPECT_EQ(Record(), "");
  }
  EXPECT_EQ(Letters(), "");
}

TEST_F(ApplicationTest, CallsFromInsideTheWaitAreRefused) {
  Attach("tagged", "", 100ms);  // an answer every 100 ms: the wait is long
  std::vector<std::int32_t> nested;
  platform.loop.AddTimer(250ms, [&] {
    nested.push_back(app->ReadCard(CRT_CommPort));
    nested.push_back(app->ReadCard(CRT_Tastatur));
    nested.push_back(app->GetCardPort());
  });
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(nested, (std::vector<std::int32_t>{RV_Error, RV_Error, 0}));
  EXPECT_EQ(Letters(), "SRQFBE");
  EXPECT_EQ(platform.views.size(), 2u) << "no window for the refused calls";
}

TEST_F(ApplicationTest, PortErrorsAreRaisedAndLoggedOnce) {
  platform.bus[3].open_error = kErrPortNotAvailable;
  platform.bus[4].open_error = kErrComponentNotRegistered;  // only a keyboard read maps it
  const std::string serial = std::string(" ") + kSerialErrorSource + ": ";
  const std::pair<std::int16_t, std::string> kCases[] = {
      {0, "-2147221503 ClsApplication: No CommPort is set"},
      {-1, "-2147221503 ClsApplication: No CommPort is set"},
      {3, "8010" + serial + "Port not available"},
      {4, "339" + serial + "Port not available"},
      {9, "8002" + serial + "Invalid port number"}};
  for (const auto& [port, error] : kCases) {
    platform.log_lines.clear();
    app->CommPort(port);
    EXPECT_EQ(Raised([&] { app->ReadCard(CRT_CommPort); }), error);
    EXPECT_FALSE(platform.LastView().shown_modal);
    ExpectClosed();
  }
  EXPECT_EQ(platform.log_lines,
            Texts{"06.12.2026\t03:15:02\tModule : ClsApplication\tMethod : ReadCard\tComment : "
                  "None\tErrNo : 8002\tErrDesc. : Invalid port number\tErrSource : " +
                  std::string(kSerialErrorSource) + "\r\n"});
}

// A handler fails with the port open: the host gets the failure as an AutomationError, or the
// log's own failure when the log cannot be written, and either way the closing steps have run.
TEST_F(ApplicationTest, FailureDuringTheReadIsLoggedAndRaisedAfterTheClosingSteps) {
  Attach("tagged");
  const auto terminal = platform.bus[1].terminal;
  const auto lost = std::make_exception_ptr(AutomationError(8010, "Serial", "Lost"));
  const std::pair<std::exception_ptr, std::string> kCases[] = {
      {lost, "8010 Serial: Lost"},
      {lost, "75 qzCardReader: Path/File access error"},  // the log cannot be written
      {std::make_exception_ptr(std::bad_alloc()), "7 qzCardReader: Out of memory"},
      {std::make_exception_ptr(std::runtime_error("no timer")), "51 qzCardReader: no timer"},
      {std::make_exception_ptr(42), "51 qzCardReader: Internal error"},
  };
  for (const auto& [thrown, raised] : kCases) {
    platform.log_fails = raised.starts_with("75");
    platform.log_lines.clear();
    platform.bus[1].terminal = [&](std::span<const std::uint8_t> w) {
      if (w.size() > 4 && w[4] == 0xA4) std::rethrow_exception(thrown);
      terminal(w);
    };
    EXPECT_EQ(Raised([&] { app->ReadCard(CRT_CommPort); }), raised);
    EXPECT_EQ(platform.log_lines.size(), platform.log_fails ? 0u : 1u);
    ExpectClosed();
  }
  platform.bus[1].terminal = terminal;
  platform.log_fails = false;
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
}

// GetCardPort listens 300 ms on each port that opens, waiting in the loop meanwhile; it skips
// ports that fail to open and ends at the first number that names no port.
TEST_F(ApplicationTest, PortSearchFindsTheFirstAnsweringPortAndEndsAtTheLastPort) {
  Attach("silent");
  Attach("tagged", "", 0ms, 2);
  platform.bus[3];
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
  EXPECT_EQ(platform.bus[3].opens, 0);
  EXPECT_EQ(app->CommPort(), 7);
  EXPECT_EQ(app->KVKData(), record);
  platform.bus[1].open_error = kErrPortNotAvailable;
  platform.bus[2].open_error = kErrCannotSetLine;
  Attach("tagged", "", 0ms, 5);
  EXPECT_EQ(app->GetCardPort(), -1) << "COM4 does not exist, so COM5 is not tried";
  EXPECT_EQ(platform.loop.Now(), 900ms) << "only COM3 was listened to";
  ExpectClosed();
}

// Whatever fails inside the search, the host gets a port number, never an error, and no port
// stays open; a terminal that had already answered still counts.
TEST_F(ApplicationTest, PortSearchEndsWithWhatItHasWhenSomethingFails) {
  Attach("tagged");
  const std::pair<std::exception_ptr, std::int16_t> kCases[] = {
      {std::make_exception_ptr(std::bad_alloc()), -1},
      {std::make_exception_ptr(std::runtime_error("host failed")), 1}};
  for (const auto& [thrown, port] : kCases) {
    platform.loop.AddTimer(port == 1 ? 100ms : 0ms, [&] { std::rethrow_exception(thrown); });
    EXPECT_EQ(app->GetCardPort(), port);
    ExpectClosed();
  }
  EXPECT_EQ(app->GetCardPort(), 1) << "the next search starts afresh";
}

TEST_F(ApplicationTest, KeyboardReadCopiesFifteenFieldsAsDelivered) {
  std::string want;
  for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
    platform.keyboard.fields[KVKField(f)] = " " + std::string(kKVKFieldNames[f]) + "{";
    if (KVKField(f) != KVKField::KrankenKassenNummer && KVKField(f) != KVKField::Checksum)
      want += std::string(kKVKFieldNames[f]) + "= " + std::string(kKVKFieldNames[f]) + "{;";
  }
  // An unreadable card reported on the way does not spoil a read that succeeds.
  platform.keyboard.cherry_errors = {{-42, "Karte nicht lesbar"}};
  app->WaitingTime(12);
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_ReadSuccessful);
  EXPECT_EQ(Record(), want);
  const FakeViewRecord& view = platform.LastView();
  EXPECT_EQ(view.titles, Texts{"KVK Kartenlesegerät an Tastatur"});
  EXPECT_EQ(view.messages, Texts{"Bitte warten, bis Karte eingelesen wurde"});
  EXPECT_EQ(view.cancel_states, std::vector<bool>{false}) << "a keyboard read cannot be cancelled";
  EXPECT_EQ(platform.keyboard_timeouts, std::vector<std::int32_t>{12000});
  EXPECT_EQ(platform.keyboards_alive, 0);
  EXPECT_TRUE(platform.log_lines.empty());
  ExpectClosed();
}

// Keyboard reads that fail, one after another on one object: an empty record each time, and
// reports of the reader or failures around it logged where they happened, then raised. A
// report of the reader is logged twice on purpose: by its handler, and by ReadCard, which the
// handler's error ends.
TEST_F(ApplicationTest, KeyboardReadsWithoutRecord) {
  struct Case {
    std::function<void(FakePlatform&)> script;
    std::int32_t result;   // when nothing is raised
    std::string raised{};  // "number source: description"
    const char* log{""};   // the first line of the log, from "Method" on
    std::size_t lines = 0;
  };
  const auto close = [](FakePlatform& p) {
    p.loop.AddTimer(0ms, [&p] { p.LastView().RequestClose(UnloadMode::kUserClose); });
  };
  // clang-format off
  const Case kCases[] = {
      {[](auto& p) { p.keyboard.cherry_errors = {{-42, "Karte nicht lesbar"}}; }, RV_NoCardInserted},
      {[](auto&) {}, RV_Error},  // the unreadable card belonged to the read before
      {close, RV_Error},  // the window closed before the read
      {[](auto& p) { p.keyboard.cherry_errors = {{7, "X"}}; }, 0,
       "-2147221502 mKeyboard_CherryError: Error is trapped in KbdBridge7 X",
       "Method : mKeyboard_CherryError\tComment : None\tErrNo : 7\tErrDesc. : XNo:7"
       "\tErrSource : CherryError\r\n", 2},
      {[](auto& p) { p.keyboard.report_error = true; }, 0,
       "-2147221502 mKeyboard_Error: Error is trapped in KbdBridge",
       "Method : ReadKVK\tComment : Module: clsReader\tErrNo : 1004\tErrDesc. : Reader jammed"
       "\tErrSource : KbdBridge\r\n", 2},
      // The log keeps the original 339; the host gets the missing driver.
      {[](auto& p) { p.keyboard_installed = false; }, 0,
       "-2147221501 ReadCard: No Cherry Driver installed", "Method : ReadCard\tComment : None\tErrNo : 339\t", 1},
      {[](auto& p) { p.keyboard.fail_number = 1005; }, 0, "1005 KbdBridge: ReadKVK failed",
       "Method : ReadCard\tComment : None\tErrNo : 1005\t", 1},
      {[](auto&) {}, RV_Error},  // the last read's error is forgotten
  };
  // clang-format on
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.raised);
    platform.keyboard = {};
    platform.keyboard.result = false;
    platform.keyboard_installed = true;
    platform.log_lines.clear();
    c.script(platform);
    std::int32_t result = -1;
    EXPECT_EQ(Raised([&] { result = app->ReadCard(CRT_Tastatur); }), c.raised);
    EXPECT_EQ(result, c.raised.empty() ? c.result : -1);
    ASSERT_EQ(platform.log_lines.size(), c.lines);
    EXPECT_TRUE(c.lines == 0 || platform.log_lines.front().find(c.log) != std::string::npos);
    const std::string last = c.lines == 0 ? "" : platform.log_lines.back();
    EXPECT_TRUE(c.lines == 0 || last.find("\tMethod : ReadCard\tComment : None\t") != last.npos);
    EXPECT_EQ(Record(), "");
    EXPECT_EQ(platform.keyboards_alive, 0);
    ExpectClosed();
  }
  EXPECT_EQ(platform.keyboard_timeouts.size(), 6u)
      << "none once the window had gone, or not installed";
  EXPECT_EQ(platform.loop.PendingTimers(), 0u);
}

}  // namespace
}  // namespace qz::testing
