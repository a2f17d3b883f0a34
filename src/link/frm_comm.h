// frmComm: the link to a card terminal on a serial port. It frames every command as one T=1
// block, assembles the terminal's blocks from the port's receive notifications, answers a
// wrong sequence number by sending the last block once more, and reports to its owner:
// a complete answer (CommandReceived), a RESYNCH or WTX response (WTXResynchCompleted) and the
// expiry of its one-shot alarm (TimeReached). Events are raised only after the link's own state
// is consistent, because the owner sends the next command from inside them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/event_loop.h"
#include "link/cmd_type.h"
#include "link/serial_port.h"

namespace qz {

class frmCommEvents {
 public:
  // sBuffer: the INF bytes of the whole answer, one char per byte, ending with SW1 SW2.
  virtual void CommandReceived(std::string sBuffer, CmdType CMD) = 0;
  // Always raised with 1.
  virtual void WTXResynchCompleted(std::int32_t& CmdType) = 0;
  virtual void TimeReached(std::string& Key) = 0;

 protected:
  ~frmCommEvents() = default;
};

class frmComm {
 public:
  // The link starts with the threshold 3, both sequence bits 0 and the alarm idle.
  frmComm(EventLoop& loop, std::unique_ptr<SerialPort> port, frmCommEvents& owner);
  ~frmComm();
  frmComm(const frmComm&) = delete;
  frmComm& operator=(const frmComm&) = delete;

  // Builds and writes the block of a command; always returns 0. A CmdType outside 1..6 raises
  // an AutomationError and changes nothing; a write error of the port passes through.
  std::int16_t SendCommand(CmdType CmdType);

  // Arms the one-shot alarm; a later call replaces key and interval.
  void StartTimer(const std::string& Key, std::int16_t ms);
  // Disarms the alarm; nothing is reported for it.
  void StopTimer();

  // The link's serial port; the owner selects, opens and closes it.
  SerialPort& COMM() { return *port_; }

  // Handler of the port's receive notification. Public: a port may notify before its
  // threshold is reached, and tests stand in for such a port.
  void COMM_OnComm();

 private:
  // Handler of the alarm: disarms it, then reports its key.
  void Timer1_Timer();
  void ProcessBlock();
  void ResetAssembly();

  EventLoop& loop_;
  std::unique_ptr<SerialPort> port_;
  frmCommEvents& owner_;
  EventLoop::TimerId timer_ = 0;  // 0 while the alarm is idle

  std::vector<std::uint8_t> mResponse;
  std::vector<std::uint8_t> mBlock;
  bool mAwaitRest = false;
  bool mSendSeq = false;
  bool mRecvSeq = false;
  CmdType mCmdType = 0;
  std::string mTimerKey;
  std::vector<std::uint8_t> mLastBlock;
  std::int16_t mSendCount = 0;
};

}  // namespace qz
