// The keyboard with a built-in card reader, as the component uses it: the outside class
// qzCherry of the keyboard library KbdBridge, created per read, asked to read with a time-out,
// listened to, and copied from. Platforms reach the real class (COM on Windows, a shared object
// on Linux); creating it where it is not installed raises error 339.
#pragma once

#include <cstdint>
#include <string>

#include "base/automation_error.h"
#include "kvk/kvk_data.h"

namespace qz {

class KeyboardReaderEvents {
 public:
  virtual void CherryError(std::int32_t& lngNumber, std::string& strDescription) = 0;
  virtual void Error(AutomationError& mErr, std::string& strModul, std::string& strProc,
                     std::string& strZusatz) = 0;

 protected:
  ~KeyboardReaderEvents() = default;
};

class KeyboardReader {
 public:
  virtual ~KeyboardReader() = default;
  virtual void SetEvents(KeyboardReaderEvents* events) = 0;
  // Blocks until the card is read or the reader gives up; may raise CherryError/Error meanwhile.
  // A failure of the call itself is raised as an AutomationError.
  virtual bool ReadKVK(std::int32_t& timeoutMs, std::int32_t& arg2, std::int32_t& arg3) = 0;
  // One of the fifteen text fields (never KrankenKassenNummer or Checksum), as delivered.
  virtual std::string Field(KVKField field) = 0;
};

}  // namespace qz
