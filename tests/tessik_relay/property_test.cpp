// MonitoredAppPath through the COM runtime against real processes: what a
// set finds, and what the getter then tells.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "relay/hooks.h"
#include "tessik.h"
#include "win32/com_ptr.h"
#include "win32/unique_any.h"

namespace {

constexpr HRESULT kNotRunning = static_cast<HRESULT>(0x80042710);

std::wstring TargetPath() {
  wchar_t path[MAX_PATH] = L"";
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring dir(path);
  return dir.substr(0, dir.find_last_of(L'\\')) + L"\\tessik_target.exe";
}

class Target {
 public:
  explicit Target(const std::wstring& options) {
    const std::wstring event_name = L"tessik-property-ready-" + std::to_wstring(GetCurrentProcessId());
    const win32::unique_handle ready(CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
    std::wstring command = L"\"" + TargetPath() + L"\" " + options + L" --ready " + event_name;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(TargetPath().c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &info)) {
      const DWORD error = GetLastError();
      ADD_FAILURE() << "CreateProcessW of the target failed with error " << error;
      return;
    }
    process_.reset(info.hProcess);
    const win32::unique_handle thread(info.hThread);
    started_ = WaitForSingleObject(ready.get(), 15000) == WAIT_OBJECT_0;
  }
  ~Target() {
    if (process_) {
      TerminateProcess(process_.get(), 0);
      WaitForSingleObject(process_.get(), 5000);
    }
  }
  bool started() const { return started_; }
  LONG id() const { return process_ ? static_cast<LONG>(GetProcessId(process_.get())) : 0; }

 private:
  win32::unique_handle process_;
  bool started_ = false;
};

class PropertyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_HRESULT_SUCCEEDED(CoInitialize(nullptr));
    CLSID clsid;
    ASSERT_EQ(CLSIDFromProgID(L"Hooks.MouseKeyboard", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMouseKeyHookCtl, hook_.put_void()), S_OK);
  }
  void TearDown() override {
    // Wine keeps hooks whose owner has ended: leave none behind.
    if (hook_) {
      const win32::unique_bstr empty(SysAllocString(L""));
      hook_->put_MonitoredAppPath(empty.get());
    }
    hook_.reset();
    CoUninitialize();
  }
  HRESULT Set(const std::wstring& path) {
    const win32::unique_bstr value(SysAllocStringLen(path.data(), static_cast<UINT>(path.size())));
    return hook_->put_MonitoredAppPath(value.get());
  }
  // What GetCoverage tells: processes, of them hooked, threads, of them hooked.
  std::vector<LONG> Coverage() {
    win32::com_ptr<IMouseKeyHookCoverage> coverage;
    EXPECT_EQ(hook_.query(IID_IMouseKeyHookCoverage, coverage.put_void()), S_OK);
    std::vector<LONG> counts(4, -1);
    if (coverage) {
      EXPECT_EQ(coverage->GetCoverage(&counts[0], &counts[1], &counts[2], &counts[3]), S_OK);
    }
    return counts;
  }
  std::wstring Get() {
    win32::unique_bstr value;
    EXPECT_EQ(hook_->get_MonitoredAppPath(value.put()), S_OK);
    return value ? std::wstring(value.get(), SysStringLen(value.get())) : L"<null>";
  }
  win32::com_ptr<IMouseKeyHookCtl> hook_;
};

TEST_F(PropertyTest, AFoundProgramIsWatchedAndTheGetterTellsItsPath) {
  Target target(L"");
  ASSERT_TRUE(target.started());
  std::wstring upper = TargetPath();
  CharUpperW(&upper[0]);
  EXPECT_EQ(Set(upper), S_OK);
  EXPECT_EQ(Get(), upper);
  EXPECT_EQ(Coverage(), (std::vector<LONG>{1, 1, 1, 1}));
  EXPECT_EQ(Set(TargetPath()), S_OK);
  EXPECT_EQ(Get(), TargetPath());

  EXPECT_EQ(hook_->put_MonitoredAppPath(nullptr), E_INVALIDARG);
  EXPECT_EQ(Get(), TargetPath());

  EXPECT_EQ(Set(L""), S_OK);
  EXPECT_EQ(Get(), L"");
  EXPECT_EQ(Coverage(), (std::vector<LONG>{0, 0, 0, 0}));
}

