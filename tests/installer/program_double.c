/* Stands in for a running copy of the program: a hidden top-level window of
 * the main window's class and title. With the argument "stays" it ignores
 * WM_CLOSE, as a program that hangs would; otherwise it closes and ends with
 * 0. */
#include <windows.h>

static BOOL stays = FALSE;

static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CLOSE && stays) return 0;
  if (message == WM_DESTROY) PostQuitMessage(0);
  return DefWindowProcW(window, message, wparam, lparam);
}

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE previous, PWSTR command_line, int show) {
  WNDCLASSW window_class;
  MSG message;
  (void)previous;
  (void)show;
  stays = lstrcmpW(command_line, L"stays") == 0;
  ZeroMemory(&window_class, sizeof(window_class));
  window_class.lpfnWndProc = Procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = L"FLUTTER_RUNNER_WIN32_WINDOW";
  if (!RegisterClassW(&window_class)) return 2;
  if (!CreateWindowExW(0, window_class.lpszClassName, L"Talvor VPN", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, NULL,
                       NULL, instance, NULL)) {
    return 3;
  }
  while (GetMessageW(&message, NULL, 0, 0) > 0) DispatchMessageW(&message);
  return 0;
}
