#include "admin/settings_tool.h"

#include <string_view>

#include "numbers/number_text.h"
#include "settings/screen_lock.h"
#include "settings/settings_file.h"

namespace vardex {
namespace {

constexpr char kUsage[] =
    "Usage:\n"
    "  VardexSettings set <minutes> <program path> --password <password>\n"
    "  VardexSettings set <minutes> <program path> --no-lock\n"
    "  VardexSettings show [--remove-copies]\n"
    "\n"
    "set   writes vardex.ini in the system directory, the settings of every user\n"
    "      without a VirtualStore copy: the idle limit (1 to 90 minutes), the full\n"
    "      path of the program to end, and the password that locks them, or none.\n"
    "show  prints the idle limit, the path and whether a lock is set, and lists the\n"
    "      users' VirtualStore copies that shadow the file; --remove-copies deletes\n"
    "      them.\n"
    "\n"
    "Exit codes: 0 done, 1 wrong command line, 2 a value refused (nothing written),\n"
    "3 the settings file not read or written, 4 a VirtualStore copy not removed,\n"
    "5 a VirtualStore copy not removed because a link is on its way to it.\n";

bool HasLineEnd(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

// Where the file really lies, for the messages.
std::string SharedFile(const SettingsToolContext& c) { return c.shared_directory + "\\" + kSettingsFileName; }

int Usage(TextSink& to, int code) {
  to << kUsage;
  return code;
}

int Set(const std::vector<std::string>& args, SettingsToolContext& c) {
  std::optional<std::string> password;
  if (args.size() == 5 && args[3] == "--password")
    password = args[4];
  else if (!(args.size() == 4 && args[3] == "--no-lock"))
    return Usage(c.err, kToolUsage);
  // A path that names no file would have every user's Vardex watch nothing.
  const auto no_file = c.profiles.Exists(args[2])
                           ? std::nullopt
                           : std::optional<std::string>("The program's path \"" + args[2] + "\" names no file.");
  for (const auto& refusal : {RefuseMinutes(args[1]), RefusePath(args[2]), no_file,
                              password ? RefusePassword(*password) : std::nullopt}) {
    if (refusal) {
      c.err << "VardexSettings: " << *refusal << " Nothing was written.\n";
      return kToolRefused;
    }
  }
  const auto written = c.storage.Write(c.file, SettingsToolBytes(args[1], args[2], password));
  if (!written.ok) {
    c.err << "VardexSettings: cannot write " << SharedFile(c) << ": " << written.reason << "\n";
    return kToolFileFailed;
  }
  c.out << "Written: " << SharedFile(c) << "\n";
  const auto copies = VirtualStoreCopies(c.profiles, c.shared_directory);
  if (!copies.empty())
    c.out << std::to_string(copies.size()) << " VirtualStore copies shadow it for their users; "
          << "\"VardexSettings show --remove-copies\" deletes them.\n";
  return kToolDone;
}

// The settings as Vardex's loader reads them, through its own reader: it
// stops at a line it cannot use, and only a third line other than the
// sentinel locks.
void ShowSettings(const std::string& bytes, TextSink& out) {
  const SettingsText text = ReadSettingsText(bytes);
  const auto minutes = text.minutes ? RoundToInt16(*text.minutes) : std::nullopt;
  if (!minutes) {
    const auto lines = SplitSettingsLines(bytes);
    out << "Idle limit (minutes): unreadable (\"" << (lines.empty() ? std::string() : lines[0])
        << "\"); Vardex reads nothing from this file and watches no program\n";
    return;
  }
  out << "Idle limit (minutes): " << FormatInteger(*minutes) << "\n";
  out << "Program: " << text.path.value_or(std::string()) << "\n";
  out << "Lock: " << (text.password && *text.password != kPasswordSentinel ? "set" : "none") << "\n";
}

int Show(const std::vector<std::string>& args, SettingsToolContext& c) {
  const bool remove = args.size() == 2 && args[1] == "--remove-copies";
  if (args.size() > 2 || (args.size() == 2 && !remove)) return Usage(c.err, kToolUsage);
  int code = kToolDone;
  const auto read = c.storage.Read(c.file);
  c.out << "Settings file: " << SharedFile(c) << "\n";
  if (read.status == SettingsStorage::ReadStatus::kOk) {
    ShowSettings(read.bytes, c.out);
  } else if (read.status == SettingsStorage::ReadStatus::kNotFound) {
    c.out << "(none: Vardex keeps its defaults, 30 minutes and no program, without writing them)\n";
  } else {
    c.err << "VardexSettings: cannot read " << SharedFile(c) << "\n";
    code = kToolFileFailed;
  }
  const auto copies = VirtualStoreCopies(c.profiles, c.shared_directory);
  c.out << "VirtualStore copies that shadow it:" << (copies.empty() ? " none" : "") << "\n";
  for (const auto& copy : copies) {
    c.out << "  " << copy.path << "\n";
    if (!remove) continue;
    const CopyRemoval removal = c.profiles.Remove(copy.profile, copy.path);
    switch (removal.outcome) {
      case CopyRemoval::Outcome::kRemoved:
        c.out << "  removed\n";
        break;
      case CopyRemoval::Outcome::kLink:
        c.out << "  not removed (a link)\n";
        c.err << "VardexSettings: " << copy.path << " was not removed: a link on its way may lead to any file\n";
        if (code == kToolDone) code = kToolCopyIsLinked;
        break;
      case CopyRemoval::Outcome::kFailed:
        c.err << "VardexSettings: cannot remove " << copy.path << ": " << removal.reason << "\n";
        if (code == kToolDone) code = kToolCopyNotRemoved;
        break;
    }
  }
  return code;
}

}  // namespace

std::optional<std::string> RefuseMinutes(const std::string& minutes) {
  const bool digits = !minutes.empty() && minutes.size() <= 3 &&
                      minutes.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(minutes) < kToolMinMinutes || std::stoi(minutes) > kToolMaxMinutes)
    return "The idle limit \"" + minutes + "\" is not a whole number of minutes from 1 to 90.";
  return std::nullopt;
}

std::optional<std::string> RefusePath(const std::string& path) {
  if (HasLineEnd(path)) return std::string("The program's path holds a line end.");
  if (path.size() <= 7)
    return "The program's path \"" + path + "\" has 7 characters or fewer; Vardex would watch nothing.";
  return std::nullopt;
}

std::optional<std::string> RefusePassword(const std::string& password) {
  if (HasLineEnd(password)) return std::string("The password holds a line end.");
  if (password.empty()) return std::string("The password is empty; --no-lock sets none.");
  if (password == kPasswordSentinel)
    return std::string("The password \"") + kPasswordSentinel + "\" means no lock; --no-lock sets none.";
  return std::nullopt;
}

std::string SettingsToolBytes(const std::string& minutes, const std::string& path,
                              const std::optional<std::string>& password) {
  std::vector<std::string> lines{FormatInteger(std::stoi(minutes)), path};
  for (auto& line : PasswordLines(password.value_or(std::string()), kPasswordSentinel, true))
    lines.push_back(std::move(line));
  return JoinSettingsLines(lines);
}

std::string VirtualStoreCopyPath(const std::string& profile, const std::string& shared_directory) {
  std::string_view relative = shared_directory;
  if (relative.size() >= 2 && relative[1] == ':') relative.remove_prefix(2);
  while (!relative.empty() && (relative.front() == '\\' || relative.front() == '/')) relative.remove_prefix(1);
  while (!relative.empty() && (relative.back() == '\\' || relative.back() == '/')) relative.remove_suffix(1);
  std::string path = profile;
  if (!path.empty() && path.back() != '\\') path += '\\';
  path += "AppData\\Local\\VirtualStore\\";
  path += relative;
  if (!relative.empty()) path += '\\';
  return path + kSettingsFileName;
}

std::vector<ProfileCopy> VirtualStoreCopies(ProfileFolders& profiles, const std::string& shared_directory) {
  std::vector<ProfileCopy> copies;
  for (const auto& profile : profiles.Profiles()) {
    std::string copy = VirtualStoreCopyPath(profile, shared_directory);
    if (profiles.Exists(copy)) copies.push_back({profile, std::move(copy)});
  }
  return copies;
}

std::vector<std::string> ToolArguments(std::vector<std::string> args, std::string_view command_line) {
  static constexpr std::string_view kMarker = " --password-line ";
  if (args.size() < 4 || args[0] != "set" || args[3] != "--password-line") return args;
  const std::size_t at = command_line.find(kMarker);
  args.resize(3);
  args.emplace_back("--password");
  args.emplace_back(at == std::string_view::npos ? std::string_view() : command_line.substr(at + kMarker.size()));
  return args;
}

int RunSettingsTool(const std::vector<std::string>& args, SettingsToolContext& context) {
  if (args.empty()) return Usage(context.err, kToolUsage);
  const std::string& command = args[0];
  if (command == "set") return Set(args, context);
  if (command == "show") return Show(args, context);
  if (command == "help" || command == "--help" || command == "/?") return Usage(context.out, kToolDone);
  return Usage(context.err, kToolUsage);
}

}  // namespace vardex
