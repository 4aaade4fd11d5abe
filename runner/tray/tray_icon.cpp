#include "runner/tray/tray_icon.h"

#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "runner/log/log.h"

namespace {

constexpr wchar_t kInitialTooltip[] = L"Talvor VPN";
constexpr wchar_t kTooltipPrefix[] = L"Talvor VPN \u2014 ";
constexpr wchar_t kConnectedText[] = L"Подключено";
constexpr wchar_t kDisconnectedText[] = L"Отключено";
constexpr wchar_t kConnectText[] = L"Подключить";
constexpr wchar_t kDisconnectText[] = L"Отключить";
constexpr wchar_t kOpenText[] = L"Открыть";
constexpr wchar_t kExitText[] = L"Выход";
constexpr wchar_t kOpenLogFolderText[] = L"Открыть папку журнала";

// A compiler that reads this file in a legacy code page (MSVC without
// /utf-8) would turn the texts above into mojibake; stop the build instead.
static_assert(kConnectText[0] == 0x041F && kConnectText[9] == 0x044C && kConnectText[10] == 0,
              "sources must be compiled as UTF-8");

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

bool IsHighSurrogate(wchar_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }

// Copies as much of `text` as the tooltip field holds, always terminated. A
// character of two UTF-16 units that does not fit whole is left out, so the
// shell never gets half of one.
void SetTooltip(NOTIFYICONDATAW& data, const std::wstring& text) {
  constexpr size_t kCapacity = sizeof(data.szTip) / sizeof(data.szTip[0]);
  size_t length = std::min(text.size(), kCapacity - 1);
  if (length < text.size() && length > 0 && IsHighSurrogate(text[length - 1])) --length;
  std::fill(std::begin(data.szTip), std::end(data.szTip), L'\0');
  std::copy_n(text.begin(), length, data.szTip);
}

}  // namespace

TrayIcon::TrayIcon() : TrayIcon(&CallShellNotifyIcon) {}

TrayIcon::TrayIcon(TrayShellNotifier notifier, PopupMenuFactory make_menu)
    : notifier_(std::move(notifier)),
      make_menu_(std::move(make_menu)),
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
    talvor::log::Warning("tray", "not added: the badged images could not be made");
    DestroyImages();
    return false;
  }
  FillNotifyData(owner);

  // An elevated window would not hear the shell's announcement otherwise.
  ChangeWindowMessageFilterEx(owner, taskbar_created_message_, MSGFLT_ALLOW, nullptr);
  if (!AddToNotificationArea()) {
    talvor::log::Warning("tray", "not added: the shell refused");
    DestroyImages();
    return false;
  }
  talvor::log::Info("tray", "added");
  return true;
}

void TrayIcon::UpdateStatus(bool connected, bool can_toggle, const std::wstring& server_name) {
  connected_ = connected;
  can_toggle_ = can_toggle;
  server_name_ = server_name;
  status_reported_ = true;
  // Before Create the state is only kept; Create and the menu read it.
  if (!HasImages()) return;
  WriteStatus();
  // Not in the notification area although wanted there: the state is shown
  // when the taskbar comes back.
  if (!added_) return;
  notifier_(NIM_MODIFY, &notify_data_);
}

bool TrayIcon::HandleCallbackMessage(HWND window, WPARAM wparam, LPARAM lparam) {
  return version_4_ ? HandleVersion4Callback(window, wparam, lparam)
                    : HandleClassicCallback(window, wparam, lparam);
}

// The event in the low word of lParam, the icon id in its high word, and the
// point to anchor a menu at in wParam (the icon's place for the keyboard).
// A right click comes as WM_RBUTTONUP and then WM_CONTEXTMENU: only the
// latter opens the menu, once.
bool TrayIcon::HandleVersion4Callback(HWND window, WPARAM wparam, LPARAM lparam) {
  if (HIWORD(lparam) != kTrayIconId) return false;
  switch (LOWORD(lparam)) {
    case NIN_SELECT:
    case NIN_KEYSELECT:
    case WM_LBUTTONDBLCLK:
      OpenWindow();
      return true;
    case WM_CONTEXTMENU:
      ShowContextMenu(window, POINT{GET_X_LPARAM(wparam), GET_Y_LPARAM(wparam)});
      return true;
    default:
      return false;
  }
}

