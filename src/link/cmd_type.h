// Numbers of the terminal commands. They go into SendCommand and come back with the answer.
#pragma once

#include <cstdint>

namespace qz {

using CmdType = std::int32_t;

inline constexpr CmdType CMD_ResetCT = 1;     // RESET CT
inline constexpr CmdType CMD_Resynch = 2;     // S-block RESYNCH request
inline constexpr CmdType CMD_RequestICC = 3;  // REQUEST ICC, slot 1
inline constexpr CmdType CMD_SelectFile = 4;  // SELECT FILE of the insurance-card application
inline constexpr CmdType CMD_ReadBinary = 5;  // READ BINARY, offset 0, Le 00
inline constexpr CmdType CMD_EjectICC = 6;    // EJECT ICC, slot 1

}  // namespace qz
