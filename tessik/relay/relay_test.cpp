#include "relay/relay.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdio>

#include <memory>
#include <string>
#include <vector>

#include "relay/companion_protocol.h"
#include "win32/result.h"
#include "win32/token.h"

namespace tessik {
namespace {

struct Event {
  LONG code;
  LONG a;
  LONG b;  // -1 for key events
  bool operator==(const Event& o) const { return code == o.code && a == o.a && b == o.b; }
};

std::ostream& operator<<(std::ostream& out, const Event& e) {
  return out << "{" << e.code << ", " << e.a << ", " << e.b << "}";
}

class RecordingTarget : public RelayTarget {
 public:
  void FireKeyEvent(LONG lKeyCode, LONG bPressed) noexcept override { events.push_back({lKeyCode, bPressed, -1}); }
  void FireMouseEvent(LONG lEventCode, LONG lX, LONG lY) noexcept override {
    events.push_back({lEventCode, lX, lY});
  }
  std::vector<Event> events;
};

void PumpMessages() {
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageA(&message);
}

// The relay window's handle as the relay block holds it; null without a block.
HWND PublishedWindow() {
  const win32::unique_handle block(::OpenFileMappingA(FILE_MAP_READ, FALSE, kRelayBlockName));
  if (!block) return nullptr;
  const win32::unique_mapview view(::MapViewOfFile(block.get(), FILE_MAP_READ, 0, 0, sizeof(DWORD)));
  if (!view) return nullptr;
  return reinterpret_cast<HWND>(static_cast<LONG_PTR>(*static_cast<const LONG*>(view.get())));
}

bool BlockExists() { return win32::unique_handle(::OpenFileMappingA(FILE_MAP_READ, FALSE, kRelayBlockName)).operator bool(); }

constexpr DWORD kRelayStyle = 0x80880000;  // WS_POPUP | WS_BORDER | WS_SYSMENU

// The platform adds windows of its own to a thread (input method windows):
// only windows styled as the relay window count.
BOOL CALLBACK CountWindow(HWND window, LPARAM user) noexcept {
  if ((static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE)) & ~WS_CLIPSIBLINGS) == kRelayStyle)
    ++*reinterpret_cast<int*>(user);
  return TRUE;
}

int RelayWindowCount() {
  int count = 0;
  ::EnumThreadWindows(::GetCurrentThreadId(), CountWindow, reinterpret_cast<LPARAM>(&count));
  return count;
}

LRESULT Key(WPARAM key, bool up) {
  // Repeat count 1, scan code 0x1E; bits 30 and 31 set when the key comes up.
  const DWORD flags = 0x001E0001u | (up ? 0xC0000000u : 0u);
  return KeyboardHookProc(HC_ACTION, key, static_cast<LPARAM>(static_cast<LONG>(flags)));
}

LRESULT Mouse(int code, WPARAM message, LONG x, LONG y) {
  MOUSEHOOKSTRUCT record{};
  record.pt = {x, y};
  return MouseHookProc(code, message, reinterpret_cast<LPARAM>(&record));
}

BOOL Install(Relay& relay, DWORD thread_id) { return relay.InstallHooks(&thread_id, 1) != 0; }

// The failure reports made while it lives, read through the observer.
class FailureReports {
 public:
  FailureReports() { previous_ = win32::set_failure_observer(Record); }
  ~FailureReports() {
    win32::set_failure_observer(previous_);
    Reports().clear();
  }
  FailureReports(const FailureReports&) = delete;
  FailureReports& operator=(const FailureReports&) = delete;
  // Takes what was reported so far.
  std::vector<std::string> Take() { return std::move(Reports()); }

 private:
  static std::vector<std::string>& Reports() {
    static std::vector<std::string> reports;
    return reports;
  }
  static void Record(const char* report) noexcept {
    try {
      Reports().emplace_back(report);
    } catch (...) {
    }
  }
  win32::failure_observer previous_ = nullptr;
};

bool AnyReportHas(const std::vector<std::string>& reports, const std::string& file, const std::string& step) {
  for (const std::string& report : reports) {
    if (report.rfind(file + "(", 0) == 0 && report.find(" from " + step) != std::string::npos) return true;
  }
  return false;
}

// Two steps in the same words: `first` chooses which one fails.
HRESULT FailingStep(bool first) noexcept {
  RETURN_HR_IF_MSG(E_FAIL, first, "a step");
  RETURN_HR_IF_MSG(E_FAIL, !first, "a step");
  return S_OK;
}

class RelayTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_FALSE(BlockExists()) << "another relay is running"; }
  void TearDown() override { PumpMessages(); }
  RecordingTarget target_;
};

// ---- the relay window and block ----

TEST_F(RelayTest, InstallingCreatesAHiddenRelayWindowAndPublishesIt) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  const HWND window = PublishedWindow();
  ASSERT_TRUE(::IsWindow(window));
  DWORD process = 0;
  EXPECT_EQ(::GetWindowThreadProcessId(window, &process), ::GetCurrentThreadId());
  EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(window, GWL_STYLE)) & ~WS_CLIPSIBLINGS, kRelayStyle);
  EXPECT_EQ(::GetWindowLongA(window, GWL_EXSTYLE), 0);
  EXPECT_FALSE(::IsWindowVisible(window));
  EXPECT_EQ(::GetWindow(window, GW_OWNER), nullptr);
  EXPECT_EQ(::GetWindowTextLengthA(window), 0);
  EXPECT_EQ(static_cast<UINT>(::GetClassLongA(window, GCL_STYLE)), UINT{CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS});

  relay.RemoveHooks();
  EXPECT_FALSE(::IsWindow(window));
  // The block outlives the window and still names it until the next installation.
  EXPECT_EQ(PublishedWindow(), window);

  // Four bytes in the block, read by 32-bit and 64-bit modules alike: a
  // handle with bit 31 set comes back sign-extended where pointers are wider.
  const LONG high = static_cast<LONG>(0x80001234u);
  EXPECT_EQ(RelayBlockValue(RelayBlockWindow(high)), high);
  EXPECT_EQ(reinterpret_cast<LONG_PTR>(RelayBlockWindow(high)), LONG_PTR{high});
  EXPECT_EQ(RelayBlockValue(RelayBlockWindow(0x1234)), 0x1234);
}

// A set while watching keeps the window, with the relay messages already
// queued for it, and the hooks: nothing is lost and nothing doubled.
TEST_F(RelayTest, ARepeatedInstallationKeepsTheWindowAndItsQueuedMessages) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  const HWND window = PublishedWindow();
  Key('A', false);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  EXPECT_EQ(PublishedWindow(), window);
  EXPECT_EQ(RelayWindowCount(), 1);
  Key('B', false);
  PumpMessages();
  const std::vector<Event> expected = {{'A', 1, -1}, {'B', 1, -1}};
  EXPECT_EQ(target_.events, expected);
  // Another client wrote the block meanwhile: the next set names our window again.
  {
    const win32::unique_handle block(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, kRelayBlockName));
    ASSERT_TRUE(block);
    const win32::unique_mapview view(::MapViewOfFile(block.get(), FILE_MAP_WRITE, 0, 0, kRelayBlockSize));
    ASSERT_TRUE(view);
    *static_cast<volatile LONG*>(view.get()) = 0;
  }
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  EXPECT_EQ(PublishedWindow(), window);
}

TEST_F(RelayTest, AReinstallationPublishesTheNewWindow) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  const HWND first = PublishedWindow();
  relay.RemoveHooks();
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  const HWND second = PublishedWindow();
  EXPECT_TRUE(::IsWindow(second));
  EXPECT_FALSE(::IsWindow(first));
  EXPECT_EQ(RelayWindowCount(), 1);
}

// Address space reserved outside images: every view takes at least a page.
SIZE_T ReservedBytes() {
  SIZE_T total = 0;
  MEMORY_BASIC_INFORMATION info;
  SYSTEM_INFO system{};
  ::GetSystemInfo(&system);
  for (auto address = static_cast<const char*>(system.lpMinimumApplicationAddress);
       ::VirtualQuery(address, &info, sizeof(info)) == sizeof(info) && address + info.RegionSize > address;
       address = static_cast<const char*>(info.BaseAddress) + info.RegionSize) {
    if (info.State != MEM_FREE && info.Type != MEM_IMAGE) total += info.RegionSize;
  }
  return total;
}

TEST_F(RelayTest, ThousandsOfInstallationsReuseOneBlockHandleAndView) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  DWORD handles_before = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &handles_before));
  const SIZE_T reserved_before = ReservedBytes();
  for (int i = 0; i < 2000; ++i) {
    relay.RemoveHooks();
    ASSERT_TRUE(Install(relay, ::GetCurrentThreadId())) << i;
  }
  DWORD handles_after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &handles_after));
  EXPECT_LE(handles_after, handles_before + 5);
  EXPECT_LT(ReservedBytes(), reserved_before + 2 * 1024 * 1024);  // 2000 views take at least 8 MiB
  EXPECT_EQ(RelayWindowCount(), 1);
}

