// frmkvkUI on a fake view: what it tells its owner when the user acts, and the keyboard read
// it starts once it is on the screen.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/fakes/fake_platform.h"
#include "ui/frm_kvk_ui.h"

namespace qz::testing {
namespace {

using namespace std::chrono_literals;

// The window's owner is the fixture: it counts cancels and collects mError's reports.
struct ReaderWindowTest : ::testing::Test, frmkvkUIEvents {
  void CloseWindow() override { ++closes; }
  void KeyboardCherryError(std::int32_t&, std::string&) override {
    if (unload_on_report != nullptr) unload_on_report->Unload();
  }
  void KeyboardError(AutomationError&, std::string&, std::string&, std::string&) override {}
  void mError(AutomationError& err, std::string&, std::string&, std::string&) override {
    errors += std::to_string(err.Number()) + " " + err.Description() + ";";
  }

  FakePlatform platform;
  int closes = 0;
  std::string errors;
  frmkvkUI* unload_on_report = nullptr;
  frmkvkUI window{platform.loop, platform.CreateReaderView(), *this,
                  [this] { return platform.CreateKeyboardReader(); }};
};

TEST_F(ReaderWindowTest, CancelIsRaisedOnceAndOnlyWhenTheUserOrSystemAsksToClose) {
  platform.LastView().PressCancel();
  platform.LastView().PressCancel();
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(platform.LastView().cancel_states, std::vector<bool>{false});
  EXPECT_FALSE(window.Unloaded()) << "the owner decides what a cancel does";
  // Close requests: user close box, code, session end, task manager, MDI parent, owner.
  for (int mode = 0; mode < 6; ++mode) {
    const int before = closes;
    frmkvkUI w(platform.loop, platform.CreateReaderView(), *this, nullptr);
    platform.LastView().RequestClose(UnloadMode(mode));
    EXPECT_EQ(closes - before, mode == 0 || mode == 2 || mode == 3) << mode;
    EXPECT_TRUE(w.Unloaded() && platform.LastView().destroyed) << "never refused";
  }
}

TEST_F(ReaderWindowTest, KeyboardReadStartsAtThePollAfterTheWindowIsShown) {
  window.WaitingTime(5);
  window.EnableCherryTimer();
  platform.loop.AdvanceBy(120ms);  // polled twice, not shown yet
  EXPECT_TRUE(platform.keyboard_timeouts.empty());
  window.ShowModal();
  EXPECT_EQ(platform.loop.Now(), 150ms);
  EXPECT_EQ(platform.keyboard_timeouts, std::vector<std::int32_t>{5000});
  EXPECT_TRUE(window.CherryReturnValue());
  EXPECT_FALSE(platform.views[0]->visible) << "the read ends the modal wait";
  EXPECT_EQ(platform.loop.PendingTimers(), 0u) << "one read per EnableCherryTimer";
  window.Unload();
  EXPECT_EQ(platform.keyboards_alive, 0);
}

// A failure that is no AutomationError reaches the owner through mError too, and the wait ends.
TEST_F(ReaderWindowTest, EveryFailureOfTheKeyboardReadIsHandedUpThroughMError) {
  frmkvkUI w(platform.loop, platform.CreateReaderView(), *this,
             []() -> std::unique_ptr<KeyboardReader> { throw std::runtime_error(""); });
  w.EnableCherryTimer();
  w.ShowModal();
  EXPECT_EQ(errors, "51 Internal error;");
  EXPECT_FALSE(w.CherryReturnValue());
}

TEST_F(ReaderWindowTest, UnloadDuringTheReadReleasesTheReaderAfterItsCall) {
  unload_on_report = &window;
  platform.keyboard.cherry_errors = {{3, "Fenster zu"}};
  window.EnableCherryTimer();
  window.ShowModal();
  EXPECT_TRUE(window.Unloaded());
  EXPECT_EQ(window.CherryKeyboard(), nullptr);
  EXPECT_EQ(platform.keyboards_alive, 0);
}

}  // namespace
}  // namespace qz::testing
