// One owner for an advised connection: the connection point and the cookie
// it gave, unadvised exactly once when the owner goes or is reset.
#pragma once

#include <ocidl.h>

#include <utility>

#include "win32/com_ptr.h"

namespace win32 {

class unique_connection {
 public:
  unique_connection() noexcept = default;
  unique_connection(unique_connection&& other) noexcept
      : point_(std::move(other.point_)), cookie_(std::exchange(other.cookie_, 0)) {}
  unique_connection& operator=(unique_connection&& other) noexcept {
    if (this != &other) {
      reset();
      point_ = std::move(other.point_);
      cookie_ = std::exchange(other.cookie_, 0);
    }
    return *this;
  }
  unique_connection(const unique_connection&) = delete;
  unique_connection& operator=(const unique_connection&) = delete;
  ~unique_connection() { reset(); }

  // Connects `sink` to `point` in place of what was held.
  HRESULT advise(IConnectionPoint* point, IUnknown* sink) noexcept {
    reset();
    if (!point) return E_POINTER;
    DWORD cookie = 0;
    const HRESULT hr = point->Advise(sink, &cookie);
    if (SUCCEEDED(hr)) {
      point_ = com_ptr<IConnectionPoint>(point);
      cookie_ = cookie;
    }
    return hr;
  }
  void reset() noexcept {
    if (point_) point_->Unadvise(cookie_);
    point_.reset();
    cookie_ = 0;
  }
  explicit operator bool() const noexcept { return static_cast<bool>(point_); }

 private:
  com_ptr<IConnectionPoint> point_;
  DWORD cookie_ = 0;
};

}  // namespace win32
