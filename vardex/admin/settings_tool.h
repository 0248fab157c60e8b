// VardexSettings, the administrators' tool: writes and shows the shared
// vardex.ini through the settings room's own code, so that the bytes are the
// ones Vardex writes, and finds the users' VirtualStore copies that shadow
// it. Portable; the files and the profile folders come through interfaces.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "settings/policy.h"
#include "settings/settings_file.h"
#include "settings/settings_storage.h"

namespace vardex {

// The tool's exit codes (docs/administrators.md lists them).
enum SettingsToolExit : int {
  kToolDone = 0,
  kToolUsage = 1,          // no command, an unknown one, or its arguments wrong
  kToolRefused = 2,        // a value refused; nothing written
  kToolFileFailed = 3,     // the settings file could not be read or written
  kToolCopyNotRemoved = 4,  // a VirtualStore copy is still there
  kToolCopyIsLinked = 5     // a copy left because a link is on its way: it may lead anywhere
};

// Why a value is refused; nullopt when it is accepted. Minutes are decimal
// digits only, within kLimitMinutesBounds (numbers/bounds.h); paths follow
// RefusePath (settings/settings_file.h), whose guard the timers share.
// The password may hold no line end, and be neither empty nor the sentinel
// (that is "no lock").
std::optional<std::string> RefuseMinutes(const std::string& minutes);
std::optional<std::string> RefusePassword(const std::string& password);

// The file's bytes for accepted values, written the way Vardex's "&Done"
// writes them on an unlocked screen with no password stored.
std::string SettingsToolBytes(const std::string& minutes, const std::string& path,
                              const std::optional<std::string>& password);

// How a removal ended.
struct CopyRemoval {
  enum class Outcome { kRemoved, kFailed, kLink };
  Outcome outcome = Outcome::kFailed;
  std::string reason;  // the system's, when kFailed
};

// Every user profile's folder, and the files in them.
class ProfileFolders {
 public:
  virtual ~ProfileFolders() = default;
  virtual std::vector<std::string> Profiles() = 0;
  // A file, not a folder, is at `path` (a copy, or the program "set" names).
  virtual bool Exists(const std::string& path) = 0;
  // Removes the copy at `path` inside `profile`, as an administrator in a
  // folder its user owns: a reparse point (a junction, a symbolic link) or a
  // second name of the file anywhere from the profile to the file, or a file
  // whose final path is outside the profile, is refused as kLink and nothing
  // is touched. A file already gone counts as removed.
  virtual CopyRemoval Remove(const std::string& profile, const std::string& path) = 0;
};

// A copy and the profile it lies in.
struct ProfileCopy {
  std::string profile, path;
};

// Where UAC virtualization keeps a user's copy of <shared_directory>\vardex.ini:
// <profile>\AppData\Local\VirtualStore\<shared_directory without its drive>.
std::string VirtualStoreCopyPath(const std::string& profile, const std::string& shared_directory);
// The copies that exist, in the profiles' order.
std::vector<ProfileCopy> VirtualStoreCopies(ProfileFolders& profiles, const std::string& shared_directory);

// Where the tool's text goes: any stream that takes a std::string_view with
// <<, held by reference. The console program passes a writer of its own over
// the standard handles, the tests a string stream, so that the tool itself
// needs no iostreams and carries none of their locale machinery.
class TextSink {
 public:
  template <typename Stream, typename = std::enable_if_t<!std::is_same_v<std::remove_cv_t<Stream>, TextSink>>>
  TextSink(Stream& stream) noexcept  // implicit, as binding a reference is
      : stream_(&stream), write_([](void* to, std::string_view text) { *static_cast<Stream*>(to) << text; }) {}

  TextSink& operator<<(std::string_view text) {
    write_(stream_, text);
    return *this;
  }

 private:
  void* stream_;
  void (*write_)(void* to, std::string_view text);
};

struct SettingsToolContext {
  SettingsStorage& storage;
  ProfileFolders& profiles;
  PolicySource& policies;
  // The file's path as Vardex opens it (GetSystemDirectoryA's answer and the
  // name), and the directory it really lies in (SysWOW64 on 64-bit Windows),
  // which the messages name.
  std::string file;
  std::string shared_directory;
  TextSink out;
  TextSink err;
};

// The arguments the tool runs with. The package passes the password as
// "--password-line" followed by the rest of the command line exactly as
// written, unquoted, so that no quote or backslash in the property it pastes
// in changes the password: that form becomes "--password" and that rest.
std::vector<std::string> ToolArguments(std::vector<std::string> args, std::string_view command_line);

// Runs one command line (without the program's name); returns the exit code.
int RunSettingsTool(const std::vector<std::string>& args, SettingsToolContext& context);

}  // namespace vardex
