#include "runner/startup/deep_link_handoff.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "runner/plugin_libraries.h"
#include "runner/process_user.h"
#include "runner/win32_handles.h"
#include "tests/support/running_instance_window.h"
#include "tests/support/wait.h"

namespace {

std::mutex g_links_mutex;
std::vector<HWND> g_links_sent_to;

std::vector<HWND> LinksSentTo() {
  std::lock_guard<std::mutex> lock(g_links_mutex);
  return g_links_sent_to;
}

}  // namespace

// The plugin library is not linked here: this records whom the link was for.
extern "C" void SendAppLink(HWND window) {
  std::lock_guard<std::mutex> lock(g_links_mutex);
  g_links_sent_to.push_back(window);
}

namespace {

using namespace std::chrono_literals;
using talvor::test::RunningInstanceWindow;

// A marker of a name of its own per test, so that no program of the session
// takes part.
std::wstring TestMarkerName() {
  return L"Local\\talvor-test-startup-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(GetTickCount64());
}

HandOffOptions Options(std::chrono::milliseconds startup_wait = 10s) {
  HandOffOptions options = HandOffOptions::System();
  options.startup_wait = startup_wait;
  return options;
}

class HandOffTest : public testing::Test {
 protected:
  void SetUp() override {
    std::lock_guard<std::mutex> lock(g_links_mutex);
    g_links_sent_to.clear();
  }

  bool HandOff(const std::vector<std::string>& arguments, const HandOffOptions& options = Options()) {
    StartupMarker marker = StartupMarker::Claim(marker_name_);
    return HandOffToRunningInstance(arguments, marker, options);
  }

