#include "components/input_watch_win32.h"

#include <atomic>
#include <system_error>
#include <thread>
#include <utility>

#include "processes/process_query.h"
#include "win32/console_attachment.h"
#include "win32/system_library.h"
#include "win32/window_base.h"

namespace vardex {
namespace {

// PROCESS_BASIC_INFORMATION, with the parent's identifier named.
struct BasicInformation {
  LONG exit_status;
  void* peb;
  ULONG_PTR affinity;
  LONG base_priority;
  ULONG_PTR process_id;
  ULONG_PTR parent_process_id;
};
using NtQueryInformationProcessFn = LONG(WINAPI*)(HANDLE process, ULONG information_class, void* buffer, ULONG size,
                                                  ULONG* returned);
constexpr ULONG kProcessBasicInformation = 0;

std::string ImagePath(HANDLE process) {
  using image_name_fn = BOOL(WINAPI*)(HANDLE, DWORD, LPSTR, DWORD*);
  const HMODULE kernel32 = ::GetModuleHandleA(win32::kKernel32);
  const auto image_name =
      kernel32 ? win32::proc_address<image_name_fn>(kernel32, "QueryFullProcessImageNameA") : nullptr;
  char path[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  if (!image_name || !image_name(process, 0, path, &size)) return {};
  return std::string(path, size);
}

// The identifier of the process that created `process`, as the system
// keeps it; none when it cannot be read.
std::optional<DWORD> ParentId(HMODULE ntdll, HANDLE process) {
  const auto query = ntdll ? win32::proc_address<NtQueryInformationProcessFn>(ntdll, "NtQueryInformationProcess")
                           : nullptr;
  BasicInformation basic{};
  if (!query || query(process, kProcessBasicInformation, &basic, sizeof basic, nullptr) < 0) return std::nullopt;
  return static_cast<DWORD>(basic.parent_process_id);
}

// A process as a pseudo-console's starters are kept: identifier and
// creation time in the system's units.
using StartedProcess = std::pair<DWORD, ULONGLONG>;

StartedProcess Started(DWORD id) {
  const win32::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  return {id, process ? win32::process_creation_time(process.get()) : 0};
}

// The processes that started `id`, nearest first: each older than the one it
// started, so that an identifier reused since never stands in for one.
// Bounded: a shell in a terminal is two or three steps up.
std::vector<StartedProcess> StartersOf(HMODULE ntdll, DWORD id) {
  constexpr int kMaxSteps = 8;
  std::vector<StartedProcess> starters;
  win32::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  ULONGLONG created = process ? win32::process_creation_time(process.get()) : 0;
  for (int step = 0; step < kMaxSteps && process && created != 0; ++step) {
    const auto parent_id = ParentId(ntdll, process.get());
    if (!parent_id || *parent_id == 0) break;
    win32::unique_handle parent(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *parent_id));
    const ULONGLONG parent_created = parent ? win32::process_creation_time(parent.get()) : 0;
    if (parent_created == 0 || parent_created > created) break;
    starters.push_back({*parent_id, parent_created});
    process = std::move(parent);
    created = parent_created;
  }
  return starters;
}

// The class of the window a pseudo-console answers GetConsoleWindow with.
constexpr char kPseudoConsoleClass[] = "PseudoConsoleWindow";

// The one instance on the UI thread, for the event hook's procedure, which
// gets no context of its own.
InputWatchWin32* g_foreground_watch = nullptr;

constexpr USHORT kButtonFlags = RI_MOUSE_LEFT_BUTTON_DOWN | RI_MOUSE_LEFT_BUTTON_UP | RI_MOUSE_RIGHT_BUTTON_DOWN |
                                RI_MOUSE_RIGHT_BUTTON_UP | RI_MOUSE_MIDDLE_BUTTON_DOWN | RI_MOUSE_MIDDLE_BUTTON_UP |
                                RI_MOUSE_BUTTON_4_DOWN | RI_MOUSE_BUTTON_4_UP | RI_MOUSE_BUTTON_5_DOWN |
                                RI_MOUSE_BUTTON_5_UP;
constexpr USHORT kWheelFlags = RI_MOUSE_WHEEL | 0x0800;  // RI_MOUSE_HWHEEL, missing from older headers

}  // namespace

// What a copy's console is, once its lookup is done.
struct ConsoleLookup {
  enum class Kind { kPending, kNone, kWindow, kUnknown };
  // Stored once by the lookup's thread, after the fields below.
  std::atomic<Kind> kind{Kind::kPending};
  HWND window = nullptr;                 // kWindow: the console window
  std::vector<StartedProcess> starters;  // kUnknown: who started the copy
};

namespace {

// Runs on a thread of its own: attaching may wait on the console's host.
void LookUpConsole(HMODULE ntdll, DWORD id, ConsoleLookup& lookup) noexcept {
  ConsoleLookup::Kind kind = ConsoleLookup::Kind::kNone;
  try {
    HWND window = nullptr;
    win32::with_console_of(id, [&] { window = ::GetConsoleWindow(); });
    char name[64] = {};
    if (window) ::GetClassNameA(window, name, sizeof name);
    if (window && ::lstrcmpA(name, kPseudoConsoleClass) == 0) {
      lookup.starters = StartersOf(ntdll, id);
      // Where the terminal owns its pseudo-console's window, its process too.
      DWORD terminal = 0;
      const HWND owner = ::GetWindow(window, GW_OWNER);
      if (owner && ::GetWindowThreadProcessId(owner, &terminal) && terminal != 0)
        lookup.starters.push_back(Started(terminal));
      kind = ConsoleLookup::Kind::kUnknown;
    } else if (window && ::IsWindowVisible(window)) {
      // A console hidden from its start takes no typing: it counts for nobody.
      lookup.window = window;
      kind = ConsoleLookup::Kind::kWindow;
    }
  } catch (...) {
    kind = ConsoleLookup::Kind::kNone;
  }
  lookup.kind.store(kind, std::memory_order_release);
}

}  // namespace

// A message-only window that takes the session's raw keyboard and mouse input.
class RawInputSink final : public win32::window_base<RawInputSink> {
 public:
  explicit RawInputSink(InputWatchWin32& watch) : watch_(watch) {}
  ~RawInputSink() { destroy_window(); }

