// The outside hands of the robustness tests, one command per run:
//   target [--title T] [--exit-after MS]  a program to watch: one edit control
//          [--save-on-close FILE]          that takes the typed text; prints
//          [--hang-after MS]               "ready <pid>". Asked to close as at
//          [--workers-every MS]
//          [--compute MS] [--solver MS]
//          [--timer-load PERMILLE]
//          [--compute-on-close MS]
//                                          sign-out (ENDSESSION_CLOSEAPP), it
//                                          agrees only with --save-on-close: it
//                                          writes its text to FILE and exits
//                                          with kSavedExitCode; otherwise it
//                                          answers as a program that ignores
//                                          the request. With --hang-after, its
//                                          UI thread stops pumping after MS;
//                                          with --workers-every it starts a
//                                          worker copy of itself every MS, as
//                                          browsers do. At work: --compute
//                                          keeps a thread computing at one
//                                          core for MS from the start;
//                                          --solver starts robust_solver.exe
//                                          beside it (a copy of the helper
//                                          under another name) to do that;
//                                          --timer-load computes PERMILLE/10
//                                          ms at each tick of a 100 ms timer;
//                                          --compute-on-close computes for MS
//                                          when asked to close, and stays.
//                                          Prints "asked" when asked to close
//   worker MS             a windowless worker copy: lives MS, then exits
//   spin MS               computes at one core for MS, then exits
//   work-of PID MS        prints "cpu C io B": the CPU ms and bytes moved by
//                         process PID over MS, as the system's process list
//                         reports them
//   storm PID COUNT       posts COUNT relay messages, key and mouse in turn,
//                         to the relay window of process PID, then asks that
//                         window's thread for an answer
//   wait-relay PID        waits until process PID has a relay window
//   suspend PID / resume PID   every thread of process PID
//   answers PID           prints "answered" when the thread of PID's relay
//                         window answers a message within a second, else "silent"
//   text PID              prints the text of process PID's edit control
//   pid-of CAPTION        prints the process of the top-level window CAPTION
//   exit-code PID         waits until process PID ends and prints "exit N", the
//                         code the system keeps for it (under Wine the Unix
//                         status of an ended process says 0 now and then,
//                         whatever code it was ended with)
//   labels                prints Vardex's four event labels, one a line
//   stranger              asks every companion helper of the session, as a
//                         process that did not start it, to remove its hooks
//                         and to end, in every way a window message can ask;
//                         prints "stranger N" with the number of helpers
//   PARENT READY PIPE     started by Tessik as its companion (a copy named
//                         TessikHost64.exe): never comes up; appends to
//                         starts.txt beside itself whether READY is an
//                         unset event it inherited, then waits for ever.
//                         With a file "mismatch" beside itself it comes up
//                         instead, and answers every request as if for
//                         another ("started, answering wrongly" in
//                         starts.txt), until PARENT ends
// Exit code 0 on success; each failure has its own code and a line on stdout.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "processes/process_query.h"
#include "relay/companion_protocol.h"
#include "relay/relay.h"
#include "win32/unique_any.h"
#include "window/main_window_ids.h"
#include "window/main_window_layout.h"

