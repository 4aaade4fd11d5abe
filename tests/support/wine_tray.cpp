#include "tests/support/wine_tray.h"

#include <commctrl.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "runner/win32_handles.h"

namespace talvor::test {

namespace {

constexpr wchar_t kTrayIconClass[] = L"__winex11_tray_icon";
constexpr wchar_t kTooltipClass[] = L"tooltips_class32";
// Wine's tooltip control copies up to 1024 characters whatever the buffer.
constexpr size_t kTooltipCapacity = 1024;
// Pixels of a colour needed to call the badge that colour (a 16-pixel icon's
// dot alone has more than 10).
constexpr int kBadgePixels = 4;
constexpr int kColourTolerance = 10;

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

struct ClassSearch {
  const wchar_t* class_name;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectIfOfClass(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<ClassSearch*>(parameter);
  if (ClassOf(window) == search->class_name) search->found.push_back(window);
  return TRUE;
}

// Top-level windows and all their descendants of that class.
std::vector<HWND> WindowsOfClassInTree(const wchar_t* class_name) {
  ClassSearch search{class_name, {}};
  EnumWindows(
      [](HWND window, LPARAM parameter) -> BOOL {
        CollectIfOfClass(window, parameter);
        EnumChildWindows(window, CollectIfOfClass, parameter);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Memory in another process for messages whose parameters point to memory:
// the tooltip control reads and writes it in its own address space.
class RemoteBuffer {
 public:
  RemoteBuffer(DWORD process_id, size_t size)
      : process_(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, process_id)),
        size_(size) {
    if (process_) {
      address_ = static_cast<uint8_t*>(
          VirtualAllocEx(process_.get(), nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    }
  }
  ~RemoteBuffer() {
    if (address_ != nullptr) VirtualFreeEx(process_.get(), address_, 0, MEM_RELEASE);
  }
  RemoteBuffer(const RemoteBuffer&) = delete;
  RemoteBuffer& operator=(const RemoteBuffer&) = delete;

  uint8_t* address() const { return address_; }
  bool Write(size_t offset, const void* data, size_t size) const {
    return address_ != nullptr && offset + size <= size_ &&
           WriteProcessMemory(process_.get(), address_ + offset, data, size, nullptr);
  }
  bool Read(size_t offset, void* data, size_t size) const {
    return address_ != nullptr && offset + size <= size_ &&
           ReadProcessMemory(process_.get(), address_ + offset, data, size, nullptr);
  }

 private:
  UniqueKernelHandle process_;
  size_t size_;
  uint8_t* address_ = nullptr;
};

// The tool of `tooltip` that belongs to `icon`, read into `tool`, its text
// pointing into `remote` after the tool itself.
bool FindTool(HWND tooltip, HWND icon, const RemoteBuffer& remote, TTTOOLINFOW* tool) {
  const int count = static_cast<int>(SendMessageW(tooltip, TTM_GETTOOLCOUNT, 0, 0));
  for (int index = 0; index < count; ++index) {
    TTTOOLINFOW request{};
    request.cbSize = sizeof request;
    request.lpszText = reinterpret_cast<LPWSTR>(remote.address() + sizeof request);
    if (!remote.Write(0, &request, sizeof request)) return false;
    if (!SendMessageW(tooltip, TTM_ENUMTOOLSW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(remote.address())))
      continue;
    TTTOOLINFOW found{};
    if (!remote.Read(0, &found, sizeof found)) return false;
    if (found.hwnd != icon) continue;
    *tool = found;
    return true;
  }
  return false;
}

bool Near(int value, int wanted) { return std::abs(value - wanted) <= kColourTolerance; }

bool IsColour(uint32_t pixel, COLORREF colour) {
  return Near((pixel >> 16) & 0xFF, GetRValue(colour)) && Near((pixel >> 8) & 0xFF, GetGValue(colour)) &&
         Near(pixel & 0xFF, GetBValue(colour));
}

}  // namespace

const char* ToString(TrayBadge badge) {
  switch (badge) {
    case TrayBadge::kUnknown:
      return "unknown";
    case TrayBadge::kGrey:
      return "grey";
    case TrayBadge::kGreen:
      return "green";
  }
  return "?";
}

std::vector<HWND> TrayIconWindows() { return WindowsOfClassInTree(kTrayIconClass); }

std::wstring TrayIconTooltip(HWND icon) {
  DWORD process_id = 0;
  if (!IsWindow(icon) || GetWindowThreadProcessId(icon, &process_id) == 0) return {};
  const size_t text_bytes = (kTooltipCapacity + 1) * sizeof(wchar_t);
  RemoteBuffer remote(process_id, sizeof(TTTOOLINFOW) + text_bytes);
  if (remote.address() == nullptr) return {};
  for (HWND tooltip : WindowsOfClassInTree(kTooltipClass)) {
    DWORD owner = 0;
    GetWindowThreadProcessId(tooltip, &owner);
    if (owner != process_id) continue;
    TTTOOLINFOW tool{};
    if (!FindTool(tooltip, icon, remote, &tool)) continue;
    tool.lpszText = reinterpret_cast<LPWSTR>(remote.address() + sizeof tool);
    const wchar_t nothing = L'\0';
    if (!remote.Write(0, &tool, sizeof tool) || !remote.Write(sizeof tool, &nothing, sizeof nothing)) return {};
    SendMessageW(tooltip, TTM_GETTEXTW, kTooltipCapacity, reinterpret_cast<LPARAM>(remote.address()));
    std::wstring text(kTooltipCapacity + 1, L'\0');
    if (!remote.Read(sizeof tool, text.data(), text_bytes)) return {};
    text.resize(text.find(L'\0'));
    return text;
  }
  return {};
}

TrayBadge TrayIconBadge(HWND icon) {
  RECT frame{};
  if (!IsWindow(icon) || !GetWindowRect(icon, &frame)) return TrayBadge::kUnknown;
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  if (width <= 0 || height <= 0) return TrayBadge::kUnknown;

  // The screen as shown, copied into 32-bit pixels.
  ScopedGetDc screen(nullptr);
  UniqueMemoryDc memory(CreateCompatibleDC(screen.get()));
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  UniqueGdiObject bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
  if (!screen || !memory || !bitmap) return TrayBadge::kUnknown;
  {
    ScopedSelectObject select(memory.get(), bitmap.get());
    if (!BitBlt(memory.get(), 0, 0, width, height, screen.get(), frame.left, frame.top, SRCCOPY)) {
      return TrayBadge::kUnknown;
    }
    GdiFlush();
  }
  const auto* pixels = static_cast<const uint32_t*>(bits);
  const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
  const auto grey = std::count_if(pixels, pixels + count, [](uint32_t pixel) { return IsColour(pixel, RGB(148, 163, 184)); });
  const auto green = std::count_if(pixels, pixels + count, [](uint32_t pixel) { return IsColour(pixel, RGB(34, 197, 94)); });
  if (green >= kBadgePixels && grey < kBadgePixels) return TrayBadge::kGreen;
  if (grey >= kBadgePixels && green < kBadgePixels) return TrayBadge::kGrey;
  return TrayBadge::kUnknown;
}

std::optional<POINT> ClickTrayIcon(HWND icon, TrayClick click) {
  RECT client{};
  if (!IsWindow(icon) || !GetClientRect(icon, &client)) return std::nullopt;
  POINT centre{client.right / 2, client.bottom / 2};
  const LPARAM at = MAKELPARAM(centre.x, centre.y);
  const auto post = [&](UINT message, WPARAM buttons) { PostMessageW(icon, message, buttons, at); };
  switch (click) {
    case TrayClick::kSingle:
      post(WM_LBUTTONDOWN, MK_LBUTTON);
      post(WM_LBUTTONUP, 0);
      break;
    case TrayClick::kDouble:
      post(WM_LBUTTONDOWN, MK_LBUTTON);
      post(WM_LBUTTONUP, 0);
      post(WM_LBUTTONDBLCLK, MK_LBUTTON);
      post(WM_LBUTTONUP, 0);
      break;
    case TrayClick::kRight:
      post(WM_RBUTTONDOWN, MK_RBUTTON);
      post(WM_RBUTTONUP, 0);
      break;
  }
  if (!ClientToScreen(icon, &centre)) return std::nullopt;
  return centre;
}

TrayIconWatch::TrayIconWatch() : before_(TrayIconWindows()) {}

std::vector<HWND> TrayIconWatch::NewIcons() const {
  std::vector<HWND> added;
  for (HWND icon : TrayIconWindows()) {
    if (std::find(before_.begin(), before_.end(), icon) == before_.end()) added.push_back(icon);
  }
  return added;
}

HWND TrayIconWatch::WaitForNewIcon(std::chrono::milliseconds timeout) const {
  HWND icon = nullptr;
  WaitUntil(
      [&] {
        const std::vector<HWND> added = NewIcons();
        icon = added.size() == 1 ? added.front() : nullptr;
        return icon != nullptr;
      },
      timeout);
  return icon;
}

bool WaitForTrayIconState(HWND icon, const std::wstring& tooltip, TrayBadge badge,
                          std::chrono::milliseconds timeout) {
  return WaitUntil([&] { return TrayIconTooltip(icon) == tooltip && TrayIconBadge(icon) == badge; }, timeout);
}

}  // namespace talvor::test
