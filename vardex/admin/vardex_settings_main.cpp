// VardexSettings.exe: the administrators' settings tool, a console program
// installed beside Vardex.exe. Arguments are converted to the ANSI code page
// the way Vardex's controls convert their text, so the file holds the same
// bytes either would write.
#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "admin/profile_folders_win32.h"
#include "admin/settings_tool.h"
#include "settings/policy_source_win32.h"
#include "settings/settings_file.h"
#include "settings/settings_storage_win32.h"
#include "win32/result.h"
#include "win32/system_library.h"
#include "win32/text.h"

namespace {

// One of the standard handles, written as the C runtime's text mode wrote
// it: to a file or a pipe the ANSI bytes as they are, each "\n" as "\r\n".
// A console gets the same text in UTF-16, so that it reads right whatever
// the console's code page. Nothing is held back: text reaches the handle in
// the order the tool writes it, output and errors interleaved as they come.
class StdWriter {
 public:
  explicit StdWriter(DWORD which) noexcept : handle_(::GetStdHandle(which)) {
    DWORD mode = 0;
    console_ = ::GetConsoleMode(handle_, &mode) != FALSE;
  }

  StdWriter& operator<<(std::string_view text) {
    // Started without standard handles (the installer's custom action): the
    // text goes nowhere, as it did.
    if (!handle_ || handle_ == INVALID_HANDLE_VALUE || text.empty()) return *this;
    std::string bytes;
    bytes.reserve(text.size() + 16);
    for (const char c : text) {
      if (c == '\n') bytes += '\r';
      bytes += c;
    }
    if (console_) {
      ToConsole(bytes);
    } else {
      ToFile(bytes);
    }
    return *this;
  }

 private:
  // A failed write is reported and the rest of the text dropped: the tool's
  // exit code still says what it did.
  HRESULT ToFile(const std::string& bytes) noexcept {
    const char* next = bytes.data();
    DWORD left = static_cast<DWORD>(bytes.size());
    while (left > 0) {
      DWORD written = 0;
      RETURN_LAST_ERROR_IF_MSG(!::WriteFile(handle_, next, left, &written, nullptr) || written == 0,
                               "WriteFile to a standard handle");
      next += written;
      left -= written;
    }
    return S_OK;
  }

  HRESULT ToConsole(const std::string& bytes) {
    const std::wstring wide = win32::ansi_to_wide(bytes);
    if (wide.empty()) return S_OK;
    DWORD written = 0;
    RETURN_IF_WIN32_BOOL_FALSE_MSG(::WriteConsoleW(handle_, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr),
                                   "WriteConsoleW");
    return S_OK;
  }

  HANDLE handle_;
  bool console_ = false;
};

int Run(int argc, wchar_t** argv) {
  std::vector<std::string> raw;
  for (int i = 1; i < argc; ++i) raw.push_back(win32::wide_to_ansi(argv[i]));
  const std::vector<std::string> args = vardex::ToolArguments(std::move(raw), win32::wide_to_ansi(::GetCommandLineW()));

  // The path Vardex opens (its system directory), and where that file really
  // lies: for the 32-bit build on 64-bit Windows, SysWOW64. A 64-bit build
  // (tests and the demo) opens System32 itself.
  char system[MAX_PATH] = {};
  if (::GetSystemDirectoryA(system, MAX_PATH) >= MAX_PATH) system[0] = '\0';
  char wow64[MAX_PATH] = {};
#ifdef _WIN64
  const UINT wow64_length = 0;
#else
  const UINT wow64_length = ::GetSystemWow64DirectoryA(wow64, MAX_PATH);
#endif
  const std::string shared = wow64_length > 0 && wow64_length < MAX_PATH ? wow64 : system;

  vardex::SettingsStorageWin32 storage;
  vardex::ProfileFoldersWin32 profiles;
  StdWriter out(STD_OUTPUT_HANDLE);
  StdWriter err(STD_ERROR_HANDLE);
  vardex::PolicySourceWin32 policies;
  vardex::SettingsToolContext context{storage, profiles, policies, std::string(system) + "\\" + vardex::kSettingsFileName,
                                      shared, out, err};
  return vardex::RunSettingsTool(args, context);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // It runs as SYSTEM from the installer: no later load may come from the
  // current directory or PATH.
  win32::restrict_library_search();
  try {
    return Run(argc, argv);
  } catch (...) {
    win32::report_exception("wmain");
    return vardex::kToolFileFailed;
  }
}
