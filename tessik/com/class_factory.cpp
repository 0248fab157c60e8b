#include "class_factory.h"

#include <objbase.h>

#include <new>

#include "module.h"
#include "win32/qi_table.h"

namespace tessik {

IClassFactory* ClassFactory::Create() noexcept { return new (std::nothrow) ClassFactory(); }

ClassFactory::~ClassFactory() {
  // Outside references (proxies in other apartments) go first; the instance
  // itself is torn down by its destructor after this.
  CoDisconnectObject(instance_.Identity(), 0);
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** object) noexcept {
  static const win32::qi_entry<ClassFactory> table[] = {
      win32::qi_row<ClassFactory, IClassFactory>(IID_IUnknown),
      win32::qi_row<ClassFactory, IClassFactory>(IID_IClassFactory),
  };
  return win32::qi_search(this, table, iid, object);
}

STDMETHODIMP_(ULONG) ClassFactory::AddRef() noexcept {
  AcquireSRWLockExclusive(&ref_lock_);
  const ULONG refs = ++refs_;
  if (refs == 2) ModuleLock();
  ReleaseSRWLockExclusive(&ref_lock_);
  return refs;
}

STDMETHODIMP_(ULONG) ClassFactory::Release() noexcept {
  AcquireSRWLockExclusive(&ref_lock_);
  const ULONG refs = --refs_;
  if (refs == 1) ModuleUnlock();
  ReleaseSRWLockExclusive(&ref_lock_);
  if (refs == 0) delete this;
  return refs;
}

STDMETHODIMP ClassFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) noexcept {
  if (!object) return E_POINTER;
  *object = nullptr;
  if (outer) return CLASS_E_NOAGGREGATION;
  return instance_.QueryInterface(iid, object);
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
