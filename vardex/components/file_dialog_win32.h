// FileDialog over the common open-file dialog (GetOpenFileNameA).
#pragma once

#include <windows.h>

#include <string>

#include "components/form_services.h"

namespace vardex {

// "Description|pattern|..." into the dialog's form: every '|' a NUL, and the
// list ended by two NULs.
std::string OpenFileFilter(const std::string& filter);

class FileDialogWin32 final : public FileDialog {
 public:
  // The window the dialog is modal to (may be null).
  void SetOwner(HWND owner) noexcept { owner_ = owner; }
  // "" when the user cancels or the dialog fails.
  std::string ShowOpen(const std::string& title, const std::string& filter) override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace vardex
