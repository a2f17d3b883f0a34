// The keyboard reader on Windows: the COM class "KbdBridge.qzCherry", created by its ProgID,
// called by late binding and listened to through its connection point. The caller's thread must
// have entered a COM apartment.
#pragma once

#include <memory>

#include "ui/keyboard_reader.h"

namespace qz {

// A new qzCherry object. Raises AutomationError 339 "Component not correctly registered" when
// the class is not registered or its library is missing, and 429 when it cannot be created for
// another reason.
std::unique_ptr<KeyboardReader> CreateWin32KeyboardReader();

}  // namespace qz
