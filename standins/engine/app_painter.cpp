#include "standins/engine/app_painter.h"

namespace talvor::standins {

namespace {

constexpr COLORREF kBackground = RGB(0xF4, 0xF6, 0xFA);
constexpr COLORREF kHeader = RGB(0x1E, 0x3A, 0x5F);
constexpr COLORREF kHeaderText = RGB(0xFF, 0xFF, 0xFF);
constexpr COLORREF kText = RGB(0x1F, 0x23, 0x28);
constexpr COLORREF kMuted = RGB(0x65, 0x6D, 0x76);
constexpr COLORREF kConnected = RGB(0x2E, 0xA0, 0x43);
constexpr COLORREF kDisconnected = RGB(0x8C, 0x95, 0x9F);
constexpr COLORREF kPrimary = RGB(0x25, 0x63, 0xEB);
constexpr COLORREF kDisabled = RGB(0xB6, 0xBE, 0xC8);
constexpr COLORREF kProblem = RGB(0xC0, 0x1C, 0x28);

// Layout in 96-DPI units.
constexpr int kMargin = 24;
constexpr int kHeaderHeight = 64;
constexpr int kButtonHeight = 44;
constexpr int kLineGap = 6;

HGDIOBJ MakeFont(int points_at_96, int weight, UINT dpi) {
  return CreateFontW(-MulDiv(points_at_96, static_cast<int>(dpi), 96), 0, 0, 0, weight, FALSE, FALSE,
                     FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Segoe UI");
}

void FillBox(HDC dc, const RECT& box, COLORREF color) {
  UniqueGdiObject brush(CreateSolidBrush(color));
  FillRect(dc, &box, static_cast<HBRUSH>(brush.get()));
}

bool Contains(const RECT& box, POINT point) {
  return point.x >= box.left && point.x < box.right && point.y >= box.top && point.y < box.bottom;
}

std::wstring OrNone(const std::string& text) { return text.empty() ? L"none" : Widen(text); }

}  // namespace

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

int AppPainter::Scale(int units) const { return MulDiv(units, static_cast<int>(dpi_), 96); }

void AppPainter::ReloadFonts() { fonts_ = Fonts(); }

void AppPainter::EnsureFonts(UINT dpi) {
  if (fonts_.dpi == dpi && fonts_.title) return;
  fonts_.title.reset(MakeFont(22, FW_SEMIBOLD, dpi));
  fonts_.heading.reset(MakeFont(18, FW_SEMIBOLD, dpi));
  fonts_.body.reset(MakeFont(14, FW_NORMAL, dpi));
  fonts_.small.reset(MakeFont(12, FW_NORMAL, dpi));
  fonts_.dpi = dpi;
}

// Draws wrapped text from `top` and returns where the next line starts.
int AppPainter::DrawLine(HDC dc, int top, const RECT& bounds, HGDIOBJ font, COLORREF color,
                         const std::wstring& text) {
  ScopedSelectObject select(dc, font);
  SetTextColor(dc, color);
  RECT box{bounds.left + Scale(kMargin), top, bounds.right - Scale(kMargin), bounds.bottom};
  const UINT format = DT_LEFT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format | DT_CALCRECT);
  box.right = bounds.right - Scale(kMargin);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &box, format);
  return box.bottom + Scale(kLineGap);
}

