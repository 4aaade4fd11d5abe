// The per-user "talvor" URL scheme and the test for a start that only
// delivers a link.
#ifndef TALVOR_RUNNER_URL_SCHEME_H_
#define TALVOR_RUNNER_URL_SCHEME_H_

#include <string>
#include <vector>

// Points the "talvor" scheme of the current user at `executable_path`,
// rewriting whatever was registered before. Failures are silent: the values
// that could be written stay, and the shell is told only when all were.
void RegisterUrlScheme(const std::wstring& executable_path);

// True when the arguments (program name excluded) are exactly one argument
// that starts with a URI scheme of two or more characters and a colon.
bool IsDeepLinkInvocation(const std::vector<std::string>& arguments);

#endif  // TALVOR_RUNNER_URL_SCHEME_H_
