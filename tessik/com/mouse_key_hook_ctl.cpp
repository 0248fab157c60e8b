#include "com/mouse_key_hook_ctl.h"

#include <oleauto.h>

#include "com/enumerator.h"
#include "com/error_info.h"
#include "lookup/process_lookup.h"
#include "com/module.h"
#include "win32/qi_table.h"
#include "win32/result.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace tessik {
namespace {

VARIANTARG LongArg(LONG value) noexcept {
  VARIANTARG v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

}  // namespace

MouseKeyHookCtl::MouseKeyHookCtl() noexcept : events_(*this), relay_(*this) {}

MouseKeyHookCtl::~MouseKeyHookCtl() {
  RemoveHooks();
  events_.DisconnectAll();
}

STDMETHODIMP MouseKeyHookCtl::QueryInterface(REFIID iid, void** object) noexcept {
  static const win32::qi_entry<MouseKeyHookCtl> table[] = {
      win32::qi_row<MouseKeyHookCtl, IMouseKeyHookCtl>(IID_IUnknown),
      win32::qi_row<MouseKeyHookCtl, IMouseKeyHookCtl>(IID_IDispatch),
      win32::qi_row<MouseKeyHookCtl, IMouseKeyHookCtl>(IID_IMouseKeyHookCtl),
      win32::qi_row<MouseKeyHookCtl, ISupportErrorInfo>(IID_ISupportErrorInfo),
      win32::qi_row<MouseKeyHookCtl, IConnectionPointContainer>(IID_IConnectionPointContainer),
      win32::qi_row<MouseKeyHookCtl, IMouseKeyHookCoverage>(IID_IMouseKeyHookCoverage),
      win32::qi_row<MouseKeyHookCtl, IMouseKeyHookThreads>(IID_IMouseKeyHookThreads),
  };
  return win32::qi_search(this, table, iid, object);
}

STDMETHODIMP_(ULONG) MouseKeyHookCtl::AddRef() noexcept { return ModuleLock(); }
STDMETHODIMP_(ULONG) MouseKeyHookCtl::Release() noexcept { return ModuleUnlock(); }

STDMETHODIMP MouseKeyHookCtl::GetTypeInfoCount(UINT* count) noexcept {
  if (!count) return E_POINTER;
  *count = 1;
  return S_OK;
}

STDMETHODIMP MouseKeyHookCtl::GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) noexcept {
  if (!info) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  return GetControlTypeInfo(lcid, info);
}

STDMETHODIMP MouseKeyHookCtl::GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* ids) noexcept {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  win32::com_ptr<ITypeInfo> info;
  RETURN_IF_FAILED(GetControlTypeInfo(lcid, info.put()));
  return info->GetIDsOfNames(names, count, ids);
}

STDMETHODIMP MouseKeyHookCtl::Invoke(DISPID dispid, REFIID iid, LCID lcid, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* arg_error) noexcept {
  if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
  win32::com_ptr<ITypeInfo> info;
  RETURN_IF_FAILED(GetControlTypeInfo(lcid, info.put()));
  return info->Invoke(static_cast<IMouseKeyHookCtl*>(this), dispid, flags, params, result, exception, arg_error);
}

STDMETHODIMP MouseKeyHookCtl::get_MonitoredAppPath(BSTR* pVal) noexcept {
  if (!pVal) return E_POINTER;
  *pVal = nullptr;
  win32::unique_bstr value = win32::ansi_to_bstr(path_);
  if (!value) return E_OUTOFMEMORY;
  *pVal = value.release();
  return S_OK;
}

