// The serial facility on Win32: \\.\COMn through overlapped I/O, its receive events watched by
// the thread's event loop.
#pragma once

#include <memory>

#include "base/event_loop_win.h"
#include "link/serial_port.h"

namespace qz::win {

std::unique_ptr<SerialPort> MakeWinSerialPort(WinEventLoop& loop);

}  // namespace qz::win
