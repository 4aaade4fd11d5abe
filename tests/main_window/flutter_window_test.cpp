// The main window: its creation on the engine, its message routing, and
// hiding to the tray on a minimise.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "runner/window/main_window_run.h"
#include "tests/main_window/main_window_fixture.h"
#include "tests/support/stderr_capture.h"

namespace talvor::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

constexpr wchar_t kRunTitle[] = L"Talvor VPN (main window run)";

bool CloseIsQueued(HWND window) {
  MSG message;
  return PeekMessageW(&message, window, WM_CLOSE, WM_CLOSE, PM_NOREMOVE) != FALSE;
}

bool QuitIsQueued() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
}

// The engine whose first frame PostQuitAfterTheFirstFrame shows.
FakeEngine* frame_source = nullptr;

// A quit message from something other than the window's destruction (a
// plugin, or another program posting to the thread), once the first frame
// has brought the tray icon.
void CALLBACK PostQuitAfterTheFirstFrame(HWND, UINT, UINT_PTR timer, DWORD) {
  KillTimer(nullptr, timer);
  frame_source->RenderFrame();
  PostQuitMessage(3);
}

// Whether `window` waits to be painted.
bool PaintPending(HWND window) { return GetUpdateRect(window, nullptr, FALSE) != FALSE; }

TEST_F(MainWindowTest, CreationStartsTheEngineThenPluginsViewChannelsAndFirstFrameThenTheTrayIcon) {
  StderrCapture diagnostics;
  ASSERT_TRUE(OpenWindow());

  EXPECT_THAT(
      Timeline(),
      ElementsAre("FlutterDesktopEngineCreate", "FlutterDesktopViewControllerCreate",
                  "FlutterDesktopEngineGetPluginRegistrar(AppLinksPluginCApi)",
                  "AppLinksPluginCApiRegisterWithRegistrar",
                  "FlutterDesktopEngineGetPluginRegistrar(FlutterSecureStorageWindowsPlugin)",
                  "FlutterSecureStorageWindowsPluginRegisterWithRegistrar",
                  "FlutterDesktopEngineGetPluginRegistrar(UrlLauncherWindows)",
                  "UrlLauncherWindowsRegisterWithRegistrar", "FlutterDesktopViewGetHWND",
                  "FlutterDesktopMessengerSetCallback(com.talvor.talvorApp/tray)",
                  "FlutterDesktopMessengerSetCallback(com.talvor.talvorApp/windows_runtime)",
                  "FlutterDesktopEngineSetNextFrameCallback",
                  "FlutterDesktopViewControllerForceRedraw"));
  EXPECT_THAT(plugin_registrars_,
              ElementsAre(engine_.RegistrarFor("AppLinksPluginCApi"),
                          engine_.RegistrarFor("FlutterSecureStorageWindowsPlugin"),
                          engine_.RegistrarFor("UrlLauncherWindows")));
  RECT client{};
  GetClientRect(Handle(), &client);
  const auto created = engine_.CallsTo("FlutterDesktopViewControllerCreate");
  ASSERT_EQ(created.size(), 1u);
  EXPECT_EQ(created[0].width, client.right);
  EXPECT_EQ(created[0].height, client.bottom);
  EXPECT_EQ(GetParent(engine_.ViewWindow()), Handle());

  EXPECT_FALSE(IsWindowVisible(Handle())) << "hidden until the first frame";
  EXPECT_THAT(tray_calls_, IsEmpty()) << "no tray icon before the first frame";
  bool shown_and_painted_before_the_icon = false;
  on_tray_request_ = [&](DWORD) {
    shown_and_painted_before_the_icon = IsWindowVisible(Handle()) && !PaintPending(Handle()) &&
                                        !PaintPending(engine_.ViewWindow());
  };
  ASSERT_TRUE(engine_.RenderFrame());
  on_tray_request_ = nullptr;
  EXPECT_THAT(TrayRequests(), ElementsAre("NIM_ADD Talvor VPN", "NIM_SETVERSION 4"));
  EXPECT_TRUE(shown_and_painted_before_the_icon);
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  GetWindowPlacement(Handle(), &placement);
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_EQ(placement.showCmd, static_cast<UINT>(SW_SHOWNORMAL));
  EXPECT_THAT(diagnostics.Lines(), IsEmpty());
}

