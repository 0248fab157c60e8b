// TessikHost64.exe: sets the relay hooks on threads of 64-bit programs for
// the 32-bit Tessik in the monitoring process, and never outlives it.
#include <windows.h>

#include <cstdlib>

#include "relay/companion_protocol.h"
#include "relay/hooks.h"
#include "win32/system_library.h"
#include "win32/unique_any.h"
#include "win32/window_base.h"

namespace tessik::companion {
namespace {

struct HookModule {
  SetHooksFn set = nullptr;
  RemoveHooksFn remove = nullptr;
};

// The message-only window the 32-bit side sends its requests to.
class HostWindow final : public win32::window_base<HostWindow, win32::window_charset::kAnsi> {
 public:
  HostWindow(const HookModule& hooks, HANDLE requests) noexcept : hooks_(hooks), requests_(requests) {}
  ~HostWindow() { destroy_window(); }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  // Set once the client has closed its end of the pipe, or once the pipe
  // holds what no client writes: ending then lets the client start afresh.
  bool LetGo() const noexcept { return let_go_; }

  bool Create(HINSTANCE instance) noexcept {
    window_class host_class;
    host_class.name = kHostWindowClass;
    if (FAILED(register_window_class(instance, host_class))) return false;
    return ::CreateWindowExA(0, kHostWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this) !=
           nullptr;
  }

 private:
  friend class win32::window_base<HostWindow, win32::window_charset::kAnsi>;
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
      case kWmRequestWaiting:
        // Whoever sent it, only what the pipe holds is done, and only the
        // notice that names the request gets its answer.
        RunWaitingRequests();
        return answered_ != 0 && wParam == answered_ ? static_cast<LRESULT>(Answer(answered_, hooked_)) : 0;
      case WM_CLOSE:
        // Not from anyone: the client lets us go by closing the pipe.
        return 0;
      default:
        return default_proc(hwnd(), message, wParam, lParam);
    }
  }

  // Every whole request in the pipe, in order; keeps the last one's answer.
  // A request not yet there whole waits for a later notice: a read never
  // waits for the client.
  void RunWaitingRequests() noexcept {
    for (;;) {
      SetHooksHeader header{};
      DWORD peeked = 0;
      DWORD available = 0;
      if (!::PeekNamedPipe(requests_, &header, sizeof(header), &peeked, &available, nullptr)) {
        // The client closed its end: it lets us go.
        if (::GetLastError() == ERROR_BROKEN_PIPE) let_go_ = true;
        return;
      }
      if (peeked < sizeof(header)) return;
      if (header.count > kMaxHookedThreads) {
        let_go_ = true;
        return;
      }
      const DWORD bytes = static_cast<DWORD>(sizeof(header)) + header.count * static_cast<DWORD>(sizeof(DWORD));
      if (available < bytes) return;
      DWORD threads[kMaxHookedThreads];
      if (!ReadWhole(&header, sizeof(header)) ||
          !ReadWhole(threads, header.count * static_cast<DWORD>(sizeof(DWORD)))) {
        let_go_ = true;
        return;
      }
      answered_ = header.sequence;
      if (header.count == 0) {
        hooks_.remove();
        hooked_ = 1;
      } else {
        hooked_ = hooks_.set(threads, header.count);
      }
    }
  }

  bool ReadWhole(void* buffer, DWORD bytes) noexcept {
    DWORD read = 0;
    return bytes == 0 || (::ReadFile(requests_, buffer, bytes, &read, nullptr) && read == bytes);
  }

  HookModule hooks_;
  HANDLE requests_;
  WORD answered_ = 0;
  DWORD hooked_ = 0;
  bool let_go_ = false;
};

// The hook module beside this program, wherever that is installed.
win32::unique_hmodule LoadHookModule() noexcept {
  wchar_t path[MAX_PATH + ARRAYSIZE(kHooksFileName)] = L"";
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return win32::unique_hmodule();
  wchar_t* name = path + length;
  while (name > path && name[-1] != L'\\' && name[-1] != L'/') --name;
  ::lstrcpyW(name, kHooksFileName);
  return win32::unique_hmodule(::LoadLibraryW(path));
}

// Serves the window's messages until the client closes the pipe or `parent`
// ends. Anyone may post WM_QUIT to this thread: it ends nothing.
void Serve(const HostWindow& window, HANDLE parent) noexcept {
  while (!window.LetGo()) {
    if (::MsgWaitForMultipleObjects(1, &parent, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0 + 1) return;
    MSG message;
    while (!window.LetGo() && ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message != WM_QUIT) ::DispatchMessageA(&message);
    }
  }
}

// The next inherited handle on the command line.
HANDLE InheritedHandle(char*& rest) noexcept {
  return reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::strtoul(rest, &rest, 10)));
}

int Run(HINSTANCE instance, LPSTR command_line) noexcept {
  win32::restrict_library_search();
  char* rest = command_line;
  const win32::unique_handle parent(InheritedHandle(rest));
  const win32::unique_handle ready(InheritedHandle(rest));
  const win32::unique_handle requests(InheritedHandle(rest));
  if (!parent || !ready || !requests) return 1;

  const win32::unique_hmodule hooks = LoadHookModule();
  if (!hooks) return 1;
  HookModule module;
  module.set = reinterpret_cast<SetHooksFn>(reinterpret_cast<void*>(::GetProcAddress(hooks.get(), kSetHooksExport)));
  module.remove =
      reinterpret_cast<RemoveHooksFn>(reinterpret_cast<void*>(::GetProcAddress(hooks.get(), kRemoveHooksExport)));
  if (!module.set || !module.remove) return 1;

  HostWindow window(module, requests.get());
  if (!window.Create(instance)) return 1;
  if (!::SetEvent(ready.get())) return 1;
  Serve(window, parent.get());
  // Before the hook module goes: a hook left behind would outlive us under Wine.
  module.remove();
  return 0;
}

}  // namespace
}  // namespace tessik::companion

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  return tessik::companion::Run(instance, command_line);
}
