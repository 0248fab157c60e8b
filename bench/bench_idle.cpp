// bench_idle.exe: a process that only exists, to fill the process list.
// The driver that started it ends it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  ::Sleep(INFINITE);
  return 0;
}
