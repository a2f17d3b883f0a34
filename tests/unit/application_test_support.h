// Shared by the application tests: a peer that reads clsApplication's private state and calls
// its handlers, the blocks a read writes, and a fixture with a platform, a terminal on COM1 and
// an application object.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <span>
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
  frmkvkUI& Window() { return *app_.mFrmUI; }
  bool Busy() const { return app_.mBusy; }
  std::int32_t Result() const { return app_.mResult; }
  bool ResyncDone() const { return app_.mResyncDone; }
  std::int16_t NoCardCount() const { return app_.mNoCardCount; }
  bool PortCheck() const { return app_.mPortCheck; }
  bool PortFound() const { return app_.mPortFound; }
  bool PortWait() const { return app_.mPortWait; }
  bool CardUnreadable() const { return app_.mCardUnreadable; }
  std::int32_t ErrNumber() const { return app_.mErrNumber; }

  void SetBusy(bool v) { app_.mBusy = v; }
  void SetResult(std::int32_t v) { app_.mResult = v; }
  void SetNoCardCount(std::int16_t v) { app_.mNoCardCount = v; }
  void SetPortCheck(bool v) { app_.mPortCheck = v; }
  void SetPortWait(bool v) { app_.mPortWait = v; }
  void SetResyncDone(bool v) { app_.mResyncDone = v; }
  void DropRecord() { app_.mKVKData = nullptr; }

  void CommandReceived(const std::string& sBuffer, CmdType CMD) {
    app_.mFrm_CommandReceived(sBuffer, CMD);
  }
  void TimeReached(const std::string& key) { app_.mFrm_TimeReached(key); }
  void WTXResynchCompleted(std::int32_t cmd) { app_.mFrm_WTXResynchCompleted(cmd); }
  void LogError(const AutomationError& err, const std::string& method, const std::string& comment) {
    app_.LogError(err, method, comment);
  }

 private:
  clsApplication& app_;
};

