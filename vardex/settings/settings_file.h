// The settings file "vardex.ini": three lines (idle limit in minutes, path of
// the watched program, password or "unset entry"), an optional fourth, in the
// ANSI code page, every line ended by CR LF. Portable; the bytes come and go
// through SettingsStorage.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "components/controls.h"
#include "components/form_services.h"
#include "numbers/bounds.h"
#include "numbers/policy_values.h"
#include "settings/policy.h"
#include "settings/screen_lock.h"
#include "settings/settings_storage.h"

namespace vardex {

inline constexpr char kSettingsFileName[] = "vardex.ini";

// Splits a file into its lines. CR LF ends a line, and so does a lone LF;
// a last line without an end counts when it is not empty.
std::vector<std::string> SplitSettingsLines(std::string_view bytes);

// What a file says, read the one way Vardex and the settings tool both read
// it. A UTF-8 byte-order mark before line 1 is skipped. Line 1 takes either
// decimal separator, whoever wrote it: the file is every user's. The read
// stops at line 1 when it is no number, and each later field is there only
// when its line is.
struct SettingsText {
  std::optional<double> minutes;
  std::optional<std::string> path;
  std::optional<std::string> password;
};
SettingsText ReadSettingsText(std::string_view bytes);

// Line 1 as it is written: the field's text with the user's decimal
// separator turned into '.', so that every user reads the same number.
std::string MinutesLine(const std::string& field_text, char decimal_separator);

// Why a path of the watched program is refused; nullopt when it is accepted.
// A path that Vardex's timers ignore (PathTooShort, numbers/bounds.h) is
// refused, and so is one that holds a line end.
std::optional<std::string> RefusePath(const std::string& path);

// Every line followed by CR LF.
std::string JoinSettingsLines(const std::vector<std::string>& lines);

// The contents written when the file is missing: "30", "", "unset entry".
std::vector<std::string> DefaultSettingsLines();

// The password lines of a save (line 3 and, sometimes, line 4), from the
// password box's text, the stored password and whether the screen is unlocked.
std::vector<std::string> PasswordLines(const std::string& typed, const std::string& stored, bool unlocked);

// The controls the file is read into and written from.
struct SettingsControls {
  // The form's own, as the form hands them on.
  SettingsControls(FrmMainControls& c)
      : intAppShutDownTime(c.intAppShutDownTime()),
        txtApplicationName(c.txtApplicationName()),
        txtPassword(c.txtPassword()),
        lblSystemPath(c.lblSystemPath()) {}
  TextBox& intAppShutDownTime;
  TextBox& txtApplicationName;
  TextBox& txtPassword;
  Label& lblSystemPath;
};

// The file in the system directory, read into the window and written from
// it. It keeps the directory's path (system_path()), which Locate finds.
// `limit` is the field of line 1.
class SettingsFile {
 public:
  SettingsFile(const SettingsControls& c, SettingsStorage& storage, SystemServices& system, ScreenLock& lock,
               NumberField& limit)
      : c_(c), storage_(storage), system_(system), lock_(lock), limit_(limit) {}

  // GetSystemDirectoryA's answer.
  std::string GetSystemPath() { return system_.SystemDirectoryA(); }
  // Finds the system directory and shows it.
  void Locate();
  // Reads the file into the window. A missing file is not written: the
  // defaults reach the window from memory (a standard user's first start
  // makes no VirtualStore copy). A limit is shown as a whole number unless
  // it is a fraction that the field holds. A read that does not reach the
  // path (missing, failed or malformed file) empties the path box, so that
  // what is watched is only ever a path some file names, never the box's
  // design-time text.
  void Load();
  // Where the last Load took the settings from: kFromSettingsFile, or
  // kFromDefault when the file was missing or could not be read.
  const char* source() const { return source_; }
  // A limit that is not a number (cleared to be retyped) is saved as the
  // field's last number, which the field then shows: a first line that the
  // next load cannot read would lose the path and the lock after it.
  // A field a policy sets (settings/policy.h) is saved as the file had it,
  // never with the policy's value: removing the policy brings it back.
  void Save();
  // The limit and the path the policy sets, from the next Load on; Load
  // shows them in place of the file's.
  void SetPolicy(const Policy& policy);

  const std::string& system_path() const { return system_path_; }

 private:
  std::string Path() const { return system_path_ + kSettingsFileName; }
  void Apply(const SettingsText& text);

  SettingsControls c_;
  SettingsStorage& storage_;
  SystemServices& system_;
  ScreenLock& lock_;
  NumberField& limit_;
  std::string system_path_;
  const char* source_ = kFromDefault;
  std::optional<std::int32_t> policy_minutes_;
  std::optional<std::string> policy_path_;
  // The file's lines as last read, for the fields a policy sets.
  std::vector<std::string> file_lines_ = DefaultSettingsLines();
};

}  // namespace vardex
