// The Win32 serial port's refusals, which the port search and ReadCard interpret by number.
#include "link/serial_port_win.h"

#include <array>

#include "app/automation_error.h"
#include "check_win.h"

namespace qz::win {
namespace {

template <class F>
std::int32_t ErrorOf(F&& f) {
  try {
    f();
  } catch (const AutomationError& e) {
    return e.Number();
  }
  return 0;
}

WIN_TEST("serial port: invalid and missing ports are 8002, a closed port cannot send") {
  WinEventLoop loop;
  auto port = MakeWinSerialPort(loop);
  CHECK_EQ(port->RThreshold(), 3);
  CHECK_EQ(ErrorOf([&] { port->SetCommPort(0); }), kErrInvalidPortNumber);
  CHECK_EQ(ErrorOf([&] { port->SetCommPort(-1); }), kErrInvalidPortNumber);
  CHECK_EQ(ErrorOf([&] { port->SetPortOpen(true); }), kErrInvalidPortNumber);  // none selected
  port->SetCommPort(200);  // selectable, but there is no COM200
  CHECK_EQ(ErrorOf([&] { port->SetPortOpen(true); }), kErrInvalidPortNumber);
  CHECK(!port->PortOpen());
  const std::array<std::uint8_t, 1> byte = {0x00};
  CHECK_EQ(ErrorOf([&] { port->Output(byte); }), kErrPortNotOpen);
  port->SetPortOpen(false);  // closing a closed port is harmless
  CHECK(port->Input().empty());
}

}  // namespace
}  // namespace qz::win
