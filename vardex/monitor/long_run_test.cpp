// A day of presence checks and idle ticks in simulated time, with the watched
// program coming and going and users working and walking away: the countdown's
// invariants hold at every tick.
#include <random>

#include "monitor/monitor_fixture_test.h"

namespace vardex::testing {
namespace {

class LongRun : public MonitorFixture {
 protected:
  static std::string BandFor(double r) {
    if (r <= 0.125) return "";
    const int k = r > 0.875 ? 7 : static_cast<int>(std::ceil(r * 8)) - 1;
    return "Picture" + std::to_string(k);
  }
};

TEST_F(LongRun, ADayOfTicksKeepsEveryInvariant) {
  Start();
  intAppShutDownTime.SetText("3");
  std::mt19937 rng(20261207);
  RunWatched();

  bool busy = false;          // the user works in the program during this phase
  int phase_left = 0;         // seconds until the next phase
  int restart_in = -1;        // seconds until the ended program is started again
  int ended_while_busy = 0;
  int kills = 0;
  for (int t = 1; t <= 24 * 60 * 60; ++t) {
    if (--phase_left <= 0) {
      busy = rng() % 2 == 0;
      phase_left = 30 + static_cast<int>(rng() % 600);
    }
    if (restart_in > 0 && --restart_in == 0) RunWatched();

    if (busy && processes.running.size() > 0 && t % 7 == 0) marks.Key(65, t % 2);
    if (t % 5 == 0) CheckPresence();
    if (t % 10 != 0 || !tmrAppShotDown.Enabled()) continue;

    const std::size_t killed_before = processes.killed.size();
    // Activity at every tick while busy: nothing may be ended.
    if (busy && !processes.running.empty()) marks.Mouse(513, 1, 1);
    const bool active = marks.last_key_code() != 0 || marks.last_mouse_event() != 0;
    IdleTick();

    const std::int16_t count = countdown.elapsed_seconds();
    ASSERT_GE(count, 0) << "t=" << t;
    ASSERT_LE(count, 32767);
    if (active) {
      ASSERT_EQ(count, 10) << "t=" << t;
    }
    const double r = count / 180.0;
    const bool ended = processes.killed.size() > killed_before;
    if (ended) {
      ASSERT_GT(count, 180) << "only past the limit";
      ++kills;
      if (active) ++ended_while_busy;
      ASSERT_EQ(TrayPicture(), "picTimerOff");
      restart_in = 20 + static_cast<int>(rng() % 300);
    } else if (!BandFor(r).empty()) {
      ASSERT_EQ(TrayPicture(), BandFor(r)) << "t=" << t << " count=" << count;
    }
  }
  EXPECT_EQ(ended_while_busy, 0);
  EXPECT_GT(kills, 10) << "the day should have had idle periods long enough to end the program";
}

}  // namespace
}  // namespace vardex::testing
