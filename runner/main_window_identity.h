// How the main window is known: the window host registers its class under
// this name, and a second start finds the running instance by class and
// title.
#ifndef TALVOR_RUNNER_MAIN_WINDOW_IDENTITY_H_
#define TALVOR_RUNNER_MAIN_WINDOW_IDENTITY_H_

inline constexpr wchar_t kMainWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
inline constexpr wchar_t kMainWindowTitle[] = L"Talvor VPN";

#endif  // TALVOR_RUNNER_MAIN_WINDOW_IDENTITY_H_
