// The enumerations of the type library, with all their values.
#pragma once

#include <cstdint>

namespace qz {

enum enmReturnValue : std::int32_t {
  RV_ReadSuccessful = 0,
  RV_CardRemovedDuringReading = 1,
  RV_Error = 2,
  RV_WrongCard = 3,
  RV_UserCanceled = 4,
  RV_NoCardInserted = 5,
  RV_NoReaderResponding = 6,
};

enum enmError : std::int32_t {
  ERR_NoPortSet = static_cast<std::int32_t>(0x80040001),       // -2147221503
  ERR_InCherry = static_cast<std::int32_t>(0x80040002),        // -2147221502
  ERR_NoCherryDriver = static_cast<std::int32_t>(0x80040003),  // -2147221501
};

enum enmCardReaderType : std::int32_t {
  CRT_Tastatur = 1,
  CRT_CommPort = 2,
};

enum enmKVKTag : std::int32_t {
  KVKT_VersichertenTemplate = 0x60,
  KVKT_KrankenkassenName = 0x80,
  KVKT_KrankenkassenNummer = 0x81,
  KVKT_VKNR = 0x8F,
  KVKT_VersichertenNummer = 0x82,
  KVKT_VersichertenStatus = 0x83,
  KVKT_StatusErgaenzung = 0x90,
  KVKT_Titel = 0x84,
  KVKT_Vorname = 0x85,
  KVKT_Namenszusatz = 0x86,
  KVKT_FamilienName = 0x87,
  KVKT_Geburstdatum = 0x88,
  KVKT_Strassenname = 0x89,
  KVKT_LaenderCode = 0x8A,
  KVKT_Postleitzahl = 0x8B,
  KVKT_Ortsname = 0x8C,
  KVKT_Gueltigkeit = 0x8D,
  KVKT_Checksum = 0x8E,
};

// Name of a result as kvkread and logs show it ("RV_ReadSuccessful"); "" for other values.
const char* ReturnValueName(std::int32_t value);

}  // namespace qz
