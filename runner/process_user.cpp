#include "runner/process_user.h"

#include <sddl.h>

#include "runner/win32_handles.h"

namespace {

std::vector<unsigned char> CurrentUserSid() {
  talvor::UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  return TokenUserSid(token.get());
}

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

std::wstring CurrentUserSidText() {
  std::vector<unsigned char> sid = CurrentUserSid();
  if (!IsSid(sid)) return std::wstring();
  wchar_t* text = nullptr;
  if (!ConvertSidToStringSidW(sid.data(), &text)) return std::wstring();
  const talvor::UniqueLocalMemory owner(text);
  return text;
}

bool ProcessRunsAsThisUser(DWORD process_id) {
  // The limited right is granted across integrity levels: an elevated
  // instance of this user still counts as this user's.
  const talvor::UniqueKernelHandle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process) return false;
  talvor::UniqueKernelHandle token;
  if (!OpenProcessToken(process.get(), TOKEN_QUERY, token.put())) return false;
  std::vector<unsigned char> theirs = TokenUserSid(token.get());
  std::vector<unsigned char> ours = CurrentUserSid();
  return IsSid(theirs) && IsSid(ours) && EqualSid(theirs.data(), ours.data());
}

bool WindowRunsAsThisUser(HWND window) {
  DWORD process_id = 0;
  if (GetWindowThreadProcessId(window, &process_id) == 0 || process_id == 0) return false;
  return ProcessRunsAsThisUser(process_id);
}