  bool Create() {
    const HINSTANCE instance = ::GetModuleHandleW(nullptr);
    window_class wanted;
    wanted.name = L"VardexRawInput";
    if (FAILED(register_window_class(instance, wanted)) ||
        !::CreateWindowExW(0, wanted.name, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this))
      return false;
    RAWINPUTDEVICE devices[2] = {};
    devices[0].usUsagePage = devices[1].usUsagePage = 1;  // generic desktop
    devices[0].usUsage = 6;                                // keyboard
    devices[1].usUsage = 2;                                // mouse
    devices[0].dwFlags = devices[1].dwFlags = RIDEV_INPUTSINK;
    devices[0].hwndTarget = devices[1].hwndTarget = hwnd();
    return ::RegisterRawInputDevices(devices, 2, sizeof devices[0]) != FALSE;
  }

 private:
  friend class win32::window_base<RawInputSink>;
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
    if (message != WM_INPUT) return default_proc(hwnd(), message, wparam, lparam);
    RAWINPUT input{};
    UINT size = sizeof input;
    if (::GetRawInputData(reinterpret_cast<HRAWINPUT>(lparam), RID_INPUT, &input, &size, sizeof(RAWINPUTHEADER)) !=
        static_cast<UINT>(-1)) {
      if (input.header.dwType == RIM_TYPEKEYBOARD)
        watch_.RawUse(false);
      else if (input.header.dwType == RIM_TYPEMOUSE && (input.data.mouse.usButtonFlags & kWheelFlags))
        watch_.RawUse(true);
      else if (input.header.dwType == RIM_TYPEMOUSE && (input.data.mouse.usButtonFlags & kButtonFlags))
        watch_.RawUse(false);
      else
        watch_.RawMove();
    }
    // The system cleans up after raw input only through DefWindowProc.
    return default_proc(hwnd(), message, wparam, lparam);
  }

