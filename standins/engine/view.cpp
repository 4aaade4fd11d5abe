#include "standins/engine/view.h"

#include "standins/engine/task_queue.h"

namespace talvor::standins {

namespace {

constexpr wchar_t kWindowClass[] = L"TalvorStandinView";
constexpr UINT kDefaultDpi = 96;

// MDT_EFFECTIVE_DPI of shcore's GetDpiForMonitor.
constexpr int kEffectiveDpi = 0;
using GetDpiForMonitorFunction = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);

}  // namespace

UINT EffectiveDpiForMonitor(HMONITOR monitor) {
  if (monitor == nullptr) return kDefaultDpi;
  UniqueModule shcore(LoadLibraryW(L"shcore.dll"));
  if (!shcore) return kDefaultDpi;
  auto get_dpi = reinterpret_cast<GetDpiForMonitorFunction>(
      reinterpret_cast<void*>(GetProcAddress(shcore.get(), "GetDpiForMonitor")));
  UINT dpi_x = 0;
  UINT dpi_y = 0;
  if (get_dpi == nullptr || FAILED(get_dpi(monitor, kEffectiveDpi, &dpi_x, &dpi_y)) || dpi_x == 0) {
    return kDefaultDpi;
  }
  return dpi_x;
}

View::View(ViewDelegate& delegate, HWND parking_parent, int width, int height)
    : delegate_(delegate), composition_(LoadLibraryW(L"dcomp.dll")) {
  WNDCLASSW window_class{};
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = &View::WindowProcedure;
  window_class.hInstance = ThisModule();
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kWindowClass;
  RegisterClassW(&window_class);  // fails harmlessly when already registered
  // The window procedure takes ownership of the handle in WM_NCCREATE.
  CreateWindowExW(0, kWindowClass, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, 0,
                  width > 0 ? width : 0, height > 0 ? height : 0, parking_parent, nullptr,
                  ThisModule(), this);
}

View::~View() {
  if (window_) SetWindowLongPtrW(window_.get(), GWLP_USERDATA, 0);
}

SIZE View::ClientSize() const {
  RECT client{};
  GetClientRect(window_.get(), &client);
  return SIZE{client.right - client.left, client.bottom - client.top};
}

UINT View::Dpi() const {
  if (!window_) return kDefaultDpi;
  return EffectiveDpiForMonitor(MonitorFromWindow(window_.get(), MONITOR_DEFAULTTONEAREST));
}

void View::RenderFrame() {
  if (!window_) return;
  const SIZE size = ClientSize();
  ScopedGetDc screen(window_.get());
  if (!screen) return;
  if (!back_buffer_ || size.cx != back_buffer_size_.cx || size.cy != back_buffer_size_.cy) {
    back_buffer_.reset(CreateCompatibleBitmap(screen.get(), size.cx > 0 ? size.cx : 1,
                                              size.cy > 0 ? size.cy : 1));
    back_buffer_size_ = size;
  }
  UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  if (!back_buffer_ || !memory) return;
  {
    ScopedSelectObject select(memory.get(), back_buffer_.get());
    delegate_.PaintFrame(memory.get(), RECT{0, 0, size.cx, size.cy}, Dpi());
  }
  has_frame_ = true;
  InvalidateRect(window_.get(), nullptr, FALSE);
}

void View::Paint() {
  PAINTSTRUCT paint{};
  HDC dc = BeginPaint(window_.get(), &paint);
  if (dc == nullptr) return;
  if (has_frame_) {
    UniqueMemoryDc memory(CreateCompatibleDC(dc));
    if (memory) {
      ScopedSelectObject select(memory.get(), back_buffer_.get());
      BitBlt(dc, 0, 0, back_buffer_size_.cx, back_buffer_size_.cy, memory.get(), 0, 0, SRCCOPY);
    }
  } else {
    FillRect(dc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  EndPaint(window_.get(), &paint);
  if (has_frame_ && !first_frame_shown_ && IsWindowVisible(window_.get())) {
    first_frame_shown_ = true;
    delegate_.FirstFrameShown();
  }
}

LRESULT View::HandleMessage(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      return 1;  // every pixel comes from the frame
    case WM_SIZE:
      delegate_.Resized();
      return 0;
    case WM_LBUTTONUP:
      delegate_.Clicked(POINT{static_cast<short>(LOWORD(lparam)), static_cast<short>(HIWORD(lparam))});
      return 0;
    case WM_NCDESTROY: {
      // Also reached when the parent destroys the view: nothing is left to
      // destroy later.
      HWND window = window_.release();
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      return DefWindowProcW(window, message, wparam, lparam);
    }
    default:
      return DefWindowProcW(window_.get(), message, wparam, lparam);
  }
}

LRESULT CALLBACK View::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* created = static_cast<View*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(created));
    created->window_.reset(window);
  }
  auto* view = reinterpret_cast<View*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (view == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return view->HandleMessage(message, wparam, lparam);
}

}  // namespace talvor::standins
