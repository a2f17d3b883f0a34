// A libkbdbridge.so of an older or foreign make that lacks most of the interface: loading it
// must count as the class not being installed.
#include "ui/kbdbridge_c_api.h"

extern "C" __attribute__((visibility("default"))) kbdbridge_qzCherry* kbdbridge_qzCherry_Create(
    void) {
  return nullptr;
}