  InputWatchWin32& watch_;
};

InputWatchWin32::InputWatchWin32() : ntdll_(win32::load_system_library(win32::kNtdll)) {
  char system[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryA(system, MAX_PATH);
  if (length > 0 && length < MAX_PATH) console_host_ = std::string(system, length) + "\\conhost.exe";
  auto raw = std::make_unique<RawInputSink>(*this);
  if (raw->Create()) raw_ = std::move(raw);
  front_ = ProgramOfWindow(::GetForegroundWindow());
  if (!g_foreground_watch) {
    foreground_hook_.reset(::SetWinEventHook(EVENT_SYSTEM_FOREGROUND, EVENT_SYSTEM_FOREGROUND, nullptr, OnForeground,
                                             0, 0, WINEVENT_OUTOFCONTEXT));
    if (foreground_hook_) g_foreground_watch = this;
  }
}

InputWatchWin32::~InputWatchWin32() {
  if (g_foreground_watch == this) g_foreground_watch = nullptr;
}

void InputWatchWin32::RawUse(bool wheel) {
  raw_seen_ = true;
  const DWORD now = ::GetTickCount();
  if (!wheel) {
    last_raw_use_ = now;
    use_tick_ = now;
    return;
  }
  // The wheel scrolls the window under the pointer, in front or not.
  wheel_tick_ = now;
  POINT at{};
  wheel_target_ = ::GetCursorPos(&at) ? ProgramOfWindow(::WindowFromPoint(at)) : WindowProgram{};
}

DWORD InputWatchWin32::LastUserInputTick() const {
  LASTINPUTINFO last{};
  last.cbSize = sizeof last;
  const DWORD session = ::GetLastInputInfo(&last) ? last.dwTime : 0;
  return raw_ && last_raw_use_ ? *last_raw_use_ : session;
}

void CALLBACK InputWatchWin32::OnForeground(HWINEVENTHOOK, DWORD, HWND window, LONG object, LONG, DWORD,
                                            DWORD) noexcept {
  if (!g_foreground_watch || object != OBJID_WINDOW) return;
  try {
    g_foreground_watch->FrontMoved(window);
  } catch (...) {
    win32::report_exception("the foreground event hook");
  }
}

void InputWatchWin32::FrontMoved(HWND window) {
  WindowProgram to = ProgramOfWindow(window);
  const bool after_input = ::GetTickCount() - LastUserInputTick() <= kUserCausedWithinMs;
  changes_.push_back({front_, to, after_input});
  front_ = std::move(to);
}

InputSample InputWatchWin32::Sample() {
  InputSample sample;
  LASTINPUTINFO last{};
  last.cbSize = sizeof last;
  if (::GetLastInputInfo(&last)) sample.last_input_tick = last.dwTime;
  if (raw_) {
    // Session input that raw input did not see at all: it is blind here,
    // and any input stands for use.
    if (last_session_input_ && *last_session_input_ != sample.last_input_tick && !raw_seen_)
      use_tick_ = sample.last_input_tick;
    last_session_input_ = sample.last_input_tick;
    raw_seen_ = false;
    sample.last_use_tick = use_tick_;
  }
  sample.last_wheel_tick = wheel_tick_;
  sample.wheel_target = wheel_target_;
  const WindowProgram front = ProgramOfWindow(::GetForegroundWindow());
  // A move of the front that no event told of (Wine raises none): seen here,
  // a sample period late at most, so the input that caused it may be older.
  const auto same = [](const WindowProgram& a, const WindowProgram& b) {
    return a.process_id == b.process_id && a.created == b.created && a.thread_id == b.thread_id;
  };
  if (!same(front, front_)) {
    const bool after_input = ::GetTickCount() - LastUserInputTick() <= kUserCausedWithinMs + kSampledLateMs;
    changes_.push_back({front_, front, after_input});
    front_ = front;
  }
  sample.front_changes = std::move(changes_);
  changes_.clear();
  DWORD front_owner = 0;
  const HWND front_window = ::GetForegroundWindow();
  if (front_window) ::GetWindowThreadProcessId(front_window, &front_owner);
  std::optional<StartedProcess> front_process;
  for (const auto& entry : consoles_) {
    const ConsoleLookup& lookup = *entry.second;
    if (lookup.kind.load(std::memory_order_acquire) != ConsoleLookup::Kind::kUnknown) continue;
    sample.console_unknown = true;
    if (front_owner == 0) continue;
    if (!front_process) front_process = Started(front_owner);
    for (const StartedProcess& starter : lookup.starters)
      if (starter == *front_process) sample.front_starts_unknown_console = true;
  }
  sample.foreground_process_id = front.process_id;
  sample.foreground_created = front.created;
  sample.foreground_thread_id = front.thread_id;
  return sample;
}

WindowProgram InputWatchWin32::ProgramOfWindow(HWND window) const {
  WindowProgram program;
  DWORD owner = 0;
  const DWORD thread = window ? ::GetWindowThreadProcessId(window, &owner) : 0;
  if (thread == 0 || owner == 0) return program;
  program.thread_id = static_cast<std::int32_t>(thread);
  for (const auto& [copy, lookup] : consoles_) {
    if (lookup->kind.load(std::memory_order_acquire) == ConsoleLookup::Kind::kWindow && lookup->window == window) {
      program.process_id = copy.first;
      if (copy.second >= 0) program.created = copy.second;
      return program;
    }
  }
  const auto id = ProgramOf(owner);
  if (!id) return program;
  program.process_id = static_cast<std::int32_t>(*id);
  const win32::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *id));
  const ULONGLONG created = process ? win32::process_creation_time(process.get()) : 0;
  if (created != 0) program.created = static_cast<std::int64_t>(created / 10000);  // 100-ns units to ms
  return program;
}