bool TrayIcon::HandleClassicCallback(HWND window, WPARAM wparam, LPARAM lparam) {
  if (wparam != kTrayIconId) return false;
  switch (LOWORD(lparam)) {
    case WM_LBUTTONDBLCLK:
      OpenWindow();
      return true;
    case WM_RBUTTONUP: {
      POINT cursor{};
      GetCursorPos(&cursor);
      ShowContextMenu(window, cursor);
      return true;
    }
    default:
      return false;
  }
}

void TrayIcon::OpenWindow() {
  if (command_handler_) command_handler_(kTrayCommandOpen);
}

bool TrayIcon::HandleCommand(unsigned int command_id) {
  switch (command_id) {
    case kTrayCommandToggle:
    case kTrayCommandOpen:
    case kTrayCommandExit:
    case kTrayCommandOpenLogFolder:
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
  talvor::log::Info("tray", AddToNotificationArea() ? "re-added after the taskbar came back"
                                                     : "re-add refused after the taskbar came back");
  return true;
}

void TrayIcon::Remove() {
  pending_owner_ = nullptr;
  pending_base_icon_ = nullptr;
  if (shell_took_icon_) notifier_(NIM_DELETE, &notify_data_);
  added_ = false;
  shell_took_icon_ = false;
  version_4_ = false;
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

void TrayIcon::FillNotifyData(HWND owner) {
  NOTIFYICONDATAW data{};
  data.cbSize = sizeof(data);
  data.hWnd = owner;
  data.uID = kTrayIconId;
  data.uCallbackMessage = kTrayCallbackMessage;
  data.hIcon = CurrentImage();
  // The main window adds its icon only after the first frame, by when the
  // application may have reported its state: the tooltip names it as the
  // image shows it.
  SetTooltip(data, status_reported_ ? StatusTooltip(connected_, server_name_) : kInitialTooltip);
  notify_data_ = data;
}

// The shell refuses to add an id that it still holds: it kept our icon over
// a quick restart, a program other than the shell sent the taskbar's
// announcement, or an earlier add reported failure after all. The icon it
// holds is then brought up to date instead.
bool TrayIcon::AddToNotificationArea() {
  notify_data_.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_SHOWTIP;
  added_ = notifier_(NIM_ADD, &notify_data_) != FALSE ||
           notifier_(NIM_MODIFY, &notify_data_) != FALSE;
  if (added_) shell_took_icon_ = true;
  version_4_ = added_ && AskForVersion4();
  return added_;
}

// Version 4 brings the single click and the keyboard (NIN_SELECT,
// NIN_KEYSELECT, WM_CONTEXTMENU). A restarted shell has forgotten it, so it
// is asked for after every add.
bool TrayIcon::AskForVersion4() {
  notify_data_.uVersion = NOTIFYICON_VERSION_4;
  return notifier_(NIM_SETVERSION, &notify_data_) != FALSE;
}

void TrayIcon::WriteStatus() {
  SetTooltip(notify_data_, StatusTooltip(connected_, server_name_));
  notify_data_.hIcon = CurrentImage();
  // With version 4 the shell shows the standard tooltip only when asked.
  notify_data_.uFlags = NIF_ICON | NIF_TIP | NIF_SHOWTIP;
}

void TrayIcon::ShowContextMenu(HWND window, POINT anchor) {
  talvor::UniqueMenu menu(make_menu_ ? make_menu_() : nullptr);
  if (!menu) return;
  const UINT toggle_flags = MF_STRING | (can_toggle_ ? 0u : static_cast<UINT>(MF_GRAYED));
  AppendMenuW(menu.get(), toggle_flags, kTrayCommandToggle,
              connected_ ? kDisconnectText : kConnectText);
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, kTrayCommandOpen, kOpenText);
  AppendMenuW(menu.get(), MF_STRING, kTrayCommandExit, kExitText);
  AppendMenuW(menu.get(), MF_SEPARATOR, 0, nullptr);
  AppendMenuW(menu.get(), MF_STRING, kTrayCommandOpenLogFolder, kOpenLogFolderText);

  // The menu takes the keyboard (arrows, Enter, Esc) and closes on a click
  // elsewhere only while its owner is in the foreground.
  SetForegroundWindow(window);
  // Without TPM_RETURNCMD a chosen item arrives later as WM_COMMAND.
  TrackPopupMenu(menu.get(), TPM_RIGHTALIGN | TPM_BOTTOMALIGN, anchor.x, anchor.y, 0, window,
                 nullptr);
  menu.reset();
  // Lets the menu close properly when the user clicks elsewhere.
  PostMessageW(window, WM_NULL, 0, 0);
}

namespace {

constexpr uint32_t kOpaque = 0xFF000000u;

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

// Whether the centre of pixel (x, y) lies inside the circle inscribed in the
// square `bounds` (right and bottom exclusive). Doubled coordinates keep the
// half-pixel centres whole; no pixel centre lies exactly on such a circle.
bool CircleCovers(const RECT& bounds, int x, int y) {
  const long dx = 2L * x + 1 - (bounds.left + bounds.right);
  const long dy = 2L * y + 1 - (bounds.top + bounds.bottom);
  const long diameter = bounds.right - bounds.left;
  return dx * dx + dy * dy < diameter * diameter;
}

// 0xAARRGGBB pixels with straight (not premultiplied) alpha, rows from the top.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> argb;

  uint32_t& At(int x, int y) {
    return argb[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
  }
};

uint32_t OpaqueDibPixel(COLORREF color) {
  return kOpaque | (static_cast<uint32_t>(GetRValue(color)) << 16) |
         (static_cast<uint32_t>(GetGValue(color)) << 8) | GetBValue(color);
}

// Reads `rows` rows of `bitmap` from the top at 32 bits per pixel.
bool ReadRows32(HDC dc, HBITMAP bitmap, int width, int rows, uint32_t* out) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -rows;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  return GetDIBits(dc, bitmap, 0, static_cast<UINT>(rows), out, &info, DIB_RGB_COLORS) == rows;
}

// A 1-bit bitmap read from the top: whether each pixel is set (white).
class MaskBits {
 public:
  bool Read(HDC dc, HBITMAP bitmap, int width, int rows) {
    struct {
      BITMAPINFOHEADER header;
      RGBQUAD colors[2];
    } info{};
    info.header.biSize = sizeof(info.header);
    info.header.biWidth = width;
    info.header.biHeight = -rows;
    info.header.biPlanes = 1;
    info.header.biBitCount = 1;
    info.header.biCompression = BI_RGB;
    stride_ = static_cast<size_t>((width + 31) / 32) * 4;
    bits_.assign(stride_ * static_cast<size_t>(rows), 0);
    if (GetDIBits(dc, bitmap, 0, static_cast<UINT>(rows), bits_.data(),
                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != rows) {
      return false;
    }
    // Which bit value is white is told by the colour table that comes back.
    one_is_white_ = info.colors[1].rgbRed != 0;
    return true;
  }

  bool IsWhite(int x, int y) const {
    const uint8_t byte = bits_[static_cast<size_t>(y) * stride_ + static_cast<size_t>(x) / 8];
    const bool bit = (byte & (0x80 >> (x % 8))) != 0;
    return bit == one_is_white_;
  }

 private:
  std::vector<uint8_t> bits_;
  size_t stride_ = 0;
  bool one_is_white_ = true;
};

bool HasAlphaChannel(const Pixels& image) {
  return std::any_of(image.argb.begin(), image.argb.end(),
                     [](uint32_t pixel) { return (pixel & kOpaque) != 0; });
}

// The base icon's own pixels, at its own size. An icon with an alpha channel
// keeps it as it is. One without (fewer than 32 bits, or a 32-bit image whose
// alpha is all zero, which the system draws through its mask; a monochrome
// icon) is opaque where its AND mask shows the image and clear elsewhere: its
// mask's inverting pixels have no equivalent in an image with alpha.
std::optional<Pixels> ReadBaseImage(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return std::nullopt;
  const talvor::UniqueGdiObject color(info.hbmColor);
  const talvor::UniqueGdiObject mask(info.hbmMask);
  BITMAP bitmap{};
  if (GetObjectW(color ? color.get() : mask.get(), sizeof(bitmap), &bitmap) == 0) {
    return std::nullopt;
  }
  Pixels image;
  image.width = bitmap.bmWidth;
  // A monochrome icon stacks its AND and XOR masks in one bitmap.
  image.height = color ? bitmap.bmHeight : bitmap.bmHeight / 2;
  if (image.width <= 0 || image.height <= 0 || !mask) return std::nullopt;
  image.argb.assign(static_cast<size_t>(image.width) * static_cast<size_t>(image.height), 0);

  const talvor::ScopedGetDc screen(nullptr);
  if (!screen) return std::nullopt;
  if (color) {
    if (!ReadRows32(screen.get(), static_cast<HBITMAP>(color.get()), image.width, image.height,
                    image.argb.data())) {
      return std::nullopt;
    }
    if (bitmap.bmBitsPixel == 32 && HasAlphaChannel(image)) return image;
  }

  MaskBits masks;
  const int mask_rows = color ? image.height : image.height * 2;
  if (!masks.Read(screen.get(), static_cast<HBITMAP>(mask.get()), image.width, mask_rows)) {
    return std::nullopt;
  }
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      uint32_t& pixel = image.At(x, y);
      if (masks.IsWhite(x, y)) {
        pixel = 0;  // the AND mask keeps the background here
      } else if (color) {
        pixel |= kOpaque;
      } else {
        pixel = masks.IsWhite(x, y + image.height) ? 0xFFFFFFFFu : kOpaque;
      }
    }
  }
  return image;
}

