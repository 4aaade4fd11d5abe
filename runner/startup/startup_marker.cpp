#include "runner/startup/startup_marker.h"

#include <windows.h>

#include <utility>

#include "runner/process_user.h"
#include "runner/user_mutex.h"

StartupMarker StartupMarker::Claim() {
  const std::wstring name = StartupMarkerName();
  return name.empty() ? StartupMarker() : Claim(name);
}

StartupMarker StartupMarker::Claim(const std::wstring& name) {
  StartupMarker marker;
  UserMutex created = CreateUserMutex(name, true);
  marker.owned_ = created.handle && created.error != ERROR_ALREADY_EXISTS;
  marker.mutex_ = std::move(created.handle);
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
