// Entry point of talvor_app.exe: hands a deep link to a running instance, or
// checks the installation, opens the main window and runs the message loop.
#include <objbase.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "embedding/flutter_project.h"
#include "runner/elevation/pending_tun_launch.h"
#include "runner/elevation/process_elevation.h"
#include "runner/elevation/protected_installation.h"
#include "runner/flutter_window.h"
#include "runner/library_search.h"
#include "runner/log/log.h"
#include "runner/startup/debug_console.h"
#include "runner/startup/deep_link_handoff.h"
#include "runner/startup/installation_checks.h"
#include "runner/startup/startup_errors.h"
#include "runner/startup/startup_marker.h"
#include "runner/startup/url_scheme.h"
#include "runner/utils.h"
#include "runner/window/main_window_run.h"

namespace {

constexpr wchar_t kExecutableFileName[] = L"talvor_app.exe";
constexpr wchar_t kCoreLibraryFileName[] = L"talvor.dll";
constexpr wchar_t kTunnelDriverFileName[] = L"wintun.dll";
constexpr wchar_t kProjectDirectory[] = L"data";
constexpr LogicalSize kInitialWindowSize{440, 850};

std::wstring JoinPath(const std::wstring& directory, const wchar_t* file_name) {
  return (std::filesystem::path(directory) / file_name).wstring();
}

// A console for diagnostics: the parent's when it has one, a new one when a
// debugger watches.
void AttachDiagnosticsConsole() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && IsDebuggerPresent()) OpenDebugConsole();
}

// Runs the main window over `project`; a window that cannot be opened is
// explained to the user. The window is gone when this returns.
int RunMainWindowOver(const flutter::FlutterProject& project, std::wstring pending_tun_launch_path,
                      const std::wstring& directory, StartupMarker& startup) {
  FlutterWindow window(project, std::move(pending_tun_launch_path));
  // Once the window is open it takes links: starts that wait for it may hand
  // theirs over.
  const MainWindowOutcome outcome =
      RunMainWindow(window, kMainWindowTitle, kInitialWindowSize, [&startup] { startup.Release(); });
  if (outcome == MainWindowOutcome::kEnded) return EXIT_SUCCESS;
  const MainWindowFailure failure = outcome == MainWindowOutcome::kNativeWindowFailed
                                        ? MainWindowFailure::kNativeWindow
                                        : MainWindowFailure::kEngine;
  ShowStartupError(MainWindowFailureText(failure, InspectApplicationFiles(directory)));
  return EXIT_FAILURE;
}

// Everything between COM's set-up and its release, the URL scheme being in
// place. The core library stays loaded until the main window, declared after
// it, has gone.
int RunInstallation(const std::wstring& directory, StartupMarker& startup) {
  if (directory.empty()) {
    ShowStartupError(InstallationFolderUnknownText());
    return EXIT_FAILURE;
  }
  talvor::log::Info("install", "folder " + talvor::log::Text(directory));

  const talvor::UniqueModule core_library =
      LoadCoreLibrary(JoinPath(directory, kCoreLibraryFileName));
  if (!core_library) return EXIT_FAILURE;
  WarnIfTunnelDriverMissing(JoinPath(directory, kTunnelDriverFileName));

  flutter::FlutterProject project(kProjectDirectory);
  std::vector<std::string> entrypoint_arguments = ReadCommandLineArguments();
  std::wstring pending_tun_launch_path =
      ExtractPendingTunLaunchPath(&entrypoint_arguments, IsProcessElevated());
  project.set_entrypoint_arguments(std::move(entrypoint_arguments));
  // A launch handed to a copy that standard users can change is refused: it
  // is neither read nor deleted.
  if (!pending_tun_launch_path.empty() && ProtectedExecutablePath().empty()) {
    talvor::log::Warning("pending", "refused: this copy is not installed under Program Files");
    pending_tun_launch_path.clear();
  }

  return RunMainWindowOver(project, std::move(pending_tun_launch_path), directory, startup);
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  RestrictLibrarySearchToSystemFolder();
  StartupMarker startup = StartupMarker::Claim();
  const std::vector<std::string> arguments = ReadCommandLineArguments();
  talvor::log::Start(arguments);
  if (HandOffToRunningInstance(arguments, startup)) return talvor::log::Exit(EXIT_SUCCESS);

  const std::wstring directory = ExecutableDirectory();
  // The scheme is checked, and written where it differs, while the console
  // and COM are set up; it is in place before anything can fail or show.
  UrlSchemeRegistration url_scheme(directory.empty() ? std::wstring()
                                                     : JoinPath(directory, kExecutableFileName));
  AttachDiagnosticsConsole();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  url_scheme.Finish();
  const int exit_code = RunInstallation(directory, startup);
  CoUninitialize();
  return talvor::log::Exit(exit_code);
}