TEST_F(RelayTest, WhenTheBlockCannotBeMadeInstallationFailsAndLeavesNothing) {
  // Another kind of object holding the block's name makes the mapping fail.
  {
    const win32::unique_handle squatter(::CreateEventA(nullptr, TRUE, FALSE, kRelayBlockName));
    ASSERT_TRUE(squatter);
    Relay relay(target_);
    EXPECT_FALSE(Install(relay, ::GetCurrentThreadId()));
    EXPECT_EQ(RelayWindowCount(), 0);
    // No hook is left behind either: a hooked thread would relay this key.
    Key('Q', false);
    PumpMessages();
    EXPECT_TRUE(target_.events.empty());
  }
  Relay relay(target_);
  EXPECT_TRUE(Install(relay, ::GetCurrentThreadId()));
}

// ---- the relay block's security ----

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!sid || !::ConvertSidToStringSidW(sid, &text)) return L"<none>";
  const win32::unique_hlocal owner(text);
  return text;
}

ACCESS_MASK SectionRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping{STANDARD_RIGHTS_READ | SECTION_QUERY | SECTION_MAP_READ,
                          STANDARD_RIGHTS_WRITE | SECTION_MAP_WRITE,
                          STANDARD_RIGHTS_EXECUTE | SECTION_MAP_EXECUTE, SECTION_ALL_ACCESS};
  ::MapGenericMask(&mask, &mapping);
  return mask;
}

// A block of the relay's name made first, with the security in `sddl`.
win32::unique_handle MakeBlockFirst(const std::wstring& sddl) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return win32::unique_handle();
  const win32::unique_hlocal owner(descriptor);
  SECURITY_ATTRIBUTES attributes{sizeof(attributes), descriptor, FALSE};
  return win32::unique_handle(
      ::CreateFileMappingA(INVALID_HANDLE_VALUE, &attributes, PAGE_READWRITE, 0, kRelayBlockSize, kRelayBlockName));
}

TEST_F(RelayTest, TheBlockIsOwnedByTheUserAndOnlyTheLogonSessionMayReadIt) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  const win32::unique_handle block(::OpenFileMappingA(READ_CONTROL, FALSE, kRelayBlockName));
  ASSERT_TRUE(block);
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(::GetSecurityInfo(block.get(), SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                              &owner, nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const win32::unique_hlocal keep(descriptor);
  const auto user = win32::query_process_token(TokenUser);
  const auto groups = win32::query_process_token(TokenGroups);
  EXPECT_EQ(SidText(owner), SidText(win32::token_user_sid(user)));

  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  ASSERT_TRUE(::GetSecurityDescriptorControl(descriptor, &control, &revision));
  EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "inherited entries would widen the access";
  ASSERT_NE(dacl, nullptr);
  std::vector<std::wstring> entries;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, &ace));
    ASSERT_EQ(static_cast<const ACE_HEADER*>(ace)->AceType, ACCESS_ALLOWED_ACE_TYPE);
    const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
    entries.push_back(SidText(const_cast<DWORD*>(&allowed->SidStart)) + L" " +
                      std::to_wstring(SectionRights(allowed->Mask)));
  }
  const std::wstring all = std::to_wstring(SectionRights(SECTION_ALL_ACCESS));
  const std::wstring read = std::to_wstring(SectionRights(GENERIC_READ));
  const std::vector<std::wstring> expected = {SidText(win32::token_user_sid(user)) + L" " + all,
                                              L"S-1-5-18 " + all,
                                              SidText(win32::token_logon_sid(groups)) + L" " + read};
  EXPECT_EQ(entries, expected);

  // The label, asked for alone (Wine returns none when it comes with the owner):
  // this process's level, with no-write-up only.
  PACL sacl = nullptr;
  PSECURITY_DESCRIPTOR labelled = nullptr;
  ASSERT_EQ(::GetSecurityInfo(block.get(), SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr,
                              &sacl, &labelled),
            static_cast<DWORD>(ERROR_SUCCESS));
  const win32::unique_hlocal keep_label(labelled);
  ASSERT_NE(sacl, nullptr);
  ASSERT_EQ(sacl->AceCount, 1);
  void* ace = nullptr;
  ASSERT_TRUE(::GetAce(sacl, 0, &ace));
  ASSERT_EQ(static_cast<const ACE_HEADER*>(ace)->AceType, SYSTEM_MANDATORY_LABEL_ACE_TYPE);
  const auto* label = static_cast<const SYSTEM_MANDATORY_LABEL_ACE*>(ace);
  EXPECT_EQ(SidText(const_cast<DWORD*>(&label->SidStart)),
            SidText(win32::token_label_sid(win32::query_process_token(TokenIntegrityLevel))));
  EXPECT_EQ(label->Mask, static_cast<ACCESS_MASK>(SYSTEM_MANDATORY_LABEL_NO_WRITE_UP));
}