// Paints the ring and the dot over the image, opaque, pixel by pixel from
// their circles: no drawing call decides the badge's colour or alpha.
void PaintBadge(Pixels& image, COLORREF badge_color) {
  const BadgeGeometry badge = BadgeGeometryFor(image.width, image.height);
  const uint32_t ring = OpaqueDibPixel(kBadgeRingColor);
  const uint32_t dot = OpaqueDibPixel(badge_color);
  const int top = std::max(static_cast<int>(badge.ring.top), 0);
  const int bottom = std::min(static_cast<int>(badge.ring.bottom), image.height);
  const int left = std::max(static_cast<int>(badge.ring.left), 0);
  const int right = std::min(static_cast<int>(badge.ring.right), image.width);
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      if (CircleCovers(badge.dot, x, y)) {
        image.At(x, y) = dot;
      } else if (CircleCovers(badge.ring, x, y)) {
        image.At(x, y) = ring;
      }
    }
  }
}

talvor::UniqueGdiObject CreateTopDownDib(int width, int height, void** pixels) {
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
  const talvor::ScopedGetDc screen(nullptr);
  if (!screen) return {};
  return talvor::UniqueGdiObject(CreateDIBSection(
      screen.get(), reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, pixels, nullptr, 0));
}

// A mask that lets everything through: the colour image's alpha decides.
talvor::UniqueGdiObject CreateClearMask(int width, int height) {
  const size_t stride = static_cast<size_t>((width + 15) / 16) * 2;  // rows of whole words
  const std::vector<uint8_t> bits(stride * static_cast<size_t>(height), 0xFF);
  return talvor::UniqueGdiObject(CreateBitmap(width, height, 1, 1, bits.data()));
}

