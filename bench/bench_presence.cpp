// Benchmark 3 (`presence`): the form's real presence check
// (FrmMain::tmrAppCheck_Timer over the real window, ProcessListWin32 and the
// component), and its two halves timed on their own, at growing counts of
// processes.
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "components/file_dialog_win32.h"
#include "components/hook_client_win32.h"
#include "components/input_watch_win32.h"
#include "components/process_list_win32.h"
#include "components/system_services_win32.h"
#include "components/tray_win32.h"
#include "processes/process_query.h"
#include "settings/settings_storage_win32.h"
#include "vardex_bench.h"
#include "win32/text.h"
#include "window/frm_main.h"
#include "window/main_window.h"

namespace bench {
namespace {

// A library that does not exist: the process list without its system-wide query.
constexpr char kNoLibrary[] = "vardex-bench-no-such-library.dll";

// The form over the real window and components, wired as Vardex.exe wires
// them; only the checks timed here run.
class PresenceForm {
 public:
  bool Create(HINSTANCE instance) {
    if (!window_.Create(instance)) return false;
    vardex::FrmMainControls& controls = window_.Controls();
    Parts& p = parts_.emplace();
    form_.emplace(controls, vardex::FrmMainComponents{p.processes, p.tray, p.dialog, p.hooks, p.settings, p.system,
                                                      p.input});
    if (!p.tray.Create(instance, [] {}, [] {})) return false;
    window_.Attach(*form_);
    if (!form_->Form_Load()) {
      std::fprintf(stderr, "Form_Load failed: 0x%08lX\n", static_cast<unsigned long>(p.hooks.last_error()));
      return false;
    }
    controls.tmrAppCheck().SetEnabled(false);
    controls.tmrAppShotDown().SetEnabled(false);
    return true;
  }
  vardex::FrmMain& form() { return *form_; }
  vardex::FrmMainControls& controls() { return window_.Controls(); }

 private:
  struct Parts {
    vardex::ProcessListWin32 processes;
    vardex::TrayWin32 tray;
    vardex::FileDialogWin32 dialog;
    vardex::HookComponentFactoryWin32 hooks;
    vardex::SettingsStorageWin32 settings;
    vardex::SystemServicesWin32 system;
    vardex::InputWatchWin32 input;
  };
  vardex::MainWindow window_;
  std::optional<Parts> parts_;
  std::optional<vardex::FrmMain> form_;
};

// One count of processes, in ms.
struct LevelTimes {
  std::vector<double> full, scan, uncached, query_only, set, miss;
  double first_check = 0;
  int found = 0;
};

class PresenceBench {
 public:
  bool Start(HINSTANCE instance) {
    if (!form_.Create(instance)) return false;
    hook_ = factory_.Create(recorder_);
    if (!hook_) return false;
    Child& target = children_.emplace_back();
    if (!target.Start(TargetExe(), L"0")) return false;
    ::WaitForInputIdle(target.process.get(), 30000);
    path_ = win32::wide_to_ansi(TargetExe());
    upper_ = path_;
    for (char& c : upper_) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    form_.controls().txtApplicationName().SetText(path_);
    return true;
  }

  // Starts idle processes until the list counts `level`.
  bool FillTo(int level) {
    const std::wstring idle_exe = OwnDirectory() + L"bench_idle.exe";
    while (CountProcesses() < level) {
      const int missing = level - CountProcesses();
      for (int i = 0; i < missing; ++i) {
        if (!children_.emplace_back().Start(idle_exe, L"")) {
          std::fprintf(stderr, "cannot start bench_idle.exe\n");
          return false;
        }
      }
      PumpUntil([&] { return CountProcesses() >= level; }, 60000);
    }
    return true;
  }

  void Measure(int level, int checks) {
    const int n = CountProcesses();
    LevelTimes times;
    TimeChecks(checks, times);
    TimeParts(checks, times);
    PrintRow(n, level, times);
    if (times.found != 2 * checks)
      std::fprintf(stderr, "the scans missed the watched program %d times\n", 2 * checks - times.found);
  }

  void Stop() { hook_->MonitoredAppPath(""); }

 private:
  int CountProcesses() { return list_.ListProcesses() ? list_.ProcessCount().value_or(0) : 0; }

