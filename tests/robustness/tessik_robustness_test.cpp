// Tessik.dll, registered and created through COM, under misuse and load:
// every method with null or invalid arguments, a thousand connections made
// and broken, a burst of relayed events, and watched programs that end while
// the component looks for them.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "com/recording_sink_test.h"
#include "relay/relay.h"
#include "tessik.h"
#include "win32/com_ptr.h"
#include "win32/unique_any.h"

namespace {

using win32::com_ptr;

constexpr HRESULT kNotRunning = static_cast<HRESULT>(0x80042710);
constexpr wchar_t kProgId[] = L"Hooks.MouseKeyboard";
constexpr wchar_t kRelayClass[] = L"TessikRelayWindow";
constexpr unsigned kStormEvents = 10000;
// Bounds for waiting on other processes; generous for a loaded Wine.
constexpr DWORD kStartMs = 10000;
constexpr DWORD kStormMs = 120000;

std::wstring BesideTheTest(const wchar_t* file) {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path = exe;
  return path.substr(0, path.find_last_of(L'\\') + 1) + file;
}

// A process this test started; ended at the end of the test if still running.
class Child {
 public:
  explicit Child(std::wstring arguments) {
    const std::wstring exe = BesideTheTest(L"robust_helper.exe");
    std::wstring line = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
      const DWORD error = GetLastError();
      ADD_FAILURE() << "CreateProcessW of robust_helper.exe failed with error " << error;
      return;
    }
    process_.reset(info.hProcess);
    win32::unique_handle thread(info.hThread);
    id_ = info.dwProcessId;
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;
  ~Child() {
    if (running()) TerminateProcess(process_.get(), 1);
  }

  bool started() const { return static_cast<bool>(process_); }
  bool running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
  DWORD id() const { return id_; }
  HANDLE handle() const { return process_.get(); }

  // Waits for the end of the process while this thread goes on taking its
  // messages, so that events keep being delivered. Its exit code, or -1.
  long WaitPumping(DWORD timeout_ms) const {
    const DWORD start = GetTickCount();
    HANDLE process = process_.get();
    for (;;) {
      const DWORD left = timeout_ms - (GetTickCount() - start);
      if (GetTickCount() - start >= timeout_ms) return -1;
      const DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, left, QS_ALLINPUT);
      if (woke == WAIT_OBJECT_0) break;
      if (woke != WAIT_OBJECT_0 + 1) return -1;
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return static_cast<long>(code);
  }

 private:
  win32::unique_handle process_;
  DWORD id_ = 0;
};

void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  MSG msg;
  while (GetTickCount() - start < ms) {
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

using tessik::testing::RecordingSink;
using tessik::testing::SinkCall;

// A sink whose QueryInterface fails with something other than "no such interface".
class FailingSink final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** object) noexcept override {
    *object = nullptr;
    return E_OUTOFMEMORY;
  }
  STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
  STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
};

class TessikRobustness : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(kProgId, &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMouseKeyHookCtl, hook_.put_void()), S_OK);
    ASSERT_EQ(hook_.query(container_), S_OK);
    ASSERT_EQ(container_->FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point_.put()), S_OK);
  }
  void TearDown() override {
    // The one instance outlives every test: leave it watching nothing.
    if (hook_) {
      win32::unique_bstr empty(SysAllocString(L""));
      hook_->put_MonitoredAppPath(empty.get());
    }
    point_.reset();
    container_.reset();
    hook_.reset();
    CoUninitialize();
  }

  // The module's lock count, read through the values AddRef and Release return.
  ULONG LockCount() {
    hook_->AddRef();
    return hook_->Release();
  }

  std::vector<DWORD> Cookies() {
    std::vector<DWORD> cookies;
    com_ptr<IEnumConnections> connections;
    if (point_->EnumConnections(connections.put()) != S_OK) return cookies;
    CONNECTDATA data{};
    while (connections->Next(1, &data, nullptr) == S_OK) {
      cookies.push_back(data.dwCookie);
      data.pUnk->Release();
    }
    return cookies;
  }

  HRESULT SetPath(const std::wstring& path) {
    win32::unique_bstr value(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    return hook_->put_MonitoredAppPath(value.get());
  }

  std::wstring GetPath() {
    win32::unique_bstr value;
    EXPECT_EQ(hook_->get_MonitoredAppPath(value.put()), S_OK);
    return value.get() ? std::wstring(value.get(), SysStringLen(value.get())) : L"<null>";
  }

  // Sets the path until the freshly started target is found (its window may
  // take a moment to appear).
  HRESULT WatchWhenReady(const std::wstring& path) {
    HRESULT hr = E_FAIL;
    const DWORD start = GetTickCount();
    while ((hr = SetPath(path)) == kNotRunning && GetTickCount() - start < kStartMs) PumpFor(50);
    return hr;
  }

  static HWND OwnRelayWindow() {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, kRelayClass, nullptr)) != nullptr) {
      DWORD pid = 0;
      GetWindowThreadProcessId(window, &pid);
      if (pid == GetCurrentProcessId()) return window;
    }
    return nullptr;
  }

  com_ptr<IMouseKeyHookCtl> hook_;
  com_ptr<IConnectionPointContainer> container_;
  com_ptr<IConnectionPoint> point_;
};

