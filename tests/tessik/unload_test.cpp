// Unloading Tessik.dll tears the one instance down: sinks still connected
// are released. The module is loaded here alone, never through COM, so that
// FreeLibrary really unloads it.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <string>

#include "com/recording_sink_test.h"
#include "tessik.h"
#include "win32/com_ptr.h"

namespace {

std::wstring TessikPath() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path = exe;
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"Tessik.dll";
}

using tessik::testing::RecordingSink;

TEST(Unload, ReleasingEveryReferenceKeepsTheSinksAndUnloadingReleasesThem) {
  ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
  const std::wstring path = TessikPath();
  HMODULE module = LoadLibraryW(path.c_str());
  ASSERT_NE(module, nullptr);
  using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
  using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();
  auto get_class_object = reinterpret_cast<GetClassObjectFn>(
      reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
  auto can_unload_now =
      reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void (*)()>(GetProcAddress(module, "DllCanUnloadNow")));
  ASSERT_TRUE(get_class_object && can_unload_now);

  RecordingSink first, second;
  {
    win32::com_ptr<IClassFactory> factory;
    ASSERT_EQ(get_class_object(CLSID_MouseKeyHookCtl, IID_IClassFactory, factory.put_void()), S_OK);
    win32::com_ptr<IConnectionPointContainer> container;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IConnectionPointContainer, container.put_void()), S_OK);
    win32::com_ptr<IConnectionPoint> point;
    ASSERT_EQ(container->FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&first, &cookie), S_OK);
    ASSERT_EQ(point->Advise(&second, &cookie), S_OK);
  }
  // No references left: the module may go, but the sinks stay connected.
  EXPECT_EQ(can_unload_now(), S_OK);
  EXPECT_EQ(first.refs(), 2);
  EXPECT_EQ(second.refs(), 2);

  ASSERT_TRUE(FreeLibrary(module));
  ASSERT_EQ(GetModuleHandleW(path.c_str()), nullptr) << "the module is still loaded";
  EXPECT_EQ(first.refs(), 1);
  EXPECT_EQ(second.refs(), 1);
  CoUninitialize();
}

}  // namespace
