// TessikHost64.exe: sets the relay hooks on threads of 64-bit programs for
// the 32-bit Tessik in the monitoring process, and never outlives it.
#include <windows.h>

#include <cstdlib>

#include "companion/protocol.h"
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
  explicit HostWindow(const HookModule& hooks) noexcept : hooks_(hooks) {}
  ~HostWindow() { DestroyWindow(); }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  bool Create(HINSTANCE instance) noexcept {
    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof(window_class);
    window_class.lpfnWndProc = WindowProc;
    window_class.hInstance = instance;
    window_class.lpszClassName = kHostWindowClass;
    if (!::RegisterClassExA(&window_class)) return false;
    return ::CreateWindowExA(0, kHostWindowClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, this) !=
           nullptr;
  }

 private:
  friend class win32::window_base<HostWindow, win32::window_charset::kAnsi>;
  LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept {
    switch (message) {
      case WM_COPYDATA: {
        const auto* request = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (!request || request->dwData != kSetHooksRequest || request->cbData % sizeof(DWORD) != 0 ||
            (request->cbData != 0 && !request->lpData)) {
          return 0;
        }
        return hooks_.set(static_cast<const DWORD*>(request->lpData), request->cbData / sizeof(DWORD));
      }
      case kWmRemoveHooks:
        hooks_.remove();
        return 1;
      case WM_CLOSE:
        ::PostQuitMessage(0);
        return 0;
      default:
        return DefaultProc(hwnd(), message, wParam, lParam);
    }
  }

  HookModule hooks_;
};

// The hook module beside this program.
win32::unique_hmodule LoadHookModule() noexcept {
  char path[MAX_PATH + sizeof(kHooksFileName)] = "";
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return win32::unique_hmodule();
  char* name = path + length;
  while (name > path && name[-1] != '\\' && name[-1] != '/') --name;
  ::lstrcpyA(name, kHooksFileName);
  return win32::unique_hmodule(::LoadLibraryA(path));
}

// Serves the window's messages until WM_CLOSE or until `parent` ends.
void Serve(HANDLE parent) noexcept {
  for (;;) {
    if (::MsgWaitForMultipleObjects(1, &parent, FALSE, INFINITE, QS_ALLINPUT) != WAIT_OBJECT_0 + 1) return;
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) return;
      ::DispatchMessageA(&message);
    }
  }
}

int Run(HINSTANCE instance, LPSTR command_line) noexcept {
  char* rest = nullptr;
  const DWORD parent_id = static_cast<DWORD>(std::strtoul(command_line, &rest, 10));
  while (*rest == ' ') ++rest;
  if (parent_id == 0 || *rest == '\0') return 1;
  const win32::unique_handle parent(::OpenProcess(SYNCHRONIZE, FALSE, parent_id));
  if (!parent) return 1;

  const win32::unique_hmodule hooks = LoadHookModule();
  if (!hooks) return 1;
  HookModule module;
  module.set = reinterpret_cast<SetHooksFn>(reinterpret_cast<void*>(::GetProcAddress(hooks.get(), kSetHooksExport)));
  module.remove =
      reinterpret_cast<RemoveHooksFn>(reinterpret_cast<void*>(::GetProcAddress(hooks.get(), kRemoveHooksExport)));
  if (!module.set || !module.remove) return 1;

  HostWindow window(module);
  if (!window.Create(instance)) return 1;
  {
    const win32::unique_handle ready(::OpenEventA(EVENT_MODIFY_STATE, FALSE, rest));
    if (!ready || !::SetEvent(ready.get())) return 1;
  }
  Serve(parent.get());
  // Before the hook module goes: a hook left behind would outlive us under Wine.
  module.remove();
  return 0;
}

}  // namespace
}  // namespace tessik::companion

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
  return tessik::companion::Run(instance, command_line);
}
