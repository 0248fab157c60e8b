#include "components/hook_client_win32.h"

#include <ocidl.h>

#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "processes/program_path.h"
#include "tessik.h"
#include "win32/connection.h"
#include "win32/qi_table.h"
#include "win32/result.h"
#include "win32/scope_exit.h"
#include "win32/text.h"
#include "win32/token.h"
#include "win32/unique_any.h"

namespace vardex {
namespace {

HRESULT ToInt32(VARIANTARG& in, std::int32_t& out) noexcept {
  VARIANT v;
  ::VariantInit(&v);
  const HRESULT hr = ::VariantChangeType(&v, &in, 0, VT_I4);
  if (FAILED(hr)) return hr;
  out = v.lVal;
  return S_OK;
}

class HookClient final : public HookComponent {
 public:
  HookClient(win32::com_ptr<IMouseKeyHookCtl> control, win32::unique_connection connection,
             win32::com_ptr<ActivitySink> sink)
      : control_(std::move(control)), connection_(std::move(connection)), sink_(std::move(sink)) {
    // An older Tessik has no such interface: then watching at all is all it
    // tells.
    if (FAILED(control_.query(IID_IMouseKeyHookCoverage, coverage_.put_void()))) coverage_.reset();
    if (FAILED(control_.query(IID_IMouseKeyHookThreads, threads_.put_void()))) threads_.reset();
  }
  HookClient(const HookClient&) = delete;
  HookClient& operator=(const HookClient&) = delete;
  // Detached first: no event reaches the form while the connection goes.
  ~HookClient() override { sink_->Detach(); }

  Watching MonitoredAppPath(const std::string& path) override {
    // The component takes the path as a BSTR and keeps it in the ANSI code page.
    const win32::unique_bstr text = win32::ansi_to_bstr(path);
    if (!text) return Watching::kNothing;
    if (FAILED(control_->put_MonitoredAppPath(text.get())) || path.empty()) return Watching::kNothing;
    if (coverage_) {
      LONG processes = 0, processes_hooked = 0, threads = 0, threads_hooked = 0;
      if (FAILED(coverage_->GetCoverage(&processes, &processes_hooked, &threads, &threads_hooked)) ||
          threads_hooked <= 0)
        return Watching::kNothing;
      return processes_hooked >= processes && threads_hooked >= threads ? Watching::kAll : Watching::kPart;
    }
    win32::unique_bstr watched;
    return SUCCEEDED(control_->get_MonitoredAppPath(watched.put())) && ::SysStringLen(watched.get()) != 0
               ? Watching::kAll
               : Watching::kNothing;
  }

  std::optional<std::vector<HookedThread>> HookedThreads() override {
    if (!threads_) return std::nullopt;
    // The component hooks at most 64 threads per set; room for more costs nothing.
    constexpr LONG kRoom = 128;
    LONG thread_ids[kRoom] = {}, process_ids[kRoom] = {}, count = 0;
    if (threads_->GetHookedThreads(kRoom, thread_ids, process_ids, &count) != S_OK || count < 0 || count > kRoom)
      return std::nullopt;
    std::vector<HookedThread> hooked;
    for (LONG i = 0; i < count; ++i) hooked.push_back({thread_ids[i], process_ids[i]});
    return hooked;
  }

