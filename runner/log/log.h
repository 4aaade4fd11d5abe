// The program's log, for a user to hand to support: one line per event in
// %LOCALAPPDATA%\Talvor VPN\logs\ (two files of at most 1 MiB, written in
// turn), shared by every instance of the user.
//
// Writes are synchronous and short, on the caller's thread; no thread is
// started for them. A log that cannot be written never changes what the
// program does: logging stops quietly for the process. Nothing private goes
// in: a link is told by its scheme and length, launch payloads and what the
// application sends in a call's arguments never, and the user's profile
// folder is written as %USERPROFILE%.
#ifndef TALVOR_RUNNER_LOG_LOG_H_
#define TALVOR_RUNNER_LOG_LOG_H_

#include <windows.h>

#include <string>
#include <string_view>
#include <vector>

#include "runner/log/log_line.h"

namespace talvor::log {

// The folder below %LOCALAPPDATA% (the known folder, not the variable).
inline constexpr const wchar_t* kLogFolderBelowLocalAppData[] = {L"Talvor VPN", L"logs"};

void Write(Level level, std::string_view area, std::string_view message) noexcept;
inline void Info(std::string_view area, std::string_view message) noexcept {
  Write(Level::kInfo, area, message);
}
inline void Warning(std::string_view area, std::string_view message) noexcept {
  Write(Level::kWarning, area, message);
}
inline void Error(std::string_view area, std::string_view message) noexcept {
  Write(Level::kError, area, message);
}

// The start of this process: version, Windows version, elevated or not and
// the kinds of its arguments.
void Start(const std::vector<std::string>& arguments) noexcept;

// A message box about to be shown, with its caption and text.
void Box(Level level, std::string_view caption, std::string_view text) noexcept;
void Box(Level level, const std::wstring& caption, const std::wstring& text) noexcept;

// The process's exit code; returns it.
int Exit(int code) noexcept;

// UTF-8 of wide text (paths, box texts) for a message.
std::string Text(const std::wstring& text);
// What may be told of a link: its scheme and its length.
std::string DescribeLink(std::string_view link);
// The kinds of the arguments: links (as DescribeLink), the pending launch,
// and "other" for anything else; "none" for none.
std::string DescribeArguments(const std::vector<std::string>& arguments);
// "(left, top)-(right, bottom)".
std::string DescribeRect(const RECT& rect);
// A Windows error as its code and the system's text.
std::string DescribeError(DWORD code);

// %LOCALAPPDATA%\Talvor VPN\logs; empty when the known folder is unknown.
std::wstring LogFolder();

// Shows the log folder in the system's explorer.exe, from the Windows
// folder, never through file associations (an elevated instance would run
// whatever they name). False when it could not be started.
bool OpenLogFolderInExplorer();

// The program and command line that show `folder`, explorer.exe of
// `windows_folder`.
struct ExplorerCommand {
  std::wstring program;
  std::wstring command_line;
};
ExplorerCommand ExplorerCommandFor(const std::wstring& windows_folder, const std::wstring& folder);

}  // namespace talvor::log

#endif  // TALVOR_RUNNER_LOG_LOG_H_
