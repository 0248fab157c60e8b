// TessikHooks64.dll: the relay's hook procedures for 64-bit programs, set and
// removed by the companion process.
#include <windows.h>

#include "relay/companion_protocol.h"
#include "relay/hooks.h"

namespace {
HINSTANCE g_module = nullptr;
}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) noexcept {
  if (reason == DLL_PROCESS_ATTACH) {
    g_module = instance;
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    // Unloaded from a watched program whose hooks went; at process exit the
    // view goes with the process.
    tessik::ReleaseRelayView();
  }
  return TRUE;
}

extern "C" DWORD WINAPI TessikSetHooks(const DWORD* thread_ids, DWORD count) noexcept {
  return tessik::SetRelayHooks(g_module, thread_ids, count);
}

extern "C" void WINAPI TessikRemoveHooks() noexcept { tessik::RemoveRelayHooks(); }
