// In-memory controls, components and services for testing FrmMain's handlers,
// and a fixture that wires them to a form with the window's design-time
// values. Calls on the components are recorded in one shared log so that
// tests can check their order.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "window/frm_main.h"

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

  bool SetInterval(std::int32_t ms) override {
    ++interval_sets;
    if (refuse || ms <= 0) return false;
    interval_ = ms;
    return true;
  }
  std::int32_t Interval() const override { return interval_; }
  bool Enabled() const override { return enabled_; }
  void SetEnabled(bool enabled) override { enabled_ = enabled; }

 private:
  std::int32_t interval_;
  bool enabled_ = false;
};

class FakePicture final : public Picture {
 public:
  explicit FakePicture(std::string picture_name) : name(std::move(picture_name)) {}
  std::string name;
};

struct FakeProcess {
  std::string path;  // as the list reports it
  std::int32_t id = 0;
};

class FakeProcessList final : public ProcessList {
 public:
  explicit FakeProcessList(CallLog& log) : log_(log) {}

  std::vector<FakeProcess> running;  // what a snapshot sees
  std::vector<std::int32_t> killed;
  // Failure switches, one per operation.
  bool fail_list = false, fail_count = false, fail_index = false, fail_path = false,
       fail_id = false, fail_kill = false;
  int snapshots = 0;

  bool ListProcesses() override {
    log_.push_back("ListProcesses");
    if (fail_list) return false;
    ++snapshots;
    snapshot_ = running;
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
  bool KillProcessID(std::int32_t id) override {
    kill_id_ = id;
    return true;
  }
  bool KillProcess() override {
    log_.push_back("KillProcess " + std::to_string(kill_id_));
    if (fail_kill) return false;
    killed.push_back(kill_id_);
    for (auto it = running.begin(); it != running.end(); ++it)
      if (it->id == kill_id_) {
        running.erase(it);
        break;
      }
    return true;
  }

 private:
  CallLog& log_;
  std::vector<FakeProcess> snapshot_;
  std::int16_t index_ = 0;
  std::int32_t kill_id_ = 0;
};

class FakeTray final : public Tray {
 public:
  explicit FakeTray(CallLog& log) : log_(log) {}
  const Picture* icon = nullptr;  // the shown image
  int icon_sets = 0;
  int icons_added = 0;  // AddTrayIcon calls
  bool fail = false;

  bool SetTrayOwner(std::int32_t window) override { return Log("SetTrayOwner " + std::to_string(window)); }
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

 private:
  bool Log(std::string call) {
    log_.push_back(std::move(call));
    return !fail;
  }
  CallLog& log_;
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
  explicit FakeHookComponent(CallLog& log, bool& fail) : log_(log), fail_(fail) {}
  bool MonitoredAppPath(const std::string& path) override {
    log_.push_back("MonitoredAppPath " + path);
    return !fail_;
  }

 private:
  CallLog& log_;
  bool& fail_;
};

class FakeHookFactory final : public HookComponentFactory {
 public:
  explicit FakeHookFactory(CallLog& log) : log_(log) {}
  bool unavailable = false;  // not registered
  bool fail_set = false;     // every MonitoredAppPath put fails
  ActivityEvents* events = nullptr;

  std::unique_ptr<HookComponent> Create(ActivityEvents& e) override {
    log_.push_back("CreateHookComponent");
    if (unavailable) return nullptr;
    events = &e;
    return std::make_unique<FakeHookComponent>(log_, fail_set);
  }

 private:
  CallLog& log_;
};

class FakeSettingsStorage final : public SettingsStorage {
 public:
  explicit FakeSettingsStorage(CallLog& log) : log_(log) {}
  std::map<std::string, std::string> files;
  bool fail_read = false;
  std::string fail_write;  // non-empty: every write fails with this reason
  int reads = 0, writes = 0;

