// frmkvkUI on a fake view: what it tells its owner when the user acts, how the modal wait
// ends, and the keyboard read it runs once it is on the screen.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/fakes/fake_platform.h"
#include "ui/frm_kvk_ui.h"

namespace qz::testing {
namespace {

using std::chrono::milliseconds;

// Records the window's events; can throw back from the keyboard reports as the owner does.
struct RecordingOwner : frmkvkUIEvents {
  void CloseWindow() override { ++close_windows; }
  void KeyboardCherryError(std::int32_t& lngNumber, std::string& strDescription) override {
    cherry_errors.emplace_back(lngNumber, strDescription);
    if (unload_on_report != nullptr) unload_on_report->Unload();
    if (throw_back) throw AutomationError(-2147221502, "mKeyboard_CherryError", "trapped");
  }
  void KeyboardError(AutomationError& mErr, std::string& strModul, std::string& strProc,
                     std::string&) override {
    keyboard_errors.push_back(mErr.Number());
    where.push_back(strModul + "/" + strProc);
  }
  void mError(AutomationError& mErr, std::string& strModul, std::string& strProc,
              std::string& strZusatz) override {
    m_errors.push_back(mErr.Number());
    m_error_sources.push_back(mErr.Source());
    where.push_back(strModul + "/" + strProc + "/" + strZusatz);
  }

  int close_windows = 0;
  bool throw_back = false;
  frmkvkUI* unload_on_report = nullptr;  // the window closes while the reader is still reading
  std::vector<std::pair<std::int32_t, std::string>> cherry_errors;
  std::vector<std::int32_t> keyboard_errors;
  std::vector<std::int32_t> m_errors;
  std::vector<std::string> m_error_sources;
  std::vector<std::string> where;
};

class ReaderWindowTest : public ::testing::Test {
 protected:
  FakeViewRecord& View() { return platform.LastView(); }

