// A top-level window of the main window's class and title, made by a test to
// stand in for a running instance of the program: it keeps the deep links
// handed to it, and comes forward when asked as the program's window does. Placed away from the notification area that Wine draws in the
// screen's top left corner.
#ifndef TALVOR_TESTS_SUPPORT_RUNNING_INSTANCE_WINDOW_H_
#define TALVOR_TESTS_SUPPORT_RUNNING_INSTANCE_WINDOW_H_

#include <windows.h>

#include <string>
#include <vector>

#include "runner/win32_handles.h"

namespace talvor::test {

class RunningInstanceWindow {
 public:
  RunningInstanceWindow();
  ~RunningInstanceWindow();
  RunningInstanceWindow(const RunningInstanceWindow&) = delete;
  RunningInstanceWindow& operator=(const RunningInstanceWindow&) = delete;

  HWND get() const { return window_.get(); }
  // The links handed over as the app links plugin hands them (WM_COPYDATA).
  const std::vector<std::string>& links() const { return links_; }
  // How often a start asked it to come forward ("TalvorVPN.ActivateMainWindow").
  int activations() const { return activations_; }

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  UniqueWindow window_;
  std::vector<std::string> links_;
  int activations_ = 0;
};

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_RUNNING_INSTANCE_WINDOW_H_
