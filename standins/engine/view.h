// The engine's view: a child window that shows the application's frames.
// A frame is drawn into a back buffer whether or not the window is visible
// (the program keeps its window hidden until the first frame), and painting
// copies the latest frame to the screen.
#ifndef TALVOR_STANDINS_ENGINE_VIEW_H_
#define TALVOR_STANDINS_ENGINE_VIEW_H_

#include <windows.h>

#include "runner/win32_handles.h"

namespace talvor::standins {

// What the view shows and whom it tells.
class ViewDelegate {
 public:
  virtual ~ViewDelegate() = default;
  virtual void PaintFrame(HDC dc, const RECT& bounds, UINT dpi) = 0;
  virtual void Clicked(POINT point) = 0;
  virtual void Resized() = 0;
  virtual void FirstFrameShown() = 0;
};

class View {
 public:
  // Creates the window as a child of `parking_parent`, at the given size.
  View(ViewDelegate& delegate, HWND parking_parent, int width, int height);
  ~View();
  View(const View&) = delete;
  View& operator=(const View&) = delete;

  // Null once the window is gone (also when its parent destroyed it).
  HWND window() const { return window_.get(); }

  // Draws a new frame into the back buffer and asks for a paint.
  void RenderFrame();

  // The effective DPI of the monitor that shows the view.
  UINT Dpi() const;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT HandleMessage(UINT message, WPARAM wparam, LPARAM lparam);
  void Paint();
  SIZE ClientSize() const;

  ViewDelegate& delegate_;
  // A real engine's renderer loads the system's composition library by its
  // bare name when it makes its surface. So does this view (it uses nothing
  // of it), so that the program's rule for libraries loaded by name meets
  // such a load.
  UniqueModule composition_;
  UniqueWindow window_;
  UniqueGdiObject back_buffer_;
  SIZE back_buffer_size_{0, 0};
  bool has_frame_ = false;
  bool first_frame_shown_ = false;
};

// The monitor's effective DPI, 96 when the system cannot say.
UINT EffectiveDpiForMonitor(HMONITOR monitor);

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_ENGINE_VIEW_H_