TEST_F(RelayTest, ABlockMadeFirstReadOnlyByAnotherOwnerOrBelowOurLevelIsRefusedAndNothingIsHooked) {
  const std::wstring user = SidText(win32::token_user_sid(win32::query_process_token(TokenUser)));
  const std::wstring ours = L"O:" + user + L"D:P(A;;GA;;;" + user + L")";
  const std::wstring level = SidText(win32::token_label_sid(win32::query_process_token(TokenIntegrityLevel)));
  // Under Wine every process runs at high: low is below it, as the default (medium) is.
  for (const std::wstring& sddl : {std::wstring(L"D:P(A;;GR;;;WD)"), std::wstring(L"O:SYD:P(A;;GA;;;WD)"),
                                   L"O:S-1-5-21-1-2-3-1001D:P(A;;GA;;;" + user + L")", ours + L"S:(ML;;NW;;;LW)"}) {
    const win32::unique_handle squatter = MakeBlockFirst(sddl);
    ASSERT_TRUE(squatter) << sddl;
    Relay relay(target_);
    FailureReports reports;
    EXPECT_FALSE(Install(relay, ::GetCurrentThreadId())) << sddl;
    // The report names the step that failed, on the debugger's output.
    EXPECT_TRUE(AnyReportHas(reports.Take(), "relay.cpp", "publish: ")) << sddl;
    EXPECT_EQ(RelayWindowCount(), 0) << sddl;
    Key('Q', false);
    PumpMessages();
    EXPECT_TRUE(target_.events.empty()) << sddl;
  }
  // Another client of the same user at the same level: its block is used,
  // and the last writer's window wins.
  const win32::unique_handle other_client = MakeBlockFirst(ours + L"S:(ML;;NW;;;" + level + L")");
  ASSERT_TRUE(other_client);
  Relay relay(target_);
  FailureReports reports;
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  EXPECT_TRUE(::IsWindow(PublishedWindow()));
  EXPECT_EQ(reports.Take(), std::vector<std::string>{}) << "a watching set reports no failure";
}

TEST_F(RelayTest, AWindowInTheBlockThatIsNoRelayWindowGetsNothing) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  const HWND relay_window = PublishedWindow();
  const win32::unique_hwnd decoy(
      ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
  ASSERT_TRUE(decoy);
  const win32::unique_handle block(::OpenFileMappingA(FILE_MAP_WRITE, FALSE, kRelayBlockName));
  ASSERT_TRUE(block);
  const win32::unique_mapview view(::MapViewOfFile(block.get(), FILE_MAP_WRITE, 0, 0, kRelayBlockSize));
  ASSERT_TRUE(view);
  auto* const value = static_cast<volatile LONG*>(view.get());
  Key('A', false);
  *value = static_cast<LONG>(reinterpret_cast<LONG_PTR>(decoy.get()));
  Key('B', false);
  Mouse(HC_ACTION, WM_MOUSEMOVE, 1, 2);
  MSG message;
  EXPECT_FALSE(::PeekMessageA(&message, decoy.get(), WM_KEYRELAY, WM_MOUSERELAY, PM_REMOVE)) << message.message;
  *value = static_cast<LONG>(reinterpret_cast<LONG_PTR>(relay_window));
  Key('C', false);
  PumpMessages();
  const std::vector<Event> expected = {{'A', 1, -1}, {'C', 1, -1}};
  EXPECT_EQ(target_.events, expected);
}

DWORD WINAPI ReturnAtOnce(void*) { return 0; }

// Each waits, with a message queue of its own, until the set goes.
DWORD WINAPI WaitWithAQueue(void* stop) {
  MSG message;
  ::PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
  ::WaitForSingleObject(stop, INFINITE);
  return 0;
}

