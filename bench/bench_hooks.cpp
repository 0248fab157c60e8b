// Benchmarks 1 (`hooks`: the added cost of a hooked message) and 2
// (`latency`: key down to the handler), on a fresh target process per round:
// Wine keeps calling hooks whose installer has gone, so targets are never
// reused. `wide`: on a 64-bit target, whose pass-through hook the target sets
// itself.
#include <windows.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "components/hook_client_win32.h"
#include "vardex_bench.h"
#include "win32/text.h"

namespace bench {
namespace {

// The hooks a block of benchmark 1 runs under, in the order its blocks take
// them: none, a pass-through pair, Tessik's, and a pair that posts the relay
// messages and passes on.
enum class HookConfig { kNone, kPassOn, kTessik, kPosting };
constexpr int kHookConfigs = 4;
// Keys (0) and mouse input (1).
constexpr int kKinds = 2;

// What bench_target.exe posts to the driver's window.
struct TargetReports {
  HWND target = nullptr;
  bool result = false;
  long handled = 0;
  double total_us = 0;
  long acks = 0;
  double ack_us = 0;
};

struct ReportTo {
  TargetReports* st;
  void operator()(UINT message, WPARAM wparam, LPARAM lparam) const {
    if (message == kMsgReady) st->target = reinterpret_cast<HWND>(lparam);
    if (message == kMsgResult) {
      st->result = true;
      st->handled = static_cast<long>(wparam);
      st->total_us = static_cast<double>(lparam) / 10.0;
    }
    if (message == kMsgAck) {
      ++st->acks;
      st->ack_us = NowUs();
    }
  }
};

// A hook that only passes the call on, hooked the same way: the platform's
// share of the added cost.
struct PassOnHook {
  win32::unique_hmodule module;
  HOOKPROC proc = nullptr;
};

PassOnHook LoadPassOn() {
  PassOnHook pass_on;
  pass_on.module.reset(::LoadLibraryW((OwnDirectory() + L"bench_nullhook.dll").c_str()));
  using GetHook = HOOKPROC (*)();
  const FARPROC export_address = pass_on.module ? ::GetProcAddress(pass_on.module.get(), "BenchPassOnHook") : nullptr;
  // Through void (*)(), the one function type every compiler lets any cast go through.
  const auto get_hook = reinterpret_cast<GetHook>(reinterpret_cast<void (*)()>(export_address));
  pass_on.proc = get_hook ? get_hook() : nullptr;
  return pass_on;
}

// Time and messages per configuration and kind of input, in one round.
struct Sums {
  double total_us[kHookConfigs][kKinds] = {};
  double handled[kHookConfigs][kKinds] = {};
};
// Microseconds per message, per configuration and kind of input, in one round.
using PerMessage = std::array<std::array<double, kKinds>, kHookConfigs>;

int Index(HookConfig config) { return static_cast<int>(config); }

class HookBench {
 public:
  explicit HookBench(bool wide)
      : wide_(wide), target_exe_(TargetExe(wide)), target_path_(win32::wide_to_ansi(target_exe_)) {}

  bool Ready() const {
    if (!hook_) {
      std::fprintf(stderr, "cannot create Hooks.MouseKeyboard: 0x%08lX\n",
                   static_cast<unsigned long>(factory_.last_error()));
      return false;
    }
    if (!pass_on_.proc) {
      std::fprintf(stderr, "cannot load bench_nullhook.dll\n");
      return false;
    }
    return true;
  }

  // One round on a fresh target: `unwatched` runs before Tessik watches the
  // whole target, `watched` while it does.
  template <typename Unwatched, typename Watched>
  bool Round(Unwatched unwatched, Watched watched) {
    Child target;
    if (!StartTarget(target)) return false;
    if (!unwatched() || hook_->MonitoredAppPath(target_path_) == vardex::Watching::kNothing) {
      std::fprintf(stderr, "input did not reach bench_target.exe, or its hooks could not be set\n");
      target.Stop(st_.target);
      return false;
    }
    watched();
    hook_->MonitoredAppPath("");
    PumpUntil([] { return false; }, 100);
    target.Stop(st_.target);
    return true;
  }

