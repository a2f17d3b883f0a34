// clsApplication on the fake platform: serial reads and the port search against the scripted
// terminal, and keyboard reads against the scripted keyboard reader. Each test looks at what
// was written, the texts shown, the result, the record, the errors raised and logged, and the
// state left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/cls_application.h"
#include "link/frm_comm.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/scripted_terminal.h"

namespace qz {

class clsApplicationTestPeer {
 public:
  explicit clsApplicationTestPeer(clsApplication& app) : app_(app) {}
  frmComm& Link() { return *app_.mFrm; }
  bool Busy() const { return app_.mBusy; }
  std::int32_t Result() const { return app_.mResult; }
  std::int16_t NoCardCount() const { return app_.mNoCardCount; }
  bool PortCheck() const { return app_.mPortCheck; }

 private:
  clsApplication& app_;
};

namespace testing {
namespace {

using std::chrono::milliseconds;

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

// A card file of tests/data, as READ BINARY returns it without SW1 SW2.
Bytes Card(const char* file) {
  std::ifstream in(std::string(QZ_TEST_DATA_DIR) + "/" + file, std::ios::binary);
  Bytes bytes{std::istreambuf_iterator<char>(in), {}};
  EXPECT_FALSE(bytes.empty()) << file;
  return bytes;
}

constexpr char kInsertCard[] = "Bitte Karte einführen...";
constexpr char kCardInserted[] = "Karte eingeführt.";
constexpr char kReadingCard[] = "Karte wird gelesen...";
constexpr char kRemoveCard[] = "Karte entnehmen...";

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

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() {
    app->CommPort(1);
    terminal.replies = {{CMD_ResetCT, {Sw(0x9000)}},
                        {CMD_RequestICC, {Sw(0x9000)}},
                        {CMD_SelectFile, {Sw(0x9000)}},
                        {CMD_ReadBinary, {DataThen(Card("card_tagged.bin"), 0x9000)}},
                        {CMD_EjectICC, {Sw(0x9001)}}};
  }

  // What every call leaves behind, however it ended.
  void ExpectIdle() {
    EXPECT_FALSE(peer.Busy());
    EXPECT_FALSE(peer.PortCheck());
    EXPECT_EQ(peer.NoCardCount(), 0);
    EXPECT_EQ(peer.Result(), RV_Error);
    EXPECT_EQ(platform.bus.open_count, 0) << "a port was left open";
    if (!platform.views.empty() && platform.LastView().shown_modal) {
      EXPECT_TRUE(platform.LastView().destroyed) << "a window was left on the screen";
    }
  }

  std::vector<Bytes>& Written() { return platform.bus.Line(1).written; }

