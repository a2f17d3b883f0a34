// An error as the host sees it: a number, a source and a description.
// The core raises these as exceptions; the COM layer turns them into an HRESULT with
// error information, kvkread prints them. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <exception>
#include <new>
#include <string>
#include <utility>

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

// Run-time errors a host knows, for failures that are not AutomationErrors.
inline constexpr std::int32_t kErrOutOfMemory = 7;
inline constexpr std::int32_t kErrInternal = 51;

// A failure as the error a host is given: an AutomationError as it is, a failed allocation as
// 7 "Out of memory", any other exception as 51 with its own text ("Internal error" when it has
// none). `failure` is the exception being handled (std::current_exception()).
inline AutomationError AsAutomationError(std::exception_ptr failure) {
  try {
    std::rethrow_exception(failure);
  } catch (const AutomationError& err) {
    return err;
  } catch (const std::bad_alloc&) {
    return AutomationError(kErrOutOfMemory, "qzCardReader", "Out of memory");
  } catch (const std::exception& err) {
    const char* text = err.what();
    return AutomationError(kErrInternal, "qzCardReader",
                           text != nullptr && *text != '\0' ? text : "Internal error");
  } catch (...) {
    return AutomationError(kErrInternal, "qzCardReader", "Internal error");
  }
}

}  // namespace qz
