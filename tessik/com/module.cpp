// Tessik.dll module entry. The COM server is added here by its own change.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
