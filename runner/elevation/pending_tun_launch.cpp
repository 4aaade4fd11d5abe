#include "runner/elevation/pending_tun_launch.h"

#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <algorithm>
#include <cwchar>
#include <new>
#include <optional>
#include <random>
#include <utility>

#include "runner/elevation/windows_error.h"
#include "runner/local_paths.h"
#include "runner/log/log.h"
#include "runner/process_user.h"
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

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix) {
  return text.size() >= prefix.size() && SamePath(text.substr(0, prefix.size()), prefix);
}

bool EndsWithIgnoringCase(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() && SamePath(text.substr(text.size() - suffix.size()), suffix);
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

// The path with every short (8.3) component in its long form, as final paths
// come: temporary folders are often named in short form.
std::wstring LongFormOf(const std::wstring& path) {
  DWORD capacity = MAX_PATH;
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::wstring buffer(capacity, L'\0');
    const DWORD length = GetLongPathNameW(path.c_str(), buffer.data(), capacity);
    if (length == 0) return std::wstring();
    if (length < capacity) return buffer.substr(0, length);
    capacity = length + 1;
  }
  return std::wstring();
}

// Opened without following a reparse point in the last step and shared for
// reading only, so that nobody writes, renames or deletes the file while it
// is held.
talvor::UniqueFileHandle OpenLaunchFile(const std::wstring& path) {
  return talvor::UniqueFileHandle(CreateFileW(
      path.c_str(), GENERIC_READ | DELETE | READ_CONTROL, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

std::vector<unsigned char> OwnerOf(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                      nullptr, &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  const talvor::UniqueLocalMemory descriptor_owner(descriptor);
  if (owner == nullptr || !IsValidSid(owner)) return {};
  const auto* first = static_cast<const unsigned char*>(owner);
  return std::vector<unsigned char>(first, first + GetLengthSid(owner));
}

// This process's user, or the user signed in to this session: an elevated
// instance of another account (an administrator's password typed for the
// user) is handed files that the user wrote. The session's user is asked for
// only when the owner is someone else.
bool OwnedByAUserOfThisSession(HANDLE file) {
  std::vector<unsigned char> owner = OwnerOf(file);
  if (owner.empty()) return false;
  std::vector<unsigned char> process_user = CurrentUserSid();
  if (!process_user.empty() && EqualSid(owner.data(), process_user.data())) return true;
  std::vector<unsigned char> session_user = SessionUserSid();
  return !session_user.empty() && EqualSid(owner.data(), session_user.data());
}

OpenedFileFacts FactsOf(HANDLE file, const std::wstring& path) {
  OpenedFileFacts facts;
  facts.file_type = GetFileType(file);
  BY_HANDLE_FILE_INFORMATION information = {};
  if (GetFileInformationByHandle(file, &information)) {
    facts.attributes = information.dwFileAttributes;
    if (IsReparsePoint(file, path)) facts.attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
    facts.link_count = information.nNumberOfLinks;
    facts.size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) |
                 information.nFileSizeLow;
  } else {
    facts.file_type = FILE_TYPE_UNKNOWN;
  }
  facts.final_path = FinalPathOf(file);
  facts.expected_path = LongFormOf(path);
  facts.owned_by_a_user_of_this_session = OwnedByAUserOfThisSession(file);
  return facts;
}

// The folders of a launch path, held, when the path may be touched at all: a
// launch file's name on a fixed local drive, reached through no reparse
// point. A share or a link into the object namespace would have the elevated
// process sign in to another machine before any check of the file could run.
std::optional<HeldFolders> HoldLaunchFolders(const std::wstring& path) {
  if (!IsPendingTunLaunchFilePath(path) || !IsOnFixedLocalDrive(path)) return std::nullopt;
  return HeldFolders::Open(path);
}

// The launch file at `path` opened and checked; empty when it does not open
// or fails a check.
talvor::UniqueFileHandle OpenAcceptableLaunchFile(const std::wstring& path) {
  const std::optional<HeldFolders> folders = HoldLaunchFolders(path);
  if (!folders) {
    talvor::log::Warning("pending", "refused: not on a fixed local drive, or a reparse point on its way");
    return talvor::UniqueFileHandle();
  }
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
                                        " bytes, " + (facts.final_path.empty() ? "no" : "a") + " final path, " +
                                        (facts.owned_by_a_user_of_this_session ? "" : "not ") +
                                        "owned by a user of this session");
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
  const std::optional<HeldFolders> folders = HoldLaunchFolders(path);
  return folders && GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::wstring LaunchFileSecurity(const std::wstring& user_sid) {
  return L"D:P(A;;FA;;;" + user_sid + L")(A;;FA;;;SY)(A;;FA;;;BA)S:(ML;;NWNR;;;ME)";
}

// A name no file has had yet is made by CREATE_NEW; a clash only costs
// another try.
std::wstring RandomLaunchFileName() {
  static std::random_device random;
  wchar_t hex[9] = {};
  std::swprintf(hex, 9, L"%08X", static_cast<unsigned int>(random()));
  return std::wstring(kPendingTunLaunchFilePrefix) + hex + kPendingTunLaunchFileSuffix;
}

struct CreatedFile {
  talvor::UniqueFileHandle handle;
  std::wstring path;
  DWORD error = ERROR_SUCCESS;
};

CreatedFile CreateLaunchFile(const std::wstring& directory, PSECURITY_DESCRIPTOR security,
                             const NewFileCreator& create) {
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = security;
  CreatedFile created;
  constexpr int kAttempts = 64;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    created.path = directory + RandomLaunchFileName();
    created.handle.reset(create(created.path, &attributes));
    if (created.handle) return created;
    created.error = GetLastError();
    if (created.error != ERROR_FILE_EXISTS && created.error != ERROR_ALREADY_EXISTS) break;
  }
  created.path.clear();
  return created;
}

bool WriteAll(HANDLE file, const std::string& bytes) {
  constexpr size_t kChunk = 1u << 20;
  for (size_t done = 0; done < bytes.size();) {
    const DWORD wanted = static_cast<DWORD>(std::min(kChunk, bytes.size() - done));
    DWORD written = 0;
    if (!WriteFile(file, bytes.data() + done, wanted, &written, nullptr) || written != wanted) {
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

std::wstring ExtractPendingTunLaunchPath(std::vector<std::string>* arguments,
                                        bool process_elevated) {
  if (arguments == nullptr) return std::wstring();
  const std::string prefix = kPendingTunLaunchArgumentPrefix;
  const bool alone = arguments->size() == 1;
  std::wstring path;
  for (auto it = arguments->begin(); it != arguments->end();) {
    if (it->compare(0, prefix.size(), prefix) != 0) {
      ++it;
      continue;
    }
    if (alone && process_elevated) path = WidenUtf8(it->substr(prefix.size()));
    it = arguments->erase(it);
  }
  return path;
}

HANDLE CreateNewFileForWriting(const std::wstring& path, SECURITY_ATTRIBUTES* security) {
  return CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, 0, security, CREATE_NEW,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::wstring WritePendingTunLaunchFile(const std::string& payload, std::string* error_message,
                                       const NewFileCreator& create) {
  wchar_t directory[MAX_PATH] = {};
  const DWORD directory_length = GetTempPathW(MAX_PATH, directory);
  if (directory_length == 0 || directory_length > MAX_PATH) {
    SetLastErrorMessage(error_message);
    return std::wstring();
  }

  // Never the folder's inherited permissions: without the user's own
  // descriptor no file is written.
  const std::wstring user_sid = CurrentUserSidText();
  PSECURITY_DESCRIPTOR security = nullptr;
  if (user_sid.empty() || !ConvertStringSecurityDescriptorToSecurityDescriptorW(
                              LaunchFileSecurity(user_sid).c_str(), SDDL_REVISION_1,
                              &security, nullptr)) {
    SetMessage(error_message, kOpenFailedMessage);
    return std::wstring();
  }
  const talvor::UniqueLocalMemory security_owner(security);

  CreatedFile file = CreateLaunchFile(directory, security, create);
  if (!file.handle) {
    SetMessage(error_message, file.error == ERROR_SUCCESS
                                  ? std::string(kOpenFailedMessage)
                                  : NarrowUtf8(FormatWindowsError(file.error)));
    return std::wstring();
  }
  if (!WriteAll(file.handle.get(), payload) || !FlushFileBuffers(file.handle.get())) {
    SetMessage(error_message, kWriteFailedMessage);
    DeleteThrough(file.handle.get());
    return std::wstring();
  }
  return file.path;
}

bool IsPendingTunLaunchFilePath(const std::wstring& path) {
  if (!IsDriveLetterPath(path) || path.find(L':', 2) != std::wstring::npos) return false;
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
         IsPendingTunLaunchFilePath(facts.final_path) &&
         SamePath(facts.final_path, facts.expected_path) && facts.owned_by_a_user_of_this_session;
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
