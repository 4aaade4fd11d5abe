// The app links hand-off between two processes: a second host started with a
// link hands it to the running host's window, whose plugin passes it to the
// application.
#include <gtest/gtest.h>

#include <algorithm>

#include "standins/plugins/app_links_protocol.h"
#include "tests/standins/standin_host.h"
#include "tests/support/app_connection.h"
#include "tests/support/child_process.h"

namespace talvor::test {
namespace {

std::wstring HostPath() { return TestExecutableDirectory() + L"\\standin_host.exe"; }

// A host that calls SendAppLink with these command-line arguments.
std::optional<ChildProcess> StartSender(const std::vector<std::wstring>& arguments) {
  SetEnvironmentVariableW(kStandinHostSendVariable, L"1");
  std::optional<ChildProcess> sender = ChildProcess::Start(HostPath(), arguments);
  SetEnvironmentVariableW(kStandinHostSendVariable, nullptr);
  return sender;
}

LRESULT SendCopyData(HWND window, ULONG_PTR tag, const std::string& bytes) {
  std::vector<char> data(bytes.begin(), bytes.end());
  COPYDATASTRUCT copy{tag, static_cast<DWORD>(data.size()), data.empty() ? nullptr : data.data()};
  DWORD_PTR result = 0;
  SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&copy), SMTO_ABORTIFHUNG, 10000, &result);
  return static_cast<LRESULT>(result);
}

class AppLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    host_ = ChildProcess::Start(HostPath(), {});
    ASSERT_TRUE(host_);
    ASSERT_TRUE(connection_.WaitForNewProcess());
    ASSERT_TRUE(connection_.WaitForEvent(AppEventKind::kFirstFrame)) << connection_.Describe();
    ASSERT_TRUE(WaitUntil([&] { return (window_ = FindWindowW(kStandinHostClass, kStandinHostTitle)) != nullptr; }));
  }

  AppConnection connection_;
  std::optional<ChildProcess> host_;
  HWND window_ = nullptr;
};

TEST_F(AppLinksTest, ASecondProcessHandsItsLinkToTheRunningApplication) {
  const std::string link = "talvor://connect?server=a%20b&name=\xD0\xA2";  // a non-ASCII letter too
  std::optional<ChildProcess> sender = StartSender({L"talvor://connect?server=a%20b&name=\u0422"});
  ASSERT_TRUE(sender);
  EXPECT_EQ(sender->WaitForExit(), 0u);
  const std::optional<AppEvent> received = connection_.WaitForEvent(AppEventKind::kDeepLink);
  ASSERT_TRUE(received) << connection_.Describe();
  EXPECT_EQ(received->text, link);
  EXPECT_EQ(received->process_id, host_->id());
  // The plugin passed it to the application as a message of the program.
  const std::vector<AppEvent> events = connection_.Events();
  EXPECT_TRUE(std::any_of(events.begin(), events.end(), [](const AppEvent& event) {
    return event.kind == AppEventKind::kOutgoing && event.channel == standins::kAppLinksChannel;
  }));
}

TEST_F(AppLinksTest, OnlyWellFormedTaggedDataIsTakenForALink) {
  using standins::kAppLinkCopyDataTag;
  EXPECT_EQ(SendCopyData(window_, kAppLinkCopyDataTag, std::string("no-terminator")), FALSE);
  EXPECT_EQ(SendCopyData(window_, kAppLinkCopyDataTag, std::string("a\0b", 4)), FALSE);  // NUL inside
  EXPECT_EQ(SendCopyData(window_, kAppLinkCopyDataTag, std::string(1, '\0')), FALSE);    // empty link
  EXPECT_EQ(SendCopyData(window_, kAppLinkCopyDataTag,
                         std::string(standins::kMaxAppLinkBytes + 1, 'x') + std::string(1, '\0')),
            FALSE);
  EXPECT_EQ(SendCopyData(window_, kAppLinkCopyDataTag + 1, std::string("talvor://other", 15)), FALSE);
  EXPECT_EQ(SendCopyData(window_, kAppLinkCopyDataTag, std::string("talvor://ok", 12)), TRUE);

  const std::optional<AppEvent> received = connection_.WaitForEvent(AppEventKind::kDeepLink);
  ASSERT_TRUE(received);
  EXPECT_EQ(received->text, "talvor://ok") << "none of the malformed data came through first";
}

TEST_F(AppLinksTest, WithoutExactlyOneArgumentNothingIsHandedOver) {
  for (const std::vector<std::wstring>& arguments :
       {std::vector<std::wstring>{}, std::vector<std::wstring>{L"talvor://a", L"talvor://b"}}) {
    std::optional<ChildProcess> sender = StartSender(arguments);
    ASSERT_TRUE(sender);
    EXPECT_EQ(sender->WaitForExit(), 0u);
  }
  EXPECT_EQ(SendCopyData(window_, standins::kAppLinkCopyDataTag, std::string("talvor://last", 14)), TRUE);
  const std::optional<AppEvent> received = connection_.WaitForEvent(AppEventKind::kDeepLink);
  ASSERT_TRUE(received);
  EXPECT_EQ(received->text, "talvor://last");
}

}  // namespace
}  // namespace talvor::test
