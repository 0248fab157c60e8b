// The instance's one connection point, for _IMouseKeyHookCtlEvents. A sink's
// cookie is the value of its event interface pointer. Events go to the sinks
// in slot order, synchronously, on the calling thread.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include "com/connection_list.h"
#include "win32/com_ptr.h"

namespace tessik {

class EventSource final : public IConnectionPoint {
 public:
  // `container` owns this object; references to either count on the module.
  explicit EventSource(IConnectionPointContainer& container) noexcept : container_(container) {}
  EventSource(const EventSource&) = delete;
  EventSource& operator=(const EventSource&) = delete;

  STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override;
  STDMETHODIMP_(ULONG) AddRef() noexcept override;
  STDMETHODIMP_(ULONG) Release() noexcept override;

  STDMETHODIMP GetConnectionInterface(IID* iid) noexcept override;
  STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** container) noexcept override;
  STDMETHODIMP Advise(IUnknown* sink, DWORD* cookie) noexcept override;
  STDMETHODIMP Unadvise(DWORD cookie) noexcept override;
  STDMETHODIMP EnumConnections(IEnumConnections** connections) noexcept override;

  // Invokes `dispid` as a method on every connected sink with `args` (in
  // reverse order of the declared parameters). Sinks' results are ignored.
  void Fire(DISPID dispid, VARIANTARG* args, UINT count) noexcept;
  // Lets go of every sink.
  void DisconnectAll() noexcept;

 private:
  IConnectionPointContainer& container_;
  ConnectionList<win32::com_ptr<IDispatch>> sinks_;
};

}  // namespace tessik
