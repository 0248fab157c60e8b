// TessikHost64.exe: sets the relay hooks on threads of 64-bit programs for
// the 32-bit Tessik in the monitoring process, and never outlives it.
#include <windows.h>

#include <cstdlib>

#include "companion/protocol.h"
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
  explicit HostWindow(const HookModule& hooks) noexcept : hooks_(hooks) {}
  ~HostWindow() { DestroyWindow(); }
  HostWindow(const HostWindow&) = delete;
  HostWindow& operator=(const HostWindow&) = delete;

  bool Create(HINSTANCE instance) noexcept {
    window_class host_class;
    host_class.name = kHostWindowClass;
    if (!RegisterWindowClass(instance, host_class)) return false;
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
        return hooks_.set(static_cast<const DWORD*>(request->lpData),
                          static_cast<DWORD>(request->cbData / sizeof(DWORD)));
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
  win32::restrict_library_search();
  char* rest = nullptr;
  const DWORD parent_id = static_cast<DWORD>(std::strtoul(command_line, &rest, 10));
  const win32::unique_handle ready(
      reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(std::strtoul(rest, &rest, 10))));
  if (parent_id == 0 || !ready) return 1;
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
  if (!::SetEvent(ready.get())) return 1;
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