namespace {

// The relay window's class name is the module's own; tests find the window by it.
constexpr wchar_t kRelayClass[] = L"TessikRelayWindow";
constexpr wchar_t kTargetClass[] = L"RobustTarget";
constexpr int kEditId = 100;
constexpr UINT_PTR kExitTimer = 1;
constexpr UINT_PTR kHangTimer = 2;
constexpr UINT_PTR kWorkerTimer = 3;
constexpr UINT_PTR kLoadTimer = 4;
constexpr wchar_t kWorkerLifetimeMs[] = L"8000";
// The exit code of a target that closed on request; Vardex's end gives 1.
constexpr int kSavedExitCode = 42;
std::wstring g_save_path;  // the target's --save-on-close
DWORD g_timer_load_ms = 0;    // --timer-load, in ms a tick
DWORD g_compute_on_close_ms = 0;
int g_exit_code = 0;
// Long enough for a loaded Wine, short enough to keep every step bounded.
constexpr DWORD kAnswerTimeoutMs = 10000;
constexpr DWORD kWaitMs = 10000;

int Fail(int code, const char* what) {
  std::printf("%s (error %lu)\n", what, GetLastError());
  std::fflush(stdout);
  return code;
}

// --- target -------------------------------------------------------------------

// Keeps one core busy for `ms`, on the fine clock: a tick count in steps of
// a system tick would spin 2 ms for up to 16.
void Spin(DWORD ms) noexcept {
  LARGE_INTEGER frequency{}, start{}, now{};
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&start);
  do {
    QueryPerformanceCounter(&now);
  } while ((now.QuadPart - start.QuadPart) * 1000 < static_cast<LONGLONG>(ms) * frequency.QuadPart);
}
DWORD WINAPI SpinThread(void* ms) noexcept {
  Spin(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(ms)));
  return 0;
}
void StartSpinning(DWORD ms) noexcept {
  const win32::unique_handle thread(
      CreateThread(nullptr, 0, SpinThread, reinterpret_cast<void*>(static_cast<ULONG_PTR>(ms)), 0, nullptr));
}

// A windowless process that the target starts: a copy of this executable
// (`beside` null), as a browser's or an Electron program's worker processes
// are, or the executable `beside` in its folder, as a CAD front end starts
// its solver.
void StartWorker(const wchar_t* beside = nullptr, const wchar_t* arguments = nullptr) noexcept {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, ARRAYSIZE(path));
  if (length == 0 || length == ARRAYSIZE(path)) return;
  if (beside) {
    wchar_t* const slash = wcsrchr(path, L'\\');
    if (!slash || lstrlenW(beside) >= MAX_PATH - (slash + 1 - path)) return;
    lstrcpyW(slash + 1, beside);
  }
  wchar_t command_line[MAX_PATH + 64];
  std::swprintf(command_line, ARRAYSIZE(command_line), L"\"%ls\" %ls", path,
                arguments ? arguments : (std::wstring(L"worker ") + kWorkerLifetimeMs).c_str());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(path, command_line, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                      &started)) {
    return;
  }
  // Closed at once, not waited for: the worker ends by itself.
  const win32::unique_handle process(started.hProcess), thread(started.hThread);
}

