// Shared by the application tests: a peer into clsApplication's private state, the blocks of a
// good read, the test cards, and a fixture with a platform, a good terminal on COM1 and an object.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "app/cls_application.h"
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
  void LogError(const AutomationError& err, const std::string& method, const std::string& comment) {
    app_.LogError(err, method, comment);
  }

 private:
  clsApplication& app_;
};

namespace testing {

using Bytes = std::vector<std::uint8_t>;
using Texts = std::vector<std::string>;

// The blocks of a good read as written (NAD, PCB, LEN, INF, EDC); the digit is N(S).
// clang-format off
inline const Bytes kResynch     = {0x12, 0xC0, 0x00, 0xD2};
inline const Bytes kResetCt0    = {0x12, 0x00, 0x05, 0x20, 0x11, 0x00, 0x00, 0x00, 0x26};
inline const Bytes kRequestIcc1 = {0x12, 0x40, 0x06, 0x20, 0x12, 0x01, 0x00, 0x01, 0x01, 0x67};
inline const Bytes kSelect0     = {0x02, 0x00, 0x0B, 0x00, 0xA4, 0x04, 0x00, 0x06,
                                   0xD2, 0x76, 0x00, 0x00, 0x01, 0x01, 0x0B};
inline const Bytes kReadBinary1 = {0x02, 0x40, 0x05, 0x00, 0xB0, 0x00, 0x00, 0x00, 0xF7};
inline const Bytes kEject0      = {0x12, 0x00, 0x06, 0x20, 0x15, 0x01, 0x01, 0x01, 0x01, 0x21};
// clang-format on

// A card file of tests/data, as READ BINARY returns it without SW1 SW2.
inline Bytes Card(const char* file) {
  std::ifstream in(std::string(QZ_TEST_DATA_DIR) + "/" + file, std::ios::binary);
  Bytes bytes{std::istreambuf_iterator<char>(in), {}};
  EXPECT_FALSE(bytes.empty()) << file;
  return bytes;
}

inline constexpr char kInsertCard[] = "Bitte Karte einführen...";
inline constexpr char kCardInserted[] = "Karte eingeführt.";
inline constexpr char kReadingCard[] = "Karte wird gelesen...";
inline constexpr char kRemoveCard[] = "Karte entnehmen...";

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

}  // namespace testing
}  // namespace qz
