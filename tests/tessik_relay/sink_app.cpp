// A client of the component for the relay's system test: creates it by
// ProgID, connects a sink that prints every event it receives, and runs the
// commands it reads from standard input, one a line:
//   set PATH | set-empty | set-null | get | ping | quit
//   unload        lets the component go and unloads it, answers
//                 "unloaded yes|no" (whether the module is gone) and stays
//                 until its input ends
//   sets N PATH   N sets in a row; answers with the failures and this
//                 process's handle count before and after
//   every MS PATH sets PATH now and then every MS milliseconds, as the
//                 presence check does, between the other commands; answers
//                 "set" with the first result; a later set that fails
//                 prints "periodic set 0x...". MS 0 stops.
// Each command answers with one line; events arrive as
//   KeyEvent CODE PRESSED / MouseEvent CODE X Y
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "com/recording_sink_test.h"
#include "tessik.h"
#include "win32/com_ptr.h"
#include "win32/text.h"
#include "win32/unique_any.h"

namespace {

constexpr UINT WM_COMMAND_LINE = WM_APP + 1;  // lParam: std::string* to adopt
constexpr UINT WM_INPUT_ENDED = WM_APP + 2;

void Print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void PrintEvent(const tessik::testing::SinkCall& call) {
  if (call.dispid == DISPID_KEYEVENT && call.args.size() == 2) {
    Print("KeyEvent %ld %ld\n", call.args[0], call.args[1]);
  } else if (call.dispid == DISPID_MOUSEEVENT && call.args.size() == 3) {
    Print("MouseEvent %ld %ld %ld\n", call.args[0], call.args[1], call.args[2]);
  } else {
    Print("unexpected event %ld\n", call.dispid);
  }
}

// Reads standard input on its own thread and hands each line to the main one.
DWORD WINAPI ReadCommands(void* main_thread) noexcept {
  const DWORD target = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(main_thread));
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  std::string pending;
  char buffer[512];
  DWORD read = 0;
  while (ReadFile(input, buffer, sizeof(buffer), &read, nullptr) && read > 0) {
    pending.append(buffer, read);
    for (size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1)) {
      std::string line = pending.substr(0, end);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      auto owned = std::make_unique<std::string>(std::move(line));
      if (PostThreadMessageA(target, WM_COMMAND_LINE, 0, reinterpret_cast<LPARAM>(owned.get()))) {
        static_cast<void>(owned.release());
      }
    }
  }
  PostThreadMessageA(target, WM_INPUT_ENDED, 0, 0);
  return 0;
}

// This process's handles, from the system's handle list: Wine's
// GetProcessHandleCount always answers 0.
unsigned long HandleCount() {
  struct Entry {
    ULONG process_id;
    BYTE type;
    BYTE flags;
    USHORT value;
    void* object;
    ULONG access;
  };
  struct List {
    ULONG count;
    Entry entries[1];
  };
  using QueryFn = LONG(WINAPI*)(ULONG info_class, void* info, ULONG size, ULONG* needed);
  constexpr ULONG kSystemHandleInformation = 16;
  constexpr LONG kInfoLengthMismatch = static_cast<LONG>(0xC0000004);
  const auto query = reinterpret_cast<QueryFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
  if (!query) return 0;
  std::vector<char> buffer(1 << 16);
  ULONG needed = 0;
  LONG status;
  while ((status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed)) ==
         kInfoLengthMismatch)
    buffer.resize(buffer.size() * 2);
  if (status != 0) return 0;
  const auto* list = reinterpret_cast<const List*>(buffer.data());
  unsigned long count = 0;
  for (ULONG i = 0; i < list->count; ++i) {
    if (list->entries[i].process_id == GetCurrentProcessId()) ++count;
  }
  return count;
}

bool g_unload = false;

// What `every` sets.
IMouseKeyHookCtl* g_periodic_hook = nullptr;
win32::unique_bstr g_periodic_path;
UINT_PTR g_periodic_timer = 0;

void CALLBACK SetAgain(HWND, UINT, UINT_PTR, DWORD) noexcept {
  const HRESULT hr = g_periodic_hook->put_MonitoredAppPath(g_periodic_path.get());
  if (FAILED(hr)) Print("periodic set 0x%08lX\n", static_cast<unsigned long>(hr));
}

