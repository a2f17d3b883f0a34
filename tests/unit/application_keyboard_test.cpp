// Keyboard reads: the record copied from the keyboard reader, its reports as the log and the host
// see them; and the reader window's own logic on a fake view.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "tests/unit/application_test_support.h"
#include "ui/frm_kvk_ui.h"

namespace qz::testing {
namespace {

using std::chrono::milliseconds;

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

// Reads that end without a record and without an error, in this order on one object: an
// unreadable card must not stick to the next read.
TEST_F(ApplicationTest, KeyboardReadWithoutRecord) {
  struct Case {
    const char* name;
    std::function<void()> script;
    enmReturnValue result;
  };
  const Case cases[] = {
      {"unreadable card",
       [&] {
         platform.keyboard.result = false;
         platform.keyboard.cherry_errors = {{-42, "Karte nicht lesbar"}};
       },
       RV_NoCardInserted},
      {"no result, no report", [&] { platform.keyboard.cherry_errors.clear(); }, RV_Error},
      {"window closed before the read",
       [&] {
         platform.keyboard.result = true;
         platform.on_show = [](FakeViewRecord& v) { v.RequestClose(UnloadMode::kUserClose); };
       },
       RV_Error},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    c.script();
    EXPECT_EQ(app->ReadCard(CRT_Tastatur), c.result);
    ASSERT_NE(app->KVKData(), nullptr);
    EXPECT_TRUE(Empty(*app->KVKData()));
    EXPECT_TRUE(platform.log_lines.empty());
    ExpectIdle();
  }
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
}

struct Owner : frmkvkUIEvents {
  void CloseWindow() override { ++closes; }
  void KeyboardCherryError(std::int32_t&, std::string&) override {
    if (unload_on_report != nullptr) unload_on_report->Unload();
  }
  void KeyboardError(AutomationError&, std::string&, std::string&, std::string&) override {}
  void mError(AutomationError&, std::string&, std::string&, std::string&) override {}

  int closes = 0;
  frmkvkUI* unload_on_report = nullptr;
};

class ReaderWindowTest : public ::testing::Test {
 protected:
  FakeViewRecord& View() { return platform.LastView(); }

  FakePlatform platform;
  Owner owner;
  frmkvkUI window{platform.loop, platform.CreateReaderView(), owner,
                  [this] { return platform.CreateKeyboardReader(); }};
};

TEST_F(ReaderWindowTest, TextsReachTheViewAndCancelIsRaisedOnce) {
  window.SetTitle("KVK Kartenlesegerät an Port 3");
  window.Message("Resync...");
  EXPECT_EQ(View().titles, Texts{"KVK Kartenlesegerät an Port 3"});
  EXPECT_EQ(View().messages, Texts{"Resync..."});

  View().PressCancel();
  View().PressCancel();
  EXPECT_EQ(owner.closes, 1);
  EXPECT_EQ(View().cancel_states, std::vector<bool>{false});
  EXPECT_FALSE(window.Unloaded()) << "the owner decides what a cancel does";
}

TEST_F(ReaderWindowTest, CloseRequestsCancelOnlyWhenTheUserOrSystemAsks) {
  for (auto [mode, closes] : {std::pair{UnloadMode::kUserClose, 1},
                              {UnloadMode::kCode, 0},
                              {UnloadMode::kSessionEnd, 1},
                              {UnloadMode::kTaskManager, 1},
                              {UnloadMode::kMdiParent, 0},
                              {UnloadMode::kOwnerClosing, 0}}) {
    Owner fresh;
    frmkvkUI w(platform.loop, platform.CreateReaderView(), fresh, nullptr);
    View().RequestClose(mode);
    EXPECT_EQ(fresh.closes, closes) << static_cast<int>(mode);
    EXPECT_TRUE(w.Unloaded()) << "never refused";
    EXPECT_TRUE(View().destroyed);
  }
}

TEST_F(ReaderWindowTest, UnloadFromCodeRaisesNothingAndLeavesNothingToShow) {
  window.Unload();
  window.Unload();
  EXPECT_EQ(owner.closes, 0);
  EXPECT_TRUE(View().destroyed);
  window.ShowModal();  // returns at once
  EXPECT_FALSE(View().shown_modal);
}

TEST_F(ReaderWindowTest, KeyboardReadStartsAtThePollAfterTheWindowIsShown) {
  window.WaitingTime(5);
  window.EnableCherryTimer();
  platform.loop.AdvanceBy(milliseconds(120));  // polled twice, not shown yet
  EXPECT_EQ(platform.keyboards_created, 0);

  window.ShowModal();
  EXPECT_EQ(platform.loop.Now(), milliseconds(150));
  EXPECT_EQ(platform.keyboard_timeouts, std::vector<std::int32_t>{5000});
  EXPECT_TRUE(window.CherryReturnValue());
  EXPECT_FALSE(View().visible) << "the read ends the modal wait";
  EXPECT_EQ(platform.loop.PendingTimers(), 0u) << "one read per EnableCherryTimer";
  window.Unload();
  EXPECT_EQ(platform.keyboards_alive, 0);
}

TEST_F(ReaderWindowTest, UnloadDuringTheReadReleasesTheReaderAfterItsCall) {
  owner.unload_on_report = &window;
  platform.keyboard.cherry_errors = {{3, "Fenster zu"}};
  window.EnableCherryTimer();
  window.ShowModal();
  EXPECT_TRUE(window.Unloaded());
  EXPECT_EQ(window.CherryKeyboard(), nullptr);
  EXPECT_EQ(platform.keyboards_alive, 0);
}

}  // namespace
}  // namespace qz::testing