  // Benchmark 1's blocks, in the order none, pass-through, Tessik, posting
  // and back again, so that warming up and drifting load weigh on all alike.
  bool CostBlocks(long messages) {
    constexpr int kBlocks = 4;
    const long block = messages / kBlocks;
    Sums sums;
    bool ok = true;
    for (int b = 0; b < kBlocks && ok; ++b) {
      for (int step = 0; step < kHookConfigs && ok; ++step)
        ok = MeasureUnder(static_cast<HookConfig>(b % 2 ? kHookConfigs - 1 - step : step), block, sums);
    }
    PerMessage per{};
    for (int c = 0; c < kHookConfigs; ++c) {
      for (int k = 0; k < kKinds; ++k) per[c][k] = sums.total_us[c][k] / sums.handled[c][k];
    }
    per_message_.push_back(per);
    return ok;
  }

  // Benchmark 2's samples: the driver types into the target. The baseline is
  // the same key reaching the target's window procedure, which posts it
  // straight back.
  void LatencySamples(int samples) {
    ::PostMessageW(st_.target, kMsgAckMode, 1, 0);
    PumpUntil([] { return false; }, 200);
    recorder_.Reset();
    std::vector<double> ack, event;
    for (int i = 0; i < 2 * samples; ++i) {
      const long acks = st_.acks, keys = recorder_.keys;
      INPUT in{};
      in.type = INPUT_KEYBOARD;
      in.ki.wVk = 'A';
      in.ki.dwFlags = (i % 2) ? KEYEVENTF_KEYUP : 0;
      const double t0 = NowUs();
      ::SendInput(1, &in, sizeof in);
      if (!PumpUntil([&] { return st_.acks > acks && recorder_.keys > keys; }, 5000)) continue;
      if (i % 2 == 0) {
        ack.push_back(st_.ack_us - t0);
        event.push_back(recorder_.last_key_us - t0);
      }
    }
    ::PostMessageW(st_.target, kMsgAckMode, 0, 0);
    const Summary a = Summarize(ack), e = Summarize(event);
    ack_median_.push_back(a.median);
    ack_p99_.push_back(a.p99);
    event_median_.push_back(e.median);
    event_p99_.push_back(e.p99);
  }

  // Added costs beside the two floors; the ratios are of the medians.
  void PrintCost(long messages, int rounds) const {
    const std::string tail = "; " + std::to_string(messages) + " messages x " + std::to_string(rounds) + " runs";
    for (int k = 0; k < kKinds; ++k) {
      const Summary t = Summarize(Added(HookConfig::kTessik, k)), p = Summarize(Added(HookConfig::kPassOn, k)),
                    q = Summarize(Added(HookConfig::kPosting, k));
      Row(("1. " + std::string(k == 0 ? "key" : "mouse") + " message" + Program() + ", us per message").c_str(),
          Cell(Summarize(Series(HookConfig::kNone, k)), 2), Cell(Summarize(Series(HookConfig::kTessik, k)), 2),
          "added " + Cell(t, 2) + " us; a pass-through hook adds " + Cell(p, 2) +
              ", a hook that also posts the relay message " + Cell(q, 2) + "; Tessik's added cost is " +
              Fixed(t.median / p.median, 2) + "x the pass-through's, " + Fixed(t.median / q.median, 2) +
              "x the posting hook's" + tail);
    }
    Row(("1. key events relayed in bursts" + Program()).c_str(), std::to_string(expected_events_) + " sent",
        std::to_string(received_events_) + " received", recorder_.in_order ? "in order" : "OUT OF ORDER");
  }

  void PrintLatency(int samples, int rounds) const {
    Row(("2. key down to handler" + Program() + ", median us").c_str(), Cell(Summarize(ack_median_)),
        Cell(Summarize(event_median_)),
        "baseline: the key reaching the target's window procedure and posted back; " + std::to_string(samples) +
            " keys x " + std::to_string(rounds) + " runs");
    Row(("2. key down to handler" + Program() + ", p99 us").c_str(), Cell(Summarize(ack_p99_)),
        Cell(Summarize(event_p99_)), "");
  }

 private:
  bool StartTarget(Child& target) {
    st_.target = nullptr;
    if (!target.Start(target_exe_, std::to_wstring(reinterpret_cast<INT_PTR>(driver_.hwnd()))) ||
        !PumpUntil([&] { return st_.target != nullptr; }, 30000)) {
      std::fprintf(stderr, "bench_target.exe did not start\n");
      return false;
    }
    thread_ = ::GetWindowThreadProcessId(st_.target, nullptr);
    return true;
  }

  // The target sets the posting pair itself (it posts to this process's
  // driver window), and the pass-through pair on a 64-bit target.
  bool SetByTarget(HookConfig config) const {
    return config == HookConfig::kPosting || (config == HookConfig::kPassOn && wide_);
  }

