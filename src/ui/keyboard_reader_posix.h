// The keyboard reader on Linux: the class qzCherry of the shared object libkbdbridge.so, found
// by the dynamic loader and reached through its C interface (ui/kbdbridge_c_api.h).
#pragma once

#include <memory>

#include "ui/keyboard_reader.h"

namespace qz {

// A new qzCherry object. Raises AutomationError 339 "Component not correctly registered" when
// the library cannot be loaded or lacks a function of the interface, and 429 when the library
// refuses to create the object.
std::unique_ptr<KeyboardReader> CreatePosixKeyboardReader();

}  // namespace qz
