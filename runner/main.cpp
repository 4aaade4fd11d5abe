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
#include "runner/deep_link_handoff.h"
#include "runner/elevation/pending_tun_launch.h"
#include "runner/flutter_window.h"
#include "runner/installation_checks.h"
#include "runner/library_search.h"
#include "runner/startup_marker.h"
#include "runner/url_scheme.h"
#include "runner/utils.h"
#include "runner/window_origin.h"

namespace {

constexpr wchar_t kExecutableFileName[] = L"talvor_app.exe";
constexpr wchar_t kCoreLibraryFileName[] = L"talvor.dll";
constexpr wchar_t kTunnelDriverFileName[] = L"wintun.dll";
constexpr wchar_t kProjectDirectory[] = L"data";

std::wstring JoinPath(const std::wstring& directory, const wchar_t* file_name) {
  return (std::filesystem::path(directory) / file_name).wstring();
}

// A console for diagnostics: the parent's when it has one, a new one when a
// debugger watches.
void AttachDiagnosticsConsole() {
  if (!AttachConsole(ATTACH_PARENT_PROCESS) && IsDebuggerPresent()) OpenDebugConsole();
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  RestrictLibrarySearchToSystemFolder();
  StartupMarker startup = StartupMarker::Claim();
  const std::vector<std::string> arguments = ReadCommandLineArguments();
  if (HandOffDeepLinkToRunningInstance(arguments, startup)) return EXIT_SUCCESS;

  AttachDiagnosticsConsole();
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

  const std::wstring directory = ExecutableDirectory();
  RegisterUrlScheme(JoinPath(directory, kExecutableFileName));

  talvor::UniqueModule core_library = LoadCoreLibrary(JoinPath(directory, kCoreLibraryFileName));
  if (!core_library) {
    CoUninitialize();
    return EXIT_FAILURE;
  }
  WarnIfTunnelDriverMissing(JoinPath(directory, kTunnelDriverFileName));

  flutter::FlutterProject project(kProjectDirectory);
  std::vector<std::string> entrypoint_arguments = ReadCommandLineArguments();
  std::wstring pending_tun_launch_path = ExtractPendingTunLaunchPath(&entrypoint_arguments);
  project.set_entrypoint_arguments(std::move(entrypoint_arguments));

  FlutterWindow window(project, std::move(pending_tun_launch_path));
  const WindowOrigin origin = CenteredWindowOrigin(QueryPrimaryWorkArea());
  if (!window.Open(kMainWindowTitle, LogicalPoint{origin.x, origin.y},
                   LogicalSize{kInitialWindowWidth, kInitialWindowHeight})) {
    core_library.reset();
    CoUninitialize();
    return EXIT_FAILURE;
  }
  // The window takes links now: starts that wait for it may hand theirs over.
  startup.Release();
  window.SetQuitWhenDestroyed(true);
  RunMessageLoop();

  core_library.reset();
  CoUninitialize();
  return EXIT_SUCCESS;
}