  FakePlatform platform;
  ScriptedTerminal terminal{platform.bus, 1};
  std::unique_ptr<clsApplication> app = std::make_unique<clsApplication>(platform);
  clsApplicationTestPeer peer{*app};
};

// The commands written, one letter each: S RESYNCH, R RESET CT, Q REQUEST ICC, F SELECT FILE,
// B READ BINARY, E EJECT ICC.
std::string Letters(const std::vector<CmdType>& commands) {
  std::string out;
  for (CmdType cmd : commands) out += "?RSQFBE"[cmd >= 1 && cmd <= 6 ? cmd : 0];
  return out;
}

// The window announces each command but RESET CT as it is sent.
Texts Announced(const std::string& sent) {
  Texts texts;
  for (char c : sent) {
    if (c == 'S') texts.push_back("Resync...");
    if (c == 'Q') texts.push_back(kInsertCard);
    if (c == 'F') texts.push_back(kCardInserted);
    if (c == 'B') texts.push_back(kReadingCard);
    if (c == 'E') texts.push_back(kRemoveCard);
  }
  return texts;
}

struct ReadCase {
  const char* name;
  std::map<CmdType, std::vector<TerminalReply>> script;  // replaces the good card's replies
  const char* sent;
  enmReturnValue result;
  const char* family;  // FamilienName of the record handed over; null: no record
  std::int16_t waiting_time = 5;
  std::optional<milliseconds> resynch = milliseconds(10);
  milliseconds cancel_at{0};  // "Abbruch" pressed then
  milliseconds ends_at{0};    // when checked: the clock when ReadCard returns
};
void PrintTo(const ReadCase& c, std::ostream* os) {
  *os << c.name;
}

const TerminalReply kWtx = RawBlock(t1::MakeBlock(0x12, t1::kPcbWtxResp, {}));
const TerminalReply kOneByte = RawBlock(t1::MakeBlock(0x12, 0x00, Bytes{0x90}));
constexpr char kTagged[] = "Weißmüller";

// clang-format off
const ReadCase kReads[] = {
  {"TaggedCard",            {}, "SRQFBE", RV_ReadSuccessful, kTagged},
  {"FixedCardShortFile",    {{CMD_ReadBinary, {DataThen(Card("card_fixed.bin"), 0x6282)}}},
                            "SRQFBE", RV_ReadSuccessful, "Krämer-Weiß"},
  {"Ejected9000",           {{CMD_EjectICC, {Sw(0x9000)}}}, "SRQFBE", RV_ReadSuccessful, kTagged},
  {"EjectNotTakenInTime",   {{CMD_EjectICC, {Sw(0x6200)}}}, "SRQFBE", RV_ReadSuccessful, kTagged},
  {"EjectFails",            {{CMD_EjectICC, {Sw(0x6F00)}}}, "SRQFBE", RV_Error, kTagged},
  {"NoCardWaitingTime5",    {{CMD_RequestICC, {Sw(0x6200)}}}, "SRQQQQQ", RV_NoCardInserted, "", 5},
  {"NoCardWaitingTime1",    {{CMD_RequestICC, {Sw(0x6200)}}}, "SRQ", RV_NoCardInserted, "", 1},
  {"NoCardWaitingTime0",    {{CMD_RequestICC, {Sw(0x6200)}}}, "SRQ", RV_NoCardInserted, "", 0},
  {"NoCardWaitingTimeNeg",  {{CMD_RequestICC, {Sw(0x6200)}}}, "SRQ", RV_NoCardInserted, "", -7},
  {"NoCardWaitingTimeMin",  {{CMD_RequestICC, {Sw(0x6200)}}}, "SRQ", RV_NoCardInserted, "", INT16_MIN},
  {"CardAfterTwoWaits",     {{CMD_RequestICC, {Sw(0x6200), Sw(0x6200), Sw(0x9000)}}},
                            "SRQQQFBE", RV_ReadSuccessful, kTagged},
  {"WrongCard",             {{CMD_RequestICC, {Sw(0x6400)}}}, "SRQ", RV_WrongCard, ""},
  {"ApplicationNotFound",   {{CMD_SelectFile, {Sw(0x6A82)}}}, "SRQF", RV_WrongCard, ""},
  {"GeneralErrorToReset",   {{CMD_ResetCT, {Sw(0x6700)}}}, "SR", RV_Error, ""},
  {"GeneralErrorToRequest", {{CMD_RequestICC, {Sw(0x6900)}}}, "SRQ", RV_Error, ""},
  {"GeneralErrorToSelect",  {{CMD_SelectFile, {Sw(0x6A00)}}}, "SRQF", RV_Error, ""},
  {"GeneralErrorToRead",    {{CMD_ReadBinary, {Sw(0x6D00)}}}, "SRQFB", RV_Error, ""},
  {"GeneralErrorToEject",   {{CMD_EjectICC, {Sw(0x6E00)}}}, "SRQFBE", RV_Error, kTagged},
  {"CardRemoved",           {{CMD_ReadBinary, {Sw(0x6501)}}}, "SRQFB", RV_CardRemovedDuringReading, ""},
  {"WrongOffset",           {{CMD_ReadBinary, {Sw(0x6B00)}}}, "SRQFB", RV_Error, ""},
  {"AnswerWithoutSw2",      {{CMD_ResetCT, {kOneByte}}}, "SR", RV_Error, ""},
  {"SilentTerminal",        {}, "S", RV_NoReaderResponding, nullptr, 5, std::nullopt,
                            milliseconds(0), milliseconds(800)},
  {"Cancelled",             {{CMD_RequestICC, {Silence()}}}, "SRQ", RV_UserCanceled, nullptr, 5,
                            milliseconds(10), milliseconds(5000), milliseconds(5000)},
  // Confirmed at 100 ms, the reset answered at 1100 ms: the RESYNC expiry passes in between.
  {"LateConfirmation",      {{CMD_ResetCT, {Sw(0x9000, milliseconds(1000))}}}, "SRQFBE",
                            RV_ReadSuccessful, kTagged, 5, milliseconds(100)},
  // A WTX response counts as a second confirmation: the chain starts again from the reset.
  {"RepeatedConfirmation",  {{CMD_RequestICC, {kWtx, Sw(0x9000)}}}, "SRQRQFBE",
                            RV_ReadSuccessful, kTagged},
};
// clang-format on

class ReadTest : public ApplicationTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadTest, EndsAsScripted) {
  const ReadCase& c = GetParam();
  for (const auto& [cmd, replies] : c.script) terminal.replies[cmd] = replies;
  terminal.resynch_delay = c.resynch;
  app->WaitingTime(c.waiting_time);
  if (c.cancel_at.count() > 0) {
    platform.loop.AddTimer(c.cancel_at, [&] { platform.LastView().PressCancel(); });
  }

