// SystemServices over the Win32 API.
#pragma once

#include <windows.h>

#include "components/form_services.h"

namespace vardex {

class SystemServicesWin32 final : public SystemServices {
 public:
  // `owner` is the window that owns the error message box (may be null).
  void SetOwner(HWND owner) { owner_ = owner; }

  std::string SystemDirectoryA() override;
  char DecimalSeparator() const override;
  bool SameProgramPath(const std::string& reported, const std::string& configured) const override;
  std::int64_t MonotonicMs() const override;
  std::int64_t AwakeMs() const override;
  bool StartProgram(const std::string& path, const std::string& arguments) override;
  void ShowSettingsError(const std::string& path, const std::string& reason) override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace vardex