  std::wstring marker_name_ = TestMarkerName();
};

TEST_F(HandOffTest, DeliversALinkToAMinimisedHiddenInstanceAndRestoresIt) {
  RunningInstanceWindow running;
  ASSERT_NE(running.get(), nullptr);
  ShowWindow(running.get(), SW_SHOWMINIMIZED);
  ShowWindow(running.get(), SW_HIDE);  // as when hidden to the tray

  EXPECT_TRUE(HandOff({"talvor://x"}));
  EXPECT_EQ(LinksSentTo(), std::vector<HWND>{running.get()});
  // The window comes forward itself, asked by its message.
  EXPECT_TRUE(talvor::test::WaitUntil(
      [&] { return IsWindowVisible(running.get()) && !IsIconic(running.get()); }));
  EXPECT_EQ(running.activations(), 1);
}

// A second start of the program (a double click on the shortcut while the
// window hides in the tray) brings the running window forward instead of
// opening a second copy.
TEST_F(HandOffTest, AStartWithoutArgumentsAsksTheRunningInstanceToComeForward) {
  RunningInstanceWindow running;
  ShowWindow(running.get(), SW_HIDE);
  EXPECT_TRUE(HandOff({}));
  EXPECT_TRUE(LinksSentTo().empty());
  EXPECT_TRUE(talvor::test::WaitUntil([&] { return running.activations() == 1; }));
  EXPECT_TRUE(IsWindowVisible(running.get()));
}

TEST_F(HandOffTest, StartsWithOtherArgumentsAreNoHandOff) {
  RunningInstanceWindow running;
  ShowWindow(running.get(), SW_SHOWMINIMIZED);
  EXPECT_FALSE(HandOff({"talvor://x", "talvor://y"}));
  EXPECT_FALSE(HandOff({"C:\\file.txt"}));
  EXPECT_FALSE(HandOff({"--talvor-pending-tun-launch=C:\\t\\tlp1.tmp"}));
  EXPECT_FALSE(talvor::test::WaitUntil([&] { return running.activations() > 0; }, 200ms));
  EXPECT_TRUE(LinksSentTo().empty());
  EXPECT_TRUE(IsIconic(running.get()));
}

// A window of the right class and title that is not ours, above ours in the
// z-order, must not hide ours.
TEST_F(HandOffTest, AWindowThatIsNotOursDoesNotHideOurs) {
  RunningInstanceWindow ours;
  RunningInstanceWindow squatter;
  ASSERT_EQ(FindWindowW(kMainWindowClassName, kMainWindowTitle), squatter.get());
  HandOffOptions options = Options();
  options.counts_as_ours = [&](HWND window) { return window == ours.get(); };
  EXPECT_TRUE(HandOff({"talvor://x"}, options));
  EXPECT_EQ(LinksSentTo(), std::vector<HWND>{ours.get()});
  EXPECT_TRUE(talvor::test::WaitUntil([&] { return ours.activations() == 1; }));
  EXPECT_EQ(squatter.activations(), 0);
}

TEST_F(HandOffTest, WithoutARunningInstanceTheStartGoesOn) {
  ASSERT_EQ(FindWindowW(kMainWindowClassName, kMainWindowTitle), nullptr);
  EXPECT_FALSE(HandOff({"talvor://x"}));
  EXPECT_TRUE(LinksSentTo().empty());
}

// A window of the right class and title whose process is not ours (another
// user, lower integrity, a sandbox) is no running instance: the link does
// not go there.
TEST_F(HandOffTest, AWindowOfAnotherUserIsNoRunningInstance) {
  RunningInstanceWindow foreign;
  ShowWindow(foreign.get(), SW_SHOWMINIMIZED);
  HandOffOptions options = Options();
  std::vector<HWND> asked_about;
  options.counts_as_ours = [&](HWND window) {
    asked_about.push_back(window);
    return false;
  };
  EXPECT_FALSE(HandOff({"talvor://x"}, options));
  EXPECT_EQ(asked_about, std::vector<HWND>{foreign.get()});
  EXPECT_TRUE(LinksSentTo().empty());
  EXPECT_TRUE(IsIconic(foreign.get()));
}

TEST(WindowCountsAsOurs, IsTrueForWindowsOfThisProcessOnlyWhileTheyExist) {
  std::optional<RunningInstanceWindow> own(std::in_place);
  const HWND gone = own->get();
  EXPECT_TRUE(WindowCountsAsOurs(gone));
  own.reset();
  EXPECT_FALSE(WindowCountsAsOurs(gone));
  EXPECT_FALSE(WindowCountsAsOurs(nullptr));
  EXPECT_FALSE(ProcessCountsAsOurs(0));
}

std::vector<unsigned char> SidFromText(const wchar_t* text) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidW(text, &sid)) return {};
  const auto* first = static_cast<const unsigned char*>(sid);
  std::vector<unsigned char> bytes(first, first + GetLengthSid(sid));
  LocalFree(sid);
  return bytes;
}

TEST(CountsAsOurs, TheSameUserAtOurIntegrityOrAboveOutsideAnyContainer) {
  const std::vector<unsigned char> user = SidFromText(L"S-1-5-21-1004336348-1177238915-682003330-1001");
  const std::vector<unsigned char> other = SidFromText(L"S-1-5-21-1004336348-1177238915-682003330-1002");
  const std::vector<unsigned char> system = SidFromText(L"S-1-5-18");
  ASSERT_FALSE(user.empty());
  const TokenFacts ours{user, 0x2000, false};  // medium
  struct Case {
    const char* what;
    TokenFacts theirs;
    bool counts;
  } cases[] = {
      {"same user, same level", {user, 0x2000, false}, true},
      {"same user, elevated", {user, 0x3000, false}, true},
      {"same user, low integrity", {user, 0x1000, false}, false},
      {"same user, untrusted", {user, 0, false}, false},
      {"same user in an AppContainer", {user, 0x2000, true}, false},
      {"another user of the same machine", {other, 0x2000, false}, false},
      {"the system", {system, 0x4000, false}, false},
      {"a user that cannot be told", {{}, 0x2000, false}, false},
  };
  for (const Case& c : cases) EXPECT_EQ(CountsAsOurs(ours, c.theirs), c.counts) << c.what;
  EXPECT_FALSE(CountsAsOurs(TokenFacts{{}, 0x2000, false}, TokenFacts{user, 0x2000, false}))
      << "without our own user nothing counts";
}

