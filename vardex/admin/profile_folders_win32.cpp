#include "admin/profile_folders_win32.h"

#include <windows.h>

#include "settings/settings_storage_win32.h"
#include "win32/unique_any.h"

namespace vardex {
namespace {

constexpr char kProfileList[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

std::string ProfileImagePath(HKEY list, const char* sid) {
  char raw[MAX_PATH] = {};
  DWORD size = sizeof raw - 1;
  DWORD type = 0;
  win32::unique_hkey key;
  if (::RegOpenKeyExA(list, sid, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return {};
  if (::RegQueryValueExA(key.get(), "ProfileImagePath", nullptr, &type, reinterpret_cast<BYTE*>(raw), &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ))
    return {};
  char expanded[MAX_PATH] = {};
  const DWORD n = ::ExpandEnvironmentStringsA(raw, expanded, static_cast<DWORD>(sizeof expanded));
  if (n == 0 || n > sizeof expanded) return {};
  return expanded;
}

}  // namespace

std::vector<std::string> ProfileFoldersWin32::Profiles() {
  std::vector<std::string> profiles;
  win32::unique_hkey list;
  if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProfileList, 0, KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, list.put()) !=
      ERROR_SUCCESS)
    return profiles;
  for (DWORD i = 0;; ++i) {
    char sid[256] = {};
    DWORD length = static_cast<DWORD>(sizeof sid);
    const LONG rc = ::RegEnumKeyExA(list.get(), i, sid, &length, nullptr, nullptr, nullptr, nullptr);
    if (rc == ERROR_NO_MORE_ITEMS) break;
    if (rc != ERROR_SUCCESS) continue;
    std::string folder = ProfileImagePath(list.get(), sid);
    if (!folder.empty()) profiles.push_back(std::move(folder));
  }
  return profiles;
}

bool ProfileFoldersWin32::Exists(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string ProfileFoldersWin32::Remove(const std::string& path) {
  // A copy its user made read-only goes too: it would shadow the shared file.
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  if (::DeleteFileA(path.c_str())) return {};
  const DWORD error = ::GetLastError();
  return error == ERROR_FILE_NOT_FOUND ? std::string() : SystemErrorText(error);
}

}  // namespace vardex
