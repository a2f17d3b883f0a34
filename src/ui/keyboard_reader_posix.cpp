#include "ui/keyboard_reader_posix.h"

#include <dlfcn.h>

#include <exception>
#include <string>

#include "ui/kbdbridge_c_api.h"

namespace qz {
namespace {

// The run-time errors a host expects when an outside class is missing or will not start.
constexpr std::int32_t kErrCannotCreateObject = 429;
constexpr std::int32_t kErrPropertyNotSupported = 438;
constexpr const char* kSource = "qzCardReader";

[[noreturn]] void RaiseNotRegistered() {
  throw AutomationError(kErrComponentNotRegistered, kSource, "Component not correctly registered");
}

// The library's functions, resolved once per object; the handle is closed with the object.
struct Library {
  void* handle = nullptr;
  decltype(&kbdbridge_qzCherry_Create) Create = nullptr;
  decltype(&kbdbridge_qzCherry_Destroy) Destroy = nullptr;
  decltype(&kbdbridge_qzCherry_Advise) Advise = nullptr;
  decltype(&kbdbridge_qzCherry_ReadKVK) ReadKVK = nullptr;
  decltype(&kbdbridge_qzCherry_LastError) LastError = nullptr;
  decltype(&kbdbridge_qzCherry_GetProperty) GetProperty = nullptr;

  Library() = default;
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  ~Library() {
    if (handle != nullptr) dlclose(handle);
  }

  template <typename Fn>
  void Resolve(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(dlsym(handle, name));
    if (fn == nullptr) RaiseNotRegistered();
  }

  void Load() {
    handle = dlopen(KBDBRIDGE_LIBRARY_NAME, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) RaiseNotRegistered();
    Resolve(Create, "kbdbridge_qzCherry_Create");
    Resolve(Destroy, "kbdbridge_qzCherry_Destroy");
    Resolve(Advise, "kbdbridge_qzCherry_Advise");
    Resolve(ReadKVK, "kbdbridge_qzCherry_ReadKVK");
    Resolve(LastError, "kbdbridge_qzCherry_LastError");
    Resolve(GetProperty, "kbdbridge_qzCherry_GetProperty");
  }
};

std::string Text(const char* s) {
  return s != nullptr ? std::string(s) : std::string();
}

class PosixKeyboardReader final : public KeyboardReader {
 public:
  PosixKeyboardReader() {
    lib_.Load();
    object_ = lib_.Create();
    if (object_ == nullptr) {
      throw AutomationError(kErrCannotCreateObject, kSource,
                            "ActiveX component can't create object");
    }
    lib_.Advise(object_, &OnCherryError, &OnError, this);
  }

  ~PosixKeyboardReader() override { lib_.Destroy(object_); }

  void SetEvents(KeyboardReaderEvents* events) override { events_ = events; }

  bool ReadKVK(std::int32_t& timeoutMs, std::int32_t& arg2, std::int32_t& arg3) override {
    pending_ = nullptr;
    int result = 0;
    const int rc = lib_.ReadKVK(object_, &timeoutMs, &arg2, &arg3, &result);
    // An error a handler raised back ends the read through the caller's failure path, whatever
    // the library made of it.
    if (pending_) {
      std::exception_ptr e = pending_;
      pending_ = nullptr;
      std::rethrow_exception(e);
    }
    if (rc != 0) {
      std::int32_t number = 0;
      const char* source = nullptr;
      const char* description = nullptr;
      lib_.LastError(object_, &number, &source, &description);
      throw AutomationError(number, Text(source), Text(description));
    }
    return result != 0;
  }

  std::string Field(KVKField field) override {
    const auto& name = kKVKFieldNames[static_cast<std::size_t>(field)];
    const char* value = lib_.GetProperty(object_, std::string(name).c_str());
    if (value == nullptr) {
      throw AutomationError(kErrPropertyNotSupported, kSource,
                            "Object doesn't support this property or method");
    }
    return value;
  }

 private:
  // The C callbacks: nothing may unwind through the library's frames, so an exception of a
  // handler is kept and the library is told to give up.
  static int OnCherryError(void* user, std::int32_t lngNumber, const char* strDescription) {
    auto* self = static_cast<PosixKeyboardReader*>(user);
    return self->Deliver([&](KeyboardReaderEvents& events) {
      std::int32_t number = lngNumber;
      std::string description = Text(strDescription);
      events.CherryError(number, description);
    });
  }

  static int OnError(void* user, std::int32_t errNumber, const char* errSource,
                     const char* errDescription, const char* strModul, const char* strProc,
                     const char* strZusatz) {
    auto* self = static_cast<PosixKeyboardReader*>(user);
    return self->Deliver([&](KeyboardReaderEvents& events) {
      AutomationError err(errNumber, Text(errSource), Text(errDescription));
      std::string modul = Text(strModul);
      std::string proc = Text(strProc);
      std::string zusatz = Text(strZusatz);
      events.Error(err, modul, proc, zusatz);
    });
  }

  template <typename Call>
  int Deliver(Call&& call) noexcept {
    // After a handler has failed the read is over; later reports are not passed on.
    if (pending_) return 1;
    if (events_ == nullptr) return 0;
    try {
      call(*events_);
      return 0;
    } catch (...) {
      pending_ = std::current_exception();
      return 1;
    }
  }

  Library lib_;
  kbdbridge_qzCherry* object_ = nullptr;
  KeyboardReaderEvents* events_ = nullptr;
  std::exception_ptr pending_;
};

}  // namespace

std::unique_ptr<KeyboardReader> CreatePosixKeyboardReader() {
  return std::make_unique<PosixKeyboardReader>();
}

}  // namespace qz
