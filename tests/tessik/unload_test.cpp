// Tessik.dll tears the one instance down when it is asked whether it can
// unload while nothing holds it, as the runtime asks before it unloads the
// module, so that nothing of it runs under the loader lock: sinks still
// connected are released, the relay window and its class go, all before the
// unload, and a later load of the module in the same process relays again.
// The module is loaded here alone, never through COM, so that FreeLibrary
// really unloads it.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "com/recording_sink_test.h"
#include "relay/hooks.h"
#include "tessik.h"
#include "win32/com_ptr.h"
#include "win32/unique_any.h"

namespace {

std::wstring TessikPath() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path = exe;
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"Tessik.dll";
}

using tessik::testing::RecordingSink;

// This process's relay window, or null.
HWND OwnRelayWindow() {
  for (HWND window = nullptr; (window = FindWindowExA(nullptr, window, tessik::kRelayWindowClass, nullptr));) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) return window;
  }
  return nullptr;
}

class LoadedTessik {
 public:
  LoadedTessik() : module_(LoadLibraryW(TessikPath().c_str())) {}
  HMODULE get() const { return module_; }
  // A new reference to the one instance, through the class object.
  template <typename Interface>
  HRESULT Create(REFIID iid, win32::com_ptr<Interface>& out) {
    using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    auto get_class_object = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllGetClassObject")));
    if (!get_class_object) return E_FAIL;
    win32::com_ptr<IClassFactory> factory;
    const HRESULT hr = get_class_object(CLSID_MouseKeyHookCtl, IID_IClassFactory, factory.put_void());
    if (FAILED(hr)) return hr;
    return factory->CreateInstance(nullptr, iid, out.put_void());
  }
  HRESULT CanUnloadNow() {
    auto can_unload_now = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_, "DllCanUnloadNow")));
    return can_unload_now ? can_unload_now() : E_FAIL;
  }

 private:
  HMODULE module_;
};

// Watches this very program (it has a visible window), so that a set makes
// the relay window.
HRESULT WatchThisProgram(LoadedTessik& tessik, RecordingSink& sink) {
  win32::com_ptr<IMouseKeyHookCtl> hook;
  HRESULT hr = tessik.Create(IID_IMouseKeyHookCtl, hook);
  if (FAILED(hr)) return hr;
  win32::com_ptr<IConnectionPointContainer> container;
  win32::com_ptr<IConnectionPoint> point;
  DWORD cookie = 0;
  if (FAILED(hr = hook->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
      FAILED(hr = container->FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point.put())) ||
      FAILED(hr = point->Advise(&sink, &cookie)))
    return hr;
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const win32::unique_bstr path(SysAllocString(exe));
  return hook->put_MonitoredAppPath(path.get());
}

TEST(Unload, ReleasingEveryReferenceKeepsTheSinksAndTheUnloadQuestionReleasesThem) {
  ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  const std::wstring path = TessikPath();
  const win32::unique_hwnd shown(CreateWindowExA(0, "STATIC", "Tessik unload test", WS_OVERLAPPED | WS_VISIBLE,
                                                 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(shown);
  auto tessik = std::make_unique<LoadedTessik>();
  const HMODULE module = tessik->get();
  ASSERT_NE(module, nullptr);

  RecordingSink first, second;
  {
    win32::com_ptr<IConnectionPointContainer> container;
    ASSERT_EQ(tessik->Create(IID_IConnectionPointContainer, container), S_OK);
    win32::com_ptr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&first, &cookie), S_OK);
  }
  ASSERT_EQ(WatchThisProgram(*tessik, second), S_OK);
  ASSERT_NE(OwnRelayWindow(), nullptr);
  // No references left: the sinks stay connected, and relay, until the
  // module is asked whether it can go.
  EXPECT_EQ(first.refs(), 2);
  EXPECT_EQ(second.refs(), 2);
  SendMessageA(OwnRelayWindow(), tessik::WM_KEYRELAY, 66, 1);
  EXPECT_FALSE(first.calls.empty()) << "the events flow";
  {
    // Asked on another thread than the relay window's: it cannot go yet.
    HRESULT elsewhere = E_FAIL;
    std::thread([&] { elsewhere = tessik->CanUnloadNow(); }).join();
    EXPECT_EQ(elsewhere, S_FALSE);
    EXPECT_NE(OwnRelayWindow(), nullptr);
  }
  // The teardown is done by the answer, before the unload.
  EXPECT_EQ(tessik->CanUnloadNow(), S_OK);
  EXPECT_EQ(first.refs(), 1);
  EXPECT_EQ(second.refs(), 1);
  EXPECT_EQ(OwnRelayWindow(), nullptr);
  // A class left registered would keep a procedure of the unloaded copy.
  WNDCLASSEXA left{};
  left.cbSize = sizeof(left);
  EXPECT_FALSE(GetClassInfoExA(module, tessik::kRelayWindowClass, &left));

  ASSERT_TRUE(FreeLibrary(module));
  ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "the module is still loaded";

  // Loaded again, the module registers its class afresh and relays.
  tessik = std::make_unique<LoadedTessik>();
  ASSERT_NE(tessik->get(), nullptr);
  RecordingSink again;
  ASSERT_EQ(WatchThisProgram(*tessik, again), S_OK);
  const HWND relay = OwnRelayWindow();
  ASSERT_NE(relay, nullptr);
  SendMessageA(relay, tessik::WM_KEYRELAY, 65, 1);
  ASSERT_EQ(again.calls.size(), 1u);
  EXPECT_EQ(again.calls[0].args, (std::vector<LONG>{65, 1}));
  EXPECT_EQ(tessik->CanUnloadNow(), S_OK);
  EXPECT_EQ(OwnRelayWindow(), nullptr);
  ASSERT_TRUE(FreeLibrary(tessik->get()));
  EXPECT_EQ(again.refs(), 1);
  CoUninitialize();
}

}  // namespace