namespace testing {

using Bytes = std::vector<std::uint8_t>;

// The blocks of a read as written to the port (NAD, PCB, LEN, INF..., EDC).
// clang-format off
inline constexpr std::uint8_t kResynch[]     = {0x12, 0xC0, 0x00, 0xD2};  // S(RESYNCH request), no INF
inline constexpr std::uint8_t kResetCt0[]    = {0x12, 0x00, 0x05, 0x20, 0x11, 0x00, 0x00, 0x00, 0x26};  // RESET CT, N(S) 0
inline constexpr std::uint8_t kRequestIcc0[] = {0x12, 0x00, 0x06, 0x20, 0x12, 0x01, 0x00, 0x01, 0x01, 0x27};  // REQUEST ICC, N(S) 0
inline constexpr std::uint8_t kRequestIcc1[] = {0x12, 0x40, 0x06, 0x20, 0x12, 0x01, 0x00, 0x01, 0x01, 0x67};  // REQUEST ICC, N(S) 1
inline constexpr std::uint8_t kSelect0[]     = {0x02, 0x00, 0x0B, 0x00, 0xA4, 0x04, 0x00, 0x06,
                                                0xD2, 0x76, 0x00, 0x00, 0x01, 0x01, 0x0B};  // SELECT FILE by AID, N(S) 0
inline constexpr std::uint8_t kSelect1[]     = {0x02, 0x40, 0x0B, 0x00, 0xA4, 0x04, 0x00, 0x06,
                                                0xD2, 0x76, 0x00, 0x00, 0x01, 0x01, 0x4B};  // SELECT FILE by AID, N(S) 1
inline constexpr std::uint8_t kReadBinary0[] = {0x02, 0x00, 0x05, 0x00, 0xB0, 0x00, 0x00, 0x00, 0xB7};  // READ BINARY, N(S) 0
inline constexpr std::uint8_t kReadBinary1[] = {0x02, 0x40, 0x05, 0x00, 0xB0, 0x00, 0x00, 0x00, 0xF7};  // READ BINARY, N(S) 1
inline constexpr std::uint8_t kEject0[]      = {0x12, 0x00, 0x06, 0x20, 0x15, 0x01, 0x01, 0x01, 0x01, 0x21};  // EJECT ICC, N(S) 0
inline constexpr std::uint8_t kResetCt1[]    = {0x12, 0x40, 0x05, 0x20, 0x11, 0x00, 0x00, 0x00, 0x66};  // RESET CT, N(S) 1
// clang-format on

inline std::vector<Bytes> Blocks(std::initializer_list<std::span<const std::uint8_t>> blocks) {
  std::vector<Bytes> out;
  for (auto b : blocks) out.emplace_back(b.begin(), b.end());
  return out;
}

// A tagged card file: template 0x60, then tag, length, value per element.
// clang-format off
inline constexpr std::uint8_t kTaggedCard[] = {
    0x60, 0x52,                                                       // template, length (not read)
    0x80, 0x0B, 'A', 'O', 'K', ' ', 'B', 'a', 'y', 'e', 'r', 'n', ' ',  // KrankenkassenName, trailing blank
    0x81, 0x07, '1', '0', '8', '3', '1', '0', '4',                    // KrankenkassenNummer
    0x8F, 0x05, '6', '1', '1', '0', '1',                              // VKNR
    0x82, 0x06, 'A', '1', '2', '3', '4', '5',                         // VersichertenNummer
    0x83, 0x04, '1', '0', '0', '0',                                   // VersichertenStatus
    0x85, 0x05, 'J', '}', 'r', 'g', 'n',                              // Vorname "Jürgn"
    0x87, 0x07, 'M', '{', 'u', 's', 'e', 'l', ' ',                    // FamilienName "Mäusel"
    0x88, 0x08, '0', '1', '0', '2', '1', '9', '6', '0',               // Geburtsdatum
    0x8B, 0x05, '8', '0', '3', '3', '1',                              // Postleitzahl
    0x8C, 0x08, 'M', '|', 'n', 'c', 'h', 'e', 'n', ' ',               // Ortsname "Mönchen"
    0x8D, 0x04, '1', '2', '2', '9',                                   // Gueltigkeit
};

// A fixed-width card file: seventeen fields back to back, 219 characters.
inline constexpr char kFixedCard[] =
    "BKK Stra~enbahn             "  // KrankenKassenName, 28 ("Straßenbahn")
    "7654321"                       // KrankenKassenNummer, 7
    "X98765432100"                  // VersichertenNummer, 12
    "12345"                         // VKNR, 5
    "3000"                          // VersichertenStatus, 4
    "  1"                           // StatusErgaenzung, 3
    "Prof.          "               // Titel, 15
    "Anna                        "  // Vorname, 28
    "von            "               // NamensZusatz, 15
    "Br}ck                       "  // FamilienName, 28 ("Brück")
    "24121975"                      // Geburtsdatum, 8
    "Am Markt 1                  "  // StrassenName, 28
    "D  "                           // LaenderCode, 3
    "12345  "                       // PostLeitzahl, 7
    "Berlin                 "       // OrtsName, 23
    "0930"                          // Gueltigkeit, 4
    "Z";                            // Checksum, 1
// clang-format on
static_assert(sizeof kFixedCard == 219 + 1);

inline std::span<const std::uint8_t> FixedCardBytes() {
  return {reinterpret_cast<const std::uint8_t*>(kFixedCard), sizeof kFixedCard - 1};
}

inline constexpr char kInsertCard[] = "Bitte Karte einführen...";
inline constexpr char kCardInserted[] = "Karte eingeführt.";
inline constexpr char kReadingCard[] = "Karte wird gelesen...";
inline constexpr char kRemoveCard[] = "Karte entnehmen...";

class ApplicationTest : public ::testing::Test {
 protected:
  ApplicationTest() {
    app->CommPort(1);
    // A terminal with a card: every command succeeds.
    terminal.replies[CMD_ResetCT] = {Status(0x90, 0x00)};
    terminal.replies[CMD_RequestICC] = {Status(0x90, 0x00)};
    terminal.replies[CMD_SelectFile] = {Status(0x90, 0x00)};
    terminal.replies[CMD_ReadBinary] = {DataThen(kTaggedCard, 0x90, 0x00)};
    terminal.replies[CMD_EjectICC] = {Status(0x90, 0x01)};
  }

  // The object's state after any read.
  void ExpectIdleAfterRead() {
    EXPECT_FALSE(peer.Busy());
    EXPECT_EQ(peer.NoCardCount(), 0);
    EXPECT_EQ(peer.Result(), RV_Error);
    EXPECT_EQ(platform.bus.open_count, 0) << "a port was left open";
  }

  std::vector<Bytes>& Written() { return platform.bus.Line(1).written; }

  FakePlatform platform;
  ScriptedTerminal terminal{platform.bus, 1};
  std::unique_ptr<clsApplication> app = std::make_unique<clsApplication>(platform);
  clsApplicationTestPeer peer{*app};
};

}  // namespace testing
}  // namespace qz
