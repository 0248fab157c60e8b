// The settings room over the shared fakes: the file, the screen lock and the
// interval fields the file's first line goes through, wired to the change
// handlers the way the form wires them.
#pragma once

#include <map>
#include <memory>
#include <string>

#include "components/fakes_test.h"
#include "monitor/interval_field.h"
#include "settings/screen_lock.h"
#include "settings/settings_file.h"
#include "settings/settings_storage.h"

namespace vardex::testing {

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

// The policy key as a map of values.
class FakePolicySource final : public PolicySource {
 public:
  std::map<std::string, PolicyValue> values;
  std::optional<PolicyValue> Read(const char* name) override {
    const auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
  }
};

class SettingsFixture : public ControlsFixture {
 protected:
  static constexpr char kIniPath[] = "C:\\WINDOWS\\system32\\vardex.ini";

  SettingsFixture() : ControlsFixture(kAppCheckDesignInterval, kAppShotDownDesignInterval) {
    intAppShutDownTime.on_change = [this] { fields.intAppShutDownTime.Bound(); };
    intAppUseTime.on_change = [this] { fields.intAppUseTime.Bound(); };
    intAppCheckTime.on_change = [this] { fields.intAppCheckTime.Bound(); };
    txtPassword.on_change = [this] { lock.PasswordTyped(); };
    UseStorage(storage, system);
  }

  // The file kept by other storage and services.
  void UseStorage(SettingsStorage& where, SystemServices& services) {
    settings = std::make_unique<SettingsFile>(controls, where, services, lock, fields.intAppShutDownTime);
  }
  // As at start-up: the system directory found and the file read.
  void Load() {
    settings->Locate();
    settings->Load();
  }

  FakeSettingsStorage storage{log};
  IntervalFields fields{controls, system};
  ScreenLock lock{controls};
  std::unique_ptr<SettingsFile> settings;
};

}  // namespace vardex::testing