HICON AssembleWithSystem(ICONINFO& info) { return CreateIconIndirect(&info); }

}  // namespace

talvor::UniqueIcon CreateBadgedIcon(HICON base_icon, COLORREF badge_color) {
  return CreateBadgedIcon(base_icon, badge_color, &AssembleWithSystem);
}

talvor::UniqueIcon CreateBadgedIcon(HICON base_icon, COLORREF badge_color,
                                    const IconAssembler& assemble) {
  std::optional<Pixels> image = ReadBaseImage(base_icon);
  if (!image) return {};
  PaintBadge(*image, badge_color);

  void* dib_pixels = nullptr;
  const talvor::UniqueGdiObject color_bitmap = CreateTopDownDib(image->width, image->height,
                                                                &dib_pixels);
  const talvor::UniqueGdiObject mask_bitmap = CreateClearMask(image->width, image->height);
  if (!color_bitmap || !mask_bitmap || dib_pixels == nullptr) return {};
  std::copy(image->argb.begin(), image->argb.end(), static_cast<uint32_t*>(dib_pixels));
  // CreateIconIndirect wants bitmaps that no device context holds (these
  // never were selected into one) and whose drawing is complete.
  GdiFlush();

  ICONINFO icon_info{};
  icon_info.fIcon = TRUE;
  icon_info.xHotspot = 0;
  icon_info.yHotspot = 0;
  icon_info.hbmMask = static_cast<HBITMAP>(mask_bitmap.get());
  icon_info.hbmColor = static_cast<HBITMAP>(color_bitmap.get());
  return talvor::UniqueIcon(assemble(icon_info));
}
