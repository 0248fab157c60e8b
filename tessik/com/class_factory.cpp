#include "com/class_factory.h"

#include <objbase.h>

#include <new>

#include "com/module.h"
#include "win32/qi_table.h"

namespace tessik {

void ClassFactory::MakeInstance() noexcept {
  if (!instance_) instance_ = new (storage_) MouseKeyHookCtl();
}

bool ClassFactory::DestroyInstance() noexcept {
  if (!instance_) return true;
  if (!instance_->OnItsThread()) return false;
  // Outside references (proxies in other apartments) go first.
  CoDisconnectObject(instance_->Identity(), 0);
  instance_->~MouseKeyHookCtl();
  instance_ = nullptr;
  return true;
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** object) noexcept {
  static const win32::qi_entry<ClassFactory> table[] = {
      win32::qi_row<ClassFactory, IClassFactory>(IID_IUnknown),
      win32::qi_row<ClassFactory, IClassFactory>(IID_IClassFactory),
  };
  return win32::qi_search(this, table, iid, object);
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() noexcept {
  ModuleLock();
  return 2;
}

STDMETHODIMP_(ULONG) ClassFactory::Release() noexcept {
  ModuleUnlock();
  return 1;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return instance_->QueryInterface(iid, object);
}

STDMETHODIMP ClassFactory::LockServer(BOOL lock) noexcept {
  if (lock) {
    ModuleLock();
  } else {
    ModuleUnlock();
  }
  return S_OK;
}

}  // namespace tessik
