// vardex_bench.exe hooks|presence|footprint|sets [options]: the Windows side of
// tools/bench. Each subcommand measures a figure next to its baseline in the
// same run and prints table rows: figure | baseline | measured | note, every
// cell "median (min..max)" over the runs.
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "components/file_dialog_win32.h"
#include "components/hook_client_win32.h"
#include "components/input_watch_win32.h"
#include "components/process_list_win32.h"
#include "components/system_services_win32.h"
#include "components/tray_win32.h"
#include "processes/process_query.h"
#include "relay/companion.h"
#include "relay/companion_protocol.h"
#include "relay/relay.h"
#include "settings/settings_storage_win32.h"
#include "win32/com_apartment.h"
#include "win32/result.h"
#include "win32/text.h"
#include "window/frm_main.h"
#include "window/main_window.h"
#include "window/main_window_ids.h"

namespace {

using bench::Cell;
using bench::NowUs;
using bench::Row;
using bench::Summarize;

using tessik::kRelayBlockName;
using tessik::WM_KEYRELAY;
using tessik::WM_MOUSERELAY;
constexpr char kMissingProgram[] = "C:\\NOWHERE\\NOT_RUNNING.EXE";
// A library that does not exist: the process list without its system-wide query.
constexpr char kNoLibrary[] = "vardex-bench-no-such-library.dll";

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

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
std::wstring TargetExe(bool wide = false) {
  return bench::OwnDirectory() + (wide ? L"bench_target64.exe" : L"bench_target.exe");
}

// The hooks a block of benchmark 1 runs under, in the order its blocks take
// them: none, a pass-through pair, Tessik's, and a pair that posts the relay
// messages and passes on.
enum class HookConfig { kNone, kPassOn, kTessik, kPosting };
constexpr int kHookConfigs = 4;

// Benchmark 1 (`cost`: the added cost of a hooked message) and benchmark 2
// (`latency`: key down to the handler), on a fresh target process per round
// (Wine keeps calling hooks whose installer has gone, so targets are never
// reused). `wide`: on a 64-bit target, whose pass-through hook the target sets
// itself.
int RunHooks(int rounds, long messages, int samples, bool wide, bool cost, bool latency) {
  Recorder recorder;
  vardex::HookComponentFactoryWin32 factory;
  const std::unique_ptr<vardex::HookComponent> hook = factory.Create(recorder);
  if (!hook) {
    std::fprintf(stderr, "cannot create Hooks.MouseKeyboard: 0x%08lX\n", static_cast<unsigned long>(factory.last_error()));
    return 1;
  }
  struct {
    HWND target = nullptr;
    bool result = false;
    long handled = 0;
    double total_us = 0;
    long acks = 0;
    double ack_us = 0;
  } st;
  auto on_message = [&st](UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == bench::kMsgReady) st.target = reinterpret_cast<HWND>(lparam);
    if (message == bench::kMsgResult) {
      st.result = true;
      st.handled = static_cast<long>(wparam);
      st.total_us = static_cast<double>(lparam) / 10.0;
    }
    if (message == bench::kMsgAck) {
      ++st.acks;
      st.ack_us = NowUs();
    }
  };
  bench::MessageWindow<decltype(on_message)> driver(on_message);
  const std::wstring target_exe = TargetExe(wide);
  const std::string target_path = win32::wide_to_ansi(target_exe);

