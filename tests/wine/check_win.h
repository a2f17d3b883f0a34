// A minimal check harness for the Windows platform tests, which run under Wine as a plain
// program (no test framework is cross-built here). CHECK records a failure and goes on.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace qz::wintest {

struct Case {
  const char* name;
  std::function<void()> body;
};

inline std::vector<Case>& Cases() {
  static std::vector<Case> cases;
  return cases;
}
inline int& Failures() {
  static int failures = 0;
  return failures;
}

struct Register {
  Register(const char* name, std::function<void()> body) {
    Cases().push_back({name, std::move(body)});
  }
};

inline void Fail(const char* file, int line, const std::string& what) {
  ++Failures();
  std::printf("    %s:%d: %s\n", file, line, what.c_str());
}

}  // namespace qz::wintest

#define QZ_CAT2(a, b) a##b
#define QZ_CAT(a, b) QZ_CAT2(a, b)
#define WIN_TEST(name)                                                                   \
  static void QZ_CAT(test_, __LINE__)();                                                 \
  static ::qz::wintest::Register QZ_CAT(reg_, __LINE__)(name, &QZ_CAT(test_, __LINE__)); \
  static void QZ_CAT(test_, __LINE__)()
#define CHECK(cond) \
  ((cond) ? void() : ::qz::wintest::Fail(__FILE__, __LINE__, "CHECK(" #cond ") failed"))
#define CHECK_EQ(a, b)                                                                   \
  (((a) == (b)) ? void()                                                                 \
                : ::qz::wintest::Fail(__FILE__, __LINE__,                                \
                                      "CHECK_EQ(" #a ", " #b "): " + std::to_string(a) + \
                                          " != " + std::to_string(b)))
