// Which serial device each port number opens on Linux. The component numbers its ports COM1,
// COM2, ... as on Windows; a host names the devices behind those numbers here, for the objects
// of the calling thread (each thread has its own event loop and list).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz {

// COM1 is devices[0], COM2 devices[1], ...; takes effect at the next ReadCard or GetCardPort.
// An empty list restores the default: the user's QZCARDREADER_PORTS (colon-separated paths)
// when set, otherwise the system's serial devices: /dev/ttyS0 up to the highest /dev/ttyS*
// present (COMn = /dev/ttyS{n-1}), then the /dev/ttyUSB* and /dev/ttyACM* present, in number
// order.
void SetPorts(std::vector<std::string> devices);

// The device COMn opens on this thread, or nullopt when n names no port.
std::optional<std::string> PortPath(std::int16_t port);

}  // namespace qz
