// Benchmark 4 (`footprint`) on the real Vardex.exe, with bench_tray.exe as
// the baseline: start-up to the icon, memory after start-up and after
// simulated ticks and events.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "relay/relay.h"
#include "vardex_bench.h"
#include "win32/result.h"
#include "win32/text.h"
#include "window/main_window_ids.h"

namespace bench {
namespace {

using tessik::kRelayBlockName;
using tessik::WM_KEYRELAY;
using tessik::WM_MOUSERELAY;

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
double StartAndWaitForIcon(Child& child, const std::wstring& exe) {
  PumpUntil([] { return !TrayShown(); }, 10000);
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

struct MemorySeries {
  std::vector<double> private_mb, working_set_mb, rss_mb;
  void Add(const Memory& m) {
    private_mb.push_back(m.private_mb);
    working_set_mb.push_back(m.working_set_mb);
    rss_mb.push_back(m.rss_mb);
  }
};

// Start-up to the icon in ms, and memory: of the baseline after start-up,
// of Vardex after start-up, after `iterations` and after as many again.
struct Footprint {
  std::vector<double> base_start, start;
  MemorySeries base, started, once, twice;
  long resent = 0, mark = 0;
};

bool BaselineRound(Footprint& f) {
  Child tray;
  const double ms = StartAndWaitForIcon(tray, OwnDirectory() + L"bench_tray.exe");
  if (ms < 0) {
    std::fprintf(stderr, "bench_tray.exe: no icon appeared\n");
    return false;
  }
  f.base_start.push_back(ms);
  ::Sleep(1000);
  f.base.Add(MemoryOf(tray.process.get(), "bench_tray.exe"));
  tray.Stop(::FindWindowW(kTrayClass, nullptr));
  return true;
}

bool VardexRound(Footprint& f, long iterations, HANDLE watched) {
  Child vardex;
  const double ms = StartAndWaitForIcon(vardex, OwnDirectory() + L"Vardex.exe");
  const HWND frm = ::FindWindowW(L"FrmMain", nullptr);
  if (ms < 0 || !frm) {
    std::fprintf(stderr, "Vardex.exe: no icon appeared\n");
    vardex.Stop(frm);
    return false;
  }
  f.start.push_back(ms);
  ::Sleep(1000);
  f.started.Add(MemoryOf(vardex.process.get(), "Vardex.exe"));
  // The first presence check (5 s) installs the hooks and the relay window.
  ::Sleep(6000);
  bool ok = Simulate(frm, vardex.id, iterations, f.mark, f.resent);
  f.once.Add(MemoryOf(vardex.process.get(), "Vardex.exe"));
  ok = ok && Simulate(frm, vardex.id, iterations, f.mark, f.resent);
  f.twice.Add(MemoryOf(vardex.process.get(), "Vardex.exe"));
  DWORD_PTR ignored = 0;
  const bool answers = ::SendMessageTimeoutW(frm, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &ignored) != 0;
  DWORD code = STILL_ACTIVE;
  ::GetExitCodeProcess(watched, &code);
  vardex.Stop(frm, 10000);
  if (!ok || !answers) {
    std::fprintf(stderr, "Vardex.exe stopped handling the simulated events\n");
    return false;
  }
  if (code != STILL_ACTIVE) {
    std::fprintf(stderr, "the watched program was ended although activity arrived at every tick\n");
    return false;
  }
  return true;
}

void PrintFootprint(const Footprint& f, int rounds, long iterations) {
  std::vector<double> growth;
  for (size_t i = 0; i < f.once.private_mb.size(); ++i)
    growth.push_back((f.twice.private_mb[i] - f.once.private_mb[i]) * 1024.0);
  const std::string runs = std::to_string(rounds) + " runs";
  Row("4. start-up to icon in the notification area, ms", Cell(Summarize(f.base_start), 0),
      Cell(Summarize(f.start), 0), "baseline: bench_tray.exe (a window and Shell_NotifyIconW); " + runs);
  Row("4. private bytes after start-up, MB", Cell(Summarize(f.base.private_mb), 2),
      Cell(Summarize(f.started.private_mb), 2), "RssAnon of the Wine process (/proc); Wine reports PrivateUsage 0");
  Row("4. working set after start-up, MB", Cell(Summarize(f.base.working_set_mb), 2),
      Cell(Summarize(f.started.working_set_mb), 2),
      "GetProcessMemoryInfo; VmRSS cross-check " + Cell(Summarize(f.base.rss_mb), 2) + " / " +
          Cell(Summarize(f.started.rss_mb), 2));
  const std::string n = std::to_string(iterations);
  Row(("4. private bytes after " + n + " ticks + " + std::to_string(3 * iterations) + " events, MB").c_str(),
      Cell(Summarize(f.started.private_mb), 2), Cell(Summarize(f.once.private_mb), 2),
      "baseline: Vardex after start-up");
  Row(("4. working set after " + n + " ticks + events, MB").c_str(), Cell(Summarize(f.started.working_set_mb), 2),
      Cell(Summarize(f.once.working_set_mb), 2), "VmRSS " + Cell(Summarize(f.once.rss_mb), 2));
  Row(("4. private bytes after a second " + n + ", MB").c_str(), Cell(Summarize(f.once.private_mb), 2),
      Cell(Summarize(f.twice.private_mb), 2), "growth " + Cell(Summarize(growth), 0) + " KB per further " + n);
  Row(("4. working set after a second " + n + ", MB").c_str(), Cell(Summarize(f.once.working_set_mb), 2),
      Cell(Summarize(f.twice.working_set_mb), 2),
      "relay messages sent again after a presence check replaced the relay window: " + std::to_string(f.resent));
}

}  // namespace

int RunFootprint(int rounds, long iterations) {
  if (!WriteSettings(win32::wide_to_ansi(TargetExe()))) {
    std::fprintf(stderr, "cannot write vardex.ini\n");
    return 1;
  }
  Child target;
  if (!target.Start(TargetExe(), L"0")) return 1;
  ::WaitForInputIdle(target.process.get(), 30000);
  Footprint f;
  for (int round = 0; round < rounds; ++round) {
    if (!BaselineRound(f) || !VardexRound(f, iterations, target.process.get())) return 1;
  }
  PrintFootprint(f, rounds, iterations);
  target.Stop(::FindWindowW(kTargetClass, nullptr));
  return 0;
}

}  // namespace bench
