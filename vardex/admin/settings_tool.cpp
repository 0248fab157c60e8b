#include "admin/settings_tool.h"

#include <string_view>

#include "numbers/bounds.h"
#include "numbers/number_text.h"
#include "numbers/policy_values.h"
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
    "show  prints each setting Vardex uses and where it comes from (policy,\n"
    "      settings file or default), the policy values it ignores, and lists the\n"
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

void ShowLine(TextSink& out, const char* setting, const std::string& value, const char* from) {
  out << setting << ": " << value << " (" << from << ")\n";
}

// The settings as Vardex reads them: a policy's value where one is set, else
// the file's through Vardex's own loader (it stops at a line it cannot use,
// and only a third line other than the sentinel locks), or the defaults when
// there is no file (`bytes` none); the closing and work values come from a
// policy or are the defaults.
void ShowSettings(const std::optional<std::string>& bytes, const Policy& policy, TextSink& out) {
  const SettingsText text = ReadSettingsText(bytes ? *bytes : JoinSettingsLines(DefaultSettingsLines()));
  const char* from = bytes ? kFromSettingsFile : kFromDefault;
  const auto minutes = text.minutes ? RoundToInt16(*text.minutes) : std::nullopt;
  if (policy.limit_minutes) {
    ShowLine(out, "Idle limit (minutes)", FormatInteger(*policy.limit_minutes), kFromPolicy);
  } else if (minutes) {
    ShowLine(out, "Idle limit (minutes)", FormatInteger(*minutes), from);
  } else {
    const auto lines = SplitSettingsLines(*bytes);
    out << "Idle limit (minutes): unreadable (\"" << (lines.empty() ? std::string() : lines[0])
        << "\"); Vardex reads nothing from this file and watches no program but a policy's\n";
  }
  if (policy.program_path)
    ShowLine(out, "Program", *policy.program_path, kFromPolicy);
  else if (minutes)
    ShowLine(out, "Program", text.path.value_or(std::string()), from);
  if (policy.locked)
    ShowLine(out, "Lock", "set for every user", kFromPolicy);
  else if (minutes)
    ShowLine(out, "Lock", text.password && *text.password != kPasswordSentinel ? "set" : "none", from);
  const auto of = [&](const char* name) { return policy.Takes(name) ? kFromPolicy : kFromDefault; };
  ShowLine(out, "Warning (seconds before the request)", FormatInteger(policy.closing.warning_seconds),
           of(policy::kWarningSeconds));
  ShowLine(out, "Grace period (seconds)", FormatInteger(policy.closing.grace_seconds), of(policy::kGraceSeconds));
  ShowLine(out, "Work counts as use", policy.work.counts ? "yes" : "no", of(policy::kWorkCountsAsUse));
  ShowLine(out, "Work: CPU (thousandths of a core)", FormatInteger(policy.work.cpu_per_mille),
           of(policy::kWorkCpuPerMille));
  ShowLine(out, "Work: disk (KiB per second)", FormatInteger(policy.work.io_bytes_per_second / 1024),
           of(policy::kWorkIoKibPerSecond));
  ShowLine(out, "Work holds the end at most (minutes, 0: no bound)", FormatInteger(policy.work.hold_minutes),
           of(policy::kWorkHoldMinutes));
  ShowLine(out, "Offer to reopen stands (minutes, 0: no offer)", FormatInteger(policy.reopen_minutes),
           of(policy::kReopenOfferMinutes));
  out << "Policy values ignored:" << (policy.ignored.empty() ? " none" : "") << "\n";
  for (const auto& why : policy.ignored) out << "  " << why << "\n";
}

int Show(const std::vector<std::string>& args, SettingsToolContext& c) {
  const bool remove = args.size() == 2 && args[1] == "--remove-copies";
  if (args.size() > 2 || (args.size() == 2 && !remove)) return Usage(c.err, kToolUsage);
  int code = kToolDone;
  const auto read = c.storage.Read(c.file);
  const Policy policy = ReadPolicy(c.policies);
  c.out << "Settings file: " << SharedFile(c) << "\n";
  if (read.status == SettingsStorage::ReadStatus::kOk) {
    ShowSettings(read.bytes, policy, c.out);
  } else if (read.status == SettingsStorage::ReadStatus::kNotFound) {
    c.out << "(none: Vardex keeps its defaults, 30 minutes and no program, without writing them)\n";
    ShowSettings(std::nullopt, policy, c.out);
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
  if (!digits || std::stoi(minutes) < kMinLimitMinutes || std::stoi(minutes) > kMaxLimitMinutes)
    return "The idle limit \"" + minutes + "\" is not a whole number of minutes from " +
           FormatInteger(kMinLimitMinutes) + " to " + FormatInteger(kMaxLimitMinutes) + ".";
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
