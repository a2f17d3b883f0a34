// An error as the host sees it: a number, a source and a description.
// The core raises these as exceptions; the COM layer turns them into an HRESULT with
// error information, kvkread prints them. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace qz {

class AutomationError : public std::exception {
 public:
  AutomationError(std::int32_t number, std::string source, std::string description)
      : number_(number), source_(std::move(source)), description_(std::move(description)) {}

  std::int32_t Number() const noexcept { return number_; }
  const std::string& Source() const noexcept { return source_; }
  const std::string& Description() const noexcept { return description_; }
  const char* what() const noexcept override { return description_.c_str(); }

 private:
  std::int32_t number_;
  std::string source_;
  std::string description_;
};

// Run-time error numbers of other components that the core interprets.
inline constexpr std::int32_t kErrComponentNotRegistered = 339;  // "class not registered"

}  // namespace qz
