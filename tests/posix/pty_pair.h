// A pseudo-terminal whose master end plays the far side of a serial line, and an environment
// variable set for the life of a scope.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qz::testing {

class PtyPair {
 public:
  PtyPair() : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
    grantpt(master_);
    unlockpt(master_);
    slave_path_ = ptsname(master_);
  }
  ~PtyPair() { CloseMaster(); }
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slave_path_; }
  int Master() const { return master_; }
  void Write(const std::vector<std::uint8_t>& bytes) {
    (void)!write(master_, bytes.data(), bytes.size());
  }
  void CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
  }

 private:
  int master_;
  std::string slave_path_;
};

class ScopedEnv {
 public:
  // An empty value unsets the variable.
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) old_ = old, had_ = true;
    value.empty() ? unsetenv(name) : setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { had_ ? setenv(name_, old_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

}  // namespace qz::testing
