#include "runner/process_user.h"

#include <sddl.h>
#include <wtsapi32.h>

#include "runner/library_search.h"
#include "runner/win32_handles.h"

namespace {

bool IsSid(std::vector<unsigned char>& sid) { return !sid.empty() && IsValidSid(sid.data()); }

}  // namespace

std::vector<unsigned char> TokenUserSid(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) return {};
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) return {};
  const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
  if (sid == nullptr || !IsValidSid(sid)) return {};
  const auto* first = static_cast<const unsigned char*>(sid);
  return std::vector<unsigned char>(first, first + GetLengthSid(sid));
}

std::vector<unsigned char> CurrentUserSid() {
  talvor::UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  return TokenUserSid(token.get());
}

namespace {

// One text of this session's, from the terminal services library, which is
// loaded only for this rare question (from the system folder).
std::wstring SessionText(HMODULE library, WTS_INFO_CLASS what) {
  using Query = BOOL(WINAPI*)(HANDLE, DWORD, WTS_INFO_CLASS, LPWSTR*, DWORD*);
  using Free = void(WINAPI*)(PVOID);
  const auto query = reinterpret_cast<Query>(
      reinterpret_cast<void*>(GetProcAddress(library, "WTSQuerySessionInformationW")));
  const auto free_memory =
      reinterpret_cast<Free>(reinterpret_cast<void*>(GetProcAddress(library, "WTSFreeMemory")));
  if (query == nullptr || free_memory == nullptr) return std::wstring();
  wchar_t* text = nullptr;
  DWORD size = 0;
  if (!query(WTS_CURRENT_SERVER_HANDLE, WTS_CURRENT_SESSION, what, &text, &size) || text == nullptr) {
    return std::wstring();
  }
  std::wstring copy = text;
  free_memory(text);
  return copy;
}

}  // namespace

std::vector<unsigned char> SessionUserSid() {
  const talvor::UniqueModule library = LoadSystemLibrary(L"wtsapi32.dll");
  if (!library) return {};
  const std::wstring user = SessionText(library.get(), WTSUserName);
  if (user.empty()) return {};
  const std::wstring domain = SessionText(library.get(), WTSDomainName);
  const std::wstring account = domain.empty() ? user : domain + L"\\" + user;
  DWORD sid_size = 0;
  DWORD domain_size = 0;
  SID_NAME_USE use = SidTypeUnknown;
  LookupAccountNameW(nullptr, account.c_str(), nullptr, &sid_size, nullptr, &domain_size, &use);
  if (sid_size == 0) return {};
  std::vector<unsigned char> sid(sid_size);
  std::wstring found_domain(domain_size + 1, L'\0');
  if (!LookupAccountNameW(nullptr, account.c_str(), sid.data(), &sid_size, found_domain.data(),
                          &domain_size, &use) ||
      !IsSid(sid)) {
    return {};
  }
  return sid;
}

std::wstring CurrentUserSidText() {
  std::vector<unsigned char> sid = CurrentUserSid();
  if (!IsSid(sid)) return std::wstring();
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid.data(), &text)) return std::wstring();
  const talvor::UniqueLocalMemory owner(text);
  return text;
}

namespace {

DWORD IntegrityLevelOf(HANDLE token) {
  DWORD size = 0;
  GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
  if (size < sizeof(TOKEN_MANDATORY_LABEL)) return 0;
  std::vector<unsigned char> buffer(size);
  if (!GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) return 0;
  const PSID label = reinterpret_cast<const TOKEN_MANDATORY_LABEL*>(buffer.data())->Label.Sid;
  if (label == nullptr || !IsValidSid(label) || *GetSidSubAuthorityCount(label) == 0) return 0;
  return *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1u);
}

bool IsInAppContainer(HANDLE token) {
  DWORD in_container = 1;
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenIsAppContainer, &in_container, sizeof(in_container), &size)) {
    return true;
  }
  return in_container != 0;
}

TokenFacts CurrentTokenFacts() {
  talvor::UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return TokenFacts();
  return ReadTokenFacts(token.get());
}

}  // namespace

TokenFacts ReadTokenFacts(HANDLE token) {
  TokenFacts facts;
  facts.user = TokenUserSid(token);
  facts.integrity_level = IntegrityLevelOf(token);
  facts.in_app_container = IsInAppContainer(token);
  return facts;
}

bool CountsAsOurs(const TokenFacts& ours, const TokenFacts& theirs) {
  std::vector<unsigned char> our_user = ours.user;
  std::vector<unsigned char> their_user = theirs.user;
  return IsSid(our_user) && IsSid(their_user) && EqualSid(our_user.data(), their_user.data()) &&
         theirs.integrity_level >= ours.integrity_level && !theirs.in_app_container;
}

bool ProcessCountsAsOurs(DWORD process_id) {
  // The limited right is granted across integrity levels: an elevated
  // instance of this user still counts as this user's.
  const talvor::UniqueKernelHandle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return false;
  talvor::UniqueKernelHandle token;
  if (!OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) return false;
  return CountsAsOurs(CurrentTokenFacts(), ReadTokenFacts(token.get()));
}

bool WindowCountsAsOurs(HWND window) {
  DWORD process_id = 0;
  if (GetWindowThreadProcessId(window, &process_id) == 0 || process_id == 0) return false;
  return ProcessCountsAsOurs(process_id);
}
