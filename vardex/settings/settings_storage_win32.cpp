#include "settings/settings_storage_win32.h"

#include <windows.h>

#include <algorithm>
#include <new>

#include "win32/unique_any.h"

namespace vardex {
namespace {

SettingsStorage::WriteResult Failed(DWORD error) { return {false, SystemErrorText(error)}; }

// Removes the temporary file on every way out except a completed replace.
class TempFile {
 public:
  explicit TempFile(const char* path) : path_(path) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() {
    if (!path_.empty()) ::DeleteFileA(path_.c_str());
  }
  const char* path() const { return path_.c_str(); }
  void Keep() { path_.clear(); }

 private:
  std::string path_;
};

bool WriteAll(HANDLE file, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data() + done, chunk, &written, nullptr)) return false;
    if (written == 0) {
      ::SetLastError(ERROR_WRITE_FAULT);
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

std::string SystemErrorText(unsigned long error) {
  char text[512] = {};
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                             static_cast<DWORD>(sizeof text), nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) --n;
  if (n == 0) return "System error " + std::to_string(error) + ".";
  return std::string(text, n);
}

SettingsStorage::ReadResult SettingsStorageWin32::Read(const std::string& path) {
  try {
    win32::unique_hfile file(::CreateFileA(path.c_str(), GENERIC_READ,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
      return {::GetLastError() == ERROR_FILE_NOT_FOUND ? ReadStatus::kNotFound : ReadStatus::kFailed, {}};
    ReadResult result;
    char buffer[4096];
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(file.get(), buffer, static_cast<DWORD>(sizeof buffer), &got, nullptr)) return {};
      if (got == 0) break;
      result.bytes.append(buffer, got);
    }
    result.status = ReadStatus::kOk;
    return result;
  } catch (const std::bad_alloc&) {
    // A file too large to hold is as unreadable as a locked one.
    return {};
  }
}

SettingsStorage::WriteResult SettingsStorageWin32::Write(const std::string& path, const std::string& bytes) {
  try {
    // Windows refuses to replace a read-only file, Wine does not: refuse it
    // here so that a file the user protected stays as it is everywhere.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
      return Failed(ERROR_ACCESS_DENIED);
    const auto slash = path.find_last_of("\\/");
    const std::string directory = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    char temp_path[MAX_PATH] = {};
    if (!::GetTempFileNameA(directory.c_str(), "vdx", 0, temp_path)) return Failed(::GetLastError());
    TempFile temp(temp_path);
    {
      win32::unique_hfile file(
          ::CreateFileA(temp.path(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file) return Failed(::GetLastError());
      if (!WriteAll(file.get(), bytes) || !::FlushFileBuffers(file.get())) return Failed(::GetLastError());
    }
    // The replaced file takes the temporary file's attributes and the
    // directory's inherited security, as a newly created file would.
    if (!::MoveFileExA(temp.path(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
      return Failed(::GetLastError());
    temp.Keep();
    return {true, {}};
  } catch (const std::bad_alloc&) {
    return Failed(ERROR_NOT_ENOUGH_MEMORY);
  }
}

}  // namespace vardex