// Runs one command; false to quit.
bool Run(IMouseKeyHookCtl* hook, const std::string& line) {
  if (line.rfind("set ", 0) == 0 || line == "set-empty") {
    const win32::unique_bstr value = win32::ansi_to_bstr(line == "set-empty" ? std::string() : line.substr(4));
    Print("set 0x%08lX\n", static_cast<unsigned long>(hook->put_MonitoredAppPath(value.get())));
  } else if (line.rfind("sets ", 0) == 0) {
    char* rest = nullptr;
    const unsigned long n = std::strtoul(line.c_str() + 5, &rest, 10);
    const win32::unique_bstr value = win32::ansi_to_bstr(rest + (*rest == ' ' ? 1 : 0));
    const unsigned long before = HandleCount();
    unsigned long failed = 0;
    for (unsigned long i = 0; i < n; ++i) {
      if (FAILED(hook->put_MonitoredAppPath(value.get()))) ++failed;
    }
    Print("sets %lu failed, handles %lu %lu\n", failed, before, HandleCount());
  } else if (line.rfind("every ", 0) == 0) {
    char* rest = nullptr;
    const unsigned long ms = std::strtoul(line.c_str() + 6, &rest, 10);
    if (g_periodic_timer) KillTimer(nullptr, g_periodic_timer);
    g_periodic_timer = 0;
    HRESULT hr = S_OK;
    if (ms > 0) {
      g_periodic_hook = hook;
      g_periodic_path = win32::ansi_to_bstr(rest + (*rest == ' ' ? 1 : 0));
      hr = hook->put_MonitoredAppPath(g_periodic_path.get());
      g_periodic_timer = SetTimer(nullptr, 0, ms, SetAgain);
    }
    Print("set 0x%08lX\n", static_cast<unsigned long>(hr));
  } else if (line == "set-null") {
    Print("set 0x%08lX\n", static_cast<unsigned long>(hook->put_MonitoredAppPath(nullptr)));
  } else if (line == "get") {
    win32::unique_bstr value;
    const HRESULT hr = hook->get_MonitoredAppPath(value.put());
    const std::string path = value ? win32::wide_to_ansi(value.get()) : std::string();
    Print("get 0x%08lX %s\n", static_cast<unsigned long>(hr), path.c_str());
  } else if (line == "ping") {
    Print("pong\n");
  } else if (line == "quit") {
    return false;
  } else if (line == "unload") {
    g_unload = true;
    return false;
  } else {
    Print("unknown command: %s\n", line.c_str());
  }
  return true;
}

}  // namespace

int main() {
  if (FAILED(CoInitialize(nullptr))) return 1;
  int result = 1;
  {
    win32::com_ptr<IMouseKeyHookCtl> hook;
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(L"Hooks.MouseKeyboard", &clsid);
    if (SUCCEEDED(hr)) hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IMouseKeyHookCtl, hook.put_void());
    win32::com_ptr<IConnectionPoint> point;
    if (SUCCEEDED(hr)) {
      win32::com_ptr<IConnectionPointContainer> container;
      hr = hook.query(container);
      if (SUCCEEDED(hr)) hr = container->FindConnectionPoint(DIID__IMouseKeyHookCtlEvents, point.put());
    }
    tessik::testing::RecordingSink sink;
    // Each event is printed as it arrives and not kept.
    sink.on_invoke = [&sink](const tessik::testing::SinkCall& call) {
      PrintEvent(call);
      sink.calls.clear();
    };
    DWORD cookie = 0;
    if (SUCCEEDED(hr)) hr = point->Advise(&sink, &cookie);
    if (FAILED(hr)) {
      Print("failed 0x%08lX\n", static_cast<unsigned long>(hr));
    } else {
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, before the reader posts
      // The reader blocks in ReadFile until its input ends; it is not joined.
      const win32::unique_handle reader(CreateThread(
          nullptr, 0, ReadCommands, reinterpret_cast<void*>(static_cast<UINT_PTR>(GetCurrentThreadId())), 0, nullptr));
      Print("ready\n");
      bool running = reader.operator bool();
      while (running && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_COMMAND_LINE) {
          const std::unique_ptr<std::string> line(reinterpret_cast<std::string*>(message.lParam));
          running = Run(hook.get(), *line);
        } else if (message.message == WM_INPUT_ENDED) {
          running = false;
        } else {
          DispatchMessageA(&message);
        }
      }
      point->Unadvise(cookie);
      result = 0;
    }
  }
  CoUninitialize();
  if (g_unload) {
    Print("unloaded %s\n", GetModuleHandleW(L"Tessik.dll") ? "no" : "yes");
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0 && message.message != WM_INPUT_ENDED) {
      if (message.message == WM_COMMAND_LINE) delete reinterpret_cast<std::string*>(message.lParam);
    }
  }
  std::fflush(stdout);
  // The reader thread may still block on its input.
  ExitProcess(static_cast<UINT>(result));
}
