// Owners for the Windows resources the COM server and the platform layer hold, so that every
// early return and every exception gives them back.
#pragma once

#include <windows.h>

#include <oleauto.h>

#include <utility>

namespace qz::win {

// A kernel handle (file, event). Both null and INVALID_HANDLE_VALUE mean "none", because
// CreateFile reports failure with the latter and CreateEvent with the former.
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h) {}
  ~UniqueHandle() { Reset(); }
  UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.h_, nullptr));
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h = nullptr) {
    if (Valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// A window's device context, borrowed for a measurement.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
  ~WindowDc() {
    if (dc_ != nullptr) ReleaseDC(hwnd_, dc_);
  }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// A registry key.
class UniqueHKey {
 public:
  UniqueHKey() = default;
  ~UniqueHKey() {
    if (k_ != nullptr) RegCloseKey(k_);
  }
  UniqueHKey(const UniqueHKey&) = delete;
  UniqueHKey& operator=(const UniqueHKey&) = delete;
  HKEY Get() const { return k_; }
  HKEY* Put() { return &k_; }

 private:
  HKEY k_ = nullptr;
};

// A BSTR this code owns.
class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(BSTR b) : b_(b) {}
  ~Bstr() { SysFreeString(b_); }
  Bstr(Bstr&& o) noexcept : b_(std::exchange(o.b_, nullptr)) {}
  Bstr& operator=(Bstr&& o) noexcept {
    if (this != &o) {
      SysFreeString(b_);
      b_ = std::exchange(o.b_, nullptr);
    }
    return *this;
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;

  BSTR Get() const { return b_; }
  BSTR* Put() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  // Hands the string to a caller (an [out] parameter).
  BSTR Detach() { return std::exchange(b_, nullptr); }

 private:
  BSTR b_ = nullptr;
};

// The reference count of a COM object that deletes itself when its last reference goes. It starts
// at one: the creator's reference.
class RefCount {
 public:
  ULONG AddRef() { return InterlockedIncrement(&n_); }
  // Deletes `self` with the last reference; the caller must not touch it once this returns 0.
  template <class Self>
  ULONG Release(Self* self) {
    const ULONG n = InterlockedDecrement(&n_);
    if (n == 0) delete self;
    return n;
  }

 private:
  LONG n_ = 1;
};

// A counted reference to a COM interface.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Takes over a reference the caller already owns (a new object, an [out] parameter).
  static ComPtr Attach(T* p) {
    ComPtr c;
    c.p_ = p;
    return c;
  }
  ComPtr(const ComPtr& o) : p_(o.p_) {
    if (p_ != nullptr) p_->AddRef();
  }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() {
    if (p_ != nullptr) p_->Release();
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  T** Put() {
    *this = nullptr;
    return &p_;
  }
  // For the calls that hand out an interface as void** (QueryInterface, CoCreateInstance).
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  // A new reference for an [out] parameter.
  T* Copy() const {
    if (p_ != nullptr) p_->AddRef();
    return p_;
  }

 private:
  T* p_ = nullptr;
};

// A VARIANT this code owns: cleared (its string or interface released) on every way out.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;

  VARIANT* Get() { return &v_; }
  VARIANT* operator->() { return &v_; }

 private:
  VARIANT v_;
};

}  // namespace qz::win