// An elevated instance must not open links: a browser, or whatever handler
// the user's registry names, would run with administrator rights.
TEST_F(MainWindowTest, AnElevatedWindowLeavesTheUrlOpeningPluginOut) {
  process_elevated_ = true;
  ASSERT_TRUE(OpenWindow());
  EXPECT_THAT(plugin_registrars_, ElementsAre(engine_.RegistrarFor("AppLinksPluginCApi"),
                                              engine_.RegistrarFor("FlutterSecureStorageWindowsPlugin")));
  EXPECT_THAT(Timeline(), Not(Contains(HasSubstr("UrlLauncher"))));
}

TEST_F(MainWindowTest, WithoutViewControllerOrEngineOpenFailsBeforeAnyPluginChannelOrTrayIcon) {
  for (const bool engine_fails : {false, true}) {
    SCOPED_TRACE(engine_fails ? "engine" : "view controller");
    engine_.set_fail_engine_create(engine_fails);
    engine_.set_fail_view_controller_create(!engine_fails);
    StderrCapture diagnostics;

    EXPECT_FALSE(OpenWindow());

    EXPECT_THAT(diagnostics.Lines(), ElementsAre("Failed to create view controller."));
    EXPECT_EQ(engine_.CountOf("FlutterDesktopEngineGetPluginRegistrar"), 0u);
    EXPECT_EQ(engine_.CountOf("FlutterDesktopMessengerSetCallback"), 0u);
    EXPECT_THAT(plugin_registrars_, IsEmpty());
    EXPECT_THAT(tray_calls_, IsEmpty());
    window_.reset();
    engine_.ClearCalls();
  }
}

TEST_F(MainWindowTest, MessagesTheViewControllerTakesGoNoFurther) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  engine_.set_top_level_window_proc(
      [](HWND, UINT message, WPARAM, LPARAM) -> std::optional<LRESULT> {
        if (message == WM_SIZE || message == WM_COMMAND || message == kTrayCallbackMessage)
          return 42;
        return std::nullopt;
      });

  EXPECT_EQ(SendMessageW(Handle(), WM_SIZE, SIZE_MINIMIZED, 0), 42);
  EXPECT_FALSE(window_->IsHiddenToTray());
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_EQ(SendMessageW(Handle(), WM_COMMAND, kTrayCommandExit, 0), 42);
  EXPECT_FALSE(CloseIsQueued(Handle()));
  ShowWindow(Handle(), SW_HIDE);
  EXPECT_EQ(SendTrayCallback(WM_LBUTTONDBLCLK), 42);
  EXPECT_FALSE(IsWindowVisible(Handle())) << "the double click did not open the window";
}

TEST_F(MainWindowTest, FontChangeReloadsFontsAndForeignTrayMessagesGetDefaultProcessing) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  ShowWindow(Handle(), SW_MINIMIZE);
  ASSERT_TRUE(window_->IsHiddenToTray());
  engine_.ClearCalls();
  tray_calls_.clear();

  SendMessageW(Handle(), WM_FONTCHANGE, 0, 0);
  EXPECT_EQ(engine_.CountOf("FlutterDesktopEngineReloadSystemFonts"), 1u);

  for (const WPARAM id : {0u, 40000u, 40005u}) {
    EXPECT_EQ(SendMessageW(Handle(), WM_COMMAND, id, 0),
              DefWindowProcW(Handle(), WM_COMMAND, id, 0));
  }
  const TrayCallback other_icon = Version4Callback(NIN_SELECT, 2, {});
  EXPECT_EQ(SendMessageW(Handle(), kTrayCallbackMessage, other_icon.wparam, other_icon.lparam), 0);
  EXPECT_EQ(SendTrayCallback(WM_LBUTTONUP), 0);
  EXPECT_FALSE(IsWindowVisible(Handle()));
  EXPECT_EQ(engine_.CountOf("FlutterDesktopMessengerSend"), 0u);
  EXPECT_FALSE(CloseIsQueued(Handle()));
  EXPECT_THAT(tray_calls_, IsEmpty());
}