LRESULT CALLBACK TargetProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  switch (message) {
    case WM_CREATE:
      CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE, 0, 0, 400, 200, window,
                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), nullptr, nullptr);
      return 0;
    case WM_SETFOCUS:
      SetFocus(GetDlgItem(window, kEditId));
      return 0;
    case WM_TIMER:
      if (wParam == kExitTimer) DestroyWindow(window);
      // A wait that never ends: Wine gives a process ended in an endless
      // Sleep the exit code 0, whatever the end's was.
      if (wParam == kHangTimer) WaitForSingleObject(GetCurrentProcess(), INFINITE);
      if (wParam == kWorkerTimer) StartWorker();
      if (wParam == kLoadTimer) Spin(g_timer_load_ms);
      return 0;
    case WM_QUERYENDSESSION:
      if (lParam & ENDSESSION_CLOSEAPP) {
        std::puts("asked");
        std::fflush(stdout);
      }
      // Saving at length, and never done: ended after the grace period.
      if (g_compute_on_close_ms > 0 && (lParam & ENDSESSION_CLOSEAPP)) {
        StartSpinning(g_compute_on_close_ms);
        g_compute_on_close_ms = 0;
      }
      if (g_save_path.empty() || !(lParam & ENDSESSION_CLOSEAPP)) break;
      return TRUE;
    case WM_ENDSESSION:
      if (g_save_path.empty() || !wParam || !(lParam & ENDSESSION_CLOSEAPP)) break;
      {
        wchar_t text[256] = {};
        GetDlgItemTextW(window, kEditId, text, ARRAYSIZE(text));
        const win32::unique_hfile file(
            CreateFileW(g_save_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        char saved[32];
        const int length = std::snprintf(saved, sizeof saved, "saved %d\n", lstrlenW(text));
        DWORD written = 0;
        if (file && length > 0) WriteFile(file.get(), saved, static_cast<DWORD>(length), &written, nullptr);
      }
      g_exit_code = kSavedExitCode;
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(g_exit_code);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

struct TargetOptions {
  std::wstring title = L"Robust Target";
  int exit_after = -1, hang_after = -1, workers_every = 0, compute = 0, solver = 0;
};

int RunTarget(const TargetOptions& options) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = TargetProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
  wc.lpszClassName = kTargetClass;
  if (!RegisterClassExW(&wc)) return Fail(2, "cannot register the window class");
  // Owned by the message loop below: WM_DESTROY ends it.
  const HWND window = CreateWindowExW(0, kTargetClass, options.title.c_str(), WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
                                      420, 240, nullptr, nullptr, wc.hInstance, nullptr);
  if (!window) return Fail(2, "cannot create the window");
  if (options.exit_after >= 0) SetTimer(window, kExitTimer, static_cast<UINT>(options.exit_after), nullptr);
  if (options.hang_after >= 0) SetTimer(window, kHangTimer, static_cast<UINT>(options.hang_after), nullptr);
  if (options.workers_every > 0) SetTimer(window, kWorkerTimer, static_cast<UINT>(options.workers_every), nullptr);
  if (g_timer_load_ms > 0) SetTimer(window, kLoadTimer, 100, nullptr);
  if (options.compute > 0) StartSpinning(static_cast<DWORD>(options.compute));
  if (options.solver > 0) StartWorker(L"robust_solver.exe", (L"spin " + std::to_wstring(options.solver)).c_str());
  std::printf("ready %lu\n", GetCurrentProcessId());
  std::fflush(stdout);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  return static_cast<int>(msg.wParam);
}

// --- windows and threads of another process ----------------------------------------

struct WindowQuery {
  DWORD pid;
  const wchar_t* class_name;
  HWND found;
};

BOOL CALLBACK MatchWindow(HWND window, LPARAM param) noexcept {
  auto& query = *reinterpret_cast<WindowQuery*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  wchar_t name[64] = {};
  GetClassNameW(window, name, ARRAYSIZE(name));
  if (pid == query.pid && lstrcmpW(name, query.class_name) == 0) {
    query.found = window;
    return FALSE;
  }
  return TRUE;
}

HWND FindProcessWindow(DWORD pid, const wchar_t* class_name) {
  WindowQuery query{pid, class_name, nullptr};
  EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(&query));
  return query.found;
}

std::vector<DWORD> ThreadsOf(DWORD pid) {
  std::vector<DWORD> threads;
  win32::unique_handle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  if (!snapshot || snapshot.get() == INVALID_HANDLE_VALUE) return threads;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry)) {
    if (entry.th32OwnerProcessID == pid) threads.push_back(entry.th32ThreadID);
  }
  return threads;
}

int SuspendOrResume(DWORD pid, bool suspend) {
  const std::vector<DWORD> threads = ThreadsOf(pid);
  if (threads.empty()) return Fail(2, "no threads in that process");
  for (DWORD id : threads) {
    win32::unique_handle thread(OpenThread(THREAD_SUSPEND_RESUME, FALSE, id));
    if (!thread) return Fail(3, "cannot open a thread");
    const DWORD previous = suspend ? SuspendThread(thread.get()) : ResumeThread(thread.get());
    if (previous == static_cast<DWORD>(-1)) return Fail(3, "cannot suspend or resume a thread");
  }
  std::printf("%s %zu threads\n", suspend ? "suspended" : "resumed", threads.size());
  return 0;
}