  bool SetHooks(HookConfig config, win32::unique_hhook& keyboard, win32::unique_hhook& mouse) {
    if (SetByTarget(config)) {
      DWORD_PTR set = 0;
      return ::SendMessageTimeoutW(st_.target, kMsgBenchHook, config == HookConfig::kPosting ? kPostToDriver : kPassOn,
                                   0, SMTO_ABORTIFHUNG, 10000, &set) &&
             set;
    }
    if (config == HookConfig::kPassOn) {
      keyboard.reset(::SetWindowsHookExW(WH_KEYBOARD, pass_on_.proc, pass_on_.module.get(), thread_));
      mouse.reset(::SetWindowsHookExW(WH_MOUSE, pass_on_.proc, pass_on_.module.get(), thread_));
      return keyboard && mouse;
    }
    if (config == HookConfig::kTessik) {
      const bool watching = hook_->MonitoredAppPath(target_path_) != vardex::Watching::kNothing;
      recorder_.Reset();
      return watching;
    }
    return true;
  }

  void RemoveHooks(HookConfig config) {
    if (SetByTarget(config))
      ::SendMessageTimeoutW(st_.target, kMsgBenchHook, kNoHook, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
    if (config == HookConfig::kTessik) hook_->MonitoredAppPath("");
  }

  // One block under `config`: keys, then mouse input.
  bool MeasureUnder(HookConfig config, long block, Sums& sums) {
    win32::unique_hhook keyboard, mouse;
    bool ok = SetHooks(config, keyboard, mouse);
    ok = ok && Measure(config, kKindKey, block, sums);
    if (ok && config == HookConfig::kTessik) CountRelayed(block);
    ok = ok && Measure(config, kKindMouse, block, sums);
    RemoveHooks(config);
    return ok;
  }

  bool Measure(HookConfig config, WPARAM kind, long count, Sums& sums) {
    st_.result = false;
    ::PostMessageW(st_.target, kMsgMeasure, kind, count);
    if (!PumpUntil([&] { return st_.result; }, 300000) || st_.handled == 0) return false;
    const int k = kind == kKindKey ? 0 : 1;
    sums.total_us[Index(config)][k] += st_.total_us;
    sums.handled[Index(config)][k] += static_cast<double>(st_.handled);
    return true;
  }

  // Waits for the key events Tessik relayed during a block, and counts them.
  void CountRelayed(long block) {
    const long wanted = block + 200;  // the target's warm-up is relayed too
    PumpUntil([&] { return recorder_.keys >= wanted; }, 30000);
    expected_events_ += wanted;
    received_events_ += recorder_.keys;
  }

  // Per round, microseconds per message under `config`, of kind `k`.
  std::vector<double> Series(HookConfig config, int k) const {
    std::vector<double> series;
    for (const PerMessage& per : per_message_) series.push_back(per[Index(config)][k]);
    return series;
  }
  // The same, less the unhooked floor of its round.
  std::vector<double> Added(HookConfig config, int k) const {
    std::vector<double> added;
    for (const PerMessage& per : per_message_)
      added.push_back(per[Index(config)][k] - per[Index(HookConfig::kNone)][k]);
    return added;
  }

  std::string Program() const { return wide_ ? " (64-bit program)" : ""; }

  Recorder recorder_;
  vardex::HookComponentFactoryWin32 factory_;
  const std::unique_ptr<vardex::HookComponent> hook_ = factory_.Create(recorder_);
  TargetReports st_;
  MessageWindow<ReportTo> driver_{ReportTo{&st_}};
  const bool wide_;
  const std::wstring target_exe_;
  const std::string target_path_;
  const PassOnHook pass_on_ = LoadPassOn();
  DWORD thread_ = 0;
  std::vector<PerMessage> per_message_;
  long expected_events_ = 0, received_events_ = 0;
  std::vector<double> ack_median_, ack_p99_, event_median_, event_p99_;
};

}  // namespace

int RunHooks(int rounds, long messages, bool wide) {
  HookBench bench(wide);
  if (!bench.Ready()) return 1;
  for (int round = 0; round < rounds; ++round) {
    if (!bench.Round([&] { return bench.CostBlocks(messages); }, [] {})) return 1;
  }
  bench.PrintCost(messages, rounds);
  return 0;
}

int RunLatency(int rounds, int samples, bool wide) {
  HookBench bench(wide);
  if (!bench.Ready()) return 1;
  for (int round = 0; round < rounds; ++round) {
    if (!bench.Round([] { return true; }, [&] { bench.LatencySamples(samples); })) return 1;
  }
  bench.PrintLatency(samples, rounds);
  return 0;
}

}  // namespace bench
