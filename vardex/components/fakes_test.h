// In-memory controls, components and services for the rooms' and the form's
// tests. Calls on the components are recorded in one shared log so that
// tests can check their order.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "components/controls.h"
#include "components/form_services.h"
#include "components/hook_component.h"
#include "components/input_watch.h"
#include "components/process_list.h"
#include "components/tray.h"

namespace vardex::testing {

using CallLog = std::vector<std::string>;

class FakeTextBox final : public TextBox {
 public:
  explicit FakeTextBox(std::string text = {}) : text_(std::move(text)) {}
  std::function<void()> on_change;
  int changes = 0;

  std::string Text() const override { return text_; }
  void SetText(const std::string& text) override {
    if (text == text_) return;
    text_ = text;
    ++changes;
    if (on_change) on_change();
  }
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }

 private:
  std::string text_;
  bool enabled_ = true;
};

class FakeLabel final : public Label {
 public:
  explicit FakeLabel(std::string caption = {}) : caption_(std::move(caption)) {}
  std::string Caption() const override { return caption_; }
  void SetCaption(const std::string& caption) override { caption_ = caption; }

 private:
  std::string caption_;
};

class FakeButton final : public CommandButton {
 public:
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }

 private:
  bool enabled_ = true;
};

class FakeTimer final : public Timer {
 public:
  explicit FakeTimer(std::int32_t interval) : interval_(interval) {}
  bool refuse = false;  // the platform refuses every interval
  int interval_sets = 0;
  // Runs when the period starts again from now, as SetTimer makes it: the
  // timer turned on, or given a new interval while on.
  std::function<void()> on_restart;

  bool SetInterval(std::int32_t ms) override {
    ++interval_sets;
    if (refuse || ms <= 0) return false;
    interval_ = ms;
    if (enabled_ && on_restart) on_restart();
    return true;
  }
  std::int32_t Interval() const override { return interval_; }
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override {
    const bool started = enabled && !enabled_;
    enabled_ = enabled;
    if (started && on_restart) on_restart();
  }

 private:
  std::int32_t interval_;
  bool enabled_ = false;
};

class FakePicture final : public Picture {
 public:
  explicit FakePicture(std::string picture_name) : name(std::move(picture_name)) {}
  std::string name;
};

// Some day in 2026 on the wall clock, in milliseconds since 1601: the
// fake processes' creation times count from it.
inline constexpr std::int64_t kFakeNowMs = 13'400'000'000'000;

struct FakeProcess {
  std::string path;  // as the list reports it
  std::int32_t id = 0;
  // Milliseconds since 1601; by default long before kFakeNowMs.
  std::optional<std::int64_t> created = 0;
  bool endable = true;  // false: ending it is denied (it runs elevated)
  bool closes_when_asked = false;  // saves and exits when asked to close
  bool agrees_when_asked = false;  // answers yes when asked to close, and stays
  bool hung = false;  // its UI thread takes no messages: a request to close goes unanswered
  std::optional<WorkDone> work = WorkDone{};  // done so far; none: the list does not say
};

class FakeProcessList final : public ProcessList {
 public:
  explicit FakeProcessList(CallLog& log) : log_(log) {}

  std::vector<FakeProcess> running;  // what a snapshot sees
  std::map<std::int32_t, std::int32_t> parents;  // by identifier: the starter's; none unread
  std::map<std::int32_t, std::string> restarts;  // by identifier: the restart command line registered
  std::vector<std::int32_t> killed;
  std::vector<std::int32_t> asked;  // AskToClose's, in order
  // Failure switches, one per operation.
  bool fail_list = false, fail_count = false, fail_index = false, fail_path = false,
       fail_id = false, fail_kill = false;
  int snapshots = 0;

