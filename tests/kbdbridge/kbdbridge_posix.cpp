// The stand-in keyboard library for Linux: the C interface of libkbdbridge.so.
#include <cstdlib>
#include <exception>
#include <new>

#include "stand_in.h"
#include "ui/kbdbridge_c_api.h"

#define KBD_EXPORT extern "C" __attribute__((visibility("default")))

std::string kbdbridge::Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

struct kbdbridge_qzCherry final : kbdbridge::Events {
  std::string fields[kbdbridge::kFieldCount];
  kbdbridge::ErrorInfo lastError;
  kbdbridge_CherryErrorHandler onCherryError = nullptr;
  kbdbridge_ErrorHandler onError = nullptr;
  void* user = nullptr;

  // The C interface cannot say what a handler raised; the failure names the event instead.
  static std::optional<kbdbridge::ErrorInfo> Raised(int rc, const char* event) {
    if (rc == 0) return std::nullopt;
    return kbdbridge::ErrorInfo{440, "KbdBridge",
                                std::string("The handler of ") + event + " failed"};
  }
  std::optional<kbdbridge::ErrorInfo> CherryError(std::int32_t number,
                                                  const std::string& text) override {
    if (onCherryError == nullptr) return std::nullopt;
    return Raised(onCherryError(user, number, text.c_str()), "CherryError");
  }
  std::optional<kbdbridge::ErrorInfo> Error(const kbdbridge::ErrorInfo& e, const std::string& modul,
                                            const std::string& proc,
                                            const std::string& zusatz) override {
    if (onError == nullptr) return std::nullopt;
    return Raised(onError(user, e.number, e.source.c_str(), e.description.c_str(), modul.c_str(),
                          proc.c_str(), zusatz.c_str()),
                  "Error");
  }
};

KBD_EXPORT kbdbridge_qzCherry* kbdbridge_qzCherry_Create(void) {
  return new (std::nothrow) kbdbridge_qzCherry();
}

KBD_EXPORT void kbdbridge_qzCherry_Destroy(kbdbridge_qzCherry* self) {
  delete self;
}

KBD_EXPORT void kbdbridge_qzCherry_Advise(kbdbridge_qzCherry* self,
                                          kbdbridge_CherryErrorHandler onCherryError,
                                          kbdbridge_ErrorHandler onError, void* user) {
  self->onCherryError = onCherryError;
  self->onError = onError;
  self->user = user;
}

KBD_EXPORT int kbdbridge_qzCherry_ReadKVK(kbdbridge_qzCherry* self, int32_t* timeoutMs, int32_t*,
                                          int32_t*, int* result) {
  try {
    const auto outcome = kbdbridge::ReadKVK(*timeoutMs, *self, self->fields);
    if (const auto* failure = std::get_if<kbdbridge::ErrorInfo>(&outcome)) {
      self->lastError = *failure;
      return 1;
    }
    *result = std::get<bool>(outcome) ? 1 : 0;
    return 0;
  } catch (const std::exception& e) {
    self->lastError = kbdbridge::ErrorInfo{7, "KbdBridge", e.what()};
    return 1;
  }
}

KBD_EXPORT void kbdbridge_qzCherry_LastError(kbdbridge_qzCherry* self, int32_t* number,
                                             const char** source, const char** description) {
  *number = self->lastError.number;
  *source = self->lastError.source.c_str();
  *description = self->lastError.description.c_str();
}

KBD_EXPORT const char* kbdbridge_qzCherry_GetProperty(kbdbridge_qzCherry* self, const char* name) {
  for (int i = 0; i < kbdbridge::kFieldCount; ++i) {
    if (std::string_view(name) == kbdbridge::kTestCard[i][0]) return self->fields[i].c_str();
  }
  return nullptr;
}
