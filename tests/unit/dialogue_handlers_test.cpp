// The dialogue's handlers called directly, for the cases a whole read cannot reach: answers
// with no row, the timer keys, and the confirmation outside a read.
#include <gtest/gtest.h>

#include "tests/unit/application_test_support.h"

using namespace std::string_literals;

namespace qz::testing {
namespace {

class DialogueTest : public ApplicationTest {
 protected:
  DialogueTest() {
    peer.Link().COMM().SetCommPort(1);
    peer.Link().COMM().SetPortOpen(true);
    peer.SetBusy(true);
    peer.SetResult(RV_ReadSuccessful);
  }
  bool DialogueEnded() { return !peer.Busy() && peer.Window().Unloaded(); }
};

TEST_F(DialogueTest, AnswerWithoutRowOnlyResetsTheResult) {
  for (CmdType cmd : {CMD_Resynch, 0, 7, -1}) {
    peer.SetResult(RV_ReadSuccessful);
    peer.CommandReceived("\x90\x00"s, cmd);
    EXPECT_EQ(peer.Result(), RV_Error) << cmd;
    EXPECT_TRUE(Written().empty());
    EXPECT_TRUE(peer.Busy());
    EXPECT_FALSE(peer.Window().Unloaded());
  }
}

TEST_F(DialogueTest, GeneralErrorEndsTheDialogueWhateverTheCommand) {
  peer.CommandReceived("\x6E\x00"s, CMD_Resynch);
  EXPECT_EQ(peer.Result(), RV_Error);
  EXPECT_TRUE(DialogueEnded());
  EXPECT_TRUE(Written().empty());
}

TEST_F(DialogueTest, ResetAnsweredWithoutDataPromptsForTheCard) {
  peer.CommandReceived("\x90\x00"s, CMD_ResetCT);
  EXPECT_EQ(peer.Window().MessageText(), kInsertCard);
  EXPECT_EQ(Written(), Blocks({kRequestIcc0}));
  EXPECT_FALSE(DialogueEnded());
}

TEST_F(DialogueTest, NoCardCountIsKeptWhenTheCardComes) {
  app->WaitingTime(3);
  peer.CommandReceived("\x62\x00"s, CMD_RequestICC);
  peer.CommandReceived("\x62\x00"s, CMD_RequestICC);
  EXPECT_EQ(peer.NoCardCount(), 2);
  EXPECT_EQ(peer.Result(), RV_NoCardInserted);
  peer.CommandReceived("\x90\x00"s, CMD_RequestICC);
  EXPECT_EQ(peer.NoCardCount(), 2);
  EXPECT_EQ(peer.Window().MessageText(), kCardInserted);
}

TEST_F(DialogueTest, TimerKeysAreCaseSensitive) {
  peer.SetPortWait(true);
  for (const char* key : {"resync", "Resync", "RESYNC ", "portcheck", "", "OTHER"}) {
    peer.TimeReached(key);
    EXPECT_TRUE(peer.PortWait()) << key;
    EXPECT_NE(app->KVKData(), nullptr) << key;
    EXPECT_FALSE(DialogueEnded()) << key;
  }
  peer.TimeReached("PORTCHECK");
  EXPECT_FALSE(peer.PortWait());
  EXPECT_NE(app->KVKData(), nullptr);
  EXPECT_EQ(platform.bus.open_count, 1) << "the port search closes its own ports";
}

TEST_F(DialogueTest, ResyncExpiryAfterConfirmationChangesNothing) {
  peer.SetResyncDone(true);
  peer.TimeReached("RESYNC");
  EXPECT_EQ(peer.Result(), RV_ReadSuccessful);
  EXPECT_EQ(platform.bus.open_count, 1);
  EXPECT_NE(app->KVKData(), nullptr);
}

TEST_F(DialogueTest, ResyncExpiryWithoutConfirmationEndsTheRead) {
  peer.TimeReached("RESYNC");
  EXPECT_EQ(peer.Result(), RV_NoReaderResponding);
  EXPECT_EQ(platform.bus.open_count, 0);
  EXPECT_EQ(app->KVKData(), nullptr);
  EXPECT_TRUE(peer.Window().Unloaded());
  EXPECT_TRUE(peer.Busy()) << "ReadCard clears it";
}

TEST_F(DialogueTest, ConfirmationStartsTheChainInARead) {
  peer.WTXResynchCompleted(0);
  EXPECT_FALSE(peer.ResyncDone());
  EXPECT_TRUE(Written().empty());
  peer.WTXResynchCompleted(1);
  EXPECT_TRUE(peer.ResyncDone());
  EXPECT_FALSE(peer.PortFound());
  EXPECT_EQ(Written(), Blocks({kResetCt0}));
}

TEST_F(DialogueTest, ConfirmationDuringThePortSearchOnlyMarksThePort) {
  peer.SetPortCheck(true);
  peer.WTXResynchCompleted(1);
  EXPECT_TRUE(peer.PortFound());
  EXPECT_TRUE(peer.ResyncDone());
  EXPECT_TRUE(Written().empty());
}

TEST_F(DialogueTest, CardFileWithoutARecordGetsANewOne) {
  peer.DropRecord();  // as after a cancelled read; Test can still run the chain
  std::string answer(reinterpret_cast<const char*>(kTaggedCard), sizeof kTaggedCard);
  answer += "\x90\x00"s;
  peer.CommandReceived(answer, CMD_ReadBinary);
  ASSERT_NE(app->KVKData(), nullptr);
  EXPECT_EQ(app->KVKData()->Get(KVKField::KrankenKassenName), "AOK Bayern");
  EXPECT_EQ(peer.Result(), RV_ReadSuccessful);
  EXPECT_EQ(peer.Window().MessageText(), kRemoveCard);
  EXPECT_EQ(Written(), Blocks({kEject0}));
}

}  // namespace
}  // namespace qz::testing