struct WaitingThreads {
  explicit WaitingThreads(DWORD count) {
    for (DWORD i = 0; i < count; ++i) {
      DWORD id = 0;
      handles.emplace_back(::CreateThread(nullptr, 0, WaitWithAQueue, stop.get(), 0, &id));
      if (handles.back()) ids.push_back(id);
    }
  }
  ~WaitingThreads() {
    ::SetEvent(stop.get());
    for (const win32::unique_handle& thread : handles) ::WaitForSingleObject(thread.get(), 5000);
  }
  win32::unique_handle stop{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  std::vector<win32::unique_handle> handles;
  std::vector<DWORD> ids;
};

// Only threads that have all ended fail; with one that runs, the set counts.
TEST_F(RelayTest, HooksOnThreadsThatHaveEndedFailAndLeaveNothingUnlessAnotherIsHooked) {
  DWORD ended = 0;
  const win32::unique_handle thread(::CreateThread(nullptr, 0, ReturnAtOnce, nullptr, 0, &ended));
  ASSERT_TRUE(thread);
  ASSERT_EQ(::WaitForSingleObject(thread.get(), 5000), WAIT_OBJECT_0);
  Relay relay(target_);
  FailureReports reports;
  EXPECT_FALSE(Install(relay, ended));
  EXPECT_EQ(RelayWindowCount(), 0);
  // Set again and again, a program that cannot be hooked is reported once,
  // until a set watches something.
  EXPECT_FALSE(Install(relay, ended));
  const DWORD some[] = {ended, 0, ::GetCurrentThreadId()};
  EXPECT_TRUE(relay.InstallHooks(some, ARRAYSIZE(some)));
  EXPECT_EQ(RelayWindowCount(), 1);
  EXPECT_FALSE(Install(relay, ended));
  const std::vector<std::string> failed = reports.Take();
  EXPECT_EQ(failed.size(), 2u);
  for (const std::string& report : failed)
    EXPECT_TRUE(AnyReportHas({report}, "relay.cpp", "install hooks: no thread took both hooks")) << report;
  relay.RemoveHooks();
  // The memory knows a step by its file and line, not its words; outside
  // every owner's scope each failure is reported.
  {
    win32::failure_memory memory;
    const win32::report_once_scope once(memory);
    for (const bool first : {true, false, true, false}) FailingStep(first);
    EXPECT_EQ(reports.Take().size(), 2u);
    memory.succeeded();
    FailingStep(true);
    EXPECT_EQ(reports.Take().size(), 1u);
  }
  FailingStep(true);
  FailingStep(true);
  EXPECT_EQ(reports.Take().size(), 2u);

  // Each thread of the set gets both hooks; the set is bounded.
  WaitingThreads waiting(kMaxHookedThreads + 1);
  ASSERT_EQ(waiting.ids.size(), kMaxHookedThreads + 1);
  EXPECT_EQ(SetRelayHooks(HookModule(), waiting.ids.data(), kMaxHookedThreads + 1), kMaxHookedThreads);
  // Threads that stay keep their hooks, the others lose them: room again
  // for the one the bound left out, and a thread named twice is hooked once.
  const DWORD mixed[] = {0, ended, waiting.ids[0], waiting.ids[1], waiting.ids[kMaxHookedThreads], waiting.ids[0]};
  bool hooked[ARRAYSIZE(mixed)] = {};
  EXPECT_EQ(SetRelayHooks(HookModule(), mixed, ARRAYSIZE(mixed), hooked), 3u);
  EXPECT_EQ(std::vector<bool>(hooked, hooked + ARRAYSIZE(mixed)),
            (std::vector<bool>{false, false, true, true, true, true}));
  RemoveRelayHooks();
}

TEST_F(RelayTest, ThreadZeroIsRefusedRatherThanHookingEveryThread) {
  Relay relay(target_);
  EXPECT_FALSE(Install(relay, 0));
  EXPECT_EQ(RelayWindowCount(), 0);
}

// ---- the hook procedures and the relay messages ----

TEST_F(RelayTest, KeysAreRelayedWithTheirDirection) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  Key('A', false);
  Key('A', false);  // auto-repeat: one more press
  Key('A', true);
  Key(VK_SHIFT, true);
  PumpMessages();
  const std::vector<Event> expected = {{65, 1, -1}, {65, 1, -1}, {65, 0, -1}, {VK_SHIFT, 0, -1}};
  EXPECT_EQ(target_.events, expected);
}

