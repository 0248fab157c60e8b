#include "class_factory.h"

#include <objbase.h>

#include <new>

#include "module.h"

namespace tessik {

IClassFactory* ClassFactory::Create() noexcept { return new (std::nothrow) ClassFactory(); }

ClassFactory::~ClassFactory() {
  // Outside references (proxies in other apartments) go first; the instance
  // itself is torn down by its destructor after this.
  CoDisconnectObject(instance_.Identity(), 0);
}

STDMETHODIMP ClassFactory::QueryInterface(REFIID iid, void** object) noexcept {
  if (!object) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
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
