#include "components/input_watch_win32.h"

#include <utility>

#include "win32/process_query.h"
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

// The one instance on the UI thread, for the event hook's procedure, which
// gets no context of its own.
InputWatchWin32* g_foreground_watch = nullptr;

constexpr USHORT kButtonFlags = RI_MOUSE_LEFT_BUTTON_DOWN | RI_MOUSE_LEFT_BUTTON_UP | RI_MOUSE_RIGHT_BUTTON_DOWN |
                                RI_MOUSE_RIGHT_BUTTON_UP | RI_MOUSE_MIDDLE_BUTTON_DOWN | RI_MOUSE_MIDDLE_BUTTON_UP |
                                RI_MOUSE_BUTTON_4_DOWN | RI_MOUSE_BUTTON_4_UP | RI_MOUSE_BUTTON_5_DOWN |
                                RI_MOUSE_BUTTON_5_UP;
constexpr USHORT kWheelFlags = RI_MOUSE_WHEEL | 0x0800;  // RI_MOUSE_HWHEEL, missing from older headers

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
    if (!register_window_class(instance, wanted) ||
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
  const auto id = ProgramOf(owner);
  if (!id) return program;
  program.process_id = static_cast<std::int32_t>(*id);
  const win32::unique_handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *id));
  const ULONGLONG created = process ? win32::process_creation_time(process.get()) : 0;
  if (created != 0) program.created = static_cast<std::int64_t>(created / 10000);  // 100-ns units to ms
  return program;
}

std::optional<DWORD> InputWatchWin32::ProgramOf(DWORD owner) const {
  const win32::unique_handle host(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner));
  // The console host by its whole path: a program of that name elsewhere is its own.
  if (!host || console_host_.empty() || ::lstrcmpiA(ImagePath(host.get()).c_str(), console_host_.c_str()) != 0)
    return owner;
  const auto query = ntdll_ ? win32::proc_address<NtQueryInformationProcessFn>(ntdll_.get(), "NtQueryInformationProcess")
                            : nullptr;
  BasicInformation basic{};
  if (!query || query(host.get(), kProcessBasicInformation, &basic, sizeof basic, nullptr) < 0) return std::nullopt;
  const auto parent_id = static_cast<DWORD>(basic.parent_process_id);
  const win32::unique_handle parent(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, parent_id));
  if (!parent) return std::nullopt;
  const ULONGLONG parent_created = win32::process_creation_time(parent.get());
  const ULONGLONG host_created = win32::process_creation_time(host.get());
  if (parent_created == 0 || host_created == 0 || parent_created > host_created) return std::nullopt;
  return parent_id;
}

}  // namespace vardex
