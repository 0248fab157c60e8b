// The watched side of the hook benchmark: a window that sends itself key
// presses with SendInput and times how long each takes to arrive, first with
// no hook, then (once GO_FILE exists) with the component's hooks on its thread.
//   tessik_bench_target ROUNDS GO_FILE
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>

namespace {

LONG g_received = 0;

LRESULT CALLBACK BenchWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  if (message == WM_KEYDOWN || message == WM_KEYUP) {
    ++g_received;
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

void Pump() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
}

// Nanoseconds per key message over `rounds` presses and releases, or a
// negative value when the input does not arrive.
double Measure(int rounds) {
  LARGE_INTEGER frequency, start, end;
  QueryPerformanceFrequency(&frequency);
  INPUT keys[2] = {};
  keys[0].type = keys[1].type = INPUT_KEYBOARD;
  keys[0].ki.wVk = keys[1].ki.wVk = 'A';
  keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
  g_received = 0;
  QueryPerformanceCounter(&start);
  for (int i = 0; i < rounds; ++i) {
    SendInput(2, keys, sizeof(INPUT));
    const DWORD deadline = GetTickCount() + 2000;
    while (g_received < 2 * (i + 1)) {
      Pump();
      if (GetTickCount() > deadline) return -1;
    }
  }
  QueryPerformanceCounter(&end);
  return 1e9 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart) /
         (2.0 * rounds);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tessik_bench_target ROUNDS GO_FILE\n");
    return 2;
  }
  const int rounds = std::atoi(argv[1]);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof(window_class);
  window_class.lpfnWndProc = BenchWindowProc;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "TessikBenchTarget";
  if (!RegisterClassExA(&window_class)) return 1;
  const HWND window = CreateWindowExA(0, "TessikBenchTarget", "Tessik Bench", WS_OVERLAPPEDWINDOW, 100, 100, 300,
                                      200, nullptr, nullptr, window_class.hInstance, nullptr);
  if (!window) return 1;
  ShowWindow(window, SW_SHOWNORMAL);
  Pump();
  std::printf("window\n");
  std::fflush(stdout);
  // The script focuses the window, sets no hook and creates GO_FILE twice:
  // first for the baseline, then once the hooks are on.
  for (const char* phase : {"unhooked", "hooked"}) {
    while (GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES) {
      Pump();
      Sleep(20);
    }
    DeleteFileA(argv[2]);
    const double ns = Measure(rounds);
    std::printf("%s %.0f ns per key message\n", phase, ns);
    std::fflush(stdout);
  }
  return 0;
}
