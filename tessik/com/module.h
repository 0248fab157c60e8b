// Module-wide state of Tessik.dll, one copy per process that has the module
// loaded: the module handle, the lock count that DllCanUnloadNow reads, the
// class object (static; its instance made at the first request for it and
// kept until unload) and the cached type information of IMouseKeyHookCtl.
#pragma once

#include <windows.h>
#include <oaidl.h>

namespace tessik {

// The module this code is linked into (Tessik.dll, or a test program), for
// its resources and its path.
HINSTANCE ModuleInstance() noexcept;

// Raise and lower the module's lock count; both return the new count.
ULONG ModuleLock() noexcept;
ULONG ModuleUnlock() noexcept;
ULONG ModuleLockCount() noexcept;

// The bodies of DllGetClassObject and DllCanUnloadNow.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) noexcept;
HRESULT CanUnloadNow() noexcept;

// The type information of IMouseKeyHookCtl, loaded from the registered type
// library on first use and kept; a failure to load is returned unchanged.
HRESULT GetControlTypeInfo(LCID lcid, ITypeInfo** info) noexcept;

// Unload: tears the instance down, lets go of the type information and
// unregisters the relay window's class. When the process is exiting nothing is called: the
// system reclaims everything, and calling out under the loader lock then can
// hang the process.
void ShutdownModule(bool process_exiting) noexcept;

}  // namespace tessik
