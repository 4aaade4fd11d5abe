#include "runner/elevation/pending_tun_launch.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include "runner/elevation/windows_error.h"
#include "runner/utils.h"

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

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  return path;
}

// File names and directories compare without regard to case, as the file
// system does.
bool EqualIgnoringCase(const std::wstring& left, const std::wstring& right) {
  return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                              static_cast<int>(right.size()), TRUE) == CSTR_EQUAL;
}

std::wstring TemporaryDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return std::wstring();
  return std::wstring(buffer, length);
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
  size_t name_start = path.size();
  while (name_start > 0 && !IsSeparator(path[name_start - 1])) --name_start;
  if (name_start == 0) return false;
  const std::wstring name = path.substr(name_start);
  const std::wstring directory = WithoutTrailingSeparators(path.substr(0, name_start));
  const std::wstring temporary = WithoutTrailingSeparators(TemporaryDirectory());
  if (temporary.empty() || !EqualIgnoringCase(directory, temporary)) return false;

  const std::wstring prefix = kPendingTunLaunchFilePrefix;
  const std::wstring suffix = kPendingTunLaunchFileSuffix;
  if (name.size() < prefix.size() + suffix.size()) return false;
  // A colon would name a stream of some file rather than the file itself.
  if (name.find(L':') != std::wstring::npos) return false;
  return EqualIgnoringCase(name.substr(0, prefix.size()), prefix) &&
         EqualIgnoringCase(name.substr(name.size() - suffix.size()), suffix);
}

bool IsPendingTunLaunchPresent(const std::wstring& path, bool consumed) {
  return !consumed && !path.empty() && IsPendingTunLaunchFilePath(path) && EntryExists(path);
}

std::string TakePendingTunLaunchPayload(std::wstring* path, bool* consumed) {
  const std::wstring file_path = *path;
  const bool present = IsPendingTunLaunchPresent(file_path, *consumed);
  // Consumption is final whatever its outcome.
  *consumed = true;
  path->clear();
  if (!present) return std::string();

  std::ifstream file(std::filesystem::path(file_path), std::ios::in | std::ios::binary);
  if (!file.is_open()) return std::string();
  std::string payload((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // A read that broke off leaves the file for another look rather than
  // deleting a payload that was never delivered.
  if (file.bad()) return std::string();
  file.close();
  DeleteIgnoringErrors(file_path);
  return payload;
}
