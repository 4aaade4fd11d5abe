// What makes an argument a deep link: the start-up hands such a start over,
// and the log tells a link by its scheme only.
#ifndef TALVOR_RUNNER_DEEP_LINK_H_
#define TALVOR_RUNNER_DEEP_LINK_H_

#include <string>
#include <vector>

// Whether `text` starts with a URI scheme of two or more characters and a
// colon: an ASCII letter, then letters, digits, "+", "." or "-", without
// regard to case.
bool StartsWithUriScheme(const std::string& text);

// True when the arguments (program name excluded) are exactly one argument
// that starts with a URI scheme.
bool IsDeepLinkInvocation(const std::vector<std::string>& arguments);

#endif  // TALVOR_RUNNER_DEEP_LINK_H_
