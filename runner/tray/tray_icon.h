// The application's notification-area icon: the app icon with a grey or green
// status badge, a tooltip naming the state and server, and a context menu
// whose commands go to a handler installed by the main window.
#ifndef TALVOR_RUNNER_TRAY_TRAY_ICON_H_
#define TALVOR_RUNNER_TRAY_TRAY_ICON_H_

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>

#include "runner/win32_handles.h"

inline constexpr UINT kTrayIconId = 1;
inline constexpr UINT kTrayCallbackMessage = WM_USER + 1;

inline constexpr UINT kTrayCommandToggle = 40001;
inline constexpr UINT kTrayCommandOpen = 40002;
inline constexpr UINT kTrayCommandExit = 40003;
inline constexpr UINT kTrayCommandOpenLogFolder = 40004;

inline constexpr COLORREF kDisconnectedBadgeColor = RGB(148, 163, 184);
inline constexpr COLORREF kConnectedBadgeColor = RGB(34, 197, 94);
inline constexpr COLORREF kBadgeRingColor = RGB(255, 255, 255);

// Receives the command ids chosen in the tray (kTrayCommandToggle, ...Open,
// ...Exit, ...OpenLogFolder).
using TrayCommandHandler = std::function<void(unsigned int command_id)>;

// Sends one request to the notification area; Shell_NotifyIconW in the
// program, a recorder in tests.
using TrayShellNotifier = std::function<BOOL(DWORD message, NOTIFYICONDATAW* data)>;

// Makes the tray's context menu; CreatePopupMenu in the program.
using PopupMenuFactory = std::function<HMENU()>;

// Makes an icon from its mask and colour bitmaps; CreateIconIndirect in the
// program, an observer of the bitmaps handed over in tests.
using IconAssembler = std::function<HICON(ICONINFO& info)>;

class TrayIcon {
 public:
  TrayIcon();
  explicit TrayIcon(TrayShellNotifier notifier, PopupMenuFactory make_menu = &CreatePopupMenu);
  ~TrayIcon();

  TrayIcon(const TrayIcon&) = delete;
  TrayIcon& operator=(const TrayIcon&) = delete;

  // Replaces the handler of chosen commands.
  void SetCommandHandler(TrayCommandHandler handler);

  // Adds the icon, owned by `owner`, to the notification area, badged from
  // `base_icon` (the system's application icon when null), with the state
  // reported so far (the tooltip "Talvor VPN" while none was). True when the
  // icon is there; an icon already added is left as it is.
  bool Create(HWND owner, HICON base_icon);

  // Shows the connection state in the image, tooltip and menu. Before Create
  // the state is only kept, for Create and the menu to use.
  void UpdateStatus(bool connected, bool can_toggle, const std::wstring& server_name);

  // Handles a kTrayCallbackMessage, read in the layout of the notification
  // behaviour that the shell accepted. With version 4 a single click, Enter
  // or Space on the icon, or a double click opens the window, and the
  // context-menu request (right button, menu key, Shift+F10) shows the menu
  // at the point the shell gives. A shell that refused version 4 sends the
  // classic messages: a double click opens the window, a right click shows
  // the menu at the cursor. True when handled.
  bool HandleCallbackMessage(HWND window, WPARAM wparam, LPARAM lparam);

  // Passes a tray menu command to the handler. True for the tray's own ids.
  bool HandleCommand(unsigned int command_id);

  // Handles the shell's announcement that the taskbar was re-created (after
  // a restart of the shell, or sent by any program): the icon, if it was
  // wanted in the notification area, is added again with its current image
  // and tooltip, or brought up to date where the shell still holds it. True
  // when `message` is that announcement.
  bool HandleTaskbarCreated(UINT message);

  // Takes the icon out of the notification area and drops its images; the
  // reported state and the handler stay.
  void Remove();

  // Whether the icon is in the notification area now: only then can the
  // owner hide its window to it.
  bool IsInNotificationArea() const { return added_; }

 private:
  bool HasImages() const { return disconnected_icon_ && connected_icon_; }
  HICON CurrentImage() const;
  void DestroyImages();
  void FillNotifyData(HWND owner);
  bool AddToNotificationArea();
  bool AskForVersion4();
  void WriteStatus();
  bool HandleVersion4Callback(HWND window, WPARAM wparam, LPARAM lparam);
  bool HandleClassicCallback(HWND window, WPARAM wparam, LPARAM lparam);
  void OpenWindow();
  void ShowContextMenu(HWND window, POINT anchor);

  NOTIFYICONDATAW notify_data_{};
  bool added_ = false;
  // The shell took the icon since the last Remove; it may still hold it even
  // when a later re-add failed, so removal asks it to delete the icon.
  bool shell_took_icon_ = false;
  bool connected_ = false;
  bool can_toggle_ = true;
  bool status_reported_ = false;
  // The shell took version 4 for the icon shown now: callback messages come
  // in its layout.
  bool version_4_ = false;
  std::wstring server_name_;
  talvor::UniqueIcon disconnected_icon_;
  talvor::UniqueIcon connected_icon_;
  TrayCommandHandler command_handler_;
  TrayShellNotifier notifier_;
  PopupMenuFactory make_menu_;
  UINT taskbar_created_message_ = 0;
  // Where the icon was asked for, until Remove: a refused add is retried.
  HWND pending_owner_ = nullptr;
  HICON pending_base_icon_ = nullptr;  // shared resource icon, not owned
};

// Draws `base_icon` with a round badge of `badge_color` in a white ring in its
// lower right corner. Null when the base icon cannot be read or drawing fails.
talvor::UniqueIcon CreateBadgedIcon(HICON base_icon, COLORREF badge_color);
talvor::UniqueIcon CreateBadgedIcon(HICON base_icon, COLORREF badge_color,
                                    const IconAssembler& assemble);

#endif  // TALVOR_RUNNER_TRAY_TRAY_ICON_H_
