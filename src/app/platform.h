// What the core needs from the operating system, in one place. Linux and Windows each provide
// one (platform_posix.cpp / platform_win.cpp); tests provide fakes.
#pragma once

#include <memory>
#include <string>

#include "base/event_loop.h"
#include "link/serial_port.h"
#include "ui/keyboard_reader.h"
#include "ui/reader_view.h"

namespace qz {

class Platform {
 public:
  virtual ~Platform() = default;

  // The thread's event loop; lives as long as the platform.
  virtual EventLoop& Loop() = 0;
  // A serial port, closed, with no number selected and the receive threshold 3.
  virtual std::unique_ptr<SerialPort> CreateSerialPort() = 0;
  // The drawing of a new, hidden reader window.
  virtual std::unique_ptr<ReaderView> CreateReaderView() = 0;
  // A new keyboard reader object; raises AutomationError 339 when the library is not installed.
  virtual std::unique_ptr<KeyboardReader> CreateKeyboardReader() = 0;

  // The current date in the system's short date format and the time in its long time format.
  virtual std::string ShortDate() = 0;
  virtual std::string LongTime() = 0;
  // Appends one line (UTF-8, without line end) plus CR LF to the error log beside the
  // component's library, opening and closing the file for this entry. Raises AutomationError
  // when the file cannot be opened or written.
  virtual void AppendErrorLogLine(const std::string& line) = 0;

  // The platform of this process (defined by the platform layer that is linked in).
  static Platform& Default();
};

}  // namespace qz
