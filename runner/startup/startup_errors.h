// What the user is told when the program cannot start: a "Talvor VPN - Error"
// box that names the broken part of the installation and asks to reinstall.
// A program started from Explorer has no standard error to read.
#ifndef TALVOR_RUNNER_STARTUP_STARTUP_ERRORS_H_
#define TALVOR_RUNNER_STARTUP_STARTUP_ERRORS_H_

#include <string>

// The parts of the folder "data" beside the executable that the engine needs.
struct ApplicationFiles {
  bool data_folder = false;
  bool assets_folder = false;  // data\flutter_assets
  bool icu_data = false;       // data\icudtl.dat
  bool app_library = false;    // data\app.so
};

// What of the application's files is present beside the executable in
// `directory`.
ApplicationFiles InspectApplicationFiles(const std::wstring& directory);

// Why the main window could not be opened.
enum class MainWindowFailure {
  kNativeWindow,  // the system refused the window itself
  kEngine,        // the engine or its view could not be created
};

// The text for a main window that could not be opened, naming the first
// missing part of `files`, or the engine's files when none is missing.
std::wstring MainWindowFailureText(MainWindowFailure failure, const ApplicationFiles& files);

// The text for an executable whose folder cannot be found.
std::wstring InstallationFolderUnknownText();

// Shows `text` in the error box, with no owner window.
void ShowStartupError(const std::wstring& text);

#endif  // TALVOR_RUNNER_STARTUP_STARTUP_ERRORS_H_
