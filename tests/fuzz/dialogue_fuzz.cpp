// A whole serial read with the fuzzer as the terminal: clsApplication on the fake platform, the
// input's steps delivered between steps of the fake clock. Every read must end by itself or
// wait quietly until "Abbruch" is pressed (done once the input is used up); no crash, no
// undefined behaviour, no leak, and after every read the port is closed and the object idle.
// Input: a list of steps; a step's first byte says what happens:
//   0xFF         the clock moves 300 ms (the RESYNC alarm may fire)
//   0xFE         a RESYNCH response block arrives
//   0xFD L ...   an I-block with the terminal's next N(S) and L INF bytes arrives
//   0xFC L ...   the same with the more-data bit
//   n < 0xFC     the next n % 64 bytes arrive as they are
// Steps are 1 ms apart. Up to four reads are made while input is left.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <span>

#include "app/cls_application.h"
#include "link/t1_block.h"
#include "tests/fakes/fake_platform.h"

namespace qz {

// The fuzzer's view of the object's private state.
class clsApplicationTestPeer {
 public:
  explicit clsApplicationTestPeer(clsApplication& app) : app_(app) {}
  bool Busy() const { return app_.mBusy; }

 private:
  clsApplication& app_;
};

}  // namespace qz

namespace {

using qz::testing::FakePlatform;
using std::chrono::milliseconds;

void Check(bool ok) {
  if (!ok) std::abort();
}

class Feeder {
 public:
  Feeder(FakePlatform& platform, std::span<const std::uint8_t> in) : platform_(platform), in_(in) {}

  bool Done() const { return at_ >= in_.size(); }
  void Start() { Arm(milliseconds(1)); }

 private:
  void Arm(milliseconds delay) {
    platform_.loop.AddTimer(delay, [this] { Step(); });
  }

  void Deliver(std::span<const std::uint8_t> bytes) {
    if (platform_.bus.open_port != nullptr) platform_.bus.open_port->Deliver(bytes);
  }

  void Step() {
    if (Done()) {
      // Used up: the user gives up on a read that still waits, and the feeding stops.
      if (!platform_.views.empty()) platform_.LastView().PressCancel();
      return;
    }
    const std::uint8_t op = in_[at_++];
    milliseconds next(1);
    if (op == 0xFF) {
      next = milliseconds(300);
    } else if (op == 0xFE) {
      const qz::t1::Bytes block = qz::t1::MakeBlock(0x21, qz::t1::kPcbResynchResp, {});
      Deliver(block);
    } else if (op == 0xFD || op == 0xFC) {
      std::size_t len = at_ < in_.size() ? in_[at_++] : 0;
      len = std::min(len, in_.size() - at_);
      // A terminal numbers its I-blocks from 0 again for every read (each has a new window).
      if (platform_.views.size() != reads_seen_) {
        reads_seen_ = platform_.views.size();
        terminal_ns_ = false;
      }
      std::uint8_t pcb = terminal_ns_ ? qz::t1::kPcbSeqBit : 0;
      terminal_ns_ = !terminal_ns_;
      if (op == 0xFC) pcb |= qz::t1::kPcbMoreBit;
      const qz::t1::Bytes block = qz::t1::MakeBlock(0x21, pcb, in_.subspan(at_, len));
      at_ += len;
      Deliver(block);
    } else {
      const std::size_t n = std::min<std::size_t>(op % 64, in_.size() - at_);
      Deliver(in_.subspan(at_, n));
      at_ += n;
    }
    Arm(next);
  }

  FakePlatform& platform_;
  std::span<const std::uint8_t> in_;
  std::size_t at_ = 0;
  std::size_t reads_seen_ = 0;
  bool terminal_ns_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FakePlatform platform;
  platform.bus.Line(1);
  qz::clsApplication app(platform);
  qz::clsApplicationTestPeer peer(app);
  app.CommPort(1);
  app.WaitingTime(3);
  Feeder feeder(platform, std::span(data, size));
  feeder.Start();
  for (int reads = 0; reads < 4 && (reads == 0 || !feeder.Done()); ++reads) {
    std::int32_t result = -1;
    try {
      result = app.ReadCard(qz::CRT_CommPort);
    } catch (const qz::AutomationError&) {
      // No serial read here may fail; a fake loop that found nothing left that could ever end
      // the read, or that never stopped, arrives as error 51 too.
      std::abort();
    }
    Check(result >= qz::RV_ReadSuccessful && result <= qz::RV_NoReaderResponding);
    // The closing steps ran: port closed, object idle.
    Check(platform.bus.open_port == nullptr);
    Check(!peer.Busy());
    const bool dropped = result == qz::RV_UserCanceled || result == qz::RV_NoReaderResponding;
    Check(dropped == (app.KVKData() == nullptr));
    // A successful read decoded something into a record of seventeen fields.
    if (result == qz::RV_ReadSuccessful) Check(app.KVKData() != nullptr);
  }
  // Nothing of the reads is left behind on the loop but the feeder's own steps.
  Check(platform.log_lines.empty());
  return 0;
}
