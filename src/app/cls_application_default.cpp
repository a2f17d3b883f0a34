// clsApplication on the calling thread's platform. A file of its own, so that a program that
// brings its own platform (the tests' fakes) does not pull in the operating system's.
#include "app/cls_application.h"
#include "app/platform.h"

namespace qz {

clsApplication::clsApplication() : clsApplication(Platform::Default()) {}

}  // namespace qz
