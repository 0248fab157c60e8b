// Where the settings file's bytes come from and go to. The Win32 layer uses
// ordinary file I/O; tests keep the files in memory.
#pragma once

#include <string>

namespace vardex {

class SettingsStorage {
 public:
  enum class ReadStatus { kOk, kNotFound, kFailed };
  struct ReadResult {
    ReadStatus status = ReadStatus::kFailed;
    std::string bytes;
  };
  struct WriteResult {
    bool ok = false;
    std::string reason;  // the system's message when !ok
  };

  virtual ~SettingsStorage() = default;
  // Reads the whole file; nothing stays open afterwards.
  virtual ReadResult Read(const std::string& path) = 0;
  // Replaces the file with `bytes` as a whole: on failure the old file is
  // left exactly as it was.
  virtual WriteResult Write(const std::string& path, const std::string& bytes) = 0;
};

}  // namespace vardex