  EXPECT_EQ(app->ReadCard(CRT_CommPort), c.result);
  EXPECT_EQ(Letters(terminal.received), c.sent);
  EXPECT_EQ(platform.LastView().messages, Announced(c.sent));
  if (c.family == nullptr) {
    EXPECT_EQ(app->KVKData(), nullptr);
  } else {
    ASSERT_NE(app->KVKData(), nullptr);
    EXPECT_EQ(app->KVKData()->Get(KVKField::FamilienName), c.family);
  }
  if (c.ends_at.count() > 0) {
    EXPECT_EQ(platform.loop.Now(), c.ends_at);
  }
  EXPECT_TRUE(platform.log_lines.empty());
  ExpectIdle();
}

INSTANTIATE_TEST_SUITE_P(Terminal, ReadTest, ::testing::ValuesIn(kReads),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ApplicationTest, EachReadHasItsOwnLinkAndRecord) {
  const auto initial = app->KVKData();
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  const auto first = app->KVKData();
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_NE(first, initial);
  EXPECT_NE(app->KVKData(), first);
  EXPECT_EQ(first->Get(KVKField::FamilienName), kTagged) << "the host's record stays valid";
  ASSERT_EQ(Written().size(), 12u);
  EXPECT_EQ(Written()[1], (Bytes{0x12, 0x00, 0x05, 0x20, 0x11, 0x00, 0x00, 0x00, 0x26}));
  EXPECT_TRUE(std::equal(Written().begin(), Written().begin() + 6, Written().begin() + 6))
      << "both reads write the same blocks: a new link starts at N(S) 0";
  EXPECT_EQ(platform.LastView().titles, Texts{"KVK Kartenlesegerät an Port 1"});
  ExpectIdle();
}

TEST_F(ApplicationTest, CallsFromInsideTheWaitAreRefused) {
  std::vector<std::int32_t> nested;
  platform.on_message = [&](FakeViewRecord&, const std::string& text) {
    if (text != kCardInserted) return;
    nested.push_back(app->ReadCard(CRT_CommPort));
    nested.push_back(app->ReadCard(CRT_Tastatur));
    nested.push_back(app->GetCardPort());
  };
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(nested, (std::vector<std::int32_t>{RV_Error, RV_Error, 0}));
  EXPECT_EQ(Letters(terminal.received), "SRQFBE");
  EXPECT_EQ(platform.bus.Line(1).opens, 1);
  EXPECT_EQ(platform.views.size(), 2u) << "no window for the refused calls";
  ExpectIdle();
}

TEST_F(ApplicationTest, PortErrorsAreRaisedAndLoggedOnce) {
  struct Case {
    std::int16_t port;
    std::int32_t number;
    const char* source;
    const char* description;
  };
  platform.bus.Line(3).open_error = kErrPortNotAvailable;
  for (const Case& c :
       {Case{0, -2147221503, "ClsApplication", "No CommPort is set"},
        Case{-1, -2147221503, "ClsApplication", "No CommPort is set"},
        Case{3, kErrPortNotAvailable, kSerialErrorSource, "Port not available"},
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
    ExpectIdle();
  }
  EXPECT_EQ(platform.bus.Line(1).opens, 0);
  app->CommPort(1);
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
}

// A handler fails with the port open: the host gets the failure as an AutomationError, or the
// log's own failure when the log cannot be written, and either way the closing steps have run.
TEST_F(ApplicationTest, FailureDuringTheReadIsLoggedAndRaisedAfterTheClosingSteps) {
  struct Case {
    std::exception_ptr thrown;
    bool log_fails;
    std::int32_t number;
    const char* description;
  };
  const auto write_failed = std::make_exception_ptr(
      AutomationError(kErrPortNotAvailable, kSerialErrorSource, "Write timed out"));
  const Case cases[] = {
      {write_failed, false, kErrPortNotAvailable, "Write timed out"},
      {write_failed, true, 75, "Path/File access error"},
      {std::make_exception_ptr(std::bad_alloc()), false, 7, "Out of memory"},
      {std::make_exception_ptr(std::runtime_error("no timer left")), false, 51, "no timer left"},
      {std::make_exception_ptr(42), false, 51, "Internal error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    platform.log_fails = c.log_fails;
    platform.log_lines.clear();
    int open_at_failure = -1;
    terminal.on_command = [&](CmdType cmd) {
      if (cmd != CMD_SelectFile) return;
      open_at_failure = platform.bus.open_count;
      std::rethrow_exception(c.thrown);
    };
    const AutomationError err = Raised([&] { app->ReadCard(CRT_CommPort); });
    EXPECT_EQ(err.Number(), c.number);
    EXPECT_EQ(err.Description(), c.description);
    ASSERT_EQ(platform.log_lines.size(), c.log_fails ? 0u : 1u);
    if (!c.log_fails) {
      EXPECT_NE(platform.log_lines[0].find("\tErrNo : " + std::to_string(c.number) +
                                           "\tErrDesc. : " + c.description + "\t"),
                std::string::npos);
    }
    EXPECT_EQ(open_at_failure, 1);
    ExpectIdle();
  }
  terminal.on_command = nullptr;
  platform.log_fails = false;
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
}

TEST_F(ApplicationTest, NewObjectHasDefaultsAndDestroyingOneClosesItsPortAndStopsItsTimer) {
  auto fresh = std::make_unique<clsApplication>(platform);
  EXPECT_EQ(fresh->WaitingTime(), 5);
  EXPECT_EQ(fresh->CommPort(), 0);
  EXPECT_NE(fresh->KVKData(), nullptr);
  clsApplicationTestPeer fresh_peer(*fresh);
  fresh_peer.Link().COMM().SetCommPort(1);
  fresh_peer.Link().COMM().SetPortOpen(true);
  fresh_peer.Link().StartTimer("RESYNC", 800);
  fresh.reset();
  EXPECT_EQ(platform.bus.open_count, 0);
  EXPECT_EQ(platform.loop.PendingTimers(), 0u);
  EXPECT_TRUE(platform.LastView().destroyed);
}

// GetCardPort listens 300 ms on each port that opens, sleeping in the loop meanwhile.
TEST_F(ApplicationTest, PortSearchFindsTheSecondPortAfterTwoListeningPeriods) {
  terminal.resynch_delay.reset();  // COM1 is present but silent
  ScriptedTerminal second(platform.bus, 2);
  platform.bus.Line(3);
  app->CommPort(7);
  const auto record = app->KVKData();
  std::vector<std::int32_t> nested;
  platform.loop.AddTimer(milliseconds(150), [&] {
    nested.push_back(app->GetCardPort());
    nested.push_back(app->ReadCard(CRT_CommPort));
  });

  EXPECT_EQ(app->GetCardPort(), 2);
  EXPECT_EQ(platform.loop.Now(), milliseconds(600)) << "300 ms per port, also when answered";
  EXPECT_EQ(nested, (std::vector<std::int32_t>{0, RV_Error}));
  EXPECT_EQ(Letters(terminal.received), "S");
  EXPECT_EQ(Letters(second.received), "S") << "the search only listens after the RESYNCH";
  EXPECT_EQ(platform.bus.Line(3).opens, 0);
  EXPECT_EQ(app->CommPort(), 7);
  EXPECT_EQ(app->KVKData(), record);
  EXPECT_FALSE(peer.PortCheck());
  EXPECT_EQ(platform.bus.open_count, 0);
}

TEST_F(ApplicationTest, PortSearchSkipsPortsThatFailToOpenAndEndsAtTheLastPort) {
  platform.bus.Line(1).open_error = kErrPortNotAvailable;
  platform.bus.Line(2).open_error = kErrCannotSetLine;
  ScriptedTerminal third(platform.bus, 3);
  EXPECT_EQ(app->GetCardPort(), 3);
  third.resynch_delay.reset();
  EXPECT_EQ(app->GetCardPort(), -1) << "COM4 does not exist";
  EXPECT_EQ(platform.loop.Now(), milliseconds(600)) << "only COM3 was listened to, twice";
  EXPECT_EQ(platform.bus.open_count, 0);
}

// Whatever fails inside the search, the host gets a port number, never an error, and no port
// stays open; a terminal that had already answered still counts.
TEST_F(ApplicationTest, PortSearchEndsWithWhatItHasWhenSomethingFails) {
  struct Case {
    milliseconds at;
    std::exception_ptr thrown;
    std::int16_t port;
  };
  for (const Case& c :
       {Case{milliseconds(5), std::make_exception_ptr(std::bad_alloc()), -1},
        Case{milliseconds(100), std::make_exception_ptr(std::runtime_error("host failed")), 1}}) {
    platform.loop.AddTimer(c.at, [&c] { std::rethrow_exception(c.thrown); });
    EXPECT_EQ(app->GetCardPort(), c.port);
    EXPECT_EQ(platform.bus.open_count, 0);
    EXPECT_FALSE(peer.PortCheck());
  }
  EXPECT_EQ(app->GetCardPort(), 1) << "the next search starts afresh";
}

// Keyboard reads.

bool Empty(const clsKVKData& record) {
  for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
    if (!record.Get(static_cast<KVKField>(f)).empty()) return false;
  }
  return true;
}

TEST_F(ApplicationTest, KeyboardReadCopiesFifteenFieldsAsDelivered) {
  for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
    platform.keyboard.fields[static_cast<KVKField>(f)] = " " + std::string(kKVKFieldNames[f]) + "{";
  }
  app->WaitingTime(12);
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_ReadSuccessful);

