// MouseKeyHookCtl, the component's one class. Its single instance per
// process lives inside the class object; AddRef and Release only move the
// module's lock count. Apartment-threaded: no locks of its own.
#pragma once

#include <windows.h>
#include <ocidl.h>

#include "com/event_source.h"
#include "relay/relay.h"
#include "tessik.h"

namespace tessik {

// Paths are ANSI inside, 259 characters and a terminator.
inline constexpr int kPathBufferSize = 260;

class MouseKeyHookCtl final : public IMouseKeyHookCtl,
                              public IMouseKeyHookCoverage,
                              public IMouseKeyHookThreads,
                              public ISupportErrorInfo,
                              public IConnectionPointContainer,
                              public RelayTarget {
 public:
  MouseKeyHookCtl() noexcept;
  ~MouseKeyHookCtl();
  MouseKeyHookCtl(const MouseKeyHookCtl&) = delete;
  MouseKeyHookCtl& operator=(const MouseKeyHookCtl&) = delete;

  // The identity pointer (IUnknown) of the instance.
  IUnknown* Identity() noexcept { return static_cast<IMouseKeyHookCtl*>(this); }
  // Whether the calling thread may tear the instance down (Relay::OnItsThread).
  bool OnItsThread() const noexcept { return relay_.OnItsThread(); }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override;
  STDMETHODIMP_(ULONG) AddRef() noexcept override;
  STDMETHODIMP_(ULONG) Release() noexcept override;

  // IDispatch, through the registered type information
  STDMETHODIMP GetTypeInfoCount(UINT* count) noexcept override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) noexcept override;
  STDMETHODIMP GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) noexcept override;
  STDMETHODIMP Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* arg_error) noexcept override;

  // IMouseKeyHookCtl
  STDMETHODIMP get_MonitoredAppPath(BSTR* pVal) noexcept override;
  STDMETHODIMP put_MonitoredAppPath(BSTR path) noexcept override;

  // IMouseKeyHookCoverage (in-process only, outside the type library)
  STDMETHODIMP GetCoverage(LONG* plProcesses, LONG* plProcessesHooked, LONG* plThreads,
                           LONG* plThreadsHooked) noexcept override;

  // IMouseKeyHookThreads (in-process only, outside the type library)
  STDMETHODIMP GetHookedThreads(LONG lCapacity, LONG* plThreadIds, LONG* plProcessIds,
                                LONG* plCount) noexcept override;

  // ISupportErrorInfo
  STDMETHODIMP InterfaceSupportsErrorInfo(REFIID iid) noexcept override;

  // IConnectionPointContainer
  STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** points) noexcept override;
  STDMETHODIMP FindConnectionPoint(REFIID iid, IConnectionPoint** point) noexcept override;

  // RelayTarget: the events, delivered to every connected sink.
  void FireKeyEvent(LONG lKeyCode, LONG bPressed) noexcept override;
  void FireMouseEvent(LONG lEventCode, LONG lX, LONG lY) noexcept override;

 private:
  // Back to watching nothing.
  void RemoveHooks() noexcept;

  // What the last set found and hooked; all 0 while nothing is watched.
  struct Coverage {
    LONG processes = 0;
    LONG processes_hooked = 0;
    LONG threads = 0;
    LONG threads_hooked = 0;
    LONG listed = 0;  // entries of hooked_threads_ and hooked_owners_
  };
  Coverage coverage_;
  // The threads behind coverage_.threads_hooked, with their processes.
  LONG hooked_threads_[kMaxHookedThreads] = {};
  LONG hooked_owners_[kMaxHookedThreads] = {};

  // The path being watched: set only once the hooks are in place, so that it
  // is empty whenever the component watches nothing.
  char path_[kPathBufferSize] = {};
  EventSource events_;
  Relay relay_;
};

}  // namespace tessik