  // A hook that only passes the call on, hooked the same way: the platform's
  // share of the added cost.
  const win32::unique_hmodule pass_on_module(::LoadLibraryW((bench::OwnDirectory() + L"bench_nullhook.dll").c_str()));
  using GetHook = HOOKPROC (*)();
  const FARPROC export_address = pass_on_module ? ::GetProcAddress(pass_on_module.get(), "BenchPassOnHook") : nullptr;
  // Through void (*)(), the one function type every compiler lets any cast go through.
  const auto get_hook = reinterpret_cast<GetHook>(reinterpret_cast<void (*)()>(export_address));
  const HOOKPROC pass_on = get_hook ? get_hook() : nullptr;
  if (!pass_on) {
    std::fprintf(stderr, "cannot load bench_nullhook.dll\n");
    return 1;
  }
  std::vector<double> base_key, hook_key, add_key, base_mouse, hook_mouse, add_mouse, pass_key, pass_mouse;
  std::vector<double> post_key, post_mouse;
  std::vector<double> ack_median, ack_p99, event_median, event_p99;
  long expected_events = 0, received_events = 0;
  for (int round = 0; round < rounds; ++round) {
    bench::Child target;
    st.target = nullptr;
    if (!target.Start(target_exe, std::to_wstring(reinterpret_cast<INT_PTR>(driver.hwnd()))) ||
        !bench::PumpUntil([&] { return st.target != nullptr; }, 30000)) {
      std::fprintf(stderr, "bench_target.exe did not start\n");
      return 1;
    }
    // Sum of time and messages per configuration and kind of input.
    double total_us[kHookConfigs][2] = {}, handled[kHookConfigs][2] = {};
    auto measure = [&](HookConfig config, WPARAM kind, long count) {
      st.result = false;
      ::PostMessageW(st.target, bench::kMsgMeasure, kind, count);
      if (!bench::PumpUntil([&] { return st.result; }, 300000) || st.handled == 0) return false;
      const int k = kind == bench::kKindKey ? 0 : 1;
      total_us[static_cast<int>(config)][k] += st.total_us;
      handled[static_cast<int>(config)][k] += static_cast<double>(st.handled);
      return true;
    };
    DWORD pid = 0;
    const DWORD thread = ::GetWindowThreadProcessId(st.target, &pid);
    // Blocks in the order none, pass-through, Tessik, posting and back again,
    // so that warming up and drifting load weigh on all alike.
    constexpr int kBlocks = 4;
    const long block = messages / kBlocks;
    bool ok = true;
    for (int b = 0; b < kBlocks && ok && cost; ++b) {
      for (int step = 0; step < kHookConfigs && ok; ++step) {
        const auto config = static_cast<HookConfig>(b % 2 ? kHookConfigs - 1 - step : step);
        // The target sets the posting pair itself (it posts to this process's
        // driver window), and the pass-through pair on a 64-bit target.
        const bool set_by_target =
            config == HookConfig::kPosting || (config == HookConfig::kPassOn && wide);
        win32::unique_hhook keyboard, mouse;
        if (set_by_target) {
          DWORD_PTR set = 0;
          ok = ::SendMessageTimeoutW(st.target, bench::kMsgBenchHook,
                                     config == HookConfig::kPosting ? bench::kPostToDriver : bench::kPassOn,
                                     0, SMTO_ABORTIFHUNG, 10000, &set) &&
               set;
        } else if (config == HookConfig::kPassOn) {
          keyboard.reset(::SetWindowsHookExW(WH_KEYBOARD, pass_on, pass_on_module.get(), thread));
          mouse.reset(::SetWindowsHookExW(WH_MOUSE, pass_on, pass_on_module.get(), thread));
          ok = keyboard && mouse;
        }
        if (config == HookConfig::kTessik) {
          ok = hook->MonitoredAppPath(target_path) != vardex::Watching::kNothing;
          recorder.Reset();
        }
        ok = ok && measure(config, bench::kKindKey, block);
        if (ok && config == HookConfig::kTessik) {
          const long wanted = block + 200;  // the target's warm-up is relayed too
          bench::PumpUntil([&] { return recorder.keys >= wanted; }, 30000);
          expected_events += wanted;
          received_events += recorder.keys;
        }
        ok = ok && measure(config, bench::kKindMouse, block);
        if (set_by_target)
          ::SendMessageTimeoutW(st.target, bench::kMsgBenchHook, bench::kNoHook, 0, SMTO_ABORTIFHUNG, 10000, nullptr);
        if (config == HookConfig::kTessik) hook->MonitoredAppPath("");
      }
    }
    if (!ok || hook->MonitoredAppPath(target_path) == vardex::Watching::kNothing) {
      std::fprintf(stderr, "input did not reach bench_target.exe, or its hooks could not be set\n");
      target.Stop(st.target);
      return 1;
    }
    if (cost) {
      // Per message, under `config`, of keys (0) or mouse input (1).
      const auto per = [&](HookConfig config, int k) {
        return total_us[static_cast<int>(config)][k] / handled[static_cast<int>(config)][k];
      };
      const double bk = per(HookConfig::kNone, 0), bm = per(HookConfig::kNone, 1);
      const double pk = per(HookConfig::kPassOn, 0), pm = per(HookConfig::kPassOn, 1);
      const double hk = per(HookConfig::kTessik, 0), hm = per(HookConfig::kTessik, 1);
      const double qk = per(HookConfig::kPosting, 0), qm = per(HookConfig::kPosting, 1);
      base_key.push_back(bk);
      hook_key.push_back(hk);
      add_key.push_back(hk - bk);
      base_mouse.push_back(bm);
      hook_mouse.push_back(hm);
      add_mouse.push_back(hm - bm);
      pass_key.push_back(pk - bk);
      pass_mouse.push_back(pm - bm);
      post_key.push_back(qk - bk);
      post_mouse.push_back(qm - bm);
    }
    if (!latency) {
      hook->MonitoredAppPath("");
      bench::PumpUntil([] { return false; }, 100);
      target.Stop(st.target);
      continue;
    }

    // Latency: the driver types into the target. The baseline is the same key
    // reaching the target's window procedure, which posts it straight back.
    ::PostMessageW(st.target, bench::kMsgAckMode, 1, 0);
    bench::PumpUntil([] { return false; }, 200);
    recorder.Reset();
    std::vector<double> ack, event;
    for (int i = 0; i < 2 * samples; ++i) {
      const long acks = st.acks, keys = recorder.keys;
      INPUT in{};
      in.type = INPUT_KEYBOARD;
      in.ki.wVk = 'A';
      in.ki.dwFlags = (i % 2) ? KEYEVENTF_KEYUP : 0;
      const double t0 = NowUs();
      ::SendInput(1, &in, sizeof in);
      if (!bench::PumpUntil([&] { return st.acks > acks && recorder.keys > keys; }, 5000)) continue;
      if (i % 2 == 0) {
        ack.push_back(st.ack_us - t0);
        event.push_back(recorder.last_key_us - t0);
      }
    }
    ::PostMessageW(st.target, bench::kMsgAckMode, 0, 0);
    const bench::Summary a = Summarize(ack), e = Summarize(event);
    ack_median.push_back(a.median);
    ack_p99.push_back(a.p99);
    event_median.push_back(e.median);
    event_p99.push_back(e.p99);

    hook->MonitoredAppPath("");
    bench::PumpUntil([] { return false; }, 100);
    target.Stop(st.target);
  }