  bool ListProcesses() override {
    log_.push_back("ListProcesses");
    if (fail_list) return false;
    ++snapshots;
    snapshot_ = running;
    snapshot_parents_ = parents;
    return true;
  }
  std::optional<std::int32_t> ProcessCount() override {
    if (fail_count) return std::nullopt;
    return static_cast<std::int32_t>(snapshot_.size());
  }
  bool ProcessIndex(std::int16_t index) override {
    if (fail_index || index < 1 || static_cast<std::size_t>(index) > snapshot_.size()) return false;
    index_ = index;
    return true;
  }
  std::optional<std::string> ProcessPath() override {
    if (fail_path || index_ == 0) return std::nullopt;
    return snapshot_[index_ - 1].path;
  }
  std::optional<std::int32_t> ProcessID() override {
    if (fail_id || index_ == 0) return std::nullopt;
    return snapshot_[index_ - 1].id;
  }
  std::optional<std::int64_t> ProcessCreationTime() override {
    if (index_ == 0) return std::nullopt;
    return snapshot_[index_ - 1].created;
  }
  std::optional<std::int32_t> ProcessParentID() override {
    if (index_ == 0) return std::nullopt;
    const auto it = snapshot_parents_.find(snapshot_[index_ - 1].id);
    if (it == snapshot_parents_.end()) return std::nullopt;
    return it->second;
  }
  std::optional<WorkDone> ProcessWorkDone() override {
    if (index_ == 0) return std::nullopt;
    return snapshot_[index_ - 1].work;
  }
  bool KillProcessID(std::int32_t id) override {
    kill_id_ = id;
    return true;
  }
  bool KillProcess() override {
    log_.push_back("KillProcess " + std::to_string(kill_id_));
    if (fail_kill) return false;
    const auto it = std::find_if(running.begin(), running.end(), [&](const FakeProcess& p) { return p.id == kill_id_; });
    if (it != running.end() && !it->endable) return false;
    killed.push_back(kill_id_);
    if (it != running.end()) running.erase(it);
    return true;
  }
  bool AskToClose() override {
    log_.push_back("AskToClose " + std::to_string(kill_id_));
    const auto it = std::find_if(running.begin(), running.end(), [&](const FakeProcess& p) { return p.id == kill_id_; });
    asked.push_back(kill_id_);
    agreed_.erase(kill_id_);
    if (it == running.end() || it->hung) return true;
    if (it->closes_when_asked || it->agrees_when_asked) agreed_.insert(kill_id_);
    if (it->closes_when_asked) running.erase(it);
    return true;
  }
  bool AgreedToClose() override { return agreed_.count(kill_id_) != 0; }
  std::optional<std::string> RestartCommand() override {
    const auto it = restarts.find(kill_id_);
    if (it == restarts.end()) return std::nullopt;
    return it->second;
  }

 private:
  CallLog& log_;
  std::vector<FakeProcess> snapshot_;
  std::map<std::int32_t, std::int32_t> snapshot_parents_;
  std::int16_t index_ = 0;
  std::int32_t kill_id_ = 0;
  std::set<std::int32_t> agreed_;  // by identifier, since its last request
};

class FakeTray final : public Tray {
 public:
  explicit FakeTray(CallLog& log) : log_(log) {}
  const Picture* icon = nullptr;  // the shown image
  int icon_sets = 0;
  int icons_added = 0;  // AddTrayIcon calls
  bool fail = false;

  std::int32_t owner = 0;  // the window the icon's clicks go to
  bool SetTrayOwner(std::int32_t window) override {
    owner = window;
    return Log("SetTrayOwner " + std::to_string(window));
  }
  bool AddTrayIcon() override {
    ++icons_added;
    return Log("AddTrayIcon");
  }
  bool MinimizeToTray(std::int32_t window) override { return Log("MinimizeToTray " + std::to_string(window)); }
  bool RestoreFromTray(std::int32_t window) override { return Log("RestoreFromTray " + std::to_string(window)); }
  bool TrayIcon(const Picture& picture) override {
    const auto* named = dynamic_cast<const FakePicture*>(&picture);
    Log("TrayIcon " + (named ? named->name : std::string("?")));
    if (fail) return false;
    icon = &picture;
    ++icon_sets;
    return true;
  }
  std::string warning;  // the shown balloon's text, "" for none
  bool ShowWarning(const std::string& title, const std::string& text) override {
    warning = text;
    return Log("ShowWarning " + title);
  }
  bool HideWarning() override {
    warning.clear();
    return Log("HideWarning");
  }
  std::string reopen_item;  // the menu's item, "" for none
  bool ShowNote(const std::string& title, const std::string& text) override {
    warning = text;
    return Log("ShowNote " + title);
  }
  void SetReopenItem(const std::string& text) override {
    reopen_item = text;
    Log("SetReopenItem " + text);
  }

