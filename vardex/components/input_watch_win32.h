// InputWatch over Win32: GetLastInputInfo, raw input and the foreground
// window's owner, and an out-of-context event hook on foreground changes.
// Lives on the UI thread, which must pump messages: raw input and the
// foreground events arrive there.
//
// A console window is drawn by the console host, and belongs to whoever
// created the console: a program started from cmd.exe or PowerShell shares
// the shell's console. So each copy of the program has its console looked up
// once, by attaching to it (AttachConsole, GetConsoleWindow, FreeConsole) on
// a thread of its own, since the host may be slow to answer; a console window
// then stands for the copies in it. For any other console window, the owner
// stands for it: on Windows the host names the console's program as the
// window's owner (conhost sets it); under Wine the owner is the host itself,
// conhost.exe, which the console's program started (or whoever made the
// console for it): there the owner is taken to be the host's parent, when
// that process is older than the host, so that an identifier reused since
// never stands in for it. A pseudo-console (Windows Terminal's, and any
// terminal's that hosts consoles) has a window nobody sees or types into:
// input into its copy cannot be told from input into the terminal, so the
// processes that started the copy (its shell, the terminal) are kept, and
// input while one of theirs is in front counts for it.
//
// Raw input (registered with RIDEV_INPUTSINK, so it arrives whichever
// window is in front) tells keys and buttons from moves. Where it turns out
// blind (session input between two samples and no raw input at all), the
// session's last input stands for it, moves included.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "components/input_watch.h"
#include "win32/unique_any.h"

namespace vardex {

class RawInputSink;
struct ConsoleLookup;

class InputWatchWin32 final : public InputWatch {
 public:
  // The input the front changes need to count as the user's: within this
  // long before.
  static constexpr DWORD kUserCausedWithinMs = 2000;
  // How late a sample may see a move of the front: its period.
  static constexpr DWORD kSampledLateMs = 1000;

  InputWatchWin32();
  ~InputWatchWin32() override;
  InputWatchWin32(const InputWatchWin32&) = delete;
  InputWatchWin32& operator=(const InputWatchWin32&) = delete;

  void Copies(const std::vector<WindowProgram>& copies) override;
  InputSample Sample() override;
  // The program behind `window`, as the samples name it.
  WindowProgram ProgramOfWindow(HWND window) const;

  // The program behind process `owner` of a foreground window: the console
  // host's parent for a console host, else `owner` itself; none when a
  // console host's program cannot be told.
  std::optional<DWORD> ProgramOf(DWORD owner) const;
  // Whether raw input is registered (it may still prove blind).
  bool raw_input() const { return raw_ != nullptr; }

 private:
  friend class RawInputSink;
  // Raw input: a key or a button, or a turn of the wheel.
  void RawUse(bool wheel);
  void RawMove() { raw_seen_ = true; }
  void FrontMoved(HWND window);
  static void CALLBACK OnForeground(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object, LONG child,
                                    DWORD thread, DWORD time) noexcept;
  // The last input the user gave: a key or a button where raw input sees
  // them, else any.
  DWORD LastUserInputTick() const;

  win32::unique_hmodule ntdll_;  // NtQueryInformationProcess, for a process's parent
  std::string console_host_;     // its whole path, in the system directory
  std::unique_ptr<RawInputSink> raw_;
  win32::unique_hwineventhook foreground_hook_;
  WindowProgram front_;
  std::vector<FrontChange> changes_;
  bool raw_seen_ = false;  // any raw input since the sample before
  std::optional<DWORD> last_raw_use_, last_session_input_;
  DWORD use_tick_ = 0, wheel_tick_ = 0;
  WindowProgram wheel_target_;
  // The console of each copy, by identifier and creation time (-1 unread).
  std::map<std::pair<std::int32_t, std::int64_t>, std::shared_ptr<const ConsoleLookup>> consoles_;
};

}  // namespace vardex