// Another instance is starting up: it owns the marker from its first moment
// until its window takes links. Here this thread plays that instance and a
// second thread the link start.
class StartingInstanceTest : public HandOffTest {
 protected:
  void SetUp() override {
    HandOffTest::SetUp();
    starting_ = StartupMarker::Claim(marker_name_);
    ASSERT_TRUE(starting_.owned());
  }

  void TearDown() override {
    starting_.Release();
    if (link_start_.joinable()) link_start_.join();
  }

  // Starts the link start; its outcome is in handed_off_ once done_.
  void StartLinkStart(const std::vector<std::string>& arguments,
                      std::chrono::milliseconds startup_wait) {
    link_start_ = std::thread([this, arguments, startup_wait] {
      StartupMarker marker = StartupMarker::Claim(marker_name_);
      marker_owned_at_claim_ = marker.owned();
      const auto start = std::chrono::steady_clock::now();
      HandOffOptions options = Options(startup_wait);
      if (find_startup_box_) options.find_startup_box = find_startup_box_;
      handed_off_ = HandOffToRunningInstance(arguments, marker, options);
      took_ = std::chrono::steady_clock::now() - start;
      owns_after_ = marker.owned();
      done_ = true;
    });
  }

  // Waits, answering this thread's window messages, for the link start.
  bool WaitForLinkStart() {
    const bool finished = talvor::test::WaitUntil([&] { return done_.load(); }, 30s);
    if (finished) link_start_.join();
    return finished;
  }

  std::function<HWND()> find_startup_box_;
  StartupMarker starting_;
  std::thread link_start_;
  std::atomic<bool> done_{false};
  std::atomic<bool> marker_owned_at_claim_{true};
  std::atomic<bool> handed_off_{false};
  std::atomic<bool> owns_after_{false};
  std::chrono::steady_clock::duration took_{};
};

// The starting instance's window exists before it can take links: the link
// start waits until the instance lets go of the marker.
TEST_F(StartingInstanceTest, ALinkStartWaitsUntilTheWindowTakesLinksAndHandsItsLinkOver) {
  RunningInstanceWindow window;
  StartLinkStart({"talvor://second"}, 10s);
  EXPECT_FALSE(talvor::test::WaitUntil([&] { return done_.load(); }, 300ms));
  EXPECT_TRUE(LinksSentTo().empty());

  starting_.Release();  // the window takes links now
  ASSERT_TRUE(WaitForLinkStart());
  EXPECT_FALSE(marker_owned_at_claim_);
  EXPECT_TRUE(handed_off_);
  EXPECT_EQ(LinksSentTo(), std::vector<HWND>{window.get()});
}

TEST_F(StartingInstanceTest, AnInstanceEndingWithoutAWindowLetsTheLinkStartGoOn) {
  StartLinkStart({"talvor://second"}, 20s);
  EXPECT_FALSE(talvor::test::WaitUntil([&] { return done_.load(); }, 300ms));
  starting_.Release();  // as an instance that failed to start does when it ends
  ASSERT_TRUE(WaitForLinkStart());
  EXPECT_FALSE(handed_off_);
  EXPECT_TRUE(owns_after_) << "the link start is the instance starting up now";
  EXPECT_LT(took_, 10s);
  EXPECT_TRUE(LinksSentTo().empty());
}

TEST_F(StartingInstanceTest, AnInstanceThatNeverShowsAWindowIsWaitedForTheBoundGiven) {
  StartLinkStart({"talvor://second"}, 500ms);
  ASSERT_TRUE(WaitForLinkStart());
  EXPECT_FALSE(handed_off_);
  EXPECT_GE(took_, 500ms);
  EXPECT_LT(took_, 5s) << "the bound given was not the one kept";
  EXPECT_TRUE(LinksSentTo().empty());
}

