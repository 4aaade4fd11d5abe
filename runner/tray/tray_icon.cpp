#include "runner/tray/tray_icon.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace {

constexpr wchar_t kInitialTooltip[] = L"Talvor VPN";
constexpr wchar_t kTooltipPrefix[] = L"Talvor VPN \u2014 ";
constexpr wchar_t kConnectedText[] = L"Подключено";
constexpr wchar_t kDisconnectedText[] = L"Отключено";
constexpr wchar_t kConnectText[] = L"Подключить";
constexpr wchar_t kDisconnectText[] = L"Отключить";
constexpr wchar_t kOpenText[] = L"Открыть";
constexpr wchar_t kExitText[] = L"Выход";

BOOL CallShellNotifyIcon(DWORD message, NOTIFYICONDATAW* data) {
  return Shell_NotifyIconW(message, data);
}

std::wstring StatusTooltip(bool connected, const std::wstring& server_name) {
  std::wstring tooltip = kTooltipPrefix;
  if (!connected) return tooltip + kDisconnectedText;
  tooltip += kConnectedText;
  if (!server_name.empty()) tooltip += L" (" + server_name + L")";
  return tooltip;
}

// Copies as much of `text` as the tooltip field holds, always terminated.
void SetTooltip(NOTIFYICONDATAW& data, const std::wstring& text) {
  constexpr size_t kCapacity = sizeof(data.szTip) / sizeof(data.szTip[0]);
  const size_t length = std::min(text.size(), kCapacity - 1);
  std::fill(std::begin(data.szTip), std::end(data.szTip), L'\0');
  std::copy_n(text.begin(), length, data.szTip);
}

}  // namespace

TrayIcon::TrayIcon() : TrayIcon(&CallShellNotifyIcon) {}

TrayIcon::TrayIcon(TrayShellNotifier notifier)
    : notifier_(std::move(notifier)),
      taskbar_created_message_(RegisterWindowMessageW(L"TaskbarCreated")) {}

TrayIcon::~TrayIcon() { Remove(); }

void TrayIcon::SetCommandHandler(TrayCommandHandler handler) {
  command_handler_ = std::move(handler);
}

bool TrayIcon::Create(HWND owner, HICON base_icon) {
  if (added_) return true;
  DestroyImages();
  // Kept so that an add the shell refuses (no taskbar yet, say at logon) is
  // tried again when the taskbar announces itself.
  pending_owner_ = owner;
  pending_base_icon_ = base_icon;
  if (base_icon == nullptr) base_icon = LoadIconW(nullptr, IDI_APPLICATION);

  disconnected_icon_ = CreateBadgedIcon(base_icon, kDisconnectedBadgeColor);
  connected_icon_ = CreateBadgedIcon(base_icon, kConnectedBadgeColor);
  if (!HasImages()) {
    DestroyImages();
    return false;
  }

  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner;
  data.uID = kTrayIconId;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = kTrayCallbackMessage;
  data.hIcon = CurrentImage();
  SetTooltip(data, kInitialTooltip);
  notify_data_ = data;

  // An elevated window would not hear the shell's announcement otherwise.
  ChangeWindowMessageFilterEx(owner, taskbar_created_message_, MSGFLT_ALLOW, nullptr);
  added_ = notifier_(NIM_ADD, &notify_data_) != FALSE;
  if (!added_) {
    DestroyImages();
    return false;
  }
  return true;
}

void TrayIcon::UpdateStatus(bool connected, bool can_toggle, const std::wstring& server_name) {
  connected_ = connected;
  can_toggle_ = can_toggle;
  server_name_ = server_name;
  // Before Create the state is only kept; Create and the menu read it.
  if (!HasImages()) return;
  WriteStatus();
  // Not in the notification area although wanted there: the state is shown
  // when the taskbar comes back.
  if (!added_) return;
  notifier_(NIM_MODIFY, &notify_data_);
}

bool TrayIcon::HandleCallbackMessage(HWND window, WPARAM wparam, LPARAM lparam) {
  if (wparam != kTrayIconId) return false;
  switch (LOWORD(lparam)) {
    case WM_LBUTTONDBLCLK:
      if (command_handler_) command_handler_(kTrayCommandOpen);
      return true;
    case WM_RBUTTONUP:
      ShowContextMenu(window);
      return true;
    default:
      return false;
  }
}

bool TrayIcon::HandleCommand(unsigned int command_id) {
  switch (command_id) {
    case kTrayCommandToggle:
    case kTrayCommandOpen:
    case kTrayCommandExit:
      if (command_handler_) command_handler_(command_id);
      return true;
    default:
      return false;
  }
}