// What Windows sends at the end of a session and, through the Restart
// Manager, when an installer needs the program's files.
TEST_F(MainWindowTest, ClosesAsTheTrayExitDoesOnlyWhenWindowsAsksForAnInstallation) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  ShowWindow(Handle(), SW_MINIMIZE);
  ASSERT_TRUE(window_->IsHiddenToTray());

  EXPECT_EQ(SendMessageW(Handle(), WM_QUERYENDSESSION, 0, ENDSESSION_CLOSEAPP), TRUE);
  EXPECT_FALSE(CloseIsQueued(Handle())) << "asked whether it may close";
  struct Ending {
    WPARAM ending;
    LPARAM reason;
    bool closes;
    const char* what;
  };
  for (const Ending& ending : {Ending{FALSE, ENDSESSION_CLOSEAPP, false, "an installation's close cancelled"},
                               Ending{TRUE, 0, false, "a shutdown"},
                               Ending{TRUE, ENDSESSION_LOGOFF, false, "a log-off"},
                               Ending{TRUE, ENDSESSION_CLOSEAPP, true, "an installation's close"}}) {
    EXPECT_EQ(SendMessageW(Handle(), WM_ENDSESSION, ending.ending, ending.reason), 0) << ending.what;
    EXPECT_EQ(CloseIsQueued(Handle()), ending.closes) << ending.what;
  }
}

TEST_F(MainWindowTest, MinimiseHidesToTheTrayOnceAndActivationBringsTheWindowBack) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();

  ShowWindow(Handle(), SW_MINIMIZE);
  EXPECT_TRUE(window_->IsHiddenToTray());
  EXPECT_FALSE(IsWindowVisible(Handle())) << "no taskbar button, only the tray icon";

  // Shown again by other means (a deep-link hand-off): the next minimise is
  // an ordinary one.
  ShowWindow(Handle(), SW_RESTORE);
  ShowWindow(Handle(), SW_MINIMIZE);
  EXPECT_TRUE(window_->IsHiddenToTray());
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_TRUE(IsIconic(Handle()));

  window_->ActivateMainWindow();
  EXPECT_FALSE(window_->IsHiddenToTray());
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_FALSE(IsIconic(Handle()));
  EXPECT_EQ(GetForegroundWindow(), Handle());

  ShowWindow(Handle(), SW_MINIMIZE);
  EXPECT_FALSE(IsWindowVisible(Handle())) << "hidden again once activated";
}

// A second start of the program asks the running window to come forward by
// a message of its own; the window comes back from the tray as "Открыть"
// brings it.
TEST_F(MainWindowTest, ASecondStartsMessageBringsTheWindowBackFromTheTray) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  ShowWindow(Handle(), SW_MINIMIZE);
  ASSERT_TRUE(window_->IsHiddenToTray());

  EXPECT_EQ(SendMessageW(Handle(), RegisterWindowMessageW(L"TalvorVPN.ActivateMainWindow"), 0, 0), 0);
  EXPECT_FALSE(window_->IsHiddenToTray());
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_FALSE(IsIconic(Handle()));
  EXPECT_EQ(GetForegroundWindow(), Handle());
}

// Hiding is only to an icon that is in the notification area; the shell's
// restart brings the icon back.
TEST_F(MainWindowTest, WithoutItsTrayIconTheWindowMinimisesToTheTaskbar) {
  const auto expect_ordinary_minimise = [this] {
    ShowWindow(Handle(), SW_MINIMIZE);
    EXPECT_FALSE(window_->IsHiddenToTray());
    EXPECT_TRUE(IsWindowVisible(Handle()));
    EXPECT_TRUE(IsIconic(Handle()));
    ShowWindow(Handle(), SW_RESTORE);
  };
  tray_accepts_ = false;
  ASSERT_TRUE(OpenWindow()) << "the window runs without a tray icon";
  engine_.RenderFrame();
  expect_ordinary_minimise();

  tray_accepts_ = true;
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  const UINT taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
  tray_accepts_ = false;
  EXPECT_EQ(SendMessageW(Handle(), taskbar_created, 0, 0), 0);
  expect_ordinary_minimise();

  tray_accepts_ = true;
  tray_calls_.clear();
  SendMessageW(Handle(), taskbar_created, 0, 0);
  EXPECT_THAT(TrayRequests(), ElementsAre("NIM_ADD Talvor VPN", "NIM_SETVERSION 4"));
  ShowWindow(Handle(), SW_MINIMIZE);
  EXPECT_FALSE(IsWindowVisible(Handle()));

  // Hidden to the icon when the shell loses it for good: back on the taskbar.
  tray_accepts_ = false;
  SendMessageW(Handle(), taskbar_created, 0, 0);
  EXPECT_FALSE(window_->IsHiddenToTray());
  EXPECT_TRUE(IsWindowVisible(Handle()));
  EXPECT_TRUE(IsIconic(Handle()));
}

