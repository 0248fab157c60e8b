#include "window/restart_win32.h"

#include <windows.h>

namespace vardex {

void RegisterForRestart() {
  using RegisterFn = HRESULT(WINAPI*)(PCWSTR, DWORD);
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32) return;
  const auto register_restart = reinterpret_cast<RegisterFn>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "RegisterApplicationRestart")));
  // Vardex reads no command line: it starts again with none.
  if (register_restart) register_restart(nullptr, RESTART_NO_CRASH | RESTART_NO_HANG | RESTART_NO_REBOOT);
}

}  // namespace vardex
