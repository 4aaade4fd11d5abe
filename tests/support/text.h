// Text conversions for tests, written independently of the program's own so
// that they can serve as expected values.
#ifndef TALVOR_TESTS_SUPPORT_TEXT_H_
#define TALVOR_TESTS_SUPPORT_TEXT_H_

#include <string>
#include <string_view>

namespace talvor::test {

// UTF-8 of UTF-16 text (wchar_t holds UTF-16 on Windows, where tests use
// wide text). An unpaired surrogate becomes U+FFFD, as Windows' own
// conversion writes it; embedded zeros are kept.
std::string Utf8(std::u16string_view text);
#ifdef _WIN32
std::string Utf8(std::wstring_view text);
#endif

}  // namespace talvor::test

#endif  // TALVOR_TESTS_SUPPORT_TEXT_H_
