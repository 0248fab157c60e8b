// The watch over the shared fakes, with the fields' change handlers routed to
// it as the form routes them, and its rooms under their own names.
#pragma once

#include <string>
#include <vector>

#include "components/fakes_test.h"
#include "monitor/audit.h"
#include "monitor/watch.h"

namespace vardex::testing {

// The events as the log would hold them: "ID level insert|insert|...", the
// level as I, W or E.
class FakeAuditSink final : public AuditSink {
 public:
  std::vector<std::string> events;
  void Report(AuditId id, AuditLevel level, const std::vector<std::string>& inserts) override {
    std::string event = std::to_string(static_cast<int>(id)) + " " + "IWE"[static_cast<int>(level)] + " ";
    for (std::size_t i = 0; i < inserts.size(); ++i) event += (i ? "|" : "") + inserts[i];
    events.push_back(event);
  }
};
inline constexpr char kAuditUser[] = "S-1-5-21-7-7-7-1001";

class MonitorFixture : public ControlsFixture {
 protected:
  MonitorFixture() : ControlsFixture(kAppCheckDesignInterval, kAppShotDownDesignInterval) {
    intAppShutDownTime.on_change = [this] { watch.ShutDownTimeChanged(); };
    intAppUseTime.on_change = [this] { watch.UseTimeChanged(); };
    intAppCheckTime.on_change = [this] { watch.CheckTimeChanged(); };
    txtApplicationName.on_change = [this] { watch.PathChanged(); };
  }

  // One presence check, as tmrAppCheck_Timer runs it.
  void CheckPresence() { watch.AppCheckTick(&hook); }

  // One tick of tmrAppShotDown, its period after the one before.
  void IdleTick() {
    system.monotonic_ms += tmrAppShotDown.Interval();
    countdown.Tick();
  }

  // Start-up, as the form does it.
  void Start() { watch.Start(); }

  Watching watching = Watching::kAll;  // what every MonitoredAppPath put watches
  std::optional<std::vector<HookedThread>> hooked_threads;  // none: the component cannot tell
  FakeHookComponent hook{log, watching, &hooked_threads};
  FakeAuditSink audits;
  // The end at once, as administrators may choose it: the scan's own tests.
  Watch watch{controls, processes, tray, system, input, ClosingPolicy{0, 0}, WorkPolicy{}, Audit(&audits, kAuditUser)};
  IntervalFields& fields = watch.fields();
  Use& use = watch.use();
  ActivityMarks& marks = watch.marks();
  PresenceCheck& presence = watch.presence();
  Closing& closing = watch.closing();
  Countdown& countdown = watch.countdown();
  InputCheck& input_check = watch.input_check();
};

}  // namespace vardex::testing
