// The main window's life in the start-up sequence: opened, run until it ends,
// and torn down before the start-up releases what the window relies on.
#ifndef TALVOR_RUNNER_WINDOW_MAIN_WINDOW_RUN_H_
#define TALVOR_RUNNER_WINDOW_MAIN_WINDOW_RUN_H_

#include <functional>
#include <string>

#include "runner/window/win32_window.h"

enum class MainWindowOutcome {
  kEnded,               // the message loop ran and ended
  kNativeWindowFailed,  // the system refused the window
  kContentFailed,       // the window's creation hook refused (no engine or view)
};

// Opens `window` in the primary monitor's work area and runs this thread's
// message loop until the window is destroyed or a WM_QUIT posted from
// elsewhere ends the loop. On every path the window is torn down before this
// returns, so that nothing it holds (engine, plugins, channels, tray icon)
// outlives it. `opened`, when given, runs once the window is open and before
// the loop starts.
MainWindowOutcome RunMainWindow(Win32Window& window, const std::wstring& title,
                                const LogicalSize& size, const std::function<void()>& opened = {});

#endif  // TALVOR_RUNNER_WINDOW_MAIN_WINDOW_RUN_H_
