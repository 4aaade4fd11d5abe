#include "runner/log/log_line.h"

#include <cstdio>

namespace talvor::log {

namespace {

constexpr char kCutMark[] = "\xE2\x80\xA6";  // "…"

const char* LevelName(Level level) {
  switch (level) {
    case Level::kWarning:
      return "WARN";
    case Level::kError:
      return "ERROR";
    case Level::kInfo:
    default:
      return "INFO";
  }
}

void AppendEscaped(std::string& out, unsigned char byte) {
  switch (byte) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default: {
      char escape[5];
      std::snprintf(escape, sizeof(escape), "\\x%02X", byte);
      out += escape;
    }
  }
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

bool IsContinuationByte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// `text` cut to at most `limit` bytes without splitting a character, marked
// when cut.
std::string CutAt(std::string text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && IsContinuationByte(static_cast<unsigned char>(text[end]))) --end;
  text.resize(end);
  return text + kCutMark;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool MatchesAt(std::string_view text, size_t at, std::string_view pattern) {
  if (pattern.empty() || text.size() - at < pattern.size()) return false;
  for (size_t index = 0; index < pattern.size(); ++index) {
    if (LowerAscii(text[at + index]) != LowerAscii(pattern[index])) return false;
  }
  return true;
}

// Whether a path component that ended before `at` ends there: "C:\Users\Ann"
// is not the start of "C:\Users\Anna".
bool ComponentEndsAt(std::string_view text, size_t at) {
  if (at == text.size()) return true;
  const unsigned char next = static_cast<unsigned char>(text[at]);
  const bool continues_name = (next >= '0' && next <= '9') || (next >= 'a' && next <= 'z') ||
                              (next >= 'A' && next <= 'Z') || next == '.' || next == '_' ||
                              next == '-' || next >= 0x80;
  return !continues_name;
}

}  // namespace

std::string CleanMessage(std::string_view message) {
  std::string clean;
  clean.reserve(message.size());
  for (const char c : message) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (IsControl(byte)) {
      AppendEscaped(clean, byte);
    } else {
      clean += c;
    }
    // Far enough: the rest is cut anyway.
    if (clean.size() > kMaxMessageBytes + 4) break;
  }
  return CutAt(std::move(clean), kMaxMessageBytes);
}

std::string HideProfile(std::string_view text, const std::vector<std::string>& profile_paths) {
  std::string hidden;
  hidden.reserve(text.size());
  size_t at = 0;
  while (at < text.size()) {
    bool replaced = false;
    for (const std::string& profile : profile_paths) {
      if (MatchesAt(text, at, profile) && ComponentEndsAt(text, at + profile.size())) {
        hidden += kProfilePlaceholder;
        at += profile.size();
        replaced = true;
        break;
      }
    }
    if (!replaced) hidden += text[at++];
  }
  return hidden;
}

std::string FormatLine(const SYSTEMTIME& utc, const Writer& writer, Level level,
                       std::string_view area, std::string_view message) {
  char header[96];
  std::snprintf(header, sizeof(header), "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ [%lu] %s %s ",
                utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond,
                utc.wMilliseconds, static_cast<unsigned long>(writer.process_id),
                writer.elevated ? "elevated" : "normal", LevelName(level));
  std::string line = header;
  line += CleanMessage(area.substr(0, kMaxAreaBytes));
  line += ": ";
  line += CleanMessage(message);
  line += "\r\n";
  return line;
}

}  // namespace talvor::log
