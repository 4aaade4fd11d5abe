// Trial, for measurement only: the line's header formatted by spdlog's
// pattern formatter (header-only spdlog and fmt, in this one translation
// unit) instead of snprintf. Built with -DTALVOR_LOG_WITH_SPDLOG=ON.
#define FMT_HEADER_ONLY
#define SPDLOG_NO_THREAD_ID
#define SPDLOG_LEVEL_NAMES {"TRACE", "DEBUG", "INFO", "WARN", "ERROR", "CRITICAL", "OFF"}
#include <spdlog/details/log_msg.h>
#include <spdlog/pattern_formatter.h>

#include <chrono>
#include <memory>

#include "runner/log/log_line.h"

namespace talvor::log {

namespace {

// "elevated" or "normal" for the %* flag.
class ElevationFlag : public spdlog::custom_flag_formatter {
 public:
  explicit ElevationFlag(bool elevated) : elevated_(elevated) {}
  void format(const spdlog::details::log_msg&, const std::tm&, spdlog::memory_buf_t& out) override {
    const char* text = elevated_ ? "elevated" : "normal";
    out.append(text, text + std::char_traits<char>::length(text));
  }
  std::unique_ptr<custom_flag_formatter> clone() const override {
    return spdlog::details::make_unique<ElevationFlag>(elevated_);
  }

 private:
  bool elevated_;
};

spdlog::level::level_enum SpdlogLevel(Level level) {
  switch (level) {
    case Level::kWarning:
      return spdlog::level::warn;
    case Level::kError:
      return spdlog::level::err;
    case Level::kInfo:
    default:
      return spdlog::level::info;
  }
}

std::chrono::system_clock::time_point TimeOf(const SYSTEMTIME& utc) {
  FILETIME file_time = {};
  SystemTimeToFileTime(&utc, &file_time);
  const std::uint64_t ticks = (static_cast<std::uint64_t>(file_time.dwHighDateTime) << 32) | file_time.dwLowDateTime;
  constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ull;
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::microseconds((ticks - kUnixEpochTicks) / 10)));
}

}  // namespace

std::string FormatLineWithSpdlog(const SYSTEMTIME& utc, const Writer& writer, Level level, std::string_view area,
                                 std::string_view message) {
  spdlog::pattern_formatter formatter(spdlog::pattern_time_type::utc, "\r\n");
  formatter.add_flag<ElevationFlag>('*', writer.elevated).set_pattern("%Y-%m-%dT%H:%M:%S.%eZ [%P] %* %l %n: %v");
  const std::string clean_area = CleanMessage(area.substr(0, kMaxAreaBytes));
  const std::string clean_message = CleanMessage(message);
  spdlog::details::log_msg entry(TimeOf(utc), spdlog::source_loc{}, spdlog::string_view_t(clean_area),
                                 SpdlogLevel(level), spdlog::string_view_t(clean_message));
  spdlog::memory_buf_t out;
  formatter.format(entry, out);
  (void)writer.process_id;  // %P is the process's own id
  return std::string(out.data(), out.size());
}

}  // namespace talvor::log