 private:
  bool Log(std::string call) {
    log_.push_back(std::move(call));
    return !fail;
  }
  CallLog& log_;
};

class FakeInputWatch final : public InputWatch {
 public:
  InputSample sample;  // what the next Sample() gives; its front changes once
  int samples = 0;
  InputSample Sample() override {
    ++samples;
    InputSample given = sample;
    sample.front_changes.clear();
    return given;
  }
};

class FakeFileDialog final : public FileDialog {
 public:
  std::string answer;  // "" = cancelled
  std::string title, filter;
  std::string ShowOpen(const std::string& t, const std::string& f) override {
    title = t;
    filter = f;
    return answer;
  }
};

class FakeHookComponent final : public HookComponent {
 public:
  // Every set answers `watching`, as the caller has it at the time.
  explicit FakeHookComponent(CallLog& log, const Watching& watching,
                             const std::optional<std::vector<HookedThread>>* hooked = nullptr)
      : log_(log), watching_(watching), hooked_(hooked) {}
  Watching MonitoredAppPath(const std::string& path) override {
    log_.push_back("MonitoredAppPath " + path);
    return watching_;
  }
  // Without a list, a component that cannot tell.
  std::optional<std::vector<HookedThread>> HookedThreads() override {
    return hooked_ ? *hooked_ : std::nullopt;
  }

 private:
  CallLog& log_;
  const Watching& watching_;
  const std::optional<std::vector<HookedThread>>* hooked_;
};

class FakeHookFactory final : public HookComponentFactory {
 public:
  explicit FakeHookFactory(CallLog& log) : log_(log) {}
  bool unavailable = false;             // not registered
  Watching watching = Watching::kAll;  // what every MonitoredAppPath put watches
  ActivityEvents* events = nullptr;

  std::unique_ptr<HookComponent> Create(ActivityEvents& e) override {
    log_.push_back("CreateHookComponent");
    if (unavailable) return nullptr;
    events = &e;
    return std::make_unique<FakeHookComponent>(log_, watching);
  }

 private:
  CallLog& log_;
};

class FakeSystem final : public SystemServices {
 public:
  std::string system_directory = "C:\\WINDOWS\\system32";
  char decimal_separator = '.';
  std::int64_t monotonic_ms = 0;
  std::int64_t asleep_ms = 0;  // of monotonic_ms, the time the machine slept
  std::vector<std::string> errors;  // "path|reason" per message shown
  std::vector<std::string> started;  // "path|arguments" per program started
  bool fail_start = false;

  std::string SystemDirectoryA() override { return system_directory; }
  char DecimalSeparator() const override { return decimal_separator; }
  // ASCII letters only: enough for the tests' paths.
  bool SameProgramPath(const std::string& reported, const std::string& configured) const override {
    if (reported.size() != configured.size()) return false;
    const auto upper = [](char ch) { return ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 'a' + 'A') : ch; };
    for (std::size_t i = 0; i < reported.size(); ++i)
      if (upper(reported[i]) != upper(configured[i])) return false;
    return true;
  }
  std::int64_t MonotonicMs() const override { return monotonic_ms; }
  std::int64_t AwakeMs() const override { return monotonic_ms - asleep_ms; }
  bool StartProgram(const std::string& path, const std::string& arguments) override {
    if (fail_start) return false;
    started.push_back(path + "|" + arguments);
    return true;
  }
  void ShowSettingsError(const std::string& path, const std::string& reason) override {
    errors.push_back(path + "|" + reason);
  }
};

inline constexpr char kDesignPath[] = "C:\\Program Files\\Navision Financials\\FIN.EXE";

