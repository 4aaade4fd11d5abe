#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/deep_link.h"

namespace {

bool IsLink(const std::string& argument) { return IsDeepLinkInvocation({argument}); }

TEST(IsDeepLinkInvocation, OneArgumentStartingWithASchemeOfTwoOrMoreCharacters) {
  EXPECT_TRUE(IsLink("talvor://connect"));
  EXPECT_TRUE(IsLink("TALVOR:x"));
  EXPECT_TRUE(IsLink("ab:"));
  EXPECT_TRUE(IsLink("x-y.z+w:rest"));
  EXPECT_TRUE(IsLink("https://example.org/a b"));
}

TEST(IsDeepLinkInvocation, RejectsWhatIsNotASchemeAtTheStart) {
  EXPECT_FALSE(IsLink("a:"));
  EXPECT_FALSE(IsLink("C:\\Users\\x"));
  EXPECT_FALSE(IsLink("1ab:"));
  EXPECT_FALSE(IsLink(" talvor://x"));
  EXPECT_FALSE(IsLink("--talvor-pending-tun-launch=C:\\t\\p.json"));
  EXPECT_FALSE(IsLink("talvor"));
  EXPECT_FALSE(IsLink("tal_vor:x"));
  EXPECT_FALSE(IsLink(""));
}

TEST(IsDeepLinkInvocation, NeedsExactlyOneArgument) {
  EXPECT_FALSE(IsDeepLinkInvocation({}));
  EXPECT_FALSE(IsDeepLinkInvocation({"talvor://x", "talvor://y"}));
  EXPECT_FALSE(IsDeepLinkInvocation({"talvor://x", "--flag"}));
}

// A command line can hold up to 32767 characters, all of them scheme-like.
TEST(IsDeepLinkInvocation, CopesWithTheLongestCommandLine) {
  EXPECT_TRUE(IsLink(std::string(32000, 'a') + ":"));
  EXPECT_FALSE(IsLink(std::string(32000, 'a')));
}

}  // namespace
