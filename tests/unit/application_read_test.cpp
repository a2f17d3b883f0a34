// Whole serial reads: the fake terminal answers byte by byte through the fake port, and the
// tests look at the blocks written, the texts shown, the result, the record and the state left.
#include <gtest/gtest.h>

#include <chrono>
#include <tuple>

#include "tests/unit/application_test_support.h"

namespace qz::testing {
namespace {

using std::chrono::milliseconds;
using Texts = std::vector<std::string>;

TEST_F(ApplicationTest, NewObjectHasDefaultsAndAnEmptyRecord) {
  EXPECT_EQ(app->WaitingTime(), 5);
  EXPECT_EQ(app->CommPort(), 1);  // set by the fixture; a new object has 0
  EXPECT_EQ(clsApplication(platform).CommPort(), 0);
  ASSERT_NE(app->KVKData(), nullptr);
  for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
    EXPECT_EQ(app->KVKData()->Get(static_cast<KVKField>(f)), "");
  }
  EXPECT_EQ(app->KVKData(), app->KVKData()) << "the held record itself, not a copy";
}

TEST_F(ApplicationTest, TaggedCardIsReadEndToEnd) {
  const auto before = app->KVKData();
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);

  EXPECT_EQ(Written(),
            Blocks({kResynch, kResetCt0, kRequestIcc1, kSelect0, kReadBinary1, kEject0}));
  const FakeViewRecord& view = platform.LastView();
  EXPECT_EQ(view.titles, Texts{"KVK Kartenlesegerät an Port 1"});
  EXPECT_EQ(view.messages,
            (Texts{"Resync...", kInsertCard, kCardInserted, kReadingCard, kRemoveCard}));
  EXPECT_TRUE(view.shown_modal);
  EXPECT_TRUE(view.destroyed);
  EXPECT_TRUE(view.cancel_states.empty()) << "the cancel button stays enabled";

  const auto record = app->KVKData();
  ASSERT_NE(record, nullptr);
  EXPECT_NE(record, before) << "each read has a new record; the host keeps the old one";
  EXPECT_EQ(record->Get(KVKField::KrankenKassenName), "AOK Bayern");
  EXPECT_EQ(record->Get(KVKField::VersichertenNummer), "A12345");
  EXPECT_EQ(record->Get(KVKField::Vorname), "Jürgn");
  EXPECT_EQ(record->Get(KVKField::FamilienName), "Mäusel");
  EXPECT_EQ(record->Get(KVKField::OrtsName), "Mönchen");
  EXPECT_EQ(record->Get(KVKField::Gueltigkeit), "1229");
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, FixedLayoutCardAnsweredWithShortFileIsRead) {
  terminal.replies[CMD_ReadBinary] = {DataThen(FixedCardBytes(), 0x62, 0x82)};
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(Written().back(), Bytes(std::begin(kEject0), std::end(kEject0)));
  EXPECT_EQ(app->KVKData()->Get(KVKField::KrankenKassenName), "BKK Straßenbahn");
  EXPECT_EQ(app->KVKData()->Get(KVKField::FamilienName), "Brück");
  EXPECT_EQ(app->KVKData()->Get(KVKField::Checksum), "Z");
  ExpectIdleAfterRead();
}

// The answer to the eject decides the result; the record is kept whatever it says.
class EjectAnswerTest : public ApplicationTest,
                        public ::testing::WithParamInterface<std::tuple<int, enmReturnValue>> {};

TEST_P(EjectAnswerTest, DecidesTheResult) {
  const auto [sw, expected] = GetParam();
  terminal.replies[CMD_EjectICC] = {Status(sw >> 8, sw & 0xFF)};
  EXPECT_EQ(app->ReadCard(CRT_CommPort), expected);
  ASSERT_NE(app->KVKData(), nullptr);
  EXPECT_EQ(app->KVKData()->Get(KVKField::FamilienName), "Mäusel");
  EXPECT_EQ(Written().size(), 6u);
  ExpectIdleAfterRead();
}

INSTANTIATE_TEST_SUITE_P(Eject, EjectAnswerTest,
                         ::testing::Values(std::tuple{0x9001, RV_ReadSuccessful},  // card removed
                                           std::tuple{0x6200,
                                                      RV_ReadSuccessful},  // not removed in time
                                           std::tuple{0x9000, RV_ReadSuccessful},  // ejected
                                           std::tuple{0x6700, RV_Error},           // general error
                                           std::tuple{0x6F00, RV_Error}));         // anything else

// No card: the terminal answers every REQUEST ICC with 6200 after its own wait.
class NoCardTest : public ApplicationTest,
                   public ::testing::WithParamInterface<std::tuple<std::int16_t, int>> {};