  FakePlatform platform;
  RecordingOwner owner;
  frmkvkUI window{platform.loop, platform.CreateReaderView(), owner,
                  [this] { return platform.CreateKeyboardReader(); }};
};

TEST_F(ReaderWindowTest, TextsAndButtonReachTheView) {
  window.SetTitle("KVK Kartenlesegerät an Port 3");
  window.Message("Resync...");
  window.Message("");
  window.SetCancelEnabled(false);
  EXPECT_EQ(View().titles, std::vector<std::string>{"KVK Kartenlesegerät an Port 3"});
  EXPECT_EQ(View().messages, (std::vector<std::string>{"Resync...", ""}));
  EXPECT_EQ(window.MessageText(), "");
  EXPECT_FALSE(View().cancel_enabled);
  EXPECT_FALSE(window.CancelEnabled());
}

TEST_F(ReaderWindowTest, CancelRaisesCloseWindowOnceAndDisablesTheButton) {
  View().PressCancel();
  View().PressCancel();
  EXPECT_EQ(owner.close_windows, 1);
  EXPECT_FALSE(window.CancelEnabled());
  EXPECT_EQ(View().cancel_states, std::vector<bool>{false});
  EXPECT_FALSE(window.Unloaded()) << "the owner decides what a cancel does";
}

TEST_F(ReaderWindowTest, CloseRequestsFollowTheUnloadMode) {
  struct Case {
    UnloadMode mode;
    int events;
  };
  for (Case c : {Case{UnloadMode::kUserClose, 1}, Case{UnloadMode::kCode, 0},
                 Case{UnloadMode::kSessionEnd, 1}, Case{UnloadMode::kTaskManager, 1},
                 Case{UnloadMode::kMdiParent, 0}, Case{UnloadMode::kOwnerClosing, 0}}) {
    RecordingOwner fresh;
    frmkvkUI w(platform.loop, platform.CreateReaderView(), fresh, nullptr);
    View().RequestClose(c.mode);
    EXPECT_EQ(fresh.close_windows, c.events) << static_cast<int>(c.mode);
    EXPECT_TRUE(w.Unloaded()) << "never refused";
    EXPECT_TRUE(View().destroyed);
  }
}

TEST_F(ReaderWindowTest, UnloadFromCodeRaisesNothingAndIsRepeatable) {
  window.Unload();
  window.Unload();
  EXPECT_EQ(owner.close_windows, 0);
  EXPECT_TRUE(View().destroyed);
  window.ShowModal();  // returns at once
  EXPECT_EQ(View().shows, 0);
}

TEST_F(ReaderWindowTest, ModalWaitEndsWhenHiddenOrUnloaded) {
  platform.loop.AddTimer(milliseconds(40), [&] { window.Hide(); });
  window.ShowModal();
  EXPECT_TRUE(View().shown_modal);
  EXPECT_EQ(platform.loop.Now(), milliseconds(40));
  EXPECT_FALSE(window.Unloaded());

  platform.loop.AddTimer(milliseconds(10), [&] { window.Unload(); });
  window.ShowModal();
  EXPECT_EQ(platform.loop.Now(), milliseconds(50));
  EXPECT_TRUE(window.Unloaded());
}

TEST_F(ReaderWindowTest, KeyboardReadStartsOnceTheWindowIsVisible) {
  platform.keyboard.result = true;
  window.WaitingTime(5);
  window.EnableCherryTimer();
  platform.loop.AdvanceBy(milliseconds(120));  // not shown yet: the timer keeps polling
  EXPECT_EQ(platform.keyboards_created, 0);

  window.ShowModal();  // the next tick (150 ms) reads, then hides the window
  EXPECT_EQ(platform.loop.Now(), milliseconds(150));
  EXPECT_EQ(platform.keyboard_timeouts, std::vector<std::int32_t>{5000});
  EXPECT_TRUE(window.CherryReturnValue());
  ASSERT_NE(window.CherryKeyboard(), nullptr);
  EXPECT_FALSE(View().visible);
  EXPECT_EQ(platform.loop.PendingTimers(), 0u) << "one read per EnableCherryTimer";

  window.Unload();
  EXPECT_EQ(window.CherryKeyboard(), nullptr);
  EXPECT_EQ(platform.keyboards_alive, 0);
}

TEST_F(ReaderWindowTest, MissingKeyboardLibraryIsHandedUpThroughMError) {
  platform.keyboard_installed = false;
  window.EnableCherryTimer();
  window.ShowModal();
  EXPECT_EQ(owner.m_errors, std::vector<std::int32_t>{kErrComponentNotRegistered});
  EXPECT_EQ(owner.where, std::vector<std::string>{"frmUI/ReadCherry/"});
  EXPECT_FALSE(window.CherryReturnValue());
  EXPECT_EQ(window.CherryKeyboard(), nullptr);
  EXPECT_FALSE(View().visible);
}

TEST_F(ReaderWindowTest, WaitingTimeTooLargeForMillisecondsFailsTheRead) {
  window.WaitingTime(2'147'484);  // * 1000 overflows 32 bits
  window.EnableCherryTimer();
  window.ShowModal();
  EXPECT_EQ(owner.m_errors, std::vector<std::int32_t>{6});
  EXPECT_TRUE(platform.keyboard_timeouts.empty());
  EXPECT_EQ(platform.keyboards_alive, 0);
}

TEST_F(ReaderWindowTest, ReportsAreForwardedAndTheResultStillStored) {
  platform.keyboard.cherry_errors = {{7, "Leser belegt"}};
  platform.keyboard.report_error = true;
  platform.keyboard.result = true;
  window.EnableCherryTimer();
  window.ShowModal();
  EXPECT_EQ(owner.cherry_errors,
            (std::vector<std::pair<std::int32_t, std::string>>{{7, "Leser belegt"}}));
  EXPECT_EQ(owner.keyboard_errors, std::vector<std::int32_t>{1004});
  EXPECT_EQ(owner.where, std::vector<std::string>{"clsReader/ReadKVK"});
  EXPECT_TRUE(window.CherryReturnValue()) << "ReadKVK's value is stored when it returns";
  EXPECT_FALSE(View().visible);
}

TEST_F(ReaderWindowTest, ErrorThrownBackByTheOwnerFailsTheRead) {
  owner.throw_back = true;
  platform.keyboard.cherry_errors = {{7, "X"}};
  window.EnableCherryTimer();
  window.ShowModal();
  EXPECT_EQ(owner.m_errors, std::vector<std::int32_t>{-2147221502});
  EXPECT_EQ(owner.m_error_sources, std::vector<std::string>{"mKeyboard_CherryError"});
  EXPECT_FALSE(window.CherryReturnValue());
  EXPECT_EQ(window.CherryKeyboard(), nullptr);
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
