// bench_nullhook.dll: a keyboard and mouse hook procedure that only passes
// the call on. Hooked on the same thread as Tessik's, it shows what any hook
// costs under the platform, apart from the work Tessik's procedures do.
#include <windows.h>

namespace {

LRESULT CALLBACK PassOn(int code, WPARAM wparam, LPARAM lparam) noexcept {
  return ::CallNextHookEx(nullptr, code, wparam, lparam);
}

}  // namespace

// Undecorated on every compiler, unlike the stdcall procedure's own name.
extern "C" __declspec(dllexport) HOOKPROC BenchPassOnHook() { return &PassOn; }
