#include "admin/profile_folders_win32.h"

#include <windows.h>

#include <string>
#include <vector>

#include "settings/settings_storage_win32.h"
#include "win32/text.h"
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

namespace {

// A handle on one step of the way, opened on the step itself, never on what
// a reparse point leads to. Held while the next step opens: a folder open
// without FILE_SHARE_DELETE cannot be renamed or replaced by a link.
win32::unique_hfile OpenStep(const std::wstring& path, DWORD access) {
  return win32::unique_hfile(::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                           nullptr));
}

// The path the system resolves a handle to, for comparison.
std::wstring FinalPath(HANDLE handle) {
  std::wstring path(32768, L'\0');
  const DWORD n = ::GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()), 0);
  if (n == 0 || n >= path.size()) return {};
  path.resize(n);
  return path;
}

bool StartsWithFolder(const std::wstring& path, const std::wstring& folder) {
  if (folder.empty() || path.size() <= folder.size() || path[folder.size()] != L'\\') return false;
  return ::CompareStringOrdinal(path.data(), static_cast<int>(folder.size()), folder.data(),
                                static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL;
}

CopyRemoval Failed(DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return {CopyRemoval::Outcome::kRemoved, {}};
  return {CopyRemoval::Outcome::kFailed, SystemErrorText(error)};
}

}  // namespace

CopyRemoval ProfileFoldersWin32::Remove(const std::string& profile_path, const std::string& path) {
  const CopyRemoval link{CopyRemoval::Outcome::kLink, {}};
  const std::wstring profile = win32::ansi_to_wide(profile_path);
  const std::wstring file = win32::ansi_to_wide(path);
  if (!StartsWithFolder(file, profile)) return link;

  // The profile's own folder is the administrators' (its parent is theirs);
  // every step after it is its user's to replace.
  std::vector<win32::unique_hfile> way;
  way.push_back(OpenStep(profile, FILE_READ_ATTRIBUTES));
  if (!way.back()) return Failed(::GetLastError());
  const std::wstring root = FinalPath(way.back().get());
  std::size_t at = profile.size();
  while (true) {
    const std::size_t next = file.find(L'\\', at + 1);
    const bool last = next == std::wstring::npos;
    way.push_back(OpenStep(file.substr(0, last ? file.size() : next),
                           last ? DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES : FILE_READ_ATTRIBUTES));
    if (!way.back()) return Failed(::GetLastError());
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(way.back().get(), &info)) return Failed(::GetLastError());
    if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return link;
    if (last) {
      // A second name of a file is no copy of the user's own: leave it.
      if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY || info.nNumberOfLinks > 1) return link;
      break;
    }
    at = next;
  }
  HANDLE copy = way.back().get();
  if (!StartsWithFolder(FinalPath(copy), root)) return link;

  // A copy its user made read-only goes too: it would shadow the shared file.
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(copy, FileBasicInfo, &basic, sizeof basic)) return Failed(::GetLastError());
  if (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) {
    basic.FileAttributes = (basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileInformationByHandle(copy, FileBasicInfo, &basic, sizeof basic)) return Failed(::GetLastError());
  }
  FILE_DISPOSITION_INFO dispose{TRUE};
  if (!::SetFileInformationByHandle(copy, FileDispositionInfo, &dispose, sizeof dispose)) return Failed(::GetLastError());
  return {CopyRemoval::Outcome::kRemoved, {}};
}

}  // namespace vardex
