#include "components/file_dialog_win32.h"

#include <commdlg.h>

#include <algorithm>

namespace vardex {

std::string OpenFileFilter(const std::string& filter) {
  std::string result = filter;
  std::replace(result.begin(), result.end(), '|', '\0');
  // The string's own terminator is the second NUL.
  result.push_back('\0');
  return result;
}

std::string FileDialogWin32::ShowOpen(const std::string& title, const std::string& filter) {
  const std::string filters = OpenFileFilter(filter);
  // The watched path is held in 260 bytes everywhere it goes.
  char file[MAX_PATH] = {};
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof(ofn);
  ofn.hwndOwner = owner_;
  ofn.lpstrFilter = filters.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrTitle = title.c_str();
  // Browsing must not move the current directory: a failed system-directory
  // lookup puts the settings file in its drive's root.
  ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetOpenFileNameA(&ofn)) return {};
  return file;
}

}  // namespace vardex