// --- storm ----------------------------------------------------------------------------

// Event i of the burst: even i a key (code i, pressed when i/2 is odd), odd i
// a mouse event 513 at (i, 65535 - i); the receiver can check every one.
bool PostEvent(HWND window, unsigned i) {
  const bool key = i % 2 == 0;
  const UINT message = key ? tessik::WM_KEYRELAY : tessik::WM_MOUSERELAY;
  const WPARAM wParam = key ? i : 513;
  const LPARAM lParam = key ? static_cast<LPARAM>((i / 2) % 2) : MAKELPARAM(i & 0xFFFF, (65535 - i) & 0xFFFF);
  // The posted-message quota of a queue is the platform's; wait for the
  // receiver to make room rather than lose an event.
  const DWORD start = GetTickCount();
  while (!PostMessageW(window, message, wParam, lParam)) {
    if (GetLastError() != ERROR_NOT_ENOUGH_QUOTA || GetTickCount() - start > kWaitMs) return false;
    Sleep(1);
  }
  return true;
}

int Storm(DWORD pid, unsigned count) {
  const HWND relay = FindProcessWindow(pid, kRelayClass);
  if (!relay) return Fail(2, "no relay window");
  for (unsigned i = 0; i < count; ++i) {
    if (!PostEvent(relay, i)) {
      std::printf("posted %u\n", i);
      return Fail(3, "a post failed");
    }
  }
  std::printf("posted %u\n", count);
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutW(relay, WM_NULL, 0, 0, SMTO_BLOCK | SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &answer)) {
    return Fail(4, "the receiving thread did not answer");
  }
  std::puts("answered");
  return 0;
}

int Answers(DWORD pid) {
  const HWND relay = FindProcessWindow(pid, kRelayClass);
  if (!relay) return Fail(2, "no relay window");
  DWORD_PTR answer = 0;
  // A suspended thread never answers; a second tells it from a running one.
  const bool answered = SendMessageTimeoutW(relay, WM_NULL, 0, 0, SMTO_BLOCK, 1000, &answer) != 0;
  std::puts(answered ? "answered" : "silent");
  return 0;
}

int WaitRelay(DWORD pid) {
  const DWORD start = GetTickCount();
  while (!FindProcessWindow(pid, kRelayClass)) {
    if (GetTickCount() - start > kWaitMs) return Fail(2, "no relay window");
    Sleep(50);
  }
  std::puts("relay");
  return 0;
}

// --- reading texts --------------------------------------------------------------

std::string TextOf(HWND control) {
  char text[1024] = {};
  DWORD_PTR copied = 0;
  // WM_GETTEXT across processes: the system copies the text for us.
  if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text), SMTO_BLOCK,
                           kAnswerTimeoutMs, &copied)) {
    return "<no answer>";
  }
  return text;
}

int PrintText(DWORD pid) {
  const HWND window = FindProcessWindow(pid, kTargetClass);
  const HWND edit = window ? GetDlgItem(window, kEditId) : nullptr;
  if (!edit) return Fail(2, "no edit control");
  std::printf("%s\n", TextOf(edit).c_str());
  return 0;
}

int PrintPidOf(const wchar_t* caption) {
  const HWND window = FindWindowW(nullptr, caption);
  if (!window) return Fail(2, "no such window");
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  std::printf("%lu\n", pid);
  return 0;
}

int PrintLabels() {
  const HWND window = FindWindowA(nullptr, vardex::kFrmMainCaption);
  if (!window) return Fail(2, "no Vardex window");
  for (const char* name : {"lblhKeyPressed", "lblKeyReleased", "lblCourrentMouse", "lblMouseEvent"}) {
    const HWND label = GetDlgItem(window, vardex::ControlId(vardex::TabIndexOf(name)));
    if (!label) return Fail(3, "no such label");
    std::printf("%s=%s\n", name, TextOf(label).c_str());
  }
  return 0;
}

