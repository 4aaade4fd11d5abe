// What the tray channel and the tray menu's commands need of the main
// window, and no more: the main window implements it.
#ifndef TALVOR_RUNNER_TRAY_TRAY_WINDOW_H_
#define TALVOR_RUNNER_TRAY_TRAY_WINDOW_H_

#include <windows.h>

#include "embedding/method_channel.h"
#include "runner/tray/tray_icon.h"

class TrayWindow {
 public:
  virtual ~TrayWindow() = default;

  virtual TrayIcon& tray_icon() = 0;
  // The channel that asks the user interface to toggle the connection; null
  // while there is none.
  virtual flutter::MethodCallChannel* tray_channel() = 0;
  // The window that the tray's exit command closes.
  virtual HWND WindowHandle() const = 0;
  // Shows, restores and brings forward a window hidden to the tray.
  virtual void ActivateMainWindow() = 0;
};

#endif  // TALVOR_RUNNER_TRAY_TRAY_WINDOW_H_
