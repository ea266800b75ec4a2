// Entry point of the Windows DLLs: loading and unloading touch neither the
// boards nor the drivers.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
