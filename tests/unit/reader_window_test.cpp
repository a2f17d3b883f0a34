// frmkvkUI on a fake view: what it tells its owner when the user acts, and the keyboard read
// it starts once it is on the screen.
#include <gtest/gtest.h>

#include <chrono>
#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/fakes/fake_platform.h"
#include "ui/frm_kvk_ui.h"

namespace qz::testing {
namespace {

using std::chrono::milliseconds;

struct Owner : frmkvkUIEvents {
  void CloseWindow() override { ++closes; }
  void KeyboardCherryError(std::int32_t&, std::string&) override {
    if (unload_on_report != nullptr) unload_on_report->Unload();
  }
  void KeyboardError(AutomationError&, std::string&, std::string&, std::string&) override {}
  void mError(AutomationError& err, std::string&, std::string&, std::string&) override {
    errors.push_back(err);
  }

  int closes = 0;
  std::vector<AutomationError> errors;
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

TEST_F(ReaderWindowTest, CancelIsRaisedOnceAndDisablesTheButton) {
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

// Whatever fails in the keyboard read reaches the owner through mError, and the wait ends.
TEST_F(ReaderWindowTest, EveryFailureOfTheKeyboardReadIsHandedUpThroughMError) {
  struct Case {
    std::exception_ptr thrown;
    std::int32_t number;
    const char* description;
  };
  for (const Case& c :
       {Case{std::make_exception_ptr(std::bad_alloc()), 7, "Out of memory"},
        Case{std::make_exception_ptr(std::runtime_error("")), 51, "Internal error"}}) {
    Owner fresh;
    frmkvkUI w(platform.loop, platform.CreateReaderView(), fresh,
               [&c]() -> std::unique_ptr<KeyboardReader> { std::rethrow_exception(c.thrown); });
    w.EnableCherryTimer();
    w.ShowModal();
    ASSERT_EQ(fresh.errors.size(), 1u);
    EXPECT_EQ(fresh.errors[0].Number(), c.number);
    EXPECT_EQ(fresh.errors[0].Description(), c.description);
    EXPECT_FALSE(w.CherryReturnValue());
  }
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
