// Serial reads and the port search against the scripted terminal: what is written, the texts
// shown, the result, the record, the errors raised and logged, and the state left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>

#include "tests/unit/application_test_support.h"

namespace qz::testing {
namespace {

using std::chrono::milliseconds;

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
  {"AnswerWithoutSw2",      {{CMD_ResetCT, {Reply({0x90})}}}, "SR", RV_Error, ""},
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
  const std::vector<Bytes> read = {kResynch, kResetCt0,    kRequestIcc1,
                                   kSelect0, kReadBinary1, kEject0};
  std::vector<Bytes> twice = read;
  twice.insert(twice.end(), read.begin(), read.end());
  EXPECT_EQ(Written(), twice) << "both reads start at N(S) 0";
  EXPECT_EQ(platform.LastView().titles, Texts{"KVK Kartenlesegerät an Port 1"});
  EXPECT_TRUE(platform.LastView().cancel_states.empty());
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

// A write fails with the port open: the host gets that error, or the log's own failure when
// the log cannot be written, and either way the closing steps have run.
TEST_F(ApplicationTest, WriteFailureDuringTheReadRunsTheClosingSteps) {
  for (bool log_fails : {false, true}) {
    SCOPED_TRACE(log_fails);
    platform.log_fails = log_fails;
    platform.log_lines.clear();
    int open_at_failure = -1;
    terminal.on_command = [&](CmdType cmd) {
      if (cmd != CMD_SelectFile) return;
      open_at_failure = platform.bus.open_count;
      throw AutomationError(kErrPortNotAvailable, kSerialErrorSource, "Write timed out");
    };
    const AutomationError err = Raised([&] { app->ReadCard(CRT_CommPort); });
    EXPECT_EQ(err.Number(), log_fails ? 75 : kErrPortNotAvailable);
    EXPECT_EQ(platform.log_lines.size(), log_fails ? 0u : 1u);
    EXPECT_EQ(open_at_failure, 1);
    ExpectIdle();

    terminal.on_command = nullptr;
    EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  }
}

TEST_F(ApplicationTest, NewObjectHasDefaultsAndDestroyingOneClosesItsPortAndStopsItsTimer) {
  auto fresh = std::make_unique<clsApplication>(platform);
  EXPECT_EQ(fresh->WaitingTime(), 5);
  EXPECT_EQ(fresh->CommPort(), 0);
  ASSERT_NE(fresh->KVKData(), nullptr);
  EXPECT_EQ(fresh->KVKData()->Get(KVKField::FamilienName), "");

  clsApplicationTestPeer fresh_peer(*fresh);
  fresh_peer.Link().COMM().SetCommPort(1);
  fresh_peer.Link().COMM().SetPortOpen(true);
  fresh_peer.Link().StartTimer("RESYNC", 800);
  fresh.reset();
  EXPECT_EQ(platform.bus.open_count, 0);
  EXPECT_EQ(platform.loop.PendingTimers(), 0u);
  EXPECT_TRUE(platform.LastView().destroyed);
}

TEST_F(ApplicationTest, LogLineHasEightTabSeparatedFields) {
  platform.date = "2026-12-06";
  platform.time = "3:15:02 AM";
  peer.LogError(AutomationError(8010, "qzCardReader.Serial", "Port not available"), "GetIt",
                "Module: frmUI");
  peer.LogError(AutomationError(-42, "", ""), "ReadCard", "");
  EXPECT_EQ(platform.log_lines,
            (Texts{"2026-12-06\t3:15:02 AM\tModule : ClsApplication\tMethod : GetIt\tComment : "
                   "Module: frmUI\tErrNo : 8010\tErrDesc. : Port not available\tErrSource : "
                   "qzCardReader.Serial\r\n",
                   "2026-12-06\t3:15:02 AM\tModule : ClsApplication\tMethod : ReadCard\tComment : "
                   "\tErrNo : -42\tErrDesc. : \tErrSource : \r\n"}));
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
  EXPECT_EQ(platform.loop.Pumps(), 0u);
  EXPECT_EQ(nested, (std::vector<std::int32_t>{0, RV_Error}));
  EXPECT_EQ(Written(), std::vector<Bytes>{kResynch});
  EXPECT_EQ(platform.bus.Line(2).written, std::vector<Bytes>{kResynch});
  EXPECT_EQ(platform.bus.Line(3).opens, 0);
  EXPECT_EQ(app->CommPort(), 7);
  EXPECT_EQ(app->KVKData(), record);
  EXPECT_EQ(platform.views.size(), 1u);
  EXPECT_FALSE(peer.PortCheck());
  EXPECT_EQ(platform.bus.open_count, 0);
}

TEST_F(ApplicationTest, PortSearchSkipsPortsThatFailToOpen) {
  platform.bus.Line(1).open_error = kErrPortNotAvailable;
  platform.bus.Line(2).open_error = kErrCannotSetLine;
  ScriptedTerminal third(platform.bus, 3);
  EXPECT_EQ(app->GetCardPort(), 3);
  EXPECT_EQ(platform.loop.Now(), milliseconds(300)) << "only COM3 was listened to";

  third.resynch_delay.reset();
  EXPECT_EQ(app->GetCardPort(), -1) << "COM4 does not exist: the search ends there";
  EXPECT_EQ(platform.loop.Now(), milliseconds(600));
  EXPECT_EQ(platform.bus.open_count, 0);
}

}  // namespace
}  // namespace qz::testing
