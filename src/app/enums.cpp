#include "app/enums.h"

namespace qz {

const char* ReturnValueName(std::int32_t value) {
  switch (value) {
    case RV_ReadSuccessful:
      return "RV_ReadSuccessful";
    case RV_CardRemovedDuringReading:
      return "RV_CardRemovedDuringReading";
    case RV_Error:
      return "RV_Error";
    case RV_WrongCard:
      return "RV_WrongCard";
    case RV_UserCanceled:
      return "RV_UserCanceled";
    case RV_NoCardInserted:
      return "RV_NoCardInserted";
    case RV_NoReaderResponding:
      return "RV_NoReaderResponding";
    default:
      return "";
  }
}

}  // namespace qz
