// qzCardReader for C++ hosts on Linux: the one header to include.
//
//   #include <qzcardreader/qzcardreader.h>
//
//   qz::PosixPlatform& platform = qz::PosixPlatform::Default();  // this thread's event loop
//   qz::clsApplication app(platform);
//   app.CommPort(1);                    // COM1 = /dev/ttyS0, or the first QZCARDREADER_PORTS entry
//   try {
//     const qz::enmReturnValue rv = app.ReadCard(qz::CRT_CommPort);  // waits; Ctrl-C cancels
//     if (rv == qz::RV_ReadSuccessful && app.KVKData())
//       std::cout << app.KVKData()->Get(qz::KVKField::FamilienName) << "\n";
//   } catch (const qz::AutomationError& e) {  // e.Number(), e.Source(), e.Description()
//   }
//
// Link with qzCardReader::qzcardreader (CMake: find_package(qzCardReader CONFIG)) or with
// `pkg-config --cflags --libs qzcardreader`. Everything runs on the thread that created the
// platform; ReadCard and GetCardPort return when the read or the search has ended.
#pragma once

// clsApplication: CommPort, WaitingTime, ReadCard, GetCardPort, Test, KVKData.
#include "app/cls_application.h"
// enmReturnValue (RV_*), enmError (ERR_*), enmCardReaderType (CRT_*), enmKVKTag, and
// ReturnValueName() for printing a result.
#include "app/enums.h"
// AutomationError: what ReadCard raises (number, source, description), e.g. ERR_NoPortSet, or
// the serial port's own errors 8002 (no such port), 8010 (not available / in use), 8015.
#include "base/automation_error.h"
// clsKVKData: the seventeen texts of a card (UTF-8); KVKField and kKVKFieldNames name them.
#include "kvk/kvk_data.h"
// PosixPlatform: the Linux event loop, serial ports, console progress window and error log;
// ErrorLogPath() tells where the log goes (beside the library, libqzcardreader.err).
#include "app/platform_posix.h"
// PosixPortPath(n): the device of COMn (/dev/ttyS{n-1}, or the n-th entry of the
// colon-separated QZCARDREADER_PORTS), and the serial port's error numbers.
#include "link/serial_port.h"
#include "link/serial_port_posix.h"