  ASSERT_NE(app->KVKData(), nullptr);
  for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
    const auto field = static_cast<KVKField>(f);
    const bool absent = field == KVKField::KrankenKassenNummer || field == KVKField::Checksum;
    EXPECT_EQ(app->KVKData()->Get(field), absent ? "" : " " + std::string(kKVKFieldNames[f]) + "{");
  }
  const FakeViewRecord& view = platform.LastView();
  EXPECT_EQ(view.titles, Texts{"KVK Kartenlesegerät an Tastatur"});
  EXPECT_EQ(view.messages, Texts{"Bitte warten, bis Karte eingelesen wurde"});
  EXPECT_EQ(view.cancel_states, std::vector<bool>{false}) << "a keyboard read cannot be cancelled";
  EXPECT_EQ(platform.keyboard_timeouts, std::vector<std::int32_t>{12000});
  EXPECT_EQ(platform.keyboards_alive, 0);
  EXPECT_TRUE(platform.log_lines.empty());
  ExpectIdle();
}

// Reads that end with an empty record and no error, one after another on one object.
TEST_F(ApplicationTest, KeyboardReadWithoutRecord) {
  auto read = [&](enmReturnValue expected) {
    EXPECT_EQ(app->ReadCard(CRT_Tastatur), expected);
    ASSERT_NE(app->KVKData(), nullptr);
    EXPECT_TRUE(Empty(*app->KVKData()));
    EXPECT_TRUE(platform.log_lines.empty());
    ExpectIdle();
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
    ExpectIdle();
  }
  platform.keyboard = {};
  platform.keyboard.result = false;
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_Error) << "the last read's error is forgotten";
}

}  // namespace
}  // namespace testing
}  // namespace qz
