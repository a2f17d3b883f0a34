// qzCardReader for C++ hosts on Linux: the one header to include.
//
//   #include <qzcardreader/qzcardreader.h>
//
//   qz::SetPorts({"/dev/ttyUSB0"});     // COM1 is this device (default: QZCARDREADER_PORTS or
//   qz::clsApplication app;             // the system's serial ports)
//   app.CommPort(1);
//   try {
//     const qz::enmReturnValue rv = app.ReadCard(qz::CRT_CommPort);  // waits; Ctrl-C cancels
//     if (rv == qz::RV_ReadSuccessful && app.KVKData())
//       std::cout << app.KVKData()->Get(qz::KVKField::FamilienName) << "\n";
//   } catch (const qz::AutomationError& e) {  // e.Number(), e.Source(), e.Description()
//   }
//
// Link with qzCardReader::qzcardreader (CMake: find_package(qzCardReader CONFIG)) or with
// `pkg-config --cflags --libs qzcardreader`. An object runs on the thread that created it;
// ReadCard and GetCardPort return when the read or the search has ended. Raised errors are
// also appended to libqzcardreader.err beside the library.
#pragma once

// clsApplication: CommPort, WaitingTime, ReadCard, GetCardPort, Test, KVKData.
#include "app/cls_application.h"
// enmReturnValue (RV_*), enmError (ERR_*), enmCardReaderType (CRT_*), enmKVKTag, and
// ReturnValueName() for printing a result.
#include "app/enums.h"
// SetPorts() names the devices of COM1, COM2, ...; PortPath(n) tells which device COMn opens.
#include "app/ports_posix.h"
// AutomationError: what ReadCard raises (number, source, description), e.g. ERR_NoPortSet, the
// serial port's own errors 8002 (no such port), 8010 (not available, in use, write failed) and
// 8015 (line settings refused), or 7 / 51 for a failure inside the component.
#include "base/automation_error.h"
// clsKVKData: the seventeen texts of a card (UTF-8); KVKField and kKVKFieldNames name them.
#include "kvk/kvk_data.h"