// --- Misuse: null and invalid arguments ---------------------------------------------

TEST_F(TessikRobustness, DispatchMethodsRejectNullOutPointers) {
  EXPECT_EQ(hook_->GetTypeInfoCount(nullptr), E_POINTER);
  EXPECT_EQ(hook_->GetTypeInfo(0, 0, nullptr), E_POINTER);
  wchar_t name[] = L"MonitoredAppPath";
  LPOLESTR names[] = {name};
  DISPID id = 0;
  EXPECT_EQ(hook_->GetIDsOfNames(IID_IMouseKeyHookCtl, names, 1, 0, &id), DISP_E_UNKNOWNINTERFACE);
  EXPECT_EQ(hook_->QueryInterface(IID_IMouseKeyHookCtl, nullptr), E_POINTER);
}

TEST_F(TessikRobustness, InvokeRejectsWhatThePropertyCannotTake) {
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  VARIANT result;
  VariantInit(&result);
  UINT arg_error = 0;
  EXPECT_EQ(hook_->Invoke(7, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, &arg_error),
            DISP_E_MEMBERNOTFOUND);
  // A put with no value, and one whose named argument is not among its arguments.
  DISPPARAMS no_value{nullptr, nullptr, 0, 0};
  // Which of the two the platform's type information reports is its own choice.
  const HRESULT bare = hook_->Invoke(DISPID_MONITOREDAPPPATH, IID_NULL, 0, DISPATCH_PROPERTYPUT, &no_value, nullptr,
                                     nullptr, &arg_error);
  EXPECT_TRUE(bare == DISP_E_PARAMNOTFOUND || bare == DISP_E_BADPARAMCOUNT) << std::hex << bare;
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS bad_count{nullptr, &put, 0, 1};
  EXPECT_EQ(hook_->Invoke(DISPID_MONITOREDAPPPATH, IID_NULL, 0, DISPATCH_PROPERTYPUT, &bad_count, nullptr, nullptr,
                          &arg_error),
            E_INVALIDARG);
  // A value that cannot become a string.
  VARIANT arg;
  VariantInit(&arg);
  V_VT(&arg) = VT_UNKNOWN;
  V_UNKNOWN(&arg) = nullptr;
  DISPPARAMS object_value{&arg, &put, 1, 1};
  EXPECT_EQ(hook_->Invoke(DISPID_MONITOREDAPPPATH, IID_NULL, 0, DISPATCH_PROPERTYPUT, &object_value, nullptr,
                          nullptr, &arg_error),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(V_VT(&result), VT_EMPTY);
}

TEST_F(TessikRobustness, LateBoundCallerGetsTheNotRunningErrorAsAnException) {
  VARIANT arg;
  VariantInit(&arg);
  V_VT(&arg) = VT_BSTR;
  V_BSTR(&arg) = SysAllocString(L"C:\\no such folder\\nothing.exe");
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &put, 1, 1};
  EXCEPINFO exception{};
  EXPECT_EQ(hook_->Invoke(DISPID_MONITOREDAPPPATH, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, &exception,
                          nullptr),
            DISP_E_EXCEPTION);
  VariantClear(&arg);
  EXPECT_EQ(exception.scode, kNotRunning);
  ASSERT_NE(exception.bstrDescription, nullptr);
  EXPECT_STREQ(exception.bstrDescription, L"The application you specified is not running");
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  SysFreeString(exception.bstrHelpFile);
}

