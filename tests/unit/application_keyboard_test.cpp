// ReadCard(CRT_Tastatur): the window prepared for the keyboard, the outcome after it has gone,
// the record copied, and the keyboard reader's errors as the log and the host see them.
#include <gtest/gtest.h>

#include "tests/unit/application_test_support.h"

namespace qz::testing {
namespace {

class KeyboardReadTest : public ApplicationTest {
 protected:
  AutomationError ReadExpectingError() {
    try {
      app->ReadCard(CRT_Tastatur);
    } catch (const AutomationError& err) {
      return err;
    }
    ADD_FAILURE() << "ReadCard raised nothing";
    return AutomationError(0, "", "");
  }
  // Every field of the record empty.
  static bool Empty(const clsKVKData& record) {
    for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
      if (!record.Get(static_cast<KVKField>(f)).empty()) return false;
    }
    return true;
  }
};

TEST_F(KeyboardReadTest, SuccessCopiesFifteenFieldsUnchanged) {
  for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
    // Blanks and braces stay: the keyboard reader delivers display text.
    platform.keyboard.fields[static_cast<KVKField>(f)] =
        " " + std::string(kKVKFieldNames[f]) + "{ ";
  }
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_ReadSuccessful);

  const auto record = app->KVKData();
  ASSERT_NE(record, nullptr);
  for (std::size_t f = 0; f < kKVKFieldCount; ++f) {
    const auto field = static_cast<KVKField>(f);
    if (field == KVKField::KrankenKassenNummer || field == KVKField::Checksum) {
      EXPECT_EQ(record->Get(field), "") << kKVKFieldNames[f];
    } else {
      EXPECT_EQ(record->Get(field), " " + std::string(kKVKFieldNames[f]) + "{ ");
    }
  }
  const FakeViewRecord& view = platform.LastView();
  EXPECT_EQ(view.titles, std::vector<std::string>{"KVK Kartenlesegerät an Tastatur"});
  EXPECT_EQ(view.messages, std::vector<std::string>{"Bitte warten, bis Karte eingelesen wurde"});
  EXPECT_EQ(view.cancel_states, std::vector<bool>{false}) << "no cancel during a keyboard read";
  EXPECT_TRUE(view.destroyed);
  EXPECT_EQ(platform.keyboard_timeouts, std::vector<std::int32_t>{5000});
  EXPECT_EQ(platform.keyboards_alive, 0) << "released with the window";
  EXPECT_TRUE(platform.log_lines.empty());
  ExpectIdleAfterRead();
}

TEST_F(KeyboardReadTest, UnreadableCardIsNoCardInsertedWithAnEmptyRecord) {
  platform.keyboard.result = false;
  platform.keyboard.cherry_errors = {{-42, "Karte nicht lesbar"}};
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_NoCardInserted);
  ASSERT_NE(app->KVKData(), nullptr);
  EXPECT_TRUE(Empty(*app->KVKData()));
  EXPECT_TRUE(platform.log_lines.empty());

  // The next read on the object that simply fails is not taken for an unreadable card.
  platform.keyboard.cherry_errors.clear();
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_Error);
  ExpectIdleAfterRead();
}

TEST_F(KeyboardReadTest, ReadWithoutResultOrReportIsAnError) {
  platform.keyboard.result = false;
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_Error);
  ASSERT_NE(app->KVKData(), nullptr);
  EXPECT_TRUE(Empty(*app->KVKData()));
}

TEST_F(KeyboardReadTest, CherryErrorIsLoggedAndReachesTheHost) {
  platform.keyboard.cherry_errors = {{7, "X"}};
  const AutomationError err = ReadExpectingError();
  EXPECT_EQ(err.Number(), ERR_InCherry);
  EXPECT_EQ(err.Source(), "mKeyboard_CherryError");
  EXPECT_EQ(err.Description(), "Error is trapped in KbdBridge7 X");

  ASSERT_EQ(platform.log_lines.size(), 2u);
  EXPECT_EQ(platform.log_lines[0],
            "06.12.2026\t03:15:02\tModule : ClsApplication\tMethod : mKeyboard_CherryError"
            "\tComment : None\tErrNo : 7\tErrDesc. : XNo:7\tErrSource : CherryError\r\n");
  EXPECT_NE(platform.log_lines[1].find("\tMethod : ReadCard\tComment : None\tErrNo : "
                                       "-2147221502\tErrDesc. : Error is trapped in KbdBridge7 X"),
            std::string::npos);
  ASSERT_NE(app->KVKData(), nullptr);
  EXPECT_TRUE(Empty(*app->KVKData()));
  EXPECT_TRUE(platform.LastView().destroyed);
  ExpectIdleAfterRead();
}

TEST_F(KeyboardReadTest, KeyboardErrorReportIsLoggedWhereItHappened) {
  platform.keyboard.report_error = true;  // 1004 "Reader jammed" in clsReader.ReadKVK
  const AutomationError err = ReadExpectingError();
  EXPECT_EQ(err.Number(), ERR_InCherry);
  EXPECT_EQ(err.Source(), "mKeyboard_Error");
  EXPECT_EQ(err.Description(), "Error is trapped in KbdBridge");
  ASSERT_EQ(platform.log_lines.size(), 2u);
  EXPECT_EQ(platform.log_lines[0],
            "06.12.2026\t03:15:02\tModule : ClsApplication\tMethod : ReadKVK"
            "\tComment : Module: clsReader\tErrNo : 1004\tErrDesc. : Reader jammed"
            "\tErrSource : KbdBridge\r\n");
}

TEST_F(KeyboardReadTest, MissingKeyboardLibraryIsNoCherryDriver) {
  platform.keyboard_installed = false;
  const AutomationError err = ReadExpectingError();
  EXPECT_EQ(err.Number(), -2147221501);
  EXPECT_EQ(err.Source(), "ReadCard");
  EXPECT_EQ(err.Description(), "No Cherry Driver installed");
  ASSERT_EQ(platform.log_lines.size(), 1u);
  EXPECT_NE(platform.log_lines[0].find("\tErrNo : 339\t"), std::string::npos)
      << "the log keeps the original error";
  ExpectIdleAfterRead();
}

TEST_F(KeyboardReadTest, FailingReadIsRaisedWithItsOwnError) {
  platform.keyboard.fail_number = 1005;
  const AutomationError err = ReadExpectingError();
  EXPECT_EQ(err.Number(), 1005);
  EXPECT_EQ(err.Source(), "KbdBridge");
}

TEST_F(KeyboardReadTest, ClosingTheWindowBeforeTheReadIsAnError) {
  platform.on_show = [](FakeViewRecord& view) { view.RequestClose(UnloadMode::kUserClose); };
  EXPECT_EQ(app->ReadCard(CRT_Tastatur), RV_Error);
  ASSERT_NE(app->KVKData(), nullptr);
  EXPECT_TRUE(Empty(*app->KVKData()));
  EXPECT_EQ(platform.keyboards_created, 0);
  EXPECT_EQ(platform.loop.PendingTimers(), 0u) << "the polling timer went with the window";
  ExpectIdleAfterRead();
}

TEST_F(KeyboardReadTest, WaitingTimeIsPassedInMilliseconds) {
  app->WaitingTime(12);
  app->ReadCard(CRT_Tastatur);
  EXPECT_EQ(platform.keyboard_timeouts, std::vector<std::int32_t>{12000});
}

}  // namespace
}  // namespace qz::testing
