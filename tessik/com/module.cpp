#include "com/module.h"

#include "com/class_factory.h"
#include "relay/companion.h"
#include "relay/hooks.h"
#include "tessik.h"
#include "win32/com_ptr.h"
#include "win32/result.h"
#include "win32/unique_any.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace tessik {
namespace {

constexpr WORD kTypeLibMajor = 1;
constexpr WORD kTypeLibMinor = 0;
// The locale the type library is registered under (lcid in tessik.idl).
constexpr LCID kTypeLibLcid = 0x0409;

LONG g_lock_count = 0;

// Static, as the system's own servers keep theirs: no allocation, no count
// of its own. Its instance is made under the module-wide lock, so that two
// threads asking first never make two.
ClassFactory g_class_object;
SRWLOCK g_instance_lock = SRWLOCK_INIT;

SRWLOCK g_type_info_lock = SRWLOCK_INIT;
win32::com_ptr<ITypeInfo> g_type_info;

}  // namespace

HINSTANCE ModuleInstance() noexcept { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

ULONG ModuleLock() noexcept { return static_cast<ULONG>(InterlockedIncrement(&g_lock_count)); }
ULONG ModuleUnlock() noexcept { return static_cast<ULONG>(InterlockedDecrement(&g_lock_count)); }
ULONG ModuleLockCount() noexcept {
  return static_cast<ULONG>(InterlockedCompareExchange(&g_lock_count, 0, 0));
}

HRESULT GetClassObject(REFCLSID clsid, REFIID iid, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (!IsEqualCLSID(clsid, CLSID_MouseKeyHookCtl)) return CLASS_E_CLASSNOTAVAILABLE;
  // The reference is taken under the lock too: CanUnloadNow, which tears the
  // instance down, then sees the lock count it raises.
  win32::exclusive_lock lock(g_instance_lock);
  g_class_object.MakeInstance();
  return g_class_object.QueryInterface(iid, object);
}

HRESULT CanUnloadNow() noexcept {
  win32::exclusive_lock lock(g_instance_lock);
  if (ModuleLockCount() != 0) return S_FALSE;
  // The teardown that unloading needs runs here, before the unload and
  // outside the loader lock, where disconnecting outside references and
  // letting the companion go may wait. Only the relay window's own thread
  // can destroy it: asked on another, the module stays.
  if (!g_class_object.DestroyInstance()) return S_FALSE;
  {
    win32::exclusive_lock type_info_lock(g_type_info_lock);
    g_type_info.reset();
  }
  // Window classes outlive the DLL that registered them. Left behind, this
  // one would answer a later load of the module at the same address with a
  // procedure of this copy; its window went with the instance.
  ::UnregisterClassA(kRelayWindowClass, ModuleInstance());
  return S_OK;
}

HRESULT GetControlTypeInfo(LCID lcid, ITypeInfo** info) noexcept {
  if (!info) return E_POINTER;
  *info = nullptr;
  {
    // Loaded once, then only read: every GetIDsOfNames and Invoke comes
    // here, and readers on several threads share the lock.
    const win32::shared_lock read(g_type_info_lock);
    if (g_type_info) {
      *info = win32::com_ptr<ITypeInfo>(g_type_info).detach();
      return S_OK;
    }
  }
  const win32::exclusive_lock lock(g_type_info_lock);
  // Another thread may have loaded it meanwhile.
  if (!g_type_info) {
    win32::com_ptr<ITypeLib> library;
    const HRESULT hr = LoadRegTypeLib(LIBID_TESSIKLib, kTypeLibMajor, kTypeLibMinor, lcid, library.put());
    // The library is registered for its own locale only, and the lookup falls
    // back from the caller's locale to neutral but not to that one: callers
    // asking with the user's default locale or 0 would never reach it.
    if (FAILED(hr) &&
        FAILED(LoadRegTypeLib(LIBID_TESSIKLib, kTypeLibMajor, kTypeLibMinor, kTypeLibLcid, library.put()))) {
      return hr;
    }
    RETURN_IF_FAILED(library->GetTypeInfoOfGuid(IID_IMouseKeyHookCtl, g_type_info.put()));
  }
  *info = win32::com_ptr<ITypeInfo>(g_type_info).detach();
  return S_OK;
}

void ModuleDetached() noexcept {
  // The type information's static holder would release it at detach, a call
  // into another module under the loader lock: it is left to the system.
  static_cast<void>(g_type_info.detach());
}

}  // namespace tessik
