// The program's top-level window host: a fixed-size, DPI-scaled window with
// one child window as its content, whose messages go to an overridable
// handler. Knows nothing of the engine.
#ifndef TALVOR_RUNNER_WINDOW_WIN32_WINDOW_H_
#define TALVOR_RUNNER_WINDOW_WIN32_WINDOW_H_

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "runner/window/window_placement.h"

// A point in 96-DPI units.
struct LogicalPoint {
  int32_t x = 0;
  int32_t y = 0;
};

class Win32Window {
 public:
  // Window style: a caption, a system menu and a minimise box; no sizing
  // border and no maximise box, so the user can neither resize nor maximise.
  static constexpr DWORD kWindowStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

  Win32Window();
  virtual ~Win32Window();

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the native window, hidden, with a client area of `size` scaled to
  // the DPI of the monitor nearest `origin`, at `origin` scaled the same way.
  // A native window held before is torn down first. Returns false when the
  // window cannot be created or OnWindowCreated refuses it.
  bool Open(const std::wstring& title, const LogicalPoint& origin, const LogicalSize& size);

  // Creates the native window, hidden, in `work_area` (physical pixels) with a
  // client area of `size` scaled to the DPI of the monitor that shows that
  // area, shrunk when the window would not fit it; without a work area, near
  // the primary screen's top-left corner (PlaceWindow). Otherwise as Open.
  bool OpenInWorkArea(const std::wstring& title, const LogicalSize& size,
                      const std::optional<RECT>& work_area);

  // Shows the window in its normal state.
  void ShowNormal();

  // Runs the destroy hook and destroys the native window, if any; the content
  // window goes with it.
  void Teardown();

  // The native window, or null when there is none.
  HWND NativeHandle() const { return hwnd_; }

  // The client rectangle of the native window.
  RECT ClientBounds() const;

  // Makes `content` a child filling the client area and gives it the focus.
  void AttachContent(HWND content);

  // When set, destroying the native window ends the thread's message loop.
  void SetQuitWhenDestroyed(bool quit_when_destroyed) { quit_when_destroyed_ = quit_when_destroyed; }

 protected:
  // Handles every message of the native window after creation has begun.
  virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  // Called once the native window exists; false fails Open.
  virtual bool OnWindowCreated();

  // Called before the native window goes away.
  virtual void OnWindowDestroying();

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam,
                                          LPARAM lparam) noexcept;

  // Creates the native window with its frame at `frame` (physical pixels),
  // after tearing down the one held before.
  bool Create(const std::wstring& title, const RECT& frame);

  bool quit_when_destroyed_ = false;
  // Owned by this object: destroyed by Teardown (and so by the destructor),
  // or by the user, in which case WM_DESTROY clears it.
  HWND hwnd_ = nullptr;
  HWND content_hwnd_ = nullptr;
};

// The user's app-theme choice for the title bar: true for dark, false for
// light, nothing when the setting cannot be read.
std::optional<bool> ReadDarkTitleBarPreference();

// Sets one attribute of a window's frame, as DwmSetWindowAttribute does.
using WindowAttributeSetter =
    std::function<HRESULT(HWND window, DWORD attribute, const void* value, DWORD size)>;

// Gives `window` a dark title bar when the user's apps use the dark theme.
void ApplySystemTheme(HWND window);
// The same through `set_attribute` instead of the system's call (tests).
void ApplySystemTheme(HWND window, const WindowAttributeSetter& set_attribute);

// Lets the system scale the window's frame with the DPI where it offers that.
void EnableNonClientScalingIfPresent(HWND window);

#endif  // TALVOR_RUNNER_WINDOW_WIN32_WINDOW_H_
