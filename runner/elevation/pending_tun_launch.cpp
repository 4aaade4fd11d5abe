#include "runner/elevation/pending_tun_launch.h"

#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <new>
#include <optional>
#include <system_error>
#include <utility>

#include "runner/elevation/windows_error.h"
#include "runner/log/log.h"
#include "runner/utils.h"
#include "runner/win32_handles.h"

namespace {

constexpr char kOpenFailedMessage[] = "Не удалось открыть временный файл для запуска TUN.";
constexpr char kWriteFailedMessage[] = "Не удалось записать данные запуска TUN.";
constexpr wchar_t kPendingTunLaunchFileSuffix[] = L".tmp";

void SetMessage(std::string* message, const std::string& text) {
  if (message != nullptr) *message = text;
}

// A failure that left no error code behind gets no text rather than the text
// for success; the relaunch then reports its own.
void SetLastErrorMessage(std::string* message) {
  const DWORD code = GetLastError();
  if (code != ERROR_SUCCESS) SetMessage(message, NarrowUtf8(FormatWindowsError(code)));
}

void DeleteIgnoringErrors(const std::wstring& path) {
  std::error_code ignored;
  std::filesystem::remove(std::filesystem::path(path), ignored);
}

bool EqualIgnoringCase(const std::wstring& left, const std::wstring& right) {
  return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                              static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && EqualIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoringCase(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         EqualIgnoringCase(text.substr(text.size() - suffix.size()), suffix);
}

bool IsAsciiLetter(wchar_t c) { return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z'); }

// "X:\..." only: a network path would have the elevated process sign in to
// a server that the command line names.
bool IsOnDriveLetter(const std::wstring& path) {
  return path.size() > 3 && IsAsciiLetter(path[0]) && path[1] == L':' && path[2] == L'\\';
}

// A path that GetFullPathNameW gives back unchanged has no relative parts,
// no '/' and no trailing dots or blanks that the system would drop.
bool IsInFullPathForm(const std::wstring& path) {
  const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return false;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return false;
  full.resize(length);
  return full == path;
}

// Calls `query(buffer, capacity)` with a growing buffer until the answer fits;
// empty when the query fails.
template <typename Query>
std::wstring QueryPath(Query query) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 4; ++attempt) {
    const DWORD length = query(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (length == 0) return std::wstring();
    if (length < buffer.size()) {
      buffer.resize(length);
      return buffer;
    }
    buffer.assign(length + 1, L'\0');
  }
  return std::wstring();
}

// Where an open file is, as a drive-letter path; empty when elsewhere (a
// network share) or unknown.
std::wstring FinalPathOf(HANDLE file) {
  const std::wstring final_path = QueryPath([file](wchar_t* buffer, DWORD capacity) {
    return GetFinalPathNameByHandleW(file, buffer, capacity, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  });
  const std::wstring extended_prefix = L"\\\\?\\";
  if (final_path.compare(0, extended_prefix.size(), extended_prefix) != 0) return std::wstring();
  const std::wstring path = final_path.substr(extended_prefix.size());
  return IsOnDriveLetter(path) ? path : std::wstring();
}

// The path with every short (8.3) component in its long form, as final paths
// come: temporary folders are often named in short form.
std::wstring LongFormOf(const std::wstring& path) {
  return QueryPath([&path](wchar_t* buffer, DWORD capacity) {
    return GetLongPathNameW(path.c_str(), buffer, capacity);
  });
}

// Opened without following a reparse point in the last step and shared for
// reading only, so that nobody writes, renames or deletes the file while it
// is held.
talvor::UniqueFileHandle OpenLaunchFile(const std::wstring& path) {
  return talvor::UniqueFileHandle(
      CreateFileW(path.c_str(), GENERIC_READ | DELETE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                  FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

OpenedFileFacts FactsOf(HANDLE file, const std::wstring& path) {
  OpenedFileFacts facts;
  facts.file_type = GetFileType(file);
  BY_HANDLE_FILE_INFORMATION information = {};
  if (GetFileInformationByHandle(file, &information)) {
    facts.attributes = information.dwFileAttributes;
    facts.link_count = information.nNumberOfLinks;
    facts.size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) |
                 information.nFileSizeLow;
  } else {
    facts.file_type = FILE_TYPE_UNKNOWN;
  }
  facts.final_path = FinalPathOf(file);
  facts.expected_path = LongFormOf(path);
  return facts;
}

// The launch file at `path` opened and checked; empty when it does not open
// or fails a check.
talvor::UniqueFileHandle OpenAcceptableLaunchFile(const std::wstring& path) {
  if (!IsPendingTunLaunchFilePath(path)) return talvor::UniqueFileHandle();
  talvor::UniqueFileHandle file = OpenLaunchFile(path);
  if (!file) {
    talvor::log::Warning("pending", "refused: does not open, " + talvor::log::DescribeError(GetLastError()));
    return talvor::UniqueFileHandle();
  }
  const OpenedFileFacts facts = FactsOf(file.get(), path);
  if (!IsAcceptableLaunchFile(facts)) {
    talvor::log::Warning("pending", "refused: attributes " + std::to_string(facts.attributes) + ", type " +
                                        std::to_string(facts.file_type) + ", links " +
                                        std::to_string(facts.link_count) + ", " + std::to_string(facts.size) +
                                        " bytes, " + (facts.final_path.empty() ? "no" : "a") + " final path");
    return talvor::UniqueFileHandle();
  }
  return file;
}

// The whole content of a checked file; nothing when a read fails.
std::optional<std::string> ReadWhole(HANDLE file, std::uint64_t size, const FileReader& reader) {
  std::string bytes;
  try {
    bytes.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  constexpr DWORD kChunk = 1u << 20;
  size_t done = 0;
  while (done < bytes.size()) {
    const DWORD wanted = static_cast<DWORD>(std::min<size_t>(kChunk, bytes.size() - done));
    DWORD read = 0;
    if (!reader(file, bytes.data() + done, wanted, &read) || read == 0 || read > wanted) {
      return std::nullopt;
    }
    done += read;
  }
  return bytes;
}

// Marks the file for deletion when its last handle closes; the name it has
// then is the one checked, whatever happened to the path meanwhile.
void DeleteThrough(HANDLE file) {
  FILE_DISPOSITION_INFO disposition = {};
  disposition.DeleteFile = TRUE;
  SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition));
}

bool EntryExists(const std::wstring& path) {
  std::error_code error;
  const bool exists = std::filesystem::exists(std::filesystem::path(path), error);
  return exists && !error;
}

}  // namespace

std::wstring ExtractPendingTunLaunchPath(std::vector<std::string>* arguments) {
  if (arguments == nullptr) return std::wstring();
  const std::string prefix = kPendingTunLaunchArgumentPrefix;
  for (auto it = arguments->begin(); it != arguments->end(); ++it) {
    if (it->size() >= prefix.size() && it->compare(0, prefix.size(), prefix) == 0) {
      const std::string path = it->substr(prefix.size());
      arguments->erase(it);
      return WidenUtf8(path);
    }
  }
  return std::wstring();
}

std::wstring WritePendingTunLaunchFile(const std::string& payload, std::string* error_message) {
  wchar_t directory[MAX_PATH] = {};
  const DWORD directory_length = GetTempPathW(MAX_PATH, directory);
  if (directory_length == 0 || directory_length > MAX_PATH) {
    SetLastErrorMessage(error_message);
    return std::wstring();
  }
  wchar_t file_path[MAX_PATH] = {};
  if (GetTempFileNameW(directory, kPendingTunLaunchFilePrefix, 0, file_path) == 0) {
    SetLastErrorMessage(error_message);
    return std::wstring();
  }
  const std::wstring path = file_path;

  std::ofstream file(std::filesystem::path(path),
                     std::ios::out | std::ios::binary | std::ios::trunc);
  if (!file.is_open()) {
    SetMessage(error_message, kOpenFailedMessage);
    DeleteIgnoringErrors(path);
    return std::wstring();
  }
  file.write(payload.data(), static_cast<std::streamsize>(payload.size()));
  file.close();
  if (file.fail()) {
    SetMessage(error_message, kWriteFailedMessage);
    DeleteIgnoringErrors(path);
    return std::wstring();
  }
  return path;
}

bool IsPendingTunLaunchFilePath(const std::wstring& path) {
  if (!IsOnDriveLetter(path) || path.find(L':', 2) != std::wstring::npos) return false;
  if (!IsInFullPathForm(path)) return false;
  const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  const std::wstring prefix = kPendingTunLaunchFilePrefix;
  const std::wstring suffix = kPendingTunLaunchFileSuffix;
  return name.size() >= prefix.size() + suffix.size() && StartsWithIgnoringCase(name, prefix) &&
         EndsWithIgnoringCase(name, suffix);
}

bool IsAcceptableLaunchFile(const OpenedFileFacts& facts) {
  constexpr DWORD kNotRegular =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
  return facts.file_type == FILE_TYPE_DISK && (facts.attributes & kNotRegular) == 0 &&
         facts.link_count == 1 && facts.size <= kMaxPendingTunLaunchBytes &&
         !facts.final_path.empty() && EqualIgnoringCase(facts.final_path, facts.expected_path);
}

bool ReadFromFile(HANDLE file, void* buffer, DWORD size, DWORD* read) {
  return ReadFile(file, buffer, size, read, nullptr) != FALSE;
}

PendingTunLaunch::PendingTunLaunch(std::wstring path, FileReader reader)
    : path_(std::move(path)), reader_(std::move(reader)) {
  if (path_.empty()) return;
  talvor::log::Write(IsPendingTunLaunchFilePath(path_) ? talvor::log::Level::kInfo : talvor::log::Level::kWarning,
                     "pending", IsPendingTunLaunchFilePath(path_) ? "accepted: " + talvor::log::Text(path_)
                                                                  : std::string("refused: not a launch file's path"));
}

PendingTunLaunch::~PendingTunLaunch() {
  if (consumed_ || path_.empty()) return;
  talvor::UniqueFileHandle file = OpenAcceptableLaunchFile(path_);
  if (file) DeleteThrough(file.get());
  if (file) talvor::log::Info("pending", "never consumed: deleted at exit");
}

bool PendingTunLaunch::IsPresent() const {
  return !consumed_ && !path_.empty() && IsPendingTunLaunchFilePath(path_) && EntryExists(path_);
}

std::string PendingTunLaunch::Take() {
  const bool present = IsPresent();
  const std::wstring path = std::move(path_);
  path_.clear();
  consumed_ = true;
  if (!present) {
    if (!path.empty()) talvor::log::Warning("pending", "not consumed: nothing at its path");
    return std::string();
  }

  talvor::UniqueFileHandle file = OpenAcceptableLaunchFile(path);
  if (!file) return std::string();
  LARGE_INTEGER size = {};
  if (!GetFileSizeEx(file.get(), &size)) return std::string();
  std::optional<std::string> payload =
      ReadWhole(file.get(), static_cast<std::uint64_t>(size.QuadPart), reader_);
  // A read that broke off leaves the file rather than deleting a payload
  // that was never delivered.
  if (!payload) {
    talvor::log::Warning("pending", "not consumed: a read failed, the file stays");
    return std::string();
  }
  DeleteThrough(file.get());
  talvor::log::Info("pending", "consumed: " + std::to_string(payload->size()) + " bytes, file deleted");
  return std::move(*payload);
}
