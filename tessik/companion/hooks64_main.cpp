// TessikHooks64.dll: the relay's hook procedures for 64-bit programs, set and
// removed by the companion process.
#include <windows.h>

#include "companion/protocol.h"
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

extern "C" BOOL WINAPI TessikSetHooks(DWORD thread_id) noexcept {
  // Thread 0 would make both hooks system-wide.
  return thread_id != 0 && tessik::SetRelayHooks(g_module, thread_id) ? TRUE : FALSE;
}

extern "C" void WINAPI TessikRemoveHooks() noexcept { tessik::RemoveRelayHooks(); }
