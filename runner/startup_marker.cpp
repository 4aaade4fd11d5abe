#include "runner/startup_marker.h"

#include <windows.h>
#include <sddl.h>

#include <utility>

#include "runner/process_user.h"

namespace {

constexpr DWORD kMarkerAccess = SYNCHRONIZE | MUTEX_MODIFY_STATE;

// Only this user may open the mark, at medium integrity too: an elevated
// instance's mark stays visible to the link starts of the same user, which
// run unelevated.
std::wstring MarkerSecurity(const std::wstring& user_sid) {
  return L"D:P(A;;GA;;;" + user_sid + L")S:(ML;;NW;;;ME)";
}

struct Created {
  talvor::UniqueKernelHandle mutex;
  DWORD error = ERROR_SUCCESS;  // ERROR_ALREADY_EXISTS: opened, not owned
};

Created CreateMarker(const std::wstring& name, PSECURITY_DESCRIPTOR security) {
  SECURITY_ATTRIBUTES attributes = {};
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = security;
  Created created;
  created.mutex.reset(CreateMutexExW(security != nullptr ? &attributes : nullptr, name.c_str(),
                                     CREATE_MUTEX_INITIAL_OWNER, kMarkerAccess));
  created.error = GetLastError();
  return created;
}

}  // namespace

StartupMarker StartupMarker::Claim() {
  const std::wstring name = StartupMarkerName();
  return name.empty() ? StartupMarker() : Claim(name);
}

StartupMarker StartupMarker::Claim(const std::wstring& name) {
  StartupMarker marker;
  PSECURITY_DESCRIPTOR security = nullptr;
  const std::wstring user_sid = CurrentUserSidText();
  if (!user_sid.empty()) {
    ConvertStringSecurityDescriptorToSecurityDescriptorW(MarkerSecurity(user_sid).c_str(),
                                                         SDDL_REVISION_1, &security, nullptr);
  }
  const talvor::UniqueLocalMemory security_owner(security);
  Created created = CreateMarker(name, security);
  if (!created.mutex && created.error != ERROR_ACCESS_DENIED && security != nullptr) {
    // A system that refuses the label still gets a mark.
    created = CreateMarker(name, nullptr);
  }
  marker.owned_ = created.mutex && created.error != ERROR_ALREADY_EXISTS;
  marker.mutex_ = std::move(created.mutex);
  return marker;
}

StartupMarker::StartupMarker(StartupMarker&& other) noexcept
    : mutex_(std::move(other.mutex_)), owned_(std::exchange(other.owned_, false)) {}

StartupMarker& StartupMarker::operator=(StartupMarker&& other) noexcept {
  if (this != &other) {
    Release();
    mutex_ = std::move(other.mutex_);
    owned_ = std::exchange(other.owned_, false);
  }
  return *this;
}

bool StartupMarker::WaitForOwnership(std::chrono::milliseconds timeout) {
  if (owned_) return true;
  if (!mutex_) return false;
  const DWORD result = WaitForSingleObject(mutex_.get(), static_cast<DWORD>(timeout.count()));
  owned_ = result == WAIT_OBJECT_0 || result == WAIT_ABANDONED;
  return owned_;
}

void StartupMarker::Release() {
  if (owned_) ReleaseMutex(mutex_.get());
  owned_ = false;
  mutex_.reset();
}

std::wstring StartupMarkerName() {
  const std::wstring user_sid = CurrentUserSidText();
  return user_sid.empty() ? std::wstring() : L"Local\\TalvorVPN.Startup." + user_sid;
}
