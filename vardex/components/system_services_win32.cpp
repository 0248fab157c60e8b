#include "components/system_services_win32.h"

#include "processes/program_path.h"
#include "win32/text.h"
#include "win32/unique_any.h"

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

bool SystemServicesWin32::SameProgramPath(const std::string& reported, const std::string& configured) const {
  return win32::same_program_path(reported.c_str(), configured.c_str());
}

bool SystemServicesWin32::StartProgram(const std::string& path, const std::string& arguments) {
  const std::wstring program = win32::ansi_to_wide(path);
  const std::size_t slash = program.find_last_of(L"\\/");
  if (program.empty() || slash == std::wstring::npos) return false;
  std::wstring command = L"\"" + program + L"\"";
  if (!arguments.empty()) {
    const std::wstring wide = win32::utf8_to_wide(arguments);
    if (wide.empty()) return false;
    command += L" " + wide;
  }
  // The folder with its last backslash, so that a program at a drive's root
  // runs in the root.
  const std::wstring folder = program.substr(0, slash + 1);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  // The whole path as the program: nothing is searched for.
  if (!::CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &started))
    return false;
  const win32::unique_handle process(started.hProcess), thread(started.hThread);
  return true;
}

std::int64_t SystemServicesWin32::MonotonicMs() const { return static_cast<std::int64_t>(::GetTickCount64()); }

std::int64_t SystemServicesWin32::AwakeMs() const {
  ULONGLONG awake = 0;  // 100-ns units; the call cannot fail with a valid pointer
  ::QueryUnbiasedInterruptTime(&awake);
  return static_cast<std::int64_t>(awake / 10000);
}

void SystemServicesWin32::ShowSettingsError(const std::string& path, const std::string& reason) {
  const std::string text = "The settings could not be saved to\r\n" + path + "\r\n\r\n" + reason;
  ::MessageBoxA(owner_, text.c_str(), "Vardex", MB_OK | MB_ICONERROR);
}

}  // namespace vardex
