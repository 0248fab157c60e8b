// A launcher as single-instance programs have: it finds the running copy's
// window (by class), brings it to the front and exits at once, as a copy
// started by a double click on a document does after passing it on.
//   hand_over CLASS        exit 0 when the window was found and brought forward
#include <windows.h>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  const HWND running = ::FindWindowW(argv[1], nullptr);
  if (!running) return 1;
  return ::SetForegroundWindow(running) ? 0 : 3;
}
