// The open-file dialog, driven from a second thread the way a user would:
// a name typed into its file-name box and OK, or Cancel.
#include "components/file_dialog_win32.h"

#include <gtest/gtest.h>

#include <dlgs.h>

#include <atomic>
#include <thread>

namespace vardex {
namespace {

constexpr char kTitle[] = "Select file to monitor";

std::string SystemFile(const char* name) {
  char dir[MAX_PATH] = {};
  const UINT n = ::GetSystemDirectoryA(dir, MAX_PATH);
  return std::string(dir, n) + "\\" + name;
}

// Waits for the dialog by its title; null after a generous bound.
HWND WaitForDialog() {
  for (int i = 0; i < 500; ++i) {
    if (const HWND dlg = ::FindWindowA("#32770", kTitle)) return dlg;
    ::Sleep(20);
  }
  return nullptr;
}

TEST(OpenFileFilter, EveryBarBecomesANulAndTheListEndsWithTwo) {
  const std::string f = OpenFileFilter("All files (*.*)|*.*");
  constexpr char kWanted[] = "All files (*.*)\0*.*\0";
  EXPECT_EQ(f, std::string(kWanted, sizeof kWanted - 1));
  // c_str() adds the second terminating NUL.
  EXPECT_EQ(f.c_str()[f.size()], '\0');
  constexpr char kTwo[] = "A\0*.a\0B\0*.b\0";
  EXPECT_EQ(OpenFileFilter("A|*.a|B|*.b"), std::string(kTwo, sizeof kTwo - 1));
}

TEST(FileDialogWin32, CancelGivesNothing) {
  std::atomic<bool> seen{false};
  std::thread user([&] {
    if (const HWND dlg = WaitForDialog()) {
      seen = true;
      ::PostMessageW(dlg, WM_COMMAND, IDCANCEL, 0);
    }
  });
  FileDialogWin32 dialog;
  const std::string chosen = dialog.ShowOpen(kTitle, "All files (*.*)|*.*");
  user.join();
  EXPECT_TRUE(seen);
  EXPECT_EQ(chosen, "");
}

TEST(FileDialogWin32, AChosenFileGivesItsFullPath) {
  const std::string file = SystemFile("notepad.exe");
  std::atomic<bool> seen{false};
  std::thread user([&] {
    if (const HWND dlg = WaitForDialog()) {
      seen = true;
      // The explorer-style dialog's name box is a combo box; older ones an edit.
      if (!::SetDlgItemTextA(dlg, cmb13, file.c_str())) ::SetDlgItemTextA(dlg, edt1, file.c_str());
      ::PostMessageW(dlg, WM_COMMAND, IDOK, 0);
    }
  });
  FileDialogWin32 dialog;
  const std::string chosen = dialog.ShowOpen(kTitle, "All files (*.*)|*.*");
  user.join();
  EXPECT_TRUE(seen);
  EXPECT_EQ(::lstrcmpiA(chosen.c_str(), file.c_str()), 0) << chosen;
}

}  // namespace
}  // namespace vardex
