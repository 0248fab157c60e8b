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

SettingsText ReadSettingsText(std::string_view bytes) {
  static constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  if (bytes.substr(0, kUtf8Mark.size()) == kUtf8Mark) bytes.remove_prefix(kUtf8Mark.size());
  const auto lines = SplitSettingsLines(bytes);
  SettingsText text;
  if (lines.empty()) return text;
  // '.' is always a separator; ',' is the other one users have.
  text.minutes = ParseNumber(lines[0], ',');
  if (!text.minutes) return text;
  if (lines.size() > 1) text.path = lines[1];
  if (lines.size() > 2) text.password = lines[2];
  return text;
}

std::string MinutesLine(const std::string& field_text, char decimal_separator) {
  std::string line = field_text;
  for (char& c : line)
    if (c == decimal_separator) c = '.';
  return line;
}

std::optional<std::string> RefusePath(const std::string& path) {
  if (path.find_first_of("\r\n") != std::string::npos) return std::string("The program's path holds a line end.");
  if (PathTooShort(path))
    return "The program's path \"" + path + "\" has 7 characters or fewer; Vardex would watch nothing.";
  return std::nullopt;
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

void SettingsFile::SetPolicy(const Policy& policy) {
  policy_minutes_ = policy.limit_minutes;
  policy_path_ = policy.program_path;
}

void SettingsFile::Load() {
  const auto read = storage_.Read(Path());
  source_ = read.status == SettingsStorage::ReadStatus::kOk ? kFromSettingsFile : kFromDefault;
  switch (read.status) {
    case SettingsStorage::ReadStatus::kNotFound:
      file_lines_ = DefaultSettingsLines();
      Apply(ReadSettingsText(JoinSettingsLines(file_lines_)));
      break;
    case SettingsStorage::ReadStatus::kFailed:
      file_lines_ = DefaultSettingsLines();
      c_.txtApplicationName.SetText("");
      break;
    case SettingsStorage::ReadStatus::kOk:
      file_lines_ = SplitSettingsLines(read.bytes);
      Apply(ReadSettingsText(read.bytes));
      break;
  }
  if (policy_minutes_) c_.intAppShutDownTime.SetText(FormatInteger(*policy_minutes_));
  if (policy_path_) c_.txtApplicationName.SetText(*policy_path_);
}

void SettingsFile::Apply(const SettingsText& text) {
  // A malformed file stops the read at the failing line: the limit and the
  // lock keep what they had, and the path is emptied.
  if (!text.minutes || !text.path) c_.txtApplicationName.SetText("");
  if (!text.minutes) return;
  // The save writes the field's text, so a fraction that the field holds
  // comes back as the same number: restoring the window never changes the
  // running limit. Any other number is rounded, then bounded by the field.
  const double minutes = *text.minutes;
  if (minutes != std::floor(minutes) && kLimitMinutesBounds.Holds(minutes)) {
    c_.intAppShutDownTime.SetText(FormatGeneral(minutes, system_.DecimalSeparator()));
  } else {
    const auto whole = RoundToInt16(minutes);
    if (!whole) {
      c_.txtApplicationName.SetText("");
      return;
    }
    c_.intAppShutDownTime.SetText(FormatInteger(*whole));
  }
  if (!text.path) return;
  c_.txtApplicationName.SetText(*text.path);
  if (text.password) lock_.SetPassword(*text.password);
}

void SettingsFile::Save() {
  limit_.ShowLastNumber();
  // A file that stopped short keeps the default for the lines it lacked.
  const auto defaults = DefaultSettingsLines();
  const auto file_line = [&](std::size_t i) { return i < file_lines_.size() ? file_lines_[i] : defaults[i]; };
  std::vector<std::string> lines{
      policy_minutes_ ? file_line(0) : MinutesLine(c_.intAppShutDownTime.Text(), system_.DecimalSeparator()),
      policy_path_ ? file_line(1) : c_.txtApplicationName.Text()};
  for (auto& line : PasswordLines(c_.txtPassword.Text(), lock_.password(), lock_.Unlocked()))
    lines.push_back(std::move(line));
  const std::string path = Path();
  const auto written = storage_.Write(path, JoinSettingsLines(lines));
  if (!written.ok) system_.ShowSettingsError(path, written.reason);
}

}  // namespace vardex