 private:
  win32::com_ptr<IMouseKeyHookCtl> control_;
  win32::unique_connection connection_;
  win32::com_ptr<ActivitySink> sink_;
  win32::com_ptr<IMouseKeyHookCoverage> coverage_;  // null for an older Tessik
  win32::com_ptr<IMouseKeyHookThreads> threads_;     // null for an older Tessik
};

// An elevated Vardex finds the component through the merged HKEY_CLASSES_ROOT,
// where the user's own registration (HKCU, no elevation needed to write it)
// comes first: it creates the component only when the registered server is
// Tessik.dll in Vardex's own folder, which only an administrator can write.
bool RegisteredServerIsOurs(REFCLSID clsid) noexcept {
  const win32::unique_process_heap_block elevation = win32::query_process_token(TokenElevation);
  if (elevation && !static_cast<const TOKEN_ELEVATION*>(elevation.get())->TokenIsElevated) return true;
  try {
    wchar_t guid[40] = {};
    if (::StringFromGUID2(clsid, guid, ARRAYSIZE(guid)) == 0) return false;
    const std::wstring key = std::wstring(L"CLSID\\") + guid + L"\\InprocServer32";
    std::wstring registered(32768, L'\0');
    DWORD bytes = static_cast<DWORD>(registered.size() * sizeof(wchar_t));
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, registered.data(), &bytes) !=
        ERROR_SUCCESS)
      return false;
    registered.resize(bytes / sizeof(wchar_t) - 1);
    std::wstring own(32768, L'\0');
    const DWORD length = ::GetModuleFileNameW(nullptr, own.data(), static_cast<DWORD>(own.size()));
    if (length == 0 || length >= own.size()) return false;
    own.resize(length);
    own = own.substr(0, own.find_last_of(L'\\') + 1) + L"Tessik.dll";
    return win32::same_program_path(registered, own);
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

win32::com_ptr<ActivitySink> ActivitySink::Create(ActivityEvents& events) noexcept {
  return win32::com_ptr<ActivitySink>::attach(new (std::nothrow) ActivitySink(events));
}

HRESULT ActivitySink::QueryInterface(REFIID riid, void** out) noexcept {
  static const win32::qi_entry<ActivitySink> table[] = {
      win32::qi_row<ActivitySink, IDispatch>(IID_IUnknown),
      win32::qi_row<ActivitySink, IDispatch>(IID_IDispatch),
      win32::qi_row<ActivitySink, IDispatch>(DIID__IMouseKeyHookCtlEvents),
  };
  return win32::qi_search(this, table, riid, out);
}

ULONG ActivitySink::AddRef() noexcept { return static_cast<ULONG>(::InterlockedIncrement(&refs_)); }

ULONG ActivitySink::Release() noexcept {
  const LONG left = ::InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT ActivitySink::GetTypeInfoCount(UINT* count) noexcept {
  RETURN_HR_IF_NULL(E_POINTER, count);
  *count = 0;
  return S_OK;
}

HRESULT ActivitySink::GetTypeInfo(UINT, LCID, ITypeInfo** info) noexcept {
  RETURN_HR_IF_NULL(E_POINTER, info);
  *info = nullptr;
  return DISP_E_BADINDEX;
}

HRESULT ActivitySink::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) noexcept {
  return DISP_E_UNKNOWNNAME;
}

HRESULT ActivitySink::Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO*, UINT* arg_error) noexcept {
  if (result) ::VariantInit(result);
  RETURN_HR_IF(DISP_E_UNKNOWNINTERFACE, !::IsEqualIID(riid, IID_NULL));
  RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, (flags & DISPATCH_METHOD) == 0);
  RETURN_HR_IF(DISP_E_MEMBERNOTFOUND, id != DISPID_KEYEVENT && id != DISPID_MOUSEEVENT);
  RETURN_HR_IF_NULL(E_INVALIDARG, params);
  RETURN_HR_IF(DISP_E_NONAMEDARGS, params->cNamedArgs != 0);
  const UINT expected = id == DISPID_KEYEVENT ? 2u : 3u;
  RETURN_HR_IF(DISP_E_BADPARAMCOUNT, params->cArgs != expected || !params->rgvarg);

  // The arguments come in reverse order of the declared parameters.
  std::int32_t args[3] = {};
  for (UINT i = 0; i < expected; ++i) {
    const UINT from = expected - 1 - i;
    if (FAILED(ToInt32(params->rgvarg[from], args[i]))) {
      if (arg_error) *arg_error = from;
      return DISP_E_TYPEMISMATCH;
    }
  }
  if (!events_) return S_OK;
  try {
    if (id == DISPID_KEYEVENT)
      events_->oMKHook_KeyEvent(args[0], args[1]);
    else
      events_->oMKHook_MouseEvent(args[0], args[1], args[2]);
  } catch (...) {
    // An exception must not cross into the component.
    win32::report_exception("the hook component's event sink (Invoke)");
    return E_UNEXPECTED;
  }
  return S_OK;
}

namespace {

// Each way out names its step, as the component's own failures do.
HRESULT ConnectHookComponent(const std::wstring& prog_id, ActivityEvents& events,
                             std::unique_ptr<HookComponent>& client) {
  CLSID clsid{};
  RETURN_IF_FAILED_MSG(::CLSIDFromProgID(prog_id.c_str(), &clsid), "hook component: its class from the ProgID");
  RETURN_HR_IF_MSG(E_ACCESSDENIED, !RegisteredServerIsOurs(clsid),
                   "hook component: elevated, and its registered server is not Tessik.dll beside Vardex");
  win32::com_ptr<IMouseKeyHookCtl> control;
  RETURN_IF_FAILED_MSG(
      ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMouseKeyHookCtl, control.put_void()),
      "hook component: creating it");
  win32::com_ptr<IConnectionPointContainer> container;
  RETURN_IF_FAILED_MSG(control.query(IID_IConnectionPointContainer, container.put_void()),
                       "hook component: its connection points");
  win32::com_ptr<IConnectionPoint> point;
  RETURN_IF_FAILED_MSG(container->FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point.put()),
                       "hook component: its event connection point");
  win32::com_ptr<ActivitySink> sink = ActivitySink::Create(events);
  RETURN_HR_IF_MSG(E_OUTOFMEMORY, !sink, "hook component: the event sink");
  auto detach = win32::scope_exit([&sink]() noexcept { sink->Detach(); });
  win32::unique_connection connection;
  RETURN_IF_FAILED_MSG(connection.advise(point.get(), sink.get()), "hook component: connecting the event sink");
  client.reset(new (std::nothrow) HookClient(control, std::move(connection), sink));
  RETURN_HR_IF_MSG(E_OUTOFMEMORY, !client, "hook component: its client");
  detach.release();
  return S_OK;
}

}  // namespace

std::unique_ptr<HookComponent> HookComponentFactoryWin32::Create(ActivityEvents& events) {
  std::unique_ptr<HookComponent> client;
  last_error_ = ConnectHookComponent(prog_id_, events, client);
  return client;
}

}  // namespace vardex
