// Runs every WIN_TEST case and prints one PASS/FAIL line per case; the exit status is the
// number of failed cases.
#include <windows.h>

#include <objbase.h>

#include <cstdio>
#include <exception>

#include "check_win.h"

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // the apartment a host's thread has
  int failed_cases = 0;
  for (const auto& c : qz::wintest::Cases()) {
    const int before = qz::wintest::Failures();
    try {
      c.body();
    } catch (const std::exception& e) {
      qz::wintest::Fail(__FILE__, __LINE__, std::string("unexpected exception: ") + e.what());
    }
    const bool ok = qz::wintest::Failures() == before;
    if (!ok) ++failed_cases;
    std::printf("%s %s\n", ok ? "PASS" : "FAIL", c.name);
    std::fflush(stdout);
  }
  CoUninitialize();
  return failed_cases;
}