// The design-time caption or text of the control named `name`.
inline std::string DesignContent(const std::string& name) {
  static const std::map<std::string, std::string> kContent = {{"intAppShutDownTime", "30"},
                                                              {"txtApplicationName", kDesignPath},
                                                              {"intAppUseTime", "10"},
                                                              {"intAppCheckTime", "5"},
                                                              {"LblElapsedTime", "0"},
                                                              {"lblCompletionRatio", "0"}};
  const auto it = kContent.find(name);
  return it == kContent.end() ? std::string() : it->second;
}

// The fake of each kind of control, at its design-time state.
template <class Kind>
struct FakeOf;
template <>
struct FakeOf<TextBox> {
  using type = FakeTextBox;
  static type Make(const char* name) { return type(DesignContent(name)); }
};
template <>
struct FakeOf<Label> {
  using type = FakeLabel;
  static type Make(const char* name) { return type(DesignContent(name)); }
};
template <>
struct FakeOf<CommandButton> {
  using type = FakeButton;
  static type Make(const char*) { return type(); }
};
template <>
struct FakeOf<Timer> {
  using type = FakeTimer;
  // No period until start-up gives it one, where the caller gives none.
  static type Make(const char*) { return type(0); }
};
template <>
struct FakeOf<Picture> {
  using type = FakePicture;
  static type Make(const char* name) { return type(name); }
};

// Every control of the form, named as in the design, at its design-time
// value (the two timers' intervals are the caller's).
class FakeControls final : public FrmMainControls {
 public:
  FakeControls(std::int32_t app_check_interval, std::int32_t app_shot_down_interval)
      : tmrAppCheck_(app_check_interval), tmrAppShotDown_(app_shot_down_interval) {}

#define VARDEX_FAKE_ACCESSOR(kind, name) \
  ControlRef<kind>::type name() override { return name##_; }
  VARDEX_FRM_MAIN_CONTROLS(VARDEX_FAKE_ACCESSOR)
#undef VARDEX_FAKE_ACCESSOR

#define VARDEX_FAKE_MEMBER(kind, name) FakeOf<kind>::type name##_{FakeOf<kind>::Make(#name)};
  VARDEX_FRM_MAIN_CONTROLS(VARDEX_FAKE_MEMBER)
#undef VARDEX_FAKE_MEMBER

  // Routes each Change event the form handles to the form `form` holds then.
  template <typename FormPtr>
  void RouteChanges(const FormPtr& form) {
#define VARDEX_FAKE_ROUTE(name) name##_.on_change = [&form] { form->name##_Change(); };
    VARDEX_FRM_MAIN_CHANGE_EVENTS(VARDEX_FAKE_ROUTE)
#undef VARDEX_FAKE_ROUTE
  }
};

// The controls at their design-time values and the fakes every room's tests
// share, with the controls under their design names.
class ControlsFixture : public ::testing::Test {
 protected:
  ControlsFixture(std::int32_t app_check_interval, std::int32_t app_shot_down_interval)
      : controls{app_check_interval, app_shot_down_interval} {}

  // Name of the picture the tray shows ("" for none).
  std::string TrayPicture() const {
    const auto* p = dynamic_cast<const FakePicture*>(tray.icon);
    return p ? p->name : std::string();
  }
  // The configured program runs as `count` processes with ids 100, 101, ...
  void RunWatched(int count = 1, const std::string& reported = "C:\\PROGRAM FILES\\NAVISION FINANCIALS\\FIN.EXE") {
    for (int i = 0; i < count; ++i)
      processes.running.push_back({reported, 100 + static_cast<std::int32_t>(processes.running.size())});
  }

  CallLog log;
  FakeControls controls;
#define VARDEX_FAKE_ALIAS(kind, name) FakeOf<kind>::type& name = controls.name##_;
  VARDEX_FRM_MAIN_CONTROLS(VARDEX_FAKE_ALIAS)
#undef VARDEX_FAKE_ALIAS
  FakeProcessList processes{log};
  FakeTray tray{log};
  FakeSystem system;
  FakeInputWatch input;
};

}  // namespace vardex::testing
