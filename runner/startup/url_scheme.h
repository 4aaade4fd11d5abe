// The per-user "talvor" URL scheme.
#ifndef TALVOR_RUNNER_STARTUP_URL_SCHEME_H_
#define TALVOR_RUNNER_STARTUP_URL_SCHEME_H_

#include <string>
#include <thread>

// Points the "talvor" scheme of the current user at `executable_path`. When
// the four values already hold exactly what would be written, nothing is
// written and the shell is not told; otherwise all four are written over
// whatever was registered before. Failures are silent: the values that could
// be written stay, and the shell is told only when all were.
void RegisterUrlScheme(const std::wstring& executable_path);

// RegisterUrlScheme on a thread of its own, so that the start-up goes on
// meanwhile; Finish, or the destructor, waits until it is done. Nothing is
// thrown out of it, and nothing is done for an empty path. When no thread can
// be started, the registration is made at once on the caller's thread.
class UrlSchemeRegistration {
 public:
  explicit UrlSchemeRegistration(const std::wstring& executable_path) noexcept;
  ~UrlSchemeRegistration() { Finish(); }
  UrlSchemeRegistration(const UrlSchemeRegistration&) = delete;
  UrlSchemeRegistration& operator=(const UrlSchemeRegistration&) = delete;

  void Finish() noexcept;

 private:
  std::thread worker_;
};

#endif  // TALVOR_RUNNER_STARTUP_URL_SCHEME_H_