DWORD ParsePid(const wchar_t* text) { return static_cast<DWORD>(std::wcstoul(text, nullptr, 10)); }

int PrintExitCode(DWORD pid) {
  const win32::unique_handle process(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
  if (!process) return Fail(2, "cannot open the process");
  if (WaitForSingleObject(process.get(), INFINITE) != WAIT_OBJECT_0) return Fail(3, "cannot wait for the process");
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) return Fail(3, "cannot read its exit code");
  std::printf("exit %lu\n", code);
  return 0;
}

// --- a companion that never comes up, or answers wrongly ------------------------

// A file beside this program.
std::wstring Beside(const wchar_t* name) {
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring own(path);
  return own.substr(0, own.find_last_of(L'\\') + 1) + name;
}

void LogStart(const char* line) {
  const win32::unique_hfile file(
      CreateFileW(Beside(L"starts.txt").c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr));
  DWORD written = 0;
  if (file) WriteFile(file.get(), line, static_cast<DWORD>(std::strlen(line)), &written, nullptr);
}

HANDLE HandleOf(const wchar_t* text) {
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::wcstoul(text, nullptr, 10)));
}

int NeverComeUp(const wchar_t* ready_text) {
  const DWORD state = WaitForSingleObject(HandleOf(ready_text), 0);
  LogStart(state == WAIT_TIMEOUT    ? "started, ready event unset\n"
           : state == WAIT_OBJECT_0 ? "started, ready event set\n"
                                    : "started, no ready event\n");
  Sleep(INFINITE);
  return 0;
}

LRESULT CALLBACK WrongAnswers(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  // The answer of the request after the one named.
  if (message == tessik::companion::kWmRequestWaiting)
    return static_cast<LRESULT>(tessik::companion::Answer(static_cast<WORD>(wParam + 1) | 1, 1));
  return DefWindowProcA(window, message, wParam, lParam);
}

int AnswerWrongly(const wchar_t* parent_text, const wchar_t* ready_text) {
  WNDCLASSA host{};
  host.lpfnWndProc = WrongAnswers;
  host.hInstance = GetModuleHandleW(nullptr);
  host.lpszClassName = tessik::companion::kHostWindowClass;
  if (!RegisterClassA(&host) || !CreateWindowExA(0, host.lpszClassName, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                 nullptr, host.hInstance, nullptr))
    return Fail(2, "no helper window");
  LogStart("started, answering wrongly\n");
  SetEvent(HandleOf(ready_text));
  const HANDLE parent = HandleOf(parent_text);
  while (MsgWaitForMultipleObjects(1, &parent, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
  }
  return 0;
}

// --- a stranger to the companion -------------------------------------------------

int AskAsAStranger() {
  int helpers = 0;
  for (HWND window = nullptr;
       (window = FindWindowExA(HWND_MESSAGE, window, tessik::companion::kHostWindowClass, nullptr)) != nullptr;) {
    ++helpers;
    DWORD_PTR answer = 0;
    // An empty set-hooks request as a copied block (dwData WM_APP + 1), and
    // a bare removal (WM_APP + 2): what the helper took from anyone before.
    COPYDATASTRUCT empty{WM_APP + 1, 0, nullptr};
    SendMessageTimeoutA(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&empty), SMTO_BLOCK, 2000, &answer);
    SendMessageTimeoutA(window, WM_APP + 2, 0, 0, SMTO_BLOCK, 2000, &answer);
    SendMessageTimeoutA(window, tessik::companion::kWmRequestWaiting, 0, 0, SMTO_BLOCK, 2000, &answer);
    SendMessageTimeoutA(window, WM_CLOSE, 0, 0, SMTO_BLOCK, 2000, &answer);
    // The end of its window, told from outside: the window lives on.
    SendMessageTimeoutA(window, WM_NCDESTROY, 0, 0, SMTO_BLOCK, 2000, &answer);
  }
  std::printf("stranger %d\n", helpers);
  return 0;
}

