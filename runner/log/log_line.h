// One line of the program's log, as it is written: UTC time with
// milliseconds, process id, elevated or not, level, area and message.
//
//   2026-12-08T09:15:02.417Z [4242] normal INFO start: version 1.0.0+14
//
// A line never holds a line break of its message, never more than
// kMaxMessageBytes of it, and never the user's profile folder by name.
#ifndef TALVOR_RUNNER_LOG_LOG_LINE_H_
#define TALVOR_RUNNER_LOG_LOG_LINE_H_

#include <windows.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace talvor::log {

enum class Level { kInfo, kWarning, kError };

// A message longer than this is cut (at a character's boundary) and marked
// with "…"; so no line grows past kMaxLineBytes.
inline constexpr size_t kMaxMessageBytes = 1024;
inline constexpr size_t kMaxAreaBytes = 16;
inline constexpr size_t kMaxLineBytes = 2048;

inline constexpr char kProfilePlaceholder[] = "%USERPROFILE%";

// Who writes: the same for every line of a process.
struct Writer {
  DWORD process_id = 0;
  bool elevated = false;
};

// The message as it may stand in a line: line breaks, tabs and other control
// characters written as escapes ("\n", "\r", "\t", "\x1B"), cut to
// kMaxMessageBytes.
std::string CleanMessage(std::string_view message);

// `text` with every occurrence of one of `profile_paths` (compared without
// regard to ASCII case, ending where a path component ends) written as
// %USERPROFILE%.
std::string HideProfile(std::string_view text, const std::vector<std::string>& profile_paths);

// The whole line, ending in "\r\n".
std::string FormatLine(const SYSTEMTIME& utc, const Writer& writer, Level level,
                       std::string_view area, std::string_view message);

}  // namespace talvor::log

#endif  // TALVOR_RUNNER_LOG_LOG_LINE_H_
