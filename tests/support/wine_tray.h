// The notification area as Wine shows it here, read from outside the program
// that owns an icon. With no desktop shell on the X display, Wine's
// explorer.exe draws the icons in its own "Wine System Tray" window: one
// child window of class "__winex11_tray_icon" per icon, each with a tooltip
// control holding the icon's tooltip text. This layout is Wine's, not
// Windows': tests that use it observe the program as it runs here.
#ifndef TALVOR_TESTS_SUPPORT_WINE_TRAY_H_
#define TALVOR_TESTS_SUPPORT_WINE_TRAY_H_

#include <windows.h>

#include <chrono>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/wait.h"

namespace talvor::test {

// The status badge's colour as the icon is drawn on screen.
enum class TrayBadge {
  kUnknown,  // neither colour, or both (not drawn yet, covered)
  kGrey,     // disconnected: RGB(148, 163, 184)
  kGreen,    // connected: RGB(34, 197, 94)
};
const char* ToString(TrayBadge badge);
inline void PrintTo(TrayBadge badge, std::ostream* out) { *out << ToString(badge); }

// Every icon window in the notification area now.
std::vector<HWND> TrayIconWindows();

// The tooltip text of an icon window; empty when it has none or it is gone.
std::wstring TrayIconTooltip(HWND icon);

// The badge as the icon's pixels on screen show it.
TrayBadge TrayIconBadge(HWND icon);

// A click on an icon, as the mouse makes it.
enum class TrayClick {
  kSingle,  // left button down and up
  kDouble,  // left button down, up, double click, up
  kRight,   // right button down and up
};

// Posts the mouse messages of `click` to `icon` at its centre, where Wine's
// notification area turns them into the owner's callback messages. Returns
// that point in screen coordinates; nothing when the icon is gone.
std::optional<POINT> ClickTrayIcon(HWND icon, TrayClick click);

// Tells the icons that appear after its construction from those already
// there (icons of processes that were ended without removing theirs stay
// in Wine's notification area).
class TrayIconWatch {
 public:
  TrayIconWatch();

  // Icons that were not there at construction and are there now.
  std::vector<HWND> NewIcons() const;
  // The one new icon, once exactly one has appeared; null on timeout.
  HWND WaitForNewIcon(std::chrono::milliseconds timeout = kDefaultWait) const;

 private:
  std::vector<HWND> before_;
};

// Waits until `icon` shows `tooltip` and `badge`; false on timeout.
bool WaitForTrayIconState(HWND icon, const std::wstring& tooltip, TrayBadge badge,
                          std::chrono::milliseconds timeout = kDefaultWait);

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_WINE_TRAY_H_