TEST_F(TessikRobustness, ContainerAndConnectionPointRejectNullOutPointers) {
  EXPECT_EQ(container_->EnumConnectionPoints(nullptr), E_POINTER);
  EXPECT_EQ(container_->FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, nullptr), E_POINTER);
  EXPECT_EQ(point_->GetConnectionInterface(nullptr), E_POINTER);
  EXPECT_EQ(point_->GetConnectionPointContainer(nullptr), E_POINTER);
  EXPECT_EQ(point_->EnumConnections(nullptr), E_POINTER);
  EXPECT_EQ(point_->QueryInterface(IID_IConnectionPoint, nullptr), E_POINTER);

  com_ptr<IEnumConnectionPoints> points;
  ASSERT_EQ(container_->EnumConnectionPoints(points.put()), S_OK);
  IConnectionPoint* got[2] = {};
  EXPECT_EQ(points->Next(1, nullptr, nullptr), E_POINTER);
  EXPECT_EQ(points->Next(2, got, nullptr), E_POINTER);
  ULONG fetched = 0;
  ASSERT_EQ(points->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(got[0], point_.get());
  got[0]->Release();
  EXPECT_EQ(points->Skip(1), S_FALSE);
  EXPECT_EQ(points->Clone(nullptr), E_POINTER);
}

