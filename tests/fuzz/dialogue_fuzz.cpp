// Whole serial reads with the fuzzer as the terminal: clsApplication on the fake platform, the
// input's steps delivered between steps of the fake clock. Every read must end by itself or
// wait quietly until "Abbruch" is pressed (done once the input is used up); no crash, no
// undefined behaviour, no leak; the link writes no command more than twice and wakes for no
// more than a block's rest; after every read the port is closed and the object idle.
// Input: a list of steps; a step's first byte says what happens:
//   0xFF         the clock moves 300 ms (the RESYNC alarm may fire)
//   0xFE         a RESYNCH response block arrives
//   0xFD L ...   an I-block with L INF bytes arrives, its N(S) alternating from 0 in each read
//   0xFC L ...   the same with the more-data bit
//   0xFB         the port reports whatever is waiting, below its threshold too
//   n < 0xFB     the next n % 64 bytes arrive as they are
// Steps are 1 ms apart. Up to four reads are made while input is left.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "app/cls_application.h"
#include "link/t1_block.h"
#include "tests/fakes/fake_platform.h"

namespace {

using qz::testing::FakePlatform;
using std::chrono::milliseconds;

void Check(bool ok) {
  if (!ok) std::abort();
}

struct Feeder {
  bool Done() const { return at >= in.size(); }
  void Deliver(std::span<const std::uint8_t> bytes) {
    delivered += bytes.size();
    if (line.port != nullptr) line.port->Deliver(bytes);
  }

  void Step() {
    if (Done()) {
      // Used up: the user gives up on a read that still waits, and the feeding stops.
      if (!platform.views.empty()) platform.LastView().PressCancel();
      return;
    }
    if (line.opens != opens) ns = false;  // a new read, a new link
    opens = line.opens;
    const std::uint8_t op = in[at++];
    milliseconds next(1);
    if (op == 0xFF) {
      next = milliseconds(300);
    } else if (op == 0xFE) {
      Deliver(qz::t1::MakeBlock(0x21, qz::t1::kPcbResynchResp, {}));
    } else if (op == 0xFD || op == 0xFC) {
      std::size_t len = at < in.size() ? in[at++] : 0;
      len = std::min(len, in.size() - at);
      std::uint8_t pcb = ns ? qz::t1::kPcbSeqBit : 0;
      if (op == 0xFC) pcb |= qz::t1::kPcbMoreBit;
      ns = !ns;
      Deliver(qz::t1::MakeBlock(0x21, pcb, in.subspan(at, len)));
      at += len;
    } else if (op == 0xFB) {
      if (line.port != nullptr) line.port->ReportEarly();
    } else {
      const std::size_t n = std::min<std::size_t>(op % 64, in.size() - at);
      Deliver(in.subspan(at, n));
      at += n;
    }
    CheckLink();
    platform.loop.AddTimer(next, [this] { Step(); });
  }

  // Every write but a read's RESYNCH answers a block of at least 4 bytes; no block is written
  // three times in a row; the port is never asked to wait for more than a block's rest.
  void CheckLink() const {
    const auto& w = line.written;
    Check(w.size() <= static_cast<std::size_t>(line.opens) + delivered / 4);
    const std::size_t n = w.size();
    Check(n < 3 || w[n - 1] != w[n - 2] || w[n - 2] != w[n - 3] || w[n - 1][1] == 0xC0);
    if (const auto* port = line.port) Check(port->RThreshold() >= 1 && port->RThreshold() <= 256);
  }

  FakePlatform& platform;
  std::span<const std::uint8_t> in;
  qz::testing::FakeLine& line = platform.bus[1];
  std::size_t at = 0, delivered = 0;
  int opens = 0;
  bool ns = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FakePlatform platform;
  Feeder feeder{platform, std::span(data, size)};
  qz::clsApplication app(platform);
  app.CommPort(1);
  app.WaitingTime(3);
  platform.loop.AddTimer(milliseconds(1), [&feeder] { feeder.Step(); });
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
    Check(platform.bus[1].port == nullptr);     // the closing steps ran
    Check(platform.bus[1].opens == reads + 1);  // and left the object idle for the next
    const bool dropped = result == qz::RV_UserCanceled || result == qz::RV_NoReaderResponding;
    Check(dropped == (app.KVKData() == nullptr));
  }
  Check(platform.log_lines.empty());
  return 0;
}
