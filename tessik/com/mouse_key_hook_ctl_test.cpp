// The instance used directly, in process: interfaces, connection point and
// event delivery, and the property's checks. Creation, registration and
// IDispatch through the type library are tested on the real DLL (tests/).
#include "com/mouse_key_hook_ctl.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "com/error_info.h"
#include "com/module.h"
#include "com/recording_sink_test.h"
#include "win32/com_ptr.h"
#include "win32/unique_any.h"

namespace tessik {
namespace {

using win32::com_ptr;

using testing::RecordingSink;
using testing::SinkCall;

DWORD CookieOf(RecordingSink& sink) {
  return static_cast<DWORD>(reinterpret_cast<UINT_PTR>(static_cast<IDispatch*>(&sink)));
}

class MouseKeyHookCtlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    ASSERT_EQ(ctl_.FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point_.put()), S_OK);
  }
  void TearDown() override {
    for (const SinkCall& c : log_) EXPECT_TRUE(c.as_raised) << "event " << c.dispid;
    point_.reset();
    CoUninitialize();
  }

  DWORD Connect(RecordingSink& sink) {
    DWORD cookie = 0;
    EXPECT_EQ(point_->Advise(&sink, &cookie), S_OK);
    return cookie;
  }

  std::vector<int> Receivers() const {
    std::vector<int> out;
    for (const SinkCall& c : log_) out.push_back(c.sink);
    return out;
  }

  std::vector<SinkCall> log_;
  // Declared before the instance, so that they outlive its connection list.
  RecordingSink one{1, &log_}, two{2, &log_}, three{3, &log_}, four{4, &log_};
  MouseKeyHookCtl ctl_;
  com_ptr<IConnectionPoint> point_;
};

// --- Identity and lifetime ---------------------------------------------------

