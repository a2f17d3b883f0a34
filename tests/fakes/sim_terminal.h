// ctsim's terminal on one line of a FakeSerialBus: every block the component writes goes to
// it, and its answer arrives in the chunks it gives, after their delays on the fake clock, as
// long as that port is open.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "tests/fakes/fake_serial_port.h"
#include "tools/ctsim/terminal.h"

namespace qz::testing {

inline void AttachTerminal(FakeSerialBus& bus, std::int16_t number, const std::string& scenario,
                           const std::string& fault = "", t1::Bytes card = {},
                           std::chrono::milliseconds answer_delay = {}) {
  ctsim::TerminalConfig config{*ctsim::ParseScenario(scenario), std::move(card), answer_delay};
  if (!fault.empty()) config.fault = *ctsim::ParseFault(fault);
  auto terminal = std::make_shared<ctsim::Terminal>(std::move(config));
  bus.lines[number].terminal = [&bus, number, terminal](FakeSerialPort& port, auto written) {
    std::chrono::milliseconds at = port.Loop().Now();
    for (ctsim::Chunk& c : terminal->Receive(written, at)) {
      at += c.delay;
      port.Loop().AddTimer(at - port.Loop().Now(), [&bus, number, bytes = std::move(c.bytes)] {
        if (bus.open_port != nullptr && bus.open_port->CommPort() == number)
          bus.open_port->Deliver(bytes);
      });
    }
  };
}

}  // namespace qz::testing