TEST_P(NoCardTest, RequestsTheCardWaitingTimeTimes) {
  const auto [waiting_time, requests] = GetParam();
  terminal.replies[CMD_RequestICC] = {Status(0x62, 0x00)};
  app->WaitingTime(waiting_time);

  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_NoCardInserted);
  EXPECT_EQ(std::count(terminal.received.begin(), terminal.received.end(), CMD_RequestICC),
            requests);
  const Texts& shown = platform.LastView().messages;
  EXPECT_EQ(std::count(shown.begin(), shown.end(), kInsertCard), requests)
      << "the prompt comes before every request";
  EXPECT_EQ(shown.back(), kInsertCard);
  EXPECT_EQ(app->KVKData()->Get(KVKField::FamilienName), "") << "the empty record of the read";
  ExpectIdleAfterRead();
}

INSTANTIATE_TEST_SUITE_P(WaitingTimes, NoCardTest,
                         ::testing::Values(std::tuple{std::int16_t{5}, 5},
                                           std::tuple{std::int16_t{1}, 1},
                                           std::tuple{std::int16_t{0}, 1},
                                           std::tuple{std::int16_t{-7}, 1},
                                           std::tuple{std::int16_t{INT16_MIN}, 1}));

TEST_F(ApplicationTest, CardInsertedAfterTwoWaitsIsRead) {
  terminal.replies[CMD_RequestICC] = {Status(0x62, 0x00), Status(0x62, 0x00), Status(0x90, 0x00)};
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(std::count(terminal.received.begin(), terminal.received.end(), CMD_RequestICC), 3);
  ExpectIdleAfterRead();
}

// One answer that ends the read early: which command, which status word, which result, and
// how many blocks were written by then.
struct EarlyEnd {
  CmdType cmd;
  int sw;
  enmReturnValue result;
};

class EarlyEndTest : public ApplicationTest, public ::testing::WithParamInterface<EarlyEnd> {};

TEST_P(EarlyEndTest, EndsTheReadAtThatCommand) {
  const EarlyEnd e = GetParam();
  terminal.replies[e.cmd] = {Status(e.sw >> 8, e.sw & 0xFF)};
  EXPECT_EQ(app->ReadCard(CRT_CommPort), e.result);
  ASSERT_FALSE(terminal.received.empty());
  EXPECT_EQ(terminal.received.back(), e.cmd) << "nothing is sent after the ending answer";
  EXPECT_TRUE(platform.LastView().destroyed);
  ExpectIdleAfterRead();
}

std::vector<EarlyEnd> EarlyEnds() {
  std::vector<EarlyEnd> all;
  for (CmdType cmd : {CMD_ResetCT, CMD_RequestICC, CMD_SelectFile, CMD_ReadBinary}) {
    for (int sw : {0x6700, 0x6900, 0x6A00, 0x6D00, 0x6E00}) all.push_back({cmd, sw, RV_Error});
  }
  all.push_back({CMD_ResetCT, 0x6400, RV_Error});
  all.push_back({CMD_ResetCT, 0x9001, RV_Error});
  all.push_back({CMD_RequestICC, 0x6400, RV_WrongCard});  // card reset failed
  all.push_back({CMD_RequestICC, 0x9001, RV_Error});
  all.push_back({CMD_SelectFile, 0x6A82, RV_WrongCard});  // application not found
  all.push_back({CMD_SelectFile, 0x6A81, RV_WrongCard});
  all.push_back({CMD_SelectFile, 0x9001, RV_WrongCard});
  all.push_back({CMD_ReadBinary, 0x6501, RV_CardRemovedDuringReading});
  all.push_back({CMD_ReadBinary, 0x6281, RV_CardRemovedDuringReading});
  all.push_back({CMD_ReadBinary, 0x6B00, RV_Error});
  // SW1 below 0x10 gives "900", which is not "9000".
  all.push_back({CMD_ReadBinary, 0x0900, RV_CardRemovedDuringReading});
  all.push_back({CMD_SelectFile, 0x0900, RV_WrongCard});
  return all;
}

INSTANTIATE_TEST_SUITE_P(Answers, EarlyEndTest, ::testing::ValuesIn(EarlyEnds()));

TEST_F(ApplicationTest, GeneralErrorToEjectKeepsTheRecord) {
  for (int sw : {0x6700, 0x6900, 0x6A00, 0x6D00, 0x6E00}) {
    terminal.replies[CMD_EjectICC] = {Status(sw >> 8, sw & 0xFF)};
    EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_Error) << std::hex << sw;
    ASSERT_NE(app->KVKData(), nullptr);
    EXPECT_EQ(app->KVKData()->Get(KVKField::Vorname), "Jürgn");
    ExpectIdleAfterRead();
  }
}

