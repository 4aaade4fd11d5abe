#include "runner/user_mutex.h"

#include <sddl.h>

#include "runner/process_user.h"

namespace {

constexpr DWORD kMutexAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

std::wstring UserMutexSecurity(const std::wstring& user_sid) {
  return L"D:P(A;;GA;;;" + user_sid + L")S:(ML;;NW;;;ME)";
}

UserMutex Create(const std::wstring& name, bool initially_owned, PSECURITY_DESCRIPTOR security) {
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), security, FALSE};
  UserMutex created;
  created.handle.reset(CreateMutexExW(security != nullptr ? &attributes : nullptr, name.c_str(),
                                      initially_owned ? CREATE_MUTEX_INITIAL_OWNER : 0, kMutexAccess));
  created.error = GetLastError();
  return created;
}

}  // namespace

UserMutex CreateUserMutex(const std::wstring& name, bool initially_owned) {
  PSECURITY_DESCRIPTOR security = nullptr;
  const std::wstring user_sid = CurrentUserSidText();
  if (!user_sid.empty()) {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(UserMutexSecurity(user_sid).c_str(),
                                                         SDDL_REVISION_1, &security, nullptr);
  }
  const talvor::UniqueLocalMemory security_owner(security);
  UserMutex created = Create(name, initially_owned, security);
  if (!created.handle && created.error != ERROR_ACCESS_DENIED && security != nullptr) {
    created = Create(name, initially_owned, nullptr);
  }
  return created;
}
