#include "settings/settings_file.h"

#include <cmath>

#include "numbers/number_text.h"

namespace vardex {

std::vector<std::string> SplitSettingsLines(std::string_view bytes) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n') continue;
    std::size_t end = i;
    if (end > start && bytes[end - 1] == '\r') --end;
    lines.emplace_back(bytes.substr(start, end - start));
    start = i + 1;
  }
  if (start < bytes.size()) lines.emplace_back(bytes.substr(start));
  return lines;
}

std::string JoinSettingsLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& line : lines) out += line + "\r\n";
  return out;
}

std::vector<std::string> DefaultSettingsLines() { return {"30", "", kPasswordSentinel}; }

std::vector<std::string> PasswordLines(const std::string& typed, const std::string& stored, bool unlocked) {
  const std::string sentinel = kPasswordSentinel;
  const bool none_stored = stored == sentinel;
  std::vector<std::string> lines;
  if (typed.empty() && !none_stored) lines.push_back(stored);   // a: keep the password
  if (!typed.empty() && none_stored) lines.push_back(typed);    // b: set a new one
  if (typed.empty() && none_stored) lines.push_back(sentinel);  // c: still none
  // d: the sentinel typed on an unlocked screen removes the password.
  if (typed == sentinel && !none_stored && unlocked)
    lines.push_back(sentinel);
  else
    lines.push_back(stored);
  return lines;
}

void SettingsFile::Locate() {
  system_path_ = GetSystemPath() + "\\";
  c_.lblSystemPath.SetCaption(system_path_);
}

void SettingsFile::Load() {
  const std::string path = Path();
  const auto read = storage_.Read(path);
  if (read.status == SettingsStorage::ReadStatus::kNotFound) {
    // Nothing is read back: the defaults reach the window at the next load.
    const auto written = storage_.Write(path, JoinSettingsLines(DefaultSettingsLines()));
    if (!written.ok) system_.ShowSettingsError(path, written.reason);
    return;
  }
  if (read.status != SettingsStorage::ReadStatus::kOk) return;

  // A malformed file stops the read at the failing line; what was applied
  // before it stays, and nothing is locked.
  const auto lines = SplitSettingsLines(read.bytes);
  if (lines.empty()) return;
  const auto minutes = ParseNumber(lines[0], system_.DecimalSeparator());
  if (!minutes) return;
  // The save writes the field's text, so a fraction that the field holds
  // comes back as the same number: restoring the window never changes the
  // running limit. Any other number is rounded, then bounded by the field.
  if (*minutes != std::floor(*minutes) && limit_.Holds(*minutes)) {
    c_.intAppShutDownTime.SetText(FormatGeneral(*minutes, system_.DecimalSeparator()));
  } else {
    const auto whole = RoundToInt16(*minutes);
    if (!whole) return;
    c_.intAppShutDownTime.SetText(FormatInteger(*whole));
  }
  if (lines.size() < 2) return;
  c_.txtApplicationName.SetText(lines[1]);
  if (lines.size() < 3) return;
  lock_.SetPassword(lines[2]);
}

void SettingsFile::Save() {
  limit_.ShowLastNumber();
  std::vector<std::string> lines{c_.intAppShutDownTime.Text(), c_.txtApplicationName.Text()};
  for (auto& line : PasswordLines(c_.txtPassword.Text(), lock_.password(), lock_.Unlocked()))
    lines.push_back(std::move(line));
  const std::string path = Path();
  const auto written = storage_.Write(path, JoinSettingsLines(lines));
  if (!written.ok) system_.ShowSettingsError(path, written.reason);
}

}  // namespace vardex