TEST_F(TessikRobustness, AdviseAndUnadviseRejectWhatTheyCannotServe) {
  FailingSink failing;
  DWORD cookie = 7;
  EXPECT_EQ(point_->Advise(&failing, &cookie), E_OUTOFMEMORY);
  EXPECT_EQ(cookie, 0u);
  RecordingSink sink;
  cookie = 7;
  EXPECT_EQ(point_->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point_->Advise(&sink, nullptr), E_POINTER);
  EXPECT_EQ(sink.refs(), 1);

  ASSERT_EQ(point_->Advise(&sink, &cookie), S_OK);
  EXPECT_EQ(point_->Unadvise(cookie + 1), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Unadvise(cookie), S_OK);
  EXPECT_EQ(point_->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(sink.refs(), 1);
}

TEST_F(TessikRobustness, ClassObjectRejectsNullsAndForeignInterfaces) {
  com_ptr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_MouseKeyHookCtl, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.put_void()),
            S_OK);
  EXPECT_EQ(factory->QueryInterface(IID_IClassFactory, nullptr), E_POINTER);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->QueryInterface(IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPersist, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);

  const HMODULE module = GetModuleHandleW(L"Tessik.dll");
  ASSERT_NE(module, nullptr);
  auto get_class_object = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  ASSERT_NE(get_class_object, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(get_class_object(CLSID_MouseKeyHookCtl, IID_IDispatch, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(get_class_object(CLSID_NULL, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
}

// --- A thousand connections --------------------------------------------------------

TEST_F(TessikRobustness, ThousandAdviseUnadviseCyclesLeaveLocksAndSlotsAsTheyWere) {
  RecordingSink resident, a, b, c;
  DWORD resident_cookie = 0;
  ASSERT_EQ(point_->Advise(&resident, &resident_cookie), S_OK);
  const ULONG locks = LockCount();
  const std::vector<DWORD> before = Cookies();
  ASSERT_EQ(before, std::vector<DWORD>{resident_cookie});

  for (int i = 0; i < 1000; ++i) {
    DWORD ca = 0, cb = 0, cc = 0;
    ASSERT_EQ(point_->Advise(&a, &ca), S_OK) << "cycle " << i;
    ASSERT_EQ(point_->Advise(&b, &cb), S_OK) << "cycle " << i;
    ASSERT_EQ(point_->Advise(&c, &cc), S_OK) << "cycle " << i;
    // Out of order, so that freed slots are taken in every position.
    ASSERT_EQ(point_->Unadvise(i % 2 ? cb : ca), S_OK) << "cycle " << i;
    ASSERT_EQ(point_->Unadvise(cc), S_OK) << "cycle " << i;
    ASSERT_EQ(point_->Unadvise(i % 2 ? ca : cb), S_OK) << "cycle " << i;
  }

  EXPECT_EQ(LockCount(), locks);
  EXPECT_EQ(Cookies(), before);
  EXPECT_EQ(a.refs(), 1);
  EXPECT_EQ(b.refs(), 1);
  EXPECT_EQ(c.refs(), 1);
  EXPECT_EQ(point_->Unadvise(resident_cookie), S_OK);
  EXPECT_EQ(resident.refs(), 1);
  EXPECT_TRUE(Cookies().empty());
}

TEST_F(TessikRobustness, ModuleCanUnloadOnceEveryReferenceIsReleased) {
  const HMODULE module = GetModuleHandleW(L"Tessik.dll");
  ASSERT_NE(module, nullptr);
  auto can_unload_now = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_NE(can_unload_now, nullptr);
  RecordingSink sink;
  for (int i = 0; i < 1000; ++i) {
    DWORD cookie = 0;
    ASSERT_EQ(point_->Advise(&sink, &cookie), S_OK);
    com_ptr<IEnumConnections> connections;
    ASSERT_EQ(point_->EnumConnections(connections.put()), S_OK);
    ASSERT_EQ(point_->Unadvise(cookie), S_OK);
  }
  EXPECT_EQ(can_unload_now(), S_FALSE);
  point_.reset();
  container_.reset();
  hook_.reset();
  EXPECT_EQ(can_unload_now(), S_OK);
  EXPECT_EQ(sink.refs(), 1);
}

// --- Load: a burst of relayed events ---------------------------------------------

TEST_F(TessikRobustness, BurstOfRelayedEventsArrivesInOrderAndTheReceiverStillAnswers) {
  Child target(L"target --title StormTarget");
  ASSERT_TRUE(target.started());
  ASSERT_EQ(WatchWhenReady(BesideTheTest(L"robust_helper.exe")), S_OK);
  ASSERT_NE(OwnRelayWindow(), nullptr);

  RecordingSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point_->Advise(&sink, &cookie), S_OK);
  // Another process posts the burst and then waits for this thread to answer.
  Child storm(L"storm " + std::to_wstring(GetCurrentProcessId()) + L" " + std::to_wstring(kStormEvents));
  ASSERT_TRUE(storm.started());
  EXPECT_EQ(storm.WaitPumping(kStormMs), 0) << "the poster failed, or this thread did not answer";
  PumpFor(100);
  EXPECT_EQ(point_->Unadvise(cookie), S_OK);

  ASSERT_EQ(sink.calls.size(), kStormEvents);
  for (unsigned i = 0; i < kStormEvents; ++i) {
    const SinkCall& e = sink.calls[i];
    if (i % 2 == 0) {
      ASSERT_EQ(e.dispid, DISPID_KEYEVENT) << "event " << i;
      ASSERT_EQ(e.args, (std::vector<LONG>{static_cast<LONG>(i), static_cast<LONG>((i / 2) % 2)})) << "event " << i;
    } else {
      ASSERT_EQ(e.dispid, DISPID_MOUSEEVENT) << "event " << i;
      ASSERT_EQ(e.args, (std::vector<LONG>{513, static_cast<LONG>(i), static_cast<LONG>(65535 - i)}))
          << "event " << i;
    }
  }
}

// --- Watched programs that end while the component looks for them -------------------

TEST_F(TessikRobustness, ProgramEndingAroundTheLookupNeverBreaksTheNextSet) {
  const std::wstring path = BesideTheTest(L"robust_helper.exe");
  // Targets that end a little later each time, so that the end falls on
  // every step of a set: before the walk, between the walk and the hooks,
  // after the hooks.
  for (int delay = 0; delay <= 100; delay += 20) {
    Child target(L"target --title ShortLived --exit-after " + std::to_wstring(delay));
    ASSERT_TRUE(target.started());
    int sets = 0;
    const DWORD start = GetTickCount();
    while (target.running() && GetTickCount() - start < kStartMs) {
      const HRESULT hr = SetPath(path);
      ASSERT_TRUE(hr == S_OK || hr == kNotRunning) << "delay " << delay << ": 0x" << std::hex << hr;
      ++sets;
    }
    ASSERT_FALSE(target.running()) << "delay " << delay;
    EXPECT_GT(sets, 0);
    EXPECT_EQ(SetPath(path), kNotRunning) << "delay " << delay;
    EXPECT_EQ(GetPath(), L"");
    EXPECT_EQ(OwnRelayWindow(), nullptr) << "delay " << delay;
  }

  Child survivor(L"target --title Survivor");
  ASSERT_TRUE(survivor.started());
  ASSERT_EQ(WatchWhenReady(path), S_OK);
  EXPECT_EQ(_wcsicmp(GetPath().c_str(), path.c_str()), 0);
  const HWND relay = OwnRelayWindow();
  ASSERT_NE(relay, nullptr);
  // The relay window of the recovered set delivers again.
  RecordingSink sink;
  DWORD cookie = 0;
  ASSERT_EQ(point_->Advise(&sink, &cookie), S_OK);
  ASSERT_TRUE(PostMessageW(relay, tessik::WM_KEYRELAY, 65, 1));
  PumpFor(200);
  EXPECT_EQ(point_->Unadvise(cookie), S_OK);
  ASSERT_EQ(sink.calls.size(), 1u);
  EXPECT_EQ(sink.calls[0].args, (std::vector<LONG>{65, 1}));
}

}  // namespace