bool TrayIcon::HandleTaskbarCreated(UINT message) {
  if (taskbar_created_message_ == 0 || message != taskbar_created_message_) return false;
  // Images exist exactly while the icon is wanted in the notification area:
  // after a successful Create and before Remove. A first add that the shell
  // refused is made anew from the base icon.
  if (!HasImages()) {
    if (pending_owner_ != nullptr) Create(pending_owner_, pending_base_icon_);
    return true;
  }
  notify_data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  added_ = notifier_(NIM_ADD, &notify_data_) != FALSE;
  return true;
}

void TrayIcon::Remove() {
  pending_owner_ = nullptr;
  pending_base_icon_ = nullptr;
  if (added_) {
    notifier_(NIM_DELETE, &notify_data_);
    added_ = false;
  }
  DestroyImages();
}

HICON TrayIcon::CurrentImage() const {
  return connected_ ? connected_icon_.get() : disconnected_icon_.get();
}

void TrayIcon::DestroyImages() {
  notify_data_.hIcon = nullptr;
  disconnected_icon_.reset();
  connected_icon_.reset();
}

void TrayIcon::WriteStatus() {
  SetTooltip(notify_data_, StatusTooltip(connected_, server_name_));
  notify_data_.hIcon = CurrentImage();
  notify_data_.uFlags = NIF_ICON | NIF_TIP;
}

void TrayIcon::ShowContextMenu(HWND window) {
  talvor::UniqueMenu menu(CreatePopupMenu());
  if (!menu) return;
  const UINT toggle_flags = MF_STRING | (can_toggle_ ? 0u : static_cast<UINT>(MF_GRAYED));
  AppendMenuW(menu.get(), toggle_flags, kTrayCommandToggle,
              connected_ ? kDisconnectText : kConnectText);
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, kTrayCommandOpen, kOpenText);
  AppendMenuW(menu.get(), MF_STRING, kTrayCommandExit, kExitText);

  SetForegroundWindow(window);
  POINT cursor{};
  GetCursorPos(&cursor);
  // Without TPM_RETURNCMD a chosen item arrives later as WM_COMMAND.
  TrackPopupMenu(menu.get(), TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0, window,
                 nullptr);
  menu.reset();
  // Lets the menu close properly when the user clicks elsewhere.
  PostMessageW(window, WM_NULL, 0, 0);
}

namespace {

struct BadgeGeometry {
  RECT ring;
  RECT dot;
};

BadgeGeometry BadgeGeometryFor(int width, int height) {
  const int margin = std::max(width / 16, 1);
  const int diameter = std::max(width / 3, 8);
  const int right = width - margin;
  const int bottom = height - margin;
  const int left = right - diameter;
  const int top = bottom - diameter;
  const int inset = std::max(diameter / 6, 1);
  return {RECT{left, top, right, bottom},
          RECT{left + inset, top + inset, right - inset, bottom - inset}};
}

// The size of the icon's image; a monochrome icon stacks its two masks.
bool ReadIconSize(HICON icon, int& width, int& height) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  const talvor::UniqueGdiObject color(info.hbmColor);
  const talvor::UniqueGdiObject mask(info.hbmMask);
  BITMAP bitmap{};
  if (GetObjectW(color ? color.get() : mask.get(), sizeof(bitmap), &bitmap) == 0) return false;
  width = bitmap.bmWidth;
  height = color ? bitmap.bmHeight : bitmap.bmHeight / 2;
  return true;
}

talvor::UniqueGdiObject CreateTopDownDib(HDC dc, int width, int height, void** pixels) {
  BITMAPV5HEADER header{};
  header.bV5Size = sizeof(header);
  header.bV5Width = width;
  header.bV5Height = -height;
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  return talvor::UniqueGdiObject(CreateDIBSection(
      dc, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, pixels, nullptr, 0));
}

// GDI leaves the alpha byte of every pixel it draws at 0. In an image with
// per-pixel alpha that would make the badge a transparent hole, so the badge
// area is marked opaque before drawing and, afterwards, the pixels that were
// not drawn get their own alpha back.
class BadgeAlphaKeeper {
 public:
  BadgeAlphaKeeper(uint32_t* pixels, int width, int height, const RECT& badge)
      : pixels_(pixels),
        width_(width),
        area_{std::max(badge.left, 0L), std::max(badge.top, 0L),
              std::min(badge.right, static_cast<LONG>(width)),
              std::min(badge.bottom, static_cast<LONG>(height))} {
    GdiFlush();
    const size_t count = static_cast<size_t>(width) * static_cast<size_t>(height);
    active_ = std::any_of(pixels, pixels + count, [](uint32_t pixel) { return Alpha(pixel) != 0; });
    if (!active_) return;
    ForEachBadgePixel([this](uint32_t& pixel) {
      saved_alpha_.push_back(Alpha(pixel));
      pixel |= kOpaque;
    });
  }

