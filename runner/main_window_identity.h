// How the main window is known: the window host registers its class under
// this name, and a second start finds the running instance by class and
// title and asks it to come forward with a message of its own.
#ifndef TALVOR_RUNNER_MAIN_WINDOW_IDENTITY_H_
#define TALVOR_RUNNER_MAIN_WINDOW_IDENTITY_H_

#include <windows.h>

inline constexpr wchar_t kMainWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
inline constexpr wchar_t kMainWindowTitle[] = L"Talvor VPN";

// Posted by a second start to the running main window, which then shows,
// restores and brings itself forward as the tray's "Открыть" does. A window
// may not be shown or moved from outside when it belongs to an elevated
// process, and only the window itself knows it is hidden to the tray.
inline constexpr wchar_t kActivateMainWindowMessageName[] = L"TalvorVPN.ActivateMainWindow";

inline UINT ActivateMainWindowMessage() {
  return RegisterWindowMessageW(kActivateMainWindowMessageName);
}

#endif  // TALVOR_RUNNER_MAIN_WINDOW_IDENTITY_H_
