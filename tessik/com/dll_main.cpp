// Tessik.dll's entry points: DllMain and the four exports, wired to the
// module state and self-registration.
#include <windows.h>

#include "module.h"
#include "registration.h"

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) noexcept {
  if (reason == DLL_PROCESS_ATTACH) {
    DisableThreadLibraryCalls(instance);
  } else if (reason == DLL_PROCESS_DETACH) {
    // A non-null `reserved` means the process is exiting.
    tessik::ShutdownModule(reserved != nullptr);
  }
  return TRUE;
}

STDAPI DllCanUnloadNow() { return tessik::CanUnloadNow(); }

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {
  return tessik::GetClassObject(clsid, iid, object);
}

STDAPI DllRegisterServer() { return tessik::RegisterServer(); }

STDAPI DllUnregisterServer() { return tessik::UnregisterServer(); }