  // Call once the badge is drawn.
  void Settle() {
    if (!active_) return;
    GdiFlush();
    size_t index = 0;
    ForEachBadgePixel([this, &index](uint32_t& pixel) {
      const uint32_t saved = saved_alpha_[index++];
      if (Alpha(pixel) == 0) {
        pixel |= kOpaque;
      } else {
        pixel = (pixel & ~kOpaque) | (saved << 24);
      }
    });
  }

 private:
  static constexpr uint32_t kOpaque = 0xFF000000u;
  static uint32_t Alpha(uint32_t pixel) { return pixel >> 24; }

  template <typename Action>
  void ForEachBadgePixel(Action action) {
    for (LONG y = area_.top; y < area_.bottom; ++y) {
      for (LONG x = area_.left; x < area_.right; ++x) {
        action(pixels_[static_cast<size_t>(y) * static_cast<size_t>(width_) +
                       static_cast<size_t>(x)]);
      }
    }
  }

  uint32_t* pixels_;
  int width_;
  RECT area_;
  bool active_ = false;
  std::vector<uint32_t> saved_alpha_;
};

void DrawFilledEllipse(HDC dc, const RECT& bounds, COLORREF color) {
  const talvor::UniqueGdiObject pen(CreatePen(PS_SOLID, 1, color));
  const talvor::UniqueGdiObject brush(CreateSolidBrush(color));
  const talvor::ScopedSelectObject select_pen(dc, pen.get());
  const talvor::ScopedSelectObject select_brush(dc, brush.get());
  Ellipse(dc, bounds.left, bounds.top, bounds.right, bounds.bottom);
}

}  // namespace

talvor::UniqueIcon CreateBadgedIcon(HICON base_icon, COLORREF badge_color) {
  int width = 0;
  int height = 0;
  if (!ReadIconSize(base_icon, width, height)) return {};

  talvor::UniqueMemoryDc color_dc;
  talvor::UniqueMemoryDc mask_dc;
  talvor::UniqueGdiObject color_bitmap;
  talvor::UniqueGdiObject mask_bitmap;
  void* pixels = nullptr;
  {
    const talvor::ScopedGetDc screen(nullptr);
    if (!screen) return {};
    color_dc.reset(CreateCompatibleDC(screen.get()));
    mask_dc.reset(CreateCompatibleDC(screen.get()));
    color_bitmap = CreateTopDownDib(screen.get(), width, height, &pixels);
    mask_bitmap.reset(CreateBitmap(width, height, 1, 1, nullptr));
  }
  if (!color_dc || !mask_dc || !color_bitmap || !mask_bitmap || pixels == nullptr) return {};

  const talvor::ScopedSelectObject select_color(color_dc.get(), color_bitmap.get());
  const talvor::ScopedSelectObject select_mask(mask_dc.get(), mask_bitmap.get());

  auto* const first = static_cast<uint32_t*>(pixels);
  std::fill(first, first + static_cast<size_t>(width) * static_cast<size_t>(height), 0u);
  PatBlt(mask_dc.get(), 0, 0, width, height, WHITENESS);
  DrawIconEx(color_dc.get(), 0, 0, base_icon, width, height, 0, nullptr, DI_NORMAL);

  const BadgeGeometry badge = BadgeGeometryFor(width, height);
  BadgeAlphaKeeper alpha(first, width, height, badge.ring);
  DrawFilledEllipse(color_dc.get(), badge.ring, kBadgeRingColor);
  DrawFilledEllipse(color_dc.get(), badge.dot, badge_color);
  alpha.Settle();

  ICONINFO icon_info{};
  icon_info.fIcon = TRUE;
  icon_info.xHotspot = 0;
  icon_info.yHotspot = 0;
  icon_info.hbmMask = static_cast<HBITMAP>(mask_bitmap.get());
  icon_info.hbmColor = static_cast<HBITMAP>(color_bitmap.get());
  return talvor::UniqueIcon(CreateIconIndirect(&icon_info));
}
