// The floor for start-up under Wine: a program that creates and shows one
// window, waits until it has been painted once, and exits. Given the name of
// an event as its argument, it sets the event once painted, so that the
// start-up can be timed without its ending.
#include <windows.h>
#include <shellapi.h>

namespace {

constexpr wchar_t kClassName[] = L"TALVOR_STARTUP_FLOOR";

void SignalPainted() {
  int count = 0;
  wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
  if (arguments == nullptr) return;
  if (count > 1) {
    HANDLE painted = OpenEventW(EVENT_MODIFY_STATE, FALSE, arguments[1]);
    if (painted != nullptr) {
      SetEvent(painted);
      CloseHandle(painted);
    }
  }
  LocalFree(arguments);
}

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      FillRect(paint.hdc, &paint.rcPaint, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      EndPaint(window, &paint);
      SignalPainted();
      DestroyWindow(window);  // painted once: the work is done
      return 0;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE instance, HINSTANCE, wchar_t*, int) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = Procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kClassName;
  if (RegisterClassW(&window_class) == 0) return 1;
  HWND window = CreateWindowExW(0, kClassName, L"Start-up floor", WS_OVERLAPPEDWINDOW | WS_VISIBLE, CW_USEDEFAULT,
                                CW_USEDEFAULT, 400, 700, nullptr, nullptr, instance, nullptr);
  if (window == nullptr) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
