#include "com/event_source.h"

#include <memory>
#include <new>

#include "com/enumerator.h"
#include "com/module.h"
#include "tessik.h"
#include "win32/qi_table.h"

namespace tessik {
namespace {

// Connection points hand out DWORD cookies: the pointer value, exact on
// 32-bit Windows.
DWORD CookieOf(const IDispatch* sink) noexcept {
  return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(sink));
}

}  // namespace

STDMETHODIMP EventSource::QueryInterface(REFIID iid, void** object) noexcept {
  static const win32::qi_entry<EventSource> table[] = {
      win32::qi_row<EventSource, IConnectionPoint>(IID_IUnknown),
      win32::qi_row<EventSource, IConnectionPoint>(IID_IConnectionPoint),
  };
  return win32::qi_search(this, table, iid, object);
}

STDMETHODIMP_(ULONG) EventSource::AddRef() noexcept { return ModuleLock(); }
STDMETHODIMP_(ULONG) EventSource::Release() noexcept { return ModuleUnlock(); }

STDMETHODIMP EventSource::GetConnectionInterface(IID* iid) noexcept {
  if (!iid) return E_POINTER;
  *iid = DIID__IMouseKeyHookCtlEvents;
  return S_OK;
}

STDMETHODIMP EventSource::GetConnectionPointContainer(IConnectionPointContainer** container) noexcept {
  if (!container) return E_POINTER;
  *container = &container_;
  container_.AddRef();
  return S_OK;
}

STDMETHODIMP EventSource::Advise(IUnknown* sink, DWORD* cookie) noexcept {
  if (cookie) *cookie = 0;
  if (!sink || !cookie) return E_POINTER;
  win32::com_ptr<IDispatch> events;
  const HRESULT hr = sink->QueryInterface(DIID__IMouseKeyHookCtlEvents, events.put_void());
  if (hr == E_NOINTERFACE || (SUCCEEDED(hr) && !events)) return CONNECT_E_CANNOTCONNECT;
  if (FAILED(hr)) return hr;
  const DWORD value = CookieOf(events.get());
  // Where pointers are wider than cookies, two sinks could share one.
  for (std::size_t i = 0; i < sinks_.size(); ++i) {
    const win32::com_ptr<IDispatch> held = sinks_.get(i);
    if (held && held.get() != events.get() && CookieOf(held.get()) == value) return CONNECT_E_ADVISELIMIT;
  }
  if (!sinks_.Add(events)) return CONNECT_E_ADVISELIMIT;
  *cookie = value;
  return S_OK;
}

STDMETHODIMP EventSource::Unadvise(DWORD cookie) noexcept {
  if (cookie == 0) return CONNECT_E_NOCONNECTION;
  win32::com_ptr<IDispatch> removed =
      sinks_.RemoveFirst([cookie](const win32::com_ptr<IDispatch>& s) { return CookieOf(s.get()) == cookie; });
  return removed ? S_OK : CONNECT_E_NOCONNECTION;
}

STDMETHODIMP EventSource::EnumConnections(IEnumConnections** connections) noexcept {
  if (!connections) return E_POINTER;
  *connections = nullptr;
  const std::size_t slots = sinks_.size();
  std::unique_ptr<CONNECTDATA[]> items(new (std::nothrow) CONNECTDATA[slots ? slots : 1]);
  if (!items) return E_OUTOFMEMORY;
  // Only the pointers are copied here: the list keeps its references for as
  // long as the enumerator takes its own.
  ULONG count = 0;
  for (std::size_t i = 0; i < slots; ++i) {
    if (IDispatch* sink = sinks_.get(i).get()) items[count++] = CONNECTDATA{sink, CookieOf(sink)};
  }
  *connections = ConnectionEnumerator::Create(items.get(), count, 0);
  return *connections ? S_OK : E_OUTOFMEMORY;
}

void EventSource::Fire(DISPID dispid, VARIANTARG* args, UINT count) noexcept {
  DISPPARAMS params{args, nullptr, count, 0};
  // A handler may connect or disconnect sinks: the slot count is read once,
  // and each slot is looked at again when its turn comes.
  const std::size_t slots = sinks_.size();
  for (std::size_t i = 0; i < slots; ++i) {
    const win32::com_ptr<IDispatch> sink = sinks_.get(i);
    if (!sink) continue;
    sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
  }
}

void EventSource::DisconnectAll() noexcept { sinks_.Clear(); }

}  // namespace tessik
