#include "runner/deep_link.h"

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool IsSchemeCharacter(char c) {
  return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '.' || c == '-';
}

}  // namespace

// Scanned by hand: the standard library's regular expressions recurse once
// per character and run out of stack on a scheme-like argument of a few
// thousand characters.
bool StartsWithUriScheme(const std::string& text) {
  if (text.empty() || !IsAsciiLetter(text[0])) return false;
  size_t end = 1;
  while (end < text.size() && IsSchemeCharacter(text[end])) ++end;
  return end >= 2 && end < text.size() && text[end] == ':';
}

bool IsDeepLinkInvocation(const std::vector<std::string>& arguments) {
  return arguments.size() == 1 && StartsWithUriScheme(arguments.front());
}
