/* Sends one command to the running Talvor VPN main window from outside, as
 * the tray or the title bar would: used by tools/run to end the program
 * cleanly and by tools/screenshots to show both tray states.
 *
 *   window_command.exe close | toggle | open | minimize
 *
 * Exit code 0 when the window was found and the command posted, 1 otherwise. */
#include <windows.h>
#include <wchar.h>

static int Post(HWND window, UINT message, WPARAM wparam) {
  return PostMessageW(window, message, wparam, 0) ? 0 : 1;
}

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  HWND window = FindWindowW(L"FLUTTER_RUNNER_WIN32_WINDOW", L"Talvor VPN");
  if (window == NULL) return 1;
  if (wcscmp(argv[1], L"close") == 0) return Post(window, WM_CLOSE, 0);
  if (wcscmp(argv[1], L"toggle") == 0) return Post(window, WM_COMMAND, 40001);
  if (wcscmp(argv[1], L"open") == 0) return Post(window, WM_COMMAND, 40002);
  if (wcscmp(argv[1], L"minimize") == 0) return Post(window, WM_SYSCOMMAND, SC_MINIMIZE);
  return 2;
}