  const std::string runs = std::to_string(rounds) + " runs";
  const std::string program = wide ? " (64-bit program)" : "";
  if (cost) {
    // Added costs beside the two floors; the ratios are of the medians.
    const auto added = [&](const char* kind, const std::vector<double>& base, const std::vector<double>& hooked,
                           const std::vector<double>& tessik, const std::vector<double>& pass,
                           const std::vector<double>& post) {
      const bench::Summary t = Summarize(tessik), p = Summarize(pass), q = Summarize(post);
      Row(("1. " + std::string(kind) + " message" + program + ", us per message").c_str(), Cell(Summarize(base), 2),
          Cell(Summarize(hooked), 2),
          "added " + Cell(t, 2) + " us; a pass-through hook adds " + Cell(p, 2) +
              ", a hook that also posts the relay message " + Cell(q, 2) + "; Tessik's added cost is " +
              Fixed(t.median / p.median, 2) + "x the pass-through's, " + Fixed(t.median / q.median, 2) +
              "x the posting hook's; " + std::to_string(messages) + " messages x " + runs);
    };
    added("key", base_key, hook_key, add_key, pass_key, post_key);
    added("mouse", base_mouse, hook_mouse, add_mouse, pass_mouse, post_mouse);
    Row(("1. key events relayed in bursts" + program).c_str(), std::to_string(expected_events) + " sent",
        std::to_string(received_events) + " received", recorder.in_order ? "in order" : "OUT OF ORDER");
  }
  if (latency) {
    Row(("2. key down to handler" + program + ", median us").c_str(), Cell(Summarize(ack_median)),
        Cell(Summarize(event_median)),
        "baseline: the key reaching the target's window procedure and posted back; " +
            std::to_string(samples) + " keys x " + runs);
    Row(("2. key down to handler" + program + ", p99 us").c_str(), Cell(Summarize(ack_p99)),
        Cell(Summarize(event_p99)), "");
  }
  return 0;
}

