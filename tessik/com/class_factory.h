// The class object of MouseKeyHookCtl, a static object as the system's own
// servers have: its AddRef and Release only move the module's lock count
// and answer fixed counts. It holds the one instance of the process: every
// CreateInstance hands out that instance, which is made at the first request
// for the class object and torn down when the module is asked whether it can
// unload while nothing holds it.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include "com/mouse_key_hook_ctl.h"

namespace tessik {

class ClassFactory final : public IClassFactory {
 public:
  constexpr ClassFactory() noexcept = default;
  ClassFactory(const ClassFactory&) = delete;
  ClassFactory& operator=(const ClassFactory&) = delete;

  // Makes the instance unless it exists. The caller serializes the calls.
  void MakeInstance() noexcept;
  // Disconnects every outside reference to the instance, then tears it down;
  // false, and nothing done, on another thread than its relay window's.
  bool DestroyInstance() noexcept;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override;
  // A holder of the class object holds the module.
  STDMETHODIMP_(ULONG) AddRef() noexcept override;
  STDMETHODIMP_(ULONG) Release() noexcept override;

  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID iid, void** object) noexcept override;
  STDMETHODIMP LockServer(BOOL lock) noexcept override;

 private:
  // Built in place and destroyed by hand: a static destructor would also run
  // when the process exits, when calling out under the loader lock can hang.
  alignas(MouseKeyHookCtl) unsigned char storage_[sizeof(MouseKeyHookCtl)] = {};
  MouseKeyHookCtl* instance_ = nullptr;
};

}  // namespace tessik