TEST_F(MouseKeyHookCtlTest, AnswersExactlyItsInterfacesWithOneIdentity) {
  com_ptr<IUnknown> unknown;
  com_ptr<IDispatch> dispatch;
  com_ptr<IMouseKeyHookCtl> control;
  ASSERT_EQ(ctl_.QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
  ASSERT_EQ(ctl_.QueryInterface(IID_IDispatch, dispatch.put_void()), S_OK);
  ASSERT_EQ(ctl_.QueryInterface(IID_IMouseKeyHookCtl, control.put_void()), S_OK);
  EXPECT_EQ(unknown.get(), static_cast<IUnknown*>(control.get()));
  EXPECT_EQ(static_cast<IUnknown*>(dispatch.get()), unknown.get());
  EXPECT_EQ(ctl_.Identity(), unknown.get());

  com_ptr<ISupportErrorInfo> errors;
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(ctl_.QueryInterface(IID_ISupportErrorInfo, errors.put_void()), S_OK);
  ASSERT_EQ(ctl_.QueryInterface(IID_IConnectionPointContainer, container.put_void()), S_OK);
  com_ptr<IUnknown> back;
  ASSERT_EQ(errors->QueryInterface(IID_IUnknown, back.put_void()), S_OK);
  EXPECT_EQ(back.get(), unknown.get());
  com_ptr<IMouseKeyHookCoverage> coverage;
  ASSERT_EQ(ctl_.QueryInterface(IID_IMouseKeyHookCoverage, coverage.put_void()), S_OK);
  ASSERT_EQ(coverage->QueryInterface(IID_IUnknown, back.put_void()), S_OK);
  EXPECT_EQ(back.get(), unknown.get());
  com_ptr<IMouseKeyHookThreads> threads;
  ASSERT_EQ(ctl_.QueryInterface(IID_IMouseKeyHookThreads, threads.put_void()), S_OK);
  ASSERT_EQ(threads->QueryInterface(IID_IUnknown, back.put_void()), S_OK);
  EXPECT_EQ(back.get(), unknown.get());

  for (const IID* other : {&IID_IConnectionPoint, &IID_IProvideClassInfo, &IID_IMarshal, &IID_IPersist,
                           &DIID__IMouseKeyHookCtlEvents, &IID_IClassFactory}) {
    void* p = reinterpret_cast<void*>(1);
    EXPECT_EQ(ctl_.QueryInterface(*other, &p), E_NOINTERFACE);
    EXPECT_EQ(p, nullptr);
  }
  EXPECT_EQ(ctl_.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(MouseKeyHookCtlTest, AddRefAndReleaseMoveOnlyTheModuleLockCount) {
  const ULONG base = ModuleLockCount();
  EXPECT_EQ(ctl_.AddRef(), base + 1);
  EXPECT_EQ(ctl_.AddRef(), base + 2);
  EXPECT_EQ(ModuleLockCount(), base + 2);
  EXPECT_EQ(ctl_.Release(), base + 1);
  EXPECT_EQ(ctl_.Release(), base);
  // Releasing below the holders' references does not destroy the instance.
  com_ptr<IConnectionPoint> again;
  EXPECT_EQ(ctl_.FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, again.put()), S_OK);
}

TEST_F(MouseKeyHookCtlTest, ErrorInformationIsSupportedOnlyForTheControlInterface) {
  EXPECT_EQ(ctl_.InterfaceSupportsErrorInfo(IID_IMouseKeyHookCtl), S_OK);
  EXPECT_EQ(ctl_.InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
  EXPECT_EQ(ctl_.InterfaceSupportsErrorInfo(DIID__IMouseKeyHookCtlEvents), S_FALSE);
}

// --- Connection point container ----------------------------------------------

TEST_F(MouseKeyHookCtlTest, OneConnectionPointForTheEventInterface) {
  com_ptr<IConnectionPoint> other;
  EXPECT_EQ(ctl_.FindConnectionPoint(IID_IDispatch, other.put()), CONNECT_E_NOCONNECTION);
  EXPECT_FALSE(other);
  EXPECT_EQ(ctl_.FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, nullptr), E_POINTER);

  IID iid{};
  ASSERT_EQ(point_->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID__IMouseKeyHookCtlEvents));
  com_ptr<IConnectionPointContainer> container;
  ASSERT_EQ(point_->GetConnectionPointContainer(container.put()), S_OK);
  com_ptr<IUnknown> identity;
  ASSERT_EQ(container->QueryInterface(IID_IUnknown, identity.put_void()), S_OK);
  EXPECT_EQ(identity.get(), ctl_.Identity());

  com_ptr<IEnumConnectionPoints> points;
  ASSERT_EQ(ctl_.EnumConnectionPoints(points.put()), S_OK);
  IConnectionPoint* got[2] = {};
  ULONG fetched = 0;
  EXPECT_EQ(points->Next(2, got, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 1u);
  EXPECT_EQ(got[0], point_.get());
  got[0]->Release();
  EXPECT_EQ(points->Reset(), S_OK);
  EXPECT_EQ(points->Skip(2), S_FALSE);
  EXPECT_EQ(points->Next(1, got, nullptr), S_FALSE);
}

// --- Advise and Unadvise --------------------------------------------------------

TEST_F(MouseKeyHookCtlTest, AdviseRejectsNullsAndSinksWithoutTheEventInterface) {
  RecordingSink plain(1, &log_, /*answers_events=*/false);
  DWORD cookie = 99;
  EXPECT_EQ(point_->Advise(&plain, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(plain.refs(), 1);

  cookie = 99;
  EXPECT_EQ(point_->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(cookie, 0u);
  EXPECT_EQ(point_->Advise(&plain, nullptr), E_POINTER);

  // Any other failure of the sink's QueryInterface comes back unchanged.
  plain.query_result = E_UNEXPECTED;
  cookie = 99;
  EXPECT_EQ(point_->Advise(&plain, &cookie), E_UNEXPECTED);
  EXPECT_EQ(cookie, 0u);
}

TEST_F(MouseKeyHookCtlTest, CookieIsTheSinkPointerAndUnadviseReleasesTheSink) {
  RecordingSink sink(1, &log_);
  const DWORD cookie = Connect(sink);
  EXPECT_EQ(cookie, CookieOf(sink));
  EXPECT_EQ(sink.refs(), 2);
  EXPECT_EQ(point_->Unadvise(cookie), S_OK);
  EXPECT_EQ(sink.refs(), 1);
  EXPECT_EQ(point_->Unadvise(cookie), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Unadvise(0), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point_->Unadvise(12345), CONNECT_E_NOCONNECTION);
}

TEST_F(MouseKeyHookCtlTest, EnumConnectionsListsOccupiedSlotsWithTheirCookies) {
  Connect(one);
  const DWORD second = Connect(two);
  Connect(three);
  ASSERT_EQ(point_->Unadvise(second), S_OK);

  com_ptr<IEnumConnections> connections;
  ASSERT_EQ(point_->EnumConnections(connections.put()), S_OK);
  CONNECTDATA data[3] = {};
  ULONG fetched = 0;
  EXPECT_EQ(connections->Next(3, data, &fetched), S_FALSE);
  ASSERT_EQ(fetched, 2u);
  EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(&one));
  EXPECT_EQ(data[0].dwCookie, CookieOf(one));
  EXPECT_EQ(data[1].pUnk, static_cast<IUnknown*>(&three));
  EXPECT_EQ(data[1].dwCookie, CookieOf(three));
  EXPECT_EQ(one.refs(), 4);  // the caller's, the list's, the enumerator's and the one handed out
  data[0].pUnk->Release();
  data[1].pUnk->Release();

  com_ptr<IEnumConnections> clone;
  ASSERT_EQ(connections->Reset(), S_OK);
  ASSERT_EQ(connections->Skip(1), S_OK);
  ASSERT_EQ(connections->Clone(clone.put()), S_OK);
  EXPECT_EQ(clone->Next(1, data, nullptr), S_OK);
  EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(&three));
  data[0].pUnk->Release();
  EXPECT_EQ(connections->Next(2, data, nullptr), E_POINTER);

  clone.reset();
  connections.reset();
  EXPECT_EQ(one.refs(), 2);
  EXPECT_EQ(three.refs(), 2);
}

TEST_F(MouseKeyHookCtlTest, LiveEnumeratorsHoldTheModule) {
  const ULONG base = ModuleLockCount();
  com_ptr<IEnumConnections> connections;
  ASSERT_EQ(point_->EnumConnections(connections.put()), S_OK);
  EXPECT_EQ(ModuleLockCount(), base + 1);
  connections.reset();
  EXPECT_EQ(ModuleLockCount(), base);
}

// --- Event delivery -------------------------------------------------------------

TEST_F(MouseKeyHookCtlTest, EventsCarryTheirArgumentsInReverseOrderAsLongs) {
  Connect(one);
  ctl_.FireKeyEvent(65, 1);
  ctl_.FireMouseEvent(512, 100, 65531);
  ASSERT_EQ(log_.size(), 2u);
  EXPECT_EQ(log_[0].dispid, DISPID_KEYEVENT);
  EXPECT_EQ(log_[0].args, (std::vector<LONG>{65, 1}));
  EXPECT_EQ(log_[1].dispid, DISPID_MOUSEEVENT);
  EXPECT_EQ(log_[1].args, (std::vector<LONG>{512, 100, 65531}));
  EXPECT_EQ(one.refs(), 2);
}

TEST_F(MouseKeyHookCtlTest, EventsGoToSinksInSlotOrderAndAFreedSlotIsReused) {
  Connect(one);
  const DWORD second = Connect(two);
  Connect(three);
  ASSERT_EQ(point_->Unadvise(second), S_OK);
  ctl_.FireKeyEvent(65, 1);
  EXPECT_EQ(Receivers(), (std::vector<int>{1, 3}));

  log_.clear();
  Connect(four);
  ctl_.FireMouseEvent(513, 1, 2);
  EXPECT_EQ(Receivers(), (std::vector<int>{1, 4, 3}));
}

TEST_F(MouseKeyHookCtlTest, NoSinksNoDelivery) {
  ctl_.FireKeyEvent(65, 0);
  RecordingSink sink(1, &log_);
  point_->Unadvise(Connect(sink));
  ctl_.FireKeyEvent(65, 0);
  EXPECT_TRUE(log_.empty());
}

TEST_F(MouseKeyHookCtlTest, AFailingSinkDoesNotStopDelivery) {
  one.invoke_result = E_FAIL;
  Connect(one);
  Connect(two);
  ctl_.FireKeyEvent(13, 1);
  EXPECT_EQ(Receivers(), (std::vector<int>{1, 2}));
}

TEST_F(MouseKeyHookCtlTest, SinkThatDisconnectsItselfInItsHandler) {
  const DWORD cookie = Connect(one);
  one.on_invoke = [&](const SinkCall&) { EXPECT_EQ(point_->Unadvise(cookie), S_OK); };
  // Held directly: the list becomes empty while the sink is being called.
  ctl_.FireKeyEvent(1, 1);
  EXPECT_EQ(one.refs(), 1);

  log_.clear();
  const DWORD again = Connect(one);
  one.on_invoke = [&](const SinkCall&) { EXPECT_EQ(point_->Unadvise(again), S_OK); };
  Connect(two);
  Connect(three);
  ctl_.FireKeyEvent(2, 1);
  EXPECT_EQ(Receivers(), (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(one.refs(), 1);
  log_.clear();
  ctl_.FireKeyEvent(3, 1);
  EXPECT_EQ(Receivers(), (std::vector<int>{2, 3}));
}

TEST_F(MouseKeyHookCtlTest, SinkConnectedDuringDeliveryWaitsForTheNextEvent) {
  one.on_invoke = [&](const SinkCall&) {
    one.on_invoke = nullptr;
    Connect(two);
  };
  Connect(one);
  ctl_.FireKeyEvent(1, 1);
  EXPECT_EQ(Receivers(), (std::vector<int>{1}));
  ctl_.FireKeyEvent(1, 0);
  EXPECT_EQ(Receivers(), (std::vector<int>{1, 1, 2}));
}

TEST(MouseKeyHookCtlTeardown, ReleasesEverySinkStillConnected) {
  RecordingSink one(1), two(2);
  {
    MouseKeyHookCtl ctl;
    com_ptr<IConnectionPoint> point;
    ASSERT_EQ(ctl.FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point.put()), S_OK);
    DWORD cookie = 0;
    ASSERT_EQ(point->Advise(&one, &cookie), S_OK);
    ASSERT_EQ(point->Advise(&two, &cookie), S_OK);
    EXPECT_EQ(one.refs(), 2);
  }
  EXPECT_EQ(one.refs(), 1);
  EXPECT_EQ(two.refs(), 1);
}

// --- The property -----------------------------------------------------------------

std::wstring Path(MouseKeyHookCtl& ctl) {
  win32::unique_bstr value;
  EXPECT_EQ(ctl.get_MonitoredAppPath(value.put()), S_OK);
  return value ? std::wstring(value.get(), SysStringLen(value.get())) : L"<null>";
}

TEST_F(MouseKeyHookCtlTest, PathIsEmptyAtFirstAndTheGetterNeedsAnOutPointer) {
  EXPECT_EQ(Path(ctl_), L"");
  EXPECT_EQ(ctl_.get_MonitoredAppPath(nullptr), E_POINTER);
}

TEST_F(MouseKeyHookCtlTest, NullPathIsInvalidAndEmptyPathWatchesNothing) {
  EXPECT_EQ(ctl_.put_MonitoredAppPath(nullptr), E_INVALIDARG);
  win32::unique_bstr empty(SysAllocString(L""));
  EXPECT_EQ(ctl_.put_MonitoredAppPath(empty.get()), S_OK);
  EXPECT_EQ(Path(ctl_), L"");
  LONG counts[4] = {-1, -1, -1, -1};
  EXPECT_EQ(ctl_.GetCoverage(&counts[0], &counts[1], &counts[2], &counts[3]), S_OK);
  EXPECT_EQ(std::vector<LONG>(counts, counts + 4), std::vector<LONG>(4, 0));
  for (int null_one = 0; null_one < 4; ++null_one) {
    LONG* out[4] = {&counts[0], &counts[1], &counts[2], &counts[3]};
    out[null_one] = nullptr;
    EXPECT_EQ(ctl_.GetCoverage(out[0], out[1], out[2], out[3]), E_POINTER) << null_one;
  }
  LONG threads[1] = {-1}, owners[1] = {-1};
  EXPECT_EQ(ctl_.GetHookedThreads(1, threads, owners, &counts[0]), S_OK);
  EXPECT_EQ(counts[0], 0);
  EXPECT_EQ(ctl_.GetHookedThreads(1, threads, nullptr, &counts[0]), E_POINTER);
  EXPECT_EQ(ctl_.GetHookedThreads(1, threads, owners, nullptr), E_POINTER);
  EXPECT_EQ(ctl_.GetHookedThreads(-1, threads, owners, &counts[0]), E_INVALIDARG);
}

TEST_F(MouseKeyHookCtlTest, PathOfAProgramThatIsNotRunningGivesTheNotRunningError) {
  EXPECT_EQ(kNotRunningError, static_cast<HRESULT>(0x80042710));
  SetErrorInfo(0, nullptr);
  win32::unique_bstr path(SysAllocString(L"C:\\no such dir\\nothing.exe"));
  EXPECT_EQ(ctl_.put_MonitoredAppPath(path.get()), kNotRunningError);
  EXPECT_EQ(Path(ctl_), L"");

  com_ptr<IErrorInfo> info;
  ASSERT_EQ(GetErrorInfo(0, info.put()), S_OK);
  win32::unique_bstr description;
  ASSERT_EQ(info->GetDescription(description.put()), S_OK);
  // This test program has no string table: the fallback text.
  EXPECT_STREQ(description.get(), L"Unknown Error");
  GUID guid{};
  ASSERT_EQ(info->GetGUID(&guid), S_OK);
  EXPECT_TRUE(IsEqualGUID(guid, GUID_NULL));
}

}  // namespace
}  // namespace tessik