// The form's real presence check (FrmMain::tmrAppCheck_Timer over the real
// window, ProcessListWin32 and the component), and its two halves timed on
// their own.
int RunPresence(HINSTANCE instance, const std::vector<int>& levels, int checks) {
  vardex::MainWindow window;
  if (!window.Create(instance)) return 1;
  vardex::FrmMainControls& controls = window.Controls();
  vardex::ProcessListWin32 processes;
  vardex::TrayWin32 tray;
  vardex::FileDialogWin32 dialog;
  vardex::HookComponentFactoryWin32 hooks;
  vardex::SettingsStorageWin32 settings;
  vardex::SystemServicesWin32 system;
  vardex::InputWatchWin32 input;
  vardex::FrmMain form(controls, {processes, tray, dialog, hooks, settings, system, input});
  if (!tray.Create(instance, [] {}, [] {})) return 1;
  window.Attach(form);
  if (!form.Form_Load()) {
    std::fprintf(stderr, "Form_Load failed: 0x%08lX\n", static_cast<unsigned long>(hooks.last_error()));
    return 1;
  }
  // Only the checks timed here run.
  controls.tmrAppCheck().SetEnabled(false);
  controls.tmrAppShotDown().SetEnabled(false);

  Recorder recorder;
  vardex::HookComponentFactoryWin32 factory;
  const std::unique_ptr<vardex::HookComponent> hook = factory.Create(recorder);
  if (!hook) return 1;

  std::vector<bench::Child> children;
  struct Cleanup {
    std::vector<bench::Child>& c;
    ~Cleanup() {
      for (bench::Child& child : c) child.Stop(nullptr);
    }
  } cleanup{children};

  bench::Child& target = children.emplace_back();
  if (!target.Start(TargetExe(), L"0")) return 1;
  ::WaitForInputIdle(target.process.get(), 30000);
  const std::string path = win32::wide_to_ansi(TargetExe());
  std::string upper = path;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  controls.txtApplicationName().SetText(path);

  vardex::ProcessListWin32 list;
  auto count_processes = [&list] {
    return list.ListProcesses() ? list.ProcessCount().value_or(0) : 0;
  };
  const std::wstring idle_exe = bench::OwnDirectory() + L"bench_idle.exe";
  win32::system_process_query system_query;
  std::vector<win32::process_record> records;
  bool first = true;
  std::vector<int> all_levels{0};
  all_levels.insert(all_levels.end(), levels.begin(), levels.end());
  for (const int level : all_levels) {
    while (count_processes() < level) {
      const int missing = level - count_processes();
      for (int i = 0; i < missing; ++i) {
        bench::Child& idle = children.emplace_back();
        if (!idle.Start(idle_exe, L"")) {
          std::fprintf(stderr, "cannot start bench_idle.exe\n");
          return 1;
        }
      }
      bench::PumpUntil([&] { return count_processes() >= level; }, 60000);
    }
    const int n = count_processes();
    std::vector<double> full, scan, uncached, query_only, set, miss;
    double first_check = 0;
    int found = 0;
    // The caller's loop over the list; true when it met the watched program.
    auto scan_list = [&upper](vardex::ProcessList& scanned) {
      scanned.ListProcesses();
      const int count = scanned.ProcessCount().value_or(0);
      bool hit = false;
      for (int i = 1; i <= count; ++i) {
        scanned.ProcessIndex(static_cast<std::int16_t>(i));
        const std::string reported = scanned.ProcessPath().value_or(std::string());
        if (reported.compare(0, upper.size(), upper) == 0) hit = true;
      }
      return hit;
    };
    // The checks in a row, as the presence timer makes them (no other set
    // in between: the lookup walks every sixth time), then the parts alone.
    for (int k = 0; k < checks; ++k) {
      const double t = NowUs();
      form.tmrAppCheck_Timer();
      // The first check at a new count reads the paths of the processes
      // started since the last one; the others are reported apart from it.
      const double ms = (NowUs() - t) / 1000.0;
      if (k == 0) {
        first_check = ms;
      } else {
        full.push_back(ms);
      }
      bench::PumpUntil([] { return false; }, 20);
    }
    for (int k = 0; k < checks; ++k) {
      double t = NowUs();
      found += scan_list(list);
      scan.push_back((NowUs() - t) / 1000.0);

      t = NowUs();
      system_query.read(win32::kNtdll, records);
      query_only.push_back((NowUs() - t) / 1000.0);

      vardex::ProcessListWin32 without_query(kNoLibrary);
      t = NowUs();
      found += scan_list(without_query);
      uncached.push_back((NowUs() - t) / 1000.0);

      // A set that finds nothing new follows one that watches the program.
      hook->MonitoredAppPath(path);
      t = NowUs();
      hook->MonitoredAppPath(path);
      set.push_back((NowUs() - t) / 1000.0);
      t = NowUs();
      hook->MonitoredAppPath(kMissingProgram);
      miss.push_back((NowUs() - t) / 1000.0);
    }
    const bench::Summary f = Summarize(full);
    double mean = 0;
    for (const double ms : full) mean += ms / static_cast<double>(full.size());
    if (first) {
      std::printf("| 3. processes | tmrAppCheck_Timer, ms | share of one core at 5 s (the mean check) | first check after they "
                  "started, ms | the system-wide query alone, ms | snapshot+scan, ms | the same without the query (EnumProcesses, every path read), ms | "
                  "MonitoredAppPath set that finds nothing new, ms | lookup of a program not running, ms |\n");
      std::printf("|---|---|---|---|---|---|---|---|---|\n");
      first = false;
    }
    std::printf("| %d%s | %s | %s%% | %s | %s | %s | %s | %s | %s |\n", n, level == 0 ? " (Wine's own)" : "",
                Cell(f, 2).c_str(), Fixed(mean / 5000.0 * 100.0, 3).c_str(), Fixed(first_check, 2).c_str(),
                Cell(Summarize(query_only), 2).c_str(),
                Cell(Summarize(scan), 2).c_str(), Cell(Summarize(uncached), 2).c_str(),
                Cell(Summarize(set), 2).c_str(), Cell(Summarize(miss), 2).c_str());
    std::fflush(stdout);
    if (found != 2 * checks) std::fprintf(stderr, "the scans missed the watched program %d times\n", 2 * checks - found);
  }
  hook->MonitoredAppPath("");
  return 0;
}

