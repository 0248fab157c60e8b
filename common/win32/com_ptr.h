// A minimal owning COM interface pointer.
#pragma once

#include <unknwn.h>

#include <utility>

namespace win32 {

template <typename T>
class com_ptr {
 public:
  com_ptr() noexcept = default;
  com_ptr(std::nullptr_t) noexcept {}
  // Takes a new reference on p.
  explicit com_ptr(T* p) noexcept : p_(p) {
    if (p_) p_->AddRef();
  }
  com_ptr(const com_ptr& o) noexcept : com_ptr(o.p_) {}
  com_ptr(com_ptr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  com_ptr& operator=(const com_ptr& o) noexcept {
    com_ptr(o).swap(*this);
    return *this;
  }
  com_ptr& operator=(com_ptr&& o) noexcept {
    com_ptr(std::move(o)).swap(*this);
    return *this;
  }
  ~com_ptr() { reset(); }

  // Adopts p without adding a reference.
  static com_ptr attach(T* p) noexcept {
    com_ptr r;
    r.p_ = p;
    return r;
  }
  [[nodiscard]] T* detach() noexcept { return std::exchange(p_, nullptr); }

  void reset() noexcept {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Releases what is held and hands out the address for an out parameter.
  T** put() noexcept {
    reset();
    return &p_;
  }
  void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

  T* get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }
  void swap(com_ptr& o) noexcept { std::swap(p_, o.p_); }

  template <typename U>
  HRESULT query(com_ptr<U>& out) const noexcept {
    return p_ ? p_->QueryInterface(__uuidof(U), out.put_void()) : E_POINTER;
  }
  HRESULT query(REFIID iid, void** out) const noexcept {
    return p_ ? p_->QueryInterface(iid, out) : E_POINTER;
  }

 private:
  T* p_ = nullptr;
};

}  // namespace win32
