// The desktop window manager's window attributes, reached at run time: the
// program imports no dwmapi.dll, which the loader would look for beside the
// program first.
#ifndef TALVOR_RUNNER_WINDOW_DWM_WINDOW_ATTRIBUTE_H_
#define TALVOR_RUNNER_WINDOW_DWM_WINDOW_ATTRIBUTE_H_

#include <windows.h>

// DwmSetWindowAttribute of the system folder's dwmapi.dll; E_NOTIMPL when
// that library or the function is not there.
HRESULT SetDwmWindowAttribute(HWND window, DWORD attribute, const void* value, DWORD size);

#endif  // TALVOR_RUNNER_WINDOW_DWM_WINDOW_ATTRIBUTE_H_