// Benchmark 5: one set of MonitoredAppPath (the walk, the window search and
// both hooks on every thread found) with 1, 2 and 8 copies of the watched
// program running, and with one copy whose 8 windows are each on a thread of
// their own. Each round takes the cases in turn on fresh copies, so that a
// load that comes and goes falls on every case alike; the first sets of a
// case (which read the new copies' paths, and start the companion) are not
// timed. `wide`: 64-bit copies, hooked through the companion.
int RunSets(int rounds, int sets, bool wide) {
  Recorder recorder;
  vardex::HookComponentFactoryWin32 factory;
  const std::unique_ptr<vardex::HookComponent> hook = factory.Create(recorder);
  if (!hook) return 1;
  const std::string path = win32::wide_to_ansi(TargetExe(wide));
  const std::string program = wide ? " (64-bit program)" : "";
  struct Case {
    const char* name;
    int copies;
    int windows;
    std::vector<double> ms;     // the timed sets: each finds nothing new
    std::vector<double> first;  // the first set on fresh copies: every thread new
  };
  Case cases[] = {{"1 copy", 1, 1, {}, {}},
                  {"2 copies", 2, 1, {}, {}},
                  {"8 copies", 8, 1, {}, {}},
                  {"1 copy with 8 window threads", 1, 8, {}, {}},
                  {"program not running", 0, 0, {}, {}}};
  // The very first set also starts the companion for a 64-bit program: the
  // longest the monitoring thread is held by one set.
  double starting_set = -1;
  constexpr int kUntimed = 3;
  bool ok = true;
  for (int round = 0; round < rounds; ++round) {
    for (Case& c : cases) {
      std::vector<bench::Child> copies(static_cast<size_t>(c.copies));
      struct Cleanup {
        std::vector<bench::Child>& c;
        ~Cleanup() {
          for (bench::Child& child : c) child.Stop(nullptr);
        }
      } cleanup{copies};
      for (bench::Child& copy : copies) {
        if (!copy.Start(TargetExe(wide), L"0 " + std::to_wstring(c.windows))) return 1;
        ::WaitForInputIdle(copy.process.get(), 30000);
      }
      const std::string watched = c.copies > 0 ? path : kMissingProgram;
      for (int i = 0; i < kUntimed + sets; ++i) {
        const double t = NowUs();
        if ((hook->MonitoredAppPath(watched) != vardex::Watching::kNothing) != (c.copies > 0)) ok = false;
        const double ms = (NowUs() - t) / 1000.0;
        if (i >= kUntimed) c.ms.push_back(ms);
        if (i == 0 && starting_set < 0) {
          starting_set = ms;
        } else if (i == 0) {
          c.first.push_back(ms);
        }
      }
      hook->MonitoredAppPath("");
    }
  }
  const std::string runs = std::to_string(sets) + " sets x " + std::to_string(rounds) + " rounds";
  const bench::Summary one_copy = Summarize(cases[0].ms);
  for (const Case& c : cases) {
    const bench::Summary s = Summarize(c.ms);
    const std::string figure = "5. MonitoredAppPath set" + program + ", " + c.name + ", ms";
    if (c.copies > 0) {
      Row(("5. first set on fresh copies" + program + ", " + c.name + ", ms").c_str(), "", Cell(Summarize(c.first), 2),
          "every thread new: " + std::to_string(2 * c.copies * c.windows) + " hooks set; " +
              std::to_string(c.first.size()) + " rounds");
    }
    if (&c == &cases[0]) {
      Row(figure.c_str(), "", Cell(s, 2), "a set that finds nothing new (2 hooks kept); " + runs);
    } else {
      Row(figure.c_str(), Cell(one_copy, 2), Cell(s, 2),
          "baseline: 1 copy; " + std::to_string(2 * c.copies * c.windows) + " hooks, " +
              Fixed(s.median / one_copy.median, 2) + "x; " + runs);
    }
  }
  Row(("5. the first set" + program + ", ms").c_str(), "", Fixed(starting_set, 2),
      wide ? "starts the companion and waits for it: the longest one set holds the monitoring thread"
           : "reads the copy's path for the first time");
  if (!ok) std::fprintf(stderr, "a set did not give what it should\n");
  return ok ? 0 : 1;
}

struct WindowThreadSearch {
  DWORD process_id;
  DWORD thread = 0;
};

BOOL CALLBACK MatchWindowThread(HWND window, LPARAM p) noexcept {
  auto& search = *reinterpret_cast<WindowThreadSearch*>(p);
  DWORD owner = 0;
  const DWORD thread = ::GetWindowThreadProcessId(window, &owner);
  if (owner != search.process_id) return TRUE;
  search.thread = thread;
  return FALSE;
}

// The thread of `process_id`'s first top-level window; 0 when it has none.
DWORD WindowThreadOf(DWORD process_id) {
  WindowThreadSearch search{process_id};
  ::EnumWindows(MatchWindowThread, reinterpret_cast<LPARAM>(&search));
  return search.thread;
}

// Benchmark 5, the companion hung: a set and the removal after it, both
// sent while the helper's thread is suspended, on a 64-bit target's window
// thread. They run on the monitoring (UI) thread, which pumps nothing
// meanwhile, so together they must keep to one set's budget. Each round
// first has the helper serve a set, then suspends it, times, and resumes it.
int RunHungHelper(int rounds) {
  bench::Child target;
  if (!target.Start(TargetExe(sizeof(void*) == 4), L"0 1")) return 1;
  struct Cleanup {
    bench::Child& c;
    ~Cleanup() { c.Stop(nullptr); }
  } cleanup{target};
  ::WaitForInputIdle(target.process.get(), 30000);
  DWORD thread = 0;
  for (int i = 0; i < 100 && thread == 0; ++i) {
    if (i > 0) ::Sleep(50);
    thread = WindowThreadOf(target.id);
  }
  if (thread == 0) {
    std::fprintf(stderr, "the target showed no window\n");
    return 1;
  }
  tessik::Companion companion;
  std::vector<double> held;
  for (int round = 0; round < rounds; ++round) {
    // A set leaves a slow start pending, for a later one to finish.
    DWORD hooked = 0;
    for (int i = 0; i < 40 && hooked == 0; ++i) {
      if (i > 0) ::Sleep(250);
      hooked = companion.SetHooks(&thread, 1, tessik::Companion::SetDeadline());
    }
    const HWND helper = ::FindWindowExA(HWND_MESSAGE, nullptr, tessik::companion::kHostWindowClass, nullptr);
    if (hooked == 0 || !helper) {
      std::fprintf(stderr, "the helper never served a set\n");
      return 1;
    }
    const win32::unique_handle hung(
        ::OpenThread(THREAD_SUSPEND_RESUME, FALSE, ::GetWindowThreadProcessId(helper, nullptr)));
    if (!hung || ::SuspendThread(hung.get()) == static_cast<DWORD>(-1)) {
      std::fprintf(stderr, "the helper's thread could not be suspended\n");
      return 1;
    }
    const double t = NowUs();
    const DWORD deadline = tessik::Companion::SetDeadline();
    companion.SetHooks(&thread, 1, deadline);
    companion.RemoveHooks(deadline);
    held.push_back((NowUs() - t) / 1000.0);
    ::ResumeThread(hung.get());
  }
  Row("5. a set and its removal with the companion hung, ms", std::to_string(tessik::Companion::kSetBudgetMs),
      Cell(Summarize(held), 0),
      "baseline: one set's budget, which the two share; " + std::to_string(rounds) + " rounds");
  return 0;
}

