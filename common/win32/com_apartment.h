// Joins the calling thread to a single-threaded COM apartment for the owner's
// lifetime; leaves it only when joining succeeded, as CoUninitialize requires.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace win32 {

class com_apartment {
 public:
  com_apartment() noexcept : hr_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  com_apartment(const com_apartment&) = delete;
  com_apartment& operator=(const com_apartment&) = delete;
  ~com_apartment() {
    if (SUCCEEDED(hr_)) ::CoUninitialize();
  }
  bool ok() const noexcept { return SUCCEEDED(hr_); }

 private:
  HRESULT hr_;
};

}  // namespace win32
