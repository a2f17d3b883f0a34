// The stand-in keyboard library for Linux: the C interface of libkbdbridge.so over the shared
// stand-in behaviour.
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "stand_in_cherry.h"
#include "ui/kbdbridge_c_api.h"

struct kbdbridge_qzCherry {
  kbdbridge::StandInCherry cherry;
  kbdbridge::ErrorInfo lastError;
  kbdbridge_CherryErrorHandler onCherryError = nullptr;
  kbdbridge_ErrorHandler onError = nullptr;
  void* user = nullptr;
};

namespace {

// The C interface cannot say what a handler raised; the failure names the event instead.
kbdbridge::ErrorInfo HandlerFailed(const char* event) {
  return kbdbridge::ErrorInfo{440, "KbdBridge",
                              std::string("The handler of ") + event + " raised an error"};
}

std::optional<std::string> Env(const char* name) {
  const char* v = std::getenv(name);
  if (v == nullptr) return std::nullopt;
  return std::string(v);
}

class CEvents final : public kbdbridge::Events {
 public:
  explicit CEvents(kbdbridge_qzCherry& o) : o_(o) {}

  std::optional<kbdbridge::ErrorInfo> CherryError(std::int32_t lngNumber,
                                                  const std::string& strDescription) override {
    if (o_.onCherryError == nullptr) return std::nullopt;
    if (o_.onCherryError(o_.user, lngNumber, strDescription.c_str()) == 0) return std::nullopt;
    return HandlerFailed("CherryError");
  }

  std::optional<kbdbridge::ErrorInfo> Error(const kbdbridge::ErrorInfo& err,
                                            const std::string& strModul, const std::string& strProc,
                                            const std::string& strZusatz) override {
    if (o_.onError == nullptr) return std::nullopt;
    if (o_.onError(o_.user, err.number, err.source.c_str(), err.description.c_str(),
                   strModul.c_str(), strProc.c_str(), strZusatz.c_str()) == 0) {
      return std::nullopt;
    }
    return HandlerFailed("Error");
  }

 private:
  kbdbridge_qzCherry& o_;
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) kbdbridge_qzCherry* kbdbridge_qzCherry_Create(void) {
  return new (std::nothrow) kbdbridge_qzCherry();
}

__attribute__((visibility("default"))) void kbdbridge_qzCherry_Destroy(kbdbridge_qzCherry* self) {
  delete self;
}

__attribute__((visibility("default"))) void kbdbridge_qzCherry_Advise(
    kbdbridge_qzCherry* self, kbdbridge_CherryErrorHandler onCherryError,
    kbdbridge_ErrorHandler onError, void* user) {
  self->onCherryError = onCherryError;
  self->onError = onError;
  self->user = user;
}

__attribute__((visibility("default"))) int kbdbridge_qzCherry_ReadKVK(kbdbridge_qzCherry* self,
                                                                      int32_t* timeoutMs,
                                                                      int32_t* /*arg2*/,
                                                                      int32_t* /*arg3*/,
                                                                      int* result) {
  try {
    CEvents events(*self);
    auto outcome = self->cherry.ReadKVK(
        *timeoutMs,
        kbdbridge::ReadSettings(Env("KBDBRIDGE_SCENARIO"), Env("KBDBRIDGE_MAX_MS"),
                                Env("KBDBRIDGE_RECORD"), Env("KBDBRIDGE_TEXT")),
        events);
    if (outcome.failure) {
      self->lastError = *outcome.failure;
      return 1;
    }
    *result = outcome.result ? 1 : 0;
    return 0;
  } catch (const std::exception& e) {
    self->lastError = kbdbridge::ErrorInfo{7, "KbdBridge", e.what()};
    return 1;
  }
}

__attribute__((visibility("default"))) void kbdbridge_qzCherry_LastError(kbdbridge_qzCherry* self,
                                                                         int32_t* number,
                                                                         const char** source,
                                                                         const char** description) {
  *number = self->lastError.number;
  *source = self->lastError.source.c_str();
  *description = self->lastError.description.c_str();
}

__attribute__((visibility("default"))) const char* kbdbridge_qzCherry_GetProperty(
    kbdbridge_qzCherry* self, const char* name) {
  const std::string* value = self->cherry.Property(name);
  return value != nullptr ? value->c_str() : nullptr;
}

}  // extern "C"