TEST_F(PropertyTest, ANotRunningSetEndsTheWatchAndEmptiesThePath) {
  Target target(L"");
  ASSERT_TRUE(target.started());
  ASSERT_EQ(Set(TargetPath()), S_OK);
  EXPECT_EQ(Set(TargetPath() + L".old"), kNotRunning);
  EXPECT_EQ(Get(), L"");
  EXPECT_EQ(Coverage(), (std::vector<LONG>{0, 0, 0, 0}));
}

TEST_F(PropertyTest, PathsThatNameNoRunnableProgramAreNotRunning) {
  Target target(L"");
  ASSERT_TRUE(target.started());
  // Longer than the 259 characters a path can have, though it begins with the target's.
  EXPECT_EQ(Set(TargetPath() + std::wstring(300, L'x')), kNotRunning);
  // A null character inside: the part before it must not be taken for the whole.
  EXPECT_EQ(Set(TargetPath() + std::wstring(1, L'\0') + L"x"), kNotRunning);
  EXPECT_EQ(Get(), L"");
}

// A copy without a window (as a console program) is found but cannot be
// hooked: the coverage tells it, alone or beside a copy that is watched.
TEST_F(PropertyTest, AProgramWithoutAWindowIsNotRunningButAHiddenWindowIsWatched) {
  Target windowless(L"--no-window");
  ASSERT_TRUE(windowless.started());
  EXPECT_EQ(Set(TargetPath()), kNotRunning);
  EXPECT_EQ(Coverage(), (std::vector<LONG>{1, 0, 0, 0}));
  Target hidden(L"--hidden");
  ASSERT_TRUE(hidden.started());
  EXPECT_EQ(Set(TargetPath()), S_OK);
  EXPECT_EQ(Get(), TargetPath());
  EXPECT_EQ(Coverage(), (std::vector<LONG>{2, 1, 1, 1}));
  // Which: input elsewhere is left to the input check.
  win32::com_ptr<IMouseKeyHookThreads> hooked;
  ASSERT_EQ(hook_.query(IID_IMouseKeyHookThreads, hooked.put_void()), S_OK);
  LONG threads[2] = {}, owners[2] = {}, count = 0;
  EXPECT_EQ(hooked->GetHookedThreads(2, threads, owners, &count), S_OK);
  ASSERT_EQ(count, 1);
  EXPECT_EQ(owners[0], hidden.id());
  EXPECT_NE(threads[0], 0);
  EXPECT_EQ(hooked->GetHookedThreads(0, nullptr, nullptr, &count), S_FALSE) << "no room tells how many";
  EXPECT_EQ(count, 1);
}

// A relay block that someone else made first carries nothing: the set
// behaves as any failed installation, and the path reads back empty.
TEST_F(PropertyTest, ARelayBlockMadeFirstByAnotherOwnerLeavesTheSetWatchingNothing) {
  Target target(L"");
  ASSERT_TRUE(target.started());
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"O:SYD:P(A;;GA;;;WD)", SDDL_REVISION_1,
                                                                   &descriptor, nullptr));
  const win32::unique_hlocal owner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  win32::unique_handle squatter(
      CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, 4, tessik::kRelayBlockName));
  ASSERT_TRUE(squatter);
  ASSERT_NE(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS)) << "another relay is running";
  EXPECT_EQ(Set(TargetPath()), S_OK);
  EXPECT_EQ(Get(), L"");
  EXPECT_EQ(Coverage(), (std::vector<LONG>{1, 0, 1, 0})) << "found, and not hooked";
  squatter.reset();
  EXPECT_EQ(Set(TargetPath()), S_OK);
  EXPECT_EQ(Get(), TargetPath());
}

}  // namespace
