// The class object of MouseKeyHookCtl. It holds the one instance of the
// process: every CreateInstance hands out that instance, and the instance is
// torn down only with the class object, when the module is unloaded.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "mouse_key_hook_ctl.h"

namespace tessik {

class ClassFactory final : public IClassFactory {
 public:
  // With a reference count of 1 (the module's); null when out of memory.
  static IClassFactory* Create() noexcept;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override;
  // While anybody besides the module holds the class object (count 2 or
  // more), that counts as one module lock.
  STDMETHODIMP_(ULONG) AddRef() noexcept override;
  STDMETHODIMP_(ULONG) Release() noexcept override;

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) noexcept override;
  STDMETHODIMP LockServer(BOOL lock) noexcept override;

 private:
  ClassFactory() noexcept = default;
  ~ClassFactory();

  SRWLOCK ref_lock_ = SRWLOCK_INIT;
  ULONG refs_ = 1;
  MouseKeyHookCtl instance_;
};

}  // namespace tessik
