// Tessik.dll's entry points: DllMain and the four exports, wired to the
// module state and self-registration.
#include <windows.h>

#include "com/module.h"
#include "com/registration.h"
#include "relay/hooks.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) noexcept {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    // The teardown ran at DllCanUnloadNow; nothing here calls out or waits.
    tessik::ModuleDetached();
    // Unloaded from a watched program whose hooks went: its view of the
    // relay block goes too. At exit (`reserved` set) it goes with the process.
    if (reserved == nullptr) tessik::ReleaseRelayView();
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return tessik::CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  return tessik::GetClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer() { return tessik::RegisterServer(); }

STDAPI DllUnregisterServer() { return tessik::UnregisterServer(); }
