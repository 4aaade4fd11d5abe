// The tunnel driver library stand-in (wintun.dll). The program only checks
// that the file is there; this library offers nothing else and, on purpose,
// no driver functions: nothing here may pretend to create an adapter.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