TEST_F(RelayTest, MouseEventsCarryScreenCoordinatesAsUnsignedWords) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  Mouse(HC_ACTION, WM_MOUSEMOVE, 100, 200);
  Mouse(HC_NOREMOVE, WM_LBUTTONDOWN, -5, -1);
  Mouse(HC_ACTION, WM_NCMOUSEMOVE, 70000, 65535);
  PumpMessages();
  const std::vector<Event> expected = {{512, 100, 200}, {513, 65531, 65535}, {160, 70000 - 65536, 65535}};
  EXPECT_EQ(target_.events, expected);
}

TEST_F(RelayTest, NegativeCodesAreOnlyPassedOn) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  Key('A', false);
  KeyboardHookProc(-1, 'B', 0);
  Mouse(-1, WM_MOUSEMOVE, 1, 2);
  Key('C', false);
  PumpMessages();
  const std::vector<Event> expected = {{'A', 1, -1}, {'C', 1, -1}};
  EXPECT_EQ(target_.events, expected);
}

TEST_F(RelayTest, AfterRemovalNothingIsRelayed) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  relay.RemoveHooks();
  Key('A', false);
  Mouse(HC_ACTION, WM_MOUSEMOVE, 1, 2);
  PumpMessages();
  EXPECT_TRUE(target_.events.empty());
}

TEST_F(RelayTest, OtherMessagesToTheRelayWindowGoToTheDefaultProcedure) {
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  const HWND window = PublishedWindow();
  EXPECT_EQ(::SendMessageA(window, WM_KEYRELAY, 'A', 1), 1);
  EXPECT_EQ(::SendMessageA(window, WM_MOUSERELAY, WM_MOUSEMOVE, MAKELPARAM(3, 4)), 1);
  EXPECT_EQ(::SendMessageA(window, WM_USER + 999, 1, 2), 0);
  const std::vector<Event> expected = {{'A', 1, -1}, {512, 3, 4}};
  EXPECT_EQ(target_.events, expected);
}

// ---- the companion's helper, driven by its client ----

#ifdef _WIN64
// A 32-bit Tessik's helper is a 64-bit process. Here a 64-bit client drives
// the same helper (built beside this test) through the same client code, so
// the protocol runs where no 32-bit program can. In a 32-bit build the
// helper's hooks on this test's own 32-bit threads would never fire: the
// WoW64 tests cover that build.

// A thread with a shown window of its own, pumping until it is told to quit.
class InputThread {
 public:
  InputThread() {
    thread_.reset(::CreateThread(nullptr, 0, Run, this, 0, &id));
    if (thread_) ::WaitForSingleObject(ready_.get(), 5000);
  }
  ~InputThread() {
    ::PostThreadMessageA(id, WM_QUIT, 0, 0);
    ::WaitForSingleObject(thread_.get(), 5000);
  }
  InputThread(const InputThread&) = delete;
  InputThread& operator=(const InputThread&) = delete;

  DWORD id = 0;
  HWND window = nullptr;

