/* A library planted beside the program under a system library's name. When
   it is loaded it leaves a file beside itself named after it with ".loaded"
   appended. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    wchar_t path[MAX_PATH + 8];
    const DWORD length = GetModuleFileNameW(instance, path, MAX_PATH);
    if (length > 0 && length < MAX_PATH) {
      lstrcatW(path, L".loaded");
      HANDLE marker = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
      if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    }
  }
  return TRUE;
}

/* What a program importing dwmapi.dll needs from it, so that such a program
   still starts and shows that it took this copy. */
__declspec(dllexport) HRESULT WINAPI DwmSetWindowAttribute(HWND window, DWORD attribute, LPCVOID value,
                                                           DWORD size) {
  (void)window;
  (void)attribute;
  (void)value;
  (void)size;
  return S_OK;
}
