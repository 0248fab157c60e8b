// Tessik.dll through the real COM runtime: created by ProgID from its
// registration, its type library read back from the registry, its exports
// called directly.
#include <windows.h>
#include <olectl.h>

#include <gtest/gtest.h>

#include <string>

#include "tessik.h"
#include "win32/com_ptr.h"
#include "win32/unique_any.h"

namespace {

using win32::com_ptr;

constexpr HRESULT kNotRunning = static_cast<HRESULT>(0x80042710);

std::wstring TessikPath() {
  wchar_t exe[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring path = exe;
  return path.substr(0, path.find_last_of(L'\\') + 1) + L"Tessik.dll";
}

class ComRuntimeTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)); }
  void TearDown() override { CoUninitialize(); }

  com_ptr<IMouseKeyHookCtl> Create(const wchar_t* progid) {
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(progid, &clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, CLSID_MouseKeyHookCtl));
    com_ptr<IMouseKeyHookCtl> hook;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMouseKeyHookCtl, hook.put_void()), S_OK);
    return hook;
  }
};

// An outer object for the aggregation request; never actually aggregates.
class Outer final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** object) noexcept override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
  STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
};

// A sink that answers only IUnknown and IDispatch, not the event interface.
class PlainSink final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID iid, void** object) noexcept override {
    *object = IsEqualIID(iid, IID_IUnknown) ? this : nullptr;
    return *object ? S_OK : E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() noexcept override { return 2; }
  STDMETHODIMP_(ULONG) Release() noexcept override { return 1; }
};

// --- Creation ----------------------------------------------------------------

TEST_F(ComRuntimeTest, EveryCreationByProgIdInOneProcessGivesTheSameObject) {
  com_ptr<IMouseKeyHookCtl> first = Create(L"Hooks.MouseKeyboard");
  com_ptr<IMouseKeyHookCtl> second = Create(L"Hooks.MouseKeyboard.1");
  ASSERT_TRUE(first && second);
  com_ptr<IUnknown> a, b;
  ASSERT_EQ(first->QueryInterface(IID_IUnknown, a.put_void()), S_OK);
  ASSERT_EQ(second->QueryInterface(IID_IUnknown, b.put_void()), S_OK);
  EXPECT_EQ(a.get(), b.get());
}

TEST_F(ComRuntimeTest, AggregationIsRefused) {
  Outer outer;
  com_ptr<IUnknown> object;
  EXPECT_EQ(CoCreateInstance(CLSID_MouseKeyHookCtl, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, object.put_void()),
            CLASS_E_NOAGGREGATION);
  EXPECT_FALSE(object);

  com_ptr<IClassFactory> factory;
  ASSERT_EQ(CoGetClassObject(CLSID_MouseKeyHookCtl, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                             factory.put_void()),
            S_OK);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, nullptr), E_POINTER);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
  EXPECT_EQ(out, nullptr);
}

class ExportsTest : public ComRuntimeTest {
 protected:
  void SetUp() override {
    ComRuntimeTest::SetUp();
    module_.reset(LoadLibraryW(TessikPath().c_str()));
    ASSERT_TRUE(module_);
    get_class_object_ = reinterpret_cast<decltype(get_class_object_)>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_.get(), "DllGetClassObject")));
    can_unload_now_ = reinterpret_cast<decltype(can_unload_now_)>(
        reinterpret_cast<void (*)()>(GetProcAddress(module_.get(), "DllCanUnloadNow")));
    ASSERT_TRUE(get_class_object_ && can_unload_now_);
  }
  void TearDown() override {
    module_.reset();
    ComRuntimeTest::TearDown();
  }

  win32::unique_hmodule module_;
  HRESULT(STDAPICALLTYPE* get_class_object_)(REFCLSID, REFIID, void**) = nullptr;
  HRESULT(STDAPICALLTYPE* can_unload_now_)() = nullptr;
};