int PrintWorkOf(DWORD pid, DWORD ms) {
  win32::system_process_query query;
  std::vector<win32::process_record> records;
  const auto read = [&]() -> const win32::process_record* {
    if (!query.read(win32::kNtdll, records)) return nullptr;
    for (const win32::process_record& r : records)
      if (r.id == pid) return &r;
    return nullptr;
  };
  const win32::process_record* first = read();
  if (!first) return Fail(2, "no such process");
  const win32::process_record before = *first;
  Sleep(ms);
  const win32::process_record* after = read();
  if (!after) return Fail(2, "the process ended");
  std::printf("cpu %llu io %llu\n", (after->cpu_time - before.cpu_time) / 10000,
              after->io_bytes - before.io_bytes);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"target") {
    TargetOptions options;
    for (int i = 2; i + 1 < argc; i += 2) {
      const auto number = [&] { return static_cast<int>(std::wcstol(argv[i + 1], nullptr, 10)); };
      if (lstrcmpW(argv[i], L"--title") == 0) options.title = argv[i + 1];
      if (lstrcmpW(argv[i], L"--exit-after") == 0) options.exit_after = number();
      if (lstrcmpW(argv[i], L"--save-on-close") == 0) g_save_path = argv[i + 1];
      if (lstrcmpW(argv[i], L"--hang-after") == 0) options.hang_after = number();
      if (lstrcmpW(argv[i], L"--workers-every") == 0) options.workers_every = number();
      if (lstrcmpW(argv[i], L"--compute") == 0) options.compute = number();
      if (lstrcmpW(argv[i], L"--solver") == 0) options.solver = number();
      if (lstrcmpW(argv[i], L"--timer-load") == 0) g_timer_load_ms = static_cast<DWORD>(number()) / 10;
      if (lstrcmpW(argv[i], L"--compute-on-close") == 0) g_compute_on_close_ms = static_cast<DWORD>(number());
    }
    return RunTarget(options);
  }
  if (command == L"worker" && argc == 3) {
    Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    return 0;
  }
  if (command == L"work-of" && argc == 4)
    return PrintWorkOf(ParsePid(argv[2]), static_cast<DWORD>(std::wcstoul(argv[3], nullptr, 10)));
  if (command == L"spin" && argc == 3) {
    Spin(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
    return 0;
  }
  if (command == L"storm" && argc == 4) {
    return Storm(ParsePid(argv[2]), static_cast<unsigned>(std::wcstoul(argv[3], nullptr, 10)));
  }
  if (command == L"wait-relay" && argc == 3) return WaitRelay(ParsePid(argv[2]));
  if (command == L"answers" && argc == 3) return Answers(ParsePid(argv[2]));
  if (command == L"suspend" && argc == 3) return SuspendOrResume(ParsePid(argv[2]), true);
  if (command == L"resume" && argc == 3) return SuspendOrResume(ParsePid(argv[2]), false);
  if (command == L"text" && argc == 3) return PrintText(ParsePid(argv[2]));
  if (command == L"pid-of" && argc == 3) return PrintPidOf(argv[2]);
  if (command == L"exit-code" && argc == 3) return PrintExitCode(ParsePid(argv[2]));
  if (command == L"labels") return PrintLabels();
  if (command == L"stranger") return AskAsAStranger();
  if (argc >= 3 && ParsePid(argv[1]) != 0) {
    if (GetFileAttributesW(Beside(L"mismatch").c_str()) != INVALID_FILE_ATTRIBUTES)
      return AnswerWrongly(argv[1], argv[2]);
    return NeverComeUp(argv[2]);
  }
  std::puts("usage: robust_helper target|worker|spin|work-of|storm|wait-relay|answers|suspend|resume|text|pid-of|exit-code|labels|stranger ...");
  return 1;
}