void AppPainter::DrawButton(HDC dc, const RECT& box, const std::wstring& label, bool primary, bool enabled) {
  const COLORREF fill = !enabled ? kDisabled : primary ? kPrimary : kBackground;
  const COLORREF edge = enabled ? kPrimary : kDisabled;
  UniqueGdiObject brush(CreateSolidBrush(fill));
  UniqueGdiObject pen(CreatePen(PS_SOLID, Scale(2), edge));
  {
    ScopedSelectObject select_brush(dc, brush.get());
    ScopedSelectObject select_pen(dc, pen.get());
    RoundRect(dc, box.left, box.top, box.right, box.bottom, Scale(10), Scale(10));
  }
  ScopedSelectObject select_font(dc, fonts_.heading.get());
  SetTextColor(dc, primary || !enabled ? kHeaderText : kPrimary);
  RECT text_box = box;
  DrawTextW(dc, label.c_str(), static_cast<int>(label.size()), &text_box,
            DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
}

void AppPainter::Paint(HDC dc, const RECT& bounds, UINT dpi, const AppScreen& screen) {
  dpi_ = dpi != 0 ? dpi : 96;
  EnsureFonts(dpi_);
  SetBkMode(dc, TRANSPARENT);
  FillBox(dc, bounds, kBackground);

  RECT header{bounds.left, bounds.top, bounds.right, bounds.top + Scale(kHeaderHeight)};
  FillBox(dc, header, kHeader);
  {
    ScopedSelectObject select(dc, fonts_.title.get());
    SetTextColor(dc, kHeaderText);
    RECT title{header.left + Scale(kMargin), header.top, header.right - Scale(kMargin), header.bottom};
    DrawTextW(dc, L"Talvor VPN", -1, &title, DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
  }

  int top = header.bottom + Scale(kMargin);
  const int dot = Scale(14);
  {
    UniqueGdiObject brush(CreateSolidBrush(screen.connected ? kConnected : kDisconnected));
    UniqueGdiObject pen(CreatePen(PS_NULL, 0, 0));
    ScopedSelectObject select_brush(dc, brush.get());
    ScopedSelectObject select_pen(dc, pen.get());
    const int left = bounds.left + Scale(kMargin);
    Ellipse(dc, left, top + Scale(6), left + dot, top + Scale(6) + dot);
  }
  {
    RECT state_line{bounds.left + Scale(kMargin) + dot + Scale(10), top, bounds.right, bounds.bottom};
    ScopedSelectObject select(dc, fonts_.heading.get());
    SetTextColor(dc, kText);
    const wchar_t* state = screen.connected ? (screen.via_tun ? L"Connected (TUN)" : L"Connected") : L"Disconnected";
    DrawTextW(dc, state, -1, &state_line, DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
    top += Scale(30);
  }
  top = DrawLine(dc, top, bounds, fonts_.body.get(), kMuted, L"Server: " + OrNone(screen.server_name));
  top += Scale(kMargin - kLineGap);

  const int left = bounds.left + Scale(kMargin);
  const int right = bounds.right - Scale(kMargin);
  toggle_button_ = RECT{left, top, right, top + Scale(kButtonHeight)};
  DrawButton(dc, toggle_button_, screen.connected ? L"Disconnect" : L"Connect", true,
             screen.can_toggle && !screen.silent);
  top = toggle_button_.bottom + Scale(12);
  tun_button_ = RECT{left, top, right, top + Scale(kButtonHeight)};
  DrawButton(dc, tun_button_, L"TUN", false, !screen.silent);
  top = tun_button_.bottom + Scale(kMargin);

  const wchar_t* elevation = screen.elevation == AppScreen::Elevation::kElevated      ? L"elevated"
                             : screen.elevation == AppScreen::Elevation::kNotElevated ? L"not elevated"
                                                                                      : L"unknown";
  top = DrawLine(dc, top, bounds, fonts_.body.get(), kText, std::wstring(L"Process: ") + elevation);
  top = DrawLine(dc, top, bounds, fonts_.body.get(), kText,
                 L"Pending TUN launch: " +
                     (screen.has_pending_tun_payload ? OrNone(screen.pending_tun_payload) : std::wstring(L"none")));
  top = DrawLine(dc, top, bounds, fonts_.body.get(), kText, L"Last deep link: " + OrNone(screen.last_deep_link));
  if (!screen.notice.empty()) top = DrawLine(dc, top, bounds, fonts_.body.get(), kMuted, Widen(screen.notice));
  if (!screen.problem.empty()) top = DrawLine(dc, top, bounds, fonts_.body.get(), kProblem, Widen(screen.problem));

  const std::wstring footer = screen.silent ? L"Stand-in application \u00B7 silent for a test"
                                            : L"Stand-in application";
  ScopedSelectObject select(dc, fonts_.small.get());
  SetTextColor(dc, kMuted);
  RECT footer_box{left, bounds.bottom - Scale(kMargin + 16), right, bounds.bottom - Scale(kMargin)};
  DrawTextW(dc, footer.c_str(), static_cast<int>(footer.size()), &footer_box,
            DT_LEFT | DT_SINGLELINE | DT_NOPREFIX);
}

AppPainter::Button AppPainter::HitTest(POINT point) const {
  if (Contains(toggle_button_, point)) return Button::kToggle;
  if (Contains(tun_button_, point)) return Button::kTun;
  return Button::kNone;
}

}  // namespace talvor::standins