TEST_F(ApplicationTest, AnswerWithoutStatusWordEndsAsError) {
  terminal.replies[CMD_ResetCT] = {Answer({0x90})};  // one byte only
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_Error);
  EXPECT_EQ(terminal.received.back(), CMD_ResetCT);
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, SilentTerminalIsNotRespondingAfter800ms) {
  terminal.resynch_delay.reset();
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_NoReaderResponding);
  EXPECT_EQ(platform.loop.Now(), milliseconds(800));
  EXPECT_EQ(app->KVKData(), nullptr);
  EXPECT_EQ(Written(), Blocks({kResynch}));
  EXPECT_EQ(platform.LastView().messages, Texts{"Resync..."});
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, LateConfirmationChangesNothingAt800ms) {
  // Confirmed at 100 ms; the terminal then takes a second to reset, past the RESYNC expiry.
  terminal.resynch_delay = milliseconds(100);
  terminal.replies[CMD_ResetCT] = {Status(0x90, 0x00, milliseconds(1000))};
  milliseconds reset_sent{-1};
  terminal.on_command = [&](CmdType cmd) {
    if (cmd == CMD_ResetCT) reset_sent = platform.loop.Now();
  };
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(reset_sent, milliseconds(100));
  EXPECT_GT(platform.loop.Now(), milliseconds(1100));
  EXPECT_EQ(app->KVKData()->Get(KVKField::FamilienName), "Mäusel");
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, RepeatedConfirmationRestartsTheChain) {
  // The first REQUEST ICC is answered by an S(WTX response) instead of an I-block.
  const std::uint8_t wtx[] = {0x12, 0xE3, 0x00};  // NAD, S(WTX response), LEN 0
  terminal.replies[CMD_RequestICC] = {RawBlock(t1::MakeBlock(wtx[0], wtx[1], {})),
                                      Status(0x90, 0x00)};

  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(Written(), Blocks({kResynch, kResetCt0, kRequestIcc1, kResetCt0, kRequestIcc1, kSelect0,
                               kReadBinary1, kEject0}));
  EXPECT_EQ(platform.LastView().messages, (Texts{"Resync...", kInsertCard, kInsertCard,
                                                 kCardInserted, kReadingCard, kRemoveCard}));
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, CancelDropsTheRecord) {
  terminal.replies[CMD_RequestICC] = {Silence()};
  platform.loop.AddTimer(milliseconds(5000), [&] { platform.LastView().PressCancel(); });

  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_UserCanceled);
  EXPECT_EQ(platform.loop.Now(), milliseconds(5000)) << "nothing but the user ends this wait";
  EXPECT_EQ(app->KVKData(), nullptr);
  EXPECT_EQ(platform.LastView().cancel_states, std::vector<bool>{false});
  EXPECT_TRUE(platform.LastView().destroyed);
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, ClosingTheWindowCancels) {
  terminal.replies[CMD_SelectFile] = {Silence()};
  platform.loop.AddTimer(milliseconds(3000),
                         [&] { platform.LastView().RequestClose(UnloadMode::kUserClose); });
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_UserCanceled);
  EXPECT_EQ(app->KVKData(), nullptr);
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, CallsFromInsideTheWaitDoNotDisturbTheRead) {
  std::vector<enmReturnValue> nested_reads;
  std::vector<std::int16_t> nested_scans;
  platform.on_message = [&](FakeViewRecord&, const std::string& text) {
    if (text != kCardInserted) return;
    nested_reads.push_back(app->ReadCard(CRT_CommPort));
    nested_reads.push_back(app->ReadCard(CRT_Tastatur));
    nested_scans.push_back(app->GetCardPort());
  };
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_EQ(nested_reads, (std::vector<enmReturnValue>{RV_Error, RV_Error}));
  EXPECT_EQ(nested_scans, std::vector<std::int16_t>{0});
  EXPECT_EQ(Written(),
            Blocks({kResynch, kResetCt0, kRequestIcc1, kSelect0, kReadBinary1, kEject0}));
  EXPECT_EQ(platform.bus.Line(1).opens, 1);
  EXPECT_EQ(platform.views.size(), 2u) << "no window was created for the refused calls";
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, ConsecutiveReadsOnOneObjectEachSucceed) {
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  const auto first = app->KVKData();
  EXPECT_EQ(app->ReadCard(CRT_CommPort), RV_ReadSuccessful);
  EXPECT_NE(app->KVKData(), first);
  EXPECT_EQ(first->Get(KVKField::FamilienName), "Mäusel") << "the host's record stays valid";
  // A new link per read: the second read starts at N(S) 0 again.
  EXPECT_EQ(Written().size(), 12u);
  EXPECT_EQ(Written()[7], Bytes(std::begin(kResetCt0), std::end(kResetCt0)));
  ExpectIdleAfterRead();
}

TEST_F(ApplicationTest, UnknownReaderTypeReadsNothing) {
  EXPECT_EQ(app->ReadCard(3), RV_Error);
  EXPECT_EQ(app->ReadCard(0), RV_Error);
  EXPECT_TRUE(Written().empty());
  EXPECT_TRUE(platform.log_lines.empty());
  ExpectIdleAfterRead();
}

}  // namespace
}  // namespace qz::testing