struct Memory {
  double private_mb = 0, working_set_mb = 0, rss_mb = 0;
};

// The whole of a small file, such as one under /proc through Wine's Z: drive.
std::string ReadSmallFile(const std::wstring& path) {
  const win32::unique_hfile file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, 0, nullptr));
  std::string text;
  if (!file) return text;
  char buffer[4096];
  DWORD n = 0;
  while (text.size() < (1u << 20) && ::ReadFile(file.get(), buffer, sizeof buffer, &n, nullptr) && n > 0)
    text.append(buffer, n);
  return text;
}

void CloseFind(HANDLE h) noexcept { ::FindClose(h); }
using unique_hfind = win32::unique_any<HANDLE, decltype(&CloseFind), &CloseFind, -1>;

// Wine reports no private bytes for another process (PrivateUsage is 0), so
// they are read from Linux: the Wine process whose command line names `exe`
// and whose environment has this run's WINEPREFIX. Its /proc/<pid>/status
// gives RssAnon (private, resident) and VmRSS (the working set's cross-check).
std::wstring ProcStatusOf(const char* exe) {
  wchar_t prefix[MAX_PATH] = {};
  if (!::GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) return std::wstring();
  const std::string wanted_env = "WINEPREFIX=" + win32::wide_to_ansi(prefix) + std::string(1, '\0');
  WIN32_FIND_DATAW found;
  const unique_hfind search(::FindFirstFileW(L"Z:\\proc\\*", &found));
  if (!search) return std::wstring();
  std::wstring result;
  do {
    const std::wstring name = found.cFileName;
    if (name.empty() || name.find_first_not_of(L"0123456789") != std::wstring::npos) continue;
    const std::wstring dir = L"Z:\\proc\\" + name + L"\\";
    if (ReadSmallFile(dir + L"cmdline").find(exe) == std::string::npos) continue;
    if ((ReadSmallFile(dir + L"environ") + std::string(1, '\0')).find(wanted_env) == std::string::npos) continue;
    result = dir + L"status";
    break;
  } while (::FindNextFileW(search.get(), &found));
  return result;
}

double StatusKb(const std::string& status, const char* field) {
  const size_t at = status.find(std::string("\n") + field + ":");
  return at == std::string::npos ? 0.0 : std::strtod(status.c_str() + at + std::strlen(field) + 2, nullptr);
}

Memory MemoryOf(HANDLE process, const char* exe) {
  PROCESS_MEMORY_COUNTERS_EX pmc{};
  pmc.cb = sizeof pmc;
  Memory m;
  if (::GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&pmc), sizeof pmc))
    m.working_set_mb = static_cast<double>(pmc.WorkingSetSize) / (1024.0 * 1024.0);
  const std::wstring status_file = ProcStatusOf(exe);
  if (!status_file.empty()) {
    const std::string status = ReadSmallFile(status_file);
    m.private_mb = StatusKb(status, "RssAnon") / 1024.0;
    m.rss_mb = StatusKb(status, "VmRSS") / 1024.0;
  }
  return m;
}

// Wine's explorer shows its own notification area, "Wine System Tray", while
// it holds at least one icon and no other tray manager runs on the display.
bool TrayShown() {
  const HWND tray = ::FindWindowW(nullptr, L"Wine System Tray");
  return tray && ::IsWindowVisible(tray);
}

// Launch to the icon in the notification area, in milliseconds; < 0 when it
// never appeared.
double StartAndWaitForIcon(bench::Child& child, const std::wstring& exe) {
  bench::PumpUntil([] { return !TrayShown(); }, 10000);
  const double t0 = NowUs();
  if (!child.Start(exe, L"")) return -1;
  while (!TrayShown()) {
    if (NowUs() - t0 > 60e6) return -1;
    ::Sleep(1);
  }
  return (NowUs() - t0) / 1000.0;
}

std::wstring WindowText(HWND window) {
  wchar_t text[256] = {};
  DWORD_PTR ignored = 0;
  if (!::SendMessageTimeoutW(window, WM_GETTEXT, 256, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, 10000, &ignored))
    return std::wstring();
  return text;
}

// The label that shows the last mouse event, found by the text it shows.
struct LabelSearch {
  const std::wstring* text;
  HWND found;
};

BOOL CALLBACK MatchLabel(HWND child, LPARAM p) noexcept {
  auto* s = reinterpret_cast<LabelSearch*>(p);
  try {
    if (WindowText(child) != *s->text) return TRUE;
  } catch (...) {
    win32::report_exception("the label search (EnumChildWindows)");
    return TRUE;
  }
  s->found = child;
  return FALSE;
}