STDMETHODIMP MouseKeyHookCtl::put_MonitoredAppPath(BSTR path) noexcept {
  if (!path) return E_INVALIDARG;
  const UINT length = SysStringLen(path);
  if (length == 0) {
    RemoveHooks();
    return S_OK;
  }
  // A path too long for the buffer, or with a null character inside, names
  // no program that can run.
  char wanted[kPathBufferSize];
  const int bytes = win32::wide_to_ansi({path, length}, wanted, kPathBufferSize - 1);
  if (bytes <= 0 || lstrlenW(path) != static_cast<int>(length)) {
    RemoveHooks();
    return NotRunningError();
  }
  wanted[bytes] = '\0';
  DWORD threads[kMaxHookedThreads];
  DWORD owners[kMaxHookedThreads];
  AppLookup found;
  const DWORD count = FindAppThreads(wanted, threads, kMaxHookedThreads, &found, owners);
  if (count == 0) {
    RemoveHooks();
    // Matching processes without a window (a console program) still show.
    coverage_.processes = static_cast<LONG>(found.processes);
    return NotRunningError();
  }
  // The hooks move to what the lookup found now; threads that stay keep
  // theirs. A failed installation leaves the component watching nothing,
  // and is not reported; one that hooked some of the threads watches those.
  bool hooked[kMaxHookedThreads] = {};
  const DWORD done = relay_.InstallHooks(threads, count, hooked);
  coverage_.processes = static_cast<LONG>(found.processes);
  coverage_.threads = static_cast<LONG>(found.threads_found);
  coverage_.threads_hooked = static_cast<LONG>(done);
  coverage_.processes_hooked = 0;
  coverage_.listed = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (hooked[i]) {
      hooked_threads_[coverage_.listed] = static_cast<LONG>(threads[i]);
      hooked_owners_[coverage_.listed++] = static_cast<LONG>(owners[i]);
    }
    // Each process once, at its first hooked thread.
    bool counted = !hooked[i];
    for (DWORD j = 0; j < i && !counted; ++j) counted = hooked[j] && owners[j] == owners[i];
    if (!counted) ++coverage_.processes_hooked;
  }
  if (done > 0) {
    lstrcpynA(path_, wanted, kPathBufferSize);
  } else {
    path_[0] = '\0';
  }
  return S_OK;
}

void MouseKeyHookCtl::RemoveHooks() noexcept {
  relay_.RemoveHooks();
  ForgetAppLookups();
  path_[0] = '\0';
  coverage_ = Coverage{};
}

STDMETHODIMP MouseKeyHookCtl::GetCoverage(LONG* plProcesses, LONG* plProcessesHooked, LONG* plThreads,
                                          LONG* plThreadsHooked) noexcept {
  if (!plProcesses || !plProcessesHooked || !plThreads || !plThreadsHooked) return E_POINTER;
  *plProcesses = coverage_.processes;
  *plProcessesHooked = coverage_.processes_hooked;
  *plThreads = coverage_.threads;
  *plThreadsHooked = coverage_.threads_hooked;
  return S_OK;
}

STDMETHODIMP MouseKeyHookCtl::GetHookedThreads(LONG lCapacity, LONG* plThreadIds, LONG* plProcessIds,
                                               LONG* plCount) noexcept {
  if (!plCount || (lCapacity > 0 && (!plThreadIds || !plProcessIds))) return E_POINTER;
  if (lCapacity < 0) return E_INVALIDARG;
  *plCount = coverage_.listed;
  const LONG copied = lCapacity < *plCount ? lCapacity : *plCount;
  for (LONG i = 0; i < copied; ++i) {
    plThreadIds[i] = hooked_threads_[i];
    plProcessIds[i] = hooked_owners_[i];
  }
  return copied < *plCount ? S_FALSE : S_OK;
}

STDMETHODIMP MouseKeyHookCtl::InterfaceSupportsErrorInfo(REFIID iid) noexcept {
  return IsEqualIID(iid, IID_IMouseKeyHookCtl) ? S_OK : S_FALSE;
}

STDMETHODIMP MouseKeyHookCtl::EnumConnectionPoints(IEnumConnectionPoints** points) noexcept {
  if (!points) return E_POINTER;
  IConnectionPoint* only = &events_;
  *points = ConnectionPointEnumerator::Create(&only, 1, 0);
  return *points ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP MouseKeyHookCtl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) noexcept {
  if (!point) return E_POINTER;
  *point = nullptr;
  if (!IsEqualIID(iid, DIID__IMouseKeyHookCtlEvents)) return CONNECT_E_NOCONNECTION;
  *point = &events_;
  events_.AddRef();
  return S_OK;
}

void MouseKeyHookCtl::FireKeyEvent(LONG lKeyCode, LONG bPressed) noexcept {
  VARIANTARG args[] = {LongArg(bPressed), LongArg(lKeyCode)};
  events_.Fire(DISPID_KEYEVENT, args, ARRAYSIZE(args));
}

void MouseKeyHookCtl::FireMouseEvent(LONG lEventCode, LONG lX, LONG lY) noexcept {
  VARIANTARG args[] = {LongArg(lY), LongArg(lX), LongArg(lEventCode)};
  events_.Fire(DISPID_MOUSEEVENT, args, ARRAYSIZE(args));
}

}  // namespace tessik