 private:
  static DWORD WINAPI Run(void* self) {
    auto& me = *static_cast<InputThread*>(self);
    const win32::unique_hwnd window(::CreateWindowExA(0, "STATIC", "companion input", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                                      10, 10, 200, 100, nullptr, nullptr, nullptr, nullptr));
    me.window = window.get();
    ::SetEvent(me.ready_.get());
    MSG message;
    while (::GetMessageA(&message, nullptr, 0, 0) > 0) ::DispatchMessageA(&message);
    return 0;
  }
  win32::unique_handle ready_{::CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  win32::unique_handle thread_;
};

HWND HelperWindow() { return ::FindWindowExA(HWND_MESSAGE, nullptr, companion::kHostWindowClass, nullptr); }

// Sets as the relay makes them, until one is answered: a set leaves a slow
// start pending, for a later one to finish.
DWORD SetUntilAnswered(Companion& companion, const std::vector<DWORD>& threads) {
  DWORD hooked = 0;
  for (int i = 0; i < 40 && hooked == 0; ++i) {
    if (i > 0) ::Sleep(250);
    hooked = companion.SetHooks(threads.data(), static_cast<DWORD>(threads.size()), Companion::SetDeadline());
  }
  return hooked;
}

// A real key pressed in `input`'s window; what the relay got of it.
std::vector<Event> TypeInto(const InputThread& input, RecordingTarget& target, WORD key) {
  target.events.clear();
  // Input goes to the window in front, which under Wine comes there a moment later.
  for (int i = 0; i < 250 && ::GetForegroundWindow() != input.window; ++i) {
    ::SetForegroundWindow(input.window);
    ::Sleep(20);
  }
  INPUT strokes[2] = {};
  strokes[0].type = strokes[1].type = INPUT_KEYBOARD;
  strokes[0].ki.wVk = strokes[1].ki.wVk = key;
  strokes[1].ki.dwFlags = KEYEVENTF_KEYUP;
  ::SendInput(2, strokes, sizeof(INPUT));
  // Until the key comes up, then a little more for anything doubled.
  const DWORD began = ::GetTickCount();
  DWORD settled = 0;
  while (::GetTickCount() - began < 5000 && (settled == 0 || ::GetTickCount() - settled < 300)) {
    PumpMessages();
    if (settled == 0 && !target.events.empty() && target.events.back() == Event{key, 0, -1}) settled = ::GetTickCount();
    ::Sleep(10);
  }
  return target.events;
}

TEST_F(RelayTest, OnlyTheHelpersClientEndsItOrGetsItsAnswersAndKeysArriveOnce) {
  ASSERT_EQ(HelperWindow(), nullptr) << "another helper is running";
  InputThread input;
  InputThread idle;
  ASSERT_TRUE(input.window && idle.window);
  // The relay window and block, with the relay's own hooks on this thread
  // only: keys typed into `input` reach it through the helper's hooks alone.
  Relay relay(target_);
  ASSERT_TRUE(Install(relay, ::GetCurrentThreadId()));
  win32::unique_handle helper_process;
  {
    Companion companion;
    ASSERT_EQ(SetUntilAnswered(companion, {input.id}), 1u);
    const HWND helper = HelperWindow();
    ASSERT_NE(helper, nullptr);
    DWORD helper_id = 0;
    const DWORD helper_thread = ::GetWindowThreadProcessId(helper, &helper_id);
    helper_process.reset(::OpenProcess(SYNCHRONIZE, FALSE, helper_id));
    ASSERT_TRUE(helper_process);
    const std::vector<Event> once = {{'K', 1, -1}, {'K', 0, -1}};
    EXPECT_EQ(TypeInto(input, target_, 'K'), once);

    // A stranger of the session, as fast as it can: quits posted to the
    // helper's window and thread, its window's end sent from outside, and
    // notices with and without a sequence number, some landing between a
    // request and its client's notice.
    volatile LONG stop = 0;
    struct Stranger {
      HWND helper;
      DWORD thread;
      volatile LONG* stop;
    } stranger{helper, helper_thread, &stop};
    const win32::unique_handle stranger_thread(::CreateThread(
        nullptr, 0,
        [](void* p) -> DWORD {
          const auto& s = *static_cast<const Stranger*>(p);
          for (WPARAM guess = 0; !*s.stop; ++guess) {
            ::PostMessageA(s.helper, WM_QUIT, 0, 0);
            ::PostThreadMessageA(s.thread, WM_QUIT, 0, 0);
            DWORD_PTR answer = 0;
            ::SendMessageTimeoutA(s.helper, WM_NCDESTROY, 0, 0, SMTO_BLOCK, 100, &answer);
            ::SendMessageTimeoutA(s.helper, companion::kWmRequestWaiting, 0, 0, SMTO_BLOCK, 100, &answer);
            ::SendMessageTimeoutA(s.helper, companion::kWmRequestWaiting, guess & 0xFFFF, 0, SMTO_BLOCK, 100, &answer);
          }
          return 0;
        },
        &stranger, 0, nullptr));
    ASSERT_TRUE(stranger_thread);
    int wrong = 0;
    for (int i = 0; i < 150; ++i) {
      const std::vector<DWORD> threads = i % 2 ? std::vector<DWORD>{input.id} : std::vector<DWORD>{input.id, idle.id};
      if (companion.SetHooks(threads.data(), static_cast<DWORD>(threads.size()), Companion::SetDeadline()) !=
          threads.size())
        ++wrong;
    }
    ::InterlockedExchange(&stop, 1);
    ::WaitForSingleObject(stranger_thread.get(), 5000);
    EXPECT_EQ(wrong, 0) << "sets answered other than with their own answer";
    EXPECT_EQ(::WaitForSingleObject(helper_process.get(), 0), static_cast<DWORD>(WAIT_TIMEOUT))
        << "a stranger's quit ended the helper";
    EXPECT_EQ(HelperWindow(), helper);
    EXPECT_EQ(TypeInto(input, target_, 'M'), (std::vector<Event>{{'M', 1, -1}, {'M', 0, -1}}));

    // A hung helper: a set and the removal after it share one set's time.
    const win32::unique_handle hung(::OpenThread(THREAD_SUSPEND_RESUME, FALSE, helper_thread));
    ASSERT_TRUE(hung);
    ASSERT_NE(::SuspendThread(hung.get()), static_cast<DWORD>(-1));
    const DWORD began = ::GetTickCount();
    const DWORD deadline = Companion::SetDeadline();
    const DWORD both[] = {idle.id, input.id};
    EXPECT_EQ(companion.SetHooks(both, 2, deadline), 0u);
    companion.RemoveHooks(deadline);
    const DWORD held = ::GetTickCount() - began;
    ::ResumeThread(hung.get());
    std::printf("a set with a hung helper held the thread %lu ms\n", static_cast<unsigned long>(held));
    // How long it holds the thread is a figure for tools/bench; here only
    // that a hung helper is not waited for without end.
    EXPECT_LT(held, 10 * Companion::kSetBudgetMs);
    // Back again, it serves the next set.
    EXPECT_EQ(SetUntilAnswered(companion, {input.id}), 1u);
    EXPECT_EQ(TypeInto(input, target_, 'P'), (std::vector<Event>{{'P', 1, -1}, {'P', 0, -1}}));

    // Sets of the most threads a set takes, each another set of them, each
    // within a set's time.
    {
      std::vector<std::unique_ptr<InputThread>> many;
      std::vector<DWORD> ids;
      for (DWORD i = 0; i < kMaxHookedThreads; ++i) {
        many.push_back(std::make_unique<InputThread>());
        ids.push_back(many.back()->id);
      }
      int short_sets = 0;
      for (int i = 0; i < 300; ++i) {
        // One thread left out in turn: every set is a request of its own.
        std::vector<DWORD> set = ids;
        if (i % 2) set.erase(set.begin() + i % kMaxHookedThreads);
        if (companion.SetHooks(set.data(), static_cast<DWORD>(set.size()), Companion::SetDeadline()) != set.size())
          ++short_sets;
      }
      EXPECT_EQ(short_sets, 0) << "sets of " << kMaxHookedThreads << " threads not done within a set's time";
      EXPECT_EQ(HelperWindow(), helper);
    }

    // Three requests in a row without their own answer: the helper is ended,
    // and the next set starts another, which serves it.
    ASSERT_NE(::SuspendThread(hung.get()), static_cast<DWORD>(-1));
    for (const DWORD thread : {idle.id, input.id, idle.id}) {
      const DWORD one[] = {thread};
      EXPECT_EQ(companion.SetHooks(one, 1, Companion::SetDeadline()), 0u);
    }
    EXPECT_EQ(::WaitForSingleObject(helper_process.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0))
        << "the helper that left three requests unanswered still runs";
    EXPECT_EQ(SetUntilAnswered(companion, {input.id}), 1u);
    const HWND second = HelperWindow();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, helper);
    GetWindowThreadProcessId(second, &helper_id);
    helper_process.reset(::OpenProcess(SYNCHRONIZE, FALSE, helper_id));
    ASSERT_TRUE(helper_process);
    EXPECT_EQ(TypeInto(input, target_, 'R'), (std::vector<Event>{{'R', 1, -1}, {'R', 0, -1}}));

  }
  // Its client letting go ends it, its hooks removed first.
  EXPECT_EQ(::WaitForSingleObject(helper_process.get(), 5000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(TypeInto(input, target_, 'Q'), std::vector<Event>{});
}
#endif

// ---- inside a watched program while no monitoring process runs ----

TEST(HookProcedures, WithoutARelayBlockPostNothingAndPassEveryMessageOn) {
  ASSERT_FALSE(BlockExists());
  // The next hook in the chain sees every call, and the thread still gets its input.
  const HWND window = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  const win32::unique_hwnd owner(window);
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_EQ(Key('A', false), 0);
  EXPECT_EQ(Mouse(HC_ACTION, WM_MOUSEMOVE, 5, 5), 0);
  EXPECT_FALSE(::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << message.message;

  // A block of that name made first with its pages only reserved: reading
  // it would fault in the watched program; the hooks leave it alone.
  const win32::unique_handle reserved(::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE | SEC_RESERVE,
                                                           0, 65536, kRelayBlockName));
  ASSERT_TRUE(reserved);
  EXPECT_EQ(Key('A', false), 0);
  EXPECT_EQ(Mouse(HC_ACTION, WM_MOUSEMOVE, 5, 5), 0);
  EXPECT_FALSE(::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) << message.message;
}

}  // namespace
}  // namespace tessik