  // The caller's loop over the list; true when it met the watched program.
  bool ScanList(vardex::ProcessList& scanned) const {
    scanned.ListProcesses();
    const int count = scanned.ProcessCount().value_or(0);
    bool hit = false;
    for (int i = 1; i <= count; ++i) {
      scanned.ProcessIndex(static_cast<std::int16_t>(i));
      const std::string reported = scanned.ProcessPath().value_or(std::string());
      if (reported.compare(0, upper_.size(), upper_) == 0) hit = true;
    }
    return hit;
  }

  // The checks in a row, as the presence timer makes them (no other set in
  // between: the lookup walks every sixth time).
  void TimeChecks(int checks, LevelTimes& times) {
    for (int k = 0; k < checks; ++k) {
      const double t = NowUs();
      form_.form().tmrAppCheck_Timer();
      // The first check at a new count reads the paths of the processes
      // started since the last one; the others are reported apart from it.
      const double ms = (NowUs() - t) / 1000.0;
      if (k == 0) {
        times.first_check = ms;
      } else {
        times.full.push_back(ms);
      }
      PumpUntil([] { return false; }, 20);
    }
  }

  // Then the parts alone.
  void TimeParts(int checks, LevelTimes& times) {
    for (int k = 0; k < checks; ++k) {
      double t = NowUs();
      times.found += ScanList(list_);
      times.scan.push_back((NowUs() - t) / 1000.0);

      t = NowUs();
      system_query_.read(win32::kNtdll, records_);
      times.query_only.push_back((NowUs() - t) / 1000.0);

      vardex::ProcessListWin32 without_query(kNoLibrary);
      t = NowUs();
      times.found += ScanList(without_query);
      times.uncached.push_back((NowUs() - t) / 1000.0);

      // A set that finds nothing new follows one that watches the program.
      hook_->MonitoredAppPath(path_);
      t = NowUs();
      hook_->MonitoredAppPath(path_);
      times.set.push_back((NowUs() - t) / 1000.0);
      t = NowUs();
      hook_->MonitoredAppPath(kMissingProgram);
      times.miss.push_back((NowUs() - t) / 1000.0);
    }
  }

  void PrintRow(int n, int level, const LevelTimes& times) {
    const Summary f = Summarize(times.full);
    double mean = 0;
    for (const double ms : times.full) mean += ms / static_cast<double>(times.full.size());
    if (!header_printed_) {
      std::printf("| 3. processes | tmrAppCheck_Timer, ms | share of one core at 5 s (the mean check) | first check after they "
                  "started, ms | the system-wide query alone, ms | snapshot+scan, ms | the same without the query (EnumProcesses, every path read), ms | "
                  "MonitoredAppPath set that finds nothing new, ms | lookup of a program not running, ms |\n");
      std::printf("|---|---|---|---|---|---|---|---|---|\n");
      header_printed_ = true;
    }
    std::printf("| %d%s | %s | %s%% | %s | %s | %s | %s | %s | %s |\n", n, level == 0 ? " (Wine's own)" : "",
                Cell(f, 2).c_str(), Fixed(mean / 5000.0 * 100.0, 3).c_str(), Fixed(times.first_check, 2).c_str(),
                Cell(Summarize(times.query_only), 2).c_str(), Cell(Summarize(times.scan), 2).c_str(),
                Cell(Summarize(times.uncached), 2).c_str(), Cell(Summarize(times.set), 2).c_str(),
                Cell(Summarize(times.miss), 2).c_str());
    std::fflush(stdout);
  }

  PresenceForm form_;
  Recorder recorder_;
  vardex::HookComponentFactoryWin32 factory_;
  std::unique_ptr<vardex::HookComponent> hook_;
  std::vector<Child> children_;
  StopAll stop_children_{children_};
  std::string path_, upper_;
  vardex::ProcessListWin32 list_;
  win32::system_process_query system_query_;
  std::vector<win32::process_record> records_;
  bool header_printed_ = false;
};

}  // namespace

int RunPresence(HINSTANCE instance, const std::vector<int>& levels, int checks) {
  PresenceBench bench;
  if (!bench.Start(instance)) return 1;
  std::vector<int> all_levels{0};
  all_levels.insert(all_levels.end(), levels.begin(), levels.end());
  for (const int level : all_levels) {
    if (!bench.FillTo(level)) return 1;
    bench.Measure(level, checks);
  }
  bench.Stop();
  return 0;
}

}  // namespace bench