TEST_F(MainWindowTest, ASizeOtherThanAMinimiseFitsTheViewToTheNewClientArea) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  RECT frame{};
  GetWindowRect(Handle(), &frame);
  SetWindowPos(Handle(), nullptr, 0, 0, frame.right - frame.left - 100,
               frame.bottom - frame.top - 200, SWP_NOMOVE | SWP_NOZORDER);

  RECT client{};
  RECT view{};
  GetClientRect(Handle(), &client);
  GetClientRect(engine_.ViewWindow(), &view);
  EXPECT_EQ(client.right, 340);
  EXPECT_EQ(client.bottom, 650);
  EXPECT_EQ(view.right, 340);
  EXPECT_EQ(view.bottom, 650);

  // Restored from the taskbar after an ordinary minimise.
  ShowWindow(Handle(), SW_MINIMIZE);
  ShowWindow(Handle(), SW_RESTORE);
  ShowWindow(Handle(), SW_MINIMIZE);
  SetWindowPos(engine_.ViewWindow(), nullptr, 0, 0, 10, 10, SWP_NOMOVE | SWP_NOZORDER);
  ShowWindow(Handle(), SW_RESTORE);
  GetClientRect(engine_.ViewWindow(), &view);
  EXPECT_EQ(view.right, 340);
  EXPECT_EQ(view.bottom, 650);
}

TEST_F(MainWindowTest, AQuitFromElsewhereEndsTheRunWithTheWindowTornDown) {
  MakeWindow();
  frame_source = &engine_;
  ASSERT_NE(SetTimer(nullptr, 0, 1, &PostQuitAfterTheFirstFrame), 0u);

  EXPECT_EQ(RunMainWindow(*window_, kRunTitle, {440, 850}), MainWindowOutcome::kEnded);

  EXPECT_EQ(window_->NativeHandle(), nullptr);
  EXPECT_EQ(FindWindowW(L"FLUTTER_RUNNER_WIN32_WINDOW", kRunTitle), nullptr);
  EXPECT_FALSE(engine_.engine_alive()) << "the engine went with the window";
  EXPECT_THAT(TrayRequests(), ElementsAre("NIM_ADD Talvor VPN", "NIM_SETVERSION 4", "NIM_DELETE"));
  EXPECT_FALSE(QuitIsQueued()) << "no second quit for a loop that has ended";
}

TEST_F(MainWindowTest, AWindowThatCannotStartTheEngineIsGoneWhenTheRunReturns) {
  engine_.set_fail_view_controller_create(true);
  StderrCapture diagnostics;
  MakeWindow();

  EXPECT_EQ(RunMainWindow(*window_, kRunTitle, {440, 850}), MainWindowOutcome::kContentFailed);

  EXPECT_EQ(window_->NativeHandle(), nullptr);
  EXPECT_EQ(FindWindowW(L"FLUTTER_RUNNER_WIN32_WINDOW", kRunTitle), nullptr);
  EXPECT_THAT(diagnostics.Lines(), ElementsAre("Failed to create view controller."));
  EXPECT_THAT(tray_calls_, IsEmpty());
  EXPECT_FALSE(QuitIsQueued());
}

// The window object can go while its native window is open (a failed start,
// an ended test): the native window goes before the parts its messages reach.
TEST_F(MainWindowTest, DestroyingTheOpenWindowReleasesItsPartsInOrder) {
  ASSERT_TRUE(OpenWindow());
  engine_.RenderFrame();
  const HWND handle = Handle();
  window_.reset();
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_THAT(TrayRequests(), ElementsAre("NIM_ADD Talvor VPN", "NIM_SETVERSION 4", "NIM_DELETE"));
  EXPECT_FALSE(engine_.engine_alive());
}

}  // namespace
}  // namespace talvor::test
