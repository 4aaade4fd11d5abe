// Owners of Win32 handles: each handle kind is released by exactly one owner,
// with the function the system asks for.
#ifndef TALVOR_RUNNER_WIN32_HANDLES_H_
#define TALVOR_RUNNER_WIN32_HANDLES_H_

#include <windows.h>

#include <utility>

namespace talvor {

// Move-only owner of one handle. `Traits` names the handle type, the value
// that means "none" and the release function.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { reset(); }

  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const noexcept { return handle_; }
  explicit operator bool() const noexcept { return handle_ != Traits::None(); }

  // Gives up ownership without releasing.
  Handle release() noexcept { return std::exchange(handle_, Traits::None()); }

  void reset(Handle handle = Traits::None()) noexcept {
    Handle old = std::exchange(handle_, handle);
    if (old != Traits::None()) Traits::Release(old);
  }

  // For out-parameters of system calls: releases what is held first.
  Handle* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::None();
};

namespace handle_traits {

struct Kernel {
  using Handle = HANDLE;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { CloseHandle(handle); }
};

// File handles from CreateFileW signal failure with INVALID_HANDLE_VALUE.
struct File {
  using Handle = HANDLE;
  static Handle None() noexcept { return INVALID_HANDLE_VALUE; }
  static void Release(Handle handle) noexcept { CloseHandle(handle); }
};

struct RegistryKey {
  using Handle = HKEY;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { RegCloseKey(handle); }
};

struct Module {
  using Handle = HMODULE;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { FreeLibrary(handle); }
};

struct Icon {
  using Handle = HICON;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { DestroyIcon(handle); }
};

struct Menu {
  using Handle = HMENU;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { DestroyMenu(handle); }
};

// Pens, brushes and bitmaps.
struct GdiObject {
  using Handle = HGDIOBJ;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { DeleteObject(handle); }
};

// Memory device contexts from CreateCompatibleDC.
struct MemoryDc {
  using Handle = HDC;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { DeleteDC(handle); }
};

struct LocalMemory {
  using Handle = HLOCAL;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { LocalFree(handle); }
};

struct Window {
  using Handle = HWND;
  static Handle None() noexcept { return nullptr; }
  static void Release(Handle handle) noexcept { DestroyWindow(handle); }
};

}  // namespace handle_traits

using UniqueKernelHandle = UniqueHandle<handle_traits::Kernel>;
using UniqueFileHandle = UniqueHandle<handle_traits::File>;
using UniqueRegistryKey = UniqueHandle<handle_traits::RegistryKey>;
using UniqueModule = UniqueHandle<handle_traits::Module>;
using UniqueIcon = UniqueHandle<handle_traits::Icon>;
using UniqueMenu = UniqueHandle<handle_traits::Menu>;
using UniqueGdiObject = UniqueHandle<handle_traits::GdiObject>;
using UniqueMemoryDc = UniqueHandle<handle_traits::MemoryDc>;
using UniqueLocalMemory = UniqueHandle<handle_traits::LocalMemory>;
using UniqueWindow = UniqueHandle<handle_traits::Window>;

// A device context borrowed with GetDC and given back with ReleaseDC.
class ScopedGetDc {
 public:
  explicit ScopedGetDc(HWND window) noexcept : window_(window), dc_(GetDC(window)) {}
  ~ScopedGetDc() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  ScopedGetDc(const ScopedGetDc&) = delete;
  ScopedGetDc& operator=(const ScopedGetDc&) = delete;

  HDC get() const noexcept { return dc_; }
  explicit operator bool() const noexcept { return dc_ != nullptr; }

 private:
  HWND window_;
  HDC dc_;
};

// Selects an object into a device context and puts the previous one back.
class ScopedSelectObject {
 public:
  ScopedSelectObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~ScopedSelectObject() {
    if (previous_ != nullptr && previous_ != HGDI_ERROR) SelectObject(dc_, previous_);
  }
  ScopedSelectObject(const ScopedSelectObject&) = delete;
  ScopedSelectObject& operator=(const ScopedSelectObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace talvor

#endif  // TALVOR_RUNNER_WIN32_HANDLES_H_
