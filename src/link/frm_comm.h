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
  // Timer1.Enabled = False.
  void StopTimer();

  // The serial control hosted by the link; the owner selects, opens and closes the port.
  SerialPort& COMM() { return *port_; }

  // Handlers of the port's notification and of the alarm (public so that tests can drive them).
  void COMM_OnComm();
  void Timer1_Timer();

  // Read-only views of the link's state, for tests and diagnostics.
  bool SendSeq() const { return mSendSeq; }
  bool RecvSeq() const { return mRecvSeq; }
  CmdType LastCmdType() const { return mCmdType; }
  std::int16_t SendCount() const { return mSendCount; }
  const std::vector<std::uint8_t>& LastBlock() const { return mLastBlock; }
  bool AwaitingRest() const { return mAwaitRest; }

 private:
  void ProcessBlock();
  void ResetAssembly();

  EventLoop& loop_;
  std::unique_ptr<SerialPort> port_;
  frmCommEvents& owner_;
  EventLoop::TimerId timer_ = 0;  // 0 while Timer1 is disabled

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
