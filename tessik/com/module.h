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

// The body of DllGetClassObject.
HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) noexcept;
// The body of DllCanUnloadNow: S_OK when the lock count is 0, once the
// instance is torn down (its outside references disconnected, its hooks and
// relay window gone, its sinks released, the companion let go), the type
// information released and the relay window's class unregistered. The
// runtime asks it before it unloads the module; a later request for the
// class object makes the instance anew. S_FALSE while references are held,
// or when asked on another thread than the relay window's.
HRESULT CanUnloadNow() noexcept;

// The type information of IMouseKeyHookCtl, loaded from the registered type
// library on first use and kept; a failure to load is returned unchanged.
HRESULT GetControlTypeInfo(LCID lcid, ITypeInfo** info) noexcept;

// DllMain's part at the detach, at an unload or at the process's exit:
// nothing that calls out or waits under the loader lock. A loader that
// unloads the module without asking CanUnloadNow leaves the instance's
// window and hooks behind.
void ModuleDetached() noexcept;

}  // namespace tessik
