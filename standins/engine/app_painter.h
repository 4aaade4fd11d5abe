// Draws the built-in application's screen with GDI and says which button a
// point is on.
#ifndef TALVOR_STANDINS_ENGINE_APP_PAINTER_H_
#define TALVOR_STANDINS_ENGINE_APP_PAINTER_H_

#include <windows.h>

#include <string>

#include "runner/win32_handles.h"

namespace talvor::standins {

// Everything the screen shows.
struct AppScreen {
  enum class Elevation { kUnknown, kElevated, kNotElevated };

  bool connected = false;
  bool can_toggle = true;
  bool via_tun = false;
  std::string server_name;
  Elevation elevation = Elevation::kUnknown;
  bool has_pending_tun_payload = false;
  std::string pending_tun_payload;
  std::string last_deep_link;
  std::string notice;   // progress of a request
  std::string problem;  // the last failed call and its reply
  bool silent = false;
};

class AppPainter {
 public:
  enum class Button { kNone, kToggle, kTun };

  void Paint(HDC dc, const RECT& bounds, UINT dpi, const AppScreen& screen);

  // Which button was at `point` in the last frame.
  Button HitTest(POINT point) const;

  // Fonts are made again on the next frame.
  void ReloadFonts();

 private:
  struct Fonts {
    UniqueGdiObject title;
    UniqueGdiObject heading;
    UniqueGdiObject body;
    UniqueGdiObject small;
    UINT dpi = 0;
  };

  void EnsureFonts(UINT dpi);
  int Scale(int units) const;
  void DrawButton(HDC dc, const RECT& box, const std::wstring& label, bool primary, bool enabled);
  int DrawLine(HDC dc, int top, const RECT& bounds, HGDIOBJ font, COLORREF color,
               const std::wstring& text);

  Fonts fonts_;
  UINT dpi_ = 96;
  RECT toggle_button_{};
  RECT tun_button_{};
};

// UTF-8 to UTF-16; invalid input gives what the system makes of it.
std::wstring Widen(const std::string& text);

}  // namespace talvor::standins

#endif  // TALVOR_STANDINS_ENGINE_APP_PAINTER_H_