TEST_F(ExportsTest, DllGetClassObjectChecksItsArguments) {
  EXPECT_EQ(get_class_object_(CLSID_MouseKeyHookCtl, IID_IClassFactory, nullptr), E_POINTER);
  void* out = reinterpret_cast<void*>(1);
  EXPECT_EQ(get_class_object_(CLSID_StdFont, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  out = reinterpret_cast<void*>(1);
  EXPECT_EQ(get_class_object_(IID_IMouseKeyHookCtl, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(out, nullptr);
  com_ptr<IClassFactory> a, b;
  ASSERT_EQ(get_class_object_(CLSID_MouseKeyHookCtl, IID_IClassFactory, a.put_void()), S_OK);
  ASSERT_EQ(get_class_object_(CLSID_MouseKeyHookCtl, IID_IUnknown, b.put_void()), S_OK);
  EXPECT_EQ(static_cast<IUnknown*>(a.get()), static_cast<IUnknown*>(b.get()));
}

TEST_F(ExportsTest, DllCanUnloadNowFollowsTheLockCount) {
  ASSERT_EQ(can_unload_now_(), S_OK);
  com_ptr<IClassFactory> factory;
  ASSERT_EQ(get_class_object_(CLSID_MouseKeyHookCtl, IID_IClassFactory, factory.put_void()), S_OK);
  EXPECT_EQ(can_unload_now_(), S_FALSE);  // a holder of the class object
  EXPECT_EQ(factory->LockServer(TRUE), S_OK);
  factory.reset();
  EXPECT_EQ(can_unload_now_(), S_FALSE);  // the server lock
  ASSERT_EQ(get_class_object_(CLSID_MouseKeyHookCtl, IID_IClassFactory, factory.put_void()), S_OK);
  EXPECT_EQ(factory->LockServer(FALSE), S_OK);
  com_ptr<IUnknown> instance;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, instance.put_void()), S_OK);
  factory.reset();
  EXPECT_EQ(can_unload_now_(), S_FALSE);  // a reference to the instance
  instance.reset();
  EXPECT_EQ(can_unload_now_(), S_OK);
}

// --- IDispatch and the type library ------------------------------------------

TEST_F(ComRuntimeTest, DispatchGoesThroughTheRegisteredTypeLibrary) {
  com_ptr<IMouseKeyHookCtl> hook = Create(L"Hooks.MouseKeyboard");
  ASSERT_TRUE(hook);
  UINT count = 0;
  ASSERT_EQ(hook->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 1u);
  for (LCID lcid : {LCID{0}, LCID{0x0400}, LCID{0x0409}}) {
    wchar_t name[] = L"MonitoredAppPath";
    LPOLESTR names[] = {name};
    DISPID id = 0;
    EXPECT_EQ(hook->GetIDsOfNames(IID_NULL, names, 1, lcid, &id), S_OK) << "lcid " << lcid;
    EXPECT_EQ(id, DISPID_MONITOREDAPPPATH);
  }
  wchar_t unknown[] = L"NoSuchMember";
  LPOLESTR names[] = {unknown};
  DISPID id = 0;
  EXPECT_EQ(hook->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
  com_ptr<ITypeInfo> info;
  EXPECT_EQ(hook->GetTypeInfo(1, 0, info.put()), DISP_E_BADINDEX);
  ASSERT_EQ(hook->GetTypeInfo(0, 0, info.put()), S_OK);
  TYPEATTR* attr = nullptr;
  ASSERT_EQ(info->GetTypeAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, IID_IMouseKeyHookCtl));
  info->ReleaseTypeAttr(attr);
}

TEST_F(ComRuntimeTest, PropertyByDispatchId) {
  com_ptr<IMouseKeyHookCtl> hook = Create(L"Hooks.MouseKeyboard");
  ASSERT_TRUE(hook);
  VARIANT arg;
  VariantInit(&arg);
  V_VT(&arg) = VT_BSTR;
  V_BSTR(&arg) = SysAllocString(L"");
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS params{&arg, &put, 1, 1};
  EXPECT_EQ(hook->Invoke(DISPID_MONITOREDAPPPATH, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr,
                         nullptr),
            S_OK);
  VariantClear(&arg);

  VARIANT result;
  VariantInit(&result);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  ASSERT_EQ(hook->Invoke(DISPID_MONITOREDAPPPATH, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                         nullptr),
            S_OK);
  ASSERT_EQ(V_VT(&result), VT_BSTR);
  EXPECT_EQ(SysStringLen(V_BSTR(&result)), 0u);
  VariantClear(&result);
  EXPECT_EQ(hook->Invoke(DISPID_MONITOREDAPPPATH, IID_IDispatch, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr,
                         nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST_F(ComRuntimeTest, RegisteredTypeLibraryCarriesTheIdentities) {
  com_ptr<ITypeLib> library;
  ASSERT_EQ(LoadRegTypeLib(LIBID_TESSIKLib, 1, 0, 0x0409, library.put()), S_OK);
  TLIBATTR* attr = nullptr;
  ASSERT_EQ(library->GetLibAttr(&attr), S_OK);
  EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_TESSIKLib));
  EXPECT_EQ(attr->wMajorVerNum, 1);
  EXPECT_EQ(attr->wMinorVerNum, 0);
  EXPECT_EQ(attr->lcid, 0x0409u);
  EXPECT_EQ(attr->syskind, sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
  library->ReleaseTLibAttr(attr);

  auto doc = [&](int index) {
    win32::unique_bstr name, help;
    EXPECT_EQ(library->GetDocumentation(index, name.put(), help.put(), nullptr, nullptr), S_OK);
    return std::wstring(name.get() ? name.get() : L"") + L"|" + (help.get() ? help.get() : L"");
  };
  EXPECT_EQ(doc(-1), L"TESSIKLib|Tessik 1.0 Type Library");

  com_ptr<ITypeInfo> coclass;
  ASSERT_EQ(library->GetTypeInfoOfGuid(CLSID_MouseKeyHookCtl, coclass.put()), S_OK);
  win32::unique_bstr help;
  ASSERT_EQ(coclass->GetDocumentation(MEMBERID_NIL, nullptr, help.put(), nullptr, nullptr), S_OK);
  EXPECT_STREQ(help.get(), L"Mouse Keyboard Hook Control");
  TYPEATTR* type = nullptr;
  ASSERT_EQ(coclass->GetTypeAttr(&type), S_OK);
  EXPECT_EQ(type->cImplTypes, 2);
  EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FCANCREATE);
  coclass->ReleaseTypeAttr(type);
  int flags = 0;
  ASSERT_EQ(coclass->GetImplTypeFlags(1, &flags), S_OK);
  EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT | IMPLTYPEFLAG_FSOURCE);
  HREFTYPE ref = 0;
  ASSERT_EQ(coclass->GetRefTypeOfImplType(1, &ref), S_OK);
  com_ptr<ITypeInfo> events;
  ASSERT_EQ(coclass->GetRefTypeInfo(ref, events.put()), S_OK);
  ASSERT_EQ(events->GetTypeAttr(&type), S_OK);
  EXPECT_TRUE(IsEqualGUID(type->guid, DIID__IMouseKeyHookCtlEvents));
  EXPECT_EQ(type->typekind, TKIND_DISPATCH);
  events->ReleaseTypeAttr(type);

  // Event names, DISPIDs and parameter names as the sinks see them.
  BSTR names[4] = {};
  UINT got = 0;
  ASSERT_EQ(events->GetNames(DISPID_KEYEVENT, names, 4, &got), S_OK);
  std::wstring joined;
  for (UINT i = 0; i < got; ++i) {
    joined += std::wstring(names[i]) + L" ";
    SysFreeString(names[i]);
  }
  EXPECT_EQ(joined, L"KeyEvent lKeyCode bPressed ");
  ASSERT_EQ(events->GetNames(DISPID_MOUSEEVENT, names, 4, &got), S_OK);
  joined.clear();
  for (UINT i = 0; i < got; ++i) {
    joined += std::wstring(names[i]) + L" ";
    SysFreeString(names[i]);
  }
  EXPECT_EQ(joined, L"MouseEvent lEventCode lX lY ");
}

// --- Errors and connections -------------------------------------------------------

TEST_F(ComRuntimeTest, NotRunningErrorCarriesTheModulesDescriptionAndTheProgId) {
  com_ptr<IMouseKeyHookCtl> hook = Create(L"Hooks.MouseKeyboard");
  ASSERT_TRUE(hook);
  com_ptr<ISupportErrorInfo> support;
  ASSERT_EQ(hook.query(support), S_OK);
  EXPECT_EQ(support->InterfaceSupportsErrorInfo(IID_IMouseKeyHookCtl), S_OK);

  win32::unique_bstr path(SysAllocString(L"C:\\no such folder\\nothing.exe"));
  EXPECT_EQ(hook->put_MonitoredAppPath(path.get()), kNotRunning);
  com_ptr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  win32::unique_bstr description, source;
  ASSERT_EQ(info->GetDescription(description.put()), S_OK);
  ASSERT_EQ(info->GetSource(source.put()), S_OK);
  EXPECT_STREQ(description.get(), L"The application you specified is not running");
  EXPECT_STREQ(source.get(), L"Hooks.MouseKeyboard.1");
  EXPECT_EQ(hook->put_MonitoredAppPath(nullptr), E_INVALIDARG);
}

TEST_F(ComRuntimeTest, ConnectionPointRefusesWhatItCannotServe) {
  com_ptr<IMouseKeyHookCtl> hook = Create(L"Hooks.MouseKeyboard");
  ASSERT_TRUE(hook);
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(hook.query(container), S_OK);
  com_ptr<IConnectionPoint> point;
  EXPECT_EQ(container->FindConnectionPoint(IID_IPropertyNotifySink, point.put()), CONNECT_E_NOCONNECTION);
  ASSERT_EQ(container->FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point.put()), S_OK);
  PlainSink plain;
  DWORD cookie = 7;
  EXPECT_EQ(point->Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point->Unadvise(0x1234), CONNECT_E_NOCONNECTION);
}

}  // namespace
