#include "components/system_services_win32.h"

#include <vector>

namespace vardex {

std::string SystemServicesWin32::SystemDirectoryA() {
  char buffer[260] = {};
  const UINT n = ::GetSystemDirectoryA(buffer, static_cast<UINT>(sizeof buffer));
  if (n == 0 || n >= sizeof buffer) return {};
  return std::string(buffer);
}

char SystemServicesWin32::DecimalSeparator() const {
  char sep[4] = {};
  if (::GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, sep, static_cast<int>(sizeof sep)) < 2)
    return '.';
  return sep[0];
}

std::string SystemServicesWin32::UpperCase(const std::string& text) const {
  std::vector<char> buf(text.begin(), text.end());
  if (!buf.empty()) ::CharUpperBuffA(buf.data(), static_cast<DWORD>(buf.size()));
  return std::string(buf.begin(), buf.end());
}

void SystemServicesWin32::ShowSettingsError(const std::string& path, const std::string& reason) {
  const std::string text = "The settings could not be saved to\r\n" + path + "\r\n\r\n" + reason;
  ::MessageBoxA(owner_, text.c_str(), "Vardex", MB_OK | MB_ICONERROR);
}

}  // namespace vardex