void InputWatchWin32::Copies(const std::vector<WindowProgram>& copies) {
  decltype(consoles_) kept;
  for (const WindowProgram& copy : copies) {
    if (!copy.process_id) continue;
    const auto key = std::make_pair(*copy.process_id, copy.created.value_or(-1));
    if (const auto known = consoles_.find(key); known != consoles_.end()) {
      kept.insert(*known);
      continue;
    }
    // Shared with its thread, which may outlive the watch while a console's
    // host keeps it waiting.
    auto lookup = std::make_shared<ConsoleLookup>();
    const HMODULE ntdll = ntdll_.get();
    const auto id = static_cast<DWORD>(*copy.process_id);
    try {
      std::thread([ntdll, id, lookup] { LookUpConsole(ntdll, id, *lookup); }).detach();
    } catch (const std::system_error&) {
      lookup->kind.store(ConsoleLookup::Kind::kNone, std::memory_order_release);  // no thread: seen as before
    }
    kept.emplace(key, std::move(lookup));
  }
  consoles_ = std::move(kept);
}

std::optional<DWORD> InputWatchWin32::ProgramOf(DWORD owner) const {
  const win32::unique_handle host(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner));
  // The console host by its whole path: a program of that name elsewhere is its own.
  if (!host || console_host_.empty() || ::lstrcmpiA(ImagePath(host.get()).c_str(), console_host_.c_str()) != 0)
    return owner;
  const auto found = ParentId(ntdll_.get(), host.get());
  if (!found) return std::nullopt;
  const DWORD parent_id = *found;
  const win32::unique_handle parent(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id));
  if (!parent) return std::nullopt;
  const ULONGLONG parent_created = win32::process_creation_time(parent.get());
  const ULONGLONG host_created = win32::process_creation_time(host.get());
  if (parent_created == 0 || host_created == 0 || parent_created > host_created) return std::nullopt;
  return parent_id;
}

}  // namespace vardex
