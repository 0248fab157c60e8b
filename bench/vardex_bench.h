// The groups of vardex_bench.exe, one file each (bench_hooks.cpp,
// bench_presence.cpp, bench_sets.cpp, bench_footprint.cpp), and what they
// share beyond bench_common.h: the recorder of the component's events and the
// watched program's stand-in.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bench_common.h"
#include "components/hook_component.h"

namespace bench {

inline constexpr char kMissingProgram[] = "C:\\NOWHERE\\NOT_RUNNING.EXE";

// Counts the component's events as FrmMain's handlers would receive them,
// and checks that key events keep their order (down, up, down, ...).
class Recorder final : public vardex::ActivityEvents {
 public:
  void oMKHook_KeyEvent(std::int32_t lKeyCode, std::int32_t bPressed) override {
    last_key_us = NowUs();
    ++keys;
    if (lKeyCode != 'A' || bPressed != expect_pressed) in_order = false;
    expect_pressed = bPressed ? 0 : 1;
  }
  void oMKHook_MouseEvent(std::int32_t, std::int32_t, std::int32_t) override { ++mice; }
  void Reset() {
    keys = mice = 0;
    expect_pressed = 1;
  }

  long keys = 0;
  long mice = 0;
  bool in_order = true;
  double last_key_us = 0;

 private:
  std::int32_t expect_pressed = 1;
};

// The watched program's stand-in: 32-bit, or 64-bit (hooked through Tessik's
// companion).
inline std::wstring TargetExe(bool wide = false) {
  return OwnDirectory() + (wide ? L"bench_target64.exe" : L"bench_target.exe");
}

// Benchmark 1 (the added cost of a hooked message), `messages` per round.
int RunHooks(int rounds, long messages, bool wide);
// Benchmark 2 (key down to the handler), `samples` keys per round.
int RunLatency(int rounds, int samples, bool wide);
// Benchmark 3 (the presence check) at each count of processes in `levels`.
int RunPresence(HINSTANCE instance, const std::vector<int>& levels, int checks);
// Benchmark 4 (start-up and memory of Vardex.exe).
int RunFootprint(int rounds, long iterations);
// Benchmark 5 (one set of MonitoredAppPath), and the same with the companion hung.
int RunSets(int rounds, int sets, bool wide);
int RunHungHelper(int rounds);

}  // namespace bench
