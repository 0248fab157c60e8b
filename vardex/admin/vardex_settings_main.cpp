// VardexSettings.exe: the administrators' settings tool, a console program
// installed beside Vardex.exe. Arguments are converted to the ANSI code page
// the way Vardex's controls convert their text, so the file holds the same
// bytes either would write.
#include <windows.h>

#include <iostream>
#include <string>
#include <vector>

#include "admin/profile_folders_win32.h"
#include "admin/settings_tool.h"
#include "settings/settings_file.h"
#include "settings/settings_storage_win32.h"
#include "win32/result.h"
#include "win32/system_library.h"

namespace {

std::string ToAnsi(const wchar_t* text) {
  const int n = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (n <= 1) return {};
  std::string out(static_cast<std::size_t>(n), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), n, nullptr, nullptr);
  out.resize(static_cast<std::size_t>(n - 1));
  return out;
}

int Run(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(ToAnsi(argv[i]));

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
  vardex::SettingsToolContext context{storage, profiles, std::string(system) + "\\" + vardex::kSettingsFileName,
                                      shared, std::cout, std::cerr};
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
