// The rendezvous of the stand-in host program (standin_host.exe).
#ifndef TALVOR_TESTS_STANDINS_STANDIN_HOST_H_
#define TALVOR_TESTS_STANDINS_STANDIN_HOST_H_

namespace talvor::test {

inline constexpr wchar_t kStandinHostClass[] = L"TALVOR_STANDIN_HOST_WINDOW";
inline constexpr wchar_t kStandinHostTitle[] = L"Stand-in host";
// Set in a host's environment: it hands its arguments over instead of serving.
inline constexpr wchar_t kStandinHostSendVariable[] = L"TALVOR_STANDIN_HOST_SEND";

}  // namespace talvor::test

#endif  // TALVOR_TESTS_STANDINS_STANDIN_HOST_H_
