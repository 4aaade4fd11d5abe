#include "runner/window/dwm_window_attribute.h"

#include "runner/library_search.h"

namespace {

using SetWindowAttributeFunction = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);

// Looked up once and kept for the life of the process.
SetWindowAttributeFunction SystemSetWindowAttribute() {
  static const talvor::UniqueModule dwmapi = LoadSystemLibrary(L"dwmapi.dll");
  static const SetWindowAttributeFunction function =
      dwmapi ? reinterpret_cast<SetWindowAttributeFunction>(
                   reinterpret_cast<void (*)()>(GetProcAddress(dwmapi.get(), "DwmSetWindowAttribute")))
             : nullptr;
  return function;
}

}  // namespace

HRESULT SetDwmWindowAttribute(HWND window, DWORD attribute, const void* value, DWORD size) {
  const SetWindowAttributeFunction function = SystemSetWindowAttribute();
  return function != nullptr ? function(window, attribute, value, size) : E_NOTIMPL;
}
