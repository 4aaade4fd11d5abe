#include "runner/deep_link_handoff.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <vector>

#include "runner/plugin_libraries.h"
#include "tests/support/running_instance_window.h"
#include "tests/support/wait.h"

namespace {

std::vector<HWND> g_links_sent_to;

}  // namespace

// The plugin library is not linked here: this records whom the link was for.
extern "C" void SendAppLink(HWND window) { g_links_sent_to.push_back(window); }

namespace {

using talvor::test::RunningInstanceWindow;

class HandOffTest : public testing::Test {
 protected:
  void SetUp() override { g_links_sent_to.clear(); }
};

TEST_F(HandOffTest, DeliversALinkToAMinimisedHiddenInstanceAndRestoresIt) {
  RunningInstanceWindow running;
  ASSERT_NE(running.get(), nullptr);
  ShowWindow(running.get(), SW_SHOWMINIMIZED);
  ShowWindow(running.get(), SW_HIDE);  // as when hidden to the tray

  EXPECT_TRUE(HandOffDeepLinkToRunningInstance({"talvor://x"}));
  EXPECT_EQ(g_links_sent_to, std::vector<HWND>{running.get()});
  EXPECT_TRUE(talvor::test::WaitUntil(
      [&] { return IsWindowVisible(running.get()) && !IsIconic(running.get()); }));
}

TEST_F(HandOffTest, KeepsAMaximisedInstanceMaximised) {
  RunningInstanceWindow running;
  ShowWindow(running.get(), SW_SHOWMAXIMIZED);
  EXPECT_TRUE(HandOffDeepLinkToRunningInstance({"talvor://connect"}));
  EXPECT_TRUE(IsZoomed(running.get()));
  EXPECT_TRUE(IsWindowVisible(running.get()));
}

TEST_F(HandOffTest, OnlyASingleLinkArgumentIsHandedOff) {
  RunningInstanceWindow running;
  ShowWindow(running.get(), SW_SHOWMINIMIZED);
  EXPECT_FALSE(HandOffDeepLinkToRunningInstance({}));
  EXPECT_FALSE(HandOffDeepLinkToRunningInstance({"talvor://x", "talvor://y"}));
  EXPECT_FALSE(HandOffDeepLinkToRunningInstance({"C:\\file.txt"}));
  EXPECT_TRUE(g_links_sent_to.empty());
  EXPECT_TRUE(IsIconic(running.get()));
}

TEST_F(HandOffTest, WithoutARunningInstanceTheStartGoesOn) {
  ASSERT_EQ(FindWindowW(kMainWindowClassName, kMainWindowTitle), nullptr);
  EXPECT_FALSE(HandOffDeepLinkToRunningInstance({"talvor://x"}));
  EXPECT_TRUE(g_links_sent_to.empty());
}

}  // namespace