// A double click twice: the second start waits for the first as a link
// start does, then brings its window forward.
TEST_F(StartingInstanceTest, AStartWithoutArgumentsWaitsForTheWindowAndBringsItForward) {
  RunningInstanceWindow window;
  StartLinkStart({}, 10s);
  EXPECT_FALSE(talvor::test::WaitUntil([&] { return done_.load(); }, 300ms));
  starting_.Release();
  ASSERT_TRUE(WaitForLinkStart());
  EXPECT_TRUE(handed_off_);
  EXPECT_TRUE(LinksSentTo().empty());
  EXPECT_TRUE(talvor::test::WaitUntil([&] { return window.activations() == 1; }));
}

// The first start shows a start-up box (the tunnel driver missing) and holds
// the marker until it is answered: a second start without arguments brings
// that box forward and ends, rather than open a second copy behind it. A
// link start keeps waiting: its link must reach a window.
TEST_F(StartingInstanceTest, AStartWithoutArgumentsBringsTheStartingInstancesBoxForward) {
  const talvor::UniqueWindow box(CreateWindowExW(0, L"STATIC", L"Talvor VPN - Warning", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                                 100, 100, 300, 150, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(box);
  std::atomic<bool> box_up{false};
  find_startup_box_ = [&] { return box_up ? box.get() : nullptr; };
  StartLinkStart({}, 20s);
  EXPECT_FALSE(talvor::test::WaitUntil([&] { return done_.load(); }, 300ms));
  box_up = true;
  ASSERT_TRUE(WaitForLinkStart());
  EXPECT_TRUE(handed_off_);
  EXPECT_LT(took_, 5s);
  EXPECT_EQ(GetForegroundWindow(), box.get());

  done_ = false;
  StartLinkStart({"talvor://x"}, 500ms);
  ASSERT_TRUE(WaitForLinkStart());
  EXPECT_GE(took_, 500ms) << "a link start does not stop at the box";
  EXPECT_FALSE(handed_off_);
}

TEST_F(StartingInstanceTest, StartsWithOtherArgumentsNeverWait) {
  StartLinkStart({"talvor://a", "talvor://b"}, 20s);
  ASSERT_TRUE(WaitForLinkStart());
  EXPECT_FALSE(handed_off_);
  EXPECT_LT(took_, 10s);
}

// Whoever made an object of the marker's name first, with rights that shut
// this user out, can only make the link start go on as if there were none.
TEST(StartupMarker, AnObjectOfThatNameThatCannotBeOpenedIsNoMarker) {
  const std::wstring name = TestMarkerName();
  PSECURITY_DESCRIPTOR nobody = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P", SDDL_REVISION_1,
                                                                   &nobody, nullptr));
  const talvor::UniqueLocalMemory nobody_owner(nobody);
  SECURITY_ATTRIBUTES attributes = {sizeof(attributes), nobody, FALSE};
  const talvor::UniqueKernelHandle squatter(CreateMutexW(&attributes, TRUE, name.c_str()));
  ASSERT_TRUE(squatter);

  StartupMarker marker = StartupMarker::Claim(name);
  EXPECT_FALSE(marker.owned());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(marker.WaitForOwnership(20s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

// An instance killed while starting up leaves its marker abandoned: the
// next start takes it over instead of waiting for a window that never comes.
TEST(StartupMarker, AMarkerWhoseOwnerEndedWithoutLettingGoIsTakenOver) {
  const std::wstring name = TestMarkerName();
  talvor::UniqueKernelHandle abandoned;
  std::thread([&] { abandoned.reset(CreateMutexW(nullptr, TRUE, name.c_str())); }).join();
  ASSERT_TRUE(abandoned);

  StartupMarker marker = StartupMarker::Claim(name);
  EXPECT_FALSE(marker.owned());
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(marker.WaitForOwnership(20s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_TRUE(marker.owned());
}

}  // namespace