  ReadResult Read(const std::string& path) override {
    ++reads;
    log_.push_back("Read " + path);
    if (fail_read) return {ReadStatus::kFailed, {}};
    auto it = files.find(path);
    if (it == files.end()) return {ReadStatus::kNotFound, {}};
    return {ReadStatus::kOk, it->second};
  }
  WriteResult Write(const std::string& path, const std::string& bytes) override {
    ++writes;
    log_.push_back("Write " + path);
    if (!fail_write.empty()) return {false, fail_write};
    files[path] = bytes;
    return {true, {}};
  }

 private:
  CallLog& log_;
};

class FakeSystem final : public SystemServices {
 public:
  std::string system_directory = "C:\\WINDOWS\\system32";
  char decimal_separator = '.';
  std::vector<std::string> errors;  // "path|reason" per message shown

  std::string SystemDirectoryA() override { return system_directory; }
  char DecimalSeparator() const override { return decimal_separator; }
  std::string UpperCase(const std::string& text) const override {
    std::string s = text;
    for (char& ch : s)
      if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 'a' + 'A');
    return s;
  }
  void ShowSettingsError(const std::string& path, const std::string& reason) override {
    errors.push_back(path + "|" + reason);
  }
};

// A form with every control at its design-time value, wired to the fakes.
// Construct, adjust the fakes, then call Load() (Form_Load) if the test
// needs the started state.
class FormFixture : public ::testing::Test {
 protected:
  static constexpr std::int32_t kWindowHandle = 0x1234;
  static constexpr char kIniPath[] = "C:\\WINDOWS\\system32\\vardex.ini";
  static constexpr char kDesignPath[] = "C:\\Program Files\\Navision Financials\\FIN.EXE";

  FormFixture() {
    intAppShutDownTime.on_change = [this] { form->intAppShutDownTime_Change(); };
    intAppUseTime.on_change = [this] { form->intAppUseTime_Change(); };
    intAppCheckTime.on_change = [this] { form->intAppCheckTime_Change(); };
    txtPassword.on_change = [this] { form->txtPassword_Change(); };
    form = std::make_unique<FrmMain>(
        FrmMainControls{intAppShutDownTime, txtApplicationName, txtPassword, intAppUseTime,
                        intAppCheckTime, cmdBrowse, LblElapsedTime, lblCompletionRatio,
                        lblhKeyPressed, lblKeyReleased, lblMouseEvent, lblCourrentMouse,
                        lblSystemPath, tmrAppCheck, tmrAppShotDown, picTimerOff, picTimerOn,
                        {&pictures[0], &pictures[1], &pictures[2], &pictures[3], &pictures[4],
                         &pictures[5], &pictures[6]}},
        FrmMainComponents{processes, tray, dialog, hooks, storage, system});
    form->SetWindowHandle(kWindowHandle);
  }

  bool Load() { return form->Form_Load(); }

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
  FakeTextBox intAppShutDownTime{"30"};
  FakeTextBox txtApplicationName{kDesignPath};
  FakeTextBox txtPassword{""};
  FakeTextBox intAppUseTime{"10"};
  FakeTextBox intAppCheckTime{"5"};
  FakeButton cmdBrowse;
  FakeLabel LblElapsedTime{"0"}, lblCompletionRatio{"0"}, lblhKeyPressed, lblKeyReleased,
      lblMouseEvent, lblCourrentMouse, lblSystemPath;
  FakeTimer tmrAppCheck{kAppCheckDesignInterval}, tmrAppShotDown{kAppShotDownDesignInterval};
  FakePicture picTimerOff{"picTimerOff"}, picTimerOn{"picTimerOn"};
  FakePicture pictures[7] = {FakePicture{"Picture1"}, FakePicture{"Picture2"}, FakePicture{"Picture3"},
                             FakePicture{"Picture4"}, FakePicture{"Picture5"}, FakePicture{"Picture6"},
                             FakePicture{"Picture7"}};
  FakeProcessList processes{log};
  FakeTray tray{log};
  FakeFileDialog dialog;
  FakeHookFactory hooks{log};
  FakeSettingsStorage storage{log};
  FakeSystem system;
  std::unique_ptr<FrmMain> form;
};

}  // namespace vardex::testing