HWND FindLabel(HWND frm, const std::wstring& text) {
  LabelSearch search{&text, nullptr};
  ::EnumChildWindows(frm, &MatchLabel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// 10 000 iterations of: key down and up and a click relayed to the relay
// window, then one idle tick (WM_TIMER of tmrAppShotDown). Each message is
// sent, not posted, and in that order: a presence check may replace the relay
// window at any time, and a post to the old window would be dropped with it
// while the ticks after it still arrive, so that one lost batch of activity
// could span enough ticks to end the watched program. A send to a window that
// is gone fails and is repeated to the window the relay block names next.
// Every 250 iterations it checks that the events reached FrmMain (the mouse
// label shows the batch's mark). False when Vardex stopped answering or the
// relay window did not come back.
bool Simulate(HWND frm, DWORD vardex_pid, long iterations, long& mark, long& resent) {
  const win32::unique_handle block(::OpenFileMappingA(FILE_MAP_READ, FALSE, kRelayBlockName));
  if (!block) return false;
  const win32::unique_mapview view(::MapViewOfFile(block.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)));
  if (!view) return false;
  const volatile DWORD* relay = static_cast<const volatile DWORD*>(view.get());
  constexpr UINT kAnswerMs = 10000;
  auto send = [](HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    DWORD_PTR ignored = 0;
    return ::SendMessageTimeoutW(window, message, wparam, lparam, SMTO_NORMAL, kAnswerMs, &ignored) != 0;
  };
  auto relay_send = [&](UINT message, WPARAM wparam, LPARAM lparam) {
    const ULONGLONG end = ::GetTickCount64() + 30000;
    for (;;) {
      const HWND target = reinterpret_cast<HWND>(static_cast<UINT_PTR>(*relay));
      DWORD pid = 0;
      ::GetWindowThreadProcessId(target, &pid);
      if (pid == vardex_pid && send(target, message, wparam, lparam)) return true;
      if (::GetTickCount64() > end) return false;
      ++resent;
      ::Sleep(20);
    }
  };
  HWND label = nullptr;
  for (long i = 0; i < iterations; ++i) {
    const bool last_of_batch = i % 250 == 249 || i + 1 == iterations;
    const LPARAM x = last_of_batch ? (++mark % 60000) + 1000 : 10;
    if (!relay_send(WM_KEYRELAY, 'A', 1) || !relay_send(WM_KEYRELAY, 'A', 0) ||
        !relay_send(WM_MOUSERELAY, WM_LBUTTONDOWN, MAKELPARAM(x, 7)) ||
        !send(frm, WM_TIMER, vardex::kTimerAppShotDown, 0))
      return false;
    if (!last_of_batch) continue;
    const std::wstring want = L"Mouse Event 513 at " + std::to_wstring(x) + L" 7";
    if (!label) label = FindLabel(frm, want);
    if (!label || WindowText(label) != want) return false;
  }
  return true;
}

bool WriteSettings(const std::string& watched) {
  char dir[MAX_PATH];
  const UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return false;
  const std::string file = std::string(dir) + "\\vardex.ini";
  const std::string text = "30\r\n" + watched + "\r\nunset entry\r\n";
  const win32::unique_hfile out(
      ::CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return out && ::WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
         written == text.size();
}

// Benchmark 4 on the real Vardex.exe, with bench_tray.exe as the baseline.
int RunFootprint(int rounds, long iterations) {
  const std::wstring vardex_exe = bench::OwnDirectory() + L"Vardex.exe";
  const std::wstring tray_exe = bench::OwnDirectory() + L"bench_tray.exe";
  if (!WriteSettings(win32::wide_to_ansi(TargetExe()))) {
    std::fprintf(stderr, "cannot write vardex.ini\n");
    return 1;
  }
  bench::Child target;
  if (!target.Start(TargetExe(), L"0")) return 1;
  ::WaitForInputIdle(target.process.get(), 30000);

  std::vector<double> base_start, base_private, base_ws, base_rss;
  std::vector<double> start, private0, ws0, private1, ws1, private2, ws2, rss0, rss1, rss2;
  long resent = 0, mark = 0;
  for (int round = 0; round < rounds; ++round) {
    {
      bench::Child tray;
      const double ms = StartAndWaitForIcon(tray, tray_exe);
      if (ms < 0) {
        std::fprintf(stderr, "bench_tray.exe: no icon appeared\n");
        return 1;
      }
      base_start.push_back(ms);
      ::Sleep(1000);
      const Memory m = MemoryOf(tray.process.get(), "bench_tray.exe");
      base_private.push_back(m.private_mb);
      base_ws.push_back(m.working_set_mb);
      base_rss.push_back(m.rss_mb);
      tray.Stop(::FindWindowW(bench::kTrayClass, nullptr));
    }
    bench::Child vardex;
    const double ms = StartAndWaitForIcon(vardex, vardex_exe);
    const HWND frm = ::FindWindowW(L"FrmMain", nullptr);
    if (ms < 0 || !frm) {
      std::fprintf(stderr, "Vardex.exe: no icon appeared\n");
      vardex.Stop(frm);
      return 1;
    }
    start.push_back(ms);
    ::Sleep(1000);
    Memory m = MemoryOf(vardex.process.get(), "Vardex.exe");
    private0.push_back(m.private_mb);
    ws0.push_back(m.working_set_mb);
    rss0.push_back(m.rss_mb);
    // The first presence check (5 s) installs the hooks and the relay window.
    ::Sleep(6000);
    bool ok = Simulate(frm, vardex.id, iterations, mark, resent);
    m = MemoryOf(vardex.process.get(), "Vardex.exe");
    private1.push_back(m.private_mb);
    ws1.push_back(m.working_set_mb);
    rss1.push_back(m.rss_mb);
    ok = ok && Simulate(frm, vardex.id, iterations, mark, resent);
    m = MemoryOf(vardex.process.get(), "Vardex.exe");
    private2.push_back(m.private_mb);
    ws2.push_back(m.working_set_mb);
    rss2.push_back(m.rss_mb);
    DWORD_PTR ignored = 0;
    const bool answers = ::SendMessageTimeoutW(frm, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored) != 0;
    DWORD code = STILL_ACTIVE;
    ::GetExitCodeProcess(target.process.get(), &code);
    vardex.Stop(frm, 10000);
    if (!ok || !answers) {
      std::fprintf(stderr, "Vardex.exe stopped handling the simulated events\n");
      return 1;
    }
    if (code != STILL_ACTIVE) {
      std::fprintf(stderr, "the watched program was ended although activity arrived at every tick\n");
      return 1;
    }
  }
  std::vector<double> growth;
  for (size_t i = 0; i < private1.size(); ++i) growth.push_back((private2[i] - private1[i]) * 1024.0);
  const std::string runs = std::to_string(rounds) + " runs";
  Row("4. start-up to icon in the notification area, ms", Cell(Summarize(base_start), 0), Cell(Summarize(start), 0),
      "baseline: bench_tray.exe (a window and Shell_NotifyIconW); " + runs);
  Row("4. private bytes after start-up, MB", Cell(Summarize(base_private), 2), Cell(Summarize(private0), 2),
      "RssAnon of the Wine process (/proc); Wine reports PrivateUsage 0");
  Row("4. working set after start-up, MB", Cell(Summarize(base_ws), 2), Cell(Summarize(ws0), 2),
      "GetProcessMemoryInfo; VmRSS cross-check " + Cell(Summarize(base_rss), 2) + " / " + Cell(Summarize(rss0), 2));
  const std::string n = std::to_string(iterations);
  Row(("4. private bytes after " + n + " ticks + " + std::to_string(3 * iterations) + " events, MB").c_str(),
      Cell(Summarize(private0), 2), Cell(Summarize(private1), 2), "baseline: Vardex after start-up");
  Row(("4. working set after " + n + " ticks + events, MB").c_str(), Cell(Summarize(ws0), 2),
      Cell(Summarize(ws1), 2), "VmRSS " + Cell(Summarize(rss1), 2));
  Row(("4. private bytes after a second " + n + ", MB").c_str(), Cell(Summarize(private1), 2),
      Cell(Summarize(private2), 2), "growth " + Cell(Summarize(growth), 0) + " KB per further " + n);
  Row(("4. working set after a second " + n + ", MB").c_str(), Cell(Summarize(ws1), 2), Cell(Summarize(ws2), 2),
      "relay messages sent again after a presence check replaced the relay window: " + std::to_string(resent));
  target.Stop(::FindWindowW(bench::kTargetClass, nullptr));
  return 0;
}

int Usage() {
  std::fprintf(stderr,
               "usage: vardex_bench hooks|hooks64 [rounds] [messages]\n"
               "       vardex_bench latency|latency64 [rounds] [samples]\n"
               "       vardex_bench presence [checks] [process counts...]\n"
               "       vardex_bench footprint [rounds] [iterations]\n"
               "       vardex_bench sets|sets64 [rounds] [sets]\n"
               "       vardex_bench hung [rounds]\n");
  return 2;
}

int Run(HINSTANCE instance, int argc, wchar_t** argv) {
  if (argc < 2) return Usage();
  const std::wstring command = argv[1];
  auto arg = [&](int i, long fallback) { return argc > i ? std::wcstol(argv[i], nullptr, 10) : fallback; };
  const win32::com_apartment com;
  if (command == L"hooks" || command == L"hooks64")
    return RunHooks(arg(2, 5), arg(3, 10000), 0, command == L"hooks64", true, false);
  if (command == L"latency" || command == L"latency64")
    return RunHooks(arg(2, 5), 0, arg(3, 1000), command == L"latency64", false, true);
  if (command == L"presence") {
    std::vector<int> levels;
    for (int i = 3; i < argc; ++i) levels.push_back(std::wcstol(argv[i], nullptr, 10));
    if (levels.empty()) levels = {25, 100, 250};
    return RunPresence(instance, levels, arg(2, 15));
  }
  if (command == L"footprint") return RunFootprint(arg(2, 3), arg(3, 10000));
  if (command == L"sets" || command == L"sets64") return RunSets(arg(2, 5), arg(3, 20), command == L"sets64");
  if (command == L"hung") return RunHungHelper(arg(2, 5));
  return Usage();
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** const argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  const win32::unique_hlocal argv_block(argv);
  if (!argv) return 1;
  int rc = 1;
  try {
    rc = Run(::GetModuleHandleW(nullptr), argc, argv);
  } catch (...) {
    win32::report_exception("vardex_bench's wmain");
    std::fprintf(stderr, "vardex_bench: unexpected failure\n");
  }
  return rc;
}
